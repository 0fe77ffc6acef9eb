// The editor window's settings, read-only mode and undo tab as a user meets them: what is
// written when, what activation restores, and what each window keeps for itself.
#include "core/lists/ListFile.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "gui/editor/Regform.h"
#include "support/WindowTest.h"

#include <QAction>
#include <QMenu>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <fstream>

using namespace klv;

namespace {

class RegformLifecycleTest : public test::WindowTest {
protected:
    TRegform& window(std::size_t frontmost = 0) {
        if (!form)
            start();
        auto w = form->editorWindows();
        if (w.size() <= frontmost)
            throw std::runtime_error("no such editor window");
        return *w[frontmost];
    }
    static QAction* action(TRegform& e, const char* name) {
        for (QMenu* m : e.menus())
            for (QAction* a : m->findChildren<QAction*>())
                if (a->objectName() == QLatin1String(name))
                    return a;
        return nullptr;
    }
    std::string iniBytes() const {
        std::ifstream in(SettingsFile::defaultPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

} // namespace

TEST_F(RegformLifecycleTest, WithSaveOffFontsAndTogglesChangeTheWindowOnly) {
    settings().writeBool("OPTION", "SAVE", false);
    TRegform& e = window();
    const std::string before = iniBytes();
    QFont big = e.TreeView1->font();
    big.setPointSize(21);
    dialogs.fonts.push_back(big);
    e.TreeFontClick();
    EXPECT_EQ(e.TreeView1->font().pointSize(), 21);
    e.ToolBarClick();
    e.AddressBarClick();
    e.FunctionPanelClick();
    e.ViewStyleClick(ViewStyle::List);
    e.PauseHistoryClick();
    e.ReadOnlyClick();
    EXPECT_TRUE(e.ToolBar1->isHidden());
    EXPECT_TRUE(e.PageControl1->isHidden());
    EXPECT_EQ(iniBytes(), before);
}

TEST_F(RegformLifecycleTest, ReadOnlySettingSwitchesAWindowAtActivation) {
    TRegform& e = window();
    EXPECT_FALSE(e.readOnlyMode());
    EXPECT_EQ(form->statusPanel(0), QStringLiteral("フルアクセス"));
    settings().writeBool("OPTION", "READONLY", true);
    form->editorActivated(&e);
    EXPECT_TRUE(e.readOnlyMode());
    EXPECT_EQ(form->statusPanel(0), QStringLiteral("読み取り専用"));
    for (const char* name : {"Undo", "NewKey", "NewString", "Rename", "Delete", "Replace",
                             "ScriptRun", "CutValue", "CopyValue", "PasteValue"})
        EXPECT_FALSE(action(e, name)->isEnabled()) << name;
    EXPECT_TRUE(action(e, "ReadOnly")->isChecked());
    EXPECT_FALSE(e.PageControl1->isTabEnabled(0));
    // Off again by hand: the setting follows, and the next activation leaves the mode alone.
    e.ReadOnlyClick();
    EXPECT_FALSE(settings().readBool("OPTION", "READONLY", true));
    form->editorActivated(&e);
    EXPECT_FALSE(e.readOnlyMode());
    EXPECT_TRUE(action(e, "NewKey")->isEnabled());
    EXPECT_FALSE(action(e, "PasteValue")->isEnabled()); // the value holder is empty
    EXPECT_EQ(form->statusPanel(0), QStringLiteral("フルアクセス"));
}

TEST_F(RegformLifecycleTest, TheReadOnlyArgumentOpensWindowsReadOnlyWithoutRememberingIt) {
    start({QStringLiteral("/READONLY")});
    TRegform& e = window();
    EXPECT_TRUE(e.readOnlyMode());
    EXPECT_EQ(form->statusPanel(0), QStringLiteral("読み取り専用"));
    EXPECT_FALSE(settings().readBool("OPTION", "READONLY", false));
}

TEST_F(RegformLifecycleTest, TwoWindowsKeepTheirOwnReadOnlyState) {
    settings().writeBool("OPTION", "SAVE", false);
    TRegform& first = window();
    first.ReadOnlyClick();
    form->N1Click();
    TRegform& second = window();
    ASSERT_NE(&first, &second);
    EXPECT_FALSE(second.readOnlyMode());
    EXPECT_EQ(form->statusPanel(0), QStringLiteral("フルアクセス"));
    form->editorActivated(&first);
    EXPECT_TRUE(first.readOnlyMode());
    EXPECT_EQ(form->statusPanel(0), QStringLiteral("読み取り専用"));
    form->editorActivated(&second);
    EXPECT_EQ(form->statusPanel(0), QStringLiteral("フルアクセス"));
}

TEST_F(RegformLifecycleTest, SettingsSurviveClosingAndReopeningAWindow) {
    settings().writeBool("OPTION", "OACS", true);
    TRegform& e = window();
    QFont font = e.ValueStack->font();
    font.setPointSize(17);
    dialogs.fonts.push_back(font);
    e.ListFontClick();
    e.ViewStyleClick(ViewStyle::SmallIcons);
    e.PauseHistoryClick();
    e.AddressBarClick();
    e.NavigateTo(QStringLiteral("HKEY_CLASSES_ROOT\\.txt"));
    e.parentWidget()->close();
    QApplication::processEvents();
    EXPECT_TRUE(settings().readBool("VIEW_STYLE", "SI", false));
    EXPECT_FALSE(settings().readBool("VIEW_STYLE", "RP", true));
    EXPECT_EQ(settings().readString("OPTION", "OACS_PASS"), "HKEY_CLASSES_ROOT\\.txt");

    form->N1Click();
    TRegform& again = window();
    EXPECT_EQ(again.viewStyle(), ViewStyle::SmallIcons);
    EXPECT_TRUE(action(again, "StyleSmallIcons")->isChecked());
    EXPECT_EQ(again.ValueStack->font().pointSize(), 17);
    EXPECT_TRUE(again.historyPaused());
    EXPECT_EQ(form->statusPanel(1), QStringLiteral("履歴OFF"));
    EXPECT_TRUE(again.AddressBar->isHidden());
    EXPECT_EQ(again.caption(), QStringLiteral("HKEY_CLASSES_ROOT\\.txt"));
}

TEST_F(RegformLifecycleTest, TheUndoTabUndoesAfterTheQuestionAndSavesItsList) {
    TRegform& e = window();
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\UndoMe", true));
        reg.WriteString("v", "after");
    }
    UndoEntry entry;
    entry.operation = sj("文字列値の変更");
    entry.root = "HKEY_CURRENT_USER";
    entry.keyPath = "\\UndoMe";
    entry.valueName = "v";
    entry.before = "before";
    entry.after = "after";
    e.AddUndo(entry);
    ASSERT_EQ(e.ListView2->topLevelItemCount(), 1);
    EXPECT_EQ(e.ListView2->topLevelItem(0)->text(1), QStringLiteral("文字列値の変更"));
    const auto undoFile = programFolder() / "UNDO.DAT";
    EXPECT_EQ(loadListFile(undoFile).size(), 1u);

    dialogs.answers.push_back(MsgAnswer::No);
    e.UndoClick();
    EXPECT_EQ(e.ListView2->topLevelItemCount(), 1);
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("復元の確認"));
    EXPECT_TRUE(
        dialogs.shown.back().text.contains(QStringLiteral("キー : HKEY_CURRENT_USER\\UndoMe")));

    e.UndoClick(); // answered Yes
    EXPECT_EQ(e.ListView2->topLevelItemCount(), 0);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\UndoMe", false));
    EXPECT_EQ(reg.ReadText("v"), "before");

    // The popup's commands ask, then write the list file.
    e.AddUndo(entry);
    e.AddUndo(entry);
    e.PageControl1->setCurrentWidget(e.ListView2);
    e.ListView2->setCurrentItem(e.ListView2->topLevelItem(0));
    e.ListDeleteItemClick();
    EXPECT_EQ(loadListFile(undoFile).size(), 1u);
    dialogs.answers.push_back(MsgAnswer::No);
    e.ListClearClick();
    EXPECT_EQ(loadListFile(undoFile).size(), 1u);
    e.ListClearClick();
    EXPECT_TRUE(loadListFile(undoFile).empty());
}

TEST_F(RegformLifecycleTest, WindowsShareTheUndoLogThroughItsFileAndADamagedFileChangesNothing) {
    TRegform& first = window();
    UndoEntry entry;
    entry.operation = sj("キーの作成");
    entry.root = "HKEY_CURRENT_USER";
    entry.keyPath = "\\Made";
    first.AddUndo(entry);
    form->N1Click();
    TRegform& second = window();
    EXPECT_EQ(second.ListView2->topLevelItemCount(), 1);

    std::ofstream(programFolder() / "UNDO.DAT", std::ios::binary) << std::string("LVF\x05\x00", 5);
    form->editorActivated(&second);
    EXPECT_EQ(second.ListView2->topLevelItemCount(), 1);
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("I/O Error"));
}

TEST_F(RegformLifecycleTest, TheCustomisedToolbarShowsAndOrdersButtonsAsTheSettingsSay) {
    SettingsFile s = settings();
    s.writeBool("OPTION", "TOOLBAR", true);
    s.writeBool("TOOLBAR", "ToolButton1_E", false);
    s.writeInt("TOOLBAR", "ToolButton3", -1);
    TRegform& e = window();
    form->editorActivated(&e);
    const QList<QAction*> actions = e.ToolBar1->actions();
    ASSERT_FALSE(actions.isEmpty());
    EXPECT_EQ(actions.front()->objectName(), QStringLiteral("NewKey")); // button 3
    for (QAction* a : actions)
        EXPECT_NE(a->objectName(), QStringLiteral("NewWindow"));
}

TEST_F(RegformLifecycleTest, ADraggedBandWritesTheBandLayout) {
    {
        SettingsFile s = settings();
        s.writeInt("BansPositions", "ControlCount", 2);
        s.writeString("BansPositions", "Control1", "AddressBar");
        s.writeBool("BansPositions", "Break1", true);
        s.writeString("BansPositions", "Control2", "ToolBar1");
        s.writeBool("BansPositions", "Break2", false); // both on one line
    }
    TRegform& e = window();
    QApplication::processEvents();
    EXPECT_EQ(e.AddressBar->y(), e.ToolBar1->y());
    EXPECT_LT(e.AddressBar->x(), e.ToolBar1->x());
    settings().writeString("BansPositions", "Stale", "x");
    // A press and a release on the band's handle, as a drag ends.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(e.ToolBar1, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(e.ToolBar1, &release);
    QApplication::processEvents();
    SettingsFile s = settings();
    EXPECT_EQ(s.readInt("BansPositions", "ControlCount", 0), 2);
    EXPECT_EQ(s.readString("BansPositions", "Control1"), "AddressBar");
    EXPECT_EQ(s.readString("BansPositions", "Control2"), "ToolBar1");
    EXPECT_FALSE(s.readBool("BansPositions", "Break2", true));
    EXPECT_EQ(s.readInt("BansPositions", "Width2", 0), e.ToolBar1->width());
    EXPECT_EQ(s.readString("BansPositions", "Stale"), ""); // the section is written afresh
}
