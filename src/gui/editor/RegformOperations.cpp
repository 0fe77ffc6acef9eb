// The editor window's commands that change keys and values or copy their names and data:
// new key, new values, modify, delete key and values, copy to the clipboard. Each hands its
// entry to the undo log.
#include "gui/editor/Regform.h"

#include "core/platform/Encoding.h"
#include "core/registry/KeyBrowser.h"
#include "core/registry/RegistryError.h"
#include "core/registry/ValueText.h"
#include "gui/editor/RegformRoles.h"
#include "gui/valueedit/BinaryEdit.h"
#include "gui/valueedit/DwordEdit.h"
#include "gui/valueedit/StringEdit.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/TextBridge.h"

#include <QApplication>
#include <QClipboard>
#include <QListView>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>

namespace klv {

using namespace regform;

namespace {

// The caption's key path split into the root's name and the sub-path below it.
struct Location {
    std::string root;
    std::string subPath;
    std::optional<RootHandle> handle;
};

std::optional<Location> locationOf(const QString& caption) {
    const auto text = toCp932(caption);
    if (!text)
        return std::nullopt;
    const SplitKeyPath split = splitKeyPath(*text);
    return Location{std::string(split.rootName), std::string(split.subPath), split.root};
}

void warn(QWidget* parent, const QString& text) {
    DialogService::instance().message(parent, QStringLiteral("警告"), text, MsgIcon::Warning,
                                      MsgButtons::Ok);
}

const char* const kCreatedOps[] = {"文字列値の作成", "拡張文字列値の作成", "数値の作成",
                                   "バイナリ値の作成", "マルチ文字列値の作成"};
const char* const kChangedOps[] = {"文字列値の変更", "拡張文字列値の変更", "数値の変更",
                                   "バイナリ値の変更", "マルチ文字列値の変更"};

} // namespace

// --- helpers ----------------------------------------------------------------------------------

void TRegform::logChange(const char* operation, const std::string& valueName,
                         const std::string& before, const std::string& after,
                         const std::string& keyPath) {
    const auto at = locationOf(caption_);
    if (!at)
        return;
    UndoEntry e;
    e.operation = sj(operation);
    e.root = at->root;
    e.keyPath = keyPath;
    e.valueName = valueName;
    e.before = before;
    e.after = after;
    AddUndo(std::move(e));
}

std::vector<int> TRegform::selectedValueRows() const {
    std::vector<int> rows;
    for (const QModelIndex& i : ListView1->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    if (rows.empty() && ListView1->currentIndex().isValid())
        rows.push_back(ListView1->currentIndex().row());
    return rows;
}

void TRegform::refreshValueList() {
    if (const auto at = locationOf(caption_); at && at->handle)
        fillValueList(*at->handle, at->subPath, false);
}

// --- new key ----------------------------------------------------------------------------------

void TRegform::NewKeyClick() {
    QTreeWidgetItem* node = TreeView1->currentItem();
    if (!node || readOnlyMode_)
        return;
    const std::optional<QString> name = DialogService::instance().inputText(
        this, QStringLiteral("キーの新規作成"), QStringLiteral("新規作成するキー名 :"), {});
    if (!name || name->isEmpty())
        return;
    const auto at = locationOf(caption_);
    const auto cpName = toCp932(*name);
    if (!at || !at->handle || !cpName) {
        showError(this,
                  QStringLiteral("キーの名前に、レジストリに書き込めない文字が含まれています。"));
        return;
    }
    const std::string path = at->subPath + "\\" + *cpName;
    // The undo takes back the first key this command makes: with a\b where a did not exist,
    // that is a with b below it, not b alone.
    std::string made; // empty: the key was there already, and its undo must not delete it
    try {
        TRegistry reg;
        reg.RootKey(*at->handle);
        std::string prefix = at->subPath;
        for (const std::string& part : navigationComponents(*cpName)) {
            prefix += "\\" + part;
            if (!reg.KeyPresent(prefix)) {
                made = prefix;
                break;
            }
        }
        if (!reg.CreateKey(path)) {
            showError(this, QStringLiteral("レジストリキーの新規作成が拒否されました。"));
            return;
        }
    } catch (const RegistryError& e) {
        showError(this, QStringLiteral("レジストリキーの新規作成が拒否されました。\n") +
                            toQString(e.fullText()));
        return;
    }
    const QString newCaption = caption_ + QLatin1Char('\\') + *name;
    RefreshClick();
    NavigateTo(newCaption);
    if (!made.empty())
        logChange("キーの作成", {}, {}, {}, made);
}

// --- new and modified values --------------------------------------------------------------------

namespace {
std::unique_ptr<ValueDialog> dialogFor(EditedKind kind, FrameHost& frame, QWidget* parent) {
    switch (kind) {
    case EditedKind::String:
        return std::make_unique<TStringEdit>(frame, parent);
    case EditedKind::ExpandString:
        return std::make_unique<TExpandStringEdit>(frame, parent);
    case EditedKind::Integer:
        return std::make_unique<TDwordEdit>(frame, parent);
    case EditedKind::MultiString:
        return std::make_unique<TMultiStringEdit>(frame, parent);
    case EditedKind::Binary:
        return std::make_unique<TBinaryEdit>(frame, parent);
    }
    return nullptr;
}

// The new data text as the list shows it, from the editor's result fields.
std::string resultDataText(EditedKind kind, FrameHost& f) {
    switch (kind) {
    case EditedKind::Integer:
        return toCp932(f.Label2 + QStringLiteral(" (0x") + f.Label9 + QStringLiteral(")"))
            .value_or(std::string());
    case EditedKind::MultiString:
        return toCp932(f.Memo1).value_or(std::string());
    default:
        return toCp932(f.Label2).value_or(std::string());
    }
}
} // namespace

void TRegform::NewValueClick(EditedKind kind) {
    if (readOnlyMode_)
        return;
    if (SelectedImageIndex == 2) {
        warn(this, QStringLiteral("フルアクセス権がないため、読み取り専用で開いていますので、値の新"
                                  "規作成はできません。"));
        return;
    }
    std::unique_ptr<ValueDialog> d = dialogFor(kind, form1_, this);
    form1_.Edit1 = caption_;
    form1_.Label3 = QStringLiteral("NO");
    d->setUp(true, QStringLiteral("(新規値)"), true);
    if (kind == EditedKind::Integer)
        d->setDataText(QStringLiteral("0"));
    ValueDialog::run(*d);
    const bool committed = form1_.Label3 == QStringLiteral("YES");
    form1_.Label3 = QStringLiteral("NO");
    if (!committed)
        return;
    refreshValueList();
    const auto at = locationOf(caption_);
    logChange(kCreatedOps[static_cast<int>(kind)], toCp932(form1_.Label5).value_or(std::string()),
              {}, {}, at ? at->subPath : std::string());
}

void TRegform::ModifyClick() {
    const std::vector<int> rows = selectedValueRows();
    if (rows.empty())
        return;
    const int row = rows.front();
    const QStandardItem* nameItem = ValueModel->item(row, 0);
    const QString kindName = ValueModel->item(row, 2)->text();
    const QString oldText = ValueModel->item(row, 1)->data(kDataTextRole).toString();
    const std::optional<ValueKind> kind = kindFromName(toCp932(kindName).value_or(std::string()));
    if (!kind || !nameItem->data(kEditableRole).toBool())
        return;
    const std::optional<EditedKind> editor = editedKindOf(*kind);
    if (!editor)
        return;
    const EditedKind edited = *editor;
    // A binary value without bytes opens no editor.
    if (edited == EditedKind::Binary &&
        parseHexText(toCp932(oldText).value_or(std::string())).empty())
        return;
    std::unique_ptr<ValueDialog> d = dialogFor(edited, form1_, this);
    const QString valueName = nameItem->data(kValueNameRole).toString();
    const bool isDefault = valueName.isEmpty();
    form1_.Edit1 = caption_;
    form1_.Label3 = QStringLiteral("NO");
    d->setUp(false, valueName, !readOnlyMode_ && SelectedImageIndex != 2);
    const bool noData = toCp932(oldText) == std::optional(noValueDataText());
    d->setDataText(isDefault && noData ? QString() : oldText);
    ValueDialog::run(*d);
    const bool committed = form1_.Label3 == QStringLiteral("YES");
    form1_.Label3 = QStringLiteral("NO");
    if (!committed)
        return;
    const std::string before = toCp932(oldText).value_or(std::string());
    std::string after = resultDataText(edited, form1_);
    if (edited == EditedKind::Binary) {
        // The binary editor leaves the bytes in the registry only: read them back.
        TRegistry reg;
        if (const auto at = locationOf(caption_); at && at->handle) {
            reg.RootKey(*at->handle);
            if (reg.OpenKeyAnyAccess(at->subPath, false))
                after = hexText(reg.ReadBinary(toCp932(valueName).value_or(std::string())));
        }
    }
    const auto at = locationOf(caption_);
    const bool integer = edited == EditedKind::Integer;
    logChange(kChangedOps[static_cast<int>(edited)], toCp932(valueName).value_or(std::string()),
              integer ? before.substr(0, before.find(' ')) : before,
              integer ? after.substr(0, after.find(' ')) : after, at ? at->subPath : std::string());
    refreshValueList();
}

// --- delete -------------------------------------------------------------------------------------

void TRegform::DeleteClick() {
    if (ListView1->hasFocus() || ValueIcons->hasFocus())
        DeleteValuesClick();
    else
        DeleteKeyClick();
}

void TRegform::DeleteKeyClick() {
    QTreeWidgetItem* node = TreeView1->currentItem();
    if (!node || !node->parent() || readOnlyMode_ || SelectedImageIndex == 2)
        return;
    const QString path = keyPathOf(node);
    if (DialogService::instance().message(
            this, QStringLiteral("キーの削除の確認"),
            QStringLiteral("削除するキー : ") + path +
                QStringLiteral(
                    "\n\nこのキーを削除してよろしいですか？\nこのキーの下にサブキーがある"
                    "場合も、すべて削除されます。"),
            MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    const auto at = locationOf(path);
    if (!at || !at->handle)
        return;
    if (!DeleteKeyWithUndo(at->root, at->subPath)) {
        recoverIfGone(*at->handle, at->subPath);
        return;
    }
    QTreeWidgetItem* parent = node->parent();
    delete node;
    TreeView1->setCurrentItem(parent);
}

void TRegform::DeleteValuesClick() {
    const std::vector<int> rows = selectedValueRows();
    if (rows.empty() || readOnlyMode_)
        return;
    if (SelectedImageIndex == 2) {
        warn(this, QStringLiteral("フルアクセス権がないため、読み取り専用で開いていますので、値の削"
                                  "除はできません。"));
        return;
    }
    const bool one = rows.size() == 1;
    const QString question =
        one ? caption_ + QStringLiteral("\n\n削除する値 : ") +
                  ValueModel->item(rows[0], 0)->text() +
                  QStringLiteral("\nこの値を削除してよろしいですか？")
            : QString::number(rows.size()) +
                  QStringLiteral(
                      "個の値を選択しています。これらすべての値を削除してよろしいですか？");
    if (DialogService::instance().message(
            this, one ? QStringLiteral("値の削除の確認") : QStringLiteral("複数の値の削除の確認"),
            question, MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    const auto at = locationOf(caption_);
    if (!at || !at->handle)
        return;
    TRegistry reg;
    reg.RootKey(*at->handle);
    if (!reg.OpenKeyAnyAccess(at->subPath, false)) {
        showAccessError();
        recoverIfGone(*at->handle, at->subPath);
        return;
    }
    // From the bottom up, so that the rows still to come keep their places.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        const int row = *it;
        const QString shownName = ValueModel->item(row, 0)->text();
        const auto name = toCp932(ValueModel->item(row, 0)->data(kValueNameRole).toString());
        const std::string data =
            toCp932(ValueModel->item(row, 1)->data(kDataTextRole).toString()).value_or("");
        const std::string kind = toCp932(ValueModel->item(row, 2)->text()).value_or("");
        bool deleted = false;
        try {
            deleted = name && reg.DeleteValue(*name);
        } catch (const RegistryError&) {
        }
        if (!deleted) {
            showError(this,
                      name && name->empty()
                          ? QStringLiteral("値の削除に失敗しました。他のアプリケーションが使用"
                                           "しているか、アクセス権限がない可能性があります。")
                          : QStringLiteral("値 ") + shownName +
                                QStringLiteral(" の削除に失敗しました。他のアプリケーションが"
                                               "使用しているか、アクセス権限がない可能性があり"
                                               "ます。"));
            continue;
        }
        ValueModel->removeRow(row);
        UndoEntry e;
        e.operation = sj("値の削除 - ") + kind;
        e.root = at->root;
        e.keyPath = at->subPath;
        e.valueName = *name;
        e.before = data;
        AddUndo(std::move(e));
    }
    reg.CloseKey();
}

// --- rename -------------------------------------------------------------------------------------

void TRegform::RenameClick() {
    if (readOnlyMode_)
        return;
    if (ListView1->hasFocus()) {
        const std::vector<int> rows = selectedValueRows();
        if (rows.empty())
            return;
        if (SelectedImageIndex == 2) {
            warn(this, QStringLiteral("フルアクセス権がないため、読み取り専用で開いていますので、名"
                                      "前や値の変更はできません。"));
            return;
        }
        QStandardItem* item = ValueModel->item(rows.front(), 0);
        if (item->data(kValueNameRole).toString().isEmpty()) {
            warn(this, QStringLiteral("標準値の名前変更は許可されていません。"));
            return;
        }
        ListView1->edit(item->index());
        return;
    }
    QTreeWidgetItem* node = TreeView1->currentItem();
    if (node && node->parent() && SelectedImageIndex != 2)
        TreeView1->editItem(node, 0);
}

void TRegform::TreeView1Edited(QTreeWidgetItem* node) {
    const QString oldName = node->data(0, kNameRole).toString();
    const QString newName = node->text(0);
    auto keepOld = [&](const QString& why) {
        const QSignalBlocker block(TreeView1);
        node->setText(0, oldName);
        if (!why.isEmpty())
            showError(this, why);
    };
    if (!node->parent() || readOnlyMode_ || node->data(0, kImageRole).toInt() == 2)
        return keepOld({});
    const auto at = locationOf(keyPathOf(node->parent()) + QLatin1Char('\\') + oldName);
    const auto cpName = toCp932(newName);
    if (!at || !at->handle || !cpName || cpName->empty() ||
        cp932Find(*cpName, "\\") != std::string_view::npos)
        return keepOld(QStringLiteral("その名前はキーの名前に使えません。"));
    const std::string newSub = at->subPath.substr(0, at->subPath.rfind('\\') + 1) + *cpName;
    TRegistry reg;
    reg.RootKey(*at->handle);
    // A key of that name would stay as it is and this one keep its name: say so.
    if (reg.KeyPresent(newSub))
        return keepOld(
            QStringLiteral("同じ名前のキーが既に存在するため、キー名を変更できません。"));
    try {
        reg.MoveKey(at->subPath, newSub, true);
    } catch (const RegistryError& e) {
        return keepOld(toQString(e.fullText()));
    }
    if (!reg.KeyPresent(newSub) || reg.KeyPresent(at->subPath))
        return keepOld(QStringLiteral("キー名を変更できませんでした。"));
    {
        const QSignalBlocker block(TreeView1);
        node->setData(0, kNameRole, newName);
    }
    if (node == TreeView1->currentItem())
        TreeView1Change(node);
    UndoEntry e;
    e.operation = sj("キー名の変更");
    e.root = at->root;
    e.keyPath = at->subPath;
    e.before = at->subPath;
    e.after = newSub;
    AddUndo(std::move(e));
}

void TRegform::ValueNameEdited(QStandardItem* item) {
    const QString oldName = item->data(kValueNameRole).toString();
    const QString newName = item->text();
    auto keepOld = [&](const QString& why) {
        const QSignalBlocker block(ValueModel);
        item->setText(oldName);
        if (!why.isEmpty())
            showError(this, why);
    };
    if (oldName.isEmpty() || SelectedImageIndex == 2 || readOnlyMode_)
        return keepOld({});
    const auto at = locationOf(caption_);
    const auto oldCp = toCp932(oldName);
    const auto newCp = toCp932(newName);
    if (!at || !at->handle || !oldCp)
        return keepOld({});
    if (!newCp)
        return keepOld(
            QStringLiteral("値の名前に、レジストリに書き込めない文字が含まれています。"));
    TRegistry reg;
    reg.RootKey(*at->handle);
    if (!reg.OpenKeyAnyAccess(at->subPath, false))
        return keepOld(QStringLiteral("キーへのアクセスが拒否されました。"));
    if (reg.ValuePresent(*newCp))
        return keepOld(
            QStringLiteral("同じ名前の値が既に存在するため、値の名前を変更できません。"));
    try {
        reg.RenameValue(*oldCp, *newCp);
    } catch (const RegistryError& e) {
        return keepOld(toQString(e.fullText()));
    }
    reg.CloseKey();
    {
        const QSignalBlocker block(ValueModel);
        item->setData(newName, kValueNameRole);
    }
    UndoEntry e;
    e.operation = sj("値名の変更");
    e.root = at->root;
    e.keyPath = at->subPath;
    e.valueName = *oldCp;
    e.before = *oldCp;
    e.after = *newCp;
    AddUndo(std::move(e));
}

// --- clipboard
// ------------------------------------------------------------------------------------

void TRegform::CopyKeyNameClick() {
    QApplication::clipboard()->setText(caption_);
}

void TRegform::CopyNameClick() {
    const std::vector<int> rows = selectedValueRows();
    if (!rows.empty())
        QApplication::clipboard()->setText(ValueModel->item(rows.front(), 0)->text());
}

void TRegform::CopyDataClick() {
    const std::vector<int> rows = selectedValueRows();
    if (!rows.empty())
        QApplication::clipboard()->setText(
            ValueModel->item(rows.front(), 1)->data(kDataTextRole).toString());
}

} // namespace klv
