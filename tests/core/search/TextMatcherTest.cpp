// The search's text test, its substitution preview and its hexadecimal numbers, over CP932.
#include "core/search/TextMatcher.h"
#include "core/platform/Encoding.h"

#include <gtest/gtest.h>
#include <random>

using namespace klv;

TEST(TextMatcherTest, TheFourMatchersAndTheEmptyText) {
    const TextMatcher part("12", false, false), whole("12", true, false);
    for (const char* t : {"12", "120", "3120"})
        EXPECT_TRUE(part.matches(t)) << t;
    EXPECT_FALSE(part.matches("1 2"));
    EXPECT_TRUE(whole.matches("12"));
    EXPECT_FALSE(whole.matches("120"));

    const TextMatcher noCase("software", false, true), exact("software", false, false);
    EXPECT_TRUE(noCase.matches("MySoftwareKey"));
    EXPECT_FALSE(exact.matches("MySoftwareKey"));
    EXPECT_TRUE(TextMatcher("SOFTWARE", true, true).matches("Software"));
    EXPECT_FALSE(TextMatcher("SOFTWARE", true, true).matches("Softwares"));

    const TextMatcher any("", true, false);
    EXPECT_TRUE(any.matches(""));
    EXPECT_TRUE(any.matches("anything"));
}

TEST(TextMatcherTest, DoubleByteCharactersAreNeverSplit) {
    // ｱ is the single byte B1; 83 B1 is one double-byte character whose second byte is B1.
    const TextMatcher kana("\xB1", false, false);
    EXPECT_FALSE(kana.matches("\x83\xB1"));
    EXPECT_TRUE(kana.matches("\x83\xB1\xB1"));
    EXPECT_TRUE(kana.matches("\xB1"));
    // 83 61 has the letter code a as its second byte: upper-casing leaves it alone, and a
    // search for "a" (or "A" ignoring case) does not find it.
    EXPECT_FALSE(TextMatcher("A", false, true).matches("\x83\x61"));
    EXPECT_FALSE(TextMatcher("a", false, false).matches("\x83\x61"));
    EXPECT_TRUE(TextMatcher("A", false, true)
                    .matches("\x83\x61"
                             "a"));
    // A backslash as second byte (表 is 95 5C) is no path separator either.
    EXPECT_FALSE(TextMatcher("\\", false, false).matches("\x95\x5C"));

    // Against a plain character-by-character search over random CP932-like texts.
    std::mt19937 rng(7);
    const char alphabet[] = {'a', 'b', 'A', '\\', '\x83', '\xB1', '\x61'};
    auto random = [&](std::size_t n) {
        std::string s;
        while (s.size() < n)
            s += alphabet[rng() % sizeof alphabet];
        // A lead byte at the end would take nothing with it.
        if (!s.empty() && isCp932Lead(static_cast<unsigned char>(s.back())))
            s.back() = 'a';
        return s;
    };
    for (int i = 0; i < 2000; ++i) {
        const std::string hay = random(rng() % 12), needle = random(1 + rng() % 3);
        EXPECT_EQ(alignedFind(hay, needle), cp932Find(hay, needle)) << hay << " / " << needle;
    }
}

TEST(TextMatcherTest, ThePreviewReplacesEveryOccurrenceAndKeepsTheRest) {
    EXPECT_EQ(substitutePreview("MySoftwareKey", "software", "X", true), "MyXKey");
    EXPECT_EQ(substitutePreview("MySoftwareKey", "software", "X", false), "MySoftwareKey");
    EXPECT_EQ(substitutePreview("C:\\Temp\\temp", "temp", "X", true), "C:\\X\\X");
    EXPECT_EQ(substitutePreview("C:\\Temp\\temp", "temp", "X", false), "C:\\Temp\\X");
    EXPECT_EQ(substitutePreview("1234", "23", "99", false), "1994");
    EXPECT_EQ(substitutePreview("aaa", "aa", "b", false), "ba"); // not overlapping
    EXPECT_EQ(substitutePreview("text", "", "X", false), "text");
    EXPECT_EQ(substitutePreview("", "a", "X", false), "");
    EXPECT_EQ(substitutePreview("\x83\x61"
                                "a",
                                "A", "X", true),
              "\x83\x61X");
    EXPECT_EQ(substitutePreview("\x83\xB1\xB1", "\xB1", "!", false), "\x83\xB1!");
}

TEST(TextMatcherTest, HexadecimalNumbersOfAtMostThirtyTwoBits) {
    EXPECT_EQ(hexToDecimalText("1F"), "31");
    EXPECT_EQ(hexToDecimalText("ffffffff"), "4294967295");
    EXPECT_EQ(hexToDecimalText("0"), "0");
    for (const char* bad : {"", "1G", "$1F", " 1F", "100000000", "-1"})
        EXPECT_FALSE(hexToDecimalText(bad)) << bad;
}
