// Writing registry files: the exact bytes of both forms.
#include "support/RegTestSupport.h"

#include "core/regfiles/RegFileReader.h"
#include "core/regfiles/RegFileWriter.h"

#include <gtest/gtest.h>

using namespace klv;
using namespace klv::test;

namespace {

RawValue val(std::string_view name, std::uint32_t type, std::string data) {
    return RawValue{StoredName{sj(name), false}, type, std::move(data), false};
}

// Every kind of value, as both forms write them.
std::vector<RawValue> everyKind() {
    return {
        val("", REG_SZ, std::string("def\0", 4)),
        val("quote\"back\\", REG_SZ, std::string("a\"b\\c\r\nd\0", 9)),
        val("表", REG_SZ, sj("ソ表") + '\0'),
        val("dw", REG_DWORD, std::string("\xCD\xAB\0\0", 4)),
        val("bin", REG_BINARY, "\x01\xFF"),
        val("exp", REG_EXPAND_SZ, std::string("%A%\0", 4)),
        val("multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)),
        val("q", REG_QWORD, std::string("\x01\0\0\0\0\0\0\x80", 8)),
        val("odd", 0x20000, "\x01\x02\x03"),
        val("none", REG_NONE, ""),
        val("dw3", REG_DWORD, "\x01\x02\x03"),
        val("nul", REG_SZ, std::string("a\0b\0", 4)),
        val("unterminated", REG_SZ, "ab"),
        val("zero", REG_SZ, ""),
        val("emptytext", REG_SZ, std::string("\0", 1)),
        val("unterminatedexp", REG_EXPAND_SZ, "x"),
    };
}

std::string write(RegFileForm form, const std::vector<RawValue>& values,
                  std::vector<RegFileWriter::Outcome>* outcomes = nullptr) {
    std::string out;
    RegFileWriter w(
        form, [&](std::string_view b) { out.append(b); }, 64);
    w.writeHeader();
    w.startRoot("HKEY_CURRENT_USER");
    EXPECT_TRUE(w.pushName(StoredName{"Software", false}));
    w.writeKeyLine();
    for (const RawValue& v : values) {
        const auto o = w.writeValue(v);
        if (outcomes)
            outcomes->push_back(o);
    }
    EXPECT_TRUE(w.pushName(StoredName{sj("表"), false}));
    w.writeKeyLine();
    w.popName();
    w.popName();
    w.writeKeyLine();
    w.finish();
    EXPECT_EQ(w.bytesWritten(), out.size());
    return out;
}

TEST(RegFileWriterTest, Regedit4LayoutAndEveryKindOfValue) {
    std::vector<RegFileWriter::Outcome> outcomes;
    const std::string expected = sj("REGEDIT4\r\n"
                                    "\r\n"
                                    "[HKEY_CURRENT_USER\\Software]\r\n"
                                    "@=\"def\"\r\n"
                                    "\"quote\\\"back\\\\\"=\"a\\\"b\\\\c\\r\\nd\"\r\n"
                                    "\"表\"=\"ソ表\"\r\n"
                                    "\"dw\"=dword:0000abcd\r\n"
                                    "\"bin\"=hex:01,ff\r\n"
                                    "\"exp\"=hex(2):25,41,25,00\r\n"
                                    "\"multi\"=hex(7):61,00,62,00,00\r\n"
                                    "\"q\"=hex(b):01,00,00,00,00,00,00,80\r\n"
                                    "\"odd\"=hex(20000):01,02,03\r\n"
                                    "\"none\"=hex(0):\r\n"
                                    "\"dw3\"=hex(4):01,02,03\r\n"
                                    "\"nul\"=hex(1):61,00,62,00\r\n"
                                    "\"unterminated\"=hex(01):61,62\r\n"
                                    "\"zero\"=hex(1):\r\n"
                                    "\"emptytext\"=\"\"\r\n"
                                    "\"unterminatedexp\"=hex(02):78\r\n"
                                    "\r\n"
                                    "[HKEY_CURRENT_USER\\Software\\表]\r\n"
                                    "\r\n"
                                    "[HKEY_CURRENT_USER]\r\n"
                                    "\r\n");
    EXPECT_EQ(write(RegFileForm::Regedit4, everyKind(), &outcomes), expected);
    for (auto o : outcomes)
        EXPECT_EQ(o, RegFileWriter::Outcome::Exact);
}

TEST(RegFileWriterTest, UnicodeLayoutAndEveryKindOfValue) {
    std::vector<RegFileWriter::Outcome> outcomes;
    const std::string expected = utf16File("Windows Registry Editor Version 5.00\r\n"
                                           "\r\n"
                                           "[HKEY_CURRENT_USER\\Software]\r\n"
                                           "@=\"def\"\r\n"
                                           "\"quote\\\"back\\\\\"=\"a\\\"b\\\\c\\r\\nd\"\r\n"
                                           "\"表\"=\"ソ表\"\r\n"
                                           "\"dw\"=dword:0000abcd\r\n"
                                           "\"bin\"=hex:01,ff\r\n"
                                           "\"exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                                           "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                                           "\"q\"=hex(b):01,00,00,00,00,00,00,80\r\n"
                                           "\"odd\"=hex(20000):01,02,03\r\n"
                                           "\"none\"=hex(0):\r\n"
                                           "\"dw3\"=hex(4):01,02,03\r\n"
                                           "\"nul\"=hex(1):61,00,00,00,62,00,00,00\r\n"
                                           "\"unterminated\"=hex(01):61,00,62,00\r\n"
                                           "\"zero\"=hex(1):\r\n"
                                           "\"emptytext\"=\"\"\r\n"
                                           "\"unterminatedexp\"=hex(02):78,00\r\n"
                                           "\r\n"
                                           "[HKEY_CURRENT_USER\\Software\\表]\r\n"
                                           "\r\n"
                                           "[HKEY_CURRENT_USER]\r\n"
                                           "\r\n");
    EXPECT_EQ(write(RegFileForm::Unicode, everyKind(), &outcomes), expected);
    for (auto o : outcomes)
        EXPECT_EQ(o, RegFileWriter::Outcome::Exact);
}

TEST(RegFileWriterTest, LongHexListsBreakAsWindowsBreaksThem) {
    // Windows' own export of this value, byte for byte.
    const std::string expected = utf16File(
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software]\r\n"
        "@=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,\\\r\n"
        "  00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,73,00,68,00,\\\r\n"
        "  65,00,6c,00,6c,00,33,00,32,00,2e,00,64,00,6c,00,6c,00,2c,00,2d,00,31,00,35,\\\r\n"
        "  00,32,00,00,00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\表]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER]\r\n"
        "\r\n");
    EXPECT_EQ(
        write(RegFileForm::Unicode,
              {val("", REG_EXPAND_SZ, sj("%SystemRoot%\\system32\\shell32.dll,-152") + '\0')}),
        expected);

    // No line passes 80 columns, whatever the name's length and the data's size.
    for (std::size_t nameLen : {1, 10, 30, 60}) {
        for (std::size_t size : {1, 23, 24, 25, 26, 100, 1000}) {
            const std::string text =
                write(RegFileForm::Regedit4,
                      {val(std::string(nameLen, 'n'), REG_BINARY, std::string(size, '\x5A'))});
            std::size_t start = 0, lines = 0;
            bool continued = false;
            while (start < text.size()) {
                const std::size_t end = text.find("\r\n", start);
                ASSERT_NE(end, std::string::npos);
                const std::string line = text.substr(start, end - start);
                EXPECT_LE(line.size(), 80u) << nameLen << " " << size << ": " << line;
                if (continued) {
                    EXPECT_EQ(line.compare(0, 2, "  "), 0) << line;
                }
                continued = !line.empty() && line.back() == '\\';
                start = end + 2;
                ++lines;
            }
            EXPECT_GE(lines, 7u);
        }
    }
}

TEST(RegFileWriterTest, DoubleByteTrailsAreNotEscapedButLoneLeadBytesStayExact) {
    // 表 and ソ end in 0x5C: written as they are. A lone lead byte before a quote would pair
    // with an escaping backslash, and one at the end with the closing quote, so such a text
    // goes out as bytes and such a name cannot be written.
    std::vector<RegFileWriter::Outcome> outcomes;
    const std::string text =
        write(RegFileForm::Regedit4,
              {val("表\\", REG_SZ, sj("ソ\\") + '\0'),
               RawValue{StoredName{"n", false}, REG_SZ, std::string("\x95\"\0", 3), false},
               RawValue{StoredName{"e", false}, REG_SZ, std::string("\x95\0", 2), false},
               RawValue{StoredName{"\x95", false}, REG_SZ, std::string("a\0", 2), false}},
              &outcomes);
    EXPECT_NE(text.find(sj("\"表\\\\\"=\"ソ\\\\\"\r\n")), std::string::npos);
    EXPECT_NE(text.find("\"n\"=hex(1):95,22,00\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"e\"=hex(1):95,00\r\n"), std::string::npos);
    EXPECT_EQ(text.find("\"\x95\""), std::string::npos);
    ASSERT_EQ(outcomes.size(), 4u);
    EXPECT_EQ(outcomes[3], RegFileWriter::Outcome::Skipped);
    struct Ignore final : RegFileSink {
        void openKey(const RegKeyPath&) override {}
        void deleteKey(const RegKeyPath&) override {}
        void setValue(const RawValue&) override {}
        void deleteValue(const StoredName&) override {}
    } sink;
    EXPECT_NO_THROW(RegFileReader().read(text, sink)); // what was written reads back
}

TEST(RegFileWriterTest, WhatAFormCannotHoldIsReportedNotWrittenWrongly) {
    std::string out;
    RegFileWriter r4(RegFileForm::Regedit4, [&](std::string_view b) { out.append(b); });
    r4.startRoot("HKEY_CURRENT_USER");
    EXPECT_FALSE(r4.pushName(StoredName{le("Café"), true}));
    EXPECT_FALSE(r4.pushName(StoredName{"line\nbreak", false}));
    EXPECT_FALSE(r4.pushName(StoredName{"ends in lead \x95", false}));
    EXPECT_EQ(r4.writeValue(
                  RawValue{StoredName{le("Café"), true}, REG_DWORD, std::string(4, '\0'), false}),
              RegFileWriter::Outcome::Skipped);
    EXPECT_EQ(r4.writeValue(RawValue{StoredName{"w", false}, REG_SZ,
                                     le("Café") + std::string(2, '\0'), true}),
              RegFileWriter::Outcome::Approximate);
    r4.finish();
    EXPECT_EQ(out, sj("\"w\"=\"Caf〓\"\r\n\r\n"));

    out.clear();
    RegFileWriter u(RegFileForm::Unicode, [&](std::string_view b) { out.append(b); });
    u.startRoot("HKEY_CURRENT_USER");
    EXPECT_TRUE(u.pushName(StoredName{le("Café"), true}));
    EXPECT_FALSE(u.pushName(StoredName{"a\x81 b", false})); // a lone lead byte
    EXPECT_EQ(
        u.writeValue(RawValue{StoredName{"\x81", false}, REG_DWORD, std::string(4, '\0'), false}),
        RegFileWriter::Outcome::Skipped);
    EXPECT_EQ(
        u.writeValue(RawValue{StoredName{"d", false}, REG_SZ, std::string("\x81\0", 2), false}),
        RegFileWriter::Outcome::Approximate);
    EXPECT_EQ(u.writeValue(RawValue{StoredName{le("é"), true}, REG_MULTI_SZ,
                                    le("é") + std::string(4, '\0'), true}),
              RegFileWriter::Outcome::Exact);
    u.writeKeyLine();
    u.finish();
    EXPECT_EQ(out, le("\"d\"=\"\xEF\xBF\xBD\"\r\n\"é\"=hex(7):e9,00,00,00,00,00\r\n\r\n[HKEY_"
                      "CURRENT_USER\\Café]\r\n\r\n"));
}

} // namespace
