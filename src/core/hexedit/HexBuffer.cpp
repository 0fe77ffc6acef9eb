#include "core/hexedit/HexBuffer.h"

#include <algorithm>
#include <cstring>

namespace klv {

void HexBuffer::load(std::string_view bytes) {
    // A gap from the start, so that the first keystrokes move bytes but allocate nothing.
    constexpr std::size_t kInitialGap = 64 * 1024;
    data_.assign(bytes.size() + kInitialGap, 0);
    std::copy(bytes.begin(), bytes.end(), data_.begin());
    changed_.assign(data_.size(), 0);
    gapStart_ = bytes.size();
    gapEnd_ = data_.size();
    undo_.clear();
}

std::string HexBuffer::bytes(std::size_t pos, std::size_t count) const {
    pos = std::min(pos, size());
    count = std::min(count, size() - pos);
    std::string out(count, '\0');
    // At most two runs: before the gap and after it.
    const std::size_t before = pos < gapStart_ ? std::min(count, gapStart_ - pos) : 0;
    if (before)
        std::memcpy(out.data(), data_.data() + pos, before);
    if (count > before)
        std::memcpy(out.data() + before, data_.data() + physical(pos + before), count - before);
    return out;
}

std::string HexBuffer::marks(std::size_t pos, std::size_t count) const {
    std::string out(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<char>(changed_[physical(pos + i)]);
    return out;
}

void HexBuffer::moveGap(std::size_t pos) {
    if (pos < gapStart_) {
        const std::size_t n = gapStart_ - pos;
        std::memmove(data_.data() + gapEnd_ - n, data_.data() + pos, n);
        std::memmove(changed_.data() + gapEnd_ - n, changed_.data() + pos, n);
        gapStart_ -= n;
        gapEnd_ -= n;
    } else if (pos > gapStart_) {
        const std::size_t n = pos - gapStart_;
        std::memmove(data_.data() + gapStart_, data_.data() + gapEnd_, n);
        std::memmove(changed_.data() + gapStart_, changed_.data() + gapEnd_, n);
        gapStart_ += n;
        gapEnd_ += n;
    }
}

void HexBuffer::reserveGap(std::size_t count) {
    if (gapLength() >= count)
        return;
    // Grow by half the size at least, so that typing reallocates rarely.
    const std::size_t grow = std::max(count - gapLength(), std::max<std::size_t>(size() / 2, 4096));
    const std::size_t tail = data_.size() - gapEnd_;
    data_.resize(data_.size() + grow);
    changed_.resize(changed_.size() + grow);
    std::memmove(data_.data() + gapEnd_ + grow, data_.data() + gapEnd_, tail);
    std::memmove(changed_.data() + gapEnd_ + grow, changed_.data() + gapEnd_, tail);
    gapEnd_ += grow;
}

void HexBuffer::rawInsert(std::size_t pos, std::string_view bytes, std::string_view marks) {
    reserveGap(bytes.size());
    moveGap(pos);
    std::memcpy(data_.data() + gapStart_, bytes.data(), bytes.size());
    std::memcpy(changed_.data() + gapStart_, marks.data(), marks.size());
    gapStart_ += bytes.size();
}

void HexBuffer::rawErase(std::size_t pos, std::size_t count) {
    moveGap(pos);
    gapEnd_ += count;
}

void HexBuffer::overwrite(std::size_t pos, std::string_view bytes, std::string description) {
    pos = std::min(pos, size());
    // Bytes past the end are appended, as typing over the last byte goes on.
    const std::size_t inside = std::min(bytes.size(), size() - pos);
    Step s{Step::Overwrite,    pos,          this->bytes(pos, inside),
           marks(pos, inside), bytes.size(), std::move(description)};
    for (std::size_t i = 0; i < inside; ++i) {
        const std::size_t p = physical(pos + i);
        data_[p] = static_cast<std::uint8_t>(bytes[i]);
        changed_[p] = 1;
    }
    if (inside < bytes.size()) {
        const std::string_view rest = bytes.substr(inside);
        rawInsert(pos + inside, rest, std::string(rest.size(), '\1'));
    }
    undo_.push_back(std::move(s));
}

void HexBuffer::insert(std::size_t pos, std::string_view bytes, std::string description) {
    pos = std::min(pos, size());
    rawInsert(pos, bytes, std::string(bytes.size(), '\1'));
    undo_.push_back(Step{Step::Insert, pos, {}, {}, bytes.size(), std::move(description)});
}

void HexBuffer::erase(std::size_t pos, std::size_t count, std::string description) {
    pos = std::min(pos, size());
    count = std::min(count, size() - pos);
    Step s{Step::Erase, pos, bytes(pos, count), marks(pos, count), 0, std::move(description)};
    rawErase(pos, count);
    undo_.push_back(std::move(s));
}

const std::string& HexBuffer::undoDescription() const {
    static const std::string none;
    return undo_.empty() ? none : undo_.back().description;
}

std::size_t HexBuffer::undo() {
    if (undo_.empty())
        return 0;
    Step s = std::move(undo_.back());
    undo_.pop_back();
    switch (s.kind) {
    case Step::Overwrite: {
        const std::size_t inside = s.oldBytes.size();
        if (s.length > inside)
            rawErase(s.pos + inside, s.length - inside);
        for (std::size_t i = 0; i < inside; ++i) {
            const std::size_t p = physical(s.pos + i);
            data_[p] = static_cast<std::uint8_t>(s.oldBytes[i]);
            changed_[p] = static_cast<std::uint8_t>(s.oldMarks[i]);
        }
        break;
    }
    case Step::Insert:
        rawErase(s.pos, s.length);
        break;
    case Step::Erase:
        rawInsert(s.pos, s.oldBytes, s.oldMarks);
        break;
    }
    return s.pos;
}

} // namespace klv
