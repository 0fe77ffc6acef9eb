// Wine's registry files: the hand-written corpus read and written back byte for byte, each form
// read to the right units and bytes, the writer's layout rules, what the reader tolerates and
// what it refuses (with the line).
#include "core/wine/WineRegFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace klv::wine {
namespace {
namespace fs = std::filesystem;

using namespace std::string_literals;

const fs::path kCorpus = WINE_CORPUS_DIR;

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    EXPECT_TRUE(in.good()) << p;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> corpusFiles() {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(kCorpus))
        if (e.is_regular_file())
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

WineRegFile parseCorpus(const std::string& name) {
    return WineRegFile::parse(readFile(kCorpus / name));
}

// UTF-16LE bytes of the units, without a terminator.
std::string le(std::u16string_view s) {
    std::string b;
    for (char16_t u : s) {
        b += static_cast<char>(u & 0xFF);
        b += static_cast<char>(u >> 8);
    }
    return b;
}
// Text data as Wine keeps it: the units and a terminating NUL.
std::string sz(std::u16string_view s) {
    return le(s) + "\0\0"s;
}
std::string bytes(std::initializer_list<int> list) {
    std::string b;
    for (int v : list)
        b += static_cast<char>(v);
    return b;
}
std::string byteRun(int count) {
    std::string b;
    for (int i = 0; i < count; ++i)
        b += static_cast<char>(i);
    return b;
}

const WineKey* findKey(const WineKey& from, std::u16string_view path) {
    const WineKey* k = &from;
    while (!path.empty()) {
        const std::size_t sep = path.find(u'\\');
        const std::u16string_view part = path.substr(0, sep);
        const auto it = std::find_if(k->subkeys.begin(), k->subkeys.end(), [&](const WineKey* s) {
            return compareWineNames(s->name, part) == 0;
        });
        if (it == k->subkeys.end())
            return nullptr;
        k = *it;
        path = sep == std::u16string_view::npos ? u"" : path.substr(sep + 1);
    }
    return k;
}

const WineKey& key(const WineRegFile& f, std::u16string_view path) {
    const WineKey* k = findKey(f.root(), path);
    if (!k) {
        ADD_FAILURE() << "missing key";
        static const WineKey none;
        return none;
    }
    return *k;
}

// The value named `name` (exact units), or a failure.
WineValue value(const WineKey& k, std::u16string_view name) {
    for (const WineValue& v : k.values)
        if (v.name == name)
            return v;
    ADD_FAILURE() << "missing value";
    return {};
}

void expectValue(const WineKey& k, std::u16string_view name, std::uint32_t type,
                 const std::string& data) {
    const WineValue v = value(k, name);
    EXPECT_EQ(v.type, type);
    EXPECT_EQ(v.data, data);
}

WineFormatError formatError(std::string_view text) {
    try {
        WineRegFile::parse(text);
    } catch (const WineFormatError& e) {
        return e;
    }
    ADD_FAILURE() << "accepted:\n" << text;
    return WineFormatError("", 0);
}

constexpr std::string_view kHead = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n";

FileTime fromUnix(std::uint64_t seconds, std::uint64_t ticks = 0) {
    return seconds * 10000000ULL + kFileTimeOf1970 + ticks;
}

std::string writeOne(WineValue v) {
    WineRegFile f;
    f.relativeTo = u"\\Machine";
    WineKey& k = f.child(f.root(), u"K");
    k.modified = fromUnix(1700000000);
    k.values.push_back(std::move(v));
    const std::string text = f.write();
    const std::string head = "[K] 1700000000\n#time=1da1747c66d0000\n";
    const std::size_t at = text.find(head);
    EXPECT_NE(at, std::string::npos) << text;
    return at == std::string::npos ? text : text.substr(at + head.size());
}

// --- the corpus -------------------------------------------------------------------------------

TEST(WineRegFileCorpus, EveryFileReadsAndIsWrittenBackByteForByte) {
    const auto files = corpusFiles();
    ASSERT_GE(files.size(), 16u);
    for (const fs::path& p : files) {
        SCOPED_TRACE(p.string());
        const std::string text = readFile(p);
        try {
            EXPECT_EQ(WineRegFile::parse(text).write(), text);
        } catch (const WineFormatError& e) {
            ADD_FAILURE() << "line " << e.line();
        }
    }
}

TEST(WineRegFileCorpus, HeadersGiveTheRelativePathAndTheArch) {
    struct Case {
        const char* file;
        std::u16string relativeTo;
        std::string arch;
    };
    const Case cases[] = {
        {"header_system_win64.reg", u"\\Machine", "win64"},
        {"header_user_no_arch.reg", u"\\User\\S-1-5-21-0-0-0-1000", ""},
        {"header_userdef_win32.reg", u"\\User\\.Default", "win32"},
        {"header_registry_root_win64.reg", u"REGISTRY\\User\\S-1-5-21-0-0-0-1000", "win64"},
        {"prefix/system.reg", u"\\Machine", "win64"},
        {"prefix/user.reg", u"\\User\\S-1-5-21-0-0-0-1000", "win64"},
        {"prefix/userdef.reg", u"\\User\\.Default", "win64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const WineRegFile f = parseCorpus(c.file);
        EXPECT_EQ(f.relativeTo, c.relativeTo);
        EXPECT_EQ(f.arch, c.arch);
    }
}

TEST(WineRegFileCorpus, StringEscapesDecodeToTheirUnits) {
    const WineRegFile f = parseCorpus("string_escapes.reg");
    const WineKey& k = key(f, u"Software\\Escapes");
    EXPECT_EQ(k.values.size(), 10u);
    expectValue(k, u"Backslash", 1, sz(u"C:\\windows\\system32\\"));
    expectValue(k, u"Bell", 1, sz(u"ring\a"));
    expectValue(k, u"Controls", 1, sz(u"\a\b\t\n\v\f\r\x1b"));
    expectValue(k, u"Delete", 1,
                sz(u"a\x7f"
                   u"b"));
    expectValue(k, u"Escape", 1, sz(u"\x1b[0m"));
    expectValue(k, u"Newlines", 1, sz(u"line1\r\nline2\n"));
    expectValue(k, u"NotAnEscape", 1, sz(u"\\x41 \\101 \\n"));
    const char16_t octal[] = {1, 2, 3, 4, 5, 6, 14, 15, 16, 31, 0};
    expectValue(k, u"Octal", 1, sz(std::u16string_view(octal, std::size(octal))));
    const char16_t beforeDigit[] = {1,    u'1', 31,   u'7', 31,   u'0', u'x', 0,
                                    u'9', 0,    u'8', 14,   u'5', 0,    u'7'};
    expectValue(k, u"OctalBeforeDigit", 1,
                sz(std::u16string_view(beforeDigit, std::size(beforeDigit))));
    expectValue(k, u"Quote", 1, sz(u"say \"hi\""));
}

TEST(WineRegFileCorpus, HexEscapesGiveUtf16UnitsAndSurrogatePairs) {
    const WineRegFile f = parseCorpus("string_unicode.reg");
    const WineKey& k = key(f, u"Software\\Unicode");
    expectValue(k, u"Accent", 1, sz(u"caf\u00e9"));
    expectValue(k, u"AccentBeforeHex", 1,
                sz(u"\u00e9"
                   u"a\u00e9"
                   u"F\u00e9"
                   u"0\u00e9g\u00e9"));
    expectValue(k, u"Emoji", 1, sz(u"smile \xd83d\xde00!"));
    expectValue(k, u"Euro", 1, sz(u"\u20ac 100"));
    expectValue(k, u"Japanese", 1, sz(u"日本語のテキスト"));
    expectValue(k, u"Latin1", 1, sz(u"\u0080\u00a0\u00c0\u00ff"));
    expectValue(k, u"Macron", 1,
                sz(u"\u0101 and \u0101"
                   u"b"));
    expectValue(k, u"Mixed", 1,
                sz(u"\u00e9\u00e8\u0101\u30c6"
                   u"a"));
    expectValue(k, u"名前", 1, sz(u"値"));
}

TEST(WineRegFileCorpus, EveryValueFormGivesItsTypeAndBytes) {
    const WineRegFile f = parseCorpus("value_types.reg");
    const WineKey& k = key(f, u"Software\\Types");
    EXPECT_EQ(k.values.size(), 24u);
    expectValue(k, u"", 1, sz(u"default text"));
    expectValue(k, u"BigEndian", 5, bytes({0, 0, 0, 0x2a}));
    expectValue(k, u"Binary", 3, bytes({1, 2, 3, 0xff}));
    expectValue(k, u"BinaryEmpty", 3, "");
    expectValue(k, u"Custom", 0x100000, bytes({0xca, 0xfe}));
    expectValue(k, u"Dword", 4, bytes({0x2a, 0, 0, 0}));
    expectValue(k, u"DwordMax", 4, bytes({0xff, 0xff, 0xff, 0xff}));
    expectValue(k, u"DwordShort", 4, bytes({1, 2, 3}));
    expectValue(k, u"Expand", 2, sz(u"%SystemRoot%\\system32"));
    expectValue(k, u"ExpandEmpty", 2, sz(u""));
    expectValue(k, u"ExpandNoNul", 2, le(u"%P"));
    expectValue(k, u"Link", 6, le(u"\\R"));
    expectValue(k, u"Multi", 7, sz(u"first\0second\0third\0"s));
    expectValue(k, u"MultiEmpty", 7, sz(u"\0"s));
    expectValue(k, u"MultiNoNul", 7, le(u"a\0b"s));
    expectValue(k, u"None", 0, "");
    expectValue(k, u"NoneData", 0, bytes({0xde, 0xad}));
    expectValue(k, u"Qword", 0xb, bytes({0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
    expectValue(k, u"ResourceList", 8, bytes({1, 0, 0, 0}));
    expectValue(k, u"SzEmpty", 1, sz(u""));
    expectValue(k, u"SzNoNul", 1, le(u"AB"));
    expectValue(k, u"SzOdd", 1, bytes({0x41, 0, 0}));
    expectValue(k, u"SzZeroLength", 1, "");
    expectValue(k, u"Text", 1, sz(u"plain"));
}

TEST(WineRegFileCorpus, WrappedHexReadsAsOneRunOfBytes) {
    const WineRegFile f = parseCorpus("hex_wrapping.reg");
    const WineKey& k = key(f, u"Software\\Wrap");
    expectValue(k, u"", 3, byteRun(50));
    expectValue(k, u"a", 3, byteRun(23));
    expectValue(k, u"abc", 3, byteRun(30));
    expectValue(k, u"b", 3, byteRun(24));
    expectValue(k, u"c", 3, byteRun(60));
    expectValue(k, u"none", 0, byteRun(40));
    expectValue(k, u"q\"x", 3, byteRun(25));
    expectValue(k,
                u"x0123456789012345678901234567890123456789012345678901234567890123456789abcdefghi",
                3, byteRun(3));
    expectValue(k, u"名", 3, byteRun(30));
}

TEST(WineRegFileCorpus, ValueNamesDecodeAndTheDefaultIsEmpty) {
    const WineRegFile f = parseCorpus("value_names.reg");
    const WineKey& k = key(f, u"Software\\Names");
    EXPECT_EQ(k.values.size(), 18u);
    expectValue(k, u"", 1, sz(u"the default"));
    expectValue(k, u"\"quoted\"", 1, sz(u"q"));
    expectValue(k, u"1\\2", 1, sz(u"a backslash in a name"));
    expectValue(k, u"arr[0]", 1, sz(u"brackets are not escaped in value names"));
    expectValue(k, u"ctl\x01x", 1, sz(u"a control character"));
    expectValue(k, u"tab\there", 1, sz(u"t"));
    expectValue(k, u"VALUE2", 1, sz(u"v2"));
    expectValue(k,
                u"\u00c9"
                u"cole",
                1,
                sz(u"\u00e9"
                   u"cole"));
    expectValue(k, u"\u00e9t\u00e9", 1, sz(u"summer"));
    expectValue(k, u"名前", 1, sz(u"値"));
}

TEST(WineRegFileCorpus, KeyNamesTimesAndImplicitKeys) {
    const WineRegFile f = parseCorpus("key_names.reg");
    const WineKey& keys = key(f, u"Software\\Keys");
    std::vector<std::u16string> names;
    for (const WineKey* s : keys.subkeys)
        names.push_back(s->name);
    std::sort(names.begin(), names.end());
    const std::vector<std::u16string> expected = {u"Beta",
                                                  u"Empty",
                                                  u"Implicit",
                                                  u"Windows",
                                                  u"Windows NT",
                                                  u"alpha",
                                                  u"gamma[1]",
                                                  u"gamma]2[",
                                                  u"say \"hi\"",
                                                  u"\u00c9"
                                                  u"cole",
                                                  u"日本"};
    EXPECT_EQ(names, expected);

    // Keys named only on the way to another hold no values.
    const WineKey& implicit = key(f, u"Software\\Keys\\Implicit");
    EXPECT_TRUE(implicit.values.empty());
    ASSERT_EQ(implicit.subkeys.size(), 1u);
    EXPECT_TRUE(key(f, u"Software\\Keys\\Implicit\\Deep").values.empty());
    expectValue(key(f, u"Software\\Keys\\Implicit\\Deep\\Leaf"), u"v", 1,
                sz(u"only the leaf is written"));
    EXPECT_TRUE(f.root().values.empty());

    const WineKey& empty = key(f, u"Software\\Keys\\Empty");
    EXPECT_TRUE(empty.values.empty());
    EXPECT_TRUE(empty.subkeys.empty());
    EXPECT_FALSE(empty.keyClass.has_value());
    EXPECT_FALSE(empty.link);

    // #time gives the full FILETIME, below the second.
    EXPECT_EQ(key(f, u"Software\\Keys\\alpha").modified, fromUnix(1733900000, 4242424));
    EXPECT_EQ(key(f, u"Software\\Keys\\Empty").modified, fromUnix(1733900100, 7777777));
    EXPECT_EQ(key(f, u"Software\\Keys\\gamma[1]").modified, fromUnix(1700000000, 1234567));
    expectValue(key(f, u"Software\\Keys\\日本"), u"", 1, sz(u"日本"));
}

TEST(WineRegFileCorpus, ClassesAndLinks) {
    const WineRegFile classes = parseCorpus("key_class.reg");
    EXPECT_EQ(key(classes, u"Software\\Classes\\ClassOnly").keyClass,
              std::u16string(u"クラス \"quoted\" \\ [x]"));
    EXPECT_TRUE(key(classes, u"Software\\Classes\\ClassOnly").values.empty());
    EXPECT_EQ(key(classes, u"Software\\Classes\\EmptyClass").keyClass, std::u16string());
    EXPECT_EQ(key(classes, u"Software\\Classes\\WithClass").keyClass, std::u16string(u"Shell"));
    EXPECT_FALSE(key(classes, u"Software\\Classes\\ClassOnly\\Sub").keyClass.has_value());

    const WineRegFile links = parseCorpus("link_keys.reg");
    const WineKey& ccs = key(links, u"System\\CurrentControlSet");
    EXPECT_TRUE(ccs.link);
    expectValue(ccs, u"SymbolicLinkValue", 6, le(u"\\Registry\\Machine\\System\\ControlSet001"));
    const WineKey& current = key(links, u"System\\ControlSet001\\Hardware Profiles\\Current");
    EXPECT_TRUE(current.link);
    expectValue(current, u"SymbolicLinkValue", 6,
                le(u"\\Registry\\Machine\\System\\CurrentControlSet\\Hardware Profiles\\0001"));
    EXPECT_FALSE(key(links, u"System\\ControlSet001\\Hardware Profiles\\0001").link);
}

TEST(WineRegFileCorpus, ThePrefixHoldsTheUsualKeys) {
    const WineRegFile system = parseCorpus("prefix/system.reg");
    EXPECT_TRUE(key(system, u"System\\CurrentControlSet").link);
    EXPECT_TRUE(key(system, u"System\\ControlSet001\\Hardware Profiles\\Current").link);
    expectValue(key(system, u"System\\ControlSet001\\Control\\Session Manager\\Environment"),
                u"ComSpec", 2, sz(u"%SystemRoot%\\system32\\cmd.exe"));
    expectValue(key(system, u"Software\\Classes\\.txt"), u"", 1, sz(u"txtfile"));
    const WineRegFile user = parseCorpus("prefix/user.reg");
    expectValue(key(user, u"Control Panel\\Desktop"), u"MenuShowDelay", 1, sz(u"400"));
    expectValue(key(user, u"Environment"), u"TEMP", 2, sz(u"%USERPROFILE%\\AppData\\Local\\Temp"));
    EXPECT_NE(findKey(user.root(), u"Software\\Wine\\DllOverrides"), nullptr);
    const WineRegFile userdef = parseCorpus("prefix/userdef.reg");
    EXPECT_NE(findKey(userdef.root(), u"Control Panel\\Desktop"), nullptr);
}

// --- reading details --------------------------------------------------------------------------

TEST(WineRegFileRead, TimeLineOverridesTheSecondsOfTheKeyLine) {
    const WineRegFile f =
        WineRegFile::parse(std::string(kHead) + "\n[A] 1000\n#time=1da1747c67fd687\n"
                                                "\n[B] 1700000000\n");
    EXPECT_EQ(key(f, u"A").modified, fromUnix(1700000000, 1234567));
    EXPECT_EQ(key(f, u"B").modified, fromUnix(1700000000));
    // Written back from the FILETIME, both lines agree again.
    const std::string text = f.write();
    EXPECT_NE(text.find("[A] 1700000000\n#time=1da1747c67fd687\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[B] 1700000000\n#time=1da1747c66d0000\n"), std::string::npos) << text;
}

TEST(WineRegFileRead, WhatWineAcceptsBeyondItsOwnFormIsRead) {
    // Blanks before lines and around "=", lines of blanks, "str:", a class ending in NUL; keys
    // made on the way take the time of the line that made them.
    const WineRegFile f =
        WineRegFile::parse(std::string(kHead) + "\n  [A\\\\B] 1700000000\n\t\n"
                                                "  #class=\"c\\0\"\n"
                                                "\t\"x\" = str:\"1\"  \n  @= dword:00000002\n");
    const WineKey& b = key(f, u"A\\B");
    expectValue(b, u"x", 1, sz(u"1"));
    expectValue(b, u"", 4, bytes({2, 0, 0, 0}));
    EXPECT_EQ(b.keyClass, std::u16string(u"c\0", 2));
    EXPECT_EQ(key(f, u"A").modified, fromUnix(1700000000));
    const std::string text = f.write();
    EXPECT_NE(text.find("[A\\\\B] 1700000000\n#time=1da1747c66d0000\n#class=\"c\\0\"\n@=dword:"
                        "00000002\n\"x\"=\"1\"\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(WineRegFile::parse(text).write(), text);
}

TEST(WineRegFileRead, CrLfLinesReadAsLf) {
    for (const char* name : {"string_escapes.reg", "hex_wrapping.reg", "prefix/system.reg"}) {
        SCOPED_TRACE(name);
        const std::string lf = readFile(kCorpus / name);
        std::string crlf;
        for (char c : lf)
            crlf += c == '\n' ? "\r\n"s : std::string(1, c);
        EXPECT_EQ(WineRegFile::parse(crlf).write(), lf);
    }
}

TEST(WineRegFileRead, Utf8BytesInNamesAndStringsReadAsTheirUnits) {
    const WineRegFile f = WineRegFile::parse(std::string(kHead) +
                                             "\n[Caf\xc3\xa9\\\\\xe6\x97\xa5\xe6\x9c\xac] 1\n"
                                             "\"\xe5\x90\x8d\"=\"caf\xc3\xa9 \xf0\x9f\x98\x80\"\n"
                                             "#class=\"\xe3\x82\xaf\"\n");
    const WineKey& k = key(f, u"Caf\u00e9\\日本");
    expectValue(k, u"名", 1, sz(u"caf\u00e9 \xd83d\xde00"));
    EXPECT_EQ(k.keyClass, std::u16string(u"ク"));
    // Written as Wine writes them: escapes only.
    EXPECT_NE(f.write().find("[Caf\\xe9\\\\\\x65e5\\x672c] 1\n"), std::string::npos) << f.write();
    EXPECT_NE(f.write().find("\"\\x540d\"=\"caf\\xe9 \\xd83d\\xde00\"\n"), std::string::npos);
}

TEST(WineRegFileRead, ContinuationLinesMayBeIndentedAnyWay) {
    const WineRegFile f = WineRegFile::parse(std::string(kHead) + "\n[K] 1\n"
                                                                  "\"a\"=hex:01,02,\\\n"
                                                                  "03,\\\n"
                                                                  "\t04 ,\t05,\\  \n"
                                                                  "        06\n"
                                                                  "\"b\"=hex(7):61,00,\\\r\n"
                                                                  " 00,00\r\n");
    const WineKey& k = key(f, u"K");
    expectValue(k, u"a", 3, bytes({1, 2, 3, 4, 5, 6}));
    expectValue(k, u"b", 7, le(u"a"s) + "\0\0"s);
    EXPECT_NE(f.write().find("\"a\"=hex:01,02,03,04,05,06\n\"b\"=str(7):\"a\"\n"),
              std::string::npos);
}

TEST(WineRegFileRead, AKeyNamedTwiceIsOneKeyWithTheValuesOfBoth) {
    const WineRegFile f =
        WineRegFile::parse(std::string(kHead) + "\n[Software\\\\A] 1\n\"one\"=\"1\"\n"
                                                "\n[Software\\\\B] 1\n\"x\"=\"x\"\n"
                                                "\n[software\\\\a] 2\n\"two\"=\"2\"\n");
    const WineKey& software = key(f, u"Software");
    ASSERT_EQ(software.subkeys.size(), 2u);
    const WineKey& a = key(f, u"Software\\A");
    EXPECT_EQ(a.name, u"A");
    EXPECT_EQ(a.values.size(), 2u);
    expectValue(a, u"one", 1, sz(u"1"));
    expectValue(a, u"two", 1, sz(u"2"));
    const std::string text = f.write();
    EXPECT_EQ(text.find("[software"), std::string::npos) << text;
    EXPECT_NE(text.find("[Software\\\\A] 2\n#time=19db1ded66fad00\n\"one\"=\"1\"\n\"two\"=\"2\"\n"),
              std::string::npos)
        << text;
}

TEST(WineRegFileRead, AValueNamedTwiceKeepsTheLaterData) {
    std::string text = std::string(kHead) + "\n[K] 1\n\"v\"=\"first\"\n\"w\"=dword:00000001\n" +
                       "\"V\"=dword:00000002\n";
    const WineRegFile f = WineRegFile::parse(text);
    const WineKey& k = key(f, u"K");
    ASSERT_EQ(k.values.size(), 2u);
    const auto it = std::find_if(k.values.begin(), k.values.end(), [](const WineValue& v) {
        return compareWineNames(v.name, u"v") == 0;
    });
    ASSERT_NE(it, k.values.end());
    EXPECT_EQ(it->type, 4u);
    EXPECT_EQ(it->data, bytes({2, 0, 0, 0}));

    // The same past the point where a key's values are looked up through an index.
    text = std::string(kHead) + "\n[Many] 1\n";
    for (int i = 0; i < 100; ++i)
        text += "\"n" + std::to_string(i) + "\"=dword:00000000\n";
    text += "\"N7\"=\"later\"\n\"n99\"=\"last\"\n\"extra\"=\"e\"\n";
    const WineRegFile many = WineRegFile::parse(text);
    const WineKey& m = key(many, u"Many");
    EXPECT_EQ(m.values.size(), 101u);
    const auto n7 = std::find_if(m.values.begin(), m.values.end(), [](const WineValue& v) {
        return compareWineNames(v.name, u"n7") == 0;
    });
    ASSERT_NE(n7, m.values.end());
    EXPECT_EQ(n7->data, sz(u"later"));
    expectValue(m, u"n99", 1, sz(u"last"));
    expectValue(m, u"extra", 1, sz(u"e"));
}

TEST(WineRegFileRead, MissingTimeOrUnknownOptionsAndCommentsAreAccepted) {
    const WineRegFile f =
        WineRegFile::parse(std::string(kHead) + "; a comment\n\n[K]\n#unknown=1\n;; more\n"
                                                "\"v\"=\"1\"\n\n[L] 5\n");
    EXPECT_NE(key(f, u"K").modified, 0u); // the time of reading, as Wine does
    EXPECT_EQ(key(f, u"L").modified, fromUnix(5));
    expectValue(key(f, u"K"), u"v", 1, sz(u"1"));
}

// --- refused input ----------------------------------------------------------------------------

TEST(WineRegFileRead, MalformedInputIsRefusedWithItsLine) {
    struct Case {
        std::string text;
        std::size_t line;
    };
    const std::string head(kHead);
    const std::vector<Case> cases = {
        {"REGEDIT4\n[K]\n", 1},
        {"Windows Registry Editor Version 5.00\r\n", 1},
        {"WINE REGISTRY Version 2 \n", 1},
        {"\nWINE REGISTRY Version 2\n", 1},
        {"WINE REGISTRY Version 1\n", 1},
        {head + "\"v\"=\"1\"\n", 3},
        {head + "\n[K] 1\n\"v\"=\"unterminated\n", 5},
        {head + "\n[K] 1\n\"v\"=str(2):\"unterminated\n", 5},
        {head + "\n[K] 1\n\"v\"=\"x\" trailing\n", 5},
        {head + "\n[K] 1\n\"unterminated=\"x\"\n", 5},
        {head + "\n[K] 1\n\"v\" \"x\"\n", 5},
        {head + "\n[K] 1\n\"v\"=what\n", 5},
        {head + "\n[K] 1\n\"v\"=hex:0g\n", 5},
        {head + "\n[K] 1\n\"v\"=hex:1\n", 5},
        {head + "\n[K] 1\n\"v\"=hex:123\n", 5},
        {head + "\n[K] 1\n\"v\"=hex:01,02,\\\n  03,zz\n", 6},
        {head + "\n[K] 1\n\"a\"=\"1\"\n\"v\"=hex:01,02,\\\n", 6},
        {head + "\n[K] 1\n\"v\"=hex(zz):00\n", 5},
        {head + "\n[K] 1\n\"v\"=hex(1:00\n", 5},
        {head + "\n[K] 1\n\"v\"=hex(123456789):00\n", 5},
        {head + "\n[K] 1\n\"v\"=str(2)\"x\"\n", 5},
        {head + "\n[K] 1\n\"v\"=dword:xyz\n", 5},
        {head + "\n[K] 1\n\"v\"=dword:123456789\n", 5},
        {head + "\n[K] 1\n\"v\"=dword:\n", 5},
        {head + "\n[A\\\\\\\\B] 1\n", 4},
        {head + "\n[\\\\A] 1\n", 4},
        {head + "\n[A\\\\] 1\n", 4},
        {head + "\n[A] 1\n\n[B 1\n", 6},
        {head + "\n[K] 99999999999\n", 4},
        {head + "\n[K] 4294967296\n", 4},
        {head + "\n[K] 1\n#time=xyz\n", 5},
        {head + "\n[K] 1\n#time=\n", 5},
        {head + "\n[K] 1\n#time=12345678901234567\n", 5},
        {head + "\n[K] 1\n#class=\"open\n", 5},
        {head + "\n[K] 1\ngarbage\n", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const WineFormatError e = formatError(c.text);
        EXPECT_EQ(e.line(), c.line);
        EXPECT_NE(std::string(e.what()).find(" (" + std::to_string(c.line) + " "),
                  std::string::npos)
            << e.what();
    }
}

TEST(WineRegFileRead, KeysDeeperThan512LevelsAreRefusedNotOverflowed) {
    auto deep = [](int levels) {
        std::string text(kHead);
        text += "\n[";
        for (int i = 0; i < levels; ++i)
            text += i ? "\\\\k" : "k";
        return text + "] 1\n#time=19db1ded5d71680\n\"v\"=\"x\"\n";
    };
    const std::string limit = deep(512);
    EXPECT_EQ(WineRegFile::parse(limit).write(), limit);
    EXPECT_EQ(formatError(deep(513)).line(), 4u);
    // A few hundred thousand levels on one line once overflowed the writer's stack.
    EXPECT_EQ(formatError(deep(200000)).line(), 4u);
}

// Every corpus file cut short at every byte, and with single bytes changed to characters that
// matter to the format: refused with WineFormatError or read, and what is read is written
// the same way twice.
TEST(WineRegFileRead, DamagedCorpusFilesAreReadOrRefusedNeverMisread) {
    auto check = [](std::string_view text) {
        std::optional<WineRegFile> f;
        try {
            f = WineRegFile::parse(text);
        } catch (const WineFormatError&) {
            return;
        }
        if (f->hasNameEndingInNul())
            return;
        const std::string once = f->write();
        try {
            EXPECT_EQ(WineRegFile::parse(once).write(), once) << text;
        } catch (const WineFormatError& e) {
            ADD_FAILURE() << "its own output refused at line " << e.line() << ":\n" << once;
        }
    };
    const char damage[] = {'"', '\\', ']', '\n', '\0', ','};
    for (const fs::path& p : corpusFiles()) {
        SCOPED_TRACE(p.string());
        const std::string text = readFile(p);
        const std::size_t step = text.size() > 1500 ? 7 : 1;
        for (std::size_t n = 0; n <= text.size(); n += step)
            check(std::string_view(text).substr(0, n));
        std::string damaged = text;
        for (std::size_t i = 0; i < text.size(); i += step) {
            damaged[i] = damage[i % std::size(damage)];
            check(damaged);
            damaged[i] = text[i];
        }
    }
}

// --- writing ----------------------------------------------------------------------------------

TEST(WineRegFileWrite, KeysAndValuesInWineOrder) {
    WineRegFile f;
    f.relativeTo = u"\\Machine";
    WineKey& parent = f.child(f.root(), u"P");
    for (const char16_t* n :
         {u"b", u"日本", u"A", u"\u00e9t\u00e9", u"ab", u"Z", u"a1", u"\u00c9cole"})
        f.child(parent, n).modified = fromUnix(1);
    for (const char16_t* n : {u"Value2", u"value", u"", u"VALUE1", u"x", u"\u0101", u"\u00e9"})
        parent.values.push_back(WineValue{n, 4, bytes({0, 0, 0, 0})});
    parent.modified = fromUnix(1);
    const std::string text = f.write();

    std::vector<std::string> order;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        const char c = text[at + 1];
        if (c == '[' || c == '"' || c == '@')
            order.push_back(text.substr(at + 1, text.find_first_of("]=", at + 1) - at - 1));
    }
    const std::vector<std::string> expected = {"[P",
                                               "@",
                                               "\"value\"",
                                               "\"VALUE1\"",
                                               "\"Value2\"",
                                               "\"x\"",
                                               "\"\\xe9\"",
                                               "\"\\x101\"",
                                               "[P\\\\A",
                                               "[P\\\\a1",
                                               "[P\\\\ab",
                                               "[P\\\\b",
                                               "[P\\\\Z",
                                               "[P\\\\\\x00c9cole",
                                               "[P\\\\\\xe9t\\xe9",
                                               "[P\\\\\\x65e5\\x672c"};
    EXPECT_EQ(order, expected) << text;

    EXPECT_EQ(compareWineNames(u"abc", u"ABC"), 0);
    EXPECT_EQ(compareWineNames(u"\u00e9", u"\u00c9"), 0);
    EXPECT_EQ(compareWineNames(u"\u0101", u"\u0100"), 0);
    EXPECT_LT(compareWineNames(u"ab", u"ABC"), 0);
    EXPECT_GT(compareWineNames(u"b", u"ABC"), 0);
    EXPECT_LT(compareWineNames(u"", u"a"), 0);
}

// Wine folds names to lower case when it compares them, so '_' and the other characters between
// 'Z' and 'a' sort before the letters (Wine 8.0 wrote "_autodetect" before "ANSI_X3.4-1968" in a
// fresh prefix's system.reg; sort_underscore_before_letters.reg holds that order).
TEST(WineRegFileWrite, UnderscoreAndBracketsSortBeforeLettersAsInWine) {
    EXPECT_LT(compareWineNames(u"_autodetect", u"ANSI_X3.4-1968"), 0);
    EXPECT_LT(compareWineNames(u"A_B", u"AB"), 0);
    EXPECT_LT(compareWineNames(u"a[1]", u"aa"), 0);
    EXPECT_LT(compareWineNames(u"a`", u"AA"), 0);
    EXPECT_LT(compareWineNames(u"_", u"Z"), 0);
}

TEST(WineRegFileWrite, HexIsWrappedOnceALinePassesColumn76) {
    // For each length of the part before the data, the bytes on the first line: the first
    // count whose comma takes the line past column 76.
    for (int nameLength = 0; nameLength <= 80; ++nameLength) {
        for (const std::uint32_t type : {3u, 0x100000u}) {
            SCOPED_TRACE("name length " + std::to_string(nameLength) + ", type " +
                         std::to_string(type));
            const std::u16string name(static_cast<std::size_t>(nameLength), u'n');
            const std::string text = writeOne(WineValue{name, type, byteRun(100)});
            const std::size_t prefix = (nameLength ? nameLength + 3 : 2) +
                                       (type == 3 ? 4 : std::string("hex(100000):").size());
            std::size_t firstLine = 1;
            while (prefix + 3 * firstLine <= 76)
                ++firstLine;
            std::vector<std::string> lines;
            for (std::size_t at = 0; at < text.size();) {
                const std::size_t end = text.find('\n', at);
                lines.push_back(text.substr(at, end - at));
                at = end + 1;
            }
            ASSERT_GE(lines.size(), 2u);
            EXPECT_EQ(lines[0].size(), prefix + 3 * firstLine + 1);
            std::size_t total = firstLine;
            for (std::size_t i = 1; i < lines.size(); ++i) {
                ASSERT_EQ(lines[i].substr(0, 2), "  ");
                const bool last = i + 1 == lines.size();
                EXPECT_EQ(lines[i].back(), last ? lines[i].back() : '\\');
                if (!last) {
                    EXPECT_EQ(lines[i].size(), 2u + 3 * 25 + 1);
                    total += 25;
                } else {
                    total += (lines[i].size() - 2 + 1) / 3;
                }
            }
            EXPECT_EQ(total, 100u);
            // Exactly a first line's worth stays on one line; one byte more wraps.
            const std::string fits = writeOne(WineValue{name, type, byteRun(int(firstLine))});
            EXPECT_EQ(std::count(fits.begin(), fits.end(), '\n'), 1);
            const std::string wraps = writeOne(WineValue{name, type, byteRun(int(firstLine) + 1)});
            EXPECT_EQ(std::count(wraps.begin(), wraps.end(), '\n'), 2);
        }
    }
    // Escaped characters of the name count as written.
    EXPECT_EQ(
        writeOne(WineValue{u"名", 3, byteRun(23)}),
        "\"\\x540d\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
        "  16\n");
    EXPECT_EQ(writeOne(WineValue{u"", 3, ""}), "@=hex:\n");
}

TEST(WineRegFileWrite, HexEscapeTakesFourDigitsOnlyBeforeAHexDigit) {
    struct Case {
        std::u16string text;
        std::string written;
    };
    const Case cases[] = {
        {u"\u00e9", "\\xe9"},
        {u"\u00e9"
         u"0",
         "\\x00e90"},
        {u"\u00e9"
         u"9",
         "\\x00e99"},
        {u"\u00e9"
         u"a",
         "\\x00e9a"},
        {u"\u00e9"
         u"f",
         "\\x00e9f"},
        {u"\u00e9"
         u"A",
         "\\x00e9A"},
        {u"\u00e9"
         u"F",
         "\\x00e9F"},
        {u"\u00e9"
         u"g",
         "\\xe9g"},
        {u"\u00e9"
         u"G",
         "\\xe9G"},
        {u"\u00e9 ", "\\xe9 "},
        {u"\u00e9\u00e9", "\\xe9\\xe9"},
        {u"\u0080", "\\x80"},
        {u"\u0101"
         u"b",
         "\\x0101b"},
        {u"\u0101"
         u"x",
         "\\x101x"},
        {u"\u30c6"
         u"a",
         "\\x30c6a"},
        {u"\xd83d\xde00", "\\xd83d\\xde00"},
        {u"\x7f", "\x7f"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(writeOne(WineValue{u"", 1, sz(c.text)}), "@=\"" + c.written + "\"\n");
        EXPECT_EQ(writeOne(WineValue{c.text, 4, bytes({1, 0, 0, 0})}),
                  "\"" + c.written + "\"=dword:00000001\n");
    }
}

TEST(WineRegFileWrite, OctalEscapeTakesThreeDigitsOnlyBeforeAnOctalDigit) {
    struct Case {
        std::u16string text;
        std::string written;
    };
    const Case cases[] = {
        {u"\x01", "\\1"},
        {u"\x01"
         u"0",
         "\\0010"},
        {u"\x01"
         u"7",
         "\\0017"},
        {u"\x01"
         u"8",
         "\\18"},
        {u"\x01"
         u"9",
         "\\19"},
        {u"\x1f", "\\37"},
        {u"\x1f"
         u"5",
         "\\0375"},
        {u"\x0e", "\\16"},
        {u"\x1c"
         u"a",
         "\\34a"},
        {u"x\0y"s, "x\\0y"},
        {u"x\0"s
         u"1",
         "x\\0001"},
        {u"\a\b\t\n\v\f\r\x1b"
         u"1",
         "\\a\\b\\t\\n\\v\\f\\r\\e1"},
        {u"\\\"[]", "\\\\\\\"[]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(writeOne(WineValue{u"", 1, sz(c.text)}), "@=\"" + c.written + "\"\n");
    // The NUL that ends the data is left out; one before it is written.
    EXPECT_EQ(writeOne(WineValue{u"", 7, sz(u"a\0b\0"s)}), "@=str(7):\"a\\0b\\0\"\n");
}

TEST(WineRegFileWrite, TextWithoutItsTerminatingNulIsWrittenAsHex) {
    EXPECT_EQ(writeOne(WineValue{u"v", 1, le(u"AB")}), "\"v\"=hex(1):41,00,42,00\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 1, bytes({0x41, 0, 0})}), "\"v\"=hex(1):41,00,00\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 1, ""}), "\"v\"=hex(1):\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 1, bytes({0})}), "\"v\"=hex(1):00\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 1, bytes({0, 0})}), "\"v\"=\"\"\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 2, le(u"%P")}), "\"v\"=hex(2):25,00,50,00\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 2, sz(u"%P")}), "\"v\"=str(2):\"%P\"\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 7, le(u"a\0b"s)}), "\"v\"=hex(7):61,00,00,00,62,00\n");
    // Other types are never written as strings, even when their data is text.
    EXPECT_EQ(writeOne(WineValue{u"v", 6, sz(u"x")}), "\"v\"=hex(6):78,00,00,00\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 3, sz(u"x")}), "\"v\"=hex:78,00,00,00\n");
}

TEST(WineRegFileWrite, DwordOfAnotherLengthIsWrittenAsHex4) {
    EXPECT_EQ(writeOne(WineValue{u"v", 4, bytes({1, 2, 3})}), "\"v\"=hex(4):01,02,03\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 4, bytes({1, 2, 3, 4, 5})}),
              "\"v\"=hex(4):01,02,03,04,05\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 4, ""}), "\"v\"=hex(4):\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 4, bytes({0x78, 0x56, 0x34, 0x12})}),
              "\"v\"=dword:12345678\n");
    // Big-endian and 64-bit numbers stay hex.
    EXPECT_EQ(writeOne(WineValue{u"v", 5, bytes({0, 0, 0, 1})}), "\"v\"=hex(5):00,00,00,01\n");
    EXPECT_EQ(writeOne(WineValue{u"v", 11, bytes({1, 0, 0, 0, 0, 0, 0, 0})}),
              "\"v\"=hex(b):01,00,00,00,00,00,00,00\n");
    // hex(4) of four bytes reads as a dword and is written as one.
    const WineRegFile f =
        WineRegFile::parse(std::string(kHead) + "\n[K] 1\n\"v\"=hex(4):01,00,00,00\n");
    EXPECT_NE(f.write().find("\"v\"=dword:00000001\n"), std::string::npos);
}

TEST(WineRegFileWrite, OnlyKeysWithValuesClassLinkOrNoSubkeysGetALine) {
    WineRegFile f;
    f.relativeTo = u"\\User\\.Default";
    f.arch = "win32";
    WineKey& a = f.child(f.root(), u"A"); // subkeys only: no line
    WineKey& b = f.child(a, u"B");        // no subkeys: a line
    WineKey& c = f.child(f.root(), u"C"); // class and subkeys
    WineKey& d = f.child(c, u"D[1]");     // a value
    WineKey& e = f.child(f.root(), u"E"); // link mark and subkeys
    WineKey& g = f.child(e, u"G");
    for (WineKey* k : {&a, &b, &c, &d, &e, &g})
        k->modified = fromUnix(1700000000, 1234567);
    c.keyClass = u"cls\"";
    d.values.push_back(WineValue{u"", 1, sz(u"d")});
    e.link = true;
    EXPECT_EQ(f.write(), "WINE REGISTRY Version 2\n"
                         ";; All keys relative to \\\\User\\\\.Default\n"
                         "\n#arch=win32\n"
                         "\n[A\\\\B] 1700000000\n#time=1da1747c67fd687\n"
                         "\n[C] 1700000000\n#time=1da1747c67fd687\n#class=\"cls\\\"\"\n"
                         "\n[C\\\\D\\[1\\]] 1700000000\n#time=1da1747c67fd687\n@=\"d\"\n"
                         "\n[E] 1700000000\n#time=1da1747c67fd687\n#link\n"
                         "\n[E\\\\G] 1700000000\n#time=1da1747c67fd687\n");
    // A file without keys still names its root, as Wine does for an empty branch.
    WineRegFile empty;
    empty.relativeTo = u"\\Machine";
    empty.root().modified = fromUnix(1700000000, 1234567);
    EXPECT_EQ(empty.write(), "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n"
                             "\n[] 1700000000\n#time=1da1747c67fd687\n");
}

TEST(WineRegFileWrite, KeySecondsWrapAsWinesDo) {
    EXPECT_EQ(wineKeySeconds(fromUnix(1700000000, 9999999)), 1700000000u);
    EXPECT_EQ(wineKeySeconds(fromUnix(0xFFFFFFFFULL)), 0xFFFFFFFFu);
    EXPECT_EQ(wineKeySeconds(fromUnix(0x100000005ULL)), 5u);
    // Before 1970 the seconds are negative; Wine prints their low 32 bits.
    EXPECT_EQ(wineKeySeconds(kFileTimeOf1970 - 10000000), 0xFFFFFFFFu);
    EXPECT_EQ(wineKeySeconds(0), 1240428288u);
}

} // namespace
} // namespace klv::wine
