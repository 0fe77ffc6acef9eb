#include "gui/orphans/OrphanSearch.h"

#include "core/lists/ListFile.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/DriveMap.h"
#include "core/platform/ErrorText.h"
#include "core/platform/Folders.h"
#include "core/settings/SettingsFile.h"
#include "core/undo/UndoLog.h"
#include "gui/orphans/OrphanTableModel.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/EventPump.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/HelpFile.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/RowVectorModel.h"
#include "gui/widgets/SharedUndoLog.h"
#include "gui/widgets/TextBridge.h"
#include "gui/widgets/ToolBarItems.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <filesystem>
#include <stdexcept>

namespace klv {

namespace {

const QString& optionsClosedText() {
    static const QString s = QStringLiteral("検索オプション  >>");
    return s;
}

const QString& optionsOpenText() {
    static const QString s = QStringLiteral("検索オプション  <<");
    return s;
}

// The file types of the save dialog, in OrphanReportFormat order.
const std::array<QString, 2>& reportTypes() {
    static const std::array<QString, 2> types{QStringLiteral("コンマ区切りテキスト (*.CSV)"),
                                              QStringLiteral("HTML (*.HTM)")};
    return types;
}

QCheckBox* newCheckBox(const QString& text, const char* name, bool on, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(on);
    return box;
}

// Marks the scan as running for as long as it is on the stack, whatever way it leaves.
class RunningScope {
public:
    explicit RunningScope(TOrphanSearch* w, void (TOrphanSearch::*set)(bool)) : w_(w), set_(set) {
        (w_->*set_)(true);
    }
    ~RunningScope() { (w_->*set_)(false); }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    TOrphanSearch* w_;
    void (TOrphanSearch::*set_)(bool);
};

} // namespace

TOrphanSearch::TOrphanSearch(FrameHost& frame, QWidget* parent) : QWidget(parent), frame_(frame) {
    setObjectName(QStringLiteral("OrphanSearch"));
    setWindowTitle(QStringLiteral("孤立エントリの検索"));
    setWindowIcon(ImageLists::toolImage(ImageLists::ToolImage::OrphanSearch));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(buildToolBar());
    auto* body = new QHBoxLayout;
    body->addWidget(buildRootPanel());
    auto* right = new QVBoxLayout;
    right->addWidget(buildOptionPanel());
    ListView1 = new QTreeView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    right->addWidget(ListView1, 1);
    body->addLayout(right, 1);
    layout->addLayout(body, 1);
    StatusBar1 = new QLabel(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    // A long key path on the status line must not widen the window.
    StatusBar1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(StatusBar1);
    setUpList();
    showOptions(false);
    setRunning(false);
    resize(900, 560);
}

TOrphanSearch::~TOrphanSearch() = default;

QToolBar* TOrphanSearch::buildToolBar() {
    ToolBar1 = makeTextToolBar(this);
    const auto add = [this](ImageLists::ToolImage image, const QString& text, const char* name,
                            void (TOrphanSearch::*handler)()) {
        return addToolButton(ToolBar1, image, text, name, this,
                             [this, handler] { (this->*handler)(); });
    };
    using T = ImageLists::ToolImage;
    ToolButton1 =
        add(T::Options, QStringLiteral("設定"), "ToolButton1", &TOrphanSearch::ToolButton1Click);
    ToolBar1->addSeparator();
    ToolButton2 = add(T::CheckAll, QStringLiteral("すべて選択"), "ToolButton2",
                      &TOrphanSearch::ToolButton2Click);
    ToolButton3 = add(T::UncheckAll, QStringLiteral("すべて解除"), "ToolButton3",
                      &TOrphanSearch::ToolButton3Click);
    // The checking pair's texts would push the bar's last buttons off a narrow window; their
    // hints tell.
    showIconOnly(ToolBar1, ToolButton2);
    showIconOnly(ToolBar1, ToolButton3);
    ToolButton4 = add(T::Delete, QStringLiteral("チェックを入れたものをすべて削除"), "ToolButton4",
                      &TOrphanSearch::ToolButton4Click);
    ToolBar1->addSeparator();
    ToolButton5 = add(T::Save, QStringLiteral("検索結果の保存"), "ToolButton5",
                      &TOrphanSearch::ToolButton5Click);
    ToolButton6 =
        add(T::Stop, QStringLiteral("検索中止"), "ToolButton6", &TOrphanSearch::ToolButton6Click);
    ToolBar1->addSeparator();
    ToolButton7 = add(T::Help, QStringLiteral("詳細なアドバイス"), "ToolButton7",
                      &TOrphanSearch::ToolButton7Click);
    ToolButton8 = add(T::CloseWindow, QStringLiteral("閉じる"), "ToolButton8",
                      &TOrphanSearch::ToolButton8Click);
    return ToolBar1;
}

QWidget* TOrphanSearch::buildRootPanel() {
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* v = new QVBoxLayout(Panel1);
    v->setContentsMargins(4, 4, 8, 4);
    Label1 = new QLabel(QStringLiteral("検索するルートを選択してください"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    v->addWidget(Label1);
    CheckBox1 = newCheckBox(QStringLiteral("HKEY_CLASSES_ROOT"), "CheckBox1", false, Panel1);
    CheckBox2 = newCheckBox(QStringLiteral("HKEY_CURRENT_USER"), "CheckBox2", true, Panel1);
    CheckBox3 = newCheckBox(QStringLiteral("HKEY_LOCAL_MACHINE"), "CheckBox3", true, Panel1);
    CheckBox4 = newCheckBox(QStringLiteral("HKEY_USERS"), "CheckBox4", false, Panel1);
    for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4}) {
        v->addWidget(box);
        box->setContentsMargins(12, 0, 0, 0);
    }
    v->addSpacing(12);
    Label2 = new QLabel(optionsClosedText(), Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    // A link in look and feel; the text stays plain so that its two blanks show.
    Label2->setStyleSheet(QStringLiteral("color: #0033cc; text-decoration: underline;"));
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->installEventFilter(this);
    v->addWidget(Label2);
    v->addStretch(1);
    Button1 = new QPushButton(QStringLiteral("検索開始(&S)"), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { Button1Click(); }); });
    v->addWidget(Button1);
    Button2 = new QPushButton(QStringLiteral("検索中止(&C)"), Panel1);
    Button2->setObjectName(QStringLiteral("Button2"));
    connect(Button2, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { Button2Click(); }); });
    v->addWidget(Button2);
    Panel1->setFixedWidth(std::max(Label1->sizeHint().width(), Label2->sizeHint().width()) + 24);
    return Panel1;
}

QWidget* TOrphanSearch::buildOptionPanel() {
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Panel2"));
    frame->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    Panel2 = frame;
    auto* v = new QVBoxLayout(Panel2);
    v->setContentsMargins(8, 6, 8, 6);
    CheckBox5 = newCheckBox(QStringLiteral("参照先がハードディスク以外でも孤立と見なす(&R)"),
                            "CheckBox5", false, Panel2);
    CheckBox6 = newCheckBox(QStringLiteral("Software 以下のキーのみを検索対象とする(&K)"),
                            "CheckBox6", true, Panel2);
    CheckBox7 = newCheckBox(QStringLiteral("スペースが含まれるパスは検索対象から外す(&P)"),
                            "CheckBox7", false, Panel2);
    CheckBox8 = newCheckBox(QStringLiteral("フロッピーディスクへのアクセスはしない(&L)"),
                            "CheckBox8", true, Panel2);
    for (QCheckBox* box : {CheckBox5, CheckBox6, CheckBox7, CheckBox8})
        v->addWidget(box);
    return Panel2;
}

void TOrphanSearch::setUpList() {
    model_ = new OrphanTableModel(rows_, this);
    ListView1->setModel(model_);
    setUpResultView(ListView1);
    const std::array<int, OrphanTableModel::ColumnCount> widths{260, 150, 280, 120, 220};
    for (int c = 0; c < OrphanTableModel::ColumnCount; ++c)
        ListView1->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
    // The rows keep the scan order until a header is clicked.
    ListView1->header()->setSortIndicator(-1, Qt::AscendingOrder);
    ListView1->setSortingEnabled(true);
    // Clicks and arrow keys both move the current row.
    connect(ListView1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    ListView1Click(current.row());
            });
    connect(ListView1, &QAbstractItemView::doubleClicked, this,
            [this] { runGuarded(this, [this] { ListView1DblClick(); }); });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    const auto item = [this](const QString& text, const char* name,
                             void (TOrphanSearch::*handler)()) {
        QAction* a = PopupMenu1->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this,
                [this, handler] { runGuarded(this, [&] { (this->*handler)(); }); });
        return a;
    };
    DeleteChecked1 = item(QStringLiteral("チェックを入れたキーを削除(&D)"), "DeleteChecked1",
                          &TOrphanSearch::DeleteChecked1Click);
    PopupMenu1->setDefaultAction(DeleteChecked1);
    PopupMenu1->addSeparator();
    SelectAll1 =
        item(QStringLiteral("すべて選択(&A)"), "SelectAll1", &TOrphanSearch::SelectAll1Click);
    SelectNone1 =
        item(QStringLiteral("すべて選択解除(&E)"), "SelectNone1", &TOrphanSearch::SelectNone1Click);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenu1->popup(ListView1->viewport()->mapToGlobal(at));
    });
}

// --- options ------------------------------------------------------------------------------------

bool TOrphanSearch::optionsShown() const {
    return !Panel2->isHidden();
}

void TOrphanSearch::showOptions(bool on) {
    Panel2->setVisible(on);
    Label2->setText(on ? optionsOpenText() : optionsClosedText());
}

bool TOrphanSearch::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label2 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label2Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TOrphanSearch::Label2Click() {
    showOptions(!optionsShown());
}

void TOrphanSearch::ToolButton1Click() {
    showOptions(!optionsShown());
}

OrphanOptions TOrphanSearch::options() const {
    OrphanOptions o;
    o.roots = {CheckBox1->isChecked(), CheckBox2->isChecked(), CheckBox3->isChecked(),
               CheckBox4->isChecked()};
    o.anyDrive = CheckBox5->isChecked();
    o.softwareOnly = CheckBox6->isChecked();
    o.skipBlanks = CheckBox7->isChecked();
    o.skipFloppy = CheckBox8->isChecked();
    // An empty setting names no drive: no target starts with the NUL character.
    const std::string floppy = frame_.settings().readString("SETUP", "FLOPPY", "A");
    o.floppy = floppy.empty() ? '\0' : floppy.front();
    return o;
}

// --- the scan -----------------------------------------------------------------------------------

void TOrphanSearch::setRunning(bool on) {
    running_ = on;
    Button1->setEnabled(!on);
    Button2->setEnabled(on);
    ToolButton6->setEnabled(on);
    // The rows are still being appended: deleting, saving or sorting them waits.
    ToolButton4->setEnabled(!on);
    ToolButton5->setEnabled(!on);
    DeleteChecked1->setEnabled(!on);
    ListView1->header()->setSectionsClickable(!on);
}

void TOrphanSearch::Button1Click() {
    if (running_)
        return;
    showOptions(false);
    rows_.clear();
    ListView1->header()->setSortIndicator(-1, Qt::AscendingOrder);
    model_->reload();
    ListView1->setToolTip(QString());
    stop_ = false;
    progress_.clear();
    const OrphanOptions o = options();
    std::string error;
    {
        RunningScope running(this, &TOrphanSearch::setRunning);
        EventPump pump(
            [this] {
                model_->sync();
                // The stop text stays until the scan has returned.
                if (!stop_ && !progress_.empty())
                    StatusBar1->setText(toQString(progress_));
            },
            pumpIntervalMs_);
        OrphanCallbacks cb;
        cb.row = [this](OrphanRow&& row) { rows_.push_back(std::move(row)); };
        cb.progress = [this](const std::string& text) { progress_ = text; };
        cb.pump = [&pump] { pump(); };
        cb.stop = &stop_;
        try {
            PathExistence files{DriveMap(systemFolder())};
            const OrphanOutcome out = scanOrphans(o, files, cb);
            if (out.error)
                error = *out.error;
        } catch (const std::exception& e) {
            error = describeError(e);
        }
        model_->sync();
    }
    StatusBar1->setText(QString::number(rows_.size()) +
                        QStringLiteral("個の不正値を発見してスキャンを終了しました"));
    if (closeRequested_) {
        closeWindow();
        return;
    }
    if (!error.empty())
        showError(this, toQString(error));
}

void TOrphanSearch::Button2Click() {
    if (!running_)
        return;
    stop_ = true;
    StatusBar1->setText(QStringLiteral("スキャンを中止しました"));
}

void TOrphanSearch::ToolButton6Click() {
    Button2Click();
}

// --- the rows -----------------------------------------------------------------------------------

void TOrphanSearch::setAllChecks(bool on) {
    for (OrphanRow& r : rows_)
        r.checked = on;
    model_->checksChanged();
}

void TOrphanSearch::ToolButton2Click() {
    setAllChecks(true);
}

void TOrphanSearch::ToolButton3Click() {
    setAllChecks(false);
}

void TOrphanSearch::SelectAll1Click() {
    setAllChecks(true);
}

void TOrphanSearch::SelectNone1Click() {
    setAllChecks(false);
}

void TOrphanSearch::deleteChecked() {
    if (running_ ||
        std::none_of(rows_.begin(), rows_.end(), [](const OrphanRow& r) { return r.checked; }))
        return;
    const std::unique_ptr<UndoLog> log = openSharedUndoLog(this, frame_.settings());
    if (!log)
        return;
    // The boxes wait until the rows are settled: a box runs events while it is open.
    std::vector<std::string> failures;
    std::string error;
    bool listFile = false;
    try {
        deleteOrphans(rows_, *log, [&](const std::string& m) { failures.push_back(m); });
    } catch (const ListFileError& e) {
        error = e.what();
        listFile = true;
    } catch (const std::exception& e) {
        error = describeError(e);
    }
    model_->reload();
    ListView1->setToolTip(QString());
    for (const std::string& m : failures)
        showError(this, toQString(m));
    if (listFile)
        showListFileError(this, std::runtime_error(error));
    else if (!error.empty())
        showError(this, toQString(error));
}

void TOrphanSearch::ToolButton4Click() {
    deleteChecked();
}

void TOrphanSearch::DeleteChecked1Click() {
    deleteChecked();
}

void TOrphanSearch::ToolButton5Click() {
    if (running_)
        return;
    const auto& types = reportTypes();
    QString chosenType = types[0];
    const QString name = DialogService::instance().saveFileName(
        this, QStringLiteral("検索結果の保存"), QString(),
        QStringList(types.begin(), types.end()).join(QStringLiteral(";;")), &chosenType);
    if (name.isEmpty())
        return;
    const auto format = chosenType == types[1] ? OrphanReportFormat::Html : OrphanReportFormat::Csv;
    try {
        writeFileAtomically(std::filesystem::path(name.toStdString()), orphanReport(rows_, format));
    } catch (const std::exception& e) {
        showError(this, toQString(describeError(e)));
    }
}

void TOrphanSearch::ToolButton7Click() {
    showHelpTopic(this, 69);
}

void TOrphanSearch::ListView1Click(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size())
        return;
    const OrphanRow& r = rows_[static_cast<std::size_t>(row)];
    ListView1->setToolTip(QStringLiteral("　キー : ") + toQString(r.root) + QLatin1Char('\\') +
                          toQString(r.key) + QStringLiteral("　\n　名前 : ") + toQString(r.name) +
                          QStringLiteral("　\n　不正値 : ") + toQString(r.data) +
                          QStringLiteral("　"));
}

void TOrphanSearch::ListView1DblClick() {
    const QModelIndex current = ListView1->currentIndex();
    if (!current.isValid() || current.row() >= model_->rowCount() ||
        !ListView1->selectionModel()->isRowSelected(current.row()))
        return;
    const OrphanRow& r = rows_[static_cast<std::size_t>(current.row())];
    frame_.JumpTo(toQString(r.root) + QLatin1Char('\\') + toQString(r.key), toQString(r.name),
                  true);
}

// --- closing ------------------------------------------------------------------------------------

void TOrphanSearch::ToolButton8Click() {
    closeWindow();
}

void TOrphanSearch::closeWindow() {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->close();
    else
        close();
}

void TOrphanSearch::closeEvent(QCloseEvent* event) {
    // The scan below holds this window: stop it, and close once it has unwound.
    if (running_) {
        stop_ = true;
        closeRequested_ = true;
        event->ignore();
        return;
    }
    closeRequested_ = false;
    QWidget::closeEvent(event);
}

} // namespace klv
