// The orphan entry search: the target path rules as a table, the testable paths, a scan of a
// prepared registry against real files, deletion with its undo, and the reports.
#include "core/orphans/OrphanScan.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/undo/UndoLog.h"
#include "support/RegistryFixture.h"

#include <fstream>
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>

using namespace klv;
namespace fs = std::filesystem;

TEST(OrphanRulesTest, TargetPathsByTheSixRules) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"C:\\Missing\\app.exe -run", "C:\\Missing\\app.exe"},
        {"\"C:\\Program Files\\App\\app.exe\" \"%1\"", "C:\\Program Files\\App\\app.exe"},
        {"\"C:\\Program Files\\App\\app.exe\"", ""}, // no quote followed by a blank
        {"%SystemRoot%\\x.dll", "%SystemRoot%\\x.dll"},
        {"rundll32.exe C:\\x.dll,Entry", "rundll32.exe"},
        {"C:\\Folder", ""},
        {"C:\\Folder.old", "C:\\Folder.old"},
        {"A:\\setup.exe", "A:\\setup.exe"},
        {"C:\\app.exe /s", "C:\\app.exe"},
        {"C:\\app.exe ^x", "C:\\app.exe"},
        {"C:\\dir.v2\\app.exe arg", "C:\\dir.v2\\app.exe"},                   // a dot in the folder
        {"C:\\Program Files\\app.exe arg", "C:\\Program Files\\app.exe arg"}, // none: the rule's
        {"C:\\x.exe %1", "C:\\x.exe"},
        {"C:\\a.exe.exe", "C:\\a.exe."},        // through the first ".exe" and one more character
        {"\x95\x5C\\x.exe", "\x95\x5C\\x.exe"}, // 表's second byte is no backslash
        {"plain text", ""},
        {"", ""},
    };
    for (const auto& [data, path] : table)
        EXPECT_EQ(extractTargetPath(data), path) << data;

    for (const char* yes : {"C:\\a.exe", "c:\\dir\\a.b.c", "Z:\\a b.exe"})
        EXPECT_TRUE(isTestablePath(yes, false)) << yes;
    for (const char* no :
         {"C:", "C:a.exe", "C:\\a", "C:\\d.x\\a", "C:\\a;b.exe", "C:\\a,b.exe", "C:\\a ^b.exe",
          "C:\\*.exe", "C:\\RunDll32.exe", "1:\\a.exe", "%SystemRoot%\\x.dll"})
        EXPECT_FALSE(isTestablePath(no, false)) << no;
    EXPECT_FALSE(isTestablePath("Z:\\a b.exe", true));
}

namespace {

class OrphanScanTest : public test::RegistryFixture {
protected:
    OrphanScanTest() {
        DriveMap map(folders.windir());
        map.ensureDefaults(folders.home());
        driveC = *map.folder('C');
        fs::create_directories(driveC / "Present");
        std::ofstream(driveC / "Present" / "ok.exe") << "x";
        fs::create_directories(driveC / "Folder.old");

        reg.RootKey(HKEY_CURRENT_USER_H);
        put("\\Software", "own", "C:\\Gone0.exe"); // the start key's own value
        put("\\Software\\App", "missing", "C:\\Missing\\app.exe -run");
        reg.WriteString("present", "c:\\PRESENT\\OK.EXE"); // found whatever the case
        reg.WriteString("folder", "C:\\Folder.old");
        reg.WriteString("blank", "\"C:\\Program Files\\gone.exe\" arg");
        reg.WriteString("nodrive", "D:\\gone.exe");
        reg.WriteInteger("number", 1);
        reg.WriteExpandString("expand", "C:\\Gone\\%x%.dll");
        put("\\Software\\Floppy", "a", "C:\\Gone1.exe");
        reg.WriteString("b", "A:\\setup.exe");
        reg.WriteString("c", "C:\\Gone2.exe");
        reg.RootKey(HKEY_USERS_H);
        put("\\.Default", "u", "C:\\GoneU.exe");
        reg.RootKey(HKEY_CURRENT_USER_H);
    }

    void put(const std::string& key, const std::string& name, const std::string& data) {
        ASSERT_TRUE(reg.OpenKey(key, true)) << key;
        reg.WriteString(name, data);
    }
    std::vector<OrphanRow> scan(const OrphanOptions& o, OrphanOutcome* outcome = nullptr) {
        PathExistence files{DriveMap(folders.windir())};
        std::vector<OrphanRow> rows;
        OrphanCallbacks cb;
        cb.row = [&](OrphanRow&& r) { rows.push_back(std::move(r)); };
        const OrphanOutcome out = scanOrphans(o, files, cb, store);
        if (outcome)
            *outcome = out;
        return rows;
    }
    static std::vector<std::string> names(const std::vector<OrphanRow>& rows) {
        std::vector<std::string> out;
        for (const OrphanRow& r : rows)
            out.push_back(r.root + "\\" + r.key + "|" + r.name + "|" + r.path);
        return out;
    }

    fs::path driveC;
};

} // namespace

TEST_F(OrphanScanTest, FindsExactlyTheOrphansPlacedAndHonoursItsOptions) {
    OrphanOptions o;
    o.roots = {false, true, false, true};
    OrphanOutcome outcome;
    EXPECT_EQ(names(scan(o, &outcome)),
              (std::vector<std::string>{
                  "HKEY_CURRENT_USER\\Software\\App|missing|C:\\Missing\\app.exe",
                  "HKEY_CURRENT_USER\\Software\\App|blank|C:\\Program Files\\gone.exe",
                  "HKEY_CURRENT_USER\\Software\\App|expand|C:\\Gone\\%x%.dll",
                  "HKEY_CURRENT_USER\\Software\\Floppy|a|C:\\Gone1.exe", // b stops the key
              }));
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(outcome.values, 8u); // six in App, a and b in Floppy
    EXPECT_EQ(outcome.keys, 2u);

    o.skipBlanks = true;
    o.skipFloppy = false;
    o.anyDrive = true;
    o.softwareOnly = false; // the start key's values and HKEY_USERS\.Default come in
    const auto all = names(scan(o));
    EXPECT_EQ(all, (std::vector<std::string>{
                       "HKEY_CURRENT_USER\\Software|own|C:\\Gone0.exe",
                       "HKEY_CURRENT_USER\\Software\\App|missing|C:\\Missing\\app.exe",
                       "HKEY_CURRENT_USER\\Software\\App|nodrive|D:\\gone.exe",
                       "HKEY_CURRENT_USER\\Software\\App|expand|C:\\Gone\\%x%.dll",
                       "HKEY_CURRENT_USER\\Software\\Floppy|a|C:\\Gone1.exe",
                       "HKEY_CURRENT_USER\\Software\\Floppy|b|A:\\setup.exe",
                       "HKEY_CURRENT_USER\\Software\\Floppy|c|C:\\Gone2.exe",
                       "HKEY_USERS\\.Default|u|C:\\GoneU.exe",
                   }));

    // Stop: the first key ends the scan.
    bool stop = false;
    PathExistence files{DriveMap(folders.windir())};
    OrphanCallbacks cb;
    cb.row = [&](OrphanRow&&) { stop = true; };
    cb.stop = &stop;
    EXPECT_TRUE(scanOrphans(o, files, cb, store).stopped);
}

TEST_F(OrphanScanTest, DeletedOrphansComeBackWithTheirUndo) {
    ensureRegistryPrograms(folders.windir(), KLOVREG_PATH);
    UndoLog log(UndoPlace{folders.home(), folders.windir(), {}, store});
    OrphanOptions o;
    auto rows = scan(o);
    ASSERT_EQ(rows.size(), 4u);
    const auto before =
        reg.OpenKey("\\Software\\App", false) ? reg.ReadRawValues() : std::vector<RawValue>();
    for (OrphanRow& r : rows)
        r.checked = r.name != "blank";
    // One value vanished meanwhile: it counts as deleted.
    ASSERT_TRUE(reg.OpenKey("\\Software\\Floppy", false));
    ASSERT_TRUE(reg.DeleteValue("a"));
    std::vector<std::string> reported;
    EXPECT_EQ(deleteOrphans(
                  rows, log, [&](const std::string& m) { reported.push_back(m); }, store),
              3u);
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(names(rows),
              (std::vector<std::string>{
                  "HKEY_CURRENT_USER\\Software\\App|blank|C:\\Program Files\\gone.exe"}));
    ASSERT_TRUE(reg.OpenKey("\\Software\\App", false));
    EXPECT_FALSE(reg.ValuePresent("missing"));
    EXPECT_FALSE(reg.ValuePresent("expand"));
    ASSERT_EQ(log.entries().size(), 2u);
    EXPECT_EQ(cp932ToUtf8(log.entries()[0].operation).rfind("値の削除 - ", 0), 0u);
    log.undo(0);
    log.undo(0);
    ASSERT_TRUE(reg.OpenKey("\\Software\\App", false));
    EXPECT_EQ(reg.ReadRawValues().size(), before.size());
    for (const RawValue& v : before)
        EXPECT_EQ(reg.ReadRaw(v.name.bytes), v) << v.name.bytes;

    // A key that cannot be written keeps its row and says so.
    store->setAccess(idOf("\\Software\\App"), KeyAccess::ReadOnly);
    for (OrphanRow& r : rows)
        r.checked = true;
    EXPECT_EQ(deleteOrphans(
                  rows, log, [&](const std::string& m) { reported.push_back(m); }, store),
              0u);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(cp932ToUtf8(reported[0]), "値の削除に失敗しました。エラー報告：30-77");
    EXPECT_EQ(rows.size(), 1u);
}

TEST(OrphanReportTest, CsvQuotesAndHtmlParses) {
    const std::vector<OrphanRow> rows = {
        {"\"C:\\a b.exe\" x", "HKEY_CURRENT_USER", "Software\\A", "n,1", "C:\\a b.exe", true},
        {"<C:\\x&y.exe>", "HKEY_CURRENT_USER", "Software\\B", "", "C:\\x&y.exe", false}};
    EXPECT_EQ(cp932ToUtf8(orphanReport(rows, OrphanReportFormat::Csv)),
              "データ,ルートキー,キー,名前,判定パス\r\n"
              "\"\"\"C:\\a b.exe\"\" x\",HKEY_CURRENT_USER,Software\\A,\"n,1\",C:\\a b.exe\r\n"
              "<C:\\x&y.exe>,HKEY_CURRENT_USER,Software\\B,,C:\\x&y.exe\r\n");
    const std::string html = orphanReport(rows, OrphanReportFormat::Html);
    htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "CP932",
                                    HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    ASSERT_NE(doc, nullptr);
    std::vector<std::string> cells;
    const auto walk = [&](auto&& self, xmlNodePtr n) -> void {
        for (; n; n = n->next) {
            if (n->type == XML_ELEMENT_NODE &&
                xmlStrcasecmp(n->name, reinterpret_cast<const xmlChar*>("td")) == 0) {
                xmlChar* t = xmlNodeGetContent(n);
                cells.emplace_back(reinterpret_cast<const char*>(t));
                xmlFree(t);
            }
            self(self, n->children);
        }
    };
    walk(walk, xmlDocGetRootElement(doc));
    xmlFreeDoc(doc);
    ASSERT_EQ(cells.size(), 10u);
    EXPECT_EQ(cells[0], "\"C:\\a b.exe\" x");
    EXPECT_EQ(cells[5], "<C:\\x&y.exe>");
    EXPECT_EQ(cells[9], "C:\\x&y.exe");
}
