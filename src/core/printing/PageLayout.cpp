#include "core/printing/PageLayout.h"

#include <algorithm>

namespace klv {

PageLayout::PageLayout(LayoutParams params, RowPosition start)
    : params_(std::move(params)), pos_(start) {
    params_.rowsPerColumn = std::max(params_.rowsPerColumn, 1);
    params_.columnsPerPage = std::max(params_.columnsPerPage, 1);
    // Only a layout from the text's beginning owes the one page of an empty text.
    pageGiven_ = start != RowPosition{};
}

bool PageLayout::atEnd() const {
    return pageGiven_ && pos_.line >= params_.lineCount;
}

int PageLayout::rowsOfCurrentLine() {
    if (currentRows_ == 0)
        currentRows_ = std::max(params_.rowsOf ? params_.rowsOf(pos_.line) : 1, 1);
    return currentRows_;
}

void PageLayout::advance(PrintedPage* page) {
    pageGiven_ = true;
    if (page) {
        page->start = pos_;
        page->columns.clear();
    }
    const int width = params_.lineNumbers ? lineNumberWidth(params_.lineCount) : 0;
    for (int c = 0; c < params_.columnsPerPage && pos_.line < params_.lineCount; ++c) {
        std::vector<PrintedRow>* column = nullptr;
        if (page)
            column = &page->columns.emplace_back();
        for (int r = 0; r < params_.rowsPerColumn && pos_.line < params_.lineCount; ++r) {
            if (column) {
                PrintedRow row{pos_.line, pos_.part, {}};
                if (params_.lineNumbers && pos_.part == 0) {
                    row.number = std::to_string(pos_.line + 1);
                    row.number.insert(0, static_cast<size_t>(width) - row.number.size(), ' ');
                }
                column->push_back(std::move(row));
            }
            if (++pos_.part >= rowsOfCurrentLine()) {
                ++pos_.line;
                pos_.part = 0;
                currentRows_ = 0;
            }
        }
    }
}

PrintedPage PageLayout::nextPage() {
    PrintedPage page;
    if (atEnd()) {
        page.start = pos_;
        return page;
    }
    advance(&page);
    return page;
}

void PageLayout::skipPage() {
    if (!atEnd())
        advance(nullptr);
}

int lineNumberWidth(std::size_t lineCount) {
    return static_cast<int>(std::to_string(std::max<std::size_t>(lineCount, 1)).size());
}

std::optional<std::vector<RowPosition>>
pageStarts(const LayoutParams& params, const std::function<void()>& pump, const bool* stop) {
    std::vector<RowPosition> starts;
    PageLayout layout(params);
    while (!layout.atEnd()) {
        if (stop && *stop)
            return std::nullopt;
        starts.push_back(layout.position());
        layout.skipPage();
        if (pump)
            pump();
    }
    return starts;
}

} // namespace klv
