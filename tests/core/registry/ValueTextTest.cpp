#include "core/registry/ValueText.h"
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryError.h"
#include "support/TempFolders.h"

#include <gtest/gtest.h>
#include <map>

using namespace klv;

namespace {

struct Row {
    std::string name, data, kind;
    int image;
    bool operator==(const Row&) const = default;
};

std::vector<Row> shown(TRegistry& reg) {
    std::vector<Row> rows;
    for (const ValueRow& r : valueRows(reg))
        rows.push_back(Row{r.name, r.data, r.kind, r.image});
    return rows;
}

void PrintTo(const Row& r, std::ostream* os) {
    *os << "{" << cp932ToUtf8(r.name) << " | " << cp932ToUtf8(r.data) << " | "
        << cp932ToUtf8(r.kind) << " | " << r.image << "}";
}

} // namespace

TEST(ValueText, IntegerTextsShowUnsignedDecimalAndEightHexDigits) {
    EXPECT_EQ(integerText(0), "0 (0x00000000)");
    EXPECT_EQ(integerText(10), "10 (0x0000000A)");
    EXPECT_EQ(integerText(0x80000000u), "2147483648 (0x80000000)");
    EXPECT_EQ(integerText(0xFFFFFFFFu), "4294967295 (0xFFFFFFFF)");

    // The decimal part before the first blank is what the editor gets back.
    EXPECT_EQ(parseIntegerText("4294967295 (0xFFFFFFFF)"), 0xFFFFFFFFu);
    EXPECT_EQ(parseIntegerText(integerText(10)), 10u);
    EXPECT_EQ(parseIntegerText("0"), 0u);
    EXPECT_EQ(parseIntegerText("4294967296"), std::nullopt);
    EXPECT_EQ(parseIntegerText("99999999999"), std::nullopt);
    EXPECT_EQ(parseIntegerText("-1"), std::nullopt);
    EXPECT_EQ(parseIntegerText("12a (0x0000000C)"), std::nullopt);
    EXPECT_EQ(parseIntegerText(""), std::nullopt);
    EXPECT_EQ(parseIntegerText(" 5"), std::nullopt);
}

TEST(ValueText, HexTextsAndTheirParser) {
    EXPECT_EQ(hexText("\x01\xAB\xFF"), "01 AB FF ");
    EXPECT_EQ(hexText(""), "");
    EXPECT_EQ(hexText(std::string(2, '\0')), "00 00 ");

    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(parseHexText(hexText(all)), all);
    EXPECT_EQ(hexText(all).size(), 768u);

    // Every hex digit counts, anything else is skipped, a final lone digit is dropped.
    EXPECT_EQ(parseHexText("01 ab FF "), "\x01\xAB\xFF");
    EXPECT_EQ(parseHexText("0,1x;Ag-b"), "\x01\xAB");
    EXPECT_EQ(parseHexText("abc"), "\xAB");
    EXPECT_EQ(parseHexText("F"), "");
    EXPECT_EQ(parseHexText(""), "");
    // ア is 83 41: its trail byte is no digit "A".
    EXPECT_EQ(parseHexText(sj("ア") + "12" + sj("ｆ")), "\x12");
}

TEST(ValueText, KindNamesImagesAndCaptions) {
    struct Expect {
        ValueKind kind;
        const char* name;
        int image;
        const char* caption;
    };
    for (const Expect& e : {
             Expect{ValueKind::String, "文字列", 2, "文字列(&S)"},
             Expect{ValueKind::ExpandString, "拡張文字列", 10, "拡張文字列(&E)"},
             Expect{ValueKind::Integer, "数値", 4, "数値（DWORD値）(&D)"},
             Expect{ValueKind::Binary, "バイナリ", 3, "バイナリ(&B)"},
             Expect{ValueKind::MultiString, "マルチ文字列", 6, "マルチ文字列(&M)"},
             Expect{ValueKind::Unknown, "バイナリ", 3, ""},
         }) {
        EXPECT_EQ(kindName(e.kind), sj(e.name)) << e.name;
        EXPECT_EQ(kindImage(e.kind), e.image) << e.name;
        EXPECT_EQ(newValueCaption(e.kind), sj(e.caption)) << e.name;
    }
    EXPECT_EQ(defaultValueCaption(), sj("(標準)"));
    EXPECT_EQ(noValueDataText(), sj("(値の設定なし)"));

    EXPECT_EQ(valueKindOf(REG_SZ), ValueKind::String);
    EXPECT_EQ(valueKindOf(REG_EXPAND_SZ), ValueKind::ExpandString);
    EXPECT_EQ(valueKindOf(REG_BINARY), ValueKind::Binary);
    EXPECT_EQ(valueKindOf(REG_DWORD), ValueKind::Integer);
    EXPECT_EQ(valueKindOf(REG_MULTI_SZ), ValueKind::MultiString);
    for (std::uint32_t other : {0u, 5u, 6u, 8u, 9u, 10u, 11u, 0xFFFFFFFFu})
        EXPECT_EQ(valueKindOf(other), ValueKind::Unknown) << other;

    // Names map back exactly; "バイナリ" is binary, which is how unknown kinds are edited.
    for (ValueKind k : {ValueKind::String, ValueKind::ExpandString, ValueKind::Integer,
                        ValueKind::Binary, ValueKind::MultiString})
        EXPECT_EQ(kindFromName(kindName(k)), k);
    EXPECT_EQ(kindFromName(kindName(ValueKind::Unknown)), ValueKind::Binary);
    EXPECT_EQ(kindFromName(sj("文字")), std::nullopt);
    EXPECT_EQ(kindFromName(sj("文字列(&S)")), std::nullopt);
    EXPECT_EQ(kindFromName(""), std::nullopt);
}

TEST(ValueText, MultiStringTextEndsEveryStringWithCrLf) {
    EXPECT_EQ(multiStringText({"a", sj("日本語"), ""}), "a\r\n" + sj("日本語") + "\r\n\r\n");
    EXPECT_EQ(multiStringText({}), "");
}

TEST(ValueText, RowsShowEveryValueOfTheKey) {
    test::TempFolders folders;
    TRegistry reg(Store::open(folders.storeFile()));
    ASSERT_TRUE(reg.OpenKey("\\Rows", true));
    // A key without values shows its unset default value.
    const std::vector<Row> unset{{sj("(標準)"), sj("(値の設定なし)"), sj("文字列"), 2}};
    EXPECT_EQ(shown(reg), unset);
    EXPECT_EQ(valueRows(reg).front().valueName, "");

    reg.WriteString("s", sj("日本語"));
    reg.WriteExpandString("e", "%SystemRoot%\\system32");
    reg.WriteInteger("d", 10);
    reg.WriteMultiString("m", {"a", sj("表")});
    reg.WriteBinary("b", "\x01\xAB\xFF", 3);
    reg.WriteBinary("empty", nullptr, 0);
    reg.WriteRaw(RawValue{{"q"}, REG_QWORD, std::string("\x01\x00\x00\x00\x00\x00\x00\x80", 8)});
    reg.WriteRaw(RawValue{{"none"}, REG_NONE, "\x7F"});
    reg.WriteRaw(RawValue{{"long"}, REG_DWORD, std::string(8, '\x11')}); // malformed
    // Without a default value there is no "(標準)" row.
    EXPECT_EQ(shown(reg), (std::vector<Row>{
                              {"s", sj("日本語"), sj("文字列"), 2},
                              {"e", "%SystemRoot%\\system32", sj("拡張文字列"), 10},
                              {"d", "10 (0x0000000A)", sj("数値"), 4},
                              {"m", "a\r\n" + sj("表") + "\r\n", sj("マルチ文字列"), 6},
                              {"b", "01 AB FF ", sj("バイナリ"), 3},
                              {"empty", "", sj("バイナリ"), 3},
                              {"q", "01 00 00 00 00 00 00 80 ", sj("バイナリ"), 3},
                              {"none", "7F ", sj("バイナリ"), 3},
                              {"long", "11 11 11 11 11 11 11 11 ", sj("数値"), 4},
                          }));

    // The default value, once set, shows under "(標準)" with its data.
    reg.WriteInteger("", 0xFFFFFFFFu);
    const std::vector<ValueRow> rows = valueRows(reg);
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows.back().valueName, "");
    EXPECT_EQ((Row{rows.back().name, rows.back().data, rows.back().kind, rows.back().image}),
              (Row{sj("(標準)"), "4294967295 (0xFFFFFFFF)", sj("数値"), 4}));
    EXPECT_EQ(rows.front().valueName, "s");
    EXPECT_EQ(dataText(reg, ""), "4294967295 (0xFFFFFFFF)");
    EXPECT_THROW(dataText(reg, "missing"), RegistryError);
}

// Values whose names or bytes do not have the forms the access layer writes still show their
// real kind and data, and are marked as not editable, so no editor writes them back changed.
TEST(ValueText, RowsOfValuesThatDoNotFitTheirKindShowThemAndRefuseEditing) {
    test::TempFolders folders;
    TRegistry reg(Store::open(folders.storeFile()));
    ASSERT_TRUE(reg.OpenKey("\\Odd", true));
    reg.WriteString("s", "text");
    reg.WriteInteger("d", 7);
    reg.WriteMultiString("m", {"a", "b"});
    reg.WriteBinary("b", "\x01", 1);
    reg.WriteRaw(RawValue{{"short"}, REG_DWORD, std::string("\x01\x02", 2)});
    reg.WriteRaw(RawValue{{"long"}, REG_DWORD, std::string(8, '\x11')});
    reg.WriteRaw(RawValue{{"unended"}, REG_SZ, "abc"});
    reg.WriteRaw(RawValue{{"tail"}, REG_SZ, std::string("a\0b\0", 4)});
    reg.WriteRaw(RawValue{{"gap"}, REG_MULTI_SZ, std::string("a\0\0b\0\0", 6)});
    reg.WriteRaw(RawValue{{"q"}, REG_QWORD, std::string(8, '\x01')});
    // A name and a text that CP932 cannot hold ("ñ"), kept in their UTF-16 form.
    reg.WriteRaw(RawValue{StoredName{utf8ToUtf16("añ"), true}, REG_SZ,
                          utf8ToUtf16("x") + std::string("\0\0", 2) + utf8ToUtf16("ñ"), true});

    std::map<std::string, std::pair<Row, bool>> rows;
    for (const ValueRow& r : valueRows(reg))
        rows[r.valueName] = {Row{r.name, r.data, r.kind, r.image}, r.editable};
    const auto row = [&](const std::string& name) { return rows.at(name); };
    EXPECT_TRUE(row("s").second);
    EXPECT_TRUE(row("d").second);
    EXPECT_TRUE(row("m").second);
    EXPECT_TRUE(row("b").second);
    EXPECT_EQ(row("short"), std::make_pair(Row{"short", "01 02 ", sj("数値"), 4}, false));
    EXPECT_EQ(row("long").first.data, "11 11 11 11 11 11 11 11 ");
    EXPECT_FALSE(row("long").second);
    EXPECT_EQ(row("unended").first.data, "abc");
    EXPECT_FALSE(row("unended").second);
    EXPECT_FALSE(row("tail").second);
    EXPECT_FALSE(row("gap").second);
    EXPECT_FALSE(row("q").second);
    const std::string wide = "a" + std::string(kCp932Geta);
    ASSERT_EQ(rows.count(wide), 1u);
    EXPECT_EQ(row(wide), std::make_pair(Row{wide, "x", sj("文字列"), 2}, false));
    EXPECT_EQ(rows.size(), 11u);
}
