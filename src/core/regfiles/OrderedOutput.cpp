#include "core/regfiles/OrderedOutput.h"

namespace klv {

OrderedOutput::OrderedOutput(Sink sink, std::size_t pieces, std::size_t memoryLimit)
    : sink_(std::move(sink)), waiting_(pieces), done_(pieces, false), limit_(memoryLimit) {}

void OrderedOutput::pass(std::string_view bytes) {
    try {
        sink_(bytes);
    } catch (...) {
        aborted_ = true; // the output is lost for everyone
        turn_.notify_all();
        throw;
    }
}

void OrderedOutput::write(std::size_t piece, std::string_view bytes) {
    std::unique_lock lock(mutex_);
    // A later piece waits for its turn while too much is held already; the piece whose turn
    // it is never waits, so the output always moves on.
    turn_.wait(lock, [&] { return aborted_ || piece == next_ || held_ + bytes.size() <= limit_; });
    if (aborted_)
        throw Aborted{};
    if (piece != next_) {
        waiting_[piece].append(bytes);
        held_ += bytes.size();
        return;
    }
    if (!waiting_[piece].empty()) {
        held_ -= waiting_[piece].size();
        pass(waiting_[piece]);
        std::string().swap(waiting_[piece]);
        turn_.notify_all(); // room for the pieces after it
    }
    pass(bytes);
}

void OrderedOutput::finish(std::size_t piece) {
    std::unique_lock lock(mutex_);
    if (aborted_)
        throw Aborted{};
    done_[piece] = true;
    while (next_ < done_.size() && done_[next_]) {
        if (!waiting_[next_].empty()) {
            held_ -= waiting_[next_].size();
            pass(waiting_[next_]);
            std::string().swap(waiting_[next_]);
        }
        ++next_;
    }
    turn_.notify_all();
}

void OrderedOutput::abort() {
    std::lock_guard lock(mutex_);
    aborted_ = true;
    turn_.notify_all();
}

} // namespace klv
