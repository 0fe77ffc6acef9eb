// Every file the program reads, damaged every way: missing, empty, cut at every length, holding
// bytes that are no CP932 character, or a line of a megabyte. Each reader gives its clear error
// or reads what is there, and what it could not read is never lost when the file is written
// again. Then a full disk while each of these files is written: the old file stays.
#include "core/lists/ListFile.h"
#include "core/lists/PanelLists.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/ExportMerge.h"
#include "core/regfiles/RegFileError.h"
#include "core/regfiles/RegImporter.h"
#include "core/registry/Registry.h"
#include "core/settings/SettingsFile.h"
#include "core/snapshot/ChangeTracking.h"
#include "core/undo/UndoLog.h"
#include "support/RegTestSupport.h"
#include "support/RegistryFixture.h"
#include "support/TempFolders.h"
#include "support/WriteFailure.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace klv;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLongLine = 1024 * 1024;

// One damaged form of a file: nullopt bytes for no file at all.
struct Damaged {
    std::string name; // for failure messages
    std::optional<std::string> bytes;
    std::size_t cut = std::string::npos; // the length a cut form keeps of the whole file
};

// Missing, empty, the whole file cut at every length (the last form is the whole file), the
// given file with bytes that are no CP932 character, and the given file with a 1 MB line.
std::vector<Damaged> damagedForms(const std::string& whole, const std::string& badCp932,
                                  const std::string& longLine) {
    std::vector<Damaged> forms{{"missing", std::nullopt}, {"empty", std::string()}};
    for (std::size_t len = 1; len <= whole.size(); ++len)
        forms.push_back({"cut at " + std::to_string(len), whole.substr(0, len), len});
    forms.push_back({"not CP932", badCp932});
    forms.push_back({"1 MB line", longLine});
    return forms;
}

std::string bytesOf(const fs::path& file) {
    return readFileBytes(file).value_or("(no file)");
}

void put(const fs::path& file, const Damaged& form) {
    std::error_code ec;
    fs::remove(file, ec);
    if (form.bytes)
        std::ofstream(file, std::ios::binary) << *form.bytes;
}

// The files of a folder other than the ones named.
std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_regular_file())
            names.insert(e.path().filename().string());
    return names;
}

// --- KLOVANTE.INI (and SCRIPT_DB.DAT, read by the same reader) ---------------------------------

// Complete lines ("name=value" before a line feed) of the form's bytes.
std::vector<std::pair<std::string, std::string>> completeEntries(const std::string& bytes) {
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t at = 0;
    for (std::size_t nl; (nl = bytes.find('\n', at)) != std::string::npos; at = nl + 1) {
        std::string line = bytes.substr(at, nl - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (const auto eq = line.find('='); eq != std::string::npos && line[0] != '[')
            out.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return out;
}

TEST(BadFiles, SettingsFileReadsWhatIsThereAndAWriteKeepsEveryByteOfIt) {
    test::TempFolders folders;
    const fs::path ini = folders.home() / "KLOVANTE.INI";
    const std::string whole = sj("; 設定\r\n[OPTION]\r\nHIS_1=30\r\nNAME=表示ソフト\r\n"
                                 "[HISTRY]\r\n0.Count=2\r\n0.0=a\r\n0.1=b\r\n");
    const std::string bad = "[OPTION]\r\nLEAD=\x81\r\nBYTES=\xA0\x80\xFD\xFE\xFF\r\n"
                            "MIXED=a\x82\xA0z\r\n";
    const std::string longLine = "[OPTION]\r\nLONG=" + std::string(kLongLine, 'x') + "\r\n" +
                                 std::string(kLongLine, '#') + "\r\nAFTER=1\r\n";
    for (const Damaged& form : damagedForms(whole, bad, longLine)) {
        SCOPED_TRACE(form.name);
        put(ini, form);
        SettingsFile s(ini);
        const std::string text = form.bytes.value_or("");
        // Every line that is there whole reads as it stands; nothing throws.
        for (const auto& [key, value] : completeEntries(text)) {
            const std::string section = key.find('.') != std::string::npos ? "HISTRY" : "OPTION";
            EXPECT_EQ(s.readString(section, key, "(default)"), value) << key;
        }
        EXPECT_LE(s.readList("HISTRY", "0").size(), 2u);
        EXPECT_NO_THROW(s.readInt("OPTION", "HIS_1", 30));
        // A write puts its own section after everything the file held, byte for byte.
        s.writeInt("ADDED", "KEY", 7);
        const std::string after = bytesOf(ini);
        EXPECT_EQ(after.substr(0, text.size()), text);
        EXPECT_EQ(s.readInt("ADDED", "KEY", 0), 7);
        for (const auto& [key, value] : completeEntries(text)) {
            if (key.find('.') == std::string::npos) {
                EXPECT_EQ(s.readString("OPTION", key, "(default)"), value) << key;
            }
        }
    }

    // Saved in UTF-8 with characters CP932 lacks: they read as "〓" and are kept in the file,
    // which stays UTF-8 (in CP932 they would be lost).
    const std::string geta(kCp932Geta);
    for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
        SCOPED_TRACE(mark.empty() ? "without mark" : "with mark");
        std::ofstream(ini, std::ios::binary | std::ios::trunc)
            << mark + "[OPTION]\nNAME=café ☃ 表\n; コメント ü\n";
        SettingsFile s(ini);
        EXPECT_EQ(s.readString("OPTION", "NAME"), "caf" + geta + " " + geta + " " + sj("表"));
        s.writeInt("OPTION", "HIS_1", 5);
        s.writeString("OPTION", "TEXT", sj("日本語"));
        EXPECT_EQ(bytesOf(ini), mark + "[OPTION]\r\nNAME=café ☃ 表\r\n; コメント ü\r\n"
                                       "HIS_1=5\r\nTEXT=日本語\r\n");
        EXPECT_EQ(s.readInt("OPTION", "HIS_1", 0), 5);
        EXPECT_EQ(s.readString("OPTION", "TEXT"), sj("日本語"));
        s.eraseSection("OPTION");
        EXPECT_EQ(bytesOf(ini), mark);
    }
}

// --- list files --------------------------------------------------------------------------------

std::vector<ListRow> sampleRows() {
    return {historyRow(sj("2024/01/02 03:04:05"), sj("HKEY_CURRENT_USER\\表示")),
            favoriteRow("HKEY_USERS", sj("注")), ListRow{21, "x", {"", "a"}}};
}

// Saves `rows` as the program saves that list: the undo log through its own object.
void saveAsTheProgramDoes(const test::TempFolders& folders, const std::string& name,
                          const std::vector<ListRow>& rows) {
    if (name == kUndoListFile) {
        UndoLog log(UndoPlace{folders.home(), folders.windir(), {}, nullptr});
        UndoEntry e;
        e.operation = sj("キーの作成");
        e.root = "HKEY_CURRENT_USER";
        e.keyPath = "\\New";
        log.add(e);
        return;
    }
    saveListFile(folders.home() / name, rows);
}

TEST(BadFiles, ListFilesTruncatedAtEveryLength) {
    test::TempFolders folders;
    const std::string whole = encodeListFile(sampleRows());
    // Texts are bytes: ones that are no CP932 character load and save as they are.
    const std::vector<ListRow> oddRows{{20, "\x81", {"\xA0\x80\xFF", "a\x82"}}};
    const std::string bad = encodeListFile(oddRows);
    const std::string longLine = "LVF" + std::string(kLongLine, 'x');
    const std::vector<ListRow> fresh{favoriteRow("HKEY_USERS", "")};
    for (const char* name : {"UNDO.DAT", "FAVORITE.DAT", "HISTRY.DAT", "VALUE.DAT"}) {
        SCOPED_TRACE(name);
        const fs::path file = folders.home() / name;
        for (const Damaged& form : damagedForms(whole, bad, longLine)) {
            SCOPED_TRACE(form.name);
            for (const std::string& n : filesIn(folders.home()))
                fs::remove(folders.home() / n);
            put(file, form);
            std::optional<ListFileError::Kind> refused;
            std::vector<ListRow> loaded;
            try {
                loaded = loadListFile(file);
            } catch (const ListFileError& e) {
                refused = e.kind();
                EXPECT_FALSE(std::string(e.what()).empty());
            }
            const bool isWhole = form.cut == whole.size();
            if (form.name == "not CP932") {
                EXPECT_EQ(loaded, oddRows);
                saveListFile(file, loaded);
                EXPECT_EQ(bytesOf(file), bad);
                continue;
            }
            if (isWhole) {
                EXPECT_FALSE(refused);
                EXPECT_EQ(loaded, sampleRows());
                continue;
            }
            ASSERT_TRUE(refused);
            const bool foreign = !form.bytes || form.bytes->size() < 3;
            EXPECT_EQ(*refused,
                      foreign ? ListFileError::Kind::Missing : ListFileError::Kind::Damaged);
            // The list starts afresh; the refused file is kept beside it, not written over.
            saveAsTheProgramDoes(folders, name, fresh);
            EXPECT_NO_THROW(loadListFile(file));
            std::set<std::string> expected{name};
            if (form.bytes && !form.bytes->empty()) {
                const std::string kept = std::string(name) + ".BAD";
                expected.insert(kept);
                EXPECT_EQ(bytesOf(folders.home() / kept), *form.bytes);
            }
            EXPECT_EQ(filesIn(folders.home()), expected);
        }
    }
}

// --- registry files ------------------------------------------------------------------------------

const char* const kRegText = "[HKEY_CURRENT_USER\\Software\\表示]\r\n"
                             "@=\"既定\"\r\n"
                             "\"Name\"=\"値 \\\"quoted\\\"\"\r\n"
                             "\"Num\"=dword:0000007b\r\n"
                             "\"Bin\"=hex:01,02,03,\\\r\n"
                             "  04,05\r\n"
                             "\r\n"
                             "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n"
                             "\r\n"
                             "[HKEY_CURRENT_USER\\Software\\表示\\Sub]\r\n"
                             "\"Multi\"=hex(7):61,00,62,00,00,00\r\n"
                             "\r\n";

// The "K" and value-name parts of a store dump (data may be cut short by a cut file).
std::set<std::string> keysAndNames(Store& s) {
    std::set<std::string> out;
    for (const std::string& line : test::dumpStore(s, 5)) {
        const auto t = line.find(" t");
        out.insert(line[0] == 'V' && t != std::string::npos ? line.substr(0, t) : line);
    }
    return out;
}

TEST(BadFiles, RegistryFilesImportWholeOrNotAtAll) {
    test::TempFolders folders;
    for (const bool unicode : {false, true}) {
        SCOPED_TRACE(unicode ? "Unicode" : "REGEDIT4");
        const auto file = [&](std::string_view utf8) {
            return unicode ? test::utf16File(utf8) : test::cp932File(utf8);
        };
        const std::string header =
            unicode ? "Windows Registry Editor Version 5.00\r\n\r\n" : "REGEDIT4\r\n\r\n";
        const std::string whole = file(header + kRegText);
        const std::string bad =
            unicode ? whole.substr(0, whole.size() - 1) // an odd byte: half a character
                    : test::cp932File(header + "[HKEY_CURRENT_USER\\Software\\B]\r\n") +
                          "\"v\"=\"\x81\"\r\n";
        const std::string longLine = file(header + "[HKEY_CURRENT_USER\\Software\\L]\r\n\"v\"=\"" +
                                          std::string(kLongLine, 'v') + "\"\r\n\r\n");

        // What the whole file gives.
        const fs::path reference = folders.root() / "REFERENCE.DAT";
        std::set<std::string> full;
        {
            auto s = Store::open(reference);
            RegImporter(*s, ImportOptions{}).importBytes(whole, "whole.reg");
            full = keysAndNames(*s);
        }
        fs::remove(reference);

        // Each form imports into a copy of one empty store (making a store is the slow part).
        const fs::path empty = folders.root() / "EMPTY.DAT";
        Store::open(empty).reset();
        const fs::path regFile = folders.root() / "cut.reg";
        int index = 0;
        for (const Damaged& form : damagedForms(whole, bad, longLine)) {
            SCOPED_TRACE(form.name);
            put(regFile, form);
            const fs::path storeFile = folders.root() / ("S" + std::to_string(index++) + ".DAT");
            fs::copy_file(empty, storeFile);
            auto s = Store::open(storeFile);
            const std::vector<std::string> before = test::dumpStore(*s, 5);
            try {
                const ImportReport r = RegImporter(*s, ImportOptions{}).importFile(regFile);
                if (form.name == "1 MB line") {
                    const auto key = test::keyAt(*s, test::HKCU, "Software\\L");
                    ASSERT_TRUE(key);
                    EXPECT_EQ(test::valueAt(*s, *key, "v")->data,
                              std::string(kLongLine, 'v') + '\0');
                } else {
                    // A cut file that still reads adds no key or value the whole one lacks.
                    for (const std::string& line : keysAndNames(*s))
                        EXPECT_TRUE(full.count(line)) << line;
                    EXPECT_LE(r.keys, 2u);
                }
                EXPECT_NE(form.name, "missing");
                EXPECT_NE(form.name, "not CP932");
            } catch (const RegFileError& e) {
                EXPECT_EQ(e.file(), pathText(regFile));
                EXPECT_FALSE(e.reason().empty());
                EXPECT_EQ(test::dumpStore(*s, 5), before) << "applied in part";
            }
            s.reset();
            fs::remove(storeFile);
            fs::remove(storeFile.string() + "-wal");
            fs::remove(storeFile.string() + "-shm");
        }
        fs::remove(empty);
    }
}

// --- export lists ------------------------------------------------------------------------------

TEST(BadFiles, ExportListsReadEveryWholeLineOrNameTheBadOne) {
    test::TempFolders folders;
    const fs::path file = folders.root() / "keys.exportlist";
    const std::vector<std::string> keys{sj("HKEY_CURRENT_USER\\Software\\表示"),
                                        "HKEY_LOCAL_MACHINE\\Software", "HKEY_USERS\\.DEFAULT"};
    std::string whole;
    for (const std::string& k : keys)
        whole += k + "\r\n\r\n";
    const std::string bad = "HKEY_USERS\\a\r\nHKEY_USERS\\\xFD\xFE\r\n";
    const std::string longLine = "HKEY_USERS\\a\r\n" + std::string(kLongLine, 'k') + "\r\n";
    for (const Damaged& form : damagedForms(whole, bad, longLine)) {
        SCOPED_TRACE(form.name);
        put(file, form);
        try {
            const std::vector<std::string> read = readExportList(file);
            // Each key read is the beginning of the one written in its place.
            ASSERT_LE(read.size(), keys.size());
            for (std::size_t i = 0; i < read.size(); ++i)
                EXPECT_EQ(keys[i].substr(0, read[i].size()), read[i]) << i;
            if (form.cut == whole.size()) {
                EXPECT_EQ(read, keys);
            }
            EXPECT_TRUE(form.bytes.has_value());
            EXPECT_NE(form.name, "not CP932");
            EXPECT_NE(form.name, "1 MB line");
        } catch (const ExportListError& e) {
            const std::string m = cp932ToUtf8(e.what());
            EXPECT_NE(m.find("keys.exportlist"), std::string::npos) << m;
            if (form.name == "not CP932") {
                EXPECT_NE(m.find("2 行目に CP932 として読めない文字があります"), std::string::npos)
                    << m;
            }
            if (form.name == "1 MB line") {
                EXPECT_NE(m.find("2 行目が長すぎます"), std::string::npos) << m;
            }
        }
    }
}

// --- snapshot databases ------------------------------------------------------------------------

class SnapshotFiles : public test::RegistryFixture {
protected:
    fs::path db = snapshotFile(folders.home(), "HKEY_CURRENT_USER");

    CompareOutcome compare(bool rebuild, std::vector<ChangeRow>& rows) {
        return compareSnapshot("HKEY_CURRENT_USER", "\\", db, rebuild, {}, rows, store);
    }
};

TEST_F(SnapshotFiles, DamagedDatabasesCompareWhatTheyHoldAndRebuildWhole) {
    ASSERT_TRUE(reg.OpenKey(sj("\\Software\\表示"), true));
    reg.WriteString("s", sj("文字列"));
    reg.WriteInteger("n", 123);
    reg.WriteBinary("b", std::string("\x01\x02\xFF", 3));
    reg.WriteMultiString("m", {"one", sj("二")});
    ASSERT_TRUE(reg.CreateKey("\\Software\\Empty"));
    fs::create_directories(db.parent_path());
    ASSERT_FALSE(buildSnapshot("HKEY_CURRENT_USER", db, {}, store).error);
    const std::string whole = bytesOf(db);
    ASSERT_GT(whole.size(), 50u);
    const std::string section = sj("[HKEY_CURRENT_USER\\Software\\表示]\r\n");
    const std::string bad = "\r\n" + section + "s=\x81\xA0\x80\xFF\r\n";
    const std::string longLine = "\r\n" + section + "s=" + std::string(kLongLine, 's') + "\r\n" +
                                 std::string(kLongLine, '[') + "\r\n";

    // A count cut short is no number: the comparison ends with the conversion error, as a stored
    // number that is none does, and the file is left for a build to replace.
    const auto conversionError = [](const CompareOutcome& o) {
        return o.error && cp932ToUtf8(*o.error).find("は数値ではありません") != std::string::npos;
    };
    for (const Damaged& form : damagedForms(whole, bad, longLine)) {
        SCOPED_TRACE(form.name);
        put(db, form);
        std::vector<ChangeRow> rows;
        const CompareOutcome o = compare(false, rows);
        EXPECT_EQ(bytesOf(db), form.bytes.value_or("(no file)")) << "written without asking";
        if (!form.bytes) {
            EXPECT_TRUE(o.databaseMissing);
            continue;
        }
        if (form.cut == whole.size()) {
            EXPECT_TRUE(rows.empty());
        }
        if (form.name == "not CP932" || form.name == "1 MB line") {
            ASSERT_FALSE(o.error) << cp932ToUtf8(*o.error);
            const auto s = std::find_if(rows.begin(), rows.end(), [](const ChangeRow& r) {
                return r.name == "s" && r.state == ChangeState::Updated;
            });
            ASSERT_NE(s, rows.end());
            EXPECT_EQ(s->before, form.name == "1 MB line" ? std::string(kLongLine, 's')
                                                          : std::string("\x81\xA0\x80\xFF"));
        }
        // Brought up to date, the database holds the registry whole again.
        rows.clear();
        if (o.error) {
            EXPECT_TRUE(conversionError(o)) << cp932ToUtf8(*o.error);
            EXPECT_TRUE(conversionError(compare(true, rows)));
            EXPECT_EQ(bytesOf(db), *form.bytes);
            ASSERT_FALSE(buildSnapshot("HKEY_CURRENT_USER", db, {}, store).error);
        } else {
            ASSERT_FALSE(compare(true, rows).error);
        }
        rows.clear();
        ASSERT_FALSE(compare(false, rows).error);
        EXPECT_TRUE(rows.empty()) << rows.size() << " changes after the rebuild";
    }
}

// --- full disk -----------------------------------------------------------------------------------

// Each file the program writes whole, written while the disk fills up at once or after its first
// byte: the write fails with the system's reason, the old file is as it was and no temporary
// file is left.
TEST_F(SnapshotFiles, AFullDiskKeepsEveryOldFile) {
    ASSERT_TRUE(reg.OpenKey("\\Software\\Full", true));
    reg.WriteString("s", std::string(200, 's'));
    fs::create_directories(db.parent_path());
    ASSERT_FALSE(buildSnapshot("HKEY_CURRENT_USER", db, {}, store).error);
    reg.WriteString("s", "changed");

    UndoLog log(UndoPlace{folders.home(), folders.windir(), {}, store});
    UndoEntry entry;
    entry.operation = sj("キーの作成");
    entry.root = "HKEY_CURRENT_USER";
    entry.keyPath = "\\Software\\Full";
    log.add(entry);
    const std::vector<ListRow> rows = sampleRows();
    for (const char* name : {"FAVORITE.DAT", "HISTRY.DAT", "VALUE.DAT"})
        saveListFile(folders.home() / name, rows);
    const fs::path exportList = folders.home() / "keys.exportlist";
    writeExportList(exportList, {"HKEY_CURRENT_USER\\Software"});

    struct Writer {
        const char* what;
        fs::path file;
        std::function<void()> write;
    };
    const std::vector<Writer> writers{
        {"UNDO.DAT", folders.home() / "UNDO.DAT", [&] { log.add(entry); }},
        {"FAVORITE.DAT", folders.home() / "FAVORITE.DAT",
         [&] { saveListFile(folders.home() / "FAVORITE.DAT", {rows[1]}); }},
        {"HISTRY.DAT", folders.home() / "HISTRY.DAT",
         [&] {
             saveListFile(folders.home() / "HISTRY.DAT", {rows[0], rows[0]});
         }},
        {"VALUE.DAT", folders.home() / "VALUE.DAT",
         [&] { saveListFile(folders.home() / "VALUE.DAT", {}); }},
        {"snapshot database", db,
         [&] {
             std::vector<ChangeRow> changes;
             const CompareOutcome o = compare(true, changes);
             if (o.error)
                 throw std::runtime_error(*o.error);
         }},
        {"export list", exportList, [&] { writeExportList(exportList, {"HKEY_USERS"}); }},
    };
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.what);
        const std::string old = bytesOf(w.file);
        const std::set<std::string> homeFiles = filesIn(folders.home());
        const std::set<std::string> dbFiles = filesIn(db.parent_path());
        for (const std::size_t after : {std::size_t{0}, std::size_t{1}}) {
            SCOPED_TRACE(after);
            bool failed = false;
            {
                test::WriteFailure full(after);
                try {
                    w.write();
                } catch (const std::exception& e) {
                    failed = true;
                    const std::string m = cp932ToUtf8(e.what());
                    EXPECT_NE(m.find("ディスクの空き容量が不足しています"), std::string::npos) << m;
                }
            }
            EXPECT_TRUE(failed);
            EXPECT_EQ(bytesOf(w.file), old);
            EXPECT_EQ(filesIn(folders.home()), homeFiles);
            EXPECT_EQ(filesIn(db.parent_path()), dbFiles);
        }
    }
}

} // namespace
