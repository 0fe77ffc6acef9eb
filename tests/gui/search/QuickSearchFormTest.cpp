// The quick search dialog: its status line and colours, the texts it gathers, the hand-over to
// the search dialog, and the menu commands that open it.
#include "gui/search/QuickSearchForm.h"
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "gui/editor/Regform.h"
#include "support/WindowTest.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

using namespace klv;

namespace {

// A frame that records the hand-over instead of opening the search dialog.
class RecordingFrame : public TForm1 {
public:
    using TForm1::TForm1;
    void openSearch(bool replaceMode, const QString& startKey, const QString& searchText) override {
        calls << QStringLiteral("%1|%2|%3").arg(replaceMode).arg(startKey, searchText);
    }
    QStringList calls;
};

class QuickSearchFormTest : public test::WindowTest {
protected:
    RecordingFrame& startRecording() {
        auto f = std::make_unique<RecordingFrame>(QStringList{});
        RecordingFrame& r = *f;
        form = std::move(f);
        form->show();
        QApplication::processEvents();
        return r;
    }
    // Writes a value into the program's registry, as an editor window would a moment before.
    static void writeValue(const std::string& data) {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\QuickSearchTest", true));
        reg.WriteString("v", data);
    }
    static void search(TQuickSearch& d, const QString& text) {
        d.ComboBox1->setEditText(text);
        d.Button1Click();
    }
    static QColor statusColour(const TQuickSearch& d) {
        return d.Label2->palette().color(QPalette::WindowText);
    }
    static QStringList listed(const TQuickSearch& d) {
        QStringList l;
        for (int i = 0; i < d.ComboBox1->count(); ++i)
            l << d.ComboBox1->itemText(i);
        return l;
    }
};

const QString kFound = QStringLiteral("レジストリデータベースに文字列が存在します");
const QString kNotFound = QStringLiteral("レジストリデータベースに文字列は存在しません");

} // namespace

TEST_F(QuickSearchFormTest, TheStatusLineTellsTheAnswerInItsColour) {
    TForm1& f = start();
    writeValue(sj("速い検索の見本"));
    TQuickSearch d(f);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("クイックサーチ"));
    EXPECT_EQ(d.Label2->text(),
              QStringLiteral("検索する文字列を入力して、［検索］ボタンを押してください"));
    EXPECT_TRUE(d.Button3->isHidden());

    search(d, QStringLiteral("どこにもない文字列"));
    EXPECT_EQ(d.Label2->text(), kNotFound);
    EXPECT_EQ(statusColour(d), QColor(Qt::blue));
    EXPECT_TRUE(d.Button3->isHidden());

    search(d, QStringLiteral("速い検索の見本"));
    EXPECT_EQ(d.Label2->text(), kFound);
    EXPECT_EQ(statusColour(d), QColor(Qt::red));
    EXPECT_FALSE(d.Button3->isHidden());

    // While the files are read the line says so in the normal colour, and the location button
    // is gone until the answer.
    QString during;
    QColor colourDuring;
    bool buttonDuring = true;
    QTimer::singleShot(0, &d, [&] {
        during = d.Label2->text();
        colourDuring = statusColour(d);
        buttonDuring = !d.Button3->isHidden();
    });
    search(d, QStringLiteral("まだない"));
    EXPECT_EQ(during, QStringLiteral("レジストリを解析しています..."));
    EXPECT_EQ(colourDuring, d.palette().color(QPalette::WindowText));
    EXPECT_FALSE(buttonDuring);
    EXPECT_EQ(d.Label2->text(), kNotFound);
    EXPECT_TRUE(d.Button3->isHidden());
}

TEST_F(QuickSearchFormTest, TheListGathersEverySearchAndRefusesWhatCp932CannotHold) {
    TForm1& f = start();
    TQuickSearch d(f);
    search(d, QStringLiteral("Software"));
    search(d, QStringLiteral("HKEY"));
    search(d, QStringLiteral("Software"));
    EXPECT_EQ(listed(d), (QStringList{QStringLiteral("Software"), QStringLiteral("HKEY"),
                                      QStringLiteral("Software")}));
    EXPECT_EQ(d.ComboBox1->currentText(), QStringLiteral("Software"));
    EXPECT_EQ(d.Label2->text(), kFound); // the seeded registry is full of Software

    search(d, QStringLiteral("鷗外 😀"));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("エラー"));
    EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("CP932")));
    EXPECT_EQ(listed(d).size(), 3);                                  // not gathered
    EXPECT_EQ(d.Label2->text(), kFound);                             // the last answer stays
    EXPECT_EQ(d.ComboBox1->currentText(), QStringLiteral("鷗外 😀")); // nor is the text lost
}

TEST_F(QuickSearchFormTest, TheLocationButtonHandsTheTextToTheSearchDialog) {
    RecordingFrame& f = startRecording();
    writeValue("LocateMe-51");
    TQuickSearch d(f);
    d.show();
    search(d, QStringLiteral("locateme-51"));
    ASSERT_FALSE(d.Button3->isHidden());
    d.Button3Click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(f.calls, QStringList{QStringLiteral("0||locateme-51")});
}

TEST_F(QuickSearchFormTest, BothMenusOpenTheDialogOnEitherPlatformFamily) {
    for (const char* family : {"NT", "95"}) {
        if (std::string(family) == "95")
            setenv("KLOVANTE_PLATFORM", "95", 1);
        form.reset();
        TForm1& f = start();
        ASSERT_FALSE(f.editorWindows().empty()) << family;
        TRegform* editor = f.editorWindows().front();
        QAction* editorItem = nullptr;
        for (QMenu* m : editor->menus()) {
            if (m->objectName() == QStringLiteral("SearchMenu"))
                emit m->aboutToShow();
            for (QAction* a : m->findChildren<QAction*>())
                if (a->objectName() == QStringLiteral("QuickSearch"))
                    editorItem = a;
        }
        QAction* frameItem = f.findAction(QStringLiteral("QuickSearch"));
        for (QAction* item : {frameItem, editorItem}) {
            ASSERT_NE(item, nullptr) << family;
            EXPECT_TRUE(item->isEnabled()) << family;
            QString opened;
            QTimer::singleShot(0, [&] {
                if (QWidget* w = QApplication::activeModalWidget()) {
                    opened = w->windowTitle();
                    w->close();
                }
            });
            item->trigger();
            QApplication::processEvents(); // the timer has run whatever the item did
            EXPECT_EQ(opened, QStringLiteral("クイックサーチ")) << family;
        }
    }
}
