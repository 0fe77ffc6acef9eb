// The shared depth-first walk: order, access, start path shapes, stop, pump and a parent that
// vanishes during the walk.
#include "core/registry/RegistryWalker.h"
#include "support/RegistryFixture.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <map>
#include <random>

using namespace klv;

namespace {

class RegistryWalkerTest : public test::RegistryFixture {
protected:
    RegistryWalkerTest() {
        for (const char* k : {"\\W\\a\\x", "\\W\\B", "\\W\\c\\hidden", "\\W\\d\\e\\f", "\\W\\R\\s"})
            EXPECT_TRUE(reg.CreateKey(k)) << k;
        store->setAccess(idOf("\\W\\c"), KeyAccess::None);
        store->setAccess(idOf("\\W\\R"), KeyAccess::ReadOnly);
        reg.CloseKey();
    }

    // The visited paths, starting from `start` opened with any access.
    test::Names walk(const std::string& start, WalkOptions opt = {}, WalkResult* result = nullptr) {
        test::Names seen;
        EXPECT_TRUE(reg.OpenKeyAnyAccess(start, false)) << start;
        const WalkResult r = walkRegistry(
            reg, start,
            [&](const std::string& path, const std::string& name) {
                EXPECT_EQ(reg.CurrentKeyId(), idOf("\\" + trimmed(path))) << path;
                EXPECT_TRUE(path.ends_with(name));
                seen.push_back(path);
            },
            opt);
        if (result)
            *result = r;
        return seen;
    }
    static std::string trimmed(std::string p) { return p.starts_with("\\") ? p.substr(1) : p; }
};

TEST_F(RegistryWalkerTest, VisitsInPreOrderAndEnumerationOrderWhatItMayOpen) {
    EXPECT_EQ(walk("\\W"), (test::Names{"\\W\\a", "\\W\\a\\x", "\\W\\B", "\\W\\d", "\\W\\d\\e",
                                        "\\W\\d\\e\\f"}));
    WalkOptions any;
    any.anyAccess = true;
    EXPECT_EQ(walk("\\W", any), (test::Names{"\\W\\a", "\\W\\a\\x", "\\W\\B", "\\W\\d", "\\W\\d\\e",
                                             "\\W\\d\\e\\f", "\\W\\R", "\\W\\R\\s"}));
}

TEST_F(RegistryWalkerTest, EveryShapeOfTheStartPathWalksTheSameKeys) {
    const test::Names expected = walk("\\W");
    WalkResult r;
    EXPECT_EQ(walk("\\W\\", {}, &r), expected);
    EXPECT_FALSE(r.reopenFailed) << r.failedPath;
    reg.CloseKey();
    test::Names relative = walk("W\\", {}, &r);
    EXPECT_FALSE(r.reopenFailed) << r.failedPath;
    for (std::string& p : relative)
        p = "\\" + p;
    EXPECT_EQ(relative, expected);
    // From the root, by either spelling.
    const test::Names fromRoot = walk("");
    EXPECT_EQ(fromRoot.size(), expected.size() + 1);
    EXPECT_EQ(walk("\\", {}, &r), fromRoot);
    EXPECT_FALSE(r.reopenFailed);
}

TEST_F(RegistryWalkerTest, StopFlagEndsTheWalkAndPumpRunsBeforeEachSubkey) {
    bool stop = false;
    int pumped = 0;
    WalkOptions opt;
    opt.stop = &stop;
    opt.pump = [&] { ++pumped; };
    test::Names seen;
    ASSERT_TRUE(reg.OpenKey("\\W", false));
    const WalkResult r = walkRegistry(
        reg, "\\W",
        [&](const std::string& path, const std::string&) {
            seen.push_back(path);
            stop = seen.size() == 2;
        },
        opt);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(seen, (test::Names{"\\W\\a", "\\W\\a\\x"}));
    EXPECT_EQ(pumped, 2);

    stop = false;
    pumped = 0;
    seen.clear();
    ASSERT_TRUE(reg.OpenKey("\\W\\d", false));
    const WalkResult all = walkRegistry(
        reg, "\\W\\d", [&](const std::string& p, const std::string&) { seen.push_back(p); }, opt);
    EXPECT_FALSE(all.stopped);
    EXPECT_EQ(pumped, 2); // e, then f
}

TEST_F(RegistryWalkerTest, AParentDeletedDuringTheWalkEndsItWithTheReopenFailure) {
    TRegistry other(store);
    test::Names seen;
    ASSERT_TRUE(reg.OpenKey("\\W", false));
    const WalkResult r = walkRegistry(reg, "\\W", [&](const std::string& path, const std::string&) {
        seen.push_back(path);
        if (path == "\\W\\a\\x") {
            EXPECT_TRUE(other.DeleteKey("\\W\\a"));
        }
    });
    EXPECT_TRUE(r.reopenFailed);
    EXPECT_EQ(r.failedPath, "\\W\\a");
    EXPECT_FALSE(r.stopped);
    EXPECT_EQ(seen, (test::Names{"\\W\\a", "\\W\\a\\x"}));
}

// The walk reads keys and values in batches (a key's cousins at once, by id range when their
// ids lie together) and recycles what it has passed. A tree made in a scattered order, read
// twice from a cold cache, must give every key its own subkeys and values, in order.
TEST_F(RegistryWalkerTest, EveryKeyGetsItsOwnSubkeysAndValuesWhateverOrderTheTreeWasMadeIn) {
    std::mt19937 rng(8);
    std::vector<std::string> keys{"\\T"};
    std::map<std::string, test::Names> children;
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> values;
    ASSERT_TRUE(reg.CreateKey("\\T"));
    for (int i = 0; i < 400; ++i) {
        // Mostly below a recent key (neighbouring ids, as an import makes them), sometimes
        // below any key made before (ids scattered over the tree).
        const std::size_t back =
            rng() % 4 ? std::min<std::size_t>(keys.size(), 1 + rng() % 6) : 1 + rng() % keys.size();
        const std::string parent = keys[keys.size() - back];
        const std::string name = (rng() % 2 ? "k" : "K") + std::to_string(i);
        const std::string path = parent + "\\" + name;
                                     ASSERT_TRUE(reg.OpenKey(path, true))
                                 << path;
        children[parent].push_back(name);
        keys.push_back(path);
        for (unsigned v = 0, n = rng() % 4; v < n; ++v) {
            const std::string vname = "v" + std::to_string(rng() % 1000);
            const std::string data = path + "#" + std::to_string(v) + std::string(rng() % 40, 'x');
            if (std::any_of(values[path].begin(), values[path].end(),
                            [&](const auto& e) { return e.first == vname; }))
                continue;
            reg.WriteString(vname, data);
            values[path].emplace_back(vname, data);
        }
    }
    auto upper = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    for (auto& [parent, list] : children)
        std::sort(list.begin(), list.end(),
                  [&](const std::string& a, const std::string& b) { return upper(a) < upper(b); });

    for (int round = 0; round < 2; ++round) {
        store->dropCache();
        test::Names order;
        ASSERT_TRUE(reg.OpenKey("\\T", false));
        walkRegistry(reg, "\\T", [&](const std::string& path, const std::string&) {
            order.push_back(path);
            test::Names subkeys{"stale"};
            reg.ListSubKeys(subkeys);
            EXPECT_EQ(subkeys, children[path]) << path;
            std::vector<std::pair<std::string, std::string>> read;
            for (const RawValue& v : reg.CurrentValues())
                read.emplace_back(v.name.bytes, v.data.substr(0, v.data.find('\0')));
            EXPECT_EQ(read, values[path]) << path;
        });
        // Pre-order in enumeration order, every key once.
        test::Names expected;
        std::function<void(const std::string&)> visit = [&](const std::string& key) {
            for (const std::string& c : children[key]) {
                expected.push_back(key + "\\" + c);
                visit(key + "\\" + c);
            }
        };
        visit("\\T");
        EXPECT_EQ(order, expected) << "round " << round;
    }
}

// Search and replace write while they walk: the writes land and the walk still visits every
// key once.
TEST_F(RegistryWalkerTest, WritesDuringTheWalkLandAndTheWalkGoesOn) {
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(reg.CreateKey("\\S\\k" + std::to_string(i % 5) + "\\c" + std::to_string(i)));
    store->dropCache();
    TRegistry other(store);
    int visited = 0;
    ASSERT_TRUE(reg.OpenKey("\\S", false));
    walkRegistry(reg, "\\S", [&](const std::string& path, const std::string&) {
        ++visited;
        ASSERT_TRUE(other.OpenKey(path, false)) << path;
        other.WriteString("seen", path);
    });
    EXPECT_EQ(visited, 35);
    for (int i = 0; i < 30; ++i) {
        const std::string path = "\\S\\k" + std::to_string(i % 5) + "\\c" + std::to_string(i);
        ASSERT_TRUE(reg.OpenKey(path, false));
        EXPECT_EQ(reg.ReadText("seen"), path);
    }
}

} // namespace
