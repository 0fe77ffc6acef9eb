#include "gui/status/RegStatus.h"

#include "core/platform/Folders.h"
#include "core/settings/SettingsFile.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/EventPump.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/TextBridge.h"
#include "gui/widgets/ToolBarItems.h"
#include "gui/widgets/WaitCursor.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace fs = std::filesystem;

namespace klv {

namespace {

fs::path toPath(const QString& text) {
    return fs::path(text.toStdString());
}

} // namespace

TRegStatus::TRegStatus(FrameHost& frame, QWidget* parent) : QDialog(parent), frame_(frame) {
    setObjectName(QStringLiteral("RegStatus"));
    setWindowTitle(QStringLiteral(" レジストリのステータスとバックアップ"));
    setModal(true);
    resize(760, 360);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    buildToolBar();
    layout->addWidget(ToolBar1);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setRootIsDecorated(false);
    ListView1->setSortingEnabled(false);
    ListView1->setHeaderLabels({QStringLiteral("ﾚｼﾞｽﾄﾘﾌｧｲﾙ"), QStringLiteral("ｻｲｽﾞ"),
                                QStringLiteral("前回のｻｲｽﾞ"), QStringLiteral("更新日時"),
                                QStringLiteral("更新"), QStringLiteral("場所")});
    ListView1->headerItem()->setTextAlignment(ColSize, Qt::AlignRight | Qt::AlignVCenter);
    ListView1->headerItem()->setTextAlignment(ColPrevious, Qt::AlignRight | Qt::AlignVCenter);
    const int widths[] = {120, 120, 120, 140, 50, 180};
    for (int c = 0; c < 6; ++c)
        ListView1->setColumnWidth(c, widths[c]);
    layout->addWidget(ListView1, 1);

    auto* totals = new QHBoxLayout;
    totals->setContentsMargins(8, 0, 8, 0);
    totals->addWidget(new QLabel(QStringLiteral("レジストリファイルの総計"), this));
    totals->addStretch(1);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    for (QLabel* l : {Label1, Label2}) {
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setMinimumWidth(130);
        totals->addWidget(l);
    }
    layout->addLayout(totals);

    auto* target = new QHBoxLayout;
    target->setContentsMargins(8, 0, 8, 0);
    target->addWidget(new QLabel(QStringLiteral("バックアップ先 : "), this));
    Label3 = new QLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setCursor(Qt::PointingHandCursor);
    Label3->setStyleSheet(QStringLiteral("color: palette(link); text-decoration: underline;"));
    Label3->setToolTip(QStringLiteral("バックアップ先の指定"));
    Label3->setStatusTip(QStringLiteral("クリックすると、バックアップ先を変更できます"));
    Label3->installEventFilter(this);
    target->addWidget(Label3, 1);
    layout->addLayout(target);
}

TRegStatus::~TRegStatus() = default;

void TRegStatus::run(FrameHost& frame, QWidget* parent) {
    TRegStatus d(frame, parent);
    d.exec();
}

void TRegStatus::buildToolBar() {
    ToolBar1 = makeTextToolBar(this);
    const auto add = [this](ImageLists::ToolImage image, const QString& text, const char* name,
                            void (TRegStatus::*handler)()) {
        return addToolButton(ToolBar1, image, text, name, this,
                             [this, handler] { (this->*handler)(); });
    };
    using T = ImageLists::ToolImage;
    ToolButton1 = add(T::StatusBackup, QStringLiteral("選択しているレジストリをバックアップ"),
                      "ToolButton1", &TRegStatus::ToolButton1Click);
    ToolBar1->addSeparator();
    ToolButton2 = add(T::CheckAll, QStringLiteral("すべて選択"), "ToolButton2",
                      &TRegStatus::ToolButton2Click);
    ToolButton3 = add(T::UncheckAll, QStringLiteral("すべて解除"), "ToolButton3",
                      &TRegStatus::ToolButton3Click);
    ToolBar1->addSeparator();
    ToolButton4 =
        add(T::NewKey, QStringLiteral("項目の追加"), "ToolButton4", &TRegStatus::ToolButton4Click);
    ToolButton5 =
        add(T::Delete, QStringLiteral("項目の削除"), "ToolButton5", &TRegStatus::ToolButton5Click);
    ToolBar1->addSeparator();
    ToolButton6 =
        add(T::CloseWindow, QStringLiteral("閉じる"), "ToolButton6", &TRegStatus::ToolButton6Click);
}

// The list is built when the window first shows: a Qt window becomes active again after every
// message box it shows, and rebuilding then would drop rows added since and count this
// opening's sizes as previous ones.
void TRegStatus::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!activated_) {
        activated_ = true;
        runGuarded(this, [this] { FormActivate(); });
    }
}

void TRegStatus::done(int result) {
    if (!closed_) {
        closed_ = true;
        runGuarded(this, [this] { FormClose(); });
    }
    QDialog::done(result);
}

bool TRegStatus::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label3 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        runGuarded(this, [this] { Label3Click(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TRegStatus::FormActivate() {
    std::error_code ec;
    if (Label3->text().isEmpty() || !fs::is_directory(toPath(Label3->text()), ec))
        Label3->setText(QString::fromStdString(backup::defaultBackupFolder().string()));

    const fs::path system = frame_.Label1.isEmpty() ? systemFolder() : toPath(frame_.Label1);
    SettingsFile& settings = frame_.settings();
    const backup::Activation a =
        backup::activate(backup::readSnapshot(settings), system, backup::stateOf);
    ListView1->clear();
    for (const backup::StatusRow& row : a.rows)
        addRow(row);
    Label1->setText(toQString(a.total));
    Label2->setText(toQString(a.previousTotal));
    backup::writeCleanSizes(settings, a);
}

void TRegStatus::FormClose() {
    backup::writeEntries(frame_.settings(), rows());
}

void TRegStatus::addRow(const backup::StatusRow& row) {
    auto* item = new QTreeWidgetItem(ListView1);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(ColName, row.checked ? Qt::Checked : Qt::Unchecked);
    const std::string* texts[] = {&row.name, &row.size,    &row.previousSize,
                                  &row.time, &row.changed, &row.folder};
    for (int c = 0; c < 6; ++c)
        item->setText(c, toQString(*texts[c]));
    item->setTextAlignment(ColSize, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(ColPrevious, Qt::AlignRight | Qt::AlignVCenter);
    // The CP932 texts ride along, so a name that shows a replacement character is kept exact.
    item->setData(ColName, Qt::UserRole, QByteArray::fromStdString(row.name));
    item->setData(ColFolder, Qt::UserRole, QByteArray::fromStdString(row.folder));
}

std::vector<backup::StatusRow> TRegStatus::rows() const {
    std::vector<backup::StatusRow> out;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListView1->topLevelItem(i);
        const auto cp932 = [&](int c) { return toCp932(item->text(c)).value_or(std::string()); };
        out.push_back({item->data(ColName, Qt::UserRole).toByteArray().toStdString(),
                       cp932(ColSize), cp932(ColPrevious), cp932(ColTime), cp932(ColChanged),
                       item->data(ColFolder, Qt::UserRole).toByteArray().toStdString(),
                       item->checkState(ColName) == Qt::Checked});
    }
    return out;
}

void TRegStatus::ToolButton1Click() {
    std::vector<backup::BackupItem> items;
    for (const backup::StatusRow& row : rows())
        if (row.checked)
            items.push_back({row.name, row.folder});
    const fs::path system = frame_.Label1.isEmpty() ? systemFolder() : toPath(frame_.Label1);
    bool ok;
    {
        WaitCursor wait;
        EventPump pump;
        ok = backup::backupFiles(
            items, toPath(Label3->text()), system,
            [this](const std::string& name) {
                showError(this, toQString(backup::failureMessage(name)));
            },
            [&pump] { pump(); });
    }
    if (ok)
        showInformation(this, QStringLiteral("報告"), toQString(backup::successMessage()));
}

void TRegStatus::setAllChecked(bool checked) {
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(ColName, checked ? Qt::Checked : Qt::Unchecked);
}

void TRegStatus::ToolButton2Click() {
    setAllChecked(true);
}

void TRegStatus::ToolButton3Click() {
    setAllChecked(false);
}

void TRegStatus::ToolButton4Click() {
    const QString file =
        DialogService::instance().openFileName(this, QStringLiteral("レジストリファイルの追加"),
                                               QString(), QStringLiteral("レジストリ (*.DAT)"));
    if (file.isEmpty())
        return;
    const auto row = backup::rowForFile(toPath(file));
    if (!row) {
        showError(this, unconvertibleTextMessage(file));
        return;
    }
    addRow(*row);
}

void TRegStatus::ToolButton5Click() {
    delete ListView1->currentItem();
}

void TRegStatus::ToolButton6Click() {
    close();
}

void TRegStatus::Label3Click() {
    const QString folder = DialogService::instance().folderName(
        this, QStringLiteral("バックアップ先を指定してください"), Label3->text());
    const QString shown = folder.isEmpty() ? Label3->text() : folder;
    const auto text = toCp932(shown);
    if (!text) {
        showError(this, unconvertibleTextMessage(shown));
        return;
    }
    Label3->setText(shown);
    frame_.settings().writeString("REG_BACKUP", "FOLDER", *text);
}

} // namespace klv
