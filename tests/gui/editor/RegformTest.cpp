#include "gui/editor/Regform.h"
#include "core/registry/Registry.h"
#include "support/WindowTest.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <fstream>
#include <stdexcept>

using namespace klv;

namespace {

class RegformTest : public test::WindowTest {
protected:
    TRegform& editor() {
        if (!form)
            start();
        auto w = form->editorWindows();
        // Thrown, not dereferenced: the test fails alone instead of crashing the executable.
        if (w.empty())
            throw std::runtime_error("no editor window");
        return *w.front();
    }
    static QTreeWidgetItem* childNamed(QTreeWidgetItem* n, const QString& name) {
        for (int i = 0; i < n->childCount(); ++i)
            if (n->child(i)->text(0) == name)
                return n->child(i);
        return nullptr;
    }
    static QStringList rowNames(TRegform& e) {
        QStringList l;
        for (int r = 0; r < e.ValueModel->rowCount(); ++r)
            l << e.ValueModel->item(r, 0)->text();
        return l;
    }
    // A change made behind the window's back, through an access object of its own.
    static void createKey(const std::string& path) {
        TRegistry reg;
        reg.RootKey(HKEY_CURRENT_USER_H);
        ASSERT_TRUE(reg.CreateKey(path));
    }
};

} // namespace

TEST_F(RegformTest, ExpandingReadsEachNodeOnce) {
    TRegform& e = editor();
    QTreeWidgetItem* hkcu = e.TreeView1->topLevelItem(1);
    ASSERT_EQ(hkcu->text(0), QStringLiteral("HKEY_CURRENT_USER"));
    const int before = e.subKeyReads();
    hkcu->setExpanded(true);
    const int children = hkcu->childCount();
    EXPECT_GT(children, 3);
    EXPECT_EQ(e.subKeyReads(), before + 1);

    createKey("\\Zeta"); // not seen until the tree is rebuilt
    hkcu->setExpanded(false);
    hkcu->setExpanded(true);
    EXPECT_EQ(hkcu->childCount(), children);
    EXPECT_EQ(e.subKeyReads(), before + 1);

    // Sorted without regard to case; a key without subkeys has no expand button.
    QStringList names;
    for (int i = 0; i < hkcu->childCount(); ++i)
        names << hkcu->child(i)->text(0);
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return a.toUpper() < b.toUpper(); });
    EXPECT_EQ(names, sorted);
    QTreeWidgetItem* env = childNamed(hkcu, QStringLiteral("Environment"));
    ASSERT_NE(env, nullptr);
    EXPECT_EQ(env->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
    EXPECT_EQ(childNamed(hkcu, QStringLiteral("Software"))->childIndicatorPolicy(),
              QTreeWidgetItem::ShowIndicator);

    // Refreshing rebuilds the tree and returns to the same key.
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\Mouse"));
    e.RefreshClick();
    EXPECT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\Mouse"));
    EXPECT_EQ(e.TreeView1->currentItem()->text(0), QStringLiteral("Mouse"));
    EXPECT_TRUE(e.ComboBox1->currentText().isEmpty());
    EXPECT_NE(childNamed(e.TreeView1->topLevelItem(1), QStringLiteral("Zeta")), nullptr);
}

TEST_F(RegformTest, ReadOnlyAndNoAccessKeys) {
    TRegform& e = editor();
    e.NavigateTo(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root"));
    EXPECT_EQ(e.caption(),
              QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root"));
    // Enum opens for reading only, so its subkeys carry the read-only images.
    EXPECT_EQ(e.SelectedImageIndex, 2);
    QTreeWidgetItem* enumNode = e.TreeView1->currentItem()->parent();
    EXPECT_EQ(enumNode->data(0, Qt::UserRole + 2).toInt(), 0);
    EXPECT_TRUE(dialogs.shown.empty());

    e.NavigateTo(QStringLiteral("HKEY_LOCAL_MACHINE\\SECURITY"));
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("アクセスエラー"));
    EXPECT_EQ(dialogs.shown.back().text,
              QStringLiteral("キーへのアクセスが拒否されました。\n\n既に削除されているか、アクセス"
                             "権がありません。"));
    EXPECT_EQ(dialogs.shown.back().icon, MsgIcon::Error);
    // The tree keeps the node, without children.
    QTreeWidgetItem* security = e.TreeView1->currentItem();
    EXPECT_EQ(security->text(0), QStringLiteral("SECURITY"));
    EXPECT_EQ(security->childCount(), 0);
}

TEST_F(RegformTest, AddressBarIgnoresCaseProgrammaticNavigationDoesNot) {
    TRegform& e = editor();
    e.ComboBox1->setEditText(QStringLiteral("hkey_current_user\\control panel\\desktop"));
    e.Button1Click();
    EXPECT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\Desktop"));
    EXPECT_EQ(form->Edit1, e.caption());
    EXPECT_EQ(e.windowTitle(), e.caption());

    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\control panel\\desktop"));
    EXPECT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER"));

    // Doubled backslashes count as one; a missing second component stops at the first.
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\\\Control Panel\\\\Colors"));
    EXPECT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\Colors"));
    e.NavigateTo(QStringLiteral("HKEY_USERS\\NoSuchKey"));
    EXPECT_EQ(e.caption(), QStringLiteral("HKEY_USERS"));

    // Japanese names, one with a 0x5C second byte (表, ソ).
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Software\\サンプル\\表計算ソフト\\設定"));
    EXPECT_EQ(e.caption(),
              QStringLiteral("HKEY_CURRENT_USER\\Software\\サンプル\\表計算ソフト\\設定"));
    EXPECT_TRUE(rowNames(e).contains(QStringLiteral("表示名")));
}

TEST_F(RegformTest, TheEleventhAddressDropsTheOldest) {
    TRegform& e = editor();
    for (int i = 1; i <= 11; ++i) {
        e.ComboBox1->setEditText(QStringLiteral("HKEY_USERS\\%1").arg(i));
        e.Button1Click();
    }
    const QStringList h = e.addressHistory();
    ASSERT_EQ(h.size(), 10);
    EXPECT_EQ(h.front(), QStringLiteral("HKEY_USERS\\11"));
    EXPECT_EQ(h.back(), QStringLiteral("HKEY_USERS\\2"));
    // Kept for the next window when this one closes.
    ASSERT_FALSE(form->editorWindows().empty());
    form->editorWindows().front()->parentWidget()->close();
    QApplication::processEvents();
    const auto saved = settings().readList("HISTRY", "0", {});
    ASSERT_EQ(saved.size(), 10u);
    EXPECT_EQ(saved.front(), "HKEY_USERS\\11");
}

// A garbled count in the settings file loads no more addresses than HIS_4 allows, and closing
// the window writes the list cut to that.
TEST_F(RegformTest, AGarbledAddressListIsCutToItsLimit) {
    std::ofstream(SettingsFile::defaultPath(), std::ios::binary)
        << "[OPTION]\r\nHIS_4=3\r\n[HISTRY]\r\n0.Count=99999999\r\n0.0=HKEY_USERS\r\n";
    TRegform& e = editor();
    e.FormActivate();
    EXPECT_EQ(e.ComboBox1->count(), 3);
    form->editorWindows().front()->parentWidget()->close();
    QApplication::processEvents();
    EXPECT_EQ(settings().readInt("HISTRY", "0.Count", -1), 3);
}

// The bars, the function panel and the band order as the settings remember them, read only
// while SAVE is on; the toggles write them back at once.
TEST_F(RegformTest, BarsAndPanelFollowTheRememberedViewState) {
    {
        SettingsFile s = settings();
        s.writeBool("VIEW", "TB", false);
        s.writeBool("VIEW", "AB", false);
        s.writeBool("VIEW", "FP", false);
        s.writeInt("BansPositions", "ControlCount", 2);
        s.writeString("BansPositions", "Control1", "AddressBar");
        s.writeString("BansPositions", "Control2", "ToolBar1");
    }
    TRegform& e = editor();
    EXPECT_TRUE(e.ToolBar1->isHidden());
    EXPECT_TRUE(e.AddressBar->isHidden());
    EXPECT_TRUE(e.PageControl1->isHidden());
    e.ToolBarClick();
    EXPECT_FALSE(e.ToolBar1->isHidden());
    EXPECT_TRUE(settings().readBool("VIEW", "TB", false));
    e.AddressBarClick();
    QApplication::processEvents();
    EXPECT_LT(e.AddressBar->y(), e.ToolBar1->y()); // the remembered band order
    e.FunctionPanelClick();
    EXPECT_FALSE(e.PageControl1->isHidden());
    form.reset();

    settings().writeBool("OPTION", "SAVE", false);
    TRegform& fresh = editor();
    EXPECT_FALSE(fresh.AddressBar->isHidden()); // not remembered without SAVE
    EXPECT_FALSE(fresh.PageControl1->isHidden());
}

TEST_F(RegformTest, ValueListRowsAndKeyInformation) {
    TRegform& e = editor();
    e.NavigateTo(
        QStringLiteral("HKEY_CURRENT_CONFIG\\System\\CurrentControlSet\\Control\\Print\\Printers"));
    ASSERT_EQ(e.ValueModel->rowCount(), 1);
    EXPECT_EQ(e.ValueModel->item(0, 0)->text(), QStringLiteral("(標準)"));
    EXPECT_EQ(e.ValueModel->item(0, 1)->text(), QStringLiteral("(値の設定なし)"));
    EXPECT_EQ(e.ValueModel->item(0, 2)->text(), QStringLiteral("文字列"));
    EXPECT_TRUE(form->statusPanel(2).startsWith(
        QStringLiteral("サブキーの数 : 0   値の数 : 0   最終書込日時 : ")));

    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\Desktop"));
    EXPECT_EQ(rowNames(e),
              (QStringList{QStringLiteral("ScreenSaveActive"), QStringLiteral("ScreenSaveTimeOut"),
                           QStringLiteral("TileWallpaper"), QStringLiteral("UserPreferencesMask"),
                           QStringLiteral("Wallpaper")}));
    EXPECT_EQ(e.ValueModel->item(3, 1)->text(), QStringLiteral("9E 3E 07 80 12 00 00 00 "));
    EXPECT_EQ(e.ValueModel->item(3, 2)->text(), QStringLiteral("バイナリ"));

    // Pending value selection after programmatic navigation; a name not found clears it.
    form->Label18 = QStringLiteral("Wallpaper");
    form->Label19 = QStringLiteral("1");
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\Desktop"));
    EXPECT_EQ(e.ListView1->currentIndex().data().toString(), QStringLiteral("Wallpaper"));
    EXPECT_EQ(form->Label19, QStringLiteral("1"));
    form->Label18 = QStringLiteral("NoSuchValue");
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\Mouse"));
    EXPECT_EQ(form->Label19, QStringLiteral("0"));
}

TEST_F(RegformTest, EverySelectionIsRecordedInTheAccessHistory) {
    settings().writeInt("OPTION", "HIS_3", 3);
    TRegform& e = editor();
    for (const char* k : {"HKEY_USERS", "HKEY_CURRENT_CONFIG", "HKEY_CLASSES_ROOT\\.txt"})
        e.NavigateTo(QString::fromUtf8(k));
    ASSERT_EQ(e.ListView4->topLevelItemCount(), 3);
    EXPECT_EQ(e.ListView4->topLevelItem(0)->text(1), QStringLiteral("HKEY_CLASSES_ROOT\\.txt"));
    EXPECT_EQ(e.ListView4->topLevelItem(0)->text(0).size(), 19); // yyyy/mm/dd hh:nn:ss

    e.PauseHistoryClick(); // recording paused, and remembered
    EXPECT_EQ(form->statusPanel(1), QStringLiteral("履歴OFF"));
    EXPECT_TRUE(settings().readBool("VIEW", "STOP", false));
    e.NavigateTo(QStringLiteral("HKEY_USERS\\.DEFAULT"));
    EXPECT_EQ(e.ListView4->topLevelItem(0)->text(1), QStringLiteral("HKEY_CLASSES_ROOT\\.txt"));
}

TEST_F(RegformTest, ExpandAllAndCollapseAllAskFirst) {
    TRegform& e = editor();
    e.NavigateTo(QStringLiteral("HKEY_CLASSES_ROOT\\txtfile"));
    dialogs.answers = {MsgAnswer::Cancel};
    e.ExpandAllClick();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("確認"));
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(
        QStringLiteral("HKEY_CLASSES_ROOT\\txtfile 以下のサブキーをすべて展開します。")));
    QTreeWidgetItem* node = e.TreeView1->currentItem();
    QTreeWidgetItem* shell = childNamed(node, QStringLiteral("shell"));
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(shell->childCount(), 0);

    dialogs.answers = {MsgAnswer::Ok};
    e.ExpandAllClick();
    ASSERT_EQ(shell->childCount(), 1);
    EXPECT_TRUE(shell->child(0)->isExpanded());
    EXPECT_EQ(shell->child(0)->child(0)->text(0), QStringLiteral("command"));

    dialogs.answers = {MsgAnswer::Ok};
    e.CollapseAllClick();
    EXPECT_EQ(dialogs.shown.back().text,
              QStringLiteral(
                  "レジストリツリーをすべて折り畳みます。\n\n折り畳みを実行してよろしいですか。"));
    EXPECT_FALSE(node->isExpanded());
}

TEST_F(RegformTest, PanelListsAreShownFromTheViewMenu) {
    TRegform& e = editor();
    e.FunctionPanelClick(); // hidden
    EXPECT_TRUE(e.PageControl1->isHidden());
    EXPECT_FALSE(settings().readBool("VIEW", "FP", true));
    e.showPanelTab(2);
    EXPECT_FALSE(e.PageControl1->isHidden());
    EXPECT_EQ(e.PageControl1->currentWidget(), e.ListView4);
    EXPECT_TRUE(settings().readBool("VIEW", "FP", false));
    e.showPanelTab(3); // the holder's page holds its clear link and the list
    EXPECT_TRUE(e.PageControl1->currentWidget()->isAncestorOf(e.ListView5));
    EXPECT_TRUE(e.ListView5->isVisible());
    e.showPanelTab(1);
    EXPECT_TRUE(e.ListView3->isVisible());
}

namespace {
// Counts how often a widget is shown.
class ShowCounter : public QObject {
public:
    int shows = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show)
            ++shows;
        return false;
    }
};
} // namespace

TEST_F(RegformTest, TheWaitingPanelShowsWhileExpandingAndGoesAwayOnEveryWayOut) {
    TRegform& e = editor();
    ShowCounter counter;
    e.Panel1->installEventFilter(&counter);
    QTreeWidgetItem* hklm = e.TreeView1->topLevelItem(2);
    hklm->setExpanded(true);
    EXPECT_EQ(counter.shows, 1);
    EXPECT_TRUE(e.Panel1->isHidden());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // A key that cannot be opened: the box, and still no panel or hourglass left behind.
    e.NavigateTo(QStringLiteral("HKEY_LOCAL_MACHINE\\SECURITY"));
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("アクセスエラー"));
    EXPECT_TRUE(e.Panel1->isHidden());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // With ACCESS off the panel is not shown, the hourglass still is (and goes).
    settings().writeBool("OPTION", "ACCESS", false);
    const int before = counter.shows;
    e.TreeView1->topLevelItem(3)->setExpanded(true);
    EXPECT_EQ(counter.shows, before);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
