// The editor window's key and value commands: what each writes, what its undo entry takes
// back, and the refusals.
#include "core/platform/DriveMap.h"
#include "core/platform/DriveMap.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/ValueText.h"
#include "gui/editor/Regform.h"
#include "gui/valueedit/DwordEdit.h"
#include "gui/valueedit/StringEdit.h"
#include "support/WindowTest.h"

#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardItemModel>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <fstream>

using namespace klv;

namespace {

// The values of a key and its subkeys' names, for before/after comparisons.
std::string stateOf(const std::string& path) {
    TRegistry reg;
    std::string out;
    if (!reg.OpenKeyForReading(path))
        return "(none)";
    // Values taken back come again at the end of the enumeration: compare them by name.
    std::vector<std::string> values;
    for (const RawValue& v : reg.ReadRawValues())
        values.push_back(v.name.bytes + "=" + std::to_string(v.type) + ":" + v.data + ";");
    std::sort(values.begin(), values.end());
    for (const std::string& v : values)
        out += v;
    std::vector<std::string> keys;
    reg.ListSubKeys(keys);
    for (const std::string& k : keys)
        out += "[" + k + "]" + stateOf(path + "\\" + k);
    return out;
}

class RegformOperationsTest : public test::WindowTest {
protected:
    RegformOperationsTest() {
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKey("\\Ops\\sub", true));
        reg.WriteString("s", "text");
        EXPECT_TRUE(reg.OpenKey("\\Ops", true));
        reg.WriteInteger("d", 5);
        reg.WriteString("x", "1");
        reg.WriteString("y", "2");
    }
    ~RegformOperationsTest() override { ValueDialog::setRunnerForTesting({}); }

    TRegform& window() {
        if (!form) {
            start();
            // REGEDIT.EXE for the export-first deletion: this build's klovreg.
            ensureRegistryPrograms(systemFolder(), KLOVREG_PATH);
        }
        TRegform& e = *form->editorWindows().front();
        e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Ops"));
        return e;
    }
    void undoNewest(TRegform& e) {
        ASSERT_FALSE(e.undoLog().entries().empty());
        e.undoLog().undo(0);
    }
    static int rowOf(TRegform& e, const QString& name) {
        for (int r = 0; r < e.ValueModel->rowCount(); ++r)
            if (e.ValueModel->item(r, 0)->text() == name)
                return r;
        return -1;
    }
};

} // namespace

TEST_F(RegformOperationsTest, NewKeysAndValuesAreTakenBackByTheirUndo) {
    TRegform& e = window();
    const std::string before = stateOf("\\Ops");

    dialogs.inputs.push_back(QStringLiteral("a\\b"));
    e.NewKeyClick();
    TRegistry reg;
    EXPECT_TRUE(reg.KeyPresent("\\Ops\\a\\b"));
    EXPECT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER\\Ops\\a\\b"));
    EXPECT_EQ(e.undoLog().entries().front().keyPath, "\\Ops\\a");
    undoNewest(e);
    EXPECT_EQ(stateOf("\\Ops"), before);

    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Ops"));
    ValueDialog::setRunnerForTesting([](ValueDialog& d) {
        d.Edit1->setText(QStringLiteral("made"));
        static_cast<TStringEdit&>(d).Edit3->setText(QStringLiteral("新しい"));
        d.Button1Click();
        return 1;
    });
    e.NewValueClick(EditedKind::String);
    EXPECT_NE(rowOf(e, QStringLiteral("made")), -1);
    EXPECT_EQ(e.undoLog().entries().front().operation, sj("文字列値の作成"));
    undoNewest(e);
    EXPECT_EQ(stateOf("\\Ops"), before);

    // An existing key made again is no creation: nothing to take back.
    const std::size_t entries = e.undoLog().entries().size();
    dialogs.inputs.push_back(QStringLiteral("sub"));
    e.NewKeyClick();
    EXPECT_EQ(e.undoLog().entries().size(), entries);
    EXPECT_EQ(stateOf("\\Ops"), before);
}

TEST_F(RegformOperationsTest, ModifiedAndDeletedValuesComeBackWithTheirUndo) {
    TRegform& e = window();
    const std::string before = stateOf("\\Ops");
    e.ListView1->setCurrentIndex(e.ValueModel->index(rowOf(e, QStringLiteral("d")), 0));
    ValueDialog::setRunnerForTesting([](ValueDialog& d) {
        auto& dword = static_cast<TDwordEdit&>(d);
        EXPECT_EQ(dword.Edit3->text(), QStringLiteral("5"));
        dword.Edit3->setText(QStringLiteral("7"));
        dword.FieldChange(dword.Edit3);
        d.Button1Click();
        return 1;
    });
    e.ModifyClick();
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Ops", false));
    EXPECT_EQ(reg.ReadDword("d"), 7u);
    EXPECT_EQ(e.undoLog().entries().front().before, "5");
    EXPECT_EQ(e.undoLog().entries().front().after, "7");
    undoNewest(e);
    EXPECT_EQ(stateOf("\\Ops"), before);

    // Three rows, one question with the count, bottom up.
    e.RefreshListClick();
    QItemSelectionModel* sel = e.ListView1->selectionModel();
    for (const char* n : {"d", "x", "y"})
        sel->select(e.ValueModel->index(rowOf(e, QString::fromLatin1(n)), 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const std::size_t shown = dialogs.shown.size();
    e.DeleteValuesClick();
    ASSERT_EQ(dialogs.shown.size(), shown + 1);
    EXPECT_TRUE(dialogs.shown.back().text.startsWith(QStringLiteral("3個の値")));
    EXPECT_EQ(e.ValueModel->rowCount(), 0);
    ASSERT_GE(e.undoLog().entries().size(), 3u);
    EXPECT_EQ(e.undoLog().entries().front().valueName, "d"); // the top row went last
    for (int i = 0; i < 3; ++i)
        undoNewest(e);
    EXPECT_EQ(stateOf("\\Ops"), before);
}

TEST_F(RegformOperationsTest, ADeletedKeyComesBackAndReadOnlyKeysRefuse) {
    TRegform& e = window();
    const std::string before = stateOf("\\Ops");
    e.DeleteKeyClick(); // answered Yes
    TRegistry reg;
    EXPECT_FALSE(reg.KeyPresent("\\Ops"));
    undoNewest(e);
    EXPECT_EQ(stateOf("\\Ops"), before);

    e.RefreshClick(); // as the undo tab does after an undo
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Ops"));
    EXPECT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER\\Ops"));
    e.SelectedImageIndex = 2; // a key opened for reading only
    e.NewValueClick(EditedKind::String);
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("警告"));
    e.ListView1->setCurrentIndex(e.ValueModel->index(0, 0));
    e.DeleteValuesClick();
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("警告"));
    EXPECT_EQ(stateOf("\\Ops"), before);

    e.CopyKeyNameClick();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("HKEY_CURRENT_USER\\Ops"));
}

TEST_F(RegformOperationsTest, RenamesInPlaceAreTakenBackAndAClashKeepsTheOldName) {
    {
        TRegistry reg;
        ASSERT_TRUE(reg.CreateKey("\\Data\\a\\inner"));
        ASSERT_TRUE(reg.CreateKey("\\Data\\c"));
    }
    TRegform& e = window();
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Data\\a"));
    QTreeWidgetItem* node = e.TreeView1->currentItem();
    ASSERT_EQ(node->text(0), QStringLiteral("a"));
    const std::string before = stateOf("\\Data");
    node->setText(0, QStringLiteral("b")); // the in-place edit ends
    TRegistry reg;
    EXPECT_TRUE(reg.KeyPresent("\\Data\\b\\inner"));
    EXPECT_FALSE(reg.KeyPresent("\\Data\\a"));
    EXPECT_EQ(e.caption(), QStringLiteral("HKEY_CURRENT_USER\\Data\\b"));
    EXPECT_EQ(e.undoLog().entries().front().after, "\\Data\\b");
    undoNewest(e);
    EXPECT_EQ(stateOf("\\Data"), before);

    e.RefreshClick();
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Data\\a"));
    node = e.TreeView1->currentItem();
    const std::size_t entries = e.undoLog().entries().size();
    node->setText(0, QStringLiteral("c")); // a sibling has that name
    EXPECT_EQ(node->text(0), QStringLiteral("a"));
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("エラー"));
    EXPECT_EQ(e.undoLog().entries().size(), entries);
    EXPECT_EQ(stateOf("\\Data"), before);

    // Values: renamed and taken back; a clash keeps the old name.
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Ops"));
    const std::string values = stateOf("\\Ops");
    e.ValueModel->item(rowOf(e, QStringLiteral("x")), 0)->setText(QStringLiteral("z"));
    EXPECT_NE(rowOf(e, QStringLiteral("z")), -1);
    ASSERT_TRUE(reg.OpenKey("\\Ops", false));
    EXPECT_EQ(reg.ReadText("z"), "1");
    undoNewest(e);
    EXPECT_EQ(stateOf("\\Ops"), values);
    e.RefreshListClick();
    e.ValueModel->item(rowOf(e, QStringLiteral("x")), 0)->setText(QStringLiteral("y"));
    EXPECT_NE(rowOf(e, QStringLiteral("x")), -1);
    EXPECT_EQ(stateOf("\\Ops"), values);
}

TEST_F(RegformOperationsTest, TheContextMenusFollowTheSelection) {
    TRegform& e = window();
    auto item = [](QMenu* m, const char* name) -> QAction* {
        for (QAction* a : m->actions())
            if (a->objectName() == QLatin1String(name))
                return a;
        return nullptr;
    };
    QItemSelectionModel* sel = e.ListView1->selectionModel();
    for (const char* n : {"x", "y"})
        sel->select(e.ValueModel->index(rowOf(e, QString::fromLatin1(n)), 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    e.prepareValuePopupForTesting();
    EXPECT_FALSE(item(e.ValuePopup, "PopupModify")->isVisible());
    EXPECT_EQ(item(e.ValuePopup, "PopupDelete")->text(),
              QStringLiteral("選択しているすべての値を削除(&D)"));

    // One row: its commands are back. Its data names no file.
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Ops\\sub"));
    sel->clearSelection();
    e.ListView1->setCurrentIndex(e.ValueModel->index(rowOf(e, QStringLiteral("s")), 0));
    e.prepareValuePopupForTesting();
    EXPECT_TRUE(item(e.ValuePopup, "PopupModify")->isVisible());
    EXPECT_TRUE(item(e.ValuePopup, "PopupRename")->isEnabled());
    e.OpenAsFileClick();
    EXPECT_TRUE(dialogs.shown.back().text.endsWith(QStringLiteral("\n\ntext")));
    EXPECT_TRUE(item(e.ValuePopup, "PopupQuickView")->isVisible());
    const std::size_t shown = dialogs.shown.size();
    e.QuickViewerClick();
    EXPECT_EQ(dialogs.shown.size(), shown + 1); // the same error
    // A file on drive C: the quick viewer, or without one the desktop, shows it.
    const auto driveC = DriveMap(systemFolder()).folder('C');
    ASSERT_TRUE(driveC);
    std::ofstream(*driveC / "view.txt") << "x";
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Ops\\sub", false));
        reg.WriteString("s", "C:\\VIEW.TXT");
    }
    e.RefreshListClick();
    e.ListView1->setCurrentIndex(e.ValueModel->index(rowOf(e, QStringLiteral("s")), 0));
    e.QuickViewerClick();
    ASSERT_EQ(dialogs.opened.size(), 1);
    EXPECT_TRUE(dialogs.opened[0].endsWith(QStringLiteral("view.txt")));

    e.TreeView1->setCurrentItem(e.TreeView1->topLevelItem(1));
    e.prepareTreePopupForTesting();
    EXPECT_FALSE(item(e.TreePopup, "TreeDelete")->isEnabled());
    EXPECT_FALSE(item(e.TreePopup, "TreeRename")->isEnabled());
}
