// The favorites and access history tabs as a user meets them: adding, editing and moving
// favorites, the limits, going to a location that may be gone, history along the way, and two
// windows sharing the lists through their files.
#include "core/lists/ListFile.h"
#include "core/platform/Folders.h"
#include "core/registry/Registry.h"
#include "gui/editor/Regform.h"
#include "gui/widgets/TextBridge.h"
#include "support/WindowTest.h"

#include <QAction>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>

using namespace klv;

namespace {

class RegformListsTest : public test::WindowTest {
protected:
    RegformListsTest() {
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKey("\\Fav\\A\\Deep", true));
        EXPECT_TRUE(reg.OpenKey("\\Fav\\B", true));
    }
    TRegform& window() {
        if (!form)
            start();
        return *form->editorWindows().front();
    }
    void addFavorite(TRegform& e, const QString& key, const QString& comment) {
        e.NavigateTo(key);
        dialogs.inputs.push_back(comment);
        e.AddFavoriteClick();
    }
    static QStringList texts(QTreeWidget* list, int column) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(column);
        return out;
    }
};

const QString kA = QStringLiteral("HKEY_CURRENT_USER\\Fav\\A");
const QString kB = QStringLiteral("HKEY_CURRENT_USER\\Fav\\B");
const QString kDeep = QStringLiteral("HKEY_CURRENT_USER\\Fav\\A\\Deep");

} // namespace

TEST_F(RegformListsTest, FavoritesAreAddedEditedMovedAndLimited) {
    settings().writeInt("OPTION", "HIS_1", 3);
    TRegform& e = window();
    addFavorite(e, kA, QStringLiteral("エー"));
    addFavorite(e, kB, QString());
    dialogs.inputs.push_back(std::nullopt); // cancelled: nothing added
    e.AddFavoriteClick();
    EXPECT_EQ(texts(e.ListView3, 0), (QStringList{kB, kA}));
    EXPECT_EQ(texts(e.ListView3, 1), (QStringList{QString(), QStringLiteral("エー")}));
    EXPECT_EQ(loadListFile(programFolder() / "FAVORITE.DAT").size(), 2u);
    addFavorite(e, kDeep, QStringLiteral("1"));
    addFavorite(e, kA, QStringLiteral("2")); // the fourth: the oldest goes
    EXPECT_EQ(texts(e.ListView3, 0), (QStringList{kA, kDeep, kB}));

    // Comments are edited on the favorites tab only.
    e.showPanelTab(1);
    e.ListView3->setCurrentItem(e.ListView3->topLevelItem(2));
    dialogs.inputs.push_back(QStringLiteral("ビー"));
    e.EditCommentClick();
    EXPECT_EQ(e.ListView3->topLevelItem(2)->text(1), QStringLiteral("ビー"));
    EXPECT_EQ(loadListFile(programFolder() / "FAVORITE.DAT")[2].subItems[0],
              toCp932(QStringLiteral("ビー")).value());

    // Moves: the last does not go down, the first not up; a move is saved at closing.
    e.MoveFavoriteClick(+1);
    EXPECT_EQ(texts(e.ListView3, 0), (QStringList{kA, kDeep, kB}));
    e.MoveFavoriteClick(-1);
    EXPECT_EQ(texts(e.ListView3, 0), (QStringList{kA, kB, kDeep}));
    EXPECT_EQ(e.ListView3->currentItem()->text(0), kB);
    e.ListView3->setCurrentItem(e.ListView3->topLevelItem(0));
    e.MoveFavoriteClick(-1);
    EXPECT_EQ(texts(e.ListView3, 0), (QStringList{kA, kB, kDeep}));
    EXPECT_NE(loadListFile(programFolder() / "FAVORITE.DAT")[1].caption,
              toCp932(kB).value()); // not yet written
    e.parentWidget()->close();
    EXPECT_EQ(loadListFile(programFolder() / "FAVORITE.DAT")[1].caption, toCp932(kB).value());
}

TEST_F(RegformListsTest, GoingToALocationThatIsGoneOrThere) {
    TRegform& e = window();
    addFavorite(e, kDeep, QString());
    addFavorite(e, kB, QString());
    TRegistry reg;
    ASSERT_TRUE(reg.DeleteKey("\\Fav\\B"));
    e.ListView3->setCurrentItem(e.ListView3->topLevelItem(0));
    dialogs.answers.push_back(MsgAnswer::No);
    e.GoToFavoriteClick();
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("削除の確認"));
    EXPECT_EQ(e.ListView3->topLevelItemCount(), 2);
    dialogs.answers.push_back(MsgAnswer::Yes);
    e.GoToFavoriteClick();
    EXPECT_EQ(texts(e.ListView3, 0), (QStringList{kDeep}));

    // Going there passes every level, each with its history row; paused, none.
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER"));
    const int before = e.ListView4->topLevelItemCount();
    e.ListView3->setCurrentItem(e.ListView3->topLevelItem(0));
    e.GoToFavoriteClick();
    EXPECT_EQ(e.caption(), kDeep);
    EXPECT_GE(e.ListView4->topLevelItemCount(), before + 3);
    EXPECT_EQ(e.ListView4->topLevelItem(0)->text(1), kDeep);
    // Names are matched exactly: a location spelled in other letter cases stops short.
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER"));
    e.ListView3->topLevelItem(0)->setText(0, QStringLiteral("HKEY_CURRENT_USER\\fav\\a"));
    e.ListView3->setCurrentItem(e.ListView3->topLevelItem(0));
    e.GoToFavoriteClick();
    EXPECT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER"));

    e.PauseHistoryClick();
    const int paused = e.ListView4->topLevelItemCount();
    e.ListView4->setCurrentItem(e.ListView4->topLevelItem(paused - 1));
    e.GoToHistoryClick();
    EXPECT_EQ(e.ListView4->topLevelItemCount(), paused);
}

TEST_F(RegformListsTest, WindowsShareTheListsAndThePopupFollowsTheTab) {
    TRegform& first = window();
    addFavorite(first, kA, QStringLiteral("shared"));
    form->N1Click();
    TRegform& second = *form->editorWindows().front();
    ASSERT_NE(&first, &second);
    form->editorActivated(&second);
    EXPECT_EQ(texts(second.ListView3, 0), (QStringList{kA}));

    const auto visible = [&](const char* name) {
        for (QAction* a : second.ListPopup->actions())
            if (a->objectName() == QLatin1String(name))
                return a->isVisible();
        return false;
    };
    second.showPanelTab(1);
    EXPECT_TRUE(visible("ListEditComment"));
    EXPECT_TRUE(visible("ListAddFavorite"));
    second.showPanelTab(2);
    EXPECT_FALSE(visible("ListEditComment"));
    EXPECT_FALSE(visible("ListAddFavorite"));
}
