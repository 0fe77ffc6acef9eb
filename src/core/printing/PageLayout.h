#pragma once
// Pagination of the printing facility, apart from fonts: the text's lines go row by row into
// the columns of each page. How many rows a line needs at the column width is asked of a wrap
// function, so that the window's font metrics decide where lines break while the rules of
// placing rows and numbering lines live here.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace klv {

// A place in the text: a source line and which of its printed rows (0 for the line's first).
struct RowPosition {
    std::size_t line = 0;
    int part = 0;
    bool operator==(const RowPosition&) const = default;
};

struct PrintedRow {
    std::size_t line = 0; // index of the source line
    int part = 0;         // 0: the line's first row; 1, 2, ...: its wrapped continuations
    // With line numbers: the line's number right-aligned to the width of the largest number,
    // on the first row only; empty otherwise.
    std::string number;
};

struct PrintedPage {
    RowPosition start;
    std::vector<std::vector<PrintedRow>> columns; // left to right, each top to bottom
};

struct LayoutParams {
    std::size_t lineCount = 0;
    int rowsPerColumn = 1;  // at least 1
    int columnsPerPage = 1; // at least 1
    bool lineNumbers = false;
    // Printed rows the line needs at the column width; less than 1 counts as 1.
    std::function<int(std::size_t line)> rowsOf;
};

// Hands out the pages one at a time, asking the wrap function only about the lines it
// reaches, so that printing the first pages of a long text does not wrap all of it. A text
// without lines still gives one (empty) page.
class PageLayout {
public:
    explicit PageLayout(LayoutParams params, RowPosition start = {});

    bool atEnd() const;
    // The next page; an empty page once atEnd().
    PrintedPage nextPage();
    // Steps over the next page without building it.
    void skipPage();
    RowPosition position() const { return pos_; }

private:
    void advance(PrintedPage* page);
    int rowsOfCurrentLine();

    LayoutParams params_;
    RowPosition pos_;
    int currentRows_ = 0; // rows of pos_.line, 0 while not asked yet
    bool pageGiven_ = false;
};

// The width of the largest line number of a text with `lineCount` lines.
int lineNumberWidth(std::size_t lineCount);

// Where every page starts, for a preview that paints pages when they are shown. `pump` runs
// after every page; nullopt when *stop was set.
std::optional<std::vector<RowPosition>> pageStarts(const LayoutParams& params,
                                                   const std::function<void()>& pump = {},
                                                   const bool* stop = nullptr);

} // namespace klv
