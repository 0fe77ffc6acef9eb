// Pagination: rows fill columns and pages in order, long lines wrap across columns and pages,
// continuation rows carry no number, and a layout started at a page's start gives that page.
#include "core/printing/PageLayout.h"

#include <gtest/gtest.h>
#include <map>

using namespace klv;

namespace {

LayoutParams params(std::size_t lines, int rows, int columns,
                    std::map<std::size_t, int> wrapped = {}, bool numbers = false) {
    LayoutParams p;
    p.lineCount = lines;
    p.rowsPerColumn = rows;
    p.columnsPerPage = columns;
    p.lineNumbers = numbers;
    p.rowsOf = [wrapped](std::size_t line) {
        const auto it = wrapped.find(line);
        return it == wrapped.end() ? 1 : it->second;
    };
    return p;
}

std::vector<PrintedPage> allPages(const LayoutParams& p) {
    std::vector<PrintedPage> pages;
    PageLayout layout(p);
    while (!layout.atEnd())
        pages.push_back(layout.nextPage());
    return pages;
}

// "line.part" of every row of a column, for compact comparisons.
std::string rowsText(const std::vector<PrintedRow>& column) {
    std::string s;
    for (const PrintedRow& r : column)
        s += (s.empty() ? "" : " ") + std::to_string(r.line) + "." + std::to_string(r.part);
    return s;
}

} // namespace

TEST(PageLayoutTest, RowsFillColumnsThenPages) {
    const auto pages = allPages(params(14, 3, 2));
    ASSERT_EQ(pages.size(), 3u);
    ASSERT_EQ(pages[0].columns.size(), 2u);
    EXPECT_EQ(rowsText(pages[0].columns[0]), "0.0 1.0 2.0");
    EXPECT_EQ(rowsText(pages[0].columns[1]), "3.0 4.0 5.0");
    EXPECT_EQ(rowsText(pages[1].columns[1]), "9.0 10.0 11.0");
    // The last page holds what is left and no empty column.
    ASSERT_EQ(pages[2].columns.size(), 1u);
    EXPECT_EQ(rowsText(pages[2].columns[0]), "12.0 13.0");
    EXPECT_EQ(pages[2].start, (RowPosition{12, 0}));
}

TEST(PageLayoutTest, ExactFitGivesNoTrailingEmptyPage) {
    EXPECT_EQ(allPages(params(6, 3, 2)).size(), 1u);
    EXPECT_EQ(allPages(params(7, 3, 2)).size(), 2u);
}

TEST(PageLayoutTest, EmptyTextStillPrintsOnePage) {
    const auto pages = allPages(params(0, 10, 1));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(pages[0].columns.empty());
    const auto starts = pageStarts(params(0, 10, 1));
    ASSERT_TRUE(starts);
    EXPECT_EQ(starts->size(), 1u);
}

TEST(PageLayoutTest, LongLineWrapsAcrossColumnsAndPagesWithoutLosingRows) {
    // Line 1 needs five rows: two columns of two rows hold only four.
    const auto pages = allPages(params(3, 2, 2, {{1, 5}}, true));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(rowsText(pages[0].columns[0]), "0.0 1.0");
    EXPECT_EQ(rowsText(pages[0].columns[1]), "1.1 1.2");
    EXPECT_EQ(rowsText(pages[1].columns[0]), "1.3 1.4");
    EXPECT_EQ(rowsText(pages[1].columns[1]), "2.0");
    EXPECT_EQ(pages[1].start, (RowPosition{1, 3}));
    // Only a line's first row is numbered.
    EXPECT_EQ(pages[0].columns[0][1].number, "2");
    EXPECT_EQ(pages[0].columns[1][0].number, "");
    EXPECT_EQ(pages[1].columns[0][1].number, "");
    EXPECT_EQ(pages[1].columns[1][0].number, "3");
}

TEST(PageLayoutTest, LineNumbersAreRightAlignedToTheLargest) {
    const auto pages = allPages(params(120, 60, 1, {}, true));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].columns[0][0].number, "  1");
    EXPECT_EQ(pages[0].columns[0][9].number, " 10");
    EXPECT_EQ(pages[1].columns[0][59].number, "120");
    EXPECT_EQ(lineNumberWidth(9), 1);
    EXPECT_EQ(lineNumberWidth(10), 2);
    EXPECT_EQ(lineNumberWidth(0), 1);
    // Without line numbers no row carries one.
    const auto plain = allPages(params(5, 10, 1));
    for (const PrintedRow& r : plain[0].columns[0])
        EXPECT_TRUE(r.number.empty());
}

TEST(PageLayoutTest, NonsenseRowCountsCountAsOne) {
    auto pages = allPages(params(4, 2, 1, {{0, 0}, {1, -3}}));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(rowsText(pages[0].columns[0]), "0.0 1.0");
    // A page size of zero rows or columns still moves forward one row at a time.
    pages = allPages(params(3, 0, 0));
    EXPECT_EQ(pages.size(), 3u);
}

TEST(PageLayoutTest, WrapIsAskedOnlyAboutLinesItReaches) {
    LayoutParams p = params(1000000, 50, 2);
    std::size_t asked = 0, highest = 0;
    p.rowsOf = [&](std::size_t line) {
        ++asked;
        highest = std::max(highest, line);
        return 1;
    };
    PageLayout layout(p);
    layout.nextPage();
    layout.nextPage();
    EXPECT_EQ(asked, 200u); // once per line
    EXPECT_EQ(highest, 199u);
}

TEST(PageLayoutTest, PageStartsReproduceEveryPage) {
    const LayoutParams p = params(40, 4, 2, {{3, 7}, {10, 2}, {25, 12}}, true);
    const auto pages = allPages(p);
    const auto starts = pageStarts(p);
    ASSERT_TRUE(starts);
    ASSERT_EQ(starts->size(), pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ((*starts)[i], pages[i].start) << "page " << i;
        // A preview lays out a page from its start alone; it must be the same page.
        PageLayout from(p, (*starts)[i]);
        const PrintedPage again = from.nextPage();
        ASSERT_EQ(again.columns.size(), pages[i].columns.size()) << "page " << i;
        for (std::size_t c = 0; c < again.columns.size(); ++c) {
            EXPECT_EQ(rowsText(again.columns[c]), rowsText(pages[i].columns[c]));
            for (std::size_t r = 0; r < again.columns[c].size(); ++r)
                EXPECT_EQ(again.columns[c][r].number, pages[i].columns[c][r].number);
        }
    }
    // Every row of every line is printed exactly once.
    std::size_t rows = 0;
    for (const PrintedPage& page : pages)
        for (const auto& column : page.columns)
            rows += column.size();
    EXPECT_EQ(rows, 40u - 3u + 7u + 2u + 12u);
}

TEST(PageLayoutTest, PageStartsStopAndPump) {
    const LayoutParams p = params(100, 10, 1);
    bool stop = false;
    int pumped = 0;
    const auto stopped = pageStarts(
        p,
        [&] {
            if (++pumped == 3)
                stop = true;
        },
        &stop);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(pumped, 3);
}
