#pragma once
// The bytes the binary editor works on, apart from the widget that paints them: a gap buffer
// (typing and inserting at the cursor move no more than the distance from the last edit), a
// mark per byte for the bytes changed since loading, and the undo commands with their
// descriptions. Values of many megabytes open and edit without copying the whole buffer per
// keystroke.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

class HexBuffer {
public:
    HexBuffer() = default;
    explicit HexBuffer(std::string_view bytes) { load(bytes); }

    // Replaces everything; no byte is marked changed and there is nothing to undo.
    void load(std::string_view bytes);

    std::size_t size() const { return data_.size() - gapLength(); }
    bool empty() const { return size() == 0; }
    std::uint8_t at(std::size_t pos) const { return data_[physical(pos)]; }
    bool changed(std::size_t pos) const { return changed_[physical(pos)] != 0; }
    // Bytes [pos, pos + count) clipped to the size, for painting a row or copying a selection.
    std::string bytes(std::size_t pos, std::size_t count) const;
    std::string all() const { return bytes(0, size()); }
    // True when something was changed since loading (an undo back to the start clears it).
    bool modified() const { return !undo_.empty(); }

    // Edits; each is one undo step with its description. Positions past the end are clipped.
    void overwrite(std::size_t pos, std::string_view bytes, std::string description);
    void insert(std::size_t pos, std::string_view bytes, std::string description);
    void erase(std::size_t pos, std::size_t count, std::string description);

    bool canUndo() const { return !undo_.empty(); }
    // The description of the step undo() takes back, empty when there is none.
    const std::string& undoDescription() const;
    // Takes back the last step, marks included; returns the position it touched.
    std::size_t undo();

private:
    struct Step {
        enum Kind { Overwrite, Insert, Erase } kind;
        std::size_t pos;
        std::string oldBytes; // what was there (overwrite, erase)
        std::string oldMarks;
        std::size_t length; // bytes inserted or overwritten
        std::string description;
    };

    std::size_t gapLength() const { return gapEnd_ - gapStart_; }
    std::size_t physical(std::size_t pos) const {
        return pos < gapStart_ ? pos : pos + gapLength();
    }
    void moveGap(std::size_t pos);
    void reserveGap(std::size_t count);
    void rawInsert(std::size_t pos, std::string_view bytes, std::string_view marks);
    void rawErase(std::size_t pos, std::size_t count);
    std::string marks(std::size_t pos, std::size_t count) const;

    std::vector<std::uint8_t> data_;
    std::vector<std::uint8_t> changed_; // parallel to data_, gap included
    std::size_t gapStart_ = 0;
    std::size_t gapEnd_ = 0;
    std::vector<Step> undo_;
};

} // namespace klv
