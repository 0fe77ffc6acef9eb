#include "gui/editor/Regform.h"

#include "core/lists/PanelLists.h"

#include "gui/editor/RegformRoles.h"

#include "core/platform/PlatformFamily.h"
#include "core/platform/TimeText.h"
#include "core/registry/KeyBrowser.h"
#include "core/registry/RegistryError.h"
#include "core/settings/SettingsFile.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/MenuShortcuts.h"
#include "gui/widgets/TextBridge.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace klv {
namespace {

using namespace regform;

const QString& accessErrorText() {
    static const QString t = QStringLiteral("キーへのアクセスが拒否されました。") +
                             QStringLiteral("\n\n") +
                             QStringLiteral("既に削除されているか、アクセス権がありません。");
    return t;
}

// Shows the waiting panel and the hourglass while a slow expansion runs; both go away on
// every way out.
class WaitingPanel {
public:
    WaitingPanel(QLabel* panel, bool show) : panel_(show ? panel : nullptr) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (panel_) {
            panel_->show();
            panel_->raise();
            panel_->repaint();
        }
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    ~WaitingPanel() {
        if (panel_)
            panel_->hide();
        QApplication::restoreOverrideCursor();
    }
    WaitingPanel(const WaitingPanel&) = delete;
    WaitingPanel& operator=(const WaitingPanel&) = delete;

private:
    QLabel* panel_;
};

// A multi-string's lines shown on one row; the row keeps the exact text for the editors.
QString shownDataText(const std::string& data) {
    QString s = toQString(data);
    if (s.endsWith(QStringLiteral("\r\n")))
        s.chop(2);
    s.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return s;
}

} // namespace

TRegform::TRegform(FrameHost& form1, QWidget* parent)
    : QWidget(parent), form1_(form1), reg_(std::make_unique<TRegistry>()) {
    setObjectName(QStringLiteral("Regform"));
    caption_ = QStringLiteral("マイコンピュータ");
    setWindowTitle(caption_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    // The toolbar and the address bar are bands the user can drag above the panes.
    Bands = new QMainWindow(this);
    Bands->setObjectName(QStringLiteral("Bands"));
    Bands->setWindowFlags(Qt::Widget);
    layout->addWidget(Bands, 1);
    buildMenus();
    buildToolBar();
    buildAddressBar();
    for (QToolBar* band : bands()) {
        band->setMovable(true);
        band->setFloatable(false);
        band->setAllowedAreas(Qt::TopToolBarArea);
        band->installEventFilter(this);
    }
    Bands->addToolBar(Qt::TopToolBarArea, ToolBar1);
    Bands->addToolBarBreak(Qt::TopToolBarArea);
    Bands->addToolBar(Qt::TopToolBarArea, static_cast<QToolBar*>(AddressBar));
    buildPanes();
    buildContextMenus();
    Bands->setCentralWidget(Splitter2);
    for (QMenu* m : menus_)
        addActions(m->actions());
    if (form1_.settings().readBool("OPTION", "SHORTCUT", false))
        applyMenuShortcuts(form1_.settings(), menus_);

    Panel1 =
        new QLabel(QStringLiteral("　　　　アクセスしていますので、しばらくお待ちください"), this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setStyleSheet(QStringLiteral(
        "QLabel { background: #0000A8; color: white; font-weight: bold; padding: 10px; }"));
    Panel1->hide();

    SettingsFile& s = form1_.settings();
    restoreFonts("RegView", "Font_L", "Font_R");
    restoreViewState();
    historyPaused_ = s.readBool("OPTION", "SAVE", true) && s.readBool("VIEW", "STOP", false);
    addRootNodes();
    // A new window starts on the key the last one closed on (OACS), else on the first root.
    const std::string remembered = s.readString("OPTION", "OACS_PASS");
    if (s.readBool("OPTION", "OACS", false) && !remembered.empty())
        NavigateTo(toQString(remembered));
    else if (TreeView1->topLevelItemCount() > 0)
        TreeView1->setCurrentItem(TreeView1->topLevelItem(0));
    ComboBox1->setEditText(QString());
}

TRegform::~TRegform() = default;

bool TRegform::registryReadOnly() const {
    return reg_->store().readOnly();
}

// --- building -------------------------------------------------------------------------------

void TRegform::buildAddressBar() {
    auto* band = new QToolBar(this);
    AddressBar = band;
    band->setObjectName(QStringLiteral("AddressBar"));
    auto* bar = new QWidget(band);
    band->addWidget(bar);
    auto* h = new QHBoxLayout(bar);
    h->setContentsMargins(4, 2, 4, 2);
    auto* label = new QLabel(QStringLiteral("アドレス(&A) : "), bar);
    ComboBox1 = new QComboBox(bar);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    label->setBuddy(ComboBox1);
    Button1 = new QPushButton(QStringLiteral("移動"), bar);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setIcon(ImageLists::toolImage(ImageLists::ToolImage::Go));
    h->addWidget(label);
    h->addWidget(ComboBox1, 1);
    h->addWidget(Button1);
    connect(Button1, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { Button1Click(); }); });
    connect(ComboBox1->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { runGuarded(this, [this] { Button1Click(); }); });
}

void TRegform::buildPanes() {
    Splitter2 = new QSplitter(Qt::Vertical, this);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter1 = new QSplitter(Qt::Horizontal, Splitter2);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));

    TreeView1 = new QTreeWidget(Splitter1);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setUniformRowHeights(true);
    TreeView1->setIconSize(QSize(16, 16));
    connect(TreeView1, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* n) { runGuarded(this, [&] { TreeView1Expanding(n); }); });
    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* n, QTreeWidgetItem*) {
                if (n)
                    runGuarded(this, [&] { TreeView1Change(n); });
            });
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(TreeView1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* n, int column) {
        if (column == 0 && n->text(0) != n->data(0, kNameRole).toString())
            runGuarded(this, [&] { TreeView1Edited(n); });
    });
    connect(TreeView1, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* n) { SelectedImageIndex = n->data(0, kImageRole).toInt(); });

    ValueModel = new QStandardItemModel(0, 3, this);
    ValueModel->setHorizontalHeaderLabels(
        {QStringLiteral("名前"), QStringLiteral("データ"), QStringLiteral("種類")});
    connect(ValueModel, &QStandardItemModel::itemChanged, this, [this](QStandardItem* item) {
        if (item->column() == 0 && item->isEditable() &&
            item->text() != item->data(kValueNameRole).toString() &&
            !item->data(kValueNameRole).toString().isEmpty())
            runGuarded(this, [&] { ValueNameEdited(item); });
    });
    ValueStack = new QStackedWidget(Splitter1);
    ValueStack->setObjectName(QStringLiteral("ValueStack"));
    ListView1 = new QTreeView(ValueStack);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setModel(ValueModel);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setIconSize(QSize(16, 16));
    ListView1->header()->resizeSection(0, 180);
    ListView1->header()->resizeSection(1, 260);
    ListView1->viewport()->setMouseTracking(true);
    ListView1->viewport()->installEventFilter(this);
    connect(ListView1, &QTreeView::doubleClicked, this,
            [this] { runGuarded(this, [this] { ModifyClick(); }); });
    ValueIcons = new QListView(ValueStack);
    ValueIcons->setObjectName(QStringLiteral("ValueIcons"));
    ValueIcons->setModel(ValueModel);
    ValueIcons->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ValueIcons->setSelectionModel(ListView1->selectionModel());
    ValueStack->addWidget(ListView1);
    ValueStack->addWidget(ValueIcons);
    Splitter1->addWidget(TreeView1);
    Splitter1->addWidget(ValueStack);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({240, 480});

    buildFunctionPanel();
    Splitter2->addWidget(Splitter1);
    Splitter2->addWidget(PageControl1);
    Splitter2->setStretchFactor(0, 1);
    Splitter2->setSizes({320, 130});
}

// --- tree -----------------------------------------------------------------------------------

QTreeWidgetItem* TRegform::addNode(QTreeWidgetItem* parent, const QString& text, bool hasChildren,
                                   int image) {
    auto* n = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView1);
    n->setText(0, text);
    n->setData(0, kDataRole, 1);
    n->setData(0, kImageRole, image);
    n->setData(0, kNameRole, text);
    if (parent)
        n->setFlags(n->flags() | Qt::ItemIsEditable); // renamed through RenameClick only
    n->setIcon(0, ImageLists::treeImage(image));
    n->setChildIndicatorPolicy(hasChildren ? QTreeWidgetItem::ShowIndicator
                                           : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    return n;
}

void TRegform::addRootNodes() {
    const int count = std::min(form1_.rootCount(), kRootKeyCount);
    for (int i = 0; i < count; ++i) {
        QTreeWidgetItem* n =
            addNode(nullptr, toQString(kRootKeys[static_cast<std::size_t>(i)].name), true, 0);
        n->setData(0, kDataRole,
                   static_cast<qulonglong>(kRootKeys[static_cast<std::size_t>(i)].handle));
    }
}

RootHandle TRegform::rootOf(QTreeWidgetItem* node) const {
    while (node->parent())
        node = node->parent();
    return static_cast<RootHandle>(node->data(0, kDataRole).toULongLong());
}

std::string TRegform::subPathOf(QTreeWidgetItem* node) const {
    std::string path;
    for (; node->parent(); node = node->parent())
        path = "\\" + toCp932(node->text(0)).value_or(std::string()) + path;
    return path;
}

QString TRegform::keyPathOf(QTreeWidgetItem* node) const {
    QString path;
    for (; node->parent(); node = node->parent())
        path.prepend(QLatin1Char('\\') + node->text(0));
    return node->text(0) + path;
}

void TRegform::TreeView1Expanding(QTreeWidgetItem* node) {
    fillSubKeys(node);
}

void TRegform::fillSubKeys(QTreeWidgetItem* node) {
    if (node->data(0, kFilledRole).toBool())
        return;
    WaitingPanel waiting(Panel1, form1_.settings().readBool("OPTION", "ACCESS", true));
    ++subKeyReads_;
    const SubKeyListing listing = listSubKeysForTree(*reg_, rootOf(node), subPathOf(node));
    if (!listing.opened) {
        showAccessError();
        recoverIfGone(rootOf(node), subPathOf(node));
        return;
    }
    const int image = listing.readOnly ? 2 : 0;
    const QIcon icon = ImageLists::treeImage(image);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(listing.subKeys.size()));
    for (const SubKeyEntry& e : listing.subKeys) {
        auto* n = new QTreeWidgetItem;
        n->setText(0, toQString(e.name));
        n->setData(0, kDataRole, 1);
        n->setData(0, kImageRole, image);
        n->setData(0, kNameRole, n->text(0));
        n->setFlags(n->flags() | Qt::ItemIsEditable);
        n->setIcon(0, icon);
        n->setChildIndicatorPolicy(e.hasSubKeys ? QTreeWidgetItem::ShowIndicator
                                                : QTreeWidgetItem::DontShowIndicatorWhenChildless);
        items.append(n);
    }
    node->addChildren(items);
    node->setData(0, kFilledRole, true);
    node->setChildIndicatorPolicy(node->childCount() > 0
                                      ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TRegform::showAccessError() {
    DialogService::instance().message(this, QStringLiteral("アクセスエラー"), accessErrorText(),
                                      MsgIcon::Error, MsgButtons::Ok);
}

void TRegform::recoverIfGone(RootHandle root, const std::string& subPath) {
    if (recoveryQueued_ || keyExists(*reg_, root, subPath))
        return;
    // Queued: the tree may not be rebuilt inside the handler of one of its own nodes.
    recoveryQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            recoveryQueued_ = false;
            runGuarded(this, [this] { RefreshClick(); });
        },
        Qt::QueuedConnection);
}

void TRegform::TreeView1Change(QTreeWidgetItem* node) {
    selectNode(node);
}

void TRegform::selectNode(QTreeWidgetItem* node) {
    // The selected node shows the open folder.
    if (shownOpen_ && shownOpen_ != node)
        shownOpen_->setIcon(0, ImageLists::treeImage(shownOpen_->data(0, kImageRole).toInt()));
    node->setIcon(0, ImageLists::treeImage(node->data(0, kImageRole).toInt() + 1));
    shownOpen_ = node;
    SelectedImageIndex = node->data(0, kImageRole).toInt();

    fillValueList(rootOf(node), subPathOf(node), true);
    const QString path = keyPathOf(node);
    caption_ = path;
    setWindowTitle(path);
    form1_.Edit1 = path;
    ComboBox1->setEditText(path);
    addHistoryRow(path);
}

bool TRegform::fillValueList(RootHandle root, const std::string& subPath, bool reportFailure) {
    const ValueListing listing = listValuesForList(*reg_, root, subPath);
    if (!listing.opened) {
        if (reportFailure)
            showAccessError();
        recoverIfGone(root, subPath);
        return false;
    }
    ValueModel->removeRows(0, ValueModel->rowCount());
    QList<QList<QStandardItem*>> rows;
    for (const ValueRow& r : listing.rows) {
        auto* name = new QStandardItem(ImageLists::sharedImage(r.image), toQString(r.name));
        name->setData(toQString(r.valueName), kValueNameRole);
        name->setData(r.editable, kEditableRole);
        auto* data = new QStandardItem(shownDataText(r.data));
        data->setData(toQString(r.data), kDataTextRole);
        auto* kind = new QStandardItem(toQString(r.kind));
        for (QStandardItem* i : {data, kind})
            i->setEditable(false);
        ValueModel->appendRow({name, data, kind});
    }
    if (listing.info)
        form1_.setStatusPanel(2, toQString(keyStatusText(*listing.info)));
    return true;
}

void TRegform::addHistoryRow(const QString& location) {
    if (historyPaused_)
        return;
    std::vector<ListRow> rows = listRows(ListView4);
    insertNewest(rows, historyRow(listTimeTextNow(), toCp932(location).value_or(std::string())),
                 form1_.settings().readInt("OPTION", "HIS_3", kDefaultHistoryLimit));
    fillList(ListView4, rows);
}

// --- navigation -------------------------------------------------------------------------------

void TRegform::navigate(const QString& text, bool ignoreCase) {
    const auto cp = toCp932(text);
    if (!cp) {
        showError(this, unconvertibleTextMessage(text));
        return;
    }
    if (TreeView1->topLevelItemCount() == 0)
        return;
    QTreeWidgetItem* selected = TreeView1->topLevelItem(0);
    TreeView1->setCurrentItem(selected);
    bool first = true;
    for (const std::string& part : navigationComponents(*cp)) {
        if (!first)
            fillSubKeys(selected);
        const int count = first ? TreeView1->topLevelItemCount() : selected->childCount();
        QTreeWidgetItem* match = nullptr;
        for (int i = 0; i < count && !match; ++i) {
            QTreeWidgetItem* n = first ? TreeView1->topLevelItem(i) : selected->child(i);
            const std::string name = toCp932(n->text(0)).value_or(std::string());
            if (ignoreCase ? sameNameIgnoringCase(name, part) : name == part)
                match = n;
        }
        first = false;
        if (!match)
            continue;
        fillSubKeys(match);
        for (QTreeWidgetItem* p = match->parent(); p; p = p->parent())
            p->setExpanded(true);
        selected = match;
        TreeView1->setCurrentItem(match);
    }
    TreeView1->scrollToItem(selected);
}

void TRegform::NavigateTo(const QString& keyPathText) {
    runGuarded(this, [&] {
        navigate(keyPathText, false);
        applyPendingValueSelection();
    });
}

void TRegform::NavigateFromAddress(const QString& keyPathText) {
    runGuarded(this, [&] { navigate(keyPathText, true); });
}

void TRegform::applyPendingValueSelection() {
    if (form1_.Label19 != QStringLiteral("1"))
        return;
    ListView1->setFocus();
    for (int r = 0; r < ValueModel->rowCount(); ++r) {
        if (ValueModel->item(r, 0)->text() == form1_.Label18) {
            const QModelIndex i = ValueModel->index(r, 0);
            ListView1->setCurrentIndex(i);
            ListView1->scrollTo(i);
            return;
        }
    }
    form1_.Label19 = QStringLiteral("0");
}

bool TRegform::eventFilter(QObject* watched, QEvent* e) {
    // A press on a band itself (its handle, not a button) starts a drag; the layout it leaves
    // is remembered when the button comes up.
    if (watched == ToolBar1 || watched == AddressBar) {
        if (e->type() == QEvent::MouseButtonPress)
            bandDragged_ = true;
        else if (e->type() == QEvent::MouseButtonRelease && bandDragged_) {
            bandDragged_ = false;
            QTimer::singleShot(0, this, [this] { runGuarded(this, [this] { saveBands(); }); });
        }
    }
    if (ListView1 && watched == ListView1->viewport()) {
        if (e->type() == QEvent::MouseMove && form1_.Label19 == QStringLiteral("1"))
            applyPendingValueSelection();
        else if (e->type() == QEvent::MouseButtonPress)
            form1_.Label19 = QStringLiteral("0");
    }
    return QWidget::eventFilter(watched, e);
}

void TRegform::addAddressEntry(const QString& text) {
    ComboBox1->insertItem(0, text);
    const int limit = std::max(0, form1_.settings().readInt("OPTION", "HIS_4", 10));
    while (ComboBox1->count() > limit)
        ComboBox1->removeItem(ComboBox1->count() - 1);
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(text);
}

QStringList TRegform::addressHistory() const {
    QStringList l;
    for (int i = 0; i < ComboBox1->count(); ++i)
        l << ComboBox1->itemText(i);
    return l;
}

void TRegform::Button1Click() {
    const QString text = ComboBox1->currentText();
    if (text.isEmpty())
        return;
    addAddressEntry(text);
    NavigateFromAddress(text);
}

// --- refresh, expand, collapse ----------------------------------------------------------------

void TRegform::RefreshClick() {
    const QString path = caption_;
    shownOpen_ = nullptr;
    TreeView1->clear();
    addRootNodes();
    NavigateTo(path);
    ComboBox1->setEditText(QString());
}

void TRegform::RefreshListClick() {
    if (QTreeWidgetItem* n = TreeView1->currentItem())
        runGuarded(this, [&] { fillValueList(rootOf(n), subPathOf(n), true); });
}

void TRegform::expandAllBelow(QTreeWidgetItem* node) {
    fillSubKeys(node);
    node->setExpanded(true);
    for (int i = 0; i < node->childCount(); ++i)
        expandAllBelow(node->child(i));
}

void TRegform::ExpandAllClick() {
    QTreeWidgetItem* n = TreeView1->currentItem();
    if (!n)
        return;
    const QString text = caption_ +
                         QStringLiteral(" 以下のサブキーをすべて展開します。すべて展開するまで、若"
                                        "干時間がかかる場合があります。") +
                         QStringLiteral("\n\n") + QStringLiteral("展開を実行してよろしいですか。");
    if (DialogService::instance().message(this, QStringLiteral("確認"), text, MsgIcon::Question,
                                          MsgButtons::OkCancel) != MsgAnswer::Ok)
        return;
    runGuarded(this, [&] { expandAllBelow(n); });
}

void TRegform::CollapseAllClick() {
    const QString text = QStringLiteral("レジストリツリーをすべて折り畳みます。") +
                         QStringLiteral("\n\n") +
                         QStringLiteral("折り畳みを実行してよろしいですか。");
    if (DialogService::instance().message(this, QStringLiteral("確認"), text, MsgIcon::Question,
                                          MsgButtons::OkCancel) != MsgAnswer::Ok)
        return;
    TreeView1->collapseAll();
}

// --- life -------------------------------------------------------------------------------------

void TRegform::FormShow() {
    const QString key = form1_.keyArgument();
    if (!key.isEmpty()) {
        ComboBox1->setEditText(key);
        Button1Click();
    }
    ComboBox1->setCurrentIndex(-1);
    if (!key.isEmpty())
        ComboBox1->setEditText(key);
}

void TRegform::FormActivate() {
    // The address bar list as the other windows left it.
    const QString text = ComboBox1->currentText();
    SettingsFile& settings = form1_.settings();
    const auto list =
        settings.readList("HISTRY", "0", {}, std::max(0, settings.readInt("OPTION", "HIS_4", 10)));
    ComboBox1->clear();
    for (const std::string& s : list)
        ComboBox1->addItem(toQString(s));
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(text);
    restoreActivationSettings();
    // The list again for the caption's key, which may have changed meanwhile.
    runGuarded(this, [&] {
        const auto cp = toCp932(caption_);
        if (!cp)
            return;
        const SplitKeyPath split = splitKeyPath(*cp);
        if (split.root)
            fillValueList(*split.root, std::string(split.subPath), false);
    });
}

void TRegform::closeEvent(QCloseEvent* e) {
    runGuarded(this, [&] { saveClosingSettings(); });
    std::vector<std::string> list;
    for (const QString& s : addressHistory())
        if (auto cp = toCp932(s))
            list.push_back(*cp);
    runGuarded(this, [&] { form1_.settings().writeList("HISTRY", "0", list); });
    QWidget::closeEvent(e);
}

void TRegform::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (Panel1) {
        Panel1->adjustSize();
        Panel1->move(width() / 4, height() / 4);
    }
}

} // namespace klv
