#include "gui/tracking/ChangeTrack.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/ErrorText.h"
#include "core/platform/Folders.h"
#include "core/platform/TimeText.h"
#include "core/registry/RootKeys.h"
#include "core/settings/SettingsFile.h"
#include "gui/browse/RegBrowse.h"
#include "gui/tracking/ChangeTableModel.h"
#include "gui/tracking/ListDataViewer.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/EventPump.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/RowVectorModel.h"
#include "gui/widgets/TextBridge.h"
#include "gui/widgets/ToolBarItems.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>

namespace klv {
namespace {

constexpr int kRootRole = Qt::UserRole; // the row's root name (CP932 is ASCII here)

std::string cp(const QString& text) {
    return toCp932(text).value_or(std::string());
}

const QString& neverBuilt() {
    static const QString s = QStringLiteral("まだ構築されていません");
    return s;
}

QString builtNow() {
    return QStringLiteral("構築済　") + toQString(listTimeTextNow());
}

std::uintmax_t fileSize(const std::filesystem::path& file) {
    std::error_code ec;
    const std::uintmax_t n = std::filesystem::file_size(file, ec);
    return ec ? 0 : n;
}

std::filesystem::path databaseFile(const std::string& root) {
    return snapshotFile(programFolder(), root);
}

// The file types of the save dialog, in ReportFormat order.
const std::array<QString, 3>& reportTypes() {
    static const std::array<QString, 3> types{QStringLiteral("カンマ区切りテキスト (*.CSV)"),
                                              QStringLiteral("整形テキスト (*.TXT)"),
                                              QStringLiteral("HTML (*.HTM)")};
    return types;
}

// Marks a loop as running for as long as it is on the stack, whatever way it leaves.
class RunningScope {
public:
    explicit RunningScope(std::function<void(bool)> set) : set_(std::move(set)) { set_(true); }
    ~RunningScope() { set_(false); }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    std::function<void(bool)> set_;
};

} // namespace

TChangeTrack::TChangeTrack(FrameHost& frame, QWidget* parent) : QWidget(parent), frame_(frame) {
    setObjectName(QStringLiteral("ChangeTrack"));
    setWindowTitle(QStringLiteral("レジストリの変更箇所の追跡"));
    setWindowIcon(ImageLists::toolImage(ImageLists::ToolImage::ChangeTracking));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(buildToolBar());
    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    layout->addWidget(ListView1);
    layout->addWidget(buildStartPositionRow());
    Label2 =
        new QLabel(QStringLiteral("比較対象とするデータベースにチェックを入れてください"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    // A long key path on the progress line must not widen the window.
    Label2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(Label2);
    ListView2 = new QTreeView(this);
    ListView2->setObjectName(QStringLiteral("ListView2"));
    layout->addWidget(ListView2, 1);
    setUpDatabaseList();
    setUpResultList();
    setRunning(false);
    ListView1Change(nullptr);
    FormActivate();
    resize(900, 600);
}

TChangeTrack::~TChangeTrack() = default;

TListDataViewer* TChangeTrack::viewer() const {
    return viewer_;
}

QToolBar* TChangeTrack::buildToolBar() {
    ToolBar1 = makeTextToolBar(this);
    const auto add = [this](ImageLists::ToolImage image, const QString& text, const char* name,
                            void (TChangeTrack::*handler)(), bool iconOnly = false) {
        QAction* a = addToolButton(ToolBar1, image, text, name, this,
                                   [this, handler] { (this->*handler)(); });
        // The checking pair would take half the bar's width as text; their hints tell.
        if (iconOnly)
            showIconOnly(ToolBar1, a);
        return a;
    };
    using T = ImageLists::ToolImage;
    ToolButton1 = add(T::CheckAll, QStringLiteral("すべてのデータベースを対象とする"),
                      "ToolButton1", &TChangeTrack::ToolButton1Click, true);
    ToolButton2 = add(T::UncheckAll, QStringLiteral("すべてのデータベースを対象としない"),
                      "ToolButton2", &TChangeTrack::ToolButton2Click, true);
    ToolBar1->addSeparator();
    ToolButton3 = add(T::BuildDatabase, QStringLiteral("データベースを構築、あるいは再構築する"),
                      "ToolButton3", &TChangeTrack::ToolButton3Click);
    ToolButton4 = add(T::Stop, QStringLiteral("追跡を中止する"), "ToolButton4",
                      &TChangeTrack::ToolButton4Click);
    ToolBar1->addSeparator();
    CheckBox1 = new QCheckBox(QStringLiteral("再構築"), ToolBar1);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setToolTip(QStringLiteral("データベースと照合する際に再構築を行う"));
    CheckBox1->setChecked(true);
    ToolBar1->addWidget(CheckBox1);
    ToolButton5 = add(T::ChangeTracking, QStringLiteral("追跡を開始する"), "ToolButton5",
                      &TChangeTrack::ToolButton5Click);
    ToolButton6 = add(T::Save, QStringLiteral("検出結果を保存する"), "ToolButton6",
                      &TChangeTrack::ToolButton6Click);
    ToolBar1->addSeparator();
    ToolButton7 = add(T::CloseWindow, QStringLiteral("閉じる"), "ToolButton7",
                      &TChangeTrack::ToolButton7Click);
    return ToolBar1;
}

QWidget* TChangeTrack::buildStartPositionRow() {
    auto* row = new QWidget(this);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 2, 0, 2);
    auto* label = new QLabel(QStringLiteral("検証開始位置の変更 : "), row);
    label->setObjectName(QStringLiteral("Label1"));
    h->addWidget(label);
    Edit1 = new QLineEdit(row);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setReadOnly(true);
    Edit1->setToolTip(QStringLiteral("[ ･･･ ] ボタンを押して位置を選択します"));
    h->addWidget(Edit1, 1);
    Button1 = new QPushButton(QStringLiteral("･･･"), row);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFixedWidth(Button1->fontMetrics().horizontalAdvance(QStringLiteral("･･･")) + 24);
    connect(Button1, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { Button1Click(); }); });
    h->addWidget(Button1);
    Button2 = new QPushButton(QStringLiteral("変更"), row);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setToolTip(QStringLiteral("検証開始位置の変更を反映します"));
    connect(Button2, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { Button2Click(); }); });
    h->addWidget(Button2);
    return row;
}

void TChangeTrack::setUpDatabaseList() {
    ListView1->setColumnCount(4);
    ListView1->setHeaderLabels({QStringLiteral("データベース"), QStringLiteral("状態"),
                                QStringLiteral("検証開始位置"), QStringLiteral("サイズ")});
    ListView1->headerItem()->setTextAlignment(ColSize, Qt::AlignRight | Qt::AlignVCenter);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->header()->setStretchLastSection(false);
    // The HKEY_DYN_DATA row exists only on the Windows 95 family; elsewhere it stays in its
    // place, greyed, so the rows keep their fixed order.
    const bool nt = frame_.Label12 == QStringLiteral("1");
    for (std::size_t i = 0; i < kRootKeys.size(); ++i) {
        auto* item = new QTreeWidgetItem(ListView1);
        const QString root = toQString(kRootKeys[i].name);
        item->setText(ColDatabase, root);
        item->setData(ColDatabase, kRootRole, root);
        item->setTextAlignment(ColSize, Qt::AlignRight | Qt::AlignVCenter);
        Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable |
                              Qt::ItemNeverHasChildren;
        if (nt && kRootKeys[i].handle == HKEY_DYN_DATA_H)
            flags = Qt::ItemNeverHasChildren;
        item->setFlags(flags);
        item->setCheckState(ColDatabase, Qt::Unchecked);
    }
    const QFontMetrics fm = ListView1->fontMetrics();
    ListView1->setColumnWidth(ColDatabase,
                              fm.horizontalAdvance(QStringLiteral("HKEY_CURRENT_CONFIG")) + 60);
    ListView1->setColumnWidth(
        ColState, fm.horizontalAdvance(QStringLiteral("構築済　2000/00/00 00:00:00")) + 24);
    ListView1->setColumnWidth(ColStart, 260);
    ListView1->setColumnWidth(ColSize,
                              fm.horizontalAdvance(QStringLiteral("000,000,000 ﾊﾞｲﾄ")) + 24);
    fitDatabaseList();
    connect(ListView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { ListView1Change(current); });
}

// Six rows and the header, no more; measured again once the list is polished and shown.
void TChangeTrack::fitDatabaseList() {
    const int rows = ListView1->topLevelItemCount();
    const int rowHeight = std::max(ListView1->sizeHintForRow(0),
                                   ListView1->visualItemRect(ListView1->topLevelItem(0)).height());
    ListView1->setFixedHeight(ListView1->header()->sizeHint().height() + rowHeight * rows +
                              2 * ListView1->frameWidth() + 2);
}

void TChangeTrack::setUpResultList() {
    model_ = new ChangeTableModel(rows_, this);
    ListView2->setModel(model_);
    setUpResultView(ListView2);
    const std::array<int, ChangeTableModel::kColumns> widths{100, 100, 320, 140, 180, 180};
    for (int c = 0; c < ChangeTableModel::kColumns; ++c)
        ListView2->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
    // The rows keep the walk order until a header is clicked.
    ListView2->header()->setSortIndicator(-1, Qt::AscendingOrder);
    ListView2->setSortingEnabled(true);
    connect(ListView2, &QAbstractItemView::doubleClicked, this, [this] { ListView2DblClick(); });
}

void TChangeTrack::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    fitDatabaseList();
    // Inside the frame the window is refreshed each time its child window becomes active.
    if (activationHooked_)
        return;
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        if (QMdiArea* area = sub->mdiArea()) {
            activationHooked_ = true;
            connect(area, &QMdiArea::subWindowActivated, this, [this, sub](QMdiSubWindow* w) {
                if (w == sub)
                    runGuarded(this, [this] { FormActivate(); });
            });
        }
}

// --- the database list --------------------------------------------------------------------------

void TChangeTrack::FormActivate() {
    // A running loop owns the states it shows.
    if (running_)
        return;
    SettingsFile& settings = frame_.settings();
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = ListView1->topLevelItem(i);
        const std::string root = cp(row->data(ColDatabase, kRootRole).toString());
        const std::filesystem::path file = databaseFile(root);
        std::error_code ec;
        if (std::filesystem::is_regular_file(file, ec)) {
            row->setText(ColState,
                         toQString(settings.readString("REG_CHANGE", root + "_1",
                                                       cp(QStringLiteral("情報取得エラー")))));
            row->setText(ColStart, toQString(settings.readString("REG_CHANGE", root + "_2", "\\")));
            row->setText(ColSize, toQString(snapshotSizeText(fileSize(file))));
        } else {
            row->setText(ColState, neverBuilt());
            row->setText(ColStart, QStringLiteral("\\"));
            row->setText(ColSize, toQString(snapshotSizeText(0)));
        }
    }
}

void TChangeTrack::ListView1Change(QTreeWidgetItem* row) {
    const bool usable = row && (row->flags() & Qt::ItemIsEnabled);
    Edit1->setText(usable ? row->text(ColStart) : QString());
    Button1->setEnabled(usable);
    Button2->setEnabled(usable);
}

QTreeWidgetItem* TChangeTrack::rowOf(const std::string& root) const {
    const QString name = toQString(root);
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        if (ListView1->topLevelItem(i)->data(ColDatabase, kRootRole).toString() == name)
            return ListView1->topLevelItem(i);
    return nullptr;
}

std::vector<std::string> TChangeTrack::checkedRoots() const {
    std::vector<std::string> roots;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = ListView1->topLevelItem(i);
        if ((row->flags() & Qt::ItemIsEnabled) && row->checkState(ColDatabase) == Qt::Checked)
            roots.push_back(cp(row->data(ColDatabase, kRootRole).toString()));
    }
    return roots;
}

void TChangeTrack::Button1Click() {
    QTreeWidgetItem* row = ListView1->currentItem();
    if (!row || !(row->flags() & Qt::ItemIsEnabled))
        return;
    const QString root = row->data(ColDatabase, kRootRole).toString();
    frame_.Label11 = root;
    TRegBrowse::browse(frame_, this);
    frame_.Label11 = QStringLiteral("All");
    const QString chosen = frame_.Label10;
    if (chosen.isEmpty())
        return;
    const int slash = chosen.indexOf(QLatin1Char('\\'));
    if (slash < 0)
        Edit1->setText(QStringLiteral("\\"));
    else
        Edit1->setText(chosen.mid(slash));
}

void TChangeTrack::Button2Click() {
    QTreeWidgetItem* row = ListView1->currentItem();
    if (!row || !(row->flags() & Qt::ItemIsEnabled) || Edit1->text().isEmpty())
        return;
    const auto start = toCp932(Edit1->text());
    if (!start) {
        showError(this, unconvertibleTextMessage(Edit1->text()));
        return;
    }
    const std::string root = cp(row->data(ColDatabase, kRootRole).toString());
    try {
        frame_.settings().writeString("REG_CHANGE", root + "_2", *start);
    } catch (const std::exception& e) {
        // The row keeps the position that the settings file still holds.
        showError(this, toQString(describeError(e)));
        return;
    }
    row->setText(ColStart, Edit1->text());
}

void TChangeTrack::ToolButton1Click() {
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = ListView1->topLevelItem(i);
        if (row->flags() & Qt::ItemIsEnabled)
            row->setCheckState(ColDatabase, Qt::Checked);
    }
}

void TChangeTrack::ToolButton2Click() {
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(ColDatabase, Qt::Unchecked);
}

// --- build and comparison -----------------------------------------------------------------------

TrackingCallbacks TChangeTrack::callbacks(EventPump& pump) {
    TrackingCallbacks cb;
    cb.progress = [this](const std::string& text) { progress_ = text; };
    cb.pump = [&pump] { pump(); };
    cb.stop = &stop_;
    return cb;
}

void TChangeTrack::setRunning(bool on) {
    running_ = on;
    ToolButton3->setEnabled(!on);
    ToolButton5->setEnabled(!on);
    ToolButton4->setEnabled(on);
    // Sorting would move rows under the comparison that appends them.
    ListView2->header()->setSectionsClickable(!on);
}

void TChangeTrack::showBuilt(QTreeWidgetItem* row) {
    const std::string root = cp(row->data(ColDatabase, kRootRole).toString());
    row->setText(ColState, builtNow());
    row->setText(ColSize, toQString(snapshotSizeText(fileSize(databaseFile(root)))));
    // Kept at once, so that the next activation's refresh shows the build too.
    try {
        frame_.settings().writeString("REG_CHANGE", root + "_1", cp(row->text(ColState)));
    } catch (const std::exception&) {
        // Written again when the window closes, which reports a failure.
    }
}

// Builds one row's database; false when the build must end here.
bool TChangeTrack::buildOne(QTreeWidgetItem* row) {
    const std::string root = cp(row->data(ColDatabase, kRootRole).toString());
    // The flag stays set for the rest of the build: later rows are left unbuilt.
    if (stop_) {
        row->setText(ColState, neverBuilt());
        return true;
    }
    const QString before = row->text(ColState);
    row->setText(ColState, QStringLiteral("構築中..."));
    EventPump pump([this] { Label2->setText(toQString(progress_)); }, pumpIntervalMs_);
    BuildOutcome out;
    try {
        out = buildSnapshot(root, databaseFile(root), callbacks(pump));
    } catch (const std::exception& e) {
        // The old file is still there, and so is its state.
        row->setText(ColState, before);
        showError(this, toQString(describeError(e)));
        return false;
    }
    if (out.error) {
        showError(this, toQString(*out.error));
        return false;
    }
    if (out.stopped || stop_) {
        row->setText(ColState, neverBuilt());
        return true;
    }
    showBuilt(row);
    return true;
}

void TChangeTrack::ToolButton3Click() {
    if (running_)
        return;
    stop_ = false;
    {
        RunningScope running([this](bool on) { setRunning(on); });
        bool completed = true;
        for (const std::string& root : checkedRoots())
            if (QTreeWidgetItem* row = rowOf(root); row && !buildOne(row)) {
                completed = false;
                break;
            }
        if (completed)
            Label2->setText(QStringLiteral("データベースの構築が完了しました"));
    }
    if (closeRequested_)
        closeWindow();
}

void TChangeTrack::ToolButton4Click() {
    stop_ = true;
}

// Compares one row's database; false when the comparison must end here.
bool TChangeTrack::compareOne(QTreeWidgetItem* row, bool rebuild) {
    const std::string root = cp(row->data(ColDatabase, kRootRole).toString());
    const auto start = toCp932(row->text(ColStart));
    EventPump pump(
        [this] {
            model_->sync();
            Label2->setText(toQString(progress_));
        },
        pumpIntervalMs_);
    CompareOutcome out;
    try {
        out = compareSnapshot(root, start.value_or("\\"), databaseFile(root), rebuild,
                              callbacks(pump), rows_);
    } catch (const std::exception& e) {
        model_->sync();
        showError(this, toQString(describeError(e)));
        return false;
    }
    model_->sync();
    if (out.error) {
        showError(this, toQString(*out.error));
        return false;
    }
    Label2->setText(toQString(root) +
                    QStringLiteral(" のデータベース照合と再構築が終了しました..."));
    if (rebuild)
        showBuilt(row);
    return !out.stopped && !stop_;
}

void TChangeTrack::ToolButton5Click() {
    if (running_)
        return;
    if (frame_.settings().readBool("OPTION", "MSG", true) && !rows_.empty() &&
        DialogService::instance().message(
            this, QStringLiteral("問い合わせ"),
            QStringLiteral("再検証を始めると、この検証結果はクリアされます。検証結果のデータを保存"
                           "しますか。"),
            MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes)
        saveResults(false);
    const std::vector<std::string> roots = checkedRoots();
    if (roots.empty()) {
        Label2->setText(QStringLiteral("検索エラーです。比較対象とするデータベースにチェックが入れ"
                                       "て、再度実行してください。"));
        return;
    }
    rows_.clear();
    ListView2->header()->setSortIndicator(-1, Qt::AscendingOrder);
    model_->reload();
    stop_ = false;
    Label2->setText(QStringLiteral("データベースを読み込んでいます..."));
    const bool rebuild = CheckBox1->isChecked();
    {
        RunningScope running([this](bool on) { setRunning(on); });
        for (const std::string& root : roots)
            if (QTreeWidgetItem* row = rowOf(root); row && !compareOne(row, rebuild))
                break;
    }
    if (closeRequested_)
        closeWindow();
}

// --- results ------------------------------------------------------------------------------------

bool TChangeTrack::saveResults(bool offerToOpen) {
    const auto& types = reportTypes();
    QString chosenType = types[0];
    const QString name = DialogService::instance().saveFileName(
        this, QStringLiteral("検証結果の保存"), QString(),
        QStringList(types.begin(), types.end()).join(QStringLiteral(";;")), &chosenType);
    if (name.isEmpty())
        return false;
    const auto type = std::find(types.begin(), types.end(), chosenType);
    const auto format =
        static_cast<ReportFormat>(type == types.end() ? 0 : std::distance(types.begin(), type));
    const std::filesystem::path file = reportFileName(name.toStdString(), format);
    try {
        writeFileAtomically(file, changeReport(rows_, format));
    } catch (const std::exception& e) {
        showError(this, toQString(describeError(e)));
        return false;
    }
    const QString shown = QString::fromStdString(file.string());
    if (offerToOpen &&
        DialogService::instance().message(this, QStringLiteral("確認"),
                                          QStringLiteral("保存したファイルを開きますか？"),
                                          MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes &&
        !DialogService::instance().openWithDesktop(shown))
        showError(this, QStringLiteral("保存したファイルを開けませんでした。\n\n") + shown);
    return true;
}

void TChangeTrack::ToolButton6Click() {
    saveResults(true);
}

void TChangeTrack::ListView2DblClick() {
    const QModelIndex current = ListView2->currentIndex();
    if (!current.isValid() || current.row() >= model_->rowCount())
        return;
    if (!viewer_)
        viewer_ = new TListDataViewer(this);
    viewer_->showRow(rows_[static_cast<std::size_t>(current.row())]);
    viewer_->show();
    viewer_->raise();
    viewer_->activateWindow();
}

// --- closing ------------------------------------------------------------------------------------

void TChangeTrack::ToolButton7Click() {
    closeWindow();
}

void TChangeTrack::closeWindow() {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->close();
    else
        close();
}

void TChangeTrack::writeRowSettings() {
    try {
        SettingsFile& settings = frame_.settings();
        for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* row = ListView1->topLevelItem(i);
            const std::string root = cp(row->data(ColDatabase, kRootRole).toString());
            settings.writeString("REG_CHANGE", root + "_1", cp(row->text(ColState)));
            settings.writeString("REG_CHANGE", root + "_2", cp(row->text(ColStart)));
        }
    } catch (const std::exception& e) {
        showError(this, toQString(describeError(e)));
    }
}

void TChangeTrack::closeEvent(QCloseEvent* event) {
    // The loop below holds this window: stop it, and close once it has unwound.
    if (running_) {
        stop_ = true;
        closeRequested_ = true;
        event->ignore();
        return;
    }
    closeRequested_ = false;
    writeRowSettings();
    delete viewer_;
    QWidget::closeEvent(event);
}

} // namespace klv
