// The page setup: its default is the registry printing's, out-of-range numbers are clamped, and
// the header and footer keywords expand, double-byte characters included.
#include "core/printing/PageSetup.h"
#include "core/platform/Encoding.h"

#include <gtest/gtest.h>

using namespace klv;

namespace {

PageKeywords keywords(int page, const std::string& path) {
    PageKeywords k;
    k.page = page;
    k.filePath = path;
    k.time.tm_year = 2024 - 1900;
    k.time.tm_mon = 2; // March
    k.time.tm_mday = 5;
    k.time.tm_hour = 7;
    k.time.tm_min = 4;
    return k;
}

} // namespace

TEST(PageSetupTest, DefaultIsTheRegistryPrintingsSetup) {
    const PageSetup s;
    EXPECT_EQ(s.columns, 1);
    EXPECT_EQ(s.columnSpacing, 4);
    EXPECT_EQ(s.header, "%y/%m/%d");
    EXPECT_EQ(s.headerPosition, PrintPosition::Right);
    EXPECT_EQ(s.footer, "- %p -");
    EXPECT_EQ(s.footerPosition, PrintPosition::Center);
    EXPECT_FALSE(s.lineNumbers);
    EXPECT_EQ(s.marginLeft, 10);
    EXPECT_EQ(s.marginRight, 10);
    EXPECT_EQ(s.marginTop, 10);
    EXPECT_EQ(s.marginBottom, 10);
    EXPECT_EQ(clampedSetup(s), s);
}

TEST(PageSetupTest, OutOfRangeNumbersAreClamped) {
    PageSetup s;
    s.columns = 0;
    s.columnSpacing = -1;
    s.marginLeft = -5;
    s.marginRight = 1000;
    s.fontSize = 0;
    PageSetup c = clampedSetup(s);
    EXPECT_EQ(c.columns, 1);
    EXPECT_EQ(c.columnSpacing, 0);
    EXPECT_EQ(c.marginLeft, 0);
    EXPECT_EQ(c.marginRight, kMaxMargin);
    EXPECT_EQ(c.fontSize, kMinFontSize);
    s.columns = 4;
    s.columnSpacing = 101;
    s.marginTop = 101;
    s.marginBottom = 100;
    s.fontSize = 500;
    c = clampedSetup(s);
    EXPECT_EQ(c.columns, 3);
    EXPECT_EQ(c.columnSpacing, 100);
    EXPECT_EQ(c.marginTop, 100);
    EXPECT_EQ(c.marginBottom, 100);
    EXPECT_EQ(c.fontSize, kMaxFontSize);
}

TEST(PageSetupTest, KeywordsExpand) {
    const PageKeywords k = keywords(12, "/home/u/reg/list.txt");
    EXPECT_EQ(expandPageKeywords("%y/%m/%d", k), "2024/03/05");
    EXPECT_EQ(expandPageKeywords("- %p -", k), "- 12 -");
    EXPECT_EQ(expandPageKeywords("%t", k), "07:04");
    EXPECT_EQ(expandPageKeywords("%f", k), "/home/u/reg/list.txt");
    EXPECT_EQ(expandPageKeywords("[%F]", k), "[list.txt]");
    EXPECT_EQ(expandPageKeywords("100%% %p", k), "100% 12");
    // Keywords are case-sensitive: only %F is the short name.
    EXPECT_EQ(expandPageKeywords("%P %x %Y", k), "%P %x %Y");
    EXPECT_EQ(expandPageKeywords("end%", k), "end%");
    EXPECT_EQ(expandPageKeywords("%%%p%", k), "%12%");
    EXPECT_EQ(expandPageKeywords("", k), "");
    // No file: the keywords expand to nothing.
    EXPECT_EQ(expandPageKeywords("(%f)(%F)", keywords(1, "")), "()()");
}

TEST(PageSetupTest, DoubleByteTextAroundKeywords) {
    const PageKeywords k = keywords(3, "");
    // "パ" is 0x83 0x70: its second byte is the letter p, but it is no keyword.
    EXPECT_EQ(cp932ToUtf8(expandPageKeywords(sj("%パ ページ%p"), k)), "%パ ページ3");
    EXPECT_EQ(cp932ToUtf8(expandPageKeywords(sj("%y年%m月%d日"), k)), "2024年03月05日");
}

TEST(PageSetupTest, FileNameSplitsOnlyAtRealSeparators) {
    // "表" and "ソ" end in 0x5C, the backslash's code.
    const std::string path = sj("C:\\データ\\表ソ.txt");
    EXPECT_EQ(cp932ToUtf8(fileNameOnly(path)), "表ソ.txt");
    EXPECT_EQ(cp932ToUtf8(fileNameOnly(sj("/home/u/表.txt"))), "表.txt");
    EXPECT_EQ(fileNameOnly("plain.txt"), "plain.txt");
    EXPECT_EQ(fileNameOnly("dir/"), "");
    EXPECT_EQ(cp932ToUtf8(expandPageKeywords("%F", keywords(1, path))), "表ソ.txt");
}
