// The editor window's settings: bars and panels shown, pane sizes, band order, fonts, the value
// list's look, the read-only mode and the pause of the access history, read and written at the
// moments the settings file expects them.
#include "gui/editor/Regform.h"

#include "core/settings/SettingsFile.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FontBridge.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuShortcuts.h"
#include "gui/widgets/TextBridge.h"

#include <QAction>
#include <QCursor>
#include <QHeaderView>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace klv {

void TRegform::showPanelTab(int index) {
    if (PageControl1->isHidden())
        FunctionPanelClick();
    PageControl1->setCurrentIndex(index);
}

void TRegform::FunctionPanelClick() {
    toggleBar(PageControl1, QStringLiteral("FunctionPanel"), "FP");
}

void TRegform::ToolBarClick() {
    toggleBar(ToolBar1, QStringLiteral("ToolBarToggle"), "TB");
}

void TRegform::AddressBarClick() {
    toggleBar(AddressBar, QStringLiteral("AddressBarToggle"), "AB");
}

// Flips a bar's visibility and its menu check mark, and remembers it while SAVE is on.
void TRegform::toggleBar(QWidget* bar, const QString& action, const char* key) {
    const bool show = bar->isHidden();
    bar->setVisible(show);
    for (QMenu* m : menus_)
        for (QAction* a : m->actions())
            if (a->objectName() == action)
                a->setChecked(show);
    SettingsFile& s = form1_.settings();
    if (s.readBool("OPTION", "SAVE", true))
        s.writeBool("VIEW", key, show);
}

// The bars, the function panel's height and the order of the toolbar bands as the last window
// left them; remembered state is read only while SAVE is on.
void TRegform::restoreViewState() {
    SettingsFile& s = form1_.settings();
    const bool save = s.readBool("OPTION", "SAVE", true);
    const struct {
        QWidget* bar;
        const char* action;
        const char* key;
    } bars[] = {{ToolBar1, "ToolBarToggle", "TB"},
                {AddressBar, "AddressBarToggle", "AB"},
                {PageControl1, "FunctionPanel", "FP"}};
    if (save)
        restoreBands(); // before the bars are shown or hidden: moving a band hides it
    for (const auto& b : bars) {
        const bool show = !save || s.readBool("VIEW", b.key, true);
        b.bar->setVisible(show);
        for (QMenu* m : menus_)
            for (QAction* a : m->actions())
                if (a->objectName() == QLatin1String(b.action))
                    a->setChecked(show);
    }
    if (!save)
        return;
    if (const int h = s.readInt("VIEW", "VIEW_H", -1); h > 0) {
        const QList<int> sizes = Splitter2->sizes();
        const int total = std::max(sizes.value(0) + sizes.value(1), h + 100);
        Splitter2->setSizes({total - h, h});
    }
}

std::vector<QToolBar*> TRegform::bands() const {
    return {ToolBar1, static_cast<QToolBar*>(AddressBar)};
}

// The bands in the order BansPositions lists them, each on a line of its own where its Break
// key says so; bands it does not name follow in their default order.
void TRegform::restoreBands() {
    SettingsFile& s = form1_.settings();
    const int count = std::clamp(s.readInt("BansPositions", "ControlCount", 0), 0, 16);
    if (count == 0)
        return;
    std::vector<std::pair<QToolBar*, bool>> order; // band, starts a line
    for (int i = 1; i <= count; ++i) {
        const std::string n = std::to_string(i);
        const QString name = toQString(s.readString("BansPositions", "Control" + n));
        for (QToolBar* band : bands())
            if (band->objectName() == name &&
                std::none_of(order.begin(), order.end(),
                             [&](const auto& o) { return o.first == band; }))
                order.emplace_back(band, s.readBool("BansPositions", "Break" + n, true));
    }
    for (QToolBar* band : bands())
        if (std::none_of(order.begin(), order.end(),
                         [&](const auto& o) { return o.first == band; }))
            order.emplace_back(band, true);
    for (QToolBar* band : bands()) {
        Bands->removeToolBarBreak(band);
        Bands->removeToolBar(band);
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && order[i].second)
            Bands->addToolBarBreak(Qt::TopToolBarArea);
        Bands->addToolBar(Qt::TopToolBarArea, order[i].first);
    }
}

// After a band was dragged: the bands top to bottom, left to right, with their line breaks
// and widths, while SAVE is on.
void TRegform::saveBands() {
    SettingsFile& s = form1_.settings();
    if (!s.readBool("OPTION", "SAVE", true))
        return;
    std::vector<QToolBar*> order = bands();
    std::sort(order.begin(), order.end(), [](const QToolBar* a, const QToolBar* b) {
        return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x());
    });
    s.eraseSection("BansPositions");
    s.writeInt("BansPositions", "ControlCount", static_cast<int>(order.size()));
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        const auto name = toCp932(order[i]->objectName()).value_or(std::string());
        s.writeString("BansPositions", "Control" + n, name);
        s.writeBool("BansPositions", "Break" + n, i == 0 || order[i]->y() != order[i - 1]->y());
        s.writeInt("BansPositions", "Width" + n, order[i]->width());
    }
}

// --- read-only mode -----------------------------------------------------------------------------

namespace {
// The commands that change the registry, off in read-only mode.
const char* const kChangingCommands[] = {
    "Undo",   "NewKey", "NewString", "NewDword",  "NewBinary", "NewExpandString", "NewMultiString",
    "Rename", "Delete", "Replace",   "ScriptRun", "CutValue",  "CopyValue",       "PasteValue",
};
} // namespace

void TRegform::ReadOnlyClick() {
    setReadOnlyMode(!readOnlyMode_);
    SettingsFile& s = form1_.settings();
    if (s.readBool("OPTION", "SAVE", true))
        s.writeBool("OPTION", "READONLY", readOnlyMode_);
}

void TRegform::setReadOnlyMode(bool on) {
    readOnlyMode_ = on;
    for (const char* name : kChangingCommands)
        if (QAction* a = findMenuAction(QString::fromLatin1(name))) {
            bool enabled = !on;
            // Paste needs something in the value holder as well.
            if (enabled && a->objectName() == QLatin1String("PasteValue"))
                enabled = ListView5->topLevelItemCount() > 0;
            a->setEnabled(enabled);
        }
    if (QAction* a = findMenuAction(QStringLiteral("ReadOnly"))) {
        a->setChecked(on);
        a->setIcon(ImageLists::toolImage(on ? ImageLists::ToolImage::ReadOnlyOn
                                            : ImageLists::ToolImage::ReadOnlyOff));
    }
    PageControl1->setTabEnabled(PageControl1->indexOf(ListView2), !on);
    showAccessState();
}

// The first status panel: this window's mode, or the registry file's when it cannot be written.
void TRegform::showAccessState() {
    form1_.setStatusPanel(0, readOnlyMode_ || registryReadOnly() ? QStringLiteral("読み取り専用")
                                                                 : QStringLiteral("フルアクセス"));
}

// --- view style, fonts, history pause, boundaries ----------------------------------------------

void TRegform::ViewStyleClick(ViewStyle style) {
    viewStyle_ = style;
    const struct {
        ViewStyle style;
        const char* action;
    } items[] = {{ViewStyle::LargeIcons, "StyleLargeIcons"},
                 {ViewStyle::SmallIcons, "StyleSmallIcons"},
                 {ViewStyle::List, "StyleList"},
                 {ViewStyle::Report, "StyleReport"}};
    for (const auto& item : items)
        if (QAction* a = findMenuAction(QString::fromLatin1(item.action)))
            a->setChecked(item.style == style);
    if (style == ViewStyle::Report) {
        ValueStack->setCurrentWidget(ListView1);
        return;
    }
    const bool large = style == ViewStyle::LargeIcons;
    ValueIcons->setViewMode(large ? QListView::IconMode : QListView::ListMode);
    ValueIcons->setIconSize(large ? QSize(32, 32) : QSize(16, 16));
    // Small icons run in rows, the list in columns.
    ValueIcons->setFlow(style == ViewStyle::List ? QListView::TopToBottom : QListView::LeftToRight);
    ValueIcons->setWrapping(true);
    ValueIcons->setResizeMode(QListView::Adjust);
    ValueIcons->setGridSize(large ? QSize(96, 64) : QSize());
    ValueStack->setCurrentWidget(ValueIcons);
}

void TRegform::PauseHistoryClick() {
    historyPaused_ = !historyPaused_;
    if (QAction* a = findMenuAction(QStringLiteral("PauseHistory")))
        a->setChecked(historyPaused_);
    form1_.setStatusPanel(1, historyPaused_ ? QStringLiteral("履歴OFF") : QStringLiteral("履歴ON"));
    SettingsFile& s = form1_.settings();
    if (s.readBool("OPTION", "SAVE", true))
        s.writeBool("VIEW", "STOP", historyPaused_);
}

namespace {
void chooseFont(QWidget* parent, QWidget* view, FrameHost& frame, const char* key) {
    const std::optional<QFont> chosen = DialogService::instance().font(parent, view->font());
    if (!chosen)
        return;
    view->setFont(*chosen);
    SettingsFile& s = frame.settings();
    if (s.readBool("OPTION", "SAVE", true))
        s.writeFont("VIEW", key, toFontSetting(*chosen));
}

// Puts the mouse pointer on the middle of a splitter's handle, for the user to drag.
void pointAtHandle(QSplitter* splitter) {
    if (splitter->count() < 2)
        return;
    QWidget* handle = splitter->handle(1);
    QCursor::setPos(handle->mapToGlobal(handle->rect().center()));
}
} // namespace

void TRegform::TreeFontClick() {
    chooseFont(this, TreeView1, form1_, "TREEVIEW");
}

void TRegform::ListFontClick() {
    chooseFont(this, ValueStack, form1_, "LISTVIEW");
}

void TRegform::TreeBoundaryClick() {
    pointAtHandle(Splitter1);
}

void TRegform::PanelBoundaryClick() {
    if (PageControl1->isVisible())
        pointAtHandle(Splitter2);
}

void TRegform::restoreFonts(const char* section, const char* treeKey, const char* listKey) {
    SettingsFile& s = form1_.settings();
    TreeView1->setFont(toQFont(s.readFont(section, treeKey, {}), TreeView1->font()));
    ValueStack->setFont(toQFont(s.readFont(section, listKey, {}), ValueStack->font()));
}

// --- activation and closing -------------------------------------------------------------------

// What activation restores, in the order the settings file expects: columns, the panel lists,
// shortcuts, the remembered view (while SAVE is on), the read-only mode, the toolbar.
void TRegform::restoreActivationSettings() {
    SettingsFile& s = form1_.settings();
    const bool save = s.readBool("OPTION", "SAVE", true);
    if (save)
        for (int c = 0; c < 3; ++c)
            if (const int w = s.readInt("VIEW_COLUMNS", "Width" + std::to_string(c + 1), 0);
                w > 8 && w < 4000)
                ListView1->header()->resizeSection(c, w);
    loadPanelLists();
    if (QAction* paste = findMenuAction(QStringLiteral("PasteValue")))
        paste->setEnabled(!readOnlyMode_ && ListView5->topLevelItemCount() > 0);
    if (s.readBool("OPTION", "SHORTCUT", false))
        applyMenuShortcuts(s, menus_);
    if (save) {
        restoreFonts("VIEW", "TREEVIEW", "LISTVIEW");
        restoreViewState();
        const std::pair<const char*, ViewStyle> styles[] = {{"LI", ViewStyle::LargeIcons},
                                                            {"SI", ViewStyle::SmallIcons},
                                                            {"LT", ViewStyle::List},
                                                            {"RP", ViewStyle::Report}};
        ViewStyle style = ViewStyle::Report;
        for (const auto& [key, st] : styles)
            if (s.readBool("VIEW_STYLE", key, st == ViewStyle::Report)) {
                style = st;
                break;
            }
        ViewStyleClick(style);
        historyPaused_ = s.readBool("VIEW", "STOP", false);
        if (QAction* a = findMenuAction(QStringLiteral("PauseHistory")))
            a->setChecked(historyPaused_);
        if (const int w = s.readInt("VIEW", "VIEW_W", -1); w > 0) {
            const QList<int> sizes = Splitter1->sizes();
            const int total = std::max(sizes.value(0) + sizes.value(1), w + 100);
            Splitter1->setSizes({w, total - w});
        }
    }
    form1_.setStatusPanel(1, historyPaused_ ? QStringLiteral("履歴OFF") : QStringLiteral("履歴ON"));
    if (QAction* a = findMenuAction(QStringLiteral("StatusBarToggle")))
        a->setChecked(form1_.statusBarShown());
    if (!readOnlyMode_ &&
        ((save && s.readBool("OPTION", "READONLY", false)) || form1_.readOnlyArgument()))
        setReadOnlyMode(true);
    showAccessState();
    if (s.readBool("OPTION", "TOOLBAR", false))
        layoutToolBar(true);
}

void TRegform::saveClosingSettings() {
    SettingsFile& s = form1_.settings();
    if (s.readBool("OPTION", "OACS", false))
        if (const auto path = toCp932(caption_))
            s.writeString("OPTION", "OACS_PASS", *path);
    savePanelLists();
    if (!s.readBool("OPTION", "SAVE", true))
        return;
    s.writeInt("VIEW", "VIEW_W", TreeView1->width());
    if (PageControl1->isVisible())
        s.writeInt("VIEW", "VIEW_H", PageControl1->height());
    s.writeBool("VIEW_STYLE", "LI", viewStyle_ == ViewStyle::LargeIcons);
    s.writeBool("VIEW_STYLE", "SI", viewStyle_ == ViewStyle::SmallIcons);
    s.writeBool("VIEW_STYLE", "LT", viewStyle_ == ViewStyle::List);
    s.writeBool("VIEW_STYLE", "RP", viewStyle_ == ViewStyle::Report);
    for (int c = 0; c < 3; ++c)
        s.writeInt("VIEW_COLUMNS", "Width" + std::to_string(c + 1),
                   ListView1->header()->sectionSize(c));
}

} // namespace klv
