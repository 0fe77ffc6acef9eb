// Change tracking: the build, the comparison with and without bringing the database up to
// date, stop, the start position, and a randomised run checked against the changes made.
#include "core/snapshot/ChangeTracking.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "support/RegistryFixture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <tuple>

using namespace klv;
namespace fs = std::filesystem;

namespace {

class ChangeTrackingTest : public test::RegistryFixture {
protected:
    ChangeTrackingTest() {
        fs::create_directories(file.parent_path());
        reg.RootKey(HKEY_CURRENT_USER_H);
    }

    BuildOutcome build() { return buildSnapshot("HKEY_CURRENT_USER", file, callbacks, store); }
    std::vector<ChangeRow> compare(bool rebuild, const std::string& start = "\\",
                                   CompareOutcome* outcome = nullptr) {
        std::vector<ChangeRow> rows;
        const CompareOutcome o =
            compareSnapshot("HKEY_CURRENT_USER", start, file, rebuild, callbacks, rows, store);
        EXPECT_FALSE(o.error) << (o.error ? cp932ToUtf8(*o.error) : "");
        if (outcome)
            *outcome = o;
        return rows;
    }
    std::string bytes() const { return readFileBytes(file).value_or("(none)"); }
    void put(const std::string& key, const std::string& name, const std::string& data) {
        ASSERT_TRUE(reg.OpenKey(key, true)) << key;
        reg.WriteString(name, data);
    }
    // "状態 形式 キー 名前" per row, UTF-8.
    static std::vector<std::string> brief(const std::vector<ChangeRow>& rows) {
        std::vector<std::string> out;
        for (const ChangeRow& r : rows)
            out.push_back(
                cp932ToUtf8(changeStateText(r.state) + " " + r.type + " " + r.key + " " + r.name));
        return out;
    }

    fs::path file = snapshotFile(folders.home(), "HKEY_CURRENT_USER");
    TrackingCallbacks callbacks;
};

} // namespace

TEST_F(ChangeTrackingTest, AnEmptyRootAndTheBuildLayout) {
    EXPECT_FALSE(build().stopped);
    EXPECT_EQ(bytes(), "");
    EXPECT_EQ(cp932ToUtf8(snapshotSizeText(0)), "0 ﾊﾞｲﾄ");
    EXPECT_EQ(cp932ToUtf8(snapshotSizeText(1234567)), "1,234,567 ﾊﾞｲﾄ");

    put("\\S", "", "d");
    reg.WriteInteger("n", 4294967295u);
    reg.WriteMultiString("m", {});
    ASSERT_TRUE(reg.OpenKey("\\S\\Empty", true));
    const BuildOutcome b = build();
    EXPECT_EQ(b.keys, 2u);
    EXPECT_EQ(b.values, 3u);
    EXPECT_EQ(bytes(), "\r\n[HKEY_CURRENT_USER\\S]\r\n@=d\r\nn=4294967295\r\nm!.Count=0\r\n"
                       "\r\n[HKEY_CURRENT_USER\\S\\Empty]\r\n");
    EXPECT_TRUE(compare(false).empty());
}

TEST_F(ChangeTrackingTest, EverythingRoundTripsRightAfterABuild) {
    put("\\R", "a=b", "x");
    reg.WriteString("[sec]", "[data]");
    reg.WriteString("@", "named at");
    reg.WriteString("", "default");
    reg.WriteString("x!.Count", "ERROR");
    reg.WriteString("crlf", "1\r\n2\n3");
    reg.WriteInteger("max", 4294967295u);
    reg.WriteMultiString("multi", {"a", "[b]", "c=d"});
    reg.WriteBinary("bin", std::string(100, '\x5C'));
    reg.WriteRaw(RawValue{StoredName{utf8ToUtf16("名前😀"), true}, REG_SZ,
                          utf8ToUtf16("値🍣") + std::string(2, '\0'), true});
    ASSERT_TRUE(reg.OpenKey("\\R\\Sub=[x]", true));
    reg.WriteString("v", "w");
    build();
    EXPECT_TRUE(compare(true).empty());
    // The build stores 4294967295 as such, a rebuild as -1; both read as the live value.
    ASSERT_TRUE(reg.OpenKey("\\R", false));
    reg.WriteInteger("max", 5);
    EXPECT_EQ(compare(true).size(), 1u);
    reg.WriteInteger("max", 4294967295u);
    EXPECT_EQ(compare(true).size(), 1u);
    EXPECT_NE(bytes().find("max=-1\r\n"), std::string::npos);
    const std::string rebuilt = bytes();
    EXPECT_TRUE(compare(true).empty());
    EXPECT_EQ(bytes(), rebuilt);
    // A wide text changed to another text CP932 cannot hold either is still a change.
    ASSERT_TRUE(reg.OpenKey("\\R", false));
    reg.WriteRaw(RawValue{StoredName{utf8ToUtf16("名前😀"), true}, REG_SZ,
                          utf8ToUtf16("値🍜") + std::string(2, '\0'), true});
    EXPECT_EQ(compare(false).size(), 1u);
}

TEST_F(ChangeTrackingTest, ChangesWithAndWithoutBringingTheDatabaseUpToDate) {
    put("\\A", "s", "old");
    reg.WriteInteger("n", 1);
    reg.WriteMultiString("m", {"x", "y"});
    put("\\A\\Gone", "g", "1");
    put("\\Start", "own", "1");
    build();
    const std::string built = bytes();

    put("\\A", "s", "new");
    reg.WriteString("n", "not a number any more"); // a number turned into a string
    reg.WriteString("added", "1");
    ASSERT_TRUE(reg.DeleteValue("m"));
    ASSERT_TRUE(reg.DeleteKey("\\A\\Gone"));
    ASSERT_TRUE(reg.OpenKey("\\A\\NewEmpty", true));
    put("\\A\\NewFull", "v", "1");
    put("\\Start", "own", "2"); // its own values are never compared from \Start

    EXPECT_EQ(brief(compare(false)), (std::vector<std::string>{
                                         "更新 文字列 HKEY_CURRENT_USER\\A s",
                                         "更新 文字列 HKEY_CURRENT_USER\\A n",
                                         "新規作成 文字列 HKEY_CURRENT_USER\\A added",
                                         "新規作成 文字列 HKEY_CURRENT_USER\\A\\NewFull v",
                                         "更新 文字列 HKEY_CURRENT_USER\\Start own",
                                     }));
    EXPECT_EQ(bytes(), built); // untouched without rebuilding
    EXPECT_TRUE(compare(false, "\\Start").empty());

    // A number turned from a string: a change, not the end of the comparison.
    reg.WriteInteger("own", 7);
    ASSERT_EQ(brief(compare(false, "\\")).back(), "更新 数値 HKEY_CURRENT_USER\\Start own");

    CompareOutcome o;
    const auto rows = compare(true, "\\", &o);
    EXPECT_TRUE(o.rebuilt);
    const auto all = brief(rows);
    ASSERT_GE(all.size(), 4u);
    const std::vector<std::string> deleted(all.end() - 4, all.end());
    EXPECT_EQ(deleted, (std::vector<std::string>{"削除 値 HKEY_CURRENT_USER\\A m!.Count",
                                                 "削除 値 HKEY_CURRENT_USER\\A m!.0",
                                                 "削除 値 HKEY_CURRENT_USER\\A m!.1",
                                                 "削除 キー HKEY_CURRENT_USER\\A\\Gone "}));
    EXPECT_TRUE(compare(true).empty());
}

TEST_F(ChangeTrackingTest, AVanishedStartPositionAndStop) {
    put("\\P\\Q", "v", "1");
    put("\\Other", "v", "1");
    build();
    ASSERT_TRUE(reg.DeleteKey("\\P\\Q"));
    ASSERT_TRUE(reg.DeleteKey("\\P"));
    // Not walked; rebuilding reports its sections as deleted keys, nothing else.
    EXPECT_EQ(brief(compare(true, "\\P\\Q")),
              (std::vector<std::string>{"削除 キー HKEY_CURRENT_USER\\P ",
                                        "削除 キー HKEY_CURRENT_USER\\P\\Q "}));

    // Stop during a build: the file stays as it was.
    const std::string before = bytes();
    put("\\Other", "v", "2");
    bool stop = false;
    callbacks.stop = &stop;
    callbacks.pump = [&] { stop = true; };
    EXPECT_TRUE(build().stopped);
    EXPECT_EQ(bytes(), before);
    // A disk that fills up during a build leaves the old database and no stray file.
    callbacks = {};
    setWriteFailureForTesting(10);
    EXPECT_THROW(build(), FileWriteError);
    setWriteFailureForTesting(std::nullopt);
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()),
              1);
    callbacks.stop = &stop;
    callbacks.pump = [&] { stop = true; };
    // And during a comparison: nothing is compared, nothing written.
    CompareOutcome o;
    stop = false;
    EXPECT_TRUE(compare(true, "\\", &o).empty());
    EXPECT_TRUE(o.stopped);
    EXPECT_EQ(bytes(), before);

    // A database that is not there is the comparison's error.
    fs::remove(file);
    std::vector<ChangeRow> rows;
    callbacks = {};
    const CompareOutcome missing =
        compareSnapshot("HKEY_CURRENT_USER", "\\", file, false, callbacks, rows, store);
    EXPECT_TRUE(missing.databaseMissing);
    ASSERT_TRUE(missing.error);
    EXPECT_EQ(cp932ToUtf8(*missing.error).rfind("照合エラーが発生しました。", 0), 0u);
}

TEST_F(ChangeTrackingTest, RandomChangesAreReportedExactly) {
    std::mt19937 rng(20261210);
    for (int round = 0; round < 3; ++round) {
        // A tree of 30 keys with four values each, of every kind.
        ASSERT_TRUE(reg.DeleteKey("\\T") || round == 0);
        std::vector<std::string> keys;
        for (int k = 0; k < 30; ++k) {
            const std::string key =
                k < 10 ? "\\T\\K" + std::to_string(k)
                       : "\\T\\K" + std::to_string(k % 10) + "\\S" + std::to_string(k);
            keys.push_back(key);
            ASSERT_TRUE(reg.OpenKey(key, true));
            reg.WriteString("s", "text" + std::to_string(k));
            reg.WriteInteger("n", static_cast<std::uint32_t>(rng()));
            reg.WriteMultiString("m", {"a", std::to_string(k)});
            reg.WriteBinary("b", std::string(1 + k, static_cast<char>(k)));
        }
        build();
        // Changes on distinct keys, each with the rows it must give.
        using Row = std::tuple<std::string, std::string, std::string>; // state, key, name
        std::multiset<Row> expected;
        std::shuffle(keys.begin(), keys.end(), rng);
        const auto section = [](const std::string& key) { return "HKEY_CURRENT_USER" + key; };
        for (int i = 0; i < 8; ++i) {
            const std::string& key = keys[static_cast<std::size_t>(i)];
            ASSERT_TRUE(reg.OpenKey(key, false));
            switch (rng() % 4) {
            case 0:
                reg.WriteString("s", "changed");
                expected.insert({"更新", section(key), "s"});
                break;
            case 1:
                reg.WriteString("new", "1");
                expected.insert({"新規作成", section(key), "new"});
                break;
            case 2:
                reg.DeleteValue("m");
                for (const char* e : {"m!.Count", "m!.0", "m!.1"})
                    expected.insert({"削除", section(key), e});
                break;
            default:
                reg.WriteBinary("b", std::string("\x01\x02", 2));
                expected.insert({"更新", section(key), "b"});
            }
        }
        std::multiset<Row> got;
        for (const ChangeRow& r : compare(true))
            got.insert({cp932ToUtf8(changeStateText(r.state)), r.key, r.name});
        EXPECT_EQ(got, expected) << "round " << round;
        EXPECT_TRUE(compare(true).empty());
    }
}
