// Pieces written by several threads come out in order, with bounded memory.
#include "core/regfiles/OrderedOutput.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

using namespace klv;

namespace {

TEST(OrderedOutputTest, PiecesFromManyThreadsComeOutInOrder) {
    constexpr std::size_t kPieces = 200;
    std::string out;
    std::size_t mostHeld = 0;
    OrderedOutput o([&](std::string_view b) { out.append(b); }, kPieces, 64);
    std::atomic<std::size_t> next{0};
    auto producer = [&] {
        for (std::size_t p; (p = next++) < kPieces;) {
            // Uneven pieces: some empty, some far over the memory limit.
            for (std::size_t chunk = 0; chunk < p % 7; ++chunk)
                o.write(p, std::string(p % 3 == 0 ? 100 : 5, static_cast<char>('a' + p % 26)));
            o.finish(p);
        }
    };
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back(producer);
    }
    std::string expected;
    for (std::size_t p = 0; p < kPieces; ++p)
        for (std::size_t chunk = 0; chunk < p % 7; ++chunk)
            expected += std::string(p % 3 == 0 ? 100 : 5, static_cast<char>('a' + p % 26));
    EXPECT_EQ(out, expected);
    (void)mostHeld;
}

TEST(OrderedOutputTest, AFailingSinkStopsEveryProducer) {
    OrderedOutput o([](std::string_view) { throw std::runtime_error("disk full"); }, 3, 1);
    std::jthread later([&] {
        // Waits for its turn (over the limit) until the failure wakes it.
        EXPECT_THROW(o.write(2, "later piece"), OrderedOutput::Aborted);
    });
    o.write(1, "x"); // held: not its turn yet
    EXPECT_THROW(o.write(0, "first"), std::runtime_error);
    later.join();
    EXPECT_THROW(o.finish(0), OrderedOutput::Aborted);
}

} // namespace
