// The value holder as a user meets it: copy, cut and paste with their undo entries restoring
// the registry exactly (a 1 MB binary, a text CP932 cannot hold, a type of its own), the
// holder's modes and flags, and two windows sharing it through VALUE.DAT.
#include "core/lists/PanelLists.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/registry/Registry.h"
#include "gui/editor/Regform.h"
#include "gui/editor/RegformRoles.h"
#include "support/WindowTest.h"

#include <QAction>
#include <QStandardItemModel>
#include <QTreeView>
#include <QTreeWidget>

using namespace klv;

namespace {

class RegformHolderTest : public test::WindowTest {
protected:
    RegformHolderTest() {
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKey("\\Src", true));
        reg.WriteString("", "default");
        reg.WriteString("s", "text");
        reg.WriteInteger("d", 255);
        std::string mega(1 << 20, '\0');
        for (std::size_t i = 0; i < mega.size(); ++i)
            mega[i] = static_cast<char>(i * 13);
        reg.WriteBinary("big", mega);
        reg.WriteRaw(RawValue{StoredName{"wide", false}, REG_SZ,
                              utf8ToUtf16("値🍣") + std::string(2, '\0'), true});
        reg.WriteRaw(RawValue{StoredName{"q", false}, 11, std::string(8, '\x02'), false});
        EXPECT_TRUE(reg.OpenKey("\\Dst", true));
        reg.WriteString("s", "old");
    }
    TRegform& window() {
        if (!form)
            start();
        return *form->editorWindows().front();
    }
    static std::vector<RawValue> values(const std::string& key) {
        TRegistry reg;
        return reg.OpenKey(key, false) ? reg.ReadRawValues() : std::vector<RawValue>();
    }
    static void select(TRegform& e, const QStringList& names) {
        e.ListView1->clearSelection();
        QItemSelectionModel* sel = e.ListView1->selectionModel();
        for (int r = 0; r < e.ValueModel->rowCount(); ++r)
            if (names.contains(e.ValueModel->item(r, 0)->data(regform::kValueNameRole).toString()))
                sel->select(e.ValueModel->index(r, 0),
                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        e.ListView1->setFocus();
    }
    static QStringList holderNames(TRegform& e) {
        QStringList out;
        for (int i = 0; i < e.ListView5->topLevelItemCount(); ++i)
            out << e.ListView5->topLevelItem(i)->text(0);
        return out;
    }
};

} // namespace

TEST_F(RegformHolderTest, CopiesGoInReverseOrderByTheMode) {
    TRegform& e = window();
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Src"));
    select(e, {QStringLiteral("s"), QStringLiteral("d"), QString()});
    e.CopyValueClick();
    ASSERT_EQ(e.ListView5->topLevelItemCount(), 3);
    // The list shows (標準), d, s: the last row comes first.
    EXPECT_EQ(holderNames(e), (QStringList{QStringLiteral("s"), QStringLiteral("d"), QString()}));
    EXPECT_EQ(e.ListView5->topLevelItem(1)->text(1), QStringLiteral("255 (0x000000FF)"));
    EXPECT_EQ(e.ListView5->topLevelItem(0)->text(3), QStringLiteral("はい"));
    EXPECT_EQ(e.ListView5->topLevelItem(0)->text(5), QStringLiteral("HKEY_CURRENT_USER\\Src"));
    EXPECT_EQ(loadListFile(programFolder() / "VALUE.DAT").size(), 3u);

    select(e, {QStringLiteral("s")});
    e.CopyValueClick(); // MODE 0: the holder holds this copy only
    EXPECT_EQ(holderNames(e), QStringList{QStringLiteral("s")});
    settings().writeInt("VH", "MODE", 1);
    e.CopyValueClick();
    EXPECT_EQ(e.ListView5->topLevelItemCount(), 2);
    settings().writeInt("VH", "MODE", 0);
    e.ListView1->clearSelection();
    e.ListView1->setCurrentIndex({});
    e.CopyValueClick();
    EXPECT_EQ(e.ListView5->topLevelItemCount(), 0);

    // Another window sees the holder through its file.
    select(e, {QStringLiteral("d")});
    e.CopyValueClick();
    form->N1Click();
    TRegform& second = *form->editorWindows().front();
    form->editorActivated(&second);
    EXPECT_EQ(holderNames(second), QStringList{QStringLiteral("d")});
}

TEST_F(RegformHolderTest, CutPasteAndTheirUndoRestoreEveryValueExactly) {
    TRegform& e = window();
    const auto src = values("\\Src");
    const auto dst = values("\\Dst");
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Src"));
    select(e, {QString(), QStringLiteral("s"), QStringLiteral("big"), QStringLiteral("wide"),
               QStringLiteral("q"), QStringLiteral("d")});
    e.CutValueClick();
    EXPECT_TRUE(values("\\Src").empty());
    EXPECT_EQ(e.ListView5->topLevelItemCount(), 6);
    // The default value's entry has no name and its own data.
    bool sawDefault = false;
    for (const UndoEntry& u : e.undoLog().entries())
        if (u.valueName.empty() && cp932ToUtf8(u.operation) == "切り取り - 文字列") {
            EXPECT_EQ(u.before, "default");
            sawDefault = true;
        }
    EXPECT_TRUE(sawDefault);

    // Paste into another key: every value as it was; "s" there is replaced and listed once.
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Dst"));
    e.PasteValueClick();
    auto pasted = values("\\Dst");
    EXPECT_EQ(pasted.size(), src.size());
    for (const RawValue& v : src)
        EXPECT_NE(std::find(pasted.begin(), pasted.end(), v), pasted.end()) << v.name.bytes;
    int rowsNamedS = 0;
    for (int r = 0; r < e.ValueModel->rowCount(); ++r)
        rowsNamedS += e.ValueModel->item(r, 0)->text() == QStringLiteral("s");
    EXPECT_EQ(rowsNamedS, 1);

    // Undoing everything, newest first, gives both keys back exactly.
    while (!e.undoLog().entries().empty())
        e.undoLog().undo(0);
    EXPECT_EQ(values("\\Dst"), dst);
    EXPECT_EQ(values("\\Src").size(), src.size());
    for (const RawValue& v : src) {
        const auto back = values("\\Src");
        EXPECT_NE(std::find(back.begin(), back.end(), v), back.end()) << v.name.bytes;
    }
}

TEST_F(RegformHolderTest, FlagsDecideWhatAPasteWritesAndClearEmptiesTheHolder) {
    TRegform& e = window();
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Src"));
    select(e, {QStringLiteral("s"), QStringLiteral("d")});
    e.CopyValueClick();
    e.HolderAllClick(false);
    e.NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Dst"));
    e.PasteValueClick();
    EXPECT_EQ(values("\\Dst").size(), 1u); // nothing pasted
    e.ListView5->setCurrentItem(e.ListView5->topLevelItem(0));
    e.HolderToggleClick();
    EXPECT_EQ(e.ListView5->topLevelItem(0)->text(3), QStringLiteral("はい"));
    dialogs.answers.push_back(MsgAnswer::Yes);
    e.HolderDeleteUnflaggedClick();
    EXPECT_EQ(e.ListView5->topLevelItemCount(), 1);
    e.PasteValueClick(); // "s" only, over the one there
    ASSERT_EQ(values("\\Dst").size(), 1u);
    EXPECT_EQ(values("\\Dst")[0].data, std::string("text\0", 5));

    dialogs.answers.push_back(MsgAnswer::No);
    e.HolderClearClick();
    EXPECT_EQ(e.ListView5->topLevelItemCount(), 1);
    dialogs.answers.push_back(MsgAnswer::Yes);
    e.HolderClearClick();
    EXPECT_EQ(e.ListView5->topLevelItemCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(programFolder() / "VALUE.DAT"));
    EXPECT_FALSE(e.findChild<QAction*>(QStringLiteral("PasteValue"))->isEnabled());
}
