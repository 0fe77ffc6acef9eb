#include "gui/search/SearchResult.h"

#include "core/undo/UndoLog.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/RowVectorModel.h"
#include "gui/widgets/SharedUndoLog.h"
#include "gui/widgets/TextBridge.h"
#include "gui/widgets/WaitCursor.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>

namespace klv {

// The rows vector as the list shows it: one object per window, no item per cell, so that a
// search with hundreds of thousands of hits stays quick.
class HitTableModel : public RowVectorModel<SearchHit> {
public:
    HitTableModel(std::vector<SearchHit>& rows, QObject* parent)
        : RowVectorModel<SearchHit>(rows, parent) {
        icons_ = {ImageLists::treeImage(ImageLists::TreeKeyClosed),
                  ImageLists::treeImage(ImageLists::TreeKeyOpen),
                  ImageLists::toolImage(ImageLists::ToolImage::Rename),
                  ImageLists::sharedImage(ImageLists::ImgString),
                  ImageLists::sharedImage(ImageLists::ImgInteger)};
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : kHitColumns;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        // The dialog may change the rows before it says so: never read past them.
        if (!index.isValid() || static_cast<std::size_t>(index.row()) >= rows_.size())
            return {};
        const SearchHit& hit = rows_[static_cast<std::size_t>(index.row())];
        switch (role) {
        case Qt::DisplayRole:
            return toQString(hit.texts[static_cast<std::size_t>(index.column())]);
        case Qt::DecorationRole:
            if (index.column() == kColKind)
                return icons_[static_cast<std::size_t>(hit.mark)];
            break;
        case Qt::CheckStateRole:
            if (index.column() == kColKind)
                return hit.checked ? Qt::Checked : Qt::Unchecked;
            break;
        default:
            break;
        }
        return {};
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (role != Qt::CheckStateRole || index.column() != kColKind || !index.isValid() ||
            static_cast<std::size_t>(index.row()) >= rows_.size())
            return false;
        rows_[static_cast<std::size_t>(index.row())].checked =
            value.toInt() == static_cast<int>(Qt::Checked);
        emit dataChanged(index, index, {Qt::CheckStateRole});
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid())
            return Qt::NoItemFlags;
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
        if (index.column() == kColKind)
            f |= Qt::ItemIsUserCheckable;
        return f;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const std::array<QString, kHitColumns> headers{
            QStringLiteral("種類"),         QStringLiteral("ヒット文字列"),
            QStringLiteral("ルートキー"),   QStringLiteral("キー"),
            QStringLiteral("名前"),         QStringLiteral("データ"),
            QStringLiteral("最終書込日時"), QStringLiteral("差し替え置換"),
            QStringLiteral("全体置換")};
        if (orientation != Qt::Horizontal || section < 0 || section >= kHitColumns)
            return {};
        if (role == Qt::DisplayRole)
            return headers[static_cast<std::size_t>(section)];
        // A header clicked for the first time sorts ascending.
        if (role == Qt::InitialSortOrderRole)
            return static_cast<int>(Qt::AscendingOrder);
        return {};
    }

    // Sorts the rows themselves, so that the runs' "from the last up" is the order shown.
    void sort(int column, Qt::SortOrder order) override {
        if (column < 0 || column >= kHitColumns || rows_.empty())
            return;
        const auto c = static_cast<std::size_t>(column);
        sortRows(order, [c](const SearchHit& h) -> const std::string& { return h.texts[c]; });
    }

    void append(std::vector<SearchHit>&& hits) {
        if (hits.empty())
            return;
        const int first = static_cast<int>(rows_.size());
        beginInsertRows({}, first, first + static_cast<int>(hits.size()) - 1);
        rows_.insert(rows_.end(), std::make_move_iterator(hits.begin()),
                     std::make_move_iterator(hits.end()));
        endInsertRows();
    }

    void reload() {
        beginResetModel();
        endResetModel();
    }

    void checksChanged() {
        if (!rows_.empty())
            emit dataChanged(index(0, kColKind), index(rowCount() - 1, kColKind),
                             {Qt::CheckStateRole});
    }

private:
    std::array<QIcon, 5> icons_;
};

namespace {

constexpr int kPanelWidth = 250;
constexpr int kPanelTextWidth = kPanelWidth - 24;
constexpr int kAnimationFrames = 8;

const std::array<int, kHitColumns> kWidths{80, 220, 140, 300, 120, 120, 120, 0, 0};
constexpr int kReplaceColumnWidth = 150;

// The choices of "チェックを入れる種類", in TickKind order.
QStringList tickChoices() {
    return {QStringLiteral("すべて"),          QStringLiteral("文字列値のみ"),
            QStringLiteral("数値のみ"),        QStringLiteral("文字列値と数値"),
            QStringLiteral("名前のみ"),        QStringLiteral("末端のキーのみ"),
            QStringLiteral("すべてのキーのみ")};
}

// One frame of the folder search: a folder with a magnifying glass circling over it.
QPixmap animationFrame(int frame) {
    QPixmap pix(48, 40);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(150, 110, 20), 1));
    p.setBrush(QColor(240, 200, 80));
    QPainterPath folder;
    folder.moveTo(4, 12);
    folder.lineTo(16, 12);
    folder.lineTo(19, 15);
    folder.lineTo(36, 15);
    folder.lineTo(36, 34);
    folder.lineTo(4, 34);
    folder.closeSubpath();
    p.drawPath(folder);
    p.setBrush(QColor(250, 220, 120));
    p.drawRect(QRectF(4, 18, 32, 16));
    const double angle = 2 * 3.14159265358979 * frame / kAnimationFrames;
    const QPointF centre(26 + 8 * std::cos(angle), 18 + 6 * std::sin(angle));
    p.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(5, 5), centre + QPointF(11, 11));
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.setBrush(QColor(200, 230, 255, 190));
    p.drawEllipse(centre, 7, 7);
    return pix;
}

QLabel* newLabel(const QString& text, QWidget* parent, const QString& name = {}) {
    auto* l = new QLabel(text, parent);
    if (!name.isEmpty())
        l->setObjectName(name);
    return l;
}

} // namespace

TSearchResult::TSearchResult(FrameHost& frame, const SearchRequest& request, QWidget* parent)
    : QWidget(parent), frame_(frame), request_(request),
      actions_(nullptr, request.text, request.replacement) {
    setObjectName(QStringLiteral("SearchResult"));
    setWindowTitle(QStringLiteral("レジストリの検索結果"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(buildBand());
    layout->addWidget(buildToolBar());
    auto* body = new QHBoxLayout;
    layout->addLayout(body, 1);
    if (request_.replaceMode)
        body->addWidget(buildReplacePanel());
    ListView1 = new QTreeView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    body->addWidget(ListView1, 1);
    setUpList();
    resize(900, 520);
}

TSearchResult::~TSearchResult() = default;

QWidget* TSearchResult::buildBand() {
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* band = new QHBoxLayout(Panel1);
    band->setContentsMargins(4, 2, 4, 2);
    Animate1 = newLabel({}, Panel1, QStringLiteral("Animate1"));
    Animate1->setFixedSize(48, 40);
    Animate1->setPixmap(animationFrame(0));
    band->addWidget(Animate1);
    auto* lines = new QVBoxLayout;
    Label1 = newLabel({}, Panel1, QStringLiteral("Label1"));
    Label2 = newLabel({}, Panel1, QStringLiteral("Label2"));
    // A long location must not widen the window.
    for (QLabel* l : {Label1, Label2})
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lines->addWidget(Label1);
    lines->addWidget(Label2);
    band->addLayout(lines, 1);
    animationTimer_ = new QTimer(this);
    animationTimer_->setInterval(120);
    connect(animationTimer_, &QTimer::timeout, this, [this] { advanceAnimation(); });
    return Panel1;
}

QToolBar* TSearchResult::buildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolButton1 = ToolBar1->addAction(QStringLiteral("ﾁｪｯｸを入れる"));
    ToolButton1->setObjectName(QStringLiteral("ToolButton1"));
    connect(ToolButton1, &QAction::triggered, this, [this] { ToolButton1Click(); });
    auto* kindLabel = newLabel(QStringLiteral("チェックを入れる種類(&L) : "), ToolBar1);
    ToolBar1->addWidget(kindLabel);
    ComboBox1 = new QComboBox(ToolBar1);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItems(tickChoices());
    kindLabel->setBuddy(ComboBox1);
    ToolBar1->addWidget(ComboBox1);
    ToolButton2 = ToolBar1->addAction(QStringLiteral("ﾁｪｯｸを外す"));
    ToolButton2->setObjectName(QStringLiteral("ToolButton2"));
    connect(ToolButton2, &QAction::triggered, this, [this] { ToolButton2Click(); });
    ToolBar1->addSeparator();
    ToolButton3 = ToolBar1->addAction(ImageLists::toolImage(ImageLists::ToolImage::Delete),
                                      QStringLiteral("削除する"));
    ToolButton3->setObjectName(QStringLiteral("ToolButton3"));
    ToolButton3->setToolTip(QStringLiteral("チェックしたキーや値をすべて削除"));
    connect(ToolButton3, &QAction::triggered, this, [this] { ToolButton3Click(); });
    ToolBar1->addWidget(
        newLabel(QStringLiteral("削除オプション（危険なので要注意） : "), ToolBar1));
    CheckBox1 =
        new QCheckBox(QStringLiteral("サブキーがある場合でもサブキーごと削除する(&B)"), ToolBar1);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setToolTip(QStringLiteral(
        "検出されたキーの下にサブキーがある場合、検出されたキーを削除することは、そのサブキーご"
        "と削除されることになります。このオプションをオフにしている場合、サブキーがあるものは削除"
        "から除外されます。"));
    ToolBar1->addWidget(CheckBox1);
    ToolBar1->addSeparator();
    ToolButton4 = ToolBar1->addAction(ImageLists::toolImage(ImageLists::ToolImage::CloseWindow),
                                      QStringLiteral("閉じる"));
    ToolButton4->setObjectName(QStringLiteral("ToolButton4"));
    connect(ToolButton4, &QAction::triggered, this, [this] { ToolButton4Click(); });
    return ToolBar1;
}

QWidget* TSearchResult::buildReplacePanel() {
    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedWidth(kPanelWidth);
    auto* v = new QVBoxLayout(Panel2);
    v->setContentsMargins(6, 4, 6, 4);
    auto* heading = newLabel(QStringLiteral("置換"), Panel2, QStringLiteral("Label5"));
    QFont big = heading->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    heading->setFont(big);
    v->addWidget(heading);
    v->addWidget(newLabel(QStringLiteral("置換文字列 : "), Panel2, QStringLiteral("Label6")));
    Label7 = newLabel(toQString(request_.replacement), Panel2, QStringLiteral("Label7"));
    QFont bold = Label7->font();
    bold.setBold(true);
    Label7->setFont(bold);
    Label7->setStyleSheet(QStringLiteral("color: red;"));
    Label7->setWordWrap(true);
    Label7->setIndent(12);
    v->addWidget(Label7);
    v->addSpacing(8);
    v->addWidget(newLabel(QStringLiteral("置換の方法を選択してください : "), Panel2,
                          QStringLiteral("Label8")));
    RadioButton1 = new QRadioButton(QStringLiteral("該当文字のみを差し替えて置換(&A)"), Panel2);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton1->setChecked(true);
    v->addWidget(RadioButton1);
    Label9 = newLabel(QStringLiteral("置換前 :"), Panel2, QStringLiteral("Label9"));
    Label10 = newLabel(QStringLiteral("置換後 : "), Panel2, QStringLiteral("Label10"));
    RadioButton2 = new QRadioButton(QStringLiteral("ヒット文字列全体と置換(&O)"), Panel2);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    Label11 = newLabel(QStringLiteral("置換前 : "), Panel2, QStringLiteral("Label11"));
    Label12 = newLabel(QStringLiteral("置換後 : "), Panel2, QStringLiteral("Label12"));
    for (QLabel* l : {Label9, Label10, Label11, Label12}) {
        l->setIndent(20);
        l->setFixedWidth(kPanelTextWidth);
    }
    v->addWidget(Label9);
    v->addWidget(Label10);
    v->addWidget(RadioButton2);
    v->addWidget(Label11);
    v->addWidget(Label12);
    v->addStretch(1);
    Button1 = new QPushButton(QStringLiteral("置換開始(&S)"), Panel2);
    Button1->setObjectName(QStringLiteral("Button1"));
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    v->addWidget(Button1);
    return Panel2;
}

void TSearchResult::setUpList() {
    model_ = new HitTableModel(rows_, this);
    ListView1->setModel(model_);
    setUpResultView(ListView1);
    QHeaderView* header = ListView1->header();
    header->setSectionsMovable(true);
    header->setFirstSectionMovable(true);
    for (int c = 0; c < kHitColumns; ++c)
        ListView1->setColumnWidth(c, kWidths[static_cast<std::size_t>(c)]);
    // The kind column holds a check box, an icon and the longest kind name; a larger font
    // than the one it was sized for would cut the name.
    const int kindWidth = ListView1->fontMetrics().horizontalAdvance(QStringLiteral("文字列")) + 60;
    ListView1->setColumnWidth(kColKind, std::max(kWidths[kColKind], kindWidth));
    if (request_.replaceMode) {
        ListView1->setColumnWidth(kColPreview, kReplaceColumnWidth);
        ListView1->setColumnWidth(kColReplacement, kReplaceColumnWidth);
        // The replacement relies on the walk order.
        ListView1->setSortingEnabled(false);
        header->setSectionsClickable(false);
        header->setSortIndicatorShown(false);
    } else {
        // No sort until the user clicks a header: the rows keep the walk order.
        header->setSortIndicator(-1, Qt::AscendingOrder);
        ListView1->setSortingEnabled(true);
    }
    connect(ListView1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    ListView1Click(current.row());
            });
    connect(ListView1, &QAbstractItemView::doubleClicked, this, [this] { ListView1DblClick(); });
}

// --- the dialog's side --------------------------------------------------------------------------

void TSearchResult::setProgressLines(const QString& first, const QString& second) {
    Label1->setText(first);
    Label2->setText(second);
}

void TSearchResult::setAnimationRunning(bool on) {
    if (on)
        animationTimer_->start();
    else
        animationTimer_->stop();
}

void TSearchResult::advanceAnimation() {
    animationFrame_ = (animationFrame_ + 1) % kAnimationFrames;
    Animate1->setPixmap(animationFrame(animationFrame_));
}

void TSearchResult::hideProgressBand() {
    animationTimer_->stop();
    Panel1->hide();
}

void TSearchResult::appendHits(std::vector<SearchHit>&& hits) {
    model_->append(std::move(hits));
}

std::vector<SearchHit>& TSearchResult::rows() {
    return rows_;
}

void TSearchResult::rowsChanged() {
    model_->reload();
}

// --- the toolbar --------------------------------------------------------------------------------

void TSearchResult::ToolButton1Click() {
    const int choice = std::max(0, ComboBox1->currentIndex());
    tickByKind(rows_, static_cast<TickKind>(choice));
    model_->checksChanged();
}

void TSearchResult::ToolButton2Click() {
    for (SearchHit& h : rows_)
        h.checked = false;
    model_->checksChanged();
}

namespace {

// Keeps the window from being used or closed while a run may process events.
class BusyWindow {
public:
    BusyWindow(QWidget* w, bool& busy) : w_(w), busy_(busy) {
        busy_ = true;
        w_->setEnabled(false);
    }
    ~BusyWindow() {
        w_->setEnabled(true);
        busy_ = false;
    }
    BusyWindow(const BusyWindow&) = delete;
    BusyWindow& operator=(const BusyWindow&) = delete;

private:
    QWidget* w_;
    bool& busy_;
    WaitCursor wait_;
};

} // namespace

void TSearchResult::ToolButton3Click() {
    if (busy_)
        return;
    if (DialogService::instance().message(
            this, QStringLiteral("最終確認"),
            QStringLiteral("この機能では［元に戻る］機能が働きませんので、削除したキーや値は元に戻"
                           "せません。\n\n本当に削除しますか？"),
            MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    const std::unique_ptr<UndoLog> log = openSharedUndoLog(this, frame_.settings());
    if (!log)
        return;
    DeleteOutcome out;
    {
        BusyWindow busy(this, busy_);
        out = actions_.deleteChecked(
            rows_, CheckBox1->isChecked(), *log,
            [this](const std::string& message) { showError(this, toQString(message)); });
    }
    model_->reload();
    if (!out.undoError.empty())
        showListFileError(this, std::runtime_error(out.undoError));
}

void TSearchResult::ToolButton4Click() {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->close();
    else
        close();
}

void TSearchResult::closeEvent(QCloseEvent* event) {
    if (busy_)
        event->ignore();
    else
        QWidget::closeEvent(event);
}

// --- the replace panel and the list -------------------------------------------------------------

void TSearchResult::Button1Click() {
    if (!request_.replaceMode || busy_)
        return;
    const std::unique_ptr<UndoLog> log = openSharedUndoLog(this, frame_.settings());
    if (!log)
        return;
    const ReplaceChoice choice =
        RadioButton2->isChecked() ? ReplaceChoice::WholeText : ReplaceChoice::Substitution;
    ReplaceOutcome out;
    {
        BusyWindow busy(this, busy_);
        out = actions_.replace(rows_, choice, *log);
    }
    model_->reload();
    if (!out.succeeded()) {
        if (out.failedRow)
            ListView1->setCurrentIndex(model_->index(static_cast<int>(*out.failedRow), 0));
        showError(this, toQString(out.error));
        return;
    }
    if (!out.undoError.empty())
        showListFileError(this, std::runtime_error(out.undoError));
    showInformation(this, QStringLiteral("置換"),
                    QStringLiteral("指定された項目すべての置換が完了しました。"));
}

void TSearchResult::showPreviewLine(QLabel* label, const std::string& cp932Line) {
    const QString full = toQString(cp932Line);
    label->setText(label->fontMetrics().elidedText(full, Qt::ElideRight, kPanelTextWidth - 24));
    label->setToolTip(cp932Line.size() >= kPreviewHintBytes ? full : QString());
}

void TSearchResult::ListView1Click(int row) {
    if (!request_.replaceMode || row < 0 || static_cast<std::size_t>(row) >= rows_.size())
        return;
    const PreviewLines lines = previewLines(rows_[static_cast<std::size_t>(row)]);
    showPreviewLine(Label9, lines.substitutionBefore);
    showPreviewLine(Label10, lines.substitutionAfter);
    showPreviewLine(Label11, lines.wholeBefore);
    showPreviewLine(Label12, lines.wholeAfter);
}

void TSearchResult::ListView1DblClick() {
    const QModelIndex current = ListView1->currentIndex();
    if (!current.isValid() || !ListView1->selectionModel()->isRowSelected(current.row()))
        return;
    const SearchHit& hit = rows_[static_cast<std::size_t>(current.row())];
    frame_.JumpTo(toQString(hit.text(kColRoot)) + QLatin1Char('\\') + toQString(hit.text(kColKey)),
                  toQString(hit.text(kColName)), true);
}

} // namespace klv
