// The value clipboard of the editor window: copy, cut and paste of values through the value
// holder tab, and the holder's own commands. The rows and what a paste writes are the core's.
#include "gui/editor/Regform.h"

#include "core/lists/PanelLists.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/platform/TimeText.h"
#include "core/registry/RootKeys.h"
#include "core/registry/ValueText.h"
#include "core/settings/SettingsFile.h"
#include "gui/editor/RegformRoles.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/TextBridge.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTreeView>
#include <QTreeWidget>

namespace klv {

using namespace regform;

namespace {

void warn(QWidget* parent, const QString& text) {
    DialogService::instance().message(parent, QStringLiteral("警告"), text, MsgIcon::Warning,
                                      MsgButtons::Ok);
}

} // namespace

// Opens the window's current key on `reg`; nullopt when there is none or it cannot be opened.
std::optional<TRegform::CurrentKey> TRegform::openCurrentKey(TRegistry& reg, KeyOpening how) {
    const std::string location = toCp932(caption_).value_or(std::string());
    const SplitKeyPath at = splitKeyPath(location);
    if (!at.root)
        return std::nullopt;
    reg.RootKey(*at.root);
    const bool open = how == KeyOpening::Read ? reg.OpenKeyAnyAccess(at.subPath, false)
                                              : reg.OpenKey(at.subPath, how == KeyOpening::Create);
    if (!open)
        return std::nullopt;
    return CurrentKey{std::string(at.rootName), std::string(at.subPath)};
}

HolderOptions TRegform::holderOptions() const {
    const SettingsFile& s = form1_.settings();
    HolderOptions o;
    o.mode = s.readInt("VH", "MODE", 0);
    o.date = s.readBool("VH", "DATE", true);
    o.add = s.readBool("VH", "ADD", true);
    o.save = s.readBool("VH", "SAVE", true);
    return o;
}

void TRegform::holderChanged() {
    setPasteEnabled(ListView5->topLevelItemCount() > 0);
    if (holderOptions().save)
        saveListView(ListView5);
}

void TRegform::setPasteEnabled(bool on) {
    if (QAction* paste = findMenuAction(QStringLiteral("PasteValue")))
        paste->setEnabled(on && !readOnlyMode_);
}

// The selected rows' values, last row first, as the holder takes them.
std::vector<ListRow> TRegform::copiedRows(const std::vector<int>& rows,
                                          std::vector<RawValue>* values) {
    std::vector<ListRow> out;
    TRegistry reg;
    const std::optional<CurrentKey> at = openCurrentKey(reg, KeyOpening::Read);
    if (!at)
        return out;
    const HolderOptions o = holderOptions();
    const std::string now = listTimeTextNow();
    const std::string location = at->root + at->subPath;
    for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
        const QString name = ValueModel->item(*r, 0)->data(kValueNameRole).toString();
        const auto cp = toCp932(name);
        const std::optional<RawValue> v = cp ? reg.ReadRaw(*cp) : std::nullopt;
        if (!v)
            continue; // "(値の設定なし)": nothing to hold
        out.push_back(holderRow(*v, o, now, location));
        if (values)
            values->push_back(*v);
    }
    return out;
}

bool TRegform::putInHolder(std::vector<ListRow> rows) {
    std::vector<ListRow> holder = listRows(ListView5);
    try {
        addToHolder(holder, std::move(rows), holderOptions());
    } catch (const ListFileError& e) {
        showError(this, toQString(e.what()));
        return false;
    }
    fillList(ListView5, holder);
    holderChanged();
    return true;
}

// Cut and paste change the current key: not from the tree, not in read-only mode, not on a key
// open read only. `what` is the command's name in the warnings.
bool TRegform::valueCommandAllowed(const QString& what) {
    if (TreeView1->hasFocus()) {
        warn(this, QStringLiteral("キーの") + what + QStringLiteral("はサポートしていません。"));
        return false;
    }
    if (readOnlyMode_)
        return false;
    if (SelectedImageIndex == 2) {
        warn(this, QStringLiteral("フルアクセス権がないため、読み取り専用で開いていますので、") +
                       what + QStringLiteral("はできません。"));
        return false;
    }
    return true;
}

void TRegform::CopyValueClick() {
    if (TreeView1->hasFocus()) {
        warn(this, QStringLiteral("キーのコピーはサポートしていません。"));
        return;
    }
    putInHolder(copiedRows(selectedValueRows(), nullptr));
}

void TRegform::CutValueClick() {
    if (!valueCommandAllowed(QStringLiteral("切り取り")))
        return;
    const std::vector<int> rows = selectedValueRows();
    std::vector<RawValue> values;
    std::vector<ListRow> held = copiedRows(rows, &values);
    if (held.empty() && !rows.empty())
        return;
    if (!putInHolder(held))
        return; // nothing is cut that the holder could not keep
    TRegistry reg;
    const std::optional<CurrentKey> at = openCurrentKey(reg, KeyOpening::Write);
    if (!at)
        return;
    for (const RawValue& v : values) {
        if (!reg.DeleteValue(v.name.bytes)) {
            showError(this, QStringLiteral("値の削除に失敗しました。他のアプリケーションが使用して"
                                           "いるか、アクセス権限がない可能性があります。"));
            continue;
        }
        UndoEntry e;
        e.operation = sj(undo_op::ValueCutPrefix) + kindName(valueKindOf(v.type));
        e.root = at->root;
        e.keyPath = at->subPath;
        e.valueName = v.name.bytes;
        e.before = dataText(v);
        addValueUndo(std::move(e), v);
    }
    refreshValueList();
}

void TRegform::PasteValueClick() {
    if (ComboBox1->hasFocus() || (ComboBox1->lineEdit() && ComboBox1->lineEdit()->hasFocus())) {
        const QString text = QApplication::clipboard()->text();
        if (!text.isEmpty())
            ComboBox1->setEditText(text);
        return;
    }
    if (!valueCommandAllowed(QStringLiteral("貼り付け")))
        return;
    TRegistry reg;
    std::optional<CurrentKey> at;
    for (const ListRow& row : listRows(ListView5)) {
        if (!pasteFlag(row))
            continue;
        const std::optional<RawValue> v = pastedValue(row);
        if (!v)
            continue;
        if (!at && !(at = openCurrentKey(reg, KeyOpening::Create)))
            return;
        const std::optional<RawValue> previous = reg.ReadRaw(v->name.bytes);
        reg.WriteRaw(*v);
        UndoEntry e;
        e.operation = sj(undo_op::Pasted);
        e.root = at->root;
        e.keyPath = at->subPath;
        e.valueName = listedName(v->name);
        addValueUndo(std::move(e), previous);
    }
    // Listed anew: a value pasted over one of the same name shows once.
    refreshValueList();
}

void TRegform::addValueUndo(UndoEntry e, const std::optional<RawValue>& previous) {
    undoLog_->setLimit(form1_.settings().readInt("OPTION", "HIS_2", kDefaultUndoLimit));
    try {
        undoLog_->addValueChange(std::move(e), previous);
    } catch (const ListFileError& err) {
        showError(this, toQString(err.what()));
    }
    fillUndoList();
}

// --- the holder's own commands ------------------------------------------------------------------

void TRegform::HolderToggleClick() {
    QTreeWidgetItem* item = ListView5->currentItem();
    if (!item)
        return;
    const int index = ListView5->indexOfTopLevelItem(item);
    std::vector<ListRow> rows = listRows(ListView5);
    togglePasteFlag(rows[static_cast<std::size_t>(index)]);
    fillList(ListView5, rows);
    ListView5->setCurrentItem(ListView5->topLevelItem(index));
    holderChanged();
}

void TRegform::HolderAllClick(bool paste) {
    std::vector<ListRow> rows = listRows(ListView5);
    for (ListRow& r : rows)
        setPasteFlag(r, paste);
    fillList(ListView5, rows);
    holderChanged();
}

void TRegform::HolderDeleteUnflaggedClick() {
    if (!askYesNo(this, QStringLiteral("削除の確認"),
                  QStringLiteral(
                      "貼り付けないと設定している、すべての項目を削除します。よろしいですか。")))
        return;
    std::vector<ListRow> rows = listRows(ListView5);
    removeUnflagged(rows);
    fillList(ListView5, rows);
    holderChanged();
}

void TRegform::HolderDeleteClick() {
    QTreeWidgetItem* item = ListView5->currentItem();
    if (!item)
        return;
    if (!askYesNo(this, QStringLiteral("削除の確認"),
                  QStringLiteral("値 ") + item->text(0) +
                      QStringLiteral(" を削除します。よろしいですか。")))
        return;
    delete item;
    holderChanged();
}

void TRegform::HolderClearClick() {
    if (DialogService::instance().message(
            this, QStringLiteral("確認"),
            QStringLiteral("バリューホールドの中身をクリアします。よろしいですか。"),
            MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    ListView5->clear();
    setPasteEnabled(false);
    std::error_code ec;
    std::filesystem::remove(listFilePath("VALUE.DAT"), ec);
}

} // namespace klv
