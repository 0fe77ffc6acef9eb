// A Wine prefix opened into its own store: the views Wine gives, edits written back to the
// right file only, and every refusal leaving the prefix's files as they were.
#include "core/wine/WinePrefix.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryError.h"
#include "core/registry/RootKeys.h"
#include "support/TempFolders.h"
#include "support/WineTestPrefix.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace klv::wine {
namespace {
namespace fs = std::filesystem;

const char* const kSystemReg = R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Classes\\.txt] 1700000000
#time=1da1747c67fd687
@="txtfile"
"Content Type"="text/plain"

[Software\\Wine] 1700000100
#time=1da1748021aa087
#class="WineClass"
"Accent"="caf\xe9 \x101"
"Version"="win10"

[System\\ControlSet001\\Hardware Profiles\\0001\\Software\\Fonts] 1700000200
#time=1da17483db56a87
"LogPixels"=dword:00000060

[System\\ControlSet001\\Hardware Profiles\\Current] 1700000300
#time=1da174879503487
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,\
  00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,79,00,73,00,\
  74,00,65,00,6d,00,5c,00,43,00,75,00,72,00,72,00,65,00,6e,00,74,00,43,00,6f,\
  00,6e,00,74,00,72,00,6f,00,6c,00,53,00,65,00,74,00,5c,00,48,00,61,00,72,00,\
  64,00,77,00,61,00,72,00,65,00,20,00,50,00,72,00,6f,00,66,00,69,00,6c,00,65,\
  00,73,00,5c,00,30,00,30,00,30,00,31,00

[System\\CurrentControlSet] 1700000400
#time=1da1748b4eafe87
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,\
  00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,79,00,73,00,\
  74,00,65,00,6d,00,5c,00,43,00,6f,00,6e,00,74,00,72,00,6f,00,6c,00,53,00,65,\
  00,74,00,30,00,30,00,31,00
)";

const char* const kUserReg = R"(WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Control Panel\\Desktop] 1700001000
#time=1da174a1a8bba87
"FontSmoothing"="2"
"UserPreferencesMask"=hex:9e,1e,07,80,12,00,00,00

[Software\\Wine\\Explorer] 1700001100
#time=1da174a56268487
"Desktop"="Default"
)";

const char* const kUserDefReg = R"(WINE REGISTRY Version 2
;; All keys relative to \\User\\.Default

#arch=win64

[Control Panel\\International] 1700002000
#time=1da174c6e979e87
"Locale"="00000411"
)";

class WinePrefixTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix = folders.root() / "prefix";
        fs::create_directories(prefix / "drive_c");
        fs::create_directories(prefix / "dosdevices");
        fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
        put("system.reg", kSystemReg);
        put("user.reg", kUserReg);
        put("userdef.reg", kUserDefReg);
        ::setenv("KLOVANTE_WINE_SERVER_ROOT", (folders.root() / "wineserver").c_str(), 1);
    }
    void TearDown() override {
        stopServer();
        Store::resetShared();
        ::unsetenv("KLOVANTE_WINE_SERVER_ROOT");
    }

    void put(const std::string& name, std::string_view text) {
        std::ofstream(prefix / name, std::ios::binary) << text;
    }
    std::string bytes(const std::string& name) {
        return readFileBytes(prefix / name).value_or("<missing>");
    }
    std::unique_ptr<WinePrefix> openPrefix() {
        auto p = std::make_unique<WinePrefix>(prefix, folders.home());
        p->open();
        return p;
    }
    std::unique_ptr<TRegistry> reg(WinePrefix& p, RootHandle root) {
        auto r = std::make_unique<TRegistry>(p.store());
        r->RootKey(root);
        return r;
    }

    // A wineserver as other processes see it: a child holding the lock of the server folder.
    void startServer() { startServer(wineServerFolder(prefix)); }
    void startServer(const fs::path& folder) { server.emplace(folder); }
    void stopServer() { server.reset(); }

    test::TempFolders folders;
    fs::path prefix;
    std::optional<test::FakeWineServer> server;
};

TEST_F(WinePrefixTest, ShowsThePrefixAsWineDoes) {
    auto p = openPrefix();
    auto hklm = reg(*p, HKEY_LOCAL_MACHINE_H);
    ASSERT_TRUE(hklm->OpenKey("Software\\Wine", false));
    EXPECT_EQ(hklm->ReadText("Version"), "win10");
    // é has a CP932 form that does not come back as é: the text is kept as UTF-16 and listed
    // with "〓" for it and for ā.
    const auto accent = hklm->ReadRaw("Accent");
    ASSERT_TRUE(accent);
    EXPECT_TRUE(accent->dataWide);

    auto hkcr = reg(*p, HKEY_CLASSES_ROOT_H);
    ASSERT_TRUE(hkcr->OpenKey(".txt", false));
    EXPECT_EQ(hkcr->ReadText(""), "txtfile");

    auto hkcu = reg(*p, HKEY_CURRENT_USER_H);
    ASSERT_TRUE(hkcu->OpenKey("Software\\Wine\\Explorer", false));
    EXPECT_EQ(hkcu->ReadText("Desktop"), "Default");
    auto hku = reg(*p, HKEY_USERS_H);
    std::vector<std::string> users;
    ASSERT_TRUE(hku->OpenKeyForReading(""));
    hku->ListSubKeys(users);
    EXPECT_EQ(users, (std::vector<std::string>{".Default", "S-1-5-21-0-0-0-1000"}));
    ASSERT_TRUE(hku->OpenKey("\\.Default\\Control Panel\\International", false));
    EXPECT_EQ(hku->ReadText("Locale"), "00000411");

    // Two links: CurrentControlSet, then the current hardware profile.
    auto hkcc = reg(*p, HKEY_CURRENT_CONFIG_H);
    ASSERT_TRUE(hkcc->OpenKey("Software\\Fonts", false));
    EXPECT_EQ(hkcc->ReadDword("LogPixels"), 0x60u);

    // The views are the same keys: a write through one is seen through the other.
    ASSERT_TRUE(hkcu->OpenKey("\\Software\\Klovante", true));
    hkcu->WriteString("Seen", "yes");
    ASSERT_TRUE(hku->OpenKey("\\S-1-5-21-0-0-0-1000\\Software\\Klovante", false));
    EXPECT_EQ(hku->ReadText("Seen"), "yes");
    // Key times are the files' own.
    ASSERT_TRUE(
        hklm->OpenKey("\\System\\ControlSet001\\Hardware Profiles\\0001\\Software\\Fonts", false));
    KeyInfo info;
    ASSERT_TRUE(hklm->QueryKeyInfo(info));
    EXPECT_EQ(info.lastWrite, 0x1da17483db56a87ULL);
    // HKEY_USERS itself belongs to no file: nothing can be made there.
    EXPECT_FALSE(hku->OpenKey("\\Stray", true));
    // The prefix's drives are this registry's drives.
    EXPECT_TRUE(fs::equivalent(p->systemFolder() / "dosdevices" / "c:", prefix / "drive_c"));
}

TEST_F(WinePrefixTest, UnchangedRegistryWritesNothingAndDumpsTheSameBytes) {
    auto p = openPrefix();
    EXPECT_TRUE(p->changedFiles().empty());
    EXPECT_TRUE(p->writeBack().empty());
    EXPECT_EQ(bytes("system.reg"), kSystemReg);
    EXPECT_EQ(dumpWineTree(*p->store(), Store::rootId(2), u"\\Machine", "win64").write(),
              kSystemReg);
    EXPECT_FALSE(fs::exists(p->backupFolder()));
    // A second process opening the same prefix reads nothing again and sees the same.
    auto again = openPrefix();
    EXPECT_TRUE(again->changedFiles().empty());
}

TEST_F(WinePrefixTest, EditsAreWrittenToTheirOwnFileWithABackupFirst) {
    auto p = openPrefix();
    {
        auto hkcu = reg(*p, HKEY_CURRENT_USER_H);
        ASSERT_TRUE(hkcu->OpenKey("Control Panel\\Desktop", false));
        hkcu->WriteString("FontSmoothing", "0");
    }
    EXPECT_EQ(p->changedFiles(), std::vector<std::string>{"user.reg"});
    EXPECT_EQ(p->writeBack(), std::vector<std::string>{"user.reg"});
    EXPECT_EQ(bytes("system.reg"), kSystemReg);
    EXPECT_EQ(bytes("userdef.reg"), kUserDefReg);
    const std::string user = bytes("user.reg");
    EXPECT_NE(user.find("\"FontSmoothing\"=\"0\"\n"), std::string::npos);
    EXPECT_NE(user.find("\"UserPreferencesMask\"=hex:9e,1e,07,80,12,00,00,00\n"),
              std::string::npos);
    // The edited key's time moved; the other key's did not.
    EXPECT_EQ(user.find("[Control Panel\\\\Desktop] 1700001000"), std::string::npos);
    EXPECT_NE(user.find("[Software\\\\Wine\\\\Explorer] 1700001100\n#time=1da174a56268487\n"),
              std::string::npos);
    // One backup, of the file as it was, per file and opening.
    std::vector<fs::path> backups;
    for (const auto& e : fs::directory_iterator(p->backupFolder()))
        backups.push_back(e.path());
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(backups[0].filename().string().starts_with("user.reg."));
    EXPECT_EQ(readFileBytes(backups[0]), std::string(kUserReg));
    {
        auto hkcu = reg(*p, HKEY_CURRENT_USER_H);
        ASSERT_TRUE(hkcu->OpenKey("Control Panel\\Desktop", false));
        hkcu->DeleteValue("FontSmoothing");
    }
    EXPECT_EQ(p->writeBack(), std::vector<std::string>{"user.reg"});
    EXPECT_EQ(std::distance(fs::directory_iterator(p->backupFolder()), fs::directory_iterator()),
              1);
    EXPECT_EQ(bytes("user.reg").find("FontSmoothing"), std::string::npos);

    // What was written reads back the same, link and class marks included.
    {
        auto hklm = reg(*p, HKEY_LOCAL_MACHINE_H);
        ASSERT_TRUE(hklm->OpenKey("Software\\Wine", false));
        hklm->WriteInteger("Edited", 1);
    }
    EXPECT_EQ(p->writeBack(), std::vector<std::string>{"system.reg"});
    const auto system = WineRegFile::parse(bytes("system.reg"));
    EXPECT_NE(bytes("system.reg").find("#class=\"WineClass\"\n\"Accent\"=\"caf\\xe9 \\x101\"\n"),
              std::string::npos);
    EXPECT_NE(bytes("system.reg")
                  .find("[System\\\\CurrentControlSet] 1700000400\n#time="
                        "1da1748b4eafe87\n#link\n"),
              std::string::npos);
    EXPECT_EQ(system.keyCount(), WineRegFile::parse(kSystemReg).keyCount());
}

TEST_F(WinePrefixTest, ChangesOfAnotherConnectionAreFoundAndWritten) {
    auto p = openPrefix();
    EXPECT_TRUE(p->changedFiles().empty());
    {
        // klovreg or a second window: its own connection to the prefix's store.
        TRegistry other(Store::open(p->store()->file()));
        other.RootKey(HKEY_USERS_H);
        ASSERT_TRUE(other.OpenKey(".Default\\Control Panel\\International", false));
        other.WriteString("sShortDate", "yyyy/MM/dd");
    }
    EXPECT_EQ(p->changedFiles(), std::vector<std::string>{"userdef.reg"});
    EXPECT_EQ(p->writeBack(), std::vector<std::string>{"userdef.reg"});
    EXPECT_NE(bytes("userdef.reg").find("\"sShortDate\"=\"yyyy/MM/dd\""), std::string::npos);
    EXPECT_TRUE(p->changedFiles().empty());
    EXPECT_TRUE(p->writeBack().empty());
}

TEST_F(WinePrefixTest, AFileThatIsALinkStaysALinkAndItsBackupKeepsTheOldBytes) {
    fs::create_directories(prefix / "real");
    fs::rename(prefix / "user.reg", prefix / "real" / "user.reg");
    fs::create_symlink("real/user.reg", prefix / "user.reg");
    auto p = openPrefix();
    {
        auto hkcu = reg(*p, HKEY_CURRENT_USER_H);
        ASSERT_TRUE(hkcu->OpenKey("Software\\Wine\\Explorer", false));
        hkcu->WriteString("Desktop", "Linked");
    }
    EXPECT_EQ(p->writeBack(), std::vector<std::string>{"user.reg"});
    EXPECT_TRUE(fs::is_symlink(prefix / "user.reg"));
    EXPECT_NE(readFileBytes(prefix / "real" / "user.reg")->find("\"Desktop\"=\"Linked\""),
              std::string::npos);
    const auto backup = fs::directory_iterator(p->backupFolder())->path();
    EXPECT_EQ(readFileBytes(backup), std::string(kUserReg));
    EXPECT_FALSE(fs::is_symlink(backup));
}

TEST_F(WinePrefixTest, WritingWaitsForTheWineserverToEnd) {
    auto p = openPrefix();
    {
        auto hklm = reg(*p, HKEY_LOCAL_MACHINE_H);
        ASSERT_TRUE(hklm->OpenKey("Software\\Wine", false));
        hklm->WriteString("Version", "win7");
    }
    startServer();
    EXPECT_TRUE(wineServerRunning(prefix));
    EXPECT_THROW(p->writeBack(), WineServerRunningError);
    EXPECT_EQ(bytes("system.reg"), kSystemReg);
    EXPECT_FALSE(fs::exists(p->backupFolder()));
    stopServer();
    EXPECT_FALSE(wineServerRunning(prefix));
    EXPECT_EQ(p->writeBack(), std::vector<std::string>{"system.reg"});
    EXPECT_NE(bytes("system.reg").find("\"Version\"=\"win7\""), std::string::npos);
}

TEST_F(WinePrefixTest, TheServerFolderOfDebiansWineIsFoundThroughThePrefix) {
    const fs::path tmp = folders.root() / "tmp";
    ::setenv("TMPDIR", tmp.c_str(), 1);
    put("wineserver", "wine-AbC123");
    const fs::path folder = tmp / "wine-AbC123" / wineServerFolder(prefix).filename();
    startServer(folder);
    EXPECT_TRUE(wineServerRunning(prefix));
    // A note that names no plain folder is not followed anywhere.
    put("wineserver", "../wine-AbC123");
    EXPECT_FALSE(wineServerRunning(prefix));
    stopServer();
    put("wineserver", "wine-AbC123");
    EXPECT_FALSE(wineServerRunning(prefix));
    ::unsetenv("TMPDIR");
}

// Where Wine is installed, its own server is seen while it runs.
TEST_F(WinePrefixTest, ARealWineserverIsSeen) {
    if (std::system("command -v wineserver > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "Wine is not installed";
    ::unsetenv("KLOVANTE_WINE_SERVER_ROOT");
    const std::string env = "WINEPREFIX='" + prefix.string() + "' WINEDEBUG=-all ";
    ASSERT_EQ(std::system((env + "wineserver -p 60").c_str()), 0);
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = wineServerRunning(prefix);
        if (!seen)
            ::usleep(50000);
    }
    EXPECT_TRUE(seen);
    std::system((env + "wineserver -k; " + env + "wineserver -w").c_str());
    EXPECT_FALSE(wineServerRunning(prefix));
}

TEST_F(WinePrefixTest, AFileWineSavedMeanwhileIsNeverOverwritten) {
    auto p = openPrefix();
    {
        auto hkcu = reg(*p, HKEY_CURRENT_USER_H);
        ASSERT_TRUE(hkcu->OpenKey("Software\\Wine\\Explorer", false));
        hkcu->WriteString("Desktop", "Mine");
    }
    const std::string wines = std::string(kUserReg) + "\n[Software\\\\New] 1700009000\n"
                                                      "#time=1da175cbaeada87\n\"A\"=\"1\"\n";
    put("user.reg", wines);
    try {
        p->writeBack();
        FAIL() << "written over Wine's file";
    } catch (const WinePrefixError& e) {
        EXPECT_NE(std::string(e.what()).find(".unsaved"), std::string::npos);
    }
    EXPECT_EQ(bytes("user.reg"), wines);
    // This program's version is kept, and the next opening reads Wine's.
    bool kept = false;
    for (const auto& e : fs::directory_iterator(p->backupFolder()))
        kept = kept || readFileBytes(e.path())->find("\"Desktop\"=\"Mine\"") != std::string::npos;
    EXPECT_TRUE(kept);
    p.reset();
    auto again = openPrefix();
    auto hkcu = reg(*again, HKEY_CURRENT_USER_H);
    ASSERT_TRUE(hkcu->OpenKey("Software\\New", false));
    EXPECT_EQ(hkcu->ReadText("A"), "1");
    ASSERT_TRUE(hkcu->OpenKey("\\Software\\Wine\\Explorer", false));
    EXPECT_EQ(hkcu->ReadText("Desktop"), "Default");
}

TEST_F(WinePrefixTest, ReopeningKeepsChangesNotYetWrittenUnlessWineReplacedThatFile) {
    {
        auto p = openPrefix();
        auto hklm = reg(*p, HKEY_LOCAL_MACHINE_H);
        ASSERT_TRUE(hklm->OpenKey("Software\\Wine", false));
        hklm->WriteString("Pending", "system");
        auto hkcu = reg(*p, HKEY_CURRENT_USER_H);
        ASSERT_TRUE(hkcu->OpenKey("Software\\Wine\\Explorer", false));
        hkcu->WriteString("Pending", "user");
    }
    Store::resetShared();
    // Wine rewrote user.reg (only) while the program was closed.
    const std::string wines = std::string(kUserReg) + "\n[Software\\\\FromWine] 1700009000\n"
                                                      "#time=1da175cbaeada87\n";
    put("user.reg", wines);
    auto p = openPrefix();
    ASSERT_EQ(p->notes().size(), 1u);
    EXPECT_NE(p->notes()[0].find("user.reg"), std::string::npos);
    auto hklm = reg(*p, HKEY_LOCAL_MACHINE_H);
    ASSERT_TRUE(hklm->OpenKey("Software\\Wine", false));
    EXPECT_EQ(hklm->ReadText("Pending"), "system");
    auto hkcu = reg(*p, HKEY_CURRENT_USER_H);
    EXPECT_TRUE(hkcu->KeyPresent("Software\\FromWine"));
    ASSERT_TRUE(hkcu->OpenKey("Software\\Wine\\Explorer", false));
    EXPECT_FALSE(hkcu->ValuePresent("Pending"));
    EXPECT_EQ(p->changedFiles(), std::vector<std::string>{"system.reg"});
    EXPECT_EQ(p->writeBack(), std::vector<std::string>{"system.reg"});
    EXPECT_EQ(bytes("user.reg"), wines);
}

TEST_F(WinePrefixTest, BadPrefixesAndFilesChangeNothing) {
    EXPECT_THROW(WinePrefix(folders.root() / "none", folders.home()).open(), WinePrefixError);
    fs::create_directories(folders.root() / "empty");
    try {
        WinePrefix(folders.root() / "empty", folders.home()).open();
        FAIL();
    } catch (const WinePrefixError& e) {
        EXPECT_NE(std::string(e.what()).find("system.reg"), std::string::npos);
    }
    {
        auto p = openPrefix();
        auto hklm = reg(*p, HKEY_LOCAL_MACHINE_H);
        ASSERT_TRUE(hklm->OpenKey("Software\\Wine", false));
        hklm->WriteString("Kept", "1");
    }
    Store::resetShared();
    const std::string broken = std::string(kSystemReg) + "\"Orphan\"=\"no closing quote\n";
    put("system.reg", broken);
    try {
        openPrefix();
        FAIL() << "a broken file was loaded";
    } catch (const WinePrefixError& e) {
        EXPECT_NE(std::string(e.what()).find("(38 "), std::string::npos) << cp932ToUtf8(e.what());
    }
    EXPECT_EQ(bytes("system.reg"), broken);
    // The store still holds the registry as it was, with the change not written back.
    Store::resetShared();
    put("system.reg", kSystemReg);
    auto p = openPrefix();
    auto hklm = reg(*p, HKEY_LOCAL_MACHINE_H);
    ASSERT_TRUE(hklm->OpenKey("Software\\Wine", false));
    EXPECT_EQ(hklm->ReadText("Kept"), "1");
}

TEST_F(WinePrefixTest, AMissingUserFileIsMadeOnlyWhenSomethingIsWrittenThere) {
    fs::remove(prefix / "userdef.reg");
    auto p = openPrefix();
    EXPECT_TRUE(p->writeBack().empty());
    EXPECT_FALSE(fs::exists(prefix / "userdef.reg"));
    auto hku = reg(*p, HKEY_USERS_H);
    ASSERT_TRUE(hku->OpenKey(".Default\\Software", true));
    hku->WriteString("New", "1");
    EXPECT_EQ(p->writeBack(), std::vector<std::string>{"userdef.reg"});
    const auto file = WineRegFile::parse(bytes("userdef.reg"));
    EXPECT_EQ(file.relativeTo, u"\\User\\.Default");
    EXPECT_EQ(file.arch, "win64");
}

TEST_F(WinePrefixTest, AFileWithoutKeysIsNoChangeAndNothingIsMadeForABadFolder) {
    put("userdef.reg", "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\.Default\n");
    auto p = openPrefix();
    EXPECT_TRUE(p->changedFiles().empty());
    EXPECT_TRUE(p->writeBack().empty());
    p.reset();
    Store::resetShared();
    const fs::path other = folders.root() / "other-home";
    EXPECT_THROW(WinePrefix(folders.root() / "none", other).open(), WinePrefixError);
    EXPECT_FALSE(fs::exists(other));
}

// Random edits of every kind, each round written back by taking only the changed keys' lines
// into the file: the file must always be what writing the whole registry gives.
TEST_F(WinePrefixTest, WritingOnlyTheChangedKeysGivesTheWholeFile) {
    const std::vector<std::u16string> names{u"alpha", u"Beta", u"_under", u"gamma_2", u"Delta",
                                            u"[x]",   u"日本", u"zeta",   u"Eta",     u"a_b"};
    std::mt19937 random(20261211);
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    WineRegFile f;
    f.relativeTo = u"REGISTRY\\Machine";
    f.arch = "win64";
    std::vector<WineKey*> made{&f.root()};
    for (int i = 0; i < 300; ++i) {
        WineKey* parent = made[pick(made.size())];
        if (parent != &f.root() && made.size() > 40 && pick(3) == 0)
            continue;
        WineKey& k = f.child(*parent, names[pick(names.size())] + u"_" +
                                          std::u16string(1, static_cast<char16_t>(u'0' + i % 10)));
        k.modified = fileTimeFromUnix(1700000000 + i);
        if (pick(2) == 0)
            k.values.push_back({names[pick(names.size())], REG_DWORD, std::string(4, 'a')});
        made.push_back(&k);
    }
    const std::string original = f.write();
    put("system.reg", original);
    auto p = openPrefix();
    Store& store = *p->store();
    const KeyId hklm = Store::rootId(2);

    std::size_t spliced = 0;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<KeyId> keys;
        std::vector<KeyId> todo{hklm};
        while (!todo.empty()) {
            const KeyId k = todo.back();
            todo.pop_back();
            keys.push_back(k);
            for (const KeyId c : store.children(k))
                todo.push_back(c);
        }
        const auto deleteTree = [&](KeyId k, auto& self) -> void {
            const std::vector<KeyId> kids = store.children(k);
            for (const KeyId c : kids)
                self(c, self);
            store.deleteKey(k);
        };
        for (int op = 1 + static_cast<int>(pick(4)); op > 0; --op) {
            const KeyId k = keys[pick(keys.size())];
            if (!store.key(k))
                continue; // below a key deleted this round
            const std::string name = "v" + std::to_string(pick(3));
            switch (pick(7)) {
            case 0:
            case 1:
                store.setValue(k, RawValue{StoredName{name, false}, REG_SZ, "r" + name + '\0'});
                break;
            case 2:
                store.deleteValue(k, name);
                break;
            case 3: {
                const KeyId c = store.createChild(
                    k,
                    StoredName{"New_" + std::to_string(round) + "_" + std::to_string(op), false});
                if (pick(2) == 0)
                    store.setValue(c, RawValue{StoredName{"n", false}, REG_DWORD, "abcd"});
                break;
            }
            case 4: // gone with everything below it
                if (k != hklm)
                    deleteTree(k, deleteTree);
                break;
            case 5: // gone, and made again under the same name
                if (const KeyRecord* r = store.key(k); r && k != hklm) {
                    const StoredName n = r->name;
                    const KeyId parent = r->parent;
                    deleteTree(k, deleteTree);
                    const KeyId again = store.createChild(parent, n);
                    if (pick(2) == 0)
                        store.createChild(again, StoredName{"again", false});
                }
                break;
            default: // every value gone: a key with subkeys loses its line
                for (const RawValue& v : std::vector<RawValue>(store.values(k)))
                    store.deleteValue(k, v.name);
                break;
            }
        }
        p->writeBack();
        spliced += p->splicedFiles();
        const std::string whole = dumpWineTree(store, hklm, u"REGISTRY\\Machine", "win64").write();
        ASSERT_TRUE(bytes("system.reg") == whole) << "round " << round;
    }
    EXPECT_GE(spliced, 30u);
}

// A user's key made again in the program, then its file read again from Wine: what the
// program noted of that key must not outlive the reading.
TEST_F(WinePrefixTest, AFileReadAgainIsNotCutByWhatWasNotedBefore) {
    {
        auto p = openPrefix();
        auto hku = reg(*p, HKEY_USERS_H);
        ASSERT_TRUE(hku->DeleteKey(".Default"));
        // Beyond what the windows allow (HKEY_USERS takes no new keys), as another program
        // on the store might.
        p->store()->setAccess(Store::rootId(3), KeyAccess::Full);
        ASSERT_TRUE(p->store()->createChild(Store::rootId(3), StoredName{".Default", false}));
    }
    Store::resetShared();
    const std::string wines = std::string(kUserDefReg) + "\n[Control Panel\\\\Mouse] 1700009000\n"
                                                         "#time=1da175cbaeada87\n\"Speed\"=\"1\"\n";
    put("userdef.reg", wines);
    auto p = openPrefix();
    auto hku = reg(*p, HKEY_USERS_H);
    ASSERT_TRUE(hku->OpenKey(".Default\\Control Panel\\Mouse", false));
    hku->WriteString("Speed", "2");
    EXPECT_EQ(p->writeBack(), std::vector<std::string>{"userdef.reg"});
    EXPECT_EQ(p->splicedFiles(), 1u);
    const std::string now = bytes("userdef.reg");
    EXPECT_NE(now.find("\"Locale\"=\"00000411\""), std::string::npos) << now;
    EXPECT_NE(now.find("\"Speed\"=\"2\""), std::string::npos) << now;
}

// The store's views alone, as the prefix sets them up.
TEST(StoreRootView, ReadsAndWritesReachTheKeyAndTheRootStaysARoot) {
    test::TempFolders folders;
    auto store = Store::open(folders.storeFile());
    const KeyId user = store->createChild(Store::rootId(3), StoredName{"S-1", false});
    const KeyId soft = store->createChild(user, StoredName{"Software", false});
    store->setRootView(1, user);
    EXPECT_EQ(store->rootView(1), user);
    const KeyRecord* root = store->key(Store::rootId(1));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->depth, 0);
    EXPECT_EQ(root->id, Store::rootId(1));
    EXPECT_EQ(root->name.bytes, "HKEY_CURRENT_USER");
    EXPECT_EQ(root->subKeys, 1u);
    EXPECT_EQ(store->children(Store::rootId(1)), std::vector<KeyId>{soft});
    EXPECT_EQ(store->child(Store::rootId(1), "SOFTWARE"), soft);
    store->setValue(Store::rootId(1), RawValue{StoredName{"v", false}, REG_SZ, {"x\0", 2}});
    EXPECT_TRUE(store->value(user, "v"));
    EXPECT_THROW(store->deleteKey(Store::rootId(1)), StoreError);
    // Another connection sees the view.
    auto other = Store::open(folders.storeFile());
    EXPECT_EQ(other->child(Store::rootId(1), "Software"), soft);
    // The key gone, the root shows its own empty tree again.
    TRegistry reg(store);
    reg.RootKey(HKEY_USERS_H);
    ASSERT_TRUE(reg.DeleteKey("S-1"));
    EXPECT_TRUE(store->children(Store::rootId(1)).empty());
    EXPECT_FALSE(store->rootView(1));
    store->setRootView(1, std::nullopt);
    EXPECT_EQ(store->key(Store::rootId(1))->subKeys, 0u);
}

} // namespace
} // namespace klv::wine
