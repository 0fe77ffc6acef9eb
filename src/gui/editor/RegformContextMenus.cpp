// The context menus of the key tree and the value list, with their enabling rules, and the
// commands only they offer (open a key one level, open a value's data as a file).
#include "gui/editor/Regform.h"

#include "core/platform/DriveMap.h"
#include "core/platform/Folders.h"
#include "gui/editor/RegformRoles.h"
#include "gui/regfiles/RegExportForm.h"
#include "gui/regfiles/RegFileCommands.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/TextBridge.h"

#include <QDesktopServices>
#include <QMenu>
#include <QProcess>
#include <QStandardItemModel>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>

namespace klv {

using namespace regform;

namespace {
QAction* popupItem(QMenu* menu, const QString& caption, const QString& name,
                   std::function<void()> handler) {
    return addMenuItem(menu, caption, name, {}, std::move(handler), Qt::WidgetWithChildrenShortcut);
}
} // namespace

void TRegform::buildContextMenus() {
    ValuePopup = new QMenu(this);
    ValuePopup->setObjectName(QStringLiteral("ValuePopup"));
    QMenu* create = ValuePopup->addMenu(QStringLiteral("値の新規作成(&N)"));
    const std::pair<const char*, EditedKind> kinds[] = {
        {"文字列(&S)", EditedKind::String},
        {"数値（DWORD値）(&D)", EditedKind::Integer},
        {"拡張文字列(&E)", EditedKind::ExpandString},
        {"マルチ文字列(&M)", EditedKind::MultiString}};
    for (const auto& [caption, kind] : kinds)
        popupItem(create, QString::fromUtf8(caption), {}, [this, k = kind] { NewValueClick(k); });
    popupItem(create, QStringLiteral("バイナリ(&B)"), QStringLiteral("PopupNewBinary"),
              [this] { NewValueClick(EditedKind::Binary); });
    ValuePopup->addSeparator();
    popupItem(ValuePopup, QStringLiteral("修正(&M)"), QStringLiteral("PopupModify"),
              [this] { ModifyClick(); });
    popupItem(ValuePopup, QStringLiteral("名前の変更(&R)"), QStringLiteral("PopupRename"), [this] {
        ListView1->setFocus();
        RenameClick();
    });
    popupItem(ValuePopup, QStringLiteral("削除(&D)"), QStringLiteral("PopupDelete"),
              [this] { DeleteValuesClick(); });
    ValuePopup->addSeparator()->setObjectName(QStringLiteral("PopupSeparator1"));
    popupItem(ValuePopup, QStringLiteral("名前をクリップボードにコピー(&V)"),
              QStringLiteral("PopupCopyName"), [this] { CopyNameClick(); });
    popupItem(ValuePopup, QStringLiteral("データをクリップボードにコピー(&A)"),
              QStringLiteral("PopupCopyData"), [this] { CopyDataClick(); });
    popupItem(ValuePopup, QStringLiteral("キー名をクリップボードにコピー(&L)"),
              QStringLiteral("PopupCopyKeyName"), [this] { CopyKeyNameClick(); });
    popupItem(ValuePopup, QStringLiteral("現在のキー以下をレジストリファイルに書き出し(&W)"),
              QStringLiteral("PopupQuickExport"), [this] { quickExport(this, currentKeyText()); });
    ValuePopup->addSeparator()->setObjectName(QStringLiteral("PopupSeparator2"));
    popupItem(ValuePopup, QStringLiteral("関連づけられたアプリケーションで開く(&O)"),
              QStringLiteral("PopupOpenFile"), [this] { OpenAsFileClick(); });
    popupItem(ValuePopup, QStringLiteral("クイックビューワ(&Q)"), QStringLiteral("PopupQuickView"),
              [this] { QuickViewerClick(); });
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (caption_ == QStringLiteral("マイコンピュータ"))
            return; // no key selected yet
        prepareValuePopup();
        ValuePopup->popup(ListView1->viewport()->mapToGlobal(at));
    });

    TreePopup = new QMenu(this);
    TreePopup->setObjectName(QStringLiteral("TreePopup"));
    popupItem(TreePopup, QStringLiteral("開く(&O)"), QStringLiteral("TreeOpen"), [this] {
        if (QTreeWidgetItem* n = TreeView1->currentItem())
            n->setExpanded(true);
    });
    TreePopup->addSeparator();
    popupItem(TreePopup, QStringLiteral("キーの新規作成(&W)"), QStringLiteral("TreeNewKey"),
              [this] { NewKeyClick(); });
    popupItem(TreePopup, QStringLiteral("削除(&D)"), QStringLiteral("TreeDelete"),
              [this] { DeleteKeyClick(); });
    popupItem(TreePopup, QStringLiteral("名前の変更(&N)"), QStringLiteral("TreeRename"), [this] {
        TreeView1->setFocus();
        RenameClick();
    });
    TreePopup->addSeparator();
    popupItem(TreePopup, QStringLiteral("検索(&S)"), QStringLiteral("TreeSearch"),
              [this] { form1_.openSearch(false, currentKeyText(), {}); });
    popupItem(TreePopup, QStringLiteral("置換(&G)"), QStringLiteral("TreeReplace"),
              [this] { form1_.openSearch(true, currentKeyText(), {}); });
    popupItem(TreePopup, QStringLiteral("レジストリファイルの書き出し(&E)"),
              QStringLiteral("TreeExport"),
              [this] { TRegExportForm::run(form1_, this, currentKeyText()); });
    TreePopup->addSeparator();
    popupItem(TreePopup, QStringLiteral("キー名をクリップボードにコピー(&C)"),
              QStringLiteral("TreeCopyKeyName"), [this] { CopyKeyNameClick(); });
    TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(TreeView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        prepareTreePopup();
        TreePopup->popup(TreeView1->viewport()->mapToGlobal(at));
    });
}

// With several rows selected the single-row commands go; "(標準)" cannot be renamed.
void TRegform::prepareValuePopup() {
    const std::vector<int> rows = selectedValueRows();
    const bool several = rows.size() > 1;
    for (QAction* a : ValuePopup->actions()) {
        const QString n = a->objectName();
        if (n == QLatin1String("PopupModify") || n == QLatin1String("PopupRename") ||
            n == QLatin1String("PopupCopyName") || n == QLatin1String("PopupCopyData") ||
            n == QLatin1String("PopupOpenFile") || n == QLatin1String("PopupQuickView") ||
            n == QLatin1String("PopupSeparator1") || n == QLatin1String("PopupSeparator2"))
            a->setVisible(!several);
        if (n == QLatin1String("PopupDelete"))
            a->setText(several ? QStringLiteral("選択しているすべての値を削除(&D)")
                               : QStringLiteral("削除(&D)"));
        if (n == QLatin1String("PopupRename"))
            a->setEnabled(
                !readOnlyMode_ && !rows.empty() &&
                !ValueModel->item(rows.front(), 0)->data(kValueNameRole).toString().isEmpty());
    }
}

void TRegform::prepareTreePopup() {
    QTreeWidgetItem* node = TreeView1->currentItem();
    const bool root = !node || !node->parent();
    for (QAction* a : TreePopup->actions())
        if (a->objectName() == QLatin1String("TreeDelete") ||
            a->objectName() == QLatin1String("TreeRename"))
            a->setEnabled(!root && !readOnlyMode_);
}

// The data text as a file path, through the drive map; opened with the desktop's program.
// The file the selected row's data text names, through the drive map; nullopt after the
// error box when it names none.
std::optional<std::filesystem::path> TRegform::selectedDataFile() {
    const std::vector<int> rows = selectedValueRows();
    if (rows.empty())
        return std::nullopt;
    const QString data = ValueModel->item(rows.front(), 1)->data(kDataTextRole).toString();
    const auto text = toCp932(data);
    const auto file = text ? DriveMap(systemFolder()).toLinuxPath(*text) : std::nullopt;
    std::error_code ec;
    if (!file || !std::filesystem::exists(*file, ec)) {
        DialogService::instance().message(
            this, QStringLiteral("エラー"),
            QStringLiteral(
                "指定されたファイルは存在しないか、あるいはファイルパスではありません。\n\n") +
                data,
            MsgIcon::Error, MsgButtons::Ok);
        return std::nullopt;
    }
    return file;
}

void TRegform::OpenAsFileClick() {
    if (const auto file = selectedDataFile())
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file->string())));
}

// The quick viewer of the system folder (VIEWERS\QUIKVIEW.EXE, a program a user may put there)
// shows the file; without one, the desktop's viewer for its kind does.
void TRegform::QuickViewerClick() {
    const auto file = selectedDataFile();
    if (!file)
        return;
    const QString path = QString::fromStdString(file->string());
    const auto viewers = findNoCase(systemFolder(), "VIEWERS");
    const auto viewer = viewers ? findNoCase(*viewers, "QUIKVIEW.EXE") : std::nullopt;
    if (viewer && QProcess::startDetached(QString::fromStdString(viewer->string()),
                                          {QLatin1Char('"') + path + QLatin1Char('"')}))
        return;
    DialogService::instance().openWithDesktop(path);
}

} // namespace klv
