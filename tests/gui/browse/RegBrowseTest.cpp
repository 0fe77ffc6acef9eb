// The registry browse dialog: the roots it offers, the path it hands back, and keys it may not
// open.
#include "gui/browse/RegBrowse.h"
#include "core/registry/Registry.h"
#include "support/WindowTest.h"

#include <QLineEdit>
#include <QTreeWidget>

using namespace klv;

namespace {

class RegBrowseTest : public test::WindowTest {
protected:
    static QTreeWidgetItem* child(QTreeWidgetItem* n, const QString& name) {
        for (int i = 0; i < n->childCount(); ++i)
            if (n->child(i)->text(0) == name)
                return n->child(i);
        return nullptr;
    }
};

} // namespace

TEST_F(RegBrowseTest, HandsBackThePathOfTheChosenKeyOrNothing) {
    TForm1& f = start();
    {
        TRegBrowse d(f);
        EXPECT_EQ(d.TreeView1->topLevelItemCount(), f.rootCount());
        d.Button1Click(); // nothing selected: the path field as it stands
        EXPECT_EQ(f.Label10, QStringLiteral("HKEY_CLASSES_ROOT"));
    }
    {
        TRegBrowse d(f);
        EXPECT_TRUE(f.Label10.isEmpty());
        QTreeWidgetItem* hkcu = d.TreeView1->topLevelItem(1);
        hkcu->setExpanded(true);
        QTreeWidgetItem* panel = child(hkcu, QStringLiteral("Control Panel"));
        ASSERT_NE(panel, nullptr);
        d.TreeView1->setCurrentItem(panel);
        EXPECT_EQ(d.Edit1->text(), QStringLiteral("HKEY_CURRENT_USER\\Control Panel"));
        d.Button1Click();
        EXPECT_EQ(f.Label10, QStringLiteral("HKEY_CURRENT_USER\\Control Panel"));
    }
    {
        TRegBrowse d(f);
        d.TreeView1->setCurrentItem(d.TreeView1->topLevelItem(2));
        d.Button2Click();
        EXPECT_TRUE(f.Label10.isEmpty());
    }
    {
        TRegBrowse d(f);
        d.show();
        d.close(); // the close box
        EXPECT_TRUE(f.Label10.isEmpty());
    }
}

TEST_F(RegBrowseTest, ARootNameShowsThatRootAlone) {
    TForm1& f = start();
    f.Label11 = QStringLiteral("HKEY_USERS");
    TRegBrowse d(f);
    ASSERT_EQ(d.TreeView1->topLevelItemCount(), 1);
    EXPECT_EQ(d.TreeView1->topLevelItem(0)->text(0), QStringLiteral("HKEY_USERS"));
    f.Label11 = QStringLiteral("All");
}

TEST_F(RegBrowseTest, AKeyThatCannotBeOpenedForWritingShowsNoChildren) {
    TForm1& f = start();
    {
        TRegistry reg;
        ASSERT_TRUE(reg.CreateKey("\\Locked\\inner"));
        ASSERT_TRUE(reg.OpenKey("\\Locked", false));
        reg.store().setAccess(*reg.CurrentKeyId(), KeyAccess::ReadOnly);
    }
    TRegBrowse d(f);
    QTreeWidgetItem* hkcu = d.TreeView1->topLevelItem(1);
    hkcu->setExpanded(true);
    QTreeWidgetItem* locked = child(hkcu, QStringLiteral("Locked"));
    ASSERT_NE(locked, nullptr);
    EXPECT_EQ(locked->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    const std::size_t before = dialogs.shown.size();
    locked->setExpanded(true);
    ASSERT_EQ(dialogs.shown.size(), before + 1);
    EXPECT_EQ(dialogs.shown.back().text, QStringLiteral("キーへのアクセスが拒否されました。"));
    EXPECT_EQ(locked->childCount(), 0);
    EXPECT_EQ(locked->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
}
