#include "gui/valueedit/HexEditor.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace klv {
namespace {
const char kDigits[] = "0123456789ABCDEF";
} // namespace

THexEditor::THexEditor(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("HexEditor"));
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    setFont(mono);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
}

void THexEditor::load(std::string_view bytes) {
    buffer_.load(bytes);
    cursor_ = 0;
    nibble_ = 0;
    anchor_.reset();
    updateScroll();
    viewport()->update();
    emit stateChanged();
}

void THexEditor::setLineSize(int bytes) {
    lineSize_ = std::clamp(bytes, 1, 64);
    display_.lineSize = lineSize_;
    updateScroll();
    viewport()->update();
}

void THexEditor::setDisplay(const HexDisplay& display) {
    display_ = display;
    display_.columnSize = std::clamp(display.columnSize, 1, 64);
    display_.grid = std::clamp(display.grid, 0, 8);
    setLineSize(display.lineSize);
}

// Offsets take ten characters; each byte two, and each column of bytes one more after it.
int THexEditor::hexX(int column) const {
    const int cw = charWidth();
    return 10 * cw + column * 2 * cw + (column / display_.columnSize) * cw;
}

int THexEditor::textLeft() const {
    return hexX(lineSize_) + charWidth();
}

QChar THexEditor::shownChar(unsigned char b) const {
    if (b == 0x20 && !display_.maskBlanks)
        return QLatin1Char(' ');
    if (b > 0x20 && b < 0x7F)
        return QLatin1Char(static_cast<char>(b));
    if (display_.ansi && b >= 0xA1 && b <= 0xDF)
        return QChar(0xFF61 + (b - 0xA1)); // CP932's half-width katakana
    return QLatin1Char('.');
}

int THexEditor::rowHeight() const {
    return fontMetrics().height() + 2;
}

int THexEditor::charWidth() const {
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

void THexEditor::updateScroll() {
    const auto rows = static_cast<int>(buffer_.size() / static_cast<std::size_t>(lineSize_)) + 1;
    const int visible = std::max(1, viewport()->height() / rowHeight());
    verticalScrollBar()->setRange(0, std::max(0, rows - visible));
    verticalScrollBar()->setPageStep(visible);
}

void THexEditor::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    updateScroll();
}

std::optional<std::pair<std::size_t, std::size_t>> THexEditor::selection() const {
    if (!anchor_ || *anchor_ == cursor_)
        return std::nullopt;
    const std::size_t a = std::min(*anchor_, cursor_);
    const std::size_t b = std::max(*anchor_, cursor_);
    return std::pair(a, b - 1);
}

void THexEditor::setCursor(std::size_t pos) {
    moveTo(pos, false);
}

void THexEditor::setInsertMode(bool on) {
    insertMode_ = on;
    emit stateChanged();
}

void THexEditor::setTextPart(bool on) {
    textPart_ = on;
    nibble_ = 0;
    viewport()->update();
}

void THexEditor::moveTo(std::size_t pos, bool extend) {
    pos = std::min(pos, buffer_.size());
    if (extend && !anchor_)
        anchor_ = cursor_;
    if (!extend)
        anchor_.reset();
    cursor_ = pos;
    nibble_ = 0;
    ensureVisible();
    viewport()->update();
    emit stateChanged();
}

void THexEditor::ensureVisible() {
    const auto row = static_cast<int>(cursor_ / static_cast<std::size_t>(lineSize_));
    QScrollBar* bar = verticalScrollBar();
    if (row < bar->value())
        bar->setValue(row);
    else if (row >= bar->value() + bar->pageStep())
        bar->setValue(row - bar->pageStep() + 1);
}

void THexEditor::undo() {
    if (!buffer_.canUndo())
        return;
    const std::size_t at = buffer_.undo();
    updateScroll();
    moveTo(at, false);
}

void THexEditor::insertBytes(std::string_view bytes, const std::string& description) {
    if (readOnly_)
        return;
    if (const auto sel = selection()) {
        buffer_.erase(sel->first, sel->second - sel->first + 1, description);
        cursor_ = sel->first;
    }
    buffer_.insert(cursor_, bytes, description);
    updateScroll();
    moveTo(cursor_ + bytes.size(), false);
}

void THexEditor::eraseAll(const std::string& description) {
    if (readOnly_ || buffer_.empty())
        return;
    buffer_.erase(0, buffer_.size(), description);
    updateScroll();
    moveTo(0, false);
}

void THexEditor::eraseSelection(const std::string& description) {
    const auto sel = selection();
    if (!sel || readOnly_)
        return;
    buffer_.erase(sel->first, sel->second - sel->first + 1, description);
    updateScroll();
    moveTo(sel->first, false);
}

// A digit typed in the hex part: the high nibble first, then the low one, which moves on.
void THexEditor::typeHexDigit(int value) {
    if (readOnly_)
        return;
    const std::string what = "入力";
    if (nibble_ == 0) {
        const bool append = cursor_ >= buffer_.size();
        const std::uint8_t low = append || insertMode_ ? 0 : buffer_.at(cursor_) & 0x0F;
        const std::string byte(1, static_cast<char>(value << 4 | low));
        if (insertMode_ || append)
            buffer_.insert(cursor_, byte, what);
        else
            buffer_.overwrite(cursor_, byte, what);
        nibble_ = 1;
    } else {
        const std::string byte(1, static_cast<char>((buffer_.at(cursor_) & 0xF0) | value));
        buffer_.overwrite(cursor_, byte, what);
        nibble_ = 0;
        ++cursor_;
    }
    anchor_.reset();
    updateScroll();
    ensureVisible();
    viewport()->update();
    emit stateChanged();
}

void THexEditor::typeText(char byte) {
    if (readOnly_)
        return;
    const std::string b(1, byte);
    if (insertMode_ || cursor_ >= buffer_.size())
        buffer_.insert(cursor_, b, "入力");
    else
        buffer_.overwrite(cursor_, b, "入力");
    updateScroll();
    moveTo(cursor_ + 1, false);
}

void THexEditor::keyPressEvent(QKeyEvent* e) {
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const auto line = static_cast<std::size_t>(lineSize_);
    const std::size_t page = line * static_cast<std::size_t>(verticalScrollBar()->pageStep());
    switch (e->key()) {
    case Qt::Key_Left:
        return moveTo(cursor_ > 0 ? cursor_ - 1 : 0, shift);
    case Qt::Key_Right:
        return moveTo(cursor_ + 1, shift);
    case Qt::Key_Up:
        return moveTo(cursor_ >= line ? cursor_ - line : cursor_, shift);
    case Qt::Key_Down:
        return moveTo(cursor_ + line <= buffer_.size() ? cursor_ + line : cursor_, shift);
    case Qt::Key_PageUp:
        return moveTo(cursor_ >= page ? cursor_ - page : 0, shift);
    case Qt::Key_PageDown:
        return moveTo(cursor_ + page, shift);
    case Qt::Key_Home:
        return moveTo(e->modifiers() & Qt::ControlModifier ? 0 : cursor_ - cursor_ % line, shift);
    case Qt::Key_End:
        return moveTo(e->modifiers() & Qt::ControlModifier ? buffer_.size()
                                                           : cursor_ - cursor_ % line + line - 1,
                      shift);
    case Qt::Key_Insert:
        return setInsertMode(!insertMode_);
    case Qt::Key_Tab:
        return setTextPart(!textPart_);
    case Qt::Key_Delete:
        if (selection())
            return eraseSelection("削除");
        if (!readOnly_ && cursor_ < buffer_.size()) {
            buffer_.erase(cursor_, 1, "削除");
            updateScroll();
            moveTo(cursor_, false);
        }
        return;
    case Qt::Key_Backspace:
        if (selection())
            return eraseSelection("削除");
        if (!readOnly_ && cursor_ > 0) {
            buffer_.erase(cursor_ - 1, 1, "削除");
            updateScroll();
            moveTo(cursor_ - 1, false);
        }
        return;
    default:
        break;
    }
    if (e->matches(QKeySequence::Undo))
        return undo();
    const QString text = e->text();
    if (text.size() != 1 || e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
        return QAbstractScrollArea::keyPressEvent(e);
    const QChar c = text.front();
    if (textPart_) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
            typeText(static_cast<char>(c.unicode()));
        return;
    }
    const int digit = static_cast<int>(QString::fromLatin1(kDigits).indexOf(c.toUpper()));
    if (digit >= 0)
        typeHexDigit(digit);
}

void THexEditor::mousePressEvent(QMouseEvent* e) {
    const int cw = charWidth();
    const int row =
        verticalScrollBar()->value() + static_cast<int>(e->position().y()) / rowHeight();
    const int x = static_cast<int>(e->position().x());
    int column = 0;
    if (x >= textLeft()) {
        textPart_ = true;
        column = (x - textLeft()) / cw;
    } else {
        textPart_ = false;
        while (column + 1 < lineSize_ && hexX(column + 1) <= x)
            ++column;
    }
    column = std::clamp(column, 0, lineSize_ - 1);
    moveTo(static_cast<std::size_t>(row) * static_cast<std::size_t>(lineSize_) +
               static_cast<std::size_t>(column),
           e->modifiers() & Qt::ShiftModifier);
}

void THexEditor::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), palette().base());
    const int cw = charWidth();
    const int rh = rowHeight();
    const int ascent = fontMetrics().ascent() + 1;
    const int textX = textLeft();
    const auto line = static_cast<std::size_t>(lineSize_);
    const int firstRow = verticalScrollBar()->value();
    const int rows = viewport()->height() / rh + 1;
    const auto sel = selection();
    const QColor changedColour(Qt::red);
    const QColor selectionColour = palette().highlight().color().lighter(160);
    if (display_.grid > 0) {
        // Lines between the columns of the hex part, and before the text part.
        QPen pen(palette().mid().color());
        pen.setWidth(display_.grid);
        p.setPen(pen);
        for (int c = display_.columnSize; c < lineSize_; c += display_.columnSize)
            p.drawLine(hexX(c) - cw / 2, 0, hexX(c) - cw / 2, viewport()->height());
        p.drawLine(textX - cw / 2, 0, textX - cw / 2, viewport()->height());
    }
    for (int r = 0; r < rows; ++r) {
        const std::size_t start = static_cast<std::size_t>(firstRow + r) * line;
        if (start > buffer_.size())
            break;
        const int y = r * rh;
        char offset[24];
        std::snprintf(offset, sizeof offset, display_.decimalOffsets ? "%08zu:" : "%08zX:", start);
        p.setPen(palette().text().color());
        p.drawText(0, y + ascent, QString::fromLatin1(offset));
        const std::string bytes = buffer_.bytes(start, line);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const std::size_t pos = start + i;
            const auto b = static_cast<unsigned char>(bytes[i]);
            const int hx = hexX(static_cast<int>(i));
            const int tx = textX + static_cast<int>(i) * cw;
            if (sel && pos >= sel->first && pos <= sel->second) {
                p.fillRect(hx, y, 2 * cw, rh, selectionColour);
                p.fillRect(tx, y, cw, rh, selectionColour);
            }
            p.setPen(buffer_.changed(pos) ? changedColour : palette().text().color());
            const char hex[3] = {kDigits[b >> 4], kDigits[b & 15], 0};
            p.drawText(hx, y + ascent, QString::fromLatin1(hex));
            p.drawText(tx, y + ascent, QString(shownChar(b)));
        }
        // The cursor, in the part that takes typing: a line at the left of its cell (insert
        // mode, or STYLE 1), else a block over it.
        if (cursor_ >= start && cursor_ < start + line) {
            const auto col = static_cast<int>(cursor_ - start);
            const int cx = textPart_ ? textX + col * cw : hexX(col) + nibble_ * cw;
            const bool thin = insertMode_ || display_.lineCaret;
            p.fillRect(cx, y, thin ? 2 : cw, rh,
                       thin ? palette().text().color() : QColor(0, 0, 255, 60));
        }
    }
}

} // namespace klv
