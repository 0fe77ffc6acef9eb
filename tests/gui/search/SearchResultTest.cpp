// The results window: ticking by kind, sorting only in search mode, the replace panel's
// preview lines, the jump to a hit, and the replace and delete buttons end to end.
#include "gui/search/SearchResult.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/registry/Registry.h"
#include "core/search/TextMatcher.h"
#include "core/undo/UndoLog.h"
#include "gui/editor/Regform.h"
#include "gui/widgets/TextBridge.h"
#include "support/WindowTest.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

using namespace klv;

namespace {

void mouse(QWidget* w, QEvent::Type type, QPoint at) {
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void click(QWidget* w, QPoint at) {
    mouse(w, QEvent::MouseButtonPress, at);
    mouse(w, QEvent::MouseButtonRelease, at);
}

void doubleClick(QWidget* w, QPoint at) {
    click(w, at);
    mouse(w, QEvent::MouseButtonDblClick, at);
    mouse(w, QEvent::MouseButtonRelease, at);
}

class SearchResultTest : public test::WindowTest {
protected:
    SearchResultTest() {
        settings().writeBool("OPTION", "OEDIT", false); // no editor window at start
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKey("\\Software\\A", true));
        reg.WriteString("v", "C:\\Temp\\temp");
        reg.WriteInteger("n", 1234);
    }

    static SearchHit hit(HitMark mark, const std::string& text, const std::string& key,
                         const std::string& name, const std::string& search = "temp",
                         const std::string& replacement = "X") {
        SearchHit h;
        h.mark = mark;
        h.texts[kColKind] = hitKindText(mark);
        h.texts[kColHit] = text;
        h.texts[kColRoot] = "HKEY_CURRENT_USER";
        h.texts[kColKey] = key;
        h.texts[kColName] = name;
        h.texts[kColTime] = "2024/01/02 03:04:05";
        h.texts[kColPreview] = substitutePreview(text, search, replacement, true);
        h.texts[kColReplacement] = replacement;
        h.checked = true;
        return h;
    }

    // A window as the search dialog leaves it after the walk.
    TSearchResult& window(bool replaceMode, std::vector<SearchHit> hits) {
        if (!form)
            start();
        SearchRequest request;
        request.text = "temp";
        request.replacement = "X";
        request.replaceMode = replaceMode;
        auto* w = new TSearchResult(*form, request);
        form->addChildWindow(w);
        w->setAnimationRunning(true);
        w->appendHits(std::move(hits));
        w->hideProgressBand();
        w->rowsChanged();
        QApplication::processEvents();
        return *w;
    }

    static std::vector<bool> ticks(TSearchResult& w) {
        std::vector<bool> out;
        QAbstractItemModel* m = w.ListView1->model();
        for (int r = 0; r < m->rowCount(); ++r) {
            const bool shown = m->index(r, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
            EXPECT_EQ(shown, w.rows()[static_cast<std::size_t>(r)].checked);
            out.push_back(shown);
        }
        return out;
    }

    static QStringList column(TSearchResult& w, int c) {
        QStringList out;
        QAbstractItemModel* m = w.ListView1->model();
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, c).data().toString();
        return out;
    }

    static void clickHeader(TSearchResult& w, int section) {
        QHeaderView* h = w.ListView1->header();
        click(h->viewport(), QPoint(h->sectionViewportPosition(section) + 10, h->height() / 2));
        QApplication::processEvents();
    }

    static void selectRow(TSearchResult& w, int row) {
        const QRect r = w.ListView1->visualRect(w.ListView1->model()->index(row, 1));
        click(w.ListView1->viewport(), r.center());
    }

    static std::string valueText(const std::string& key, const std::string& name) {
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKeyForReading(key));
        return reg.ReadText(name);
    }
};

std::vector<SearchHit> everyKind() {
    return {
        {HitMark::Key, {}, false},    {HitMark::KeyWithSubKeys, {}, false},
        {HitMark::Name, {}, false},   {HitMark::String, {}, false},
        {HitMark::Number, {}, false}, {HitMark::String, {}, false},
    };
}

TEST_F(SearchResultTest, TickingByKindUnticksEverythingFirst) {
    TSearchResult& w = window(false, everyKind());
    ASSERT_EQ(w.ComboBox1->count(), 7);
    EXPECT_EQ(w.ComboBox1->currentText(), QStringLiteral("すべて"));
    w.ToolButton1->trigger();
    EXPECT_EQ(ticks(w), std::vector<bool>(6, true));

    w.ComboBox1->setCurrentText(QStringLiteral("文字列値と数値"));
    w.ToolButton1->trigger();
    EXPECT_EQ(ticks(w), (std::vector<bool>{false, false, false, true, true, true}));
    w.ComboBox1->setCurrentText(QStringLiteral("末端のキーのみ"));
    w.ToolButton1->trigger();
    EXPECT_EQ(ticks(w), (std::vector<bool>{true, false, false, false, false, false}));
    w.ComboBox1->setCurrentText(QStringLiteral("すべてのキーのみ"));
    w.ToolButton1->trigger();
    EXPECT_EQ(ticks(w), (std::vector<bool>{true, true, false, false, false, false}));
    w.ComboBox1->setCurrentText(QStringLiteral("名前のみ"));
    w.ToolButton1->trigger();
    EXPECT_EQ(ticks(w), (std::vector<bool>{false, false, true, false, false, false}));

    // The check box of a row is the row's tick.
    QAbstractItemModel* m = w.ListView1->model();
    EXPECT_TRUE(m->setData(m->index(4, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(w.rows()[4].checked);
    w.ToolButton2->trigger();
    EXPECT_EQ(ticks(w), std::vector<bool>(6, false));
}

TEST_F(SearchResultTest, HeadersSortInSearchModeAndNotInReplaceMode) {
    const std::vector<SearchHit> hits{hit(HitMark::String, "b", "K\\2", "x"),
                                      hit(HitMark::String, "c", "K\\1", "y"),
                                      hit(HitMark::String, "a", "K\\3", "z")};
    {
        TSearchResult& w = window(false, hits);
        EXPECT_EQ(w.ListView1->columnWidth(kColKey), 300);
        EXPECT_EQ(w.ListView1->columnWidth(kColPreview), 0);
        EXPECT_TRUE(w.ListView1->header()->sectionsMovable());
        // The walk order until a header is clicked.
        EXPECT_EQ(column(w, kColHit),
                  (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a")}));
        clickHeader(w, kColHit);
        EXPECT_EQ(column(w, kColHit),
                  (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        EXPECT_TRUE(w.ListView1->header()->isSortIndicatorShown());
        clickHeader(w, kColHit);
        EXPECT_EQ(column(w, kColHit),
                  (QStringList{QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("a")}));
        clickHeader(w, kColKey);
        EXPECT_EQ(column(w, kColName),
                  (QStringList{QStringLiteral("y"), QStringLiteral("x"), QStringLiteral("z")}));
        EXPECT_EQ(w.rows()[0].text(kColName), "y"); // the rows themselves, as the runs see them
        w.ToolButton4->trigger();
    }
    {
        TSearchResult& w = window(true, hits);
        EXPECT_EQ(w.ListView1->columnWidth(kColPreview), 150);
        EXPECT_EQ(w.ListView1->columnWidth(kColReplacement), 150);
        clickHeader(w, kColHit);
        EXPECT_EQ(column(w, kColHit),
                  (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a")}));
        EXPECT_FALSE(w.ListView1->header()->isSortIndicatorShown());
    }
}

TEST_F(SearchResultTest, ARowClickShowsThePreviewLinesWithHintsForLongOnes) {
    const std::string shortText(25, 'a'); // "置換前 : " + 25 bytes = 34 bytes
    const std::string longText(26, 'a');
    TSearchResult& w =
        window(true, {hit(HitMark::String, "C:\\Temp\\temp", "Software\\A", "v"),
                      hit(HitMark::String, shortText + "temp", "Software\\A", "w", "temp", ""),
                      hit(HitMark::String, longText, "Software\\A", "u", "zz", "")});
    EXPECT_EQ(w.Label9->text(), QStringLiteral("置換前 :"));
    EXPECT_EQ(w.Label12->text(), QStringLiteral("置換後 : "));
    EXPECT_EQ(w.Label7->text(), QStringLiteral("X"));

    selectRow(w, 0);
    EXPECT_EQ(w.Label9->text(), QStringLiteral("置換前 : C:\\Temp\\temp"));
    EXPECT_EQ(w.Label10->text(), QStringLiteral("置換後 : C:\\X\\X"));
    EXPECT_EQ(w.Label11->text(), QStringLiteral("置換前 : C:\\Temp\\temp"));
    EXPECT_EQ(w.Label12->text(), QStringLiteral("置換後 : X"));
    EXPECT_TRUE(w.Label9->toolTip().isEmpty());

    selectRow(w, 1); // before 38 bytes, after 34
    EXPECT_EQ(w.Label9->toolTip(), toQString(sj("置換前 : ") + shortText + "temp"));
    EXPECT_TRUE(w.Label10->toolTip().isEmpty());
    selectRow(w, 2); // the substitution leaves 35 bytes
    EXPECT_EQ(w.Label10->toolTip(), toQString(sj("置換後 : ") + longText));
    EXPECT_TRUE(w.Label12->toolTip().isEmpty());
}

TEST_F(SearchResultTest, ADoubleClickGoesToTheValueInTheEditorWindowWhenThereIsOne) {
    TSearchResult& w = window(false, {hit(HitMark::String, "C:\\Temp\\temp", "Software\\A", "v")});
    const QRect r = w.ListView1->visualRect(w.ListView1->model()->index(0, 1));
    doubleClick(w.ListView1->viewport(), r.center());
    EXPECT_TRUE(form->editorWindows().empty());
    EXPECT_TRUE(dialogs.shown.empty());

    TRegform* editor = form->NewEditorWindow();
    ASSERT_NE(editor, nullptr);
    doubleClick(w.ListView1->viewport(), r.center());
    EXPECT_EQ(editor->caption(), QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
    EXPECT_EQ(editor->ListView1->currentIndex().data().toString(), QStringLiteral("v"));
}

TEST_F(SearchResultTest, TheReplaceButtonReplacesRecordsAndReportsOrChangesNothing) {
    TSearchResult& w = window(true, {hit(HitMark::String, "C:\\Temp\\temp", "Software\\A", "v"),
                                     hit(HitMark::String, "temp", "Software\\Gone", "v")});
    // The second row's key is missing: nothing is replaced and the row is named.
    w.Button1->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("エラー"));
    EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("行 : 2")));
    EXPECT_EQ(w.ListView1->model()->rowCount(), 2);
    EXPECT_EQ(valueText("\\Software\\A", "v"), "C:\\Temp\\temp");

    dialogs.shown.clear();
    w.rows()[1].checked = false;
    w.RadioButton2->setChecked(true);
    w.Button1->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("置換"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("指定された項目すべての置換が完了しました。"));
    EXPECT_EQ(valueText("\\Software\\A", "v"), "X");
    EXPECT_EQ(column(w, kColKey), QStringList{QStringLiteral("Software\\Gone")});
    // The editor windows find the change in the shared undo log.
    UndoLog log(UndoPlace{programFolder(), systemFolder(), {}, nullptr});
    ASSERT_TRUE(log.load());
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0].after, "X");
}

TEST_F(SearchResultTest, TheDeleteButtonAsksFirst) {
    TSearchResult& w = window(false, {hit(HitMark::Number, "1234", "Software\\A", "n")});
    dialogs.answers = {MsgAnswer::No};
    w.ToolButton3->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("最終確認"));
    EXPECT_EQ(dialogs.shown[0].icon, MsgIcon::Question);
    EXPECT_EQ(w.rows().size(), 1u);

    w.ToolButton3->trigger(); // Yes
    EXPECT_EQ(w.ListView1->model()->rowCount(), 0);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyForReading("\\Software\\A"));
    EXPECT_FALSE(reg.ValuePresent("n"));
}

} // namespace
