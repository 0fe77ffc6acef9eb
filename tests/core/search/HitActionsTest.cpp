// The results window's replacement and deletion runs: what each writes, the undo entries that
// take it back, and the runs that must change nothing.
#include "core/search/HitActions.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/search/TextMatcher.h"
#include "core/undo/UndoLog.h"
#include "support/RegTestSupport.h"
#include "support/RegistryFixture.h"
#include "support/WriteFailure.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace klv;

namespace {

constexpr const char* kHkcu = "HKEY_CURRENT_USER";

class HitActionsTest : public test::RegistryFixture {
protected:
    HitActionsTest() { ensureRegistryPrograms(folders.windir(), KLOVREG_PATH); }

    UndoLog log{UndoPlace{folders.home(), folders.windir(), {}, store}};

    // A row as the walk of a replace-mode search for `search` (ignoring case unless told)
    // makes it; ticked, as after the walk.
    static SearchHit row(HitMark mark, const std::string& hit, const std::string& key,
                         const std::string& name, const std::string& search,
                         const std::string& replacement, bool ignoreCase = true,
                         const std::string& root = kHkcu) {
        SearchHit h;
        h.mark = mark;
        h.texts[kColKind] = hitKindText(mark);
        h.texts[kColHit] = hit;
        h.texts[kColRoot] = root;
        h.texts[kColKey] = key;
        h.texts[kColName] = name;
        if (mark == HitMark::String || mark == HitMark::Number)
            h.texts[kColData] = hit;
        h.texts[kColTime] = "2024/01/02 03:04:05";
        h.texts[kColPreview] = substitutePreview(hit, search, replacement, ignoreCase);
        h.texts[kColReplacement] = replacement;
        h.checked = true;
        return h;
    }

    // The whole registry, one line per key and value, without regard to enumeration order
    // (a value renamed back comes last).
    std::vector<std::string> state() {
        store->refresh();
        std::vector<std::string> lines = test::dumpStore(*store, 6);
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    void undoAll() {
        while (!log.entries().empty()) {
            const std::size_t n = log.entries().size();
            ASSERT_NO_THROW(log.undo(0)) << cp932ToUtf8(log.entries().front().operation);
            ASSERT_EQ(log.entries().size(), n - 1);
        }
    }

    std::string text(const std::string& key, const std::string& name) {
        EXPECT_TRUE(reg.OpenKeyAnyAccess(key, false)) << key;
        return reg.ReadText(name);
    }
    std::uint32_t number(const std::string& key, const std::string& name) {
        EXPECT_TRUE(reg.OpenKeyAnyAccess(key, false)) << key;
        return reg.ReadDword(name);
    }
    void makeReadOnly(const std::string& key) { store->setAccess(idOf(key), KeyAccess::ReadOnly); }

    static std::string shownKeyOf(const SearchHit& h) {
        return h.text(kColRoot) + "\\" + h.text(kColKey);
    }

    static std::vector<std::string> texts(const std::vector<SearchHit>& rows) {
        std::vector<std::string> out;
        for (const SearchHit& h : rows) {
            std::string line = h.checked ? "x" : "-";
            for (const std::string& t : h.texts)
                line += "|" + t;
            out.push_back(line);
        }
        return out;
    }
};

TEST_F(HitActionsTest, StringRowsWriteTheChosenTextKeepTheirTypeAndUndoToTheStart) {
    ASSERT_TRUE(reg.OpenKey("\\Software\\A", true));
    reg.WriteString("path", "C:\\Temp\\temp");
    reg.WriteExpandString("exp", "%TEMP%\\temp");
    const auto before = state();

    for (const ReplaceChoice choice : {ReplaceChoice::Substitution, ReplaceChoice::WholeText}) {
        const bool whole = choice == ReplaceChoice::WholeText;
        std::vector<SearchHit> rows{
            row(HitMark::String, "C:\\Temp\\temp", "Software\\A", "path", "temp", "X"),
            row(HitMark::String, "%TEMP%\\temp", "Software\\A", "exp", "temp", "X")};
        HitActions actions(store, "temp", "X");
        const ReplaceOutcome out = actions.replace(rows, choice, log);
        ASSERT_TRUE(out.succeeded()) << cp932ToUtf8(out.error);
        EXPECT_EQ(out.replaced, 2u);
        EXPECT_TRUE(rows.empty());
        EXPECT_EQ(text("\\Software\\A", "path"), whole ? "X" : "C:\\X\\X");
        EXPECT_EQ(text("\\Software\\A", "exp"), whole ? "X" : "%X%\\X");
        EXPECT_EQ(reg.GetDataType("exp"), ValueKind::ExpandString);

        // Newest first: the first row, handled last.
        ASSERT_EQ(log.entries().size(), 2u);
        const UndoEntry& e = log.entries()[0];
        EXPECT_EQ(e.operation, sj("文字列値の変更"));
        EXPECT_EQ(e.root, kHkcu);
        EXPECT_EQ(e.keyPath, "\\Software\\A");
        EXPECT_EQ(e.valueName, "path");
        EXPECT_EQ(e.before, "C:\\Temp\\temp");
        EXPECT_EQ(e.after, whole ? "X" : "C:\\X\\X");
        EXPECT_EQ(log.entries()[1].operation, sj("拡張文字列値の変更"));
        undoAll();
        EXPECT_EQ(state(), before);
    }
}

TEST_F(HitActionsTest, NumberRowsWriteTheDecimalTextAndUntickedRowsStay) {
    ASSERT_TRUE(reg.OpenKey("\\N", true));
    reg.WriteInteger("n", 1234);
    reg.WriteInteger("m", 4123);
    const auto before = state();
    for (const ReplaceChoice choice : {ReplaceChoice::Substitution, ReplaceChoice::WholeText}) {
        std::vector<SearchHit> rows{row(HitMark::Number, "1234", "N", "n", "23", "99"),
                                    row(HitMark::Number, "4123", "N", "m", "23", "99")};
        rows[1].checked = false;
        HitActions actions(store, "23", "99");
        const ReplaceOutcome out = actions.replace(rows, choice, log);
        ASSERT_TRUE(out.succeeded()) << cp932ToUtf8(out.error);
        EXPECT_EQ(number("\\N", "n"), choice == ReplaceChoice::WholeText ? 99u : 1994u);
        EXPECT_EQ(number("\\N", "m"), 4123u);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].text(kColName), "m");
        ASSERT_EQ(log.entries().size(), 1u);
        EXPECT_EQ(log.entries()[0].operation, sj("数値の変更"));
        EXPECT_EQ(log.entries()[0].before, "1234");
        EXPECT_EQ(log.entries()[0].after, choice == ReplaceChoice::WholeText ? "99" : "1994");
        undoAll();
        EXPECT_EQ(state(), before);
    }
}

TEST_F(HitActionsTest, AKeyRowRenamesOnlyItsLastComponentUnderAnyRoot) {
    ASSERT_TRUE(reg.OpenKey("\\Software\\Foo\\Foo\\inner", true));
    reg.WriteString("v", "kept");
    reg.RootKey(HKEY_CURRENT_CONFIG_H);
    ASSERT_TRUE(reg.CreateKey("\\Cfg\\Foo"));
    reg.RootKey(HKEY_CURRENT_USER_H);
    const auto before = state();

    std::vector<SearchHit> rows{
        row(HitMark::KeyWithSubKeys, "Foo", "Software\\Foo\\Foo", "", "Foo", "Bar", false),
        row(HitMark::Key, "Foo", "Cfg\\Foo", "", "Foo", "Bar", false, "HKEY_CURRENT_CONFIG")};
    HitActions actions(store, "Foo", "Bar");
    const ReplaceOutcome out = actions.replace(rows, ReplaceChoice::WholeText, log);
    ASSERT_TRUE(out.succeeded()) << cp932ToUtf8(out.error);
    EXPECT_EQ(subKeys("\\Software\\Foo"), test::Names{"Bar"});
    EXPECT_EQ(text("\\Software\\Foo\\Bar\\inner", "v"), "kept");
    reg.RootKey(HKEY_CURRENT_CONFIG_H);
    EXPECT_EQ(subKeys("\\Cfg"), test::Names{"Bar"});
    reg.RootKey(HKEY_CURRENT_USER_H);

    ASSERT_EQ(log.entries().size(), 2u);
    const UndoEntry& e = log.entries()[0];
    EXPECT_EQ(e.operation, sj("キー名の変更"));
    EXPECT_EQ(e.keyPath, "\\Software\\Foo\\Foo");
    EXPECT_EQ(e.before, "\\Software\\Foo\\Foo");
    EXPECT_EQ(e.after, "\\Software\\Foo\\Bar");
    EXPECT_TRUE(e.valueName.empty());
    undoAll();
    EXPECT_EQ(state(), before);
}

TEST_F(HitActionsTest, RowsBelowARenamedKeyStillFindIt) {
    ASSERT_TRUE(reg.OpenKey("\\S\\temp\\sub", true));
    reg.WriteString("v", "temp data");
    ASSERT_TRUE(reg.OpenKey("\\S\\temp", true));
    reg.WriteString("w", "temp");
    const auto before = state();

    // Walk order: the key, then its values and subkeys; the run handles them first.
    {
        std::vector<SearchHit> rows{
            row(HitMark::KeyWithSubKeys, "temp", "S\\temp", "", "temp", "X"),
            row(HitMark::String, "temp", "S\\temp", "w", "temp", "X"),
            row(HitMark::String, "temp data", "S\\temp\\sub", "v", "temp", "X")};
        HitActions actions(store, "temp", "X");
        ASSERT_TRUE(actions.replace(rows, ReplaceChoice::Substitution, log).succeeded());
        EXPECT_EQ(text("\\S\\X\\sub", "v"), "X data");
        EXPECT_EQ(text("\\S\\X", "w"), "X");
        EXPECT_FALSE(reg.KeyPresent("\\S\\temp"));
        undoAll();
        EXPECT_EQ(state(), before);
    }
    // Two start keys, the deeper first: the key is renamed before the values below it, in
    // one run, and the same key listed twice is renamed once.
    {
        std::vector<SearchHit> rows{
            row(HitMark::String, "temp data", "S\\temp\\sub", "v", "temp", "X"),
            row(HitMark::KeyWithSubKeys, "temp", "S\\temp", "", "temp", "X"),
            row(HitMark::KeyWithSubKeys, "temp", "S\\temp", "", "temp", "X")};
        HitActions actions(store, "temp", "X");
        const ReplaceOutcome out = actions.replace(rows, ReplaceChoice::Substitution, log);
        ASSERT_TRUE(out.succeeded()) << cp932ToUtf8(out.error);
        EXPECT_TRUE(rows.empty());
        EXPECT_EQ(text("\\S\\X\\sub", "v"), "X data");
        EXPECT_EQ(log.entries().size(), 2u);
        EXPECT_EQ(log.entries()[0].keyPath, "\\S\\X\\sub");
        undoAll();
        EXPECT_EQ(state(), before);
    }
    // A key renamed by another window's run: only the path with the search text replaced,
    // case-sensitively, leads to it.
    {
        std::vector<SearchHit> keyRow{
            row(HitMark::KeyWithSubKeys, "temp", "S\\temp", "", "temp", "X")};
        ASSERT_TRUE(HitActions(store, "temp", "X")
                        .replace(keyRow, ReplaceChoice::Substitution, log)
                        .succeeded());
        std::vector<SearchHit> rows{
            row(HitMark::String, "temp data", "S\\temp\\sub", "v", "temp", "X")};
        HitActions other(store, "temp", "X");
        ASSERT_TRUE(other.replace(rows, ReplaceChoice::Substitution, log).succeeded());
        EXPECT_EQ(text("\\S\\X\\sub", "v"), "X data");
        undoAll();
        EXPECT_EQ(state(), before);
    }
}

TEST_F(HitActionsTest, AValueNameRowRenamesTheValue) {
    ASSERT_TRUE(reg.OpenKey("\\V", true));
    reg.WriteString("MyTempName", "data");
    reg.WriteString("other", "x");
    const auto before = state();
    std::vector<SearchHit> rows{row(HitMark::Name, "MyTempName", "V", "MyTempName", "temp", "X")};
    HitActions actions(store, "temp", "X");
    ASSERT_TRUE(actions.replace(rows, ReplaceChoice::Substitution, log).succeeded());
    EXPECT_EQ(valueNames("\\V"), (test::Names{"other", "MyXName"}));
    ASSERT_EQ(log.entries().size(), 1u);
    const UndoEntry& e = log.entries()[0];
    EXPECT_EQ(e.operation, sj("値名の変更"));
    EXPECT_EQ(e.valueName, "MyTempName");
    EXPECT_EQ(e.before, "MyTempName");
    EXPECT_EQ(e.after, "MyXName");
    undoAll();
    EXPECT_EQ(state(), before);
}

// Each case: rows whose middle one cannot be replaced, after a row that can.
TEST_F(HitActionsTest, ARowThatCannotBeReplacedChangesNothingAndIsNamed) {
    ASSERT_TRUE(reg.OpenKey("\\F\\ro", true));
    reg.WriteString("v", "temp");
    ASSERT_TRUE(reg.OpenKey("\\F\\ok", true));
    reg.WriteString("v", "temp");
    reg.WriteString("tempName", "1");
    reg.WriteString("XName", "2");
    reg.WriteInteger("n", 12);
    ASSERT_TRUE(reg.CreateKey("\\F\\temp"));
    ASSERT_TRUE(reg.CreateKey("\\F\\X"));
    makeReadOnly("\\F\\ro");
    const auto before = state();

    struct Case {
        const char* what;
        SearchHit bad;
        const char* error; // part of the error text (UTF-8)
    };
    const std::vector<Case> cases{
        {"read-only key", row(HitMark::String, "temp", "F\\ro", "v", "temp", "X"),
         "このキーへの書き込みは許可されていません"},
        {"missing key", row(HitMark::String, "temp", "F\\gone", "v", "temp", "X"),
         "が見つかりません"},
        {"not a number", row(HitMark::Number, "12", "F\\ok", "n", "2", "x"),
         "'1x' は数値ではありません"},
        {"key exists", row(HitMark::Key, "temp", "F\\temp", "", "temp", "X"),
         "同じ名前のキーが既に存在する"},
        {"value exists", row(HitMark::Name, "tempName", "F\\ok", "tempName", "temp", "X"),
         "同じ名前の値が既に存在する"},
        {"changed since", row(HitMark::String, "tempo", "F\\ok", "v", "temp", "X"),
         "検索の後でデータが変更されています"},
    };
    for (const Case& c : cases) {
        std::vector<SearchHit> rows{row(HitMark::String, "temp", "F\\ok", "v", "temp", "X"), c.bad,
                                    row(HitMark::String, "temp", "F\\ok", "v", "temp", "X")};
        const auto rowsBefore = texts(rows);
        HitActions actions(store, "temp", "X");
        const ReplaceOutcome out = actions.replace(rows, ReplaceChoice::Substitution, log);
        EXPECT_FALSE(out.succeeded()) << c.what;
        EXPECT_EQ(out.failedRow, std::optional<std::size_t>(1)) << c.what;
        const std::string error = cp932ToUtf8(out.error);
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
        EXPECT_NE(error.find("行 : 2\n"), std::string::npos) << error;
        EXPECT_NE(error.find(cp932ToUtf8(shownKeyOf(c.bad))), std::string::npos) << error;
        EXPECT_EQ(out.replaced, 0u);
        EXPECT_EQ(state(), before) << c.what;
        EXPECT_EQ(texts(rows), rowsBefore) << c.what;
        EXPECT_TRUE(log.entries().empty()) << c.what;
    }
}

TEST_F(HitActionsTest, AChangeTheUndoLogCannotStoreStandsAndSaysSo) {
    ASSERT_TRUE(reg.OpenKey("\\U", true));
    reg.WriteString("v", "temp");
    std::vector<SearchHit> rows{row(HitMark::String, "temp", "U", "v", "temp", "X")};
    HitActions actions(store, "temp", "X");
    ReplaceOutcome out;
    {
        test::WriteFailure full(0);
        out = actions.replace(rows, ReplaceChoice::Substitution, log);
    }
    EXPECT_TRUE(out.succeeded());
    EXPECT_FALSE(out.undoError.empty());
    EXPECT_EQ(text("\\U", "v"), "X");
    EXPECT_TRUE(rows.empty());
}

class HitDeletionTest : public HitActionsTest {
protected:
    HitDeletionTest() {
        EXPECT_TRUE(reg.OpenKey("\\D\\vals", true));
        reg.WriteString("s", "temp");
        reg.WriteString("tempName", "x");
        reg.WriteInteger("n", 7);
        EXPECT_TRUE(reg.CreateKey("\\D\\leaf"));
        EXPECT_TRUE(reg.OpenKey("\\D\\tree\\child", true));
        reg.WriteBinary("b", std::string("\x01\x02", 2));
    }
    std::vector<SearchHit> rows() {
        return {row(HitMark::KeyWithSubKeys, "tree", "D\\tree", "", "", ""),
                row(HitMark::Key, "leaf", "D\\leaf", "", "", ""),
                row(HitMark::String, "temp", "D\\vals", "s", "", ""),
                row(HitMark::Name, "tempName", "D\\vals", "tempName", "", ""),
                row(HitMark::Number, "7", "D\\vals", "n", "", "")};
    }
    std::vector<std::string> messages;
    DeleteOutcome run(std::vector<SearchHit>& list, bool withSubKeys) {
        HitActions actions(store, "", "");
        return actions.deleteChecked(list, withSubKeys, log, [this](const std::string& m) {
            messages.push_back(cp932ToUtf8(m));
        });
    }
};

TEST_F(HitDeletionTest, KeysWithSubkeysGoOnlyWithTheOptionAndEverythingComesBack) {
    const auto before = state();
    std::vector<SearchHit> list = rows();
    DeleteOutcome out = run(list, false);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(out.deleted, 4u);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].text(kColKey), "D\\tree");
    EXPECT_TRUE(reg.KeyPresent("\\D\\tree\\child"));
    EXPECT_FALSE(reg.KeyPresent("\\D\\leaf"));
    EXPECT_EQ(valueNames("\\D\\vals"), test::Names{});

    // Bottom up: the number first, the leaf key last.
    ASSERT_EQ(log.entries().size(), 4u);
    EXPECT_EQ(log.entries()[3].operation, sj("値の削除 - 数値"));
    EXPECT_EQ(log.entries()[3].before, "7 (0x00000007)");
    EXPECT_EQ(log.entries()[3].keyPath, "\\D\\vals");
    EXPECT_EQ(log.entries()[3].valueName, "n");
    EXPECT_EQ(log.entries()[2].operation, sj("値の削除 - 文字列"));
    EXPECT_EQ(log.entries()[1].operation, sj("値の削除 - 文字列"));
    EXPECT_EQ(log.entries()[1].before, "temp");
    EXPECT_EQ(log.entries()[0].operation, sj("キーの削除"));
    EXPECT_EQ(log.entries()[0].keyPath, "\\D\\leaf");

    out = run(list, true);
    EXPECT_EQ(out.deleted, 1u);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(reg.KeyPresent("\\D\\tree"));
    EXPECT_EQ(log.entries().size(), 5u);
    undoAll();
    EXPECT_EQ(state(), before);
}

TEST_F(HitDeletionTest, FailuresAreReportedByKindAndTheRunGoesOn) {
    ASSERT_TRUE(reg.CreateKey("\\D\\ro"));
    makeReadOnly("\\D\\vals");
    makeReadOnly("\\D\\ro");
    std::vector<SearchHit> list = rows();
    list.push_back(row(HitMark::Key, "ro", "D\\ro", "", "", ""));
    list.push_back(row(HitMark::String, "gone", "D\\missing", "s", "", ""));
    const DeleteOutcome out = run(list, true);
    ASSERT_EQ(messages.size(), 4u);
    // Bottom up: the read-only key, then the number, name and string rows.
    EXPECT_TRUE(messages[0].starts_with("キーの削除に失敗しました。エラー報告：15-248"));
    EXPECT_NE(messages[0].find("HKEY_CURRENT_USER\\D\\ro"), std::string::npos);
    EXPECT_TRUE(messages[1].starts_with("値の削除に失敗しました。エラー報告：15-269"));
    EXPECT_TRUE(messages[2].starts_with("値の削除に失敗しました。エラー報告：15-262"));
    EXPECT_TRUE(messages[3].starts_with("値の削除に失敗しました。エラー報告：15-255"));
    // The rows that failed stay; the rest went, the vanished value's row too.
    EXPECT_EQ(out.deleted, 3u);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].text(kColKey), "D\\vals");
    EXPECT_EQ(list[3].text(kColKey), "D\\ro");
    EXPECT_FALSE(reg.KeyPresent("\\D\\tree"));
    EXPECT_FALSE(reg.KeyPresent("\\D\\leaf"));
    EXPECT_EQ(valueNames("\\D\\vals"), (test::Names{"s", "tempName", "n"}));
}

TEST_F(HitDeletionTest, AKeyThatGainedSubkeysSinceTheSearchWaitsForTheOption) {
    ASSERT_TRUE(reg.CreateKey("\\D\\leaf\\new"));
    std::vector<SearchHit> list{row(HitMark::Key, "leaf", "D\\leaf", "", "", "")};
    run(list, false);
    EXPECT_EQ(list.size(), 1u);
    EXPECT_TRUE(reg.KeyPresent("\\D\\leaf\\new"));
    run(list, true);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(reg.KeyPresent("\\D\\leaf"));
    EXPECT_TRUE(messages.empty());
}

} // namespace
