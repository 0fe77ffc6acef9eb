#pragma once
// Numbered pieces of one output, produced by several threads at once and handed on in number
// order: the piece whose turn it is goes straight through, later pieces wait in memory. When
// too much waits, their producers wait too, so memory stays bounded whatever the pieces' sizes.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

class OrderedOutput {
public:
    using Sink = std::function<void(std::string_view)>;

    OrderedOutput(Sink sink, std::size_t pieces, std::size_t memoryLimit);

    // Bytes of a piece; may wait for earlier pieces. Throws what the sink throws, and
    // Aborted once abort() has been called.
    void write(std::size_t piece, std::string_view bytes);
    // The piece is complete: it and every complete piece after it go out.
    void finish(std::size_t piece);
    // Wakes every waiting producer; their writes throw Aborted from then on.
    void abort();

    struct Aborted {};

private:
    void pass(std::string_view bytes); // to the sink, under the lock

    Sink sink_;
    std::mutex mutex_;
    std::condition_variable turn_;
    std::vector<std::string> waiting_;
    std::vector<bool> done_;
    std::size_t next_ = 0; // the piece whose turn it is
    std::size_t held_ = 0; // bytes waiting
    std::size_t limit_;
    bool aborted_ = false;
};

} // namespace klv
