// The function panel below the editor window's panes: the undo log, favorites, access history
// and value holder lists, their list files and their popup menu.
#include "gui/editor/Regform.h"

#include "core/lists/ListFile.h"
#include "core/lists/PanelLists.h"
#include "core/platform/Folders.h"
#include "core/settings/SettingsFile.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/TextBridge.h"
#include "gui/widgets/WaitCursor.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QSplitter>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace klv {
namespace {

constexpr int kRowImageRole = Qt::UserRole; // the row's image index, kept for its list file

// The list file of each panel tab, in tab order.
constexpr const char* kListFiles[] = {"UNDO.DAT", "FAVORITE.DAT", "HISTRY.DAT", "VALUE.DAT"};

constexpr int kHiddenItemsRole = Qt::UserRole + 1; // sub-items kept but not shown
// The shown columns' bytes as the file gave them: a text with bytes that are no CP932
// character shows them as U+FFFD and would not come back from the shown text.
constexpr int kShownBytesRole = Qt::UserRole + 2;

QTreeWidgetItem* rowItem(const ListRow& r) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, toQString(r.caption));
    const std::size_t shown = shownSubItems(r);
    QList<QByteArray> bytes{QByteArray::fromStdString(r.caption)};
    for (std::size_t i = 0; i < shown; ++i) {
        item->setText(static_cast<int>(i) + 1, toQString(r.subItems[i]));
        bytes.append(QByteArray::fromStdString(r.subItems[i]));
    }
    item->setData(0, kShownBytesRole, QVariant::fromValue(bytes));
    QList<QByteArray> hidden;
    for (std::size_t i = shown; i < r.subItems.size(); ++i)
        hidden.append(QByteArray::fromStdString(r.subItems[i]));
    if (!hidden.isEmpty())
        item->setData(0, kHiddenItemsRole, QVariant::fromValue(hidden));
    item->setData(0, kRowImageRole, r.image);
    item->setIcon(0, ImageLists::sharedImage(r.image));
    return item;
}

// A column's text as CP932: the bytes it was made from while it shows them unchanged.
std::string columnBytes(const QTreeWidgetItem* item, int column) {
    const auto bytes = item->data(0, kShownBytesRole).value<QList<QByteArray>>();
    if (column < bytes.size()) {
        const std::string b = bytes[column].toStdString();
        if (toQString(b) == item->text(column))
            return b;
    }
    return toCp932(item->text(column)).value_or(std::string());
}

std::vector<ListRow> rowsOf(const QTreeWidget* list) {
    std::vector<ListRow> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        ListRow r;
        r.image = item->data(0, kRowImageRole).toInt();
        r.caption = columnBytes(item, 0);
        // Up to the last column with text: a row keeps the columns its file gave it.
        int last = list->columnCount() - 1;
        while (last >= 1 && item->text(last).isEmpty())
            --last;
        for (int c = 1; c <= last; ++c)
            r.subItems.push_back(columnBytes(item, c));
        for (const QByteArray& h : item->data(0, kHiddenItemsRole).value<QList<QByteArray>>())
            r.subItems.push_back(h.toStdString());
        rows.push_back(std::move(r));
    }
    return rows;
}

void showListFileError(QWidget* parent, const std::exception& e) {
    DialogService::instance().message(parent, QString::fromLatin1(kListFileErrorCaption),
                                      toQString(e.what()), MsgIcon::Error, MsgButtons::Ok);
}

} // namespace

void TRegform::buildFunctionPanel() {
    PageControl1 = new QTabWidget(Splitter2);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::South);
    auto list = [this](const QString& name, const QStringList& columns, const QString& tab,
                       const QIcon& icon) {
        auto* l = new QTreeWidget(PageControl1);
        l->setObjectName(name);
        l->setColumnCount(static_cast<int>(columns.size()));
        l->setHeaderLabels(columns);
        l->setRootIsDecorated(false);
        l->setUniformRowHeights(true);
        l->setIconSize(QSize(16, 16));
        l->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(l, &QWidget::customContextMenuRequested, this, [this, l](const QPoint& at) {
            (l == ListView5 ? HolderPopup : ListPopup)->popup(l->viewport()->mapToGlobal(at));
        });
        PageControl1->addTab(l, icon, tab);
        return l;
    };
    ListView2 =
        list(QStringLiteral("ListView2"),
             {QStringLiteral("日時"), QStringLiteral("操作"), QStringLiteral("該当ルートキー"),
              QStringLiteral("該当キー"), QStringLiteral("該当データ"), QStringLiteral("変更前"),
              QStringLiteral("変更後"), QStringLiteral("アンドゥファイル")},
             QStringLiteral("元に戻す"), ImageLists::sharedImage(ImageLists::ImgUndo));
    ListView3 =
        list(QStringLiteral("ListView3"), {QStringLiteral("場所"), QStringLiteral("コメント")},
             QStringLiteral("お気に入り"), ImageLists::sharedImage(ImageLists::ImgFavorite));
    ListView4 =
        list(QStringLiteral("ListView4"), {QStringLiteral("日時"), QStringLiteral("履歴")},
             QStringLiteral("アクセス履歴"), ImageLists::sharedImage(ImageLists::ImgHistory));
    ListView5 = list(
        QStringLiteral("ListView5"),
        {QStringLiteral("名前"), QStringLiteral("データ"), QStringLiteral("種類"),
         QStringLiteral("貼り付け"), QStringLiteral("保管日時"), QStringLiteral("保管元")},
        QStringLiteral("バリューホルダー"), ImageLists::sharedImage(ImageLists::ImgValueHolder));
    // The favorites tab: the list and, beside it, the buttons that move a row.
    {
        const int at = PageControl1->indexOf(ListView3);
        const QIcon icon = PageControl1->tabIcon(at);
        PageControl1->removeTab(at);
        auto* page = new QWidget(PageControl1);
        page->setObjectName(QStringLiteral("FavoritesPage"));
        auto* row = new QHBoxLayout(page);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(2);
        row->addWidget(ListView3, 1);
        ListView3->show(); // the tab it left had hidden it
        auto* buttons = new QVBoxLayout;
        const auto mover = [&](const char* name, Qt::ArrowType arrow, const QString& hint,
                               int step) {
            auto* b = new QToolButton(page);
            b->setObjectName(QString::fromLatin1(name));
            b->setArrowType(arrow);
            b->setToolTip(hint);
            b->setStatusTip(hint);
            connect(b, &QToolButton::clicked, this,
                    [this, step] { runGuarded(this, [this, step] { MoveFavoriteClick(step); }); });
            buttons->addWidget(b);
        };
        mover("FavoriteUp", Qt::UpArrow, QStringLiteral("選択している項目を一つ上に移動"), -1);
        mover("FavoriteDown", Qt::DownArrow, QStringLiteral("選択している項目を一つ下に移動"), +1);
        buttons->addStretch(1);
        row->addLayout(buttons);
        PageControl1->insertTab(at, page, icon, QStringLiteral("お気に入り"));
    }
    // Favorites: the location edited in place, sorted by a clicked column; history neither.
    ListView3->setEditTriggers(QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::SelectedClicked);
    ListView3->header()->setSectionsClickable(true);
    ListView3->header()->setSortIndicatorShown(true);
    ListView3->header()->setSortIndicator(-1, Qt::AscendingOrder); // unsorted until a click
    connect(ListView3->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        const Qt::SortOrder order =
            ListView3->header()->sortIndicatorSection() == column &&
                    ListView3->header()->sortIndicatorOrder() == Qt::AscendingOrder
                ? Qt::DescendingOrder
                : Qt::AscendingOrder;
        ListView3->sortItems(column, order);
        ListView3->header()->setSortIndicator(column, order);
        favoritesChanged_ = true;
    });
    connect(ListView3, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int column) {
        if (column == 0 && !fillingLists_)
            favoritesChanged_ = true;
    });
    ListView4->setEditTriggers(QAbstractItemView::NoEditTriggers);

    // The value holder: a link above the list clears it; several rows may be selected, the
    // columns sorted and dragged, a double click toggles a row's paste flag.
    {
        const int at = PageControl1->indexOf(ListView5);
        const QIcon icon = PageControl1->tabIcon(at);
        PageControl1->removeTab(at);
        auto* page = new QWidget(PageControl1);
        page->setObjectName(QStringLiteral("HolderPage"));
        auto* column = new QVBoxLayout(page);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(2);
        auto* link =
            new QLabel(QStringLiteral("<a href=\"clear\">バリューホールドのクリア</a>"), page);
        link->setObjectName(QStringLiteral("HolderClearLink"));
        link->setToolTip(QStringLiteral("Hivemere クリップボードの中身をクリアします"));
        connect(link, &QLabel::linkActivated, this,
                [this] { runGuarded(this, [this] { HolderClearClick(); }); });
        column->addWidget(link);
        column->addWidget(ListView5, 1);
        ListView5->show(); // the tab it left had hidden it
        PageControl1->insertTab(at, page, icon, QStringLiteral("バリューホルダー"));
    }
    ListView5->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView5->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView5->header()->setSectionsMovable(true);
    ListView5->header()->setSectionsClickable(true);
    ListView5->header()->setSortIndicatorShown(true);
    ListView5->header()->setSortIndicator(-1, Qt::AscendingOrder); // unsorted until a click
    connect(ListView5->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        const Qt::SortOrder order =
            ListView5->header()->sortIndicatorSection() == column &&
                    ListView5->header()->sortIndicatorOrder() == Qt::AscendingOrder
                ? Qt::DescendingOrder
                : Qt::AscendingOrder;
        ListView5->sortItems(column, order);
        ListView5->header()->setSortIndicator(column, order);
    });
    connect(ListView5, &QTreeWidget::itemDoubleClicked, this,
            [this] { runGuarded(this, [this] { HolderToggleClick(); }); });
    connect(ListView3, &QTreeWidget::itemDoubleClicked, this,
            [this] { runGuarded(this, [this] { GoToFavoriteClick(); }); });
    connect(ListView4, &QTreeWidget::itemDoubleClicked, this,
            [this] { runGuarded(this, [this] { GoToHistoryClick(); }); });
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { updateListPopup(); });
    // Wide enough for a whole time stamp beside its icon and a whole root name.
    ListView4->header()->resizeSection(0, 175);
    const int undoWidths[] = {175, 130, 165, 160};
    for (int c = 0; c < 4; ++c)
        ListView2->header()->resizeSection(c, undoWidths[c]);
    // The undo list is read only and keeps its order: newest first.
    ListView2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView2->setSortingEnabled(false);
    ListView2->header()->setSectionsClickable(false);
    connect(ListView2, &QTreeWidget::itemDoubleClicked, this,
            [this] { runGuarded(this, [this] { ListView2DblClick(); }); });

    // The grip at the panel's left edge closes it.
    auto* grip = new QToolButton(PageControl1);
    grip->setObjectName(QStringLiteral("PanelGrip"));
    grip->setAutoRaise(true);
    grip->setArrowType(Qt::DownArrow);
    grip->setToolTip(QStringLiteral("ファンクションパネルを閉じる"));
    grip->setStatusTip(QStringLiteral("ファンクションパネルを閉じる"));
    connect(grip, &QToolButton::clicked, this, [this] { FunctionPanelClick(); });
    PageControl1->setCornerWidget(grip, Qt::BottomLeftCorner);

    ListPopup = new QMenu(this);
    ListPopup->setObjectName(QStringLiteral("ListPopup"));
    auto item = [this](const QString& caption, const QString& name, void (TRegform::*handler)()) {
        QAction* a = ListPopup->addAction(caption);
        a->setObjectName(name);
        if (handler)
            connect(a, &QAction::triggered, this,
                    [this, handler] { runGuarded(this, [this, handler] { (this->*handler)(); }); });
        else
            a->setEnabled(false); // the options dialog comes with its own window
        return a;
    };
    item(QStringLiteral("コメントの編集(&E)"), QStringLiteral("ListEditComment"),
         &TRegform::EditCommentClick);
    item(QStringLiteral("現在選択されているキーをお気に入りに追加(&A)"),
         QStringLiteral("ListAddFavorite"), &TRegform::AddFavoriteClick);
    ListPopup->addSeparator()->setObjectName(QStringLiteral("ListFavoriteSeparator"));
    item(QStringLiteral("選択しているリスト項目の削除(&D)"), QStringLiteral("ListDeleteItem"),
         &TRegform::ListDeleteItemClick);
    item(QStringLiteral("リストをすべてクリア(&C)"), QStringLiteral("ListClear"),
         &TRegform::ListClearClick);
    ListPopup->addSeparator();
    item(QStringLiteral("オプション(&O)"), QStringLiteral("ListOptions"), nullptr);

    HolderPopup = new QMenu(this);
    HolderPopup->setObjectName(QStringLiteral("HolderPopup"));
    const auto holderItem = [this](const QString& caption, const QString& name,
                                   std::function<void()> handler) {
        QAction* a = HolderPopup->addAction(caption);
        a->setObjectName(name);
        if (handler)
            connect(a, &QAction::triggered, this, [this, handler] { runGuarded(this, handler); });
        else
            a->setEnabled(false); // the options dialog comes with its own window
    };
    holderItem(QStringLiteral("選択しているリスト項目の削除(&D)"), QStringLiteral("HolderDelete"),
               [this] { HolderDeleteClick(); });
    holderItem(QStringLiteral("選択している項目を貼り付ける候補とする(&P)"),
               QStringLiteral("HolderToggle"), [this] { HolderToggleClick(); });
    holderItem(QStringLiteral("すべて貼り付ける候補とする(&A)"), QStringLiteral("HolderAll"),
               [this] { HolderAllClick(true); });
    holderItem(QStringLiteral("すべて貼り付けない候補とする(&N)"), QStringLiteral("HolderNone"),
               [this] { HolderAllClick(false); });
    holderItem(QStringLiteral("貼り付けない候補の項目をすべて削除(&E)"),
               QStringLiteral("HolderDeleteUnflaggedItems"),
               [this] { HolderDeleteUnflaggedClick(); });
    holderItem(QStringLiteral("バリューホルダーのクリア(&V)"), QStringLiteral("HolderClear"),
               [this] { HolderClearClick(); });
    HolderPopup->addSeparator();
    holderItem(QStringLiteral("オプション(&O)"), QStringLiteral("HolderOptions"), {});

    UndoPlace place;
    place.home = programFolder();
    place.systemFolder = systemFolder();
    place.pump = [] { QApplication::processEvents(QEventLoop::AllEvents, 50); };
    place.store = reg_->sharedStore();
    undoLog_ = std::make_unique<UndoLog>(std::move(place));
}

// --- undo ---------------------------------------------------------------------------------------

void TRegform::fillUndoList() {
    ListView2->clear();
    QList<QTreeWidgetItem*> items;
    for (const UndoEntry& e : undoLog_->entries())
        items.append(rowItem(toListRow(e)));
    ListView2->addTopLevelItems(items);
}

void TRegform::AddUndo(UndoEntry e) {
    undoLog_->setLimit(form1_.settings().readInt("OPTION", "HIS_2", kDefaultUndoLimit));
    try {
        undoLog_->add(std::move(e));
    } catch (const ListFileError& err) {
        fillUndoList();
        showListFileError(this, err);
        return;
    }
    fillUndoList();
}

bool TRegform::DeleteKeyWithUndo(const std::string& rootName, const std::string& keyPath) {
    undoLog_->setLimit(form1_.settings().readInt("OPTION", "HIS_2", kDefaultUndoLimit));
    bool deleted = false;
    {
        WaitCursor wait;
        try {
            undoLog_->deleteKey(rootName, keyPath);
            deleted = true;
        } catch (const ListFileError& err) {
            fillUndoList();
            showListFileError(this, err);
            return false;
        } catch (const UndoError& err) {
            fillUndoList();
            showError(this, toQString(err.what()));
            return false;
        }
    }
    fillUndoList();
    return deleted;
}

void TRegform::UndoClick() {
    if (readOnlyMode_)
        return;
    PageControl1->setCurrentWidget(ListView2);
    if (ListView2->topLevelItemCount() == 0)
        return;
    ListView2->setCurrentItem(ListView2->topLevelItem(0));
    ListView2DblClick();
}

void TRegform::ListView2DblClick() {
    if (readOnlyMode_)
        return;
    QTreeWidgetItem* item = ListView2->currentItem();
    if (!item)
        return;
    const auto index = static_cast<std::size_t>(ListView2->indexOfTopLevelItem(item));
    if (index >= undoLog_->entries().size())
        return;
    QString question = toQString(UndoLog::confirmationText(undoLog_->entries()[index]));
    question.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (DialogService::instance().message(nullptr, QStringLiteral("復元の確認"), question,
                                          MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    try {
        WaitCursor wait;
        undoLog_->undo(index);
    } catch (const UndoError& err) {
        fillUndoList();
        showError(this, toQString(err.what()));
        return;
    }
    fillUndoList();
    RefreshClick();
}

// --- the lists' popup menu and files ----------------------------------------------------------

QTreeWidget* TRegform::currentPanelList() const {
    QTreeWidget* const lists[] = {ListView2, ListView3, ListView4, ListView5};
    const int tab = PageControl1->currentIndex();
    return tab >= 0 && tab < 4 ? lists[tab] : nullptr;
}

// The favorites' own items show only while their tab is in front.
void TRegform::updateListPopup() {
    const bool favorites = currentPanelList() == ListView3;
    for (QAction* a : ListPopup->actions()) {
        const QString n = a->objectName();
        if (n == QLatin1String("ListEditComment") || n == QLatin1String("ListAddFavorite") ||
            n == QLatin1String("ListFavoriteSeparator"))
            a->setVisible(favorites);
    }
}

void TRegform::ListDeleteItemClick() {
    QTreeWidget* list = currentPanelList();
    if (!list || !list->currentItem())
        return;
    if (!askYesNo(this, QStringLiteral("削除の確認"),
                  QStringLiteral("選択している項目を削除します。よろしいですか。")))
        return;
    if (list == ListView2) {
        undoLog_->remove(static_cast<std::size_t>(list->indexOfTopLevelItem(list->currentItem())));
        fillUndoList();
    } else {
        delete list->currentItem();
    }
    saveListView(list);
}

void TRegform::ListClearClick() {
    QTreeWidget* list = currentPanelList();
    if (!list)
        return;
    if (!askYesNo(this, QStringLiteral("削除の確認"),
                  QStringLiteral("リスト内のすべての項目を削除します。よろしいですか。")))
        return;
    if (list == ListView2) {
        undoLog_->clear();
        fillUndoList();
    } else {
        list->clear();
    }
    saveListView(list);
}

// Writes one panel list to its file; the undo list through the log.
void TRegform::saveListView(QTreeWidget* list) {
    QTreeWidget* const lists[] = {ListView2, ListView3, ListView4, ListView5};
    const auto at = std::find(std::begin(lists), std::end(lists), list);
    if (at == std::end(lists))
        return;
    const auto tab = static_cast<std::size_t>(at - std::begin(lists));
    if (list == ListView3)
        favoritesChanged_ = true;
    try {
        if (list == ListView2)
            undoLog_->save();
        else
            saveListFile(listFilePath(kListFiles[tab]), rowsOf(list));
        if (list == ListView3)
            favoritesChanged_ = false;
    } catch (const ListFileError& err) {
        showListFileError(this, err);
    }
}

std::filesystem::path TRegform::listFilePath(const char* name) const {
    const auto home = programFolder();
    return findNoCase(home, name).value_or(home / name);
}

// The lists as the other windows left them in their files; a list whose file is missing keeps
// what it shows.
void TRegform::loadPanelLists() {
    auto loadInto = [this](QTreeWidget* list, const char* name) {
        const auto file = listFilePath(name);
        std::error_code ec;
        if (!std::filesystem::exists(file, ec))
            return;
        try {
            fillList(list, loadListFile(file));
        } catch (const ListFileError& err) {
            showListFileError(this, err);
        }
    };
    loadInto(ListView4, kListFiles[2]);
    try {
        if (undoLog_->load())
            fillUndoList();
    } catch (const ListFileError& err) {
        showListFileError(this, err);
    }
    loadInto(ListView3, kListFiles[1]);
    if (form1_.settings().readBool("VH", "SAVE", true))
        loadInto(ListView5, kListFiles[3]);
}

void TRegform::fillList(QTreeWidget* list, const std::vector<ListRow>& rows) {
    fillingLists_ = true;
    list->clear();
    QList<QTreeWidgetItem*> items;
    for (const ListRow& r : rows) {
        QTreeWidgetItem* item = rowItem(r);
        if (list == ListView3)
            item->setFlags(item->flags() | Qt::ItemIsEditable);
        items.append(item);
    }
    list->addTopLevelItems(items);
    fillingLists_ = false;
}

std::vector<ListRow> TRegform::listRows(const QTreeWidget* list) const {
    return rowsOf(list);
}

// At closing: the access history and the undo list always, the favorites when changed.
void TRegform::savePanelLists() {
    saveListView(ListView4);
    saveListView(ListView2);
    if (favoritesChanged_)
        saveListView(ListView3);
}

} // namespace klv
