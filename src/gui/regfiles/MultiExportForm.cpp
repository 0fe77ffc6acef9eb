#include "gui/regfiles/MultiExportForm.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Folders.h"
#include "core/regfiles/ExportBatch.h"
#include "core/regfiles/ExportMerge.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/Registry.h"
#include "gui/widgets/ChildWatcher.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/KeyPathCheck.h"
#include "gui/widgets/RegistryEditorCheck.h"
#include "gui/widgets/RegistryKeyTree.h"
#include "gui/widgets/TextBridge.h"
#include "gui/widgets/WaitCursor.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace fs = std::filesystem;

namespace klv {
namespace {

constexpr int kPollMilliseconds = 1000;

const QString kListFilter = QStringLiteral("エクスポートリスト(*.exportlist)");
const QString kListExtension = QStringLiteral("exportlist");

fs::path localPath(const QString& file) {
    return fs::path(file.toStdString());
}

} // namespace

TMultiExportForm::TMultiExportForm(FrameHost& form1, QWidget* parent)
    : QDialog(parent), form1_(form1), unicodeOffered_(unicodeFormOffered()) {
    setObjectName(QStringLiteral("MultiExportForm"));
    setWindowTitle(QStringLiteral("複数のレジストリキーをレジストリファイルに書き出し"));
    setModal(true);
    buildControls();
    tree_ = std::make_unique<RegistryKeyTree>(TreeView1);
    tree_->addRoots(form1_);
    RadioButton2->setEnabled(unicodeOffered_);
    (unicodeOffered_ ? RadioButton2 : RadioButton1)->setChecked(true);
    updateRunButton();
}

TMultiExportForm::~TMultiExportForm() {
    stopWaiting();
}

void TMultiExportForm::run(FrameHost& form1, QWidget* parent) {
    TMultiExportForm dialog(form1, parent);
    dialog.exec();
}

void TMultiExportForm::buildControls() {
    auto* v = new QVBoxLayout(this);
    Label1 = new QLabel(
        QStringLiteral("複数のレジストリキーを、１つのレジストリファイルに書き出すことができます。"
                       "書き出すキーをリストに追加し、［書き\n"
                       "出し］ボタンを押してください。書き出し準備に数秒から数十秒かかる場合が"
                       "ありますので、お待ちください。\n"
                       "準備が整い次第、保存先及びファイル名を問うダイアログが表示されます。"),
        this);
    v->addWidget(Label1);

    auto* body = new QHBoxLayout;
    TreeView1 = new QTreeWidget(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setUniformRowHeights(true);
    TreeView1->setMinimumWidth(260);
    body->addWidget(TreeView1, 1);

    auto* right = new QVBoxLayout;
    Label2 = new QLabel(QStringLiteral("レジストリファイルとして書き出すキー(&K) : "), this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Label2->setBuddy(Edit1);
    Button1 = new QPushButton(QStringLiteral("書き出しリストに追加(&A)"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    auto* addRow = new QHBoxLayout;
    addRow->addStretch(1);
    addRow->addWidget(Button1);
    right->addWidget(Label2);
    right->addWidget(Edit1);
    right->addLayout(addRow);

    Label3 =
        new QLabel(QStringLiteral("レジストリファイルとして書き出すキーのリスト(&L) : "), this);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    Label3->setBuddy(ListBox1);
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    SpeedButton1->setToolTip(QStringLiteral("エクスポートリストを開く"));
    SpeedButton2 = new QToolButton(this);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    SpeedButton2->setToolTip(QStringLiteral("エクスポートリストを保存"));
    Button2 = new QPushButton(QStringLiteral("書き出しリストから削除(&D)"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(SpeedButton1);
    listRow->addWidget(SpeedButton2);
    listRow->addStretch(1);
    listRow->addWidget(Button2);
    right->addWidget(Label3);
    right->addWidget(ListBox1, 1);
    right->addLayout(listRow);

    GroupBox1 = new QGroupBox(QStringLiteral("書き出す形式"), this);
    RadioButton1 = new QRadioButton(QStringLiteral("REGEDIT4 （Win95/98/Me/NT4.0）形式 (&4)"));
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton2 = new QRadioButton(QStringLiteral("Unicode 形式 (Windows 2000/XP) (&W)"));
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    auto* formats = new QVBoxLayout(GroupBox1);
    formats->addWidget(RadioButton1);
    formats->addWidget(RadioButton2);
    right->addWidget(GroupBox1);
    body->addLayout(right, 1);
    v->addLayout(body, 1);

    Label4 =
        new QLabel(QStringLiteral("書き出しの準備をしています。しばらくお待ちください..."), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->hide();
    Button3 = new QPushButton(QStringLiteral("書き出し(&R)"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    QFont bold = Button3->font();
    bold.setBold(true);
    Button3->setFont(bold);
    Button4 = new QPushButton(QStringLiteral("閉じる(&C)"), this);
    Button4->setObjectName(QStringLiteral("Button4"));
    auto* foot = new QHBoxLayout;
    foot->addWidget(Label4);
    foot->addStretch(1);
    foot->addWidget(Button3);
    foot->addWidget(Button4);
    v->addLayout(foot);

    Timer1 = new QTimer(this);
    Timer1->setInterval(kPollMilliseconds);

    connect(TreeView1, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* n) { TreeView1Expanding(n); });
    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* n, QTreeWidgetItem*) {
                if (n)
                    TreeView1Change(n);
            });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    resize(820, 500);
}

QStringList TMultiExportForm::exportList() const {
    QStringList keys;
    for (int i = 0; i < ListBox1->count(); ++i)
        keys << ListBox1->item(i)->text();
    return keys;
}

bool TMultiExportForm::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate)
        FormActivate();
    return QDialog::event(e);
}

void TMultiExportForm::FormActivate() {
    // The program may have come back (or gone) while the user was elsewhere.
    editorMissing_ = !editorCheck_.present(this);
    updateRunButton();
}

void TMultiExportForm::updateRunButton() {
    // A second run while one is waiting would write over the files the first one waits for.
    Button3->setEnabled(ListBox1->count() > 0 && !editorMissing_ && !waiting());
}

void TMultiExportForm::TreeView1Expanding(QTreeWidgetItem* node) {
    tree_->expand(node, this);
}

void TMultiExportForm::TreeView1Change(QTreeWidgetItem* node) {
    Edit1->setText(RegistryKeyTree::pathOf(node));
}

void TMultiExportForm::Button1Click() {
    const QString text = Edit1->text();
    if (!keyPresentOrTell(this, text))
        return;
    ListBox1->addItem(text);
    updateRunButton();
}

void TMultiExportForm::Button2Click() {
    delete ListBox1->currentItem();
    updateRunButton();
}

void TMultiExportForm::SpeedButton1Click() {
    const QString file = DialogService::instance().openFileName(
        this, QStringLiteral("エクスポートリストを開く"), QString(), kListFilter);
    if (file.isEmpty())
        return;
    std::vector<std::string> keys;
    try {
        keys = readExportList(localPath(file));
    } catch (const ExportListError& e) {
        showError(this, toQString(e.what()));
        return; // the list stays as it was
    }
    ListBox1->clear();
    for (const std::string& key : keys)
        ListBox1->addItem(toQString(key));
    updateRunButton();
}

void TMultiExportForm::SpeedButton2Click() {
    std::optional<std::vector<std::string>> keys = cp932TextsOrTell(this, exportList());
    if (!keys)
        return;
    const QString file = withDefaultExtension(
        DialogService::instance().saveFileName(this, QStringLiteral("エクスポートリストの保存"),
                                               QString(), kListFilter),
        kListExtension);
    if (file.isEmpty())
        return;
    try {
        writeExportList(localPath(file), *keys);
    } catch (const std::exception& e) {
        showError(this, toQString(e.what()));
    }
}

void TMultiExportForm::Button3Click() {
    if (ListBox1->count() == 0 || waiting())
        return;
    std::optional<std::vector<std::string>> keys = cp932TextsOrTell(this, exportList());
    if (!keys)
        return;
    QString problem;
    {
        const WaitCursor hourglass;
        try {
            batch_ = std::make_unique<ExportBatch>(std::move(*keys), unicodeOffered_,
                                                   RadioButton1->isChecked(), programFolder(),
                                                   systemFolder());
        } catch (const ExportBatchError& e) {
            problem = toQString(e.what());
        }
    }
    if (!problem.isEmpty()) {
        showError(this, problem);
        return;
    }
    Label4->show();
    updateRunButton();
    Timer1->start();
}

void TMultiExportForm::Timer1Timer() {
    if (!batch_) {
        Timer1->stop();
        return;
    }
    const ExportPoll& state = batch_->poll();
    if (state.state == ExportPoll::State::Waiting)
        return;
    Timer1->stop();
    if (state.state == ExportPoll::State::Failed)
        reportFailure();
    else
        finishExport();
}

void TMultiExportForm::reportFailure() {
    const ExportPoll state = batch_->poll();
    const QString what =
        batch_->consoleTool() ? QStringLiteral("Reg") : QStringLiteral("Regedit.exe");
    QString detail;
    if (state.fileMissing)
        detail = what + QStringLiteral(" は終了しましたが、ファイル %1 を作成しませんでした。")
                            .arg(QString::fromStdString(
                                perKeyFile(batch_->programFolder(), state.index).string()));
    else
        detail = ChildWatcher::failureText(state.result, what);
    if (detail.isEmpty())
        detail =
            what + QStringLiteral(" が終了コード %1 で終了しました。").arg(state.result.exitCode);
    stopWaiting();
    showError(this,
              QStringLiteral("キー %1 を書き出せませんでした。\n\n").arg(toQString(state.key)) +
                  detail);
}

void TMultiExportForm::finishExport() {
    const std::unique_ptr<ExportBatch> batch = std::move(batch_);
    Label4->hide();
    updateRunButton();
    const fs::path& folder = batch->programFolder();
    RegFileLines merged;
    QString problem;
    {
        const WaitCursor hourglass;
        try {
            merged = mergePerKeyFiles(folder, batch->size(), batch->form());
        } catch (const ExportMergeError& e) {
            problem = toQString(e.what());
        }
    }
    if (!problem.isEmpty()) {
        removePerKeyFiles(folder, 0, batch->size());
        showError(this, problem);
        return;
    }
    removePerKeyFiles(folder, 1, batch->size() - 1);
    // A target that cannot be written is asked for again; cancelling leaves "0.reg".
    for (;;) {
        const QString file = withDefaultExtension(
            DialogService::instance().saveFileName(
                this, QStringLiteral("複数のレジストリキーをレジストリファイルに書き出し"),
                QString(), QStringLiteral("レジストリファイル (*.reg);;すべてのファイル (*.*)")),
            QStringLiteral("reg"));
        if (file.isEmpty())
            break;
        try {
            saveMergedExport(merged, localPath(file), folder);
            break;
        } catch (const FileError& e) {
            showError(this, toQString(e.what()));
        }
    }
    accept();
}

void TMultiExportForm::stopWaiting() {
    Timer1->stop();
    if (batch_) {
        batch_->abandon();
        batch_.reset();
    }
    Label4->hide();
    updateRunButton();
}

void TMultiExportForm::Button4Click() {
    reject();
}

void TMultiExportForm::done(int result) {
    // Closing ends the wait: the exports of this run are given up and their files removed.
    stopWaiting();
    QDialog::done(result);
}

} // namespace klv
