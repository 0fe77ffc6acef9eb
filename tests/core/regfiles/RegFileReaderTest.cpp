// Reading registry files: each rule with the exact stored result.
#include "support/RegTestSupport.h"

#include "core/regfiles/RegFileReader.h"
#include "support/TempFolders.h"

#include <gtest/gtest.h>

using namespace klv;
using namespace klv::test;

namespace {

class RegFileReaderTest : public ::testing::Test {
protected:
    TempFolders folders;
    std::shared_ptr<Store> store = Store::open(folders.storeFile());

    // Imports and expects success.
    void ok(std::string_view bytes, int roots = 5) {
        const std::string e = importError(*store, bytes, roots);
        ASSERT_EQ(e, "") << "file:\n" << bytes;
    }
    KeyId key(std::string_view utf8Path, int root = HKCU) {
        auto k = keyAt(*store, root, utf8Path);
        EXPECT_TRUE(k.has_value()) << utf8Path;
        return k.value_or(0);
    }
    // The stored name of a key; "" (and a failure) when it is missing.
    std::string storedName(std::string_view utf8Path) {
        const KeyRecord* k = store->key(key(utf8Path));
        return k ? k->name.bytes : std::string();
    }
    RawValue value(std::string_view utf8Path, std::string_view utf8Name) {
        auto v = valueAt(*store, key(utf8Path), utf8Name);
        EXPECT_TRUE(v.has_value()) << utf8Path << " : " << utf8Name;
        return v.value_or(RawValue{});
    }
    static RawValue narrow(std::string_view utf8Name, std::uint32_t type, std::string data) {
        return RawValue{StoredName{sj(utf8Name), false}, type, std::move(data), false};
    }
};

// --- the header ---

TEST_F(RegFileReaderTest, AcceptsEitherHeaderInEitherEncodingWithLeadingBlanks) {
    ok(cp932File("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=\"1\"\r\n"));
    ok(cp932File("  \tREGEDIT4\n[HKEY_CURRENT_USER\\B]\n"));
    ok(utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\C]\r\n"));
    ok(cp932File("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\D]\r\n"));
    ok(utf16File("REGEDIT4\r\n[HKEY_CURRENT_USER\\E]\r\n"));
    EXPECT_EQ(value("A", "v"), narrow("v", REG_SZ, std::string("1\0", 2)));
    for (const char* k : {"B", "C", "D", "E"})
        key(k);
}

TEST_F(RegFileReaderTest, RefusesEveryOtherFirstLineAndImportsNothing) {
    const std::string body = "\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=\"1\"\r\n";
    const std::vector<std::string> bad = {
        cp932File("REGEDIT4 " + body),
        cp932File("regedit4" + body),
        cp932File("REGEDIT 4" + body),
        cp932File("Windows Registry Editor Version 5.0" + body),
        cp932File("\r\nREGEDIT4" + body),
        cp932File("; comment\r\nREGEDIT4" + body),
        "\xEF\xBB\xBF" + cp932File("REGEDIT4" + body),
        le("Windows Registry Editor Version 5.00" + body),
        "\xFE\xFF" + std::string("\0W\0i\0n", 6),
        "",
        "\xFF\xFE",
    };
    for (const std::string& f : bad) {
        const std::string e = importError(*store, f);
        EXPECT_NE(e.find("test.reg（1 行目）"), std::string::npos) << e;
    }
    EXPECT_NE(importError(*store, bad[6]).find("UTF-8"), std::string::npos);
    EXPECT_NE(importError(*store, bad[7]).find("FF FE"), std::string::npos);
    EXPECT_NE(importError(*store, bad[8]).find("ビッグエンディアン"), std::string::npos);
    EXPECT_FALSE(keyAt(*store, HKCU, "X"));
}

TEST_F(RegFileReaderTest, AcceptsCrLfLfAndCrLineEnds) {
    ok(cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"a\"=\"1\"\r\n\"b\"=dword:2\r\n"));
    ok(cp932File("REGEDIT4\n[HKEY_CURRENT_USER\\B]\n\"a\"=\"1\"\n\"b\"=dword:2\n"));
    ok(cp932File("REGEDIT4\r[HKEY_CURRENT_USER\\C]\r\"a\"=\"1\"\r\"b\"=dword:2"));
    ok(utf16File("REGEDIT4\r[HKEY_CURRENT_USER\\D]\n\"a\"=\"1\"\r\n\"b\"=dword:2\r"));
    for (const char* k : {"A", "B", "C", "D"}) {
        EXPECT_EQ(value(k, "a").data, std::string("1\0", 2)) << k;
        EXPECT_EQ(value(k, "b").data, std::string("\2\0\0\0", 4)) << k;
    }
}

// --- keys ---

TEST_F(RegFileReaderTest, KeyNamesFollowTheRegistryEditorsRules) {
    ok(cp932File("REGEDIT4\r\n"
                 "[hkey_current_user\\Software\\New\\Deep]\r\n"
                 "[HKEY_CURRENT_USER\\Name]With]Brackets] trailing text\r\n"
                 "[HKEY_CURRENT_USER\\ blank inside \\x]\r\n"
                 "[HKEY_CURRENT_USER\\\\Collapse\\\\\\Parts\\]\r\n"
                 "[HKEY_CURRENT_USER\\.\\..]\r\n"
                 "[HKEY_CURRENT_USER]\r\n"
                 "\"OnRoot\"=\"r\"\r\n"));
    key("Software\\New\\Deep");
    key("Name]With]Brackets");
    key(" blank inside \\x");
    key("Collapse\\Parts");
    key(".\\..");
    EXPECT_EQ(storedName("Software"), "Software");
    const auto onRoot = valueAt(*store, Store::rootId(HKCU), "OnRoot");
    ASSERT_TRUE(onRoot);
    EXPECT_EQ(onRoot->data, std::string("r\0", 2));
    EXPECT_EQ(storedName(" blank inside "), " blank inside ");
}

TEST_F(RegFileReaderTest, RootsAreTheFullNamesOfThePlatformFamily) {
    EXPECT_NE(importError(*store, cp932File("REGEDIT4\r\n[HKCU\\Software]\r\n"))
                  .find("（2 行目）: ルートキーの名前が正しくありません: \"HKCU\""),
              std::string::npos);
    EXPECT_NE(importError(*store, cp932File("REGEDIT4\r\n[ HKEY_CURRENT_USER\\a]\r\n")), "");
    EXPECT_NE(importError(*store, cp932File("REGEDIT4\r\n[]\r\n")), "");
    const std::string dyn = cp932File("REGEDIT4\r\n[HKEY_DYN_DATA\\PerfStats]\r\n");
    EXPECT_NE(importError(*store, dyn, 5), "");
    EXPECT_EQ(importError(*store, dyn, 6), "");
    EXPECT_TRUE(keyAt(*store, 5, "PerfStats"));
}

TEST_F(RegFileReaderTest, DeletionLinesRemoveWholeTreesAndValues) {
    ok(cp932File(
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Gone\\Sub\\Deeper]\r\n\"x\"=\"1\"\r\n"
        "[HKEY_CURRENT_USER\\Keep]\r\n\"a\"=\"1\"\r\n@=\"d\"\r\n\"b\"=\"2\"\r\n\"c\"=\"3\"\r\n"));
    ok(cp932File("REGEDIT4\r\n[-HKEY_CURRENT_USER\\gone]\r\n[-HKEY_CURRENT_USER\\Never\\There]\r\n"
                 "[HKEY_CURRENT_USER\\Keep]\r\n\"a\"=-\r\n@ = -\r\n\"b\"  =  - ; comment\r\n"
                 "\"missing\"=-\r\n"));
    EXPECT_FALSE(keyAt(*store, HKCU, "Gone"));
    const KeyId k = key("Keep");
    ASSERT_EQ(store->values(k).size(), 1u);
    EXPECT_EQ(store->values(k)[0].name.bytes, "c");
    EXPECT_NE(importError(*store, cp932File("REGEDIT4\r\n[-HKEY_CURRENT_USER]\r\n"))
                  .find("ルートキーは削除できません"),
              std::string::npos);
    // After a deletion line no key is open.
    EXPECT_NE(
        importError(*store, cp932File("REGEDIT4\r\n[-HKEY_CURRENT_USER\\Keep]\r\n\"x\"=\"1\"\r\n"))
            .find("（3 行目）"),
        std::string::npos);
    EXPECT_TRUE(keyAt(*store, HKCU, "Keep"));
}

// --- values ---

TEST_F(RegFileReaderTest, StringsAndNamesUnescapeAsTheRegistryEditorDoes) {
    ok(cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\S]\r\n"
                 "\"q\\\"n\\\\\"=\"a\\\\b\\\"c\\nd\\re\"\r\n"
                 "\"other\"=\"\\t\\x\\%\"\r\n"
                 "\"\"=\"default by empty name\"\r\n"
                 "\"spaced\" =  \"v\"   ; inline comment\r\n"
                 "\"semi\"=\"a;b\"\r\n"));
    EXPECT_EQ(value("S", "q\"n\\").data, std::string("a\\b\"c\nd\re\0", 10));
    EXPECT_EQ(value("S", "other").data, std::string("tx%\0", 4));
    EXPECT_EQ(value("S", "").data, sj("default by empty name") + '\0');
    EXPECT_EQ(value("S", "spaced").data, std::string("v\0", 2));
    EXPECT_EQ(value("S", "semi").data, std::string("a;b\0", 4));
    EXPECT_NE(
        importError(*store, cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\S]\r\n\"z\"=\"a\\0b\"\r\n"))
            .find("\\0"),
        std::string::npos);
    EXPECT_FALSE(valueAt(*store, key("S"), "z"));
}

TEST_F(RegFileReaderTest, DwordTakesOneToEightHexDigits) {
    ok(cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\D]\r\n"
                 "\"a\"=dword:00000001\r\n\"b\"=dword:   fFfFfFfF ; max\r\n\"c\"=dword:7b\r\n"));
    EXPECT_EQ(value("D", "a"), narrow("a", REG_DWORD, std::string("\1\0\0\0", 4)));
    EXPECT_EQ(value("D", "b").data, "\xFF\xFF\xFF\xFF");
    EXPECT_EQ(value("D", "c").data, std::string("\x7B\0\0\0", 4));
    for (const char* bad : {"dword:0x1", "dword:-1", "dword:+1", "dword:123456789",
                            "dword:", "dword:1 2", "DWORD:1", "dword :1", "dword:g"}) {
        const std::string e = importError(
            *store, cp932File(std::string("REGEDIT4\r\n[HKEY_CURRENT_USER\\D]\r\n\"bad\"=") + bad +
                              "\r\n"));
        EXPECT_NE(e.find("（3 行目）"), std::string::npos) << bad << " -> " << e;
    }
    EXPECT_FALSE(valueAt(*store, key("D"), "bad"));
}

TEST_F(RegFileReaderTest, HexListsContinueOverLinesWithCommentsBetween) {
    ok(cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\H]\r\n"
                 "\"bin\"=hex:01,2,ff,\\\r\n"
                 "\r\n"
                 "; a comment between\r\n"
                 "  # another\r\n"
                 "    a0,0b,\\  \r\n"
                 "  c\r\n"
                 "\"trail\"=hex:01,02,  \r\n"
                 "\"empty\"=hex:\r\n"
                 "\"commented\"=hex:05 ; five\r\n"
                 "\"qword\"=hex(b):01,02,03,04\r\n"
                 "\"upper\"=hex(A):ff\r\n"
                 "\"big\"=hex(20000):01,02,03\r\n"
                 "\"none\"=hex(0):\r\n"
                 "\"binary\"=hex(3):11\r\n"));
    EXPECT_EQ(value("H", "bin"), narrow("bin", REG_BINARY, "\x01\x02\xFF\xA0\x0B\x0C"));
    EXPECT_EQ(value("H", "trail").data, "\x01\x02");
    EXPECT_EQ(value("H", "empty"), narrow("empty", REG_BINARY, ""));
    EXPECT_EQ(value("H", "commented").data, "\x05");
    EXPECT_EQ(value("H", "qword"), narrow("qword", REG_QWORD, "\x01\x02\x03\x04"));
    EXPECT_EQ(value("H", "upper").type, 10u);
    EXPECT_EQ(value("H", "big"), narrow("big", 0x20000, "\x01\x02\x03"));
    EXPECT_EQ(value("H", "none"), narrow("none", REG_NONE, ""));
    EXPECT_EQ(value("H", "binary").type, REG_BINARY);
    for (const char* bad :
         {"hex:001", "hex:01,,02", "hex:,", "hex:01 02", "hex:0g", "HEX:01", "hex(2:01", "hex():01",
          "hex(123456789):01", "hex(1)01", "hex:01,\\ x", "str:1", "01", "\"unterminated",
          // Blanks inside the list.
          "hex: 01", "hex:01 ,02", "hex:01, 02", "hex: 01 , 02 ,03", "hex(2):41 ,00",
          "hex:01, \\\r\n  02,03"}) {
        const std::string e = importError(
            *store, cp932File(std::string("REGEDIT4\r\n[HKEY_CURRENT_USER\\H]\r\n\"bad\"=") + bad +
                              "\r\n"));
        EXPECT_NE(e.find("（3 行目）"), std::string::npos) << bad << " -> " << e;
    }
}

TEST_F(RegFileReaderTest, TextHexDataFollowsTheFilesEncoding) {
    // CP932 bytes in a CP932 file (whatever its header), with a NUL added where missing.
    ok(cp932File("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\T]\r\n"
                 "\"exp\"=hex(2):25,41,25\r\n"
                 "\"done\"=hex(2):41,00\r\n"
                 "\"multi\"=hex(7):61,00,62,00,00\r\n"
                 "\"sz\"=hex(1):95,5c\r\n"
                 "\"empty\"=hex(2):\r\n"
                 "\"kept\"=hex(01):41,42\r\n"));
    EXPECT_EQ(value("T", "exp"), narrow("exp", REG_EXPAND_SZ, std::string("%A%\0", 4)));
    EXPECT_EQ(value("T", "done").data, std::string("A\0", 2));
    EXPECT_EQ(value("T", "multi"), narrow("multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)));
    EXPECT_EQ(value("T", "sz"), narrow("sz", REG_SZ, sj("表") + '\0'));
    EXPECT_EQ(value("T", "empty"), narrow("empty", REG_EXPAND_SZ, ""));
    EXPECT_EQ(value("T", "kept"), narrow("kept", REG_SZ, "AB"));

    // UTF-16LE in a UTF-16 file (whatever its header): CP932 when it can be, else kept wide.
    ok(utf16File("REGEDIT4\r\n[HKEY_CURRENT_USER\\U]\r\n"
                 "\"exp\"=hex(2):25,00,41,00,25,00\r\n"
                 "\"multi\"=hex(7):68,88,00,00,bd,30,00,00,00,00\r\n"
                 "\"wide\"=hex(2):e9,00,00,00\r\n"
                 "\"odd\"=hex(1):41,00,42\r\n"
                 "\"kept\"=hex(07):61,00\r\n"));
    EXPECT_EQ(value("U", "exp"), narrow("exp", REG_EXPAND_SZ, std::string("%A%\0", 4)));
    EXPECT_EQ(value("U", "multi"),
              narrow("multi", REG_MULTI_SZ, sj("表") + '\0' + sj("ソ") + '\0' + '\0'));
    EXPECT_EQ(value("U", "wide"), (RawValue{StoredName{"wide", false}, REG_EXPAND_SZ,
                                            std::string("\xE9\0\0\0", 4), true}));
    EXPECT_EQ(value("U", "odd"),
              (RawValue{StoredName{"odd", false}, REG_SZ, std::string("A\0B", 3), true}));
    EXPECT_EQ(value("U", "kept"), narrow("kept", REG_MULTI_SZ, "a"));
}

TEST_F(RegFileReaderTest, UnicodeFilesKeepWhatCp932CannotHoldInUtf16) {
    ok(utf16File("Windows Registry Editor Version 5.00\r\n\r\n"
                 "[HKEY_CURRENT_USER\\Café\\日本]\r\n"
                 "\"naïve\"=\"crème ☃\"\r\n"
                 "\"日本語\"=\"テスト\"\r\n"));
    const auto cafe = store->child(Store::rootId(HKCU), StoredName{le("Café"), true});
    ASSERT_TRUE(cafe);
    const auto nihon = store->child(*cafe, sj("日本"));
    ASSERT_TRUE(nihon);
    EXPECT_EQ(valueAt(*store, *nihon, StoredName{le("naïve"), true}),
              (RawValue{StoredName{le("naïve"), true}, REG_SZ, le("crème ☃") + std::string(2, '\0'),
                        true}));
    EXPECT_EQ(valueAt(*store, *nihon, "日本語"), narrow("日本語", REG_SZ, sj("テスト") + '\0'));
}

TEST_F(RegFileReaderTest, DoubleByteCharactersNeverActAsBackslashOrBrackets) {
    // 表 and ソ end in 0x5C, ゼ in 0x5B, 評 and ゾ in 0x5D.
    const std::string text = "[HKEY_CURRENT_USER\\表\\ソフト]\r\n"
                             "\"表示\"=\"ソ\"\r\n"
                             "\"評\"=\"ゼ]\\\\\"\r\n"
                             "[HKEY_CURRENT_USER\\評]\r\n"
                             "[HKEY_CURRENT_USER\\ゾ\\ゼ]\r\n";
    for (int form = 0; form < 2; ++form) {
        SCOPED_TRACE(form);
        store->refresh();
        ok(form == 0 ? cp932File("REGEDIT4\r\n" + text)
                     : utf16File("Windows Registry Editor Version 5.00\r\n" + text));
        EXPECT_EQ(storedName("表"), "\x95\x5C");
        EXPECT_EQ(storedName("表\\ソフト"), sj("ソフト"));
        EXPECT_EQ(value("表\\ソフト", "表示").data, sj("ソ") + '\0');
        EXPECT_EQ(value("表\\ソフト", "評").data, sj("ゼ]\\") + '\0');
        EXPECT_EQ(storedName("評"), "\x95\x5D");
        key("ゾ\\ゼ");
        ok(cp932File("REGEDIT4\r\n[-HKEY_CURRENT_USER\\表]\r\n[-HKEY_CURRENT_USER\\評]\r\n"
                     "[-HKEY_CURRENT_USER\\ゾ]\r\n"));
        EXPECT_TRUE(store->children(Store::rootId(HKCU)).empty());
    }
}

// --- malformed files ---

TEST_F(RegFileReaderTest, AMalformedLineNamesFileLineAndReasonAndImportsNothing) {
    std::string text = "REGEDIT4\r\n";
    for (int i = 0; i < 3000; ++i)
        text += "\r\n[HKEY_CURRENT_USER\\Long\\K" + std::to_string(i) +
                "]\r\n\"v\"=dword:" + std::to_string(i % 10) + "\r\n";
    const int badLine = 1 + 3000 * 3 + 1;
    const std::string bad = text + "\"w\"=dword:123456789\r\n";
    const std::vector<std::string> before = dumpStore(*store, 6);
    const std::string e = importError(*store, cp932File(bad), 5, "/tmp/長い.reg");
    EXPECT_NE(e.find("/tmp/長い.reg（" + std::to_string(badLine) + " 行目）: dword:"),
              std::string::npos)
        << e;
    EXPECT_EQ(dumpStore(*store, 6), before);
    EXPECT_FALSE(keyAt(*store, HKCU, "Long"));
    ok(cp932File(text));
    EXPECT_EQ(store->children(key("Long")).size(), 3000u);
}

TEST_F(RegFileReaderTest, LinesThatAreNeitherKeysNorValuesAreErrors) {
    struct Case {
        const char* body;
        int line;
        const char* reason;
    };
    const Case cases[] = {
        {"\"v\"=\"1\"\r\n", 2, "値の前にキーの行が必要です"},
        {"[HKEY_CURRENT_USER\\a\r\n", 2, "]"},
        {"[HKEY_CURRENT_USER\\a]\r\nplain text\r\n", 3, "解釈できない行"},
        {"[HKEY_CURRENT_USER\\a]\r\n\"v\" \"1\"\r\n", 3, "="},
        {"[HKEY_CURRENT_USER\\a]\r\n\"v\"=\r\n", 3, "データがありません"},
        {"[HKEY_CURRENT_USER\\a]\r\n\"v\"=\"1\" x\r\n", 3, "余分な文字"},
        {"[HKEY_CURRENT_USER\\a]\r\n\"v=\"1\"\r\n", 3, "="},
        {"[HKEY_CURRENT_USER\\a]\r\n\r\n\r\n@x=\"1\"\r\n", 5, "="},
    };
    for (const Case& c : cases) {
        const std::string e = importError(*store, cp932File(std::string("REGEDIT4\r\n") + c.body));
        EXPECT_NE(e.find("（" + std::to_string(c.line) + " 行目）"), std::string::npos)
            << c.body << e;
        EXPECT_NE(e.find(c.reason), std::string::npos) << c.body << e;
    }
    EXPECT_TRUE(store->children(Store::rootId(HKCU)).empty());
}

// --- access ---

// Writes into keys that may not be written are refused key by key, each named with its line;
// everything else of the file is imported, in one transaction.
TEST_F(RegFileReaderTest, KeysThatMayNotBeWrittenAreRefusedAndTheRestImported) {
    ok(cp932File(
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\RO\\Sub]\r\n\"v\"=\"old\"\r\n"
        "[HKEY_LOCAL_MACHINE\\NA\\Inner]\r\n"
        "[HKEY_LOCAL_MACHINE\\Tree\\Locked\\Leaf]\r\n[HKEY_LOCAL_MACHINE\\Tree\\Free]\r\n"));
    const KeyId ro = *keyAt(*store, HKLM, "RO");
    store->setValue(ro, RawValue{{"kept"}, REG_SZ, std::string("1\0", 2)});
    store->setAccess(ro, KeyAccess::ReadOnly);
    store->setAccess(*keyAt(*store, HKLM, "NA"), KeyAccess::None);
    store->setAccess(*keyAt(*store, HKLM, "Tree\\Locked"), KeyAccess::ReadOnly);

    ImportOptions o;
    const ImportReport r = RegImporter(*store, o).importBytes(
        cp932File("REGEDIT4\r\n"
                  "[HKEY_LOCAL_MACHINE\\RO]\r\n"              // 2: named only: no write
                  "[HKEY_LOCAL_MACHINE\\Fine]\r\n"            // 3
                  "\"a\"=\"1\"\r\n"                           // 4
                  "[HKEY_LOCAL_MACHINE\\RO]\r\n"              // 5
                  "\"v\"=\"1\"\r\n"                           // 6: refused
                  "\"kept\"=-\r\n"                            // 7: refused with it
                  "[HKEY_LOCAL_MACHINE\\RO\\Sub]\r\n"         // 8: writable below
                  "\"v\"=\"new\"\r\n"                         // 9
                  "[HKEY_LOCAL_MACHINE\\RO\\New\\Deeper]\r\n" // 10: cannot be created
                  "\"x\"=\"1\"\r\n"                           // 11
                  "[HKEY_LOCAL_MACHINE\\NA]\r\n"              // 12
                  "@=\"1\"\r\n"                               // 13: refused
                  "[-HKEY_LOCAL_MACHINE\\Tree]\r\n"           // 14: Locked stays, Free goes
                  "[HKEY_LOCAL_MACHINE\\Fine]\r\n"            // 15
                  "\"b\"=dword:00000002\r\n"),                // 16
        "t.reg");
    struct Seen {
        std::string key;
        int line;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    for (const RefusedKey& k : r.refused)
        seen.push_back(Seen{cp932ToUtf8(k.key), k.line});
    const std::vector<Seen> expected{{"HKEY_LOCAL_MACHINE\\RO", 6},
                                     {"HKEY_LOCAL_MACHINE\\RO\\New\\Deeper", 10},
                                     {"HKEY_LOCAL_MACHINE\\NA", 13},
                                     {"HKEY_LOCAL_MACHINE\\Tree\\Locked", 14}};
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], expected[i]) << i << ": " << seen[i].key << " " << seen[i].line;
    EXPECT_EQ(cp932ToUtf8(r.refused.front().reason), "このキーへの書き込みは許可されていません");

    const auto hklm = [&](const char* path, const char* name) {
        const auto k = keyAt(*store, HKLM, path);
        return k ? valueAt(*store, *k, name) : std::nullopt;
    };
    ASSERT_TRUE(hklm("Fine", "a"));
    EXPECT_EQ(hklm("Fine", "a")->data, std::string("1\0", 2));
    ASSERT_TRUE(hklm("Fine", "b"));
    EXPECT_EQ(hklm("Fine", "b")->type, REG_DWORD);
    EXPECT_FALSE(valueAt(*store, ro, "v"));
    EXPECT_TRUE(valueAt(*store, ro, "kept"));
    ASSERT_TRUE(hklm("RO\\Sub", "v"));
    EXPECT_EQ(hklm("RO\\Sub", "v")->data, std::string("new\0", 4));
    EXPECT_FALSE(keyAt(*store, HKLM, "RO\\New"));
    EXPECT_TRUE(store->values(*keyAt(*store, HKLM, "NA")).empty());
    EXPECT_TRUE(keyAt(*store, HKLM, "Tree\\Locked"));
    EXPECT_FALSE(keyAt(*store, HKLM, "Tree\\Locked\\Leaf")); // below a read-only key: it goes
    EXPECT_FALSE(keyAt(*store, HKLM, "Tree\\Free"));
}

TEST_F(RegFileReaderTest, AReadOnlyStoreFileRefusesTheImport) {
    store.reset();
    std::filesystem::permissions(folders.storeFile(), std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::group_read);
    store = Store::open(folders.storeFile());
    ASSERT_TRUE(store->readOnly());
    const std::string e = importError(*store, cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\a]\r\n"));
    EXPECT_NE(e.find("test.reg: "), std::string::npos) << e;
}

TEST_F(RegFileReaderTest, StoreLimitsAreReportedAtTheirLine) {
    const std::string longName(256, 'k');
    const std::string e = importError(
        *store, cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\ok]\r\n[HKEY_CURRENT_USER\\" + longName +
                          "]\r\n"));
    EXPECT_NE(e.find("（3 行目）: キーの名前が長すぎます"), std::string::npos) << e;
    EXPECT_FALSE(keyAt(*store, HKCU, "ok"));
    const std::string longValue(16384, 'v');
    EXPECT_NE(importError(*store, cp932File("REGEDIT4\r\n[HKEY_CURRENT_USER\\ok]\r\n\"" +
                                            longValue + "\"=\"x\"\r\n"))
                  .find("（3 行目）: 値の名前が長すぎます"),
              std::string::npos);
}

TEST_F(RegFileReaderTest, ReaderReportsEveryRequestInFileOrder) {
    struct Recorder final : RegFileSink {
        std::vector<std::string> log;
        void openKey(const RegKeyPath& p) override { log.push_back("open " + describe(p)); }
        void deleteKey(const RegKeyPath& p) override { log.push_back("delete " + describe(p)); }
        void setValue(const RawValue& v) override { log.push_back("set " + v.name.bytes); }
        void deleteValue(const StoredName& n) override { log.push_back("unset " + n.bytes); }
        static std::string describe(const RegKeyPath& p) {
            std::string s = std::to_string(p.root);
            for (const StoredName& n : p.components)
                s += "/" + n.bytes;
            return s;
        }
    } rec;
    const RegFileForm form = RegFileReader(6).read(
        cp932File("REGEDIT4\n[HKEY_USERS\\a\\b]\n\"x\"=\"1\"\n@=-\n[-HKEY_CLASSES_ROOT\\c]\n"
                  "[HKEY_DYN_DATA]\n"),
        rec);
    EXPECT_EQ(form, RegFileForm::Regedit4);
    EXPECT_EQ(rec.log,
              (std::vector<std::string>{"open 3/a/b", "set x", "unset ", "delete 0/c", "open 5"}));
}

} // namespace

// A NUL anywhere after the header, and bytes that are no CP932 character, make the file
// malformed at their line: nothing is imported and no substitute character is stored.
TEST_F(RegFileReaderTest, NulsAndBytesThatAreNoCp932CharacterAreMalformed) {
    const std::string head = "REGEDIT4\r\n[HKEY_CURRENT_USER\\Fine]\r\n\"a\"=\"1\"\r\n";
    struct Case {
        std::string body;
        int line;
        const char* reason;
    };
    const std::vector<Case> cases{
        {std::string("\"v\"=\"x\0y\"\r\n", 11), 4, "NUL"},
        {std::string("; note\0\r\n", 9), 4, "NUL"},
        {std::string("\"v\"=hex:01,\0\r\n", 14), 4, "NUL"},
        {"\"v\"=\"ab\x81\"\r\n", 4, "81"},
        {"\"v\"=\"\x81\"\r\n", 4, "81"},
        {"[HKEY_CURRENT_USER\\k\x85\x40]\r\n", 4, "85 40"},
        {"\"\xA0\"=\"1\"\r\n", 4, "A0"},
        {"\"v\"=\"\xFD\"\r\n", 4, "FD"},
    };
    for (const Case& c : cases) {
        const std::string e = importError(*store, sj(head) + c.body);
        EXPECT_NE(e.find("（" + std::to_string(c.line) + " 行目）"), std::string::npos) << e;
        EXPECT_NE(e.find(c.reason), std::string::npos) << e;
    }
    const std::string wide = "\xFF\xFE" +
                             le("Windows Registry Editor Version 5.00\r\n\r\n"
                                "[HKEY_CURRENT_USER\\Fine]\r\n\"v\"=\"x") +
                             std::string(2, '\0') + le("y\"\r\n");
    const std::string e = importError(*store, wide);
    EXPECT_NE(e.find("（4 行目）"), std::string::npos) << e;
    EXPECT_TRUE(store->children(Store::rootId(HKCU)).empty());
    // Half-width kana and ordinary double-byte characters are characters.
    ok(sj(head) + "\"\xB1\"=\"\x95\x5C\"\r\n");
    EXPECT_EQ(value("Fine", "\xEF\xBD\xB1").data, std::string("\x95\x5C\0", 3));
}
