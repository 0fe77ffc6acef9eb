// The shared depth-first walk: order, access, start path shapes, stop, pump and a parent that
// vanishes during the walk.
#include "core/registry/RegistryWalker.h"
#include "support/RegistryFixture.h"

#include <gtest/gtest.h>

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

} // namespace
