#include "core/platform/Encoding.h"

#include <gtest/gtest.h>

using namespace klv;

namespace {
constexpr auto npos = std::string_view::npos;
const std::string kJapanese = "表示ソフト ｱｲｳ abc ①髙～";
} // namespace

TEST(Encoding, JapaneseTextRoundTripsThroughAllForms) {
    const std::string cp932 = sj(kJapanese);
    EXPECT_EQ(sj("表ソｱ"), "\x95\x5C\x83\x5C\xB1");
    EXPECT_EQ(cp932ToUtf8(cp932), kJapanese);
    EXPECT_EQ(tryCp932ToUtf8(cp932), cp932ToUtf8(cp932));
    const std::string utf16 = cp932ToUtf16(cp932);
    EXPECT_EQ(utf16.substr(0, 4), "\x68\x88\x3A\x79"); // 表示 in UTF-16LE
    EXPECT_EQ(tryUtf16ToCp932(utf16), cp932);
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(kJapanese)), kJapanese);
    EXPECT_EQ(utf8ToUtf16(""), "");
}

// A character counts as convertible only when it comes back unchanged: "¥" would otherwise
// become a path separator and "‾" a "~".
TEST(Encoding, ConversionsToCp932KeepOnlyCharactersThatComeBack) {
    int accepted = 0;
    for (unsigned u = 1; u < 0x10000; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF)
            continue;
        const char le[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        const auto cp932 = tryUtf16ToCp932(std::string_view(le, 2));
        if (!cp932)
            continue;
        ++accepted;
        ASSERT_EQ(cp932ToUtf16(*cp932), std::string(le, 2)) << "U+" << std::hex << u;
    }
    EXPECT_GT(accepted, 7000); // the whole of CP932, not a converter that refuses everything
    for (const char* oneWay : {"¥", "‾", "〜", "—", "−", "‖", "¢", "£", "¬"}) {
        EXPECT_EQ(tryUtf8ToCp932(oneWay), std::nullopt) << oneWay;
        EXPECT_EQ(tryUtf16ToCp932(utf8ToUtf16(oneWay)), std::nullopt) << oneWay;
    }
    bool lossy = false;
    EXPECT_EQ(utf16ToCp932Lossy(utf8ToUtf16("Soft¥表"), &lossy), sj("Soft〓表"));
    EXPECT_TRUE(lossy);
    EXPECT_EQ(utf16ToCp932Lossy(utf8ToUtf16("～表"), &lossy), sj("～表"));
    EXPECT_FALSE(lossy);
}

TEST(Encoding, LongTextGrowsTheOutput) {
    std::string kana;
    for (int i = 0; i < 5000; ++i)
        kana += "ｱ表";
    EXPECT_EQ(cp932ToUtf8(sj(kana)), kana); // half-width kana: 1 byte becomes 3
    EXPECT_EQ(utf16ToUtf8(cp932ToUtf16(sj(kana))), kana);
}

TEST(Encoding, StrictFormsRefuseWhatCp932CannotHold) {
    EXPECT_EQ(tryUtf8ToCp932("año"), std::nullopt);
    EXPECT_EQ(tryUtf8ToCp932("a😀"), std::nullopt);
    EXPECT_EQ(tryUtf8ToCp932("\xC3"), std::nullopt); // cut UTF-8
    EXPECT_THROW(utf8ToCp932("ñ"), EncodingError);
    EXPECT_THROW(sj("😀"), EncodingError);
    EXPECT_EQ(tryUtf16ToCp932(utf8ToUtf16("x😀")), std::nullopt);
    EXPECT_EQ(tryUtf16ToCp932("a"), std::nullopt); // odd byte count
    EXPECT_EQ(tryCp932ToUtf8("ab\x82"), std::nullopt);
    EXPECT_EQ(tryCp932ToUtf8("\x80"), std::nullopt);
}

TEST(Encoding, LossyFormPutsOneGetaPerCharacter) {
    bool lossy = false;
    EXPECT_EQ(utf16ToCp932Lossy(utf8ToUtf16("a😀ñ表"), &lossy), "a\x81\xAC\x81\xAC\x95\x5C");
    EXPECT_TRUE(lossy);
    const std::string unpaired = std::string("a\0\x00\xD8"
                                             "b\0",
                                             6);
    EXPECT_EQ(utf16ToCp932Lossy(unpaired, &lossy), "a\x81\xAC"
                                                   "b");
    EXPECT_TRUE(lossy);
    EXPECT_EQ(utf16ToCp932Lossy(utf8ToUtf16("ソ"), &lossy), "\x83\x5C");
    EXPECT_FALSE(lossy);
    EXPECT_EQ(utf16ToCp932Lossy(utf8ToUtf16("😀")), kCp932Geta);
}

TEST(Encoding, DisplayFormReplacesInvalidBytes) {
    EXPECT_EQ(cp932ToUtf8("ab\x82"), "ab\uFFFD"); // lead byte at the end
    EXPECT_EQ(cp932ToUtf8("\x80x\xFF"), "\uFFFDx\uFFFD");
    EXPECT_EQ(cp932ToUtf8("\x82 z"), "\uFFFD z");   // the space is no trail byte
    EXPECT_EQ(cp932ToUtf8("\x85\x40z"), "\uFFFDz"); // unassigned pair: one character
    EXPECT_EQ(utf16ToUtf8(std::string("\x00\xDC", 2)), "\uFFFD");
}

TEST(Encoding, UpperCaseLeavesDoubleByteCharactersWhole) {
    // ヂ is 0x83 0x61: its trail byte is an "a" that must not become ア (0x83 0x41).
    EXPECT_EQ(cp932Upper(sj("ヂaソz表b")), sj("ヂAソZ表B"));
    EXPECT_EQ(cp932Upper("\xB1"
                         "a"),
              "\xB1"
              "A"); // half-width kana is one byte
    EXPECT_EQ(cp932Upper("ab\x83"), "AB\x83");
}

TEST(Encoding, FindMatchesOnlyAtCharacterStarts) {
    const std::string hay = sj("表ソ\\x");
    EXPECT_EQ(cp932Find(hay, "\\"), 4u);
    EXPECT_EQ(cp932Find(sj("表ソ"), "\\"), npos);
    EXPECT_EQ(cp932Find(hay, "\x5C\x83"), npos);
    EXPECT_EQ(cp932Find(sj("表表"), sj("表"), 1), 2u);
    EXPECT_EQ(cp932Find(sj("表"), "\x95"), npos); // half a character
    EXPECT_EQ(cp932Find(sj("ｱa"), "a"), 1u);
    EXPECT_EQ(cp932Find(hay, "", 2), 2u);
    EXPECT_EQ(cp932Find(hay, "x", 7), npos);
}

TEST(Encoding, FindIgnoresCaseOfSingleByteLettersOnly) {
    const std::string hay = sj("表ヂAbc");
    EXPECT_EQ(cp932Find(hay, "aBC", 0, true), 4u);
    EXPECT_EQ(cp932Find(hay, "aBC"), npos);
    EXPECT_EQ(cp932Find(hay, sj("アa"), 0, true),
              npos); // ア differs from ヂ only by case of its trail
    EXPECT_EQ(cp932Find(hay, sj("ヂa"), 0, true), 2u);
}
