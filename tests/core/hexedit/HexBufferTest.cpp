// The binary editor's byte buffer against a plain byte array: random overwrites, inserts,
// erases and undos, with the marks of changed bytes and the undo descriptions.
#include "core/hexedit/HexBuffer.h"

#include <gtest/gtest.h>
#include <random>

using namespace klv;

namespace {

struct Model {
    std::string bytes;
    std::string marks; // '\1' for a changed byte
    std::string description;
};

std::string randomBytes(std::mt19937& rng, std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

void expectSame(const HexBuffer& b, const Model& m, int step) {
    ASSERT_EQ(b.size(), m.bytes.size()) << step;
    ASSERT_EQ(b.all(), m.bytes) << step;
    for (std::size_t i = 0; i < m.bytes.size(); ++i)
        ASSERT_EQ(b.changed(i), m.marks[i] == '\1') << step << " at " << i;
}

TEST(HexBufferTest, RandomEditsAndUndosMatchAPlainByteArray) {
    std::mt19937 rng(10);
    for (int round = 0; round < 20; ++round) {
        Model m{randomBytes(rng, rng() % 200), {}, {}};
        m.marks.assign(m.bytes.size(), '\0');
        HexBuffer b(m.bytes);
        std::vector<Model> history;
        for (int step = 0; step < 400; ++step) {
            const std::size_t size = m.bytes.size();
            const std::size_t pos = size ? rng() % (size + 1) : 0;
            const std::size_t len = 1 + rng() % (rng() % 8 ? 4 : 5000);
            const std::string what = "step " + std::to_string(step);
            switch (rng() % 5) {
            case 0: { // overwrite, past the end as well
                history.push_back(m);
                const std::string data = randomBytes(rng, len);
                b.overwrite(pos, data, what);
                m.bytes.resize(std::max(size, pos + len));
                m.marks.resize(m.bytes.size());
                m.bytes.replace(pos, len, data);
                m.marks.replace(pos, len, std::string(len, '\1'));
                m.description = what;
                break;
            }
            case 1: {
                history.push_back(m);
                const std::string data = randomBytes(rng, len);
                b.insert(pos, data, what);
                m.bytes.insert(pos, data);
                m.marks.insert(pos, std::string(len, '\1'));
                m.description = what;
                break;
            }
            case 2:
                history.push_back(m);
                b.erase(pos, len, what);
                m.bytes.erase(std::min(pos, size), len);
                m.marks.erase(std::min(pos, size), len);
                m.description = what;
                break;
            default:
                if (history.empty()) {
                    EXPECT_FALSE(b.canUndo());
                    EXPECT_EQ(b.undoDescription(), "");
                    break;
                }
                ASSERT_EQ(b.undoDescription(), m.description) << step;
                b.undo();
                m = history.back();
                history.pop_back();
            }
            expectSame(b, m, step);
            ASSERT_EQ(b.modified(), !history.empty());
            // A piece read across the gap matches too.
            const std::size_t from = m.bytes.empty() ? 0 : rng() % m.bytes.size();
            ASSERT_EQ(b.bytes(from, 37), m.bytes.substr(from, 37));
        }
        while (b.canUndo())
            b.undo();
        Model start = history.empty() ? m : history.front();
        expectSame(b, start, -1);
    }
}

TEST(HexBufferTest, LoadingStartsCleanAndEditsAtTheEndsAreClipped) {
    HexBuffer b(std::string("\x00\x01\x02", 3));
    b.overwrite(1, "\xFF", "input");
    EXPECT_TRUE(b.changed(1));
    EXPECT_FALSE(b.changed(0));
    b.load("ab");
    EXPECT_FALSE(b.canUndo());
    EXPECT_FALSE(b.changed(0));
    b.erase(5, 3, "delete"); // nothing there
    EXPECT_EQ(b.all(), "ab");
    b.insert(99, "c", "paste");
    EXPECT_EQ(b.all(), "abc");
    EXPECT_EQ(b.undo(), 2u);
    EXPECT_EQ(b.undoDescription(), "delete");
}

} // namespace
