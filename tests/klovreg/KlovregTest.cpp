// klovreg as the program runs it: command lines, exit codes, messages and files.
#include "support/RegTestSupport.h"

#include "core/registry/Registry.h"
#include "klovreg/KlovregCommand.h"
#include "support/TempFolders.h"
#include "support/WineTestPrefix.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace klv;
using namespace klv::test;
namespace fs = std::filesystem;

namespace {

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class KlovregTest : public ::testing::Test {
protected:
    TempFolders folders;
    fs::path work = folders.root() / "work";

    KlovregTest() {
        fs::create_directories(work);
        unsetenv("KLOVANTE_PLATFORM");
    }
    ~KlovregTest() override { unsetenv("KLOVANTE_PLATFORM"); }

    struct Run {
        int code = -1;
        std::string out, err;
    };
    // Runs klovreg in the work folder with a shell-quoted argument text, no display, and
    // `input` as its standard input.
    Run klovreg(const std::string& args, const std::string& input = "",
                const std::string& program = KLOVREG_PATH) {
        const std::string cmd = "cd " + quote(work.string()) + " && printf '%s' " + quote(input) +
                                " | env -u DISPLAY -u WAYLAND_DISPLAY " + quote(program) + " " +
                                args + " >" + quote((folders.root() / "out").string()) + " 2>" +
                                quote((folders.root() / "err").string());
        const int status = std::system(cmd.c_str());
        Run r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = read(folders.root() / "out");
        r.err = read(folders.root() / "err");
        return r;
    }
    std::shared_ptr<Store> store() { return Store::open(folders.storeFile()); }
    fs::path writeFile(const std::string& name, const std::string& bytes) {
        const fs::path p = work / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
};

TEST_F(KlovregTest, HelpAndCommandLinesItDoesNotUnderstand) {
    const Run help = klovreg("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("使い方"), std::string::npos);
    EXPECT_EQ(klovreg("/?").code, 0);
    for (const char* bad :
         {"", "/E", "/e a b c", "/S", "/X file.reg", "EXPORT", "EXPORT a b c /nt4"}) {
        const Run r = klovreg(bad);
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_NE(r.err.find("klovreg: "), std::string::npos) << bad;
        EXPECT_NE(r.err.find("使い方"), std::string::npos) << bad;
    }
}

TEST_F(KlovregTest, ExportFormFollowsThePlatformFamilyAndTheNt4Switch) {
    const std::string key = quote("HKEY_CURRENT_USER\\Software\\Klovante");
    Run r = klovreg("/E nt.reg " + key);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(read(work / "nt.reg").substr(0, 2 + 72),
              utf16File("Windows Registry Editor Version 5.00"));
    EXPECT_NE(read(work / "nt.reg")
                  .find(le("[HKEY_CURRENT_USER\\Software\\Klovante\\Quimbo Registry Editor]")),
              std::string::npos);

    r = klovreg("EXPORT " + key + " nt4.reg /nt4");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "この操作を正しく終了しました。\n");
    EXPECT_EQ(read(work / "nt4.reg").substr(0, 10), "REGEDIT4\r\n");

    r = klovreg("export all4.reg /NT4");
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string all4 = read(work / "all4.reg");
    EXPECT_NE(all4.find("\r\n[HKEY_CLASSES_ROOT]\r\n"), std::string::npos);
    EXPECT_NE(all4.find("\r\n[HKEY_CURRENT_CONFIG]\r\n"), std::string::npos);
    EXPECT_EQ(all4.find("HKEY_DYN_DATA"), std::string::npos);

    setenv("KLOVANTE_PLATFORM", "95", 1);
    r = klovreg("/e all95.reg");
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string all95 = read(work / "all95.reg");
    EXPECT_EQ(all95.substr(0, 10), "REGEDIT4\r\n");
    EXPECT_NE(all95.find("\r\n[HKEY_DYN_DATA\\PerfStats\\StatData]\r\n"), std::string::npos);
}

TEST_F(KlovregTest, ExportFailuresLeaveNoFile) {
    Run r = klovreg("/E missing.reg " + quote("HKEY_CURRENT_USER\\No\\Such\\Key"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("指定されたキーが見つかりません: HKEY_CURRENT_USER\\No\\Such\\Key"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(work / "missing.reg"));
    r = klovreg("/E " + quote((work / "nofolder" / "x.reg").string()));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("書き込めません"), std::string::npos) << r.err;
    r = klovreg("/E " + quote("Q:\\x.reg"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Q:"), std::string::npos) << r.err;
}

TEST_F(KlovregTest, SilentImportAppliesOrReportsAndChangesNothing) {
    writeFile("good.reg",
              cp932File("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Imported\\表]\r\n\"v\"=dword:2a\r\n"));
    writeFile("bad.reg",
              cp932File("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Half]\r\n\"v\"=dword:x\r\n"));
    Run r = klovreg("/S good.reg");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    r = klovreg("/s bad.reg");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("bad.reg（4 行目）: dword:"), std::string::npos) << r.err;
    auto s = store();
    const auto k = keyAt(*s, HKCU, "Imported\\表");
    ASSERT_TRUE(k);
    EXPECT_EQ(valueAt(*s, *k, "v")->data, std::string("\x2A\0\0\0", 4));
    EXPECT_FALSE(keyAt(*s, HKCU, "Half"));
}

TEST_F(KlovregTest, OpeningAFileAsksFirstAndReportsTheResult) {
    writeFile("a.reg", cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\Asked]\r\n"));
    writeFile("b.reg", cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\Broken\r\n"));
    Run r = klovreg("a.reg", "n\n");
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("a.reg の情報をレジストリに追加しますか？"), std::string::npos) << r.err;
    EXPECT_FALSE(keyAt(*store(), HKCU, "Asked"));
    r = klovreg("a.reg");
    EXPECT_EQ(r.code, 4) << "no answer is no";
    r = klovreg("a.reg", "y\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("a.reg の情報は正常にレジストリに入力されました。"), std::string::npos)
        << r.err;
    EXPECT_TRUE(keyAt(*store(), HKCU, "Asked"));
    r = klovreg("b.reg", "yes\n");
    EXPECT_EQ(r.code, 5);
    EXPECT_NE(r.err.find("b.reg を取り込めません。"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("（2 行目）"), std::string::npos) << r.err;
    EXPECT_FALSE(keyAt(*store(), HKCU, "Broken"));
}

// The seeded registry holds HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum read only: a
// file that writes into it imports everything else and names the key with its line.
TEST_F(KlovregTest, KeysThatMayNotBeWrittenAreNamedAndTheRestImported) {
    writeFile("part.reg", cp932File("REGEDIT4\r\n\r\n"
                                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum]\r\n"
                                    "\"Added\"=\"x\"\r\n\r\n"
                                    "[HKEY_CURRENT_USER\\Around]\r\n\"v\"=\"1\"\r\n"));
    Run r = klovreg("/S part.reg");
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.err.find("part.reg: HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum（4 "
                         "行目）: このキーへの書き込みは許可されていません"),
              std::string::npos)
        << r.err;
    auto s = store();
    EXPECT_TRUE(keyAt(*s, HKCU, "Around"));
    const auto e = keyAt(*s, HKLM, "SYSTEM\\CurrentControlSet\\Enum");
    ASSERT_TRUE(e);
    EXPECT_FALSE(valueAt(*s, *e, "Added"));

    // Asked first, the result says the same.
    r = klovreg("part.reg", "y\n");
    EXPECT_EQ(r.code, 6);
    EXPECT_NE(r.err.find("part.reg の情報の一部はレジストリに入力できませんでした。"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Enum（4 行目）"), std::string::npos) << r.err;

    // A whole export of the registry imports again; only what goes into the read-only key
    // is refused.
    ASSERT_EQ(klovreg("/E all.reg").code, 0);
    r = klovreg("/S all.reg");
    EXPECT_TRUE(r.code == 0 || r.code == 6) << r.err;
    std::size_t start = 0;
    for (std::size_t end; (end = r.err.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_NE(r.err.substr(start, end - start).find("CurrentControlSet\\Enum"),
                  std::string::npos)
            << r.err;
}

TEST_F(KlovregTest, UndoBackupAndRestoreWithWindowsStylePaths) {
    // The delete-key undo: " /E \"<exe folder>Undo\<stamp>.reg\" \"<key>\"", later " /S ...".
    fs::create_directories(folders.home() / "UNDO");
    const std::string undoFile = folders.home().string() + "/Undo\\20240102030405.reg";
    const std::string key = "HKEY_CURRENT_USER\\Software\\サンプル";
    Run r = klovreg("/E " + quote(undoFile) + " " + quote(key));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(folders.home() / "UNDO" / "20240102030405.reg"));
    {
        auto s = store();
        TRegistry reg(s);
        reg.RootKey(HKEY_CURRENT_USER_H);
        ASSERT_TRUE(reg.DeleteKey(sj("\\Software\\サンプル")));
    }
    const auto before = dumpStore(*store(), 6);
    r = klovreg("/S " + quote(undoFile));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(keyAt(*store(), HKCU, "Software\\サンプル\\表計算ソフト\\設定"));
    EXPECT_NE(dumpStore(*store(), 6), before);

    // A drive path through the drive map, folders found without regard to case.
    fs::create_directories(folders.root() / "drive_c" / "work");
    fs::create_directories(folders.windir() / "dosdevices");
    fs::create_symlink(folders.root() / "drive_c", folders.windir() / "dosdevices" / "c:");
    r = klovreg("/E " + quote("C:\\Work\\backup.reg") + " " +
                quote("HKEY_CURRENT_USER\\Environment"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(folders.root() / "drive_c" / "work" / "backup.reg"));
}

TEST_F(KlovregTest, ExportsThatCannotBeExactSayWhat) {
    {
        auto s = store();
        const KeyId k = s->createChild(Store::rootId(HKCU), StoredName{"Wide", false});
        s->setValue(k,
                    RawValue{StoredName{le("Café"), true}, REG_DWORD, std::string(4, '\0'), false});
    }
    Run r = klovreg("EXPORT HKEY_CURRENT_USER\\\\Wide w4.reg /nt4");
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("HKEY_CURRENT_USER\\Wide : Caf〓 - 値の名前をこの形式では書けない"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(fs::exists(work / "w4.reg"));
    r = klovreg("/E w5.reg HKEY_CURRENT_USER\\\\Wide");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(read(work / "w5.reg").find(le("\"Café\"=dword:00000000")), std::string::npos);
}

TEST_F(KlovregTest, ALinkInAFolderWithARegistryUsesThatRegistry) {
    const fs::path other = folders.root() / "other";
    {
        auto s = Store::open(other / "SYSTEM.DAT");
        s->createChild(Store::rootId(HKCU), StoredName{"OnlyThere", false});
    }
    fs::create_symlink(KLOVREG_PATH, other / "REGEDIT.EXE");
    const std::string program = (other / "REGEDIT.EXE").string();
    unsetenv("KLOVANTE_WINDIR");
    const Run r = klovreg("/E x.reg HKEY_CURRENT_USER\\\\OnlyThere", "", program);
    setenv("KLOVANTE_WINDIR", folders.windir().c_str(), 1);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(folders.storeFile()));
}

// --- Wine prefixes ----------------------------------------------------------------------------

class KlovregWineTest : public KlovregTest {
protected:
    fs::path prefix = folders.root() / "prefix";
    KlovregWineTest() {
        writeMinimalPrefix(prefix);
        setenv("KLOVANTE_WINE_SERVER_ROOT", (folders.root() / "servers").c_str(), 1);
    }
    ~KlovregWineTest() override { unsetenv("KLOVANTE_WINE_SERVER_ROOT"); }
    std::string onPrefix(const std::string& args) {
        return "--wine-prefix " + quote(prefix.string()) + " " + args;
    }
    std::string file(const char* name) { return fileBytes(prefix / name); }
};

TEST_F(KlovregWineTest, AnImportGoesToTheFileOfItsRootAndTheOthersKeepTheirBytes) {
    const std::string system = file("system.reg");
    const std::string userdef = file("userdef.reg");
    writeFile("hkcu.reg", cp932File("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Imported]\r\n"
                                    "\"v\"=dword:2a\r\n"));
    Run r = klovreg(onPrefix("/S hkcu.reg"));
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string user = file("user.reg");
    EXPECT_NE(user.find("[Software\\\\Imported]"), std::string::npos) << user;
    EXPECT_NE(user.find("\"v\"=dword:0000002a"), std::string::npos) << user;
    EXPECT_NE(user.find("\"Desktop\"=\"Default\""), std::string::npos) << user;
    EXPECT_EQ(file("system.reg"), system);
    EXPECT_EQ(file("userdef.reg"), userdef);
    // The installation's own registry is not touched.
    EXPECT_FALSE(fs::exists(folders.storeFile()));

    writeFile("hklm.reg", cp932File("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Machine]\r\n"
                                    "\"m\"=\"表\"\r\n"));
    r = klovreg(onPrefix("/S hklm.reg"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(file("system.reg").find("[Software\\\\Machine]"), std::string::npos);
    EXPECT_NE(file("system.reg").find("\"Version\"=\"win10\""), std::string::npos);
    EXPECT_EQ(file("user.reg"), user);
    EXPECT_EQ(file("userdef.reg"), userdef);

    // An export on the prefix reads its registry and writes nothing back.
    r = klovreg(onPrefix("/E out.reg " + quote("HKEY_CURRENT_USER\\Software\\Imported")));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(read(work / "out.reg").find(le("\"v\"=dword:0000002a")), std::string::npos);
    EXPECT_EQ(file("user.reg"), user);
}

TEST_F(KlovregWineTest, WhileWineRunsTheChangeWaitsInTheStoreForWriteBack) {
    const std::string user = file("user.reg");
    writeFile("hkcu.reg", cp932File("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Later]\r\n"));
    FakeWineServer server(folders.root() / "servers", prefix);
    Run r = klovreg(onPrefix("/S hkcu.reg"));
    EXPECT_EQ(r.code, kKlovregWineRunning);
    EXPECT_NE(r.err.find("wineserver"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--write-back"), std::string::npos) << r.err;
    EXPECT_EQ(file("user.reg"), user);
    r = klovreg(onPrefix("--write-back"));
    EXPECT_EQ(r.code, kKlovregWineRunning);
    EXPECT_EQ(file("user.reg"), user);

    server.stop();
    r = klovreg(onPrefix("--write-back"));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "user.reg を書き戻しました。\n");
    EXPECT_NE(file("user.reg").find("[Software\\\\Later]"), std::string::npos);
    r = klovreg(onPrefix("--WRITE-BACK"));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "書き戻す変更はありません。\n");
}

// A klovreg that the program starts on the prefix's folders (REGEDIT.EXE) changes the store
// only: the program writes back at its save points.
TEST_F(KlovregWineTest, WithoutTheOptionTheFilesStayAsTheyAre) {
    ASSERT_EQ(klovreg(onPrefix("--write-back")).code, 0); // makes the prefix's folders
    const std::string user = file("user.reg");
    const fs::path home = wine::WinePrefix::homeFor(prefix, folders.home());
    writeFile("hkcu.reg", cp932File("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Child]\r\n"));
    setenv("KLOVANTE_HOME", home.c_str(), 1);
    setenv("KLOVANTE_WINDIR", (home / "WINDOWS").c_str(), 1);
    const Run child = klovreg("/S hkcu.reg");
    setenv("KLOVANTE_HOME", folders.home().c_str(), 1);
    setenv("KLOVANTE_WINDIR", folders.windir().c_str(), 1);
    ASSERT_EQ(child.code, 0) << child.err;
    EXPECT_EQ(file("user.reg"), user);
    const Run r = klovreg(onPrefix("--write-back"));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(file("user.reg").find("[Software\\\\Child]"), std::string::npos);
}

TEST_F(KlovregWineTest, WrongPrefixesAndCommandLines) {
    for (const char* bad : {"--wine-prefix", "--write-back"}) {
        const Run r = klovreg(bad);
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_NE(r.err.find("使い方"), std::string::npos) << bad;
    }
    EXPECT_EQ(klovreg(onPrefix("")).code, 2);
    EXPECT_EQ(klovreg(onPrefix("--write-back x")).code, 2);
    EXPECT_EQ(klovreg(onPrefix("--help")).code, 0);
    EXPECT_NE(klovreg("--help").out.find("--wine-prefix"), std::string::npos);

    const fs::path empty = folders.root() / "empty";
    fs::create_directories(empty);
    Run r = klovreg("--wine-prefix " + quote(empty.string()) + " --write-back");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(empty.string() +
                         " は Wine のプレフィックスではありません（system.reg がありません）"),
              std::string::npos)
        << r.err;
    const fs::path made = folders.home() / "WINE";
    EXPECT_TRUE(!fs::exists(made) || fs::is_empty(made));

    // A file Wine cannot have written is refused and nothing is made from it.
    std::ofstream(prefix / "user.reg", std::ios::binary) << "not a registry\n";
    r = klovreg(onPrefix("--write-back"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("user.reg"), std::string::npos) << r.err;
}

} // namespace
