#pragma once
// The binary editor's hex view: offset, hex and text columns over a HexBuffer. It paints only
// the rows in view, edits in both parts, inserts or overwrites, selects, and undoes through the
// buffer.
#include "core/hexedit/HexBuffer.h"

#include <QAbstractScrollArea>
#include <optional>

namespace klv {

// The display settings of section BINARY.
struct HexDisplay {
    int lineSize = 8;            // LINESIZE: bytes per line
    int columnSize = 1;          // COLUMNSIZE: bytes per column of the hex part
    bool decimalOffsets = false; // DISPLAY 1: offsets in decimal
    int grid = 0;                // GRID: width of the lines between columns, 0 for none
    bool lineCaret = true;       // STYLE 1: a line at the left of the cell, else a block
    bool maskBlanks = false;     // MASK: blanks shown as "." in the text part too
    bool ansi = true;            // TRANS 0: the text part shows CP932 half-width katakana
};

class THexEditor : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit THexEditor(QWidget* parent = nullptr);

    void load(std::string_view bytes);
    const HexBuffer& buffer() const { return buffer_; }
    std::size_t cursor() const { return cursor_; }
    void setCursor(std::size_t pos);
    bool insertMode() const { return insertMode_; }
    void setInsertMode(bool on);
    bool textPart() const { return textPart_; }
    void setTextPart(bool on);
    void setReadOnly(bool on) { readOnly_ = on; }
    bool isReadOnly() const { return readOnly_; }
    void setLineSize(int bytes);
    void setDisplay(const HexDisplay& display);
    // Where things are drawn: the left edge of a byte's cell in the hex part, and of the text
    // part.
    int hexX(int column) const;
    int textLeft() const;
    // The selection as [first, last], when there is one.
    std::optional<std::pair<std::size_t, std::size_t>> selection() const;

    void undo();
    // Replaces the selection, or inserts at the cursor.
    void insertBytes(std::string_view bytes, const std::string& description);
    void eraseSelection(const std::string& description);
    void eraseAll(const std::string& description);

signals:
    void stateChanged(); // cursor, selection, mode or data

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void moveTo(std::size_t pos, bool extend);
    void typeHexDigit(int value);
    void typeText(char byte);
    void updateScroll();
    void ensureVisible();
    int rowHeight() const;
    int charWidth() const;
    QChar shownChar(unsigned char byte) const;

    HexBuffer buffer_;
    std::size_t cursor_ = 0;
    int nibble_ = 0; // 1 after the high nibble of the cursor's byte was typed
    std::optional<std::size_t> anchor_;
    bool insertMode_ = false;
    bool textPart_ = false;
    bool readOnly_ = false;
    int lineSize_ = 8;
    HexDisplay display_;
};

} // namespace klv
