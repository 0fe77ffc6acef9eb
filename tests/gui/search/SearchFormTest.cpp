// The search dialog: validation, hexadecimal numbers, histories and options in the settings
// file, a whole search into a results window with its end question, and the last-write filter.
#include "gui/search/SearchForm.h"
#include "core/platform/TimeText.h"
#include "core/registry/Registry.h"
#include "gui/search/SearchResult.h"
#include "support/WindowTest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <QToolButton>

using namespace klv;

namespace {

class SearchFormTest : public test::WindowTest {
protected:
    SearchFormTest() {
        // Written at one known second: 2023/11/14 22:13:20 UTC.
        setClockForTesting([] { return fileTimeFromUnix(1700000000); });
        TRegistry reg;
        reg.RootKey(HKEY_CURRENT_USER_H);
        EXPECT_TRUE(reg.OpenKey("\\Software\\Probe\\Inner", true));
        reg.WriteString("path", "C:\\Probe\\probe.exe");
        reg.WriteInteger("count", 31);
        setClockForTesting({});
    }

    // Only the test's key, so that the seeded registry does not count.
    static void underProbe(TSearchForm& d, const char* text) {
        d.presetStartKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Probe"));
        d.presetSearchText(QString::fromUtf8(text));
    }
    QStringList errors() const {
        QStringList out;
        for (const auto& m : dialogs.shown)
            if (m.caption == QStringLiteral("エラー"))
                out << m.text;
        return out;
    }
};

} // namespace

TEST_F(SearchFormTest, RefusesARequestWithoutScopeOrTarget) {
    TForm1& f = start();
    TSearchForm d(f, false);
    for (QCheckBox* c : d.RootBoxes)
        c->setChecked(false);
    d.Button1Click();
    d.RadioButton2->setChecked(true);
    d.Button1Click();
    d.Memo1->setPlainText(QStringLiteral("HKEY_CURRENT_USER"));
    for (QToolButton* b : {d.ToolButton1, d.ToolButton2, d.ToolButton3, d.ToolButton4})
        b->setChecked(false);
    d.Button1Click();
    EXPECT_EQ(errors(),
              (QStringList{
                  QStringLiteral("検索範囲が指定されていません。少なくとも１つ以上ルートを"
                                 "指定してください。"),
                  QStringLiteral("検索範囲が指定されていません。検索するキーを指定してください。"),
                  QStringLiteral("検索対象が指定されていません。少なくとも１つ以上、検索対"
                                 "象を指定してください。")}));
    EXPECT_EQ(d.lastResult(), nullptr);
    EXPECT_FALSE(d.running());
    // A start key that does not exist is not added to the several keys.
    d.Edit1->setText(QStringLiteral("HKEY_CURRENT_USER\\Software\\Nowhere"));
    d.Button4Click();
    d.Edit1->setText(QStringLiteral("HKEY_CURRENT_USER\\Software\\Probe"));
    d.Button4Click();
    EXPECT_EQ(d.ListBox1->count(), 1);
    EXPECT_EQ(errors().back(), QStringLiteral("指定されたレジストリキーは存在しません。"));
}

TEST_F(SearchFormTest, ASearchFillsAResultsWindowAndAsksAtTheEnd) {
    TForm1& f = start();
    TSearchForm d(f, false);
    underProbe(d, "probe");
    d.CheckBox8->setChecked(false);
    d.CheckBox9->setChecked(true);
    dialogs.answers.push_back(MsgAnswer::No);
    d.Button1Click();
    TSearchResult* r = d.lastResult();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->windowTitle(), QStringLiteral("probe の検索結果 < 大文字・小文字の区別なし >"));
    // The key Inner has no hit; its string value does, and the start key's name is not tested.
    ASSERT_EQ(r->rows().size(), 1u);
    EXPECT_EQ(r->rows()[0].mark, HitMark::String);
    EXPECT_TRUE(r->rows()[0].checked);
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("検索終了"));
    EXPECT_EQ(dialogs.shown.back().text,
              QStringLiteral("1 件ヒットして検索が終了しました。検索の条件設定画面を閉じますか。"));
    EXPECT_FALSE(d.running());
    EXPECT_TRUE(d.Button1->isEnabled());
    EXPECT_FALSE(d.Button2->isEnabled());
    EXPECT_EQ(d.Label1->text(),
              QStringLiteral("検索結果を検査していますので、しばらくお待ちください。"));
    EXPECT_EQ(d.ComboBox1->itemText(0), QStringLiteral("probe"));
}

TEST_F(SearchFormTest, HexadecimalNumbersAndTheirErrors) {
    TForm1& f = start();
    TSearchForm d(f, false);
    underProbe(d, "1F");
    d.ToolButton4->setChecked(true);
    d.ToolButtonClick(d.ToolButton4);
    EXPECT_TRUE(d.CheckBox10->isEnabled());
    d.CheckBox10->setChecked(true);
    d.CheckBox8->setChecked(true);
    d.Button1Click();
    EXPECT_EQ(d.ComboBox1->currentText(), QStringLiteral("31"));
    ASSERT_NE(d.lastResult(), nullptr);
    ASSERT_EQ(d.lastResult()->rows().size(), 1u);
    EXPECT_EQ(d.lastResult()->rows()[0].mark, HitMark::Number);

    // Not a number: the error, no walk, and the dialog back to idle.
    TSearchResult* before = d.lastResult();
    d.presetSearchText(QStringLiteral("XYZ"));
    d.Button1Click();
    EXPECT_EQ(errors().back(), QStringLiteral("'$XYZ' は数値ではありません"));
    EXPECT_EQ(d.lastResult(), before);
    EXPECT_FALSE(d.running());
    EXPECT_TRUE(d.Button1->isEnabled());
    d.ToolButton4->setChecked(false);
    d.ToolButtonClick(d.ToolButton4);
    EXPECT_FALSE(d.CheckBox10->isEnabled());
}

TEST_F(SearchFormTest, HistoriesAndOptionsLiveInTheSettingsFile) {
    TForm1& f = start();
    {
        TSearchForm d(f, true);
        EXPECT_EQ(d.windowTitle(), QStringLiteral("置換"));
        EXPECT_TRUE(d.ToolButton3->isChecked());
        EXPECT_FALSE(d.ToolButton1->isChecked());
        // One target at a time in replace mode.
        d.ToolButton2->setChecked(true);
        d.ToolButtonClick(d.ToolButton2);
        EXPECT_FALSE(d.ToolButton3->isChecked());
        underProbe(d, "");
        for (int i = 0; i < 11; ++i) {
            d.presetSearchText(QString::number(i));
            d.ComboBox2->setEditText(QStringLiteral("r") + QString::number(i));
            d.Button1Click();
        }
        EXPECT_EQ(d.ComboBox1->count(), 10);
        EXPECT_EQ(d.ComboBox1->itemText(0), QStringLiteral("10"));
        d.Edit2->setText(QStringLiteral("HKEY_CURRENT_USER\\Software\\Skip"));
        d.Button6Click();
        d.CheckBox9->setChecked(false);
        d.RootBoxes[2]->setChecked(false);
        d.Button3Click();
    }
    const SettingsFile s = settings();
    const auto history = s.readList("SEARCH", "1", {});
    ASSERT_EQ(history.size(), 10u);
    EXPECT_EQ(history.front(), "10");
    EXPECT_EQ(s.readList("SEARCH", "2", {}).front(), "r10");
    EXPECT_EQ(s.readList("SEARCH", "3", {}),
              std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\Skip"});
    EXPECT_FALSE(s.readBool("SEARCH_OP", "UPP", true));
    EXPECT_FALSE(s.readBool("SEARCH_OP", "3", true));
    EXPECT_TRUE(s.readBool("SEARCH_OP", "Name", false));

    TSearchForm again(f, false);
    EXPECT_EQ(again.ComboBox1->count(), 10);
    EXPECT_FALSE(again.ComboBox2->isVisible());
    EXPECT_FALSE(again.CheckBox9->isChecked());
    EXPECT_FALSE(again.RootBoxes[2]->isChecked());
    EXPECT_EQ(again.ListBox2->count(), 1);
    // The several-keys tab shows only with its scope.
    EXPECT_FALSE(again.PageControl1->isTabVisible(1));
    again.RadioButton3->setChecked(true);
    again.RadioButtonClick();
    EXPECT_TRUE(again.PageControl1->isTabVisible(1));
}

TEST_F(SearchFormTest, TheLastWriteFilterKeepsRowsOfThePickedSecond) {
    TForm1& f = start();
    TSearchForm d(f, false);
    ASSERT_TRUE(d.CheckBox11->isEnabled()); // the NT family
    EXPECT_FALSE(d.RootBoxes[5]->isEnabled());
    underProbe(d, "");
    d.CheckBox11->setChecked(true);
    d.RadioButton5->setChecked(true);
    d.DateTimePicker1->setDate(QDate(2023, 11, 14));
    d.DateTimePicker2->setTime(QTime(22, 13, 20));
    // A key written later than the picked second does not stay.
    {
        TRegistry reg;
        reg.RootKey(HKEY_CURRENT_USER_H);
        ASSERT_TRUE(reg.OpenKey("\\Software\\Probe\\Later", true));
    }
    d.Button1Click();
    ASSERT_NE(d.lastResult(), nullptr);
    const auto& rows = d.lastResult()->rows();
    EXPECT_EQ(rows.size(), 4u); // Inner, its two names, its string (numbers are off)
    for (const SearchHit& h : rows) {
        EXPECT_EQ(h.texts[kColTime], "2023/11/14 22:13:20");
        EXPECT_TRUE(h.checked);
    }
}
