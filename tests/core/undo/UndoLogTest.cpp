// The undo log: its limit, each undo action, the export-first key deletion and its restore, and
// the faults of the design it mends.
#include "core/undo/UndoLog.h"
#include "core/lists/ListFile.h"
#include "core/platform/Encoding.h"
#include "core/platform/TimeText.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/RegistryWalker.h"
#include "core/registry/ValueText.h"
#include "core/undo/UndoActions.h"
#include "support/RegistryFixture.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

using namespace klv;
namespace fs = std::filesystem;

namespace {

// The registry of one key and everything below it: paths, subkey names and raw values.
using TreeImage = std::map<std::string, std::pair<test::Names, std::vector<RawValue>>>;

class FixedClock {
public:
    explicit FixedClock(std::int64_t unixSeconds) {
        setClockForTesting([t = fileTimeFromUnix(unixSeconds)] { return t; });
    }
    ~FixedClock() { setClockForTesting({}); }
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;
};

class UndoLogTest : public test::RegistryFixture {
protected:
    UndoLogTest() {
        ensureRegistryPrograms(folders.windir(), KLOVREG_PATH);
        log.setLimit(100);
    }

    UndoLog log{UndoPlace{folders.home(), folders.windir(), {}, store}};

    UndoEntry entry(std::string_view op, std::string key, std::string name, std::string before,
                    std::string after = {}) {
        UndoEntry e;
        e.operation = sj(op);
        e.root = "HKEY_CURRENT_USER";
        e.keyPath = std::move(key);
        e.valueName = std::move(name);
        e.before = std::move(before);
        e.after = std::move(after);
        return e;
    }

    // Undoes the newest entry, expecting success.
    void undoNewest() {
        ASSERT_FALSE(log.entries().empty());
        const std::size_t before = log.entries().size();
        log.undo(0);
        EXPECT_EQ(log.entries().size(), before - 1);
    }

    TreeImage image(const std::string& key) {
        TreeImage out;
        auto note = [&](const std::string& path) {
            auto& [subkeys, values] = out[path];
            reg.ListSubKeys(subkeys);
            // Values taken back are made again, at the end of the enumeration.
            values = reg.ReadRawValues();
            std::sort(values.begin(), values.end(), [](const RawValue& a, const RawValue& b) {
                return a.name.bytes < b.name.bytes;
            });
        };
        EXPECT_TRUE(reg.OpenKey(key, false)) << key;
        note(key);
        walkRegistry(reg, key, [&](const std::string& path, const std::string&) { note(path); });
        return out;
    }

    // A stand-in for REGEDIT.EXE: a shell script with `body`.
    void standInEditor(const std::string& body) {
        const fs::path editor = *registryEditorPath(folders.windir());
        fs::remove(editor);
        std::ofstream(editor) << "#!/bin/sh\n" << body << "\n";
        ::chmod(editor.c_str(), 0755);
    }
};

TEST_F(UndoLogTest, TheEntryPastTheLimitGoesWithItsUndoFileAndTheListSurvivesAReload) {
    ASSERT_TRUE(reg.CreateKey("\\Old"));
    log.deleteKey("HKEY_CURRENT_USER", "\\Old");
    const std::string oldest = log.entries().front().undoFile;
    ASSERT_TRUE(fs::exists(log.undoFolder() / oldest));
    for (int i = 0; i < 99; ++i)
        log.add(entry(undo_op::KeyCreated, "\\K" + std::to_string(i), "", ""));
    EXPECT_EQ(log.entries().size(), 100u);
    EXPECT_TRUE(fs::exists(log.undoFolder() / oldest));
    log.add(entry(undo_op::KeyCreated, "\\K100", "", ""));
    EXPECT_EQ(log.entries().size(), 100u);
    EXPECT_EQ(log.entries().back().keyPath, "\\K0");
    EXPECT_FALSE(fs::exists(log.undoFolder() / oldest));

    UndoLog other{UndoPlace{folders.home(), folders.windir(), {}, store}};
    ASSERT_TRUE(other.load());
    EXPECT_EQ(other.entries(), log.entries());
    EXPECT_EQ(loadListFile(log.listFile()).front().image, kUndoImage);
}

TEST_F(UndoLogTest, EachValueActionRestoresWhatWasThere) {
    ASSERT_TRUE(reg.OpenKey("\\V", true));
    reg.WriteString("", "default");
    reg.WriteExpandString("e", "%PATH%;x");
    reg.WriteInteger("d", 123);
    reg.WriteBinary("b", std::string("\x0A\x1B\xFF", 3));
    reg.WriteMultiString("m", {"a", sj("い")});
    reg.WriteString("r", "renamed back");
    const TreeImage before = image("\\V");

    // Each change as the editor makes it, then its undo.
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    reg.WriteString("", "changed");
    log.add(entry(undo_op::StringChanged, "\\V", "", "default", "changed"));
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    reg.DeleteValue("e");
    log.add(entry(std::string(undo_op::ValueDeletedPrefix) + "拡張文字列", "\\V", "e", "%PATH%;x"));
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    reg.DeleteValue("d");
    log.add(entry(std::string(undo_op::ValueCutPrefix) + "数値", "\\V", "d", "123 (0x0000007B)"));
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    reg.WriteBinary("b", std::string("\x01", 1));
    log.add(entry(undo_op::BinaryChanged, "\\V", "b", "0a 1B ff", "01 "));
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    reg.WriteMultiString("m", {"z"});
    log.add(entry(undo_op::MultiChanged, "\\V", "m", "a\r\n" + sj("い"), "z"));
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    reg.RenameValue("r", "s");
    log.add(entry(undo_op::ValueRenamed, "\\V", "r", "r", "s"));
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    reg.WriteInteger("new", 5);
    log.add(entry(undo_op::IntegerCreated, "\\V", "new", ""));
    ASSERT_TRUE(reg.CreateKey("\\V\\made"));
    log.add(entry(undo_op::KeyCreated, "\\V\\made", "", ""));
    while (!log.entries().empty())
        undoNewest();
    EXPECT_EQ(image("\\V"), before);

    // A number changed, and a key renamed, undone on their own.
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    reg.WriteInteger("d", 7);
    log.add(entry(undo_op::IntegerChanged, "\\V", "d", "4294967419", "7"));
    undoNewest();
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    EXPECT_EQ(reg.ReadDword("d"), 123u); // the low 32 bits
    reg.MoveKey("\\V", "\\W", true);
    log.add(entry(undo_op::KeyRenamed, "\\V", "", "\\V", "\\W"));
    undoNewest();
    EXPECT_EQ(image("\\V"), before);
    EXPECT_FALSE(reg.KeyPresent("\\W"));
}

TEST_F(UndoLogTest, ADeletedKeyComesBackWholeAndItsUndoFileGoes) {
    for (const char* k : {"\\D\\a\\deep", "\\D\\b",
                          "\\D\\"
                          "\x95\x5C"}) // a 0x5C trail byte
        ASSERT_TRUE(reg.CreateKey(k));
    ASSERT_TRUE(reg.OpenKey("\\D\\a\\deep", false));
    reg.WriteBinary("bin", std::string("\0\x01\xFE\xFF", 4));
    reg.WriteMultiString("multi", {"x", "y"});
    reg.WriteString("", sj("既定の値"));
    ASSERT_TRUE(reg.OpenKey("\\D\\b", false));
    reg.WriteInteger("n", 0xDEADBEEF);
    reg.WriteExpandString("p", "%TEMP%\\x");
    const TreeImage before = image("\\D");

    log.deleteKey("HKEY_CURRENT_USER", "\\D");
    EXPECT_FALSE(reg.KeyPresent("\\D"));
    ASSERT_EQ(log.entries().size(), 1u);
    const UndoEntry e = log.entries().front();
    EXPECT_EQ(e.operation, sj("キーの削除"));
    EXPECT_EQ(e.keyPath, "\\D");
    const fs::path file = log.undoFolder() / e.undoFile;
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(e.undoFile.size(), std::string("yyyymmddhhnnss.reg").size());

    undoNewest();
    EXPECT_EQ(image("\\D"), before);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(UndoLogTest, AKeyIsDeletedOnlyWhenItsExportIsWholeAndTwoDeletionsDoNotShareAFile) {
    ASSERT_TRUE(reg.CreateKey("\\Keep\\sub"));
    for (const char* body : {"exit 1", "exit 0", "echo REGEDIT4 > \"$2\"; exit 0",
                             "printf 'REGEDIT4\\r\\n\\r\\n[HKEY_CURRENT_USER\\\\Other]\\r\\n' > "
                             "\"$2\"; exit 0"}) {
        standInEditor(body);
        EXPECT_THROW(log.deleteKey("HKEY_CURRENT_USER", "\\Keep"), UndoError) << body;
        EXPECT_TRUE(reg.KeyPresent("\\Keep\\sub")) << body;
        EXPECT_TRUE(log.entries().empty()) << body;
        EXPECT_TRUE(fs::is_empty(log.undoFolder())) << body;
    }
    fs::remove(*registryEditorPath(folders.windir()));
    EXPECT_THROW(log.deleteKey("HKEY_CURRENT_USER", "\\Keep"), UndoError);
    EXPECT_TRUE(reg.KeyPresent("\\Keep"));

    ensureRegistryPrograms(folders.windir(), KLOVREG_PATH);
    FixedClock clock(1700000000);
    ASSERT_TRUE(reg.CreateKey("\\Other"));
    log.deleteKey("HKEY_CURRENT_USER", "\\Keep");
    log.deleteKey("HKEY_CURRENT_USER", "\\Other");
    ASSERT_EQ(log.entries().size(), 2u);
    EXPECT_NE(log.entries()[0].undoFile, log.entries()[1].undoFile);
    EXPECT_EQ(log.entries()[0].time, log.entries()[1].time);
    log.undo(0);
    log.undo(0);
    EXPECT_TRUE(reg.KeyPresent("\\Keep\\sub"));
    EXPECT_TRUE(reg.KeyPresent("\\Other"));
}

TEST_F(UndoLogTest, AFailedUndoKeepsItsEntry) {
    ASSERT_TRUE(reg.OpenKey("\\F", true));
    reg.WriteInteger("d", 1);
    log.add(entry(undo_op::IntegerChanged, "\\F", "d", "not a number", "1"));
    EXPECT_THROW(log.undo(0), UndoError);
    EXPECT_EQ(log.entries().size(), 1u);
    ASSERT_TRUE(reg.OpenKey("\\F", false));
    EXPECT_EQ(reg.ReadDword("d"), 1u);

    log.clear();
    log.deleteKey("HKEY_CURRENT_USER", "\\F");
    const fs::path file = log.undoFolder() / log.entries().front().undoFile;
    for (const char* body : {"exit 1", "exit 6", "exit 0"}) { // the last restores nothing
        standInEditor(body);
        EXPECT_THROW(log.undo(0), UndoError) << body;
        EXPECT_EQ(log.entries().size(), 1u) << body;
        EXPECT_TRUE(fs::exists(file)) << body;
    }
    fs::remove(*registryEditorPath(folders.windir()));
    try {
        log.undo(0);
        ADD_FAILURE() << "undone without the registry editor";
    } catch (const UndoError& e) {
        EXPECT_EQ(std::string(e.what()),
                  sj("キーの削除を復元するためには、OS標準搭載のレジストリエディタ "
                     "Regedit.exe が必要です。"));
    }
    EXPECT_EQ(log.entries().size(), 1u);
    ensureRegistryPrograms(folders.windir(), KLOVREG_PATH);
    log.undo(0);
    EXPECT_TRUE(reg.KeyPresent("\\F"));
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(UndoLogTest, UndoFileNamesFromTheListFileStayInsideTheUndoFolder) {
    const fs::path outside = folders.home() / "precious.reg";
    std::ofstream(outside) << "REGEDIT4\r\n";
    for (const char* name : {"../precious.reg", "..", "/etc/passwd", "..\\precious.reg"}) {
        EXPECT_FALSE(log.undoFilePath(name)) << name;
        UndoEntry e = entry(undo_op::KeyDeleted, "\\X", "", "");
        e.undoFile = name;
        log.add(e);
    }
    EXPECT_THROW(log.undo(0), UndoError);
    log.setLimit(1);
    log.add(entry(undo_op::KeyCreated, "\\Y", "", "")); // drops the others
    EXPECT_EQ(log.entries().size(), 1u);
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_EQ(log.undoFilePath("20240101000000.reg"), log.undoFolder() / "20240101000000.reg");
}

TEST(UndoActionsTest, TextsReadAsTheUndoReadsThem) {
    // The binary undo reads its text as the value list's hex texts are read.
    EXPECT_EQ(parseHexText("0a 1B ff"), std::string("\x0A\x1B\xFF", 3));
    EXPECT_EQ(parseHexText("abc"), std::string("\xAB", 1));
    EXPECT_EQ(parseHexText("xyz"), "");
    EXPECT_EQ(integerOfText("123"), 123u);
    EXPECT_EQ(integerOfText("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(integerOfText("123 (0x0000007B)"), std::nullopt);
    EXPECT_EQ(integerOfText(""), std::nullopt);
    EXPECT_EQ(undoActionFor(sj("値の削除 - マルチ文字列")), UndoAction::WriteMultiString);
    EXPECT_EQ(undoActionFor(sj("切り取り - 数値")), UndoAction::WriteIntegerText);
    EXPECT_EQ(undoActionFor(sj("貼り付け")), UndoAction::DeleteValue);
    EXPECT_EQ(undoActionFor(sj("値の削除 - ")), UndoAction::Nothing);
    EXPECT_EQ(undoActionFor("other"), UndoAction::Nothing);
}

} // namespace

TEST_F(UndoLogTest, ValuesTheTextsCannotHoldComeBackFromTheirUndoFiles) {
    ASSERT_TRUE(reg.OpenKey("\\V", true));
    const RawValue wide{StoredName{utf8ToUtf16("名前😀"), true}, REG_SZ,
                        utf8ToUtf16("値🍣") + std::string(2, '\0'), true};
    const RawValue big{StoredName{"big", false}, REG_BINARY, std::string(100000, '\x5A'), false};
    const RawValue plain{StoredName{"s", false}, REG_SZ, std::string("old\0", 4), false};
    for (const RawValue& v : {wide, big, plain}) {
        reg.WriteRaw(v);
        if (!v.name.wide) { // a wide name cannot be named through the access layer
            ASSERT_TRUE(reg.DeleteValue(v.name.bytes));
        }
        UndoEntry e = entry("値の削除 - 文字列", "\\V", listedName(v.name), dataText(v));
        log.addValueChange(e, v);
    }
    // Only what the texts cannot give back has a file.
    EXPECT_TRUE(log.entries()[0].undoFile.empty()); // plain: its texts suffice
    EXPECT_TRUE(log.entries()[1].undoFile.ends_with(".val"));
    EXPECT_LE(log.entries()[1].before.size(), kMaxListText);
    EXPECT_TRUE(log.entries()[2].undoFile.ends_with(".val"));
    // A paste over a value keeps the old value too.
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    reg.WriteString("s", "pasted");
    UndoEntry pasted = entry("貼り付け", "\\V", "s", "");
    log.addValueChange(pasted, plain);
    EXPECT_FALSE(log.entries()[0].undoFile.empty());
    undoNewest(); // the paste: the old value is back, not deleted
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    EXPECT_EQ(reg.ReadRaw("s"), plain);
    const auto file = log.undoFilePath(log.entries()[1].undoFile);
    ASSERT_TRUE(file);
    undoNewest();
    undoNewest();
    ASSERT_TRUE(reg.OpenKey("\\V", false));
    EXPECT_EQ(reg.ReadRaw("big"), big);
    bool sawWide = false;
    for (const RawValue& v : reg.ReadRawValues())
        sawWide = sawWide || v == wide;
    EXPECT_TRUE(sawWide);
    EXPECT_FALSE(std::filesystem::exists(*file)); // used up
}
