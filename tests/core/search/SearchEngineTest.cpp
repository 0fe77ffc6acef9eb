// The search walk: start points, what is examined and in which order, the hit rows' texts,
// exclusions, stop, a parent that vanishes, and the last-write filter.
#include "core/search/SearchEngine.h"
#include "core/platform/Encoding.h"
#include "core/platform/TimeText.h"
#include "support/RegistryFixture.h"

#include <gtest/gtest.h>

using namespace klv;

namespace {

class SearchEngineTest : public test::RegistryFixture {
protected:
    SearchEngineTest() {
        setClockForTesting([] { return fileTimeFromUnix(1700000000); }); // 2023/11/14 22:13:20
        reg.RootKey(HKEY_CURRENT_USER_H);
        write("\\Software\\A", "own", "in A");
        write("\\Software\\A\\Sub", "text", "find me");
        write("\\Software\\A\\Sub\\Deep", "n", 120u);
        write("\\Software\\AB", "text", "find AB");
        write("\\Software\\Other", "find", "x");
        reg.RootKey(HKEY_LOCAL_MACHINE_H);
        write("\\Software\\find", "text", "find HKLM");
        write("\\find", "text", "find outside Software");
        reg.RootKey(HKEY_CLASSES_ROOT_H);
        write("\\.find", "", "find default");
        setClockForTesting({});
    }

    void write(const std::string& key, const std::string& name, const std::string& text) {
        ASSERT_TRUE(reg.OpenKey(key, true)) << key;
        reg.WriteString(name, text);
    }
    void write(const std::string& key, const std::string& name, std::uint32_t n) {
        ASSERT_TRUE(reg.OpenKey(key, true)) << key;
        reg.WriteInteger(name, n);
    }

    std::vector<SearchHit> search(const SearchRequest& r, SearchCallbacks cb = {},
                                  SearchOutcome* outcome = nullptr) {
        std::vector<SearchHit> hits;
        cb.hit = [&](SearchHit&& h) { hits.push_back(std::move(h)); };
        const SearchOutcome o = SearchEngine(r, store).run(cb);
        if (outcome)
            *outcome = o;
        return hits;
    }
    // "kind root\key name=data" per row, in UTF-8.
    static std::vector<std::string> brief(const std::vector<SearchHit>& hits) {
        std::vector<std::string> out;
        for (const SearchHit& h : hits)
            out.push_back(cp932ToUtf8(h.texts[kColKind] + " " + h.texts[kColRoot] + "\\" +
                                      h.texts[kColKey] + " " + h.texts[kColName] + "=" +
                                      h.texts[kColData]));
        return out;
    }
    static SearchRequest under(const std::string& key, const std::string& text) {
        SearchRequest r;
        r.scope = SearchScope::OneKey;
        r.startKey = key;
        r.text = text;
        return r;
    }
};

TEST_F(SearchEngineTest, StartPointsFollowTheScopeAndSoftwareOnly) {
    SearchRequest r;
    r.softwareOnly = true;
    r.roots = {true, true, false, false, true, true};
    std::vector<std::string> starts;
    for (const SearchStart& s : searchStarts(r))
        starts.push_back(s.rootName + "|" + s.subPath);
    EXPECT_EQ(starts,
              (std::vector<std::string>{"HKEY_CLASSES_ROOT|", "HKEY_CURRENT_USER|\\Software",
                                        "HKEY_CURRENT_CONFIG|\\Software", "HKEY_DYN_DATA|"}));
    r.scope = SearchScope::SeveralKeys;
    r.startKeys = {"HKEY_USERS\\.Default", "HKEY_CURRENT_USER"};
    ASSERT_EQ(searchStarts(r).size(), 2u);
    EXPECT_EQ(searchStarts(r)[0].rootName, "HKEY_USERS");
    EXPECT_EQ(searchStarts(r)[0].subPath, "\\.Default");
    EXPECT_EQ(searchStarts(r)[1].subPath, "");
}

TEST_F(SearchEngineTest, RowsComeInWalkOrderWithTheirNineTexts) {
    SearchRequest r;
    r.text = "find";
    r.numbers = true;
    r.roots = {true, true, true, false, false, false};
    const auto hits = search(r);
    EXPECT_EQ(brief(hits), (std::vector<std::string>{
                               "キー HKEY_CLASSES_ROOT\\.find =",
                               "文字列 HKEY_CLASSES_ROOT\\.find =find default",
                               "文字列 HKEY_CURRENT_USER\\Software\\A\\Sub text=find me",
                               "文字列 HKEY_CURRENT_USER\\Software\\AB text=find AB",
                               "名前 HKEY_CURRENT_USER\\Software\\Other find=",
                               "キー HKEY_LOCAL_MACHINE\\find =",
                               "文字列 HKEY_LOCAL_MACHINE\\find text=find outside Software",
                               "キー HKEY_LOCAL_MACHINE\\Software\\find =",
                               "文字列 HKEY_LOCAL_MACHINE\\Software\\find text=find HKLM",
                           }));
    const SearchHit& s = hits[2];
    EXPECT_EQ(s.mark, HitMark::String);
    EXPECT_EQ(s.texts[kColHit], "find me");
    EXPECT_EQ(s.texts[kColTime], "2023/11/14 22:13:20");
    EXPECT_FALSE(s.checked);
    EXPECT_TRUE(s.texts[kColPreview].empty()); // search mode
    EXPECT_EQ(hits[0].mark, HitMark::Key);

    // Software only: the HKLM key outside Software is not walked; HKCR still is.
    r.softwareOnly = true;
    const auto some = brief(search(r));
    EXPECT_EQ(some.size(), 7u);
    EXPECT_EQ(std::count(some.begin(), some.end(), "キー HKEY_LOCAL_MACHINE\\find ="), 0);
}

TEST_F(SearchEngineTest, NumbersAndTheStartKeyOwnValues) {
    SearchRequest r = under("HKEY_CURRENT_USER\\Software\\A", "12");
    r.numbers = true;
    r.replaceMode = true;
    r.replacement = "9";
    auto hits = search(r);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].mark, HitMark::Number);
    EXPECT_EQ(hits[0].texts[kColKey], "Software\\A\\Sub\\Deep");
    EXPECT_EQ(hits[0].texts[kColData], "120");
    EXPECT_EQ(hits[0].texts[kColPreview], "90");
    EXPECT_EQ(hits[0].texts[kColReplacement], "9");
    r.wholeMatch = true;
    EXPECT_TRUE(search(r).empty());

    // The start key's own name ("A") and value ("in A") give nothing; its subkeys do.
    r = under("HKEY_CURRENT_USER\\Software\\A", "");
    EXPECT_EQ(brief(search(r)), (std::vector<std::string>{
                                    "キー HKEY_CURRENT_USER\\Software\\A\\Sub =",
                                    "名前 HKEY_CURRENT_USER\\Software\\A\\Sub text=",
                                    "文字列 HKEY_CURRENT_USER\\Software\\A\\Sub text=find me",
                                    "キー HKEY_CURRENT_USER\\Software\\A\\Sub\\Deep =",
                                    "名前 HKEY_CURRENT_USER\\Software\\A\\Sub\\Deep n=",
                                }));
    EXPECT_EQ(search(r)[0].mark, HitMark::KeyWithSubKeys);
    // A start key that does not exist, or a root that is not one, gives nothing.
    EXPECT_TRUE(search(under("HKEY_CURRENT_USER\\Nowhere", "")).empty());
    EXPECT_TRUE(search(under("HKEY_NOWHERE\\Software", "")).empty());
}

TEST_F(SearchEngineTest, ExclusionsSkipValuesButNotKeyNames) {
    SearchRequest r = under("HKEY_CURRENT_USER\\Software", "");
    r.exclusions = {"hkey_current_user\\software\\a"};
    const auto rows = brief(search(r));
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "キー HKEY_CURRENT_USER\\Software\\A =",
                        "キー HKEY_CURRENT_USER\\Software\\A\\Sub =",
                        "キー HKEY_CURRENT_USER\\Software\\A\\Sub\\Deep =",
                        "キー HKEY_CURRENT_USER\\Software\\AB =",
                        "キー HKEY_CURRENT_USER\\Software\\Other =",
                        "名前 HKEY_CURRENT_USER\\Software\\Other find=",
                        "文字列 HKEY_CURRENT_USER\\Software\\Other find=x",
                    }));
}

TEST_F(SearchEngineTest, StopEndsTheSearchAndAVanishedParentIsReported) {
    bool stop = false;
    SearchCallbacks cb;
    cb.scanning = [&](const std::string& location, std::uint64_t) {
        stop = stop || location == "HKEY_CLASSES_ROOT\\.find";
    };
    cb.stop = &stop;
    SearchRequest r;
    r.text = "find";
    SearchOutcome o;
    const auto hits = search(r, cb, &o);
    EXPECT_TRUE(o.stopped);
    // Stopped in the first root: its key row was found, nothing of the other roots.
    for (const SearchHit& h : hits)
        EXPECT_EQ(h.texts[kColRoot], "HKEY_CLASSES_ROOT");

    // Another writer deletes the parent while the walk is inside it.
    SearchCallbacks del;
    bool deleted = false;
    del.scanning = [&](const std::string& location, std::uint64_t) {
        if (!deleted && location == "HKEY_CURRENT_USER\\Software\\A\\Sub") {
            TRegistry other(store);
            other.RootKey(HKEY_CURRENT_USER_H);
            ASSERT_TRUE(other.DeleteKey("\\Software\\A"));
            deleted = true;
        }
    };
    search(under("HKEY_CURRENT_USER\\Software", "find"), del, &o);
    ASSERT_TRUE(o.reopenFailed);
    EXPECT_FALSE(o.stopped);
    EXPECT_EQ(cp932ToUtf8(reopenErrorText(*o.reopenFailed))
                  .rfind("レジストリキーのオープンエラー : \\", 0),
              0u);
}

TEST_F(SearchEngineTest, TheLastWriteFilterComparesToTheSecond) {
    std::vector<SearchHit> rows(4);
    rows[0].texts[kColTime] = "2023/11/14 22:13:19";
    rows[1].texts[kColTime] = "2023/11/14 22:13:20";
    rows[2].texts[kColTime] = "2023/11/14 22:13:21";
    rows[3].texts[kColTime] = sj("不明");
    for (auto [filter, kept] : {std::pair{LastWriteFilter::Before, "2023/11/14 22:13:19"},
                                std::pair{LastWriteFilter::Same, "2023/11/14 22:13:20"},
                                std::pair{LastWriteFilter::After, "2023/11/14 22:13:21"}}) {
        std::vector<SearchHit> r = rows;
        filterByLastWrite(r, "2023/11/14 22:13:20", filter);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].texts[kColTime], kept);
        EXPECT_TRUE(r[0].checked);
    }
}

} // namespace
