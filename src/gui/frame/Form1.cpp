#include "gui/frame/Form1.h"

#include "core/platform/DriveMap.h"
#include "core/platform/ErrorText.h"
#include "core/platform/Folders.h"
#include "core/platform/PlatformFamily.h"
#include "core/platform/ProgramVersion.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/RegistryError.h"
#include "gui/editor/Regform.h"
#include "gui/frame/WineSession.h"
#include "gui/options/OptionsForm.h"
#include "gui/orphans/OrphanSearch.h"
#include "gui/regfiles/MultiExportForm.h"
#include "gui/regfiles/RegExportForm.h"
#include "gui/regfiles/RegFileCommands.h"
#include "gui/script/ScriptEditor.h"
#include "gui/script/ScriptFileDialog.h"
#include "gui/search/QuickSearchForm.h"
#include "gui/search/SearchForm.h"
#include "gui/status/RegStatus.h"
#include "gui/tracking/ChangeTrack.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/HelpFile.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/MenuShortcuts.h"
#include "gui/widgets/TextBridge.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <algorithm>
#include <array>
#include <optional>

namespace klv {
namespace {

QString pathText(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

// A saved rectangle brought onto the screen: no larger than it, and not outside it, whatever
// the settings file says (a width of 100,000 would crash the painting of its controls).
QRect placementOnScreen(const QRect& saved, const QRect& avail) {
    const int w = std::clamp(saved.width(), std::min(200, avail.width()), avail.width());
    const int h = std::clamp(saved.height(), std::min(150, avail.height()), avail.height());
    const int x = std::clamp(saved.x(), avail.left(), avail.left() + avail.width() - w);
    const int y = std::clamp(saved.y(), avail.top(), avail.top() + avail.height() - h);
    return QRect(x, y, w, h);
}

} // namespace

TForm1::TForm1(const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), arguments_(arguments), settings_(SettingsFile::defaultPath()) {
    setObjectName(QStringLiteral("Form1"));
    const WineSession* wine = WineSession::current();
    setWindowTitle(QStringLiteral("Quimbo Registry Editor") +
                   (wine ? QStringLiteral(" - Wine: ") + wine->prefixText() : QString()));
    setWindowIcon(ImageLists::appIcon());
    mdi_ = new QMdiArea(this);
    mdi_->setObjectName(QStringLiteral("MdiArea"));
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* w) {
        editorActivated(w ? qobject_cast<TRegform*>(w->widget()) : nullptr);
    });
    buildMenus();
    buildStatusBar();
    startUp();
}

TForm1::~TForm1() {
    // Editor windows go first, while the menu bar that shows their menus still exists.
    showFrameMenus();
    menuOwner_ = nullptr;
    const auto windows = mdi_->subWindowList();
    for (QMdiSubWindow* w : windows)
        delete w;
}

bool TForm1::readOnlyArgument() const {
    return !arguments_.isEmpty() && arguments_.at(0) == QStringLiteral("/READONLY");
}

QString TForm1::keyArgument() const {
    if (arguments_.size() >= 2 && arguments_.at(0) == QStringLiteral("/KEY"))
        return arguments_.at(1);
    return {};
}

// --- start-up --------------------------------------------------------------------------------

void TForm1::startUp() {
    // Each step runs on its own: one that fails (a folder that cannot be made, a settings file
    // that cannot be written) is reported, and the steps after it still run.
    QStringList failures;
    const auto step = [&](const char* what, const auto& run) {
        try {
            run();
        } catch (const std::exception& e) {
            failures << QString::fromUtf8(what) + QStringLiteral("に失敗しました。\n") +
                            toQString(describeError(e));
        }
    };
    step("キーの画像の読み込み", [&] { loadKeyImages(); });
    step("ウィンドウの位置の復元", [&] { restorePlacement(); });
    step("システム フォルダの準備", [&] { Label1 = pathText(systemFolder()); });
    if (isNtFamily()) {
        if (QAction* a = findAction(QStringLiteral("ScanRegFix")))
            a->setEnabled(false);
        Label12 = QStringLiteral("1");
        Label21 = QStringLiteral("4");
    }
    step("フォルダの作成", [&] { prepareFolders(); });
    step("ショートカット キーの読み込み", [&] {
        if (settings_.readBool("OPTION", "SHORTCUT1", false))
            applyFrameShortcuts();
    });
    step("初回起動の準備", [&] {
        if (!settings_.readBool("SETUP", "DIR", false))
            firstStart();
    });
    setStatusPanel(0, QStringLiteral("フルアクセス"));
    if (!failures.isEmpty())
        showError(this, failures.join(QStringLiteral("\n\n")));
}

void TForm1::loadKeyImages() {
    // Key images chosen by the user, when all four files are there.
    if (!settings_.readBool("OPTION", "KEY", false))
        return;
    std::array<QString, 4> files;
    bool all = true;
    for (int i = 0; i < 4; ++i) {
        const auto f = resolveNoCase(programFolder(), "Image/" + std::to_string(i + 1) + ".ico");
        files[static_cast<std::size_t>(i)] = pathText(f);
        all = all && QFileInfo::exists(files[static_cast<std::size_t>(i)]);
    }
    if (all)
        ImageLists::setUserKeyImages(files);
}

void TForm1::prepareFolders() {
    const auto home = programFolder();
    for (const char* name : {"BACKUP", "DB", "UNDO"})
        ensureFolderNoCase(home, name);
}

void TForm1::firstStart() {
    const auto home = programFolder();
    ensureFolderNoCase(home, "DB");
    ensureFolderNoCase(home, "UNDO");
    DriveMap drives(systemFolder());
    drives.ensureDefaults(home);
    // The registry editor programs; without them the features that need them say so.
    ensureRegistryPrograms(systemFolder());
    for (char letter = 'A'; letter <= 'E'; ++letter) {
        if (drives.kind(letter) == DriveKind::Removable) {
            settings_.writeString("SETUP", "FLOPPY", std::string(1, letter));
            break;
        }
    }
    settings_.writeBool("SETUP", "DIR", true);
}

void TForm1::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (started_)
        return;
    started_ = true;
    if (settings_.readBool("OPTION", "OEDIT", true))
        NewEditorWindow();
}

void TForm1::restorePlacement() {
    // The frame starts maximised unless SAVE is on and a normal placement was saved.
    const std::optional<WindowPlacement> p = settings_.readBool("OPTION", "SAVE", true)
                                                 ? settings_.readPlacement("RegView", "RV")
                                                 : std::nullopt;
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    if (p)
        setGeometry(placementOnScreen(QRect(p->x, p->y, p->width, p->height), avail));
    if (!p || p->show == 3) {
        // Without a window manager the state alone leaves the window small.
        setGeometry(avail);
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

void TForm1::savePlacement() {
    WindowPlacement p;
    const QRect r = normalGeometry().isValid() ? normalGeometry() : geometry();
    p.flags = 0;
    p.show = isMaximized() ? 3 : 1;
    p.maxX = -1;
    p.maxY = -1;
    p.x = r.x();
    p.y = r.y();
    p.width = r.width();
    p.height = r.height();
    settings_.writePlacement("RegView", "RV", p);
}

void TForm1::closeEvent(QCloseEvent* e) {
    // Every editor window saves its own state as it closes.
    closing_ = true;
    mdi_->closeAllSubWindows();
    if (!mdi_->subWindowList().isEmpty()) {
        closing_ = false;
        e->ignore();
        return;
    }
    try {
        if (settings_.readBool("OPTION", "SAVE", true))
            savePlacement();
    } catch (const std::exception& ex) {
        showError(this, toQString(ex.what()));
    }
    // What the prefix's files did not take stays in the store: the program ends all the same.
    if (WineSession* wine = WineSession::current())
        wine->writeBack(this, true);
    e->accept();
}

// --- menus ----------------------------------------------------------------------------------

void TForm1::buildMenus() {
    QMenu* reg = new QMenu(QStringLiteral("レジストリ(&R)"), this);
    reg->setObjectName(QStringLiteral("RegistryMenu"));
    addMenuItem(reg, QStringLiteral("編集ウィンドウの新規作成(&N)"), QStringLiteral("NewWindow"),
                Qt::Key_F9, [this] { N1Click(); });
    addMenuItem(reg, QStringLiteral("レジストリのステータスとバックアップ(&S)"),
                QStringLiteral("StatusBackup"), Qt::Key_F4,
                [this] { TRegStatus::run(*this, this); });
    reg->addSeparator();
    addMenuItem(reg, QStringLiteral("レジストリチェッカー(&C)"), QStringLiteral("ScanReg"), {},
                [this] { ScanRegClick(); });
    addMenuItem(reg, QStringLiteral("レジストリチェッカーによるレジストリの再構築(&F)"),
                QStringLiteral("ScanRegFix"), {}, [this] { ScanRegFixClick(); })
        ->setEnabled(false);
    addMenuItem(reg, QStringLiteral("レジストリチェッカーによるレジストリの復元(&R)"),
                QStringLiteral("ScanRegRestore"), {}, [this] { ScanRegRestoreClick(); })
        ->setEnabled(false);
    reg->addSeparator();
    addMenuItem(reg, QStringLiteral("レジストリ ファイルの取り込み(&I)"), QStringLiteral("Import"),
                {}, [this] { importRegistryFile(this); });
    addMenuItem(reg, QStringLiteral("レジストリ ファイルの書き出し(&E)"), QStringLiteral("Export"),
                {}, [this] { TRegExportForm::run(*this, this, Edit1); });
    addMenuItem(reg, QStringLiteral("複数のレジストリキーを 1個のレジストリファイルに書き出し(&W)"),
                QStringLiteral("ExportMany"), {}, [this] { TMultiExportForm::run(*this, this); });
    addMenuItem(reg, QStringLiteral("レジストリデータを詳細なテキストで書き出し(&T)"),
                QStringLiteral("ExportText"), {}, {});
    addMenuItem(reg, QStringLiteral("印刷(&P)..."), QStringLiteral("Print"), QKeySequence(), {});
    reg->addSeparator();
    addMenuItem(reg, QStringLiteral("Wine プレフィックスを開く(&O)..."), QStringLiteral("WineOpen"),
                {}, [this] { WineOpenClick(); });
    addMenuItem(reg, QStringLiteral("Wine のレジストリへ書き戻す(&B)"),
                QStringLiteral("WineWriteBack"), {}, [this] { WineWriteBackClick(); })
        ->setEnabled(WineSession::current() != nullptr);
    reg->addSeparator();
    addMenuItem(reg, QStringLiteral("終了(&X)"), QStringLiteral("Exit"),
                QKeySequence(Qt::ALT | Qt::Key_F4), [this] { ExitClick(); });
    connect(reg, &QMenu::aboutToShow, this, [this] { RegistryMenuPopup(); });

    QMenu* edit = new QMenu(QStringLiteral("編集(&E)"), this);
    edit->setObjectName(QStringLiteral("EditMenu"));
    edit->setEnabled(false);
    QMenu* view = new QMenu(QStringLiteral("表示(&V)"), this);
    view->setObjectName(QStringLiteral("ViewMenu"));
    view->setEnabled(false);

    QMenu* search = new QMenu(QStringLiteral("検索(&S)"), this);
    search->setObjectName(QStringLiteral("SearchMenu"));
    addMenuItem(search, QStringLiteral("検索(&S)"), QStringLiteral("Search"),
                QKeySequence(Qt::CTRL | Qt::Key_F), [this] { openSearch(false, {}, {}); });
    addMenuItem(search, QStringLiteral("クイックサーチ(&Q)"), QStringLiteral("QuickSearch"), {},
                [this] { QuickSearchClick(); });
    addMenuItem(search, QStringLiteral("置換(&C)"), QStringLiteral("Replace"), {},
                [this] { openSearch(true, {}, {}); });
    search->addSeparator();
    addMenuItem(search, QStringLiteral("孤立エントリの検索(&K)"), QStringLiteral("OrphanSearch"),
                {}, [this] { OrphanSearchClick(); });
    addMenuItem(search, QStringLiteral("レジストリの変更箇所の追跡(&T)"),
                QStringLiteral("ChangeTracking"), {}, [this] { ChangeTrackingClick(); });

    QMenu* script = new QMenu(QStringLiteral("スクリプト(&P)"), this);
    script->setObjectName(QStringLiteral("ScriptMenu"));
    addMenuItem(script, QStringLiteral("実行(&R)"), QStringLiteral("ScriptRun"), Qt::Key_F3, {});
    addMenuItem(script, QStringLiteral("スクリプトの新規作成(&N)"), QStringLiteral("ScriptNew"), {},
                [this] { ScriptEditorClick(); });
    addMenuItem(script, QStringLiteral("スクリプトの編集(&E)"), QStringLiteral("ScriptEdit"), {},
                {});
    addMenuItem(script, QStringLiteral("QB スクリプトエディタ(&S)"), QStringLiteral("ScriptEditor"),
                {}, [this] { ScriptEditorClick(); });

    QMenu* options = new QMenu(QStringLiteral("オプション(&O)"), this);
    options->setObjectName(QStringLiteral("OptionMenu"));
    addMenuItem(options, QStringLiteral("オプション(&P)"), QStringLiteral("Options"), Qt::Key_F8,
                [this] {
                    TOptionsForm::run(settings_.path(), TOptionsForm::Page::None,
                                      menuOwner_ ? menuOwner_->ToolBar1 : nullptr, this);
                });
    QAction* sb = addMenuItem(options, QStringLiteral("ステータスバー(&S)"),
                              QStringLiteral("StatusBarToggle"), {}, [this] { StatusBar1Click(); });
    sb->setCheckable(true);
    sb->setChecked(true);

    windowMenu_ = new QMenu(QStringLiteral("ウィンドウ(&W)"), this);
    windowMenu_->setObjectName(QStringLiteral("WindowMenu"));
    connect(windowMenu_, &QMenu::aboutToShow, this, [this] {
        // The fixed items, then one checkable item per open editor window.
        const auto actions = windowMenu_->actions();
        for (int i = 3; i < actions.size(); ++i)
            windowMenu_->removeAction(actions[i]), delete actions[i];
        const auto windows = mdi_->subWindowList();
        if (!windows.isEmpty())
            windowMenu_->addSeparator();
        int n = 1;
        for (QMdiSubWindow* w : windows) {
            QAction* a =
                windowMenu_->addAction(QStringLiteral("&%1 %2").arg(n++).arg(w->windowTitle()));
            a->setCheckable(true);
            a->setChecked(w == mdi_->activeSubWindow());
            connect(a, &QAction::triggered, this, [this, w] { mdi_->setActiveSubWindow(w); });
        }
    });
    addMenuItem(windowMenu_, QStringLiteral("並べて表示(&T)"), QStringLiteral("Tile"),
                QKeySequence(Qt::CTRL | Qt::Key_N), [this] { TileClick(); });
    addMenuItem(windowMenu_, QStringLiteral("重ねて表示(&C)"), QStringLiteral("Cascade"), {},
                [this] { CascadeClick(); });
    addMenuItem(windowMenu_, QStringLiteral("アイコンの整列(&A)"), QStringLiteral("ArrangeIcons"),
                {}, [this] { ArrangeIconsClick(); });

    helpMenu_ = new QMenu(QStringLiteral("ヘルプ(&H)"), this);
    helpMenu_->setObjectName(QStringLiteral("HelpMenu"));
    addMenuItem(helpMenu_, QStringLiteral("トピックの検索(&H)"), QStringLiteral("HelpTopics"),
                Qt::Key_F1, [this] { HelpTopicsClick(); });
    addMenuItem(helpMenu_, QStringLiteral("レジストリの再構築ヘルプ(&R)"),
                QStringLiteral("HelpRebuild"), {}, [this] { HelpRebuildClick(); });

    frameMenus_ = {reg, edit, view, search, script, options};
    showFrameMenus();
}

void TForm1::showFrameMenus() {
    menuBar()->clear();
    for (QMenu* m : frameMenus_)
        menuBar()->addMenu(m);
    menuBar()->addMenu(windowMenu_);
    menuBar()->addMenu(helpMenu_);
}

QAction* TForm1::findAction(const QString& objectName) const {
    for (QMenu* m : frameMenus_)
        for (QAction* a : m->actions())
            if (a->objectName() == objectName)
                return a;
    for (QMenu* m : {windowMenu_, helpMenu_})
        for (QAction* a : m->actions())
            if (a->objectName() == objectName)
                return a;
    return nullptr;
}

void TForm1::applyFrameShortcuts() {
    std::vector<QMenu*> menus = frameMenus_;
    menus.push_back(windowMenu_);
    menus.push_back(helpMenu_);
    applyMenuShortcuts(settings_, menus);
}

void TForm1::editorActivated(TRegform* form) {
    if (form)
        form->FormActivate();
    if (form == menuOwner_ && form)
        return;
    menuOwner_ = form;
    if (!form) {
        if (mdi_->subWindowList().isEmpty())
            showFrameMenus();
        return;
    }
    menuBar()->clear();
    for (QMenu* m : form->menus()) {
        if (m->objectName() == QStringLiteral("RegistryMenu"))
            addWineItems(m);
        menuBar()->addMenu(m);
    }
    menuBar()->addMenu(windowMenu_);
    menuBar()->addMenu(helpMenu_);
}

void TForm1::addWineItems(QMenu* registryMenu) const {
    QAction* open = findAction(QStringLiteral("WineOpen"));
    QAction* writeBack = findAction(QStringLiteral("WineWriteBack"));
    if (!open || !writeBack || registryMenu->actions().contains(open))
        return;
    // Their own group before the separator above "Exit", as in the frame's menu.
    const QList<QAction*> items = registryMenu->actions();
    QAction* before = nullptr;
    for (qsizetype i = 1; i < items.size(); ++i)
        if (items[i]->objectName() == QStringLiteral("Exit") && items[i - 1]->isSeparator())
            before = items[i - 1];
    registryMenu->insertSeparator(before);
    registryMenu->insertActions(before, {open, writeBack});
}

void TForm1::updateCheckerItems(QAction* checker, QAction* fix, QAction* restore) const {
    const auto exe = findNoCase(systemFolder(), "SCANREGW.EXE");
    checker->setEnabled(exe.has_value());
    const bool recent = exe && programVersionAtLeast(*exe, 4.9);
    if (fix)
        fix->setEnabled(recent && !isNtFamily());
    if (restore)
        restore->setEnabled(recent);
}

void TForm1::RegistryMenuPopup() {
    updateCheckerItems(findAction(QStringLiteral("ScanReg")),
                       findAction(QStringLiteral("ScanRegFix")),
                       findAction(QStringLiteral("ScanRegRestore")));
}

// --- status bar -------------------------------------------------------------------------------

void TForm1::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(true);
    const int widths[] = {90, 60, 50};
    const QString texts[] = {QStringLiteral("フルアクセス"), QStringLiteral("履歴ON"),
                             QStringLiteral("レディ")};
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(texts[i], bar);
        l->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        l->setMinimumWidth(widths[i]);
        l->setFrameShape(QFrame::StyledPanel);
        l->setFrameShadow(QFrame::Sunken);
        l->setAlignment(i < 2 ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
        bar->addWidget(l, i == 2 ? 1 : 0);
        panels_.push_back(l);
    }
    // Remembered window state is read only while SAVE is on.
    const bool shown =
        !settings_.readBool("OPTION", "SAVE", true) || settings_.readBool("VIEW", "SB", true);
    bar->setVisible(shown);
    if (QAction* a = findAction(QStringLiteral("StatusBarToggle")))
        a->setChecked(shown);
}

void TForm1::setStatusPanel(int panel, const QString& text) {
    if (panel >= 0 && panel < static_cast<int>(panels_.size()))
        panels_[static_cast<std::size_t>(panel)]->setText(text);
}

QString TForm1::statusPanel(int panel) const {
    if (panel >= 0 && panel < static_cast<int>(panels_.size()))
        return panels_[static_cast<std::size_t>(panel)]->text();
    return {};
}

bool TForm1::event(QEvent* e) {
    // Every hint goes to the third panel.
    if (e->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
        setStatusPanel(2, tip.isEmpty() ? QStringLiteral("レディ") : tip);
        return true;
    }
    return QMainWindow::event(e);
}

bool TForm1::statusBarShown() const {
    return !statusBar()->isHidden();
}

void TForm1::StatusBar1Click() {
    const bool show = !statusBar()->isVisible();
    statusBar()->setVisible(show);
    if (QAction* a = findAction(QStringLiteral("StatusBarToggle")))
        a->setChecked(show);
    if (settings_.readBool("OPTION", "SAVE", true))
        settings_.writeBool("VIEW", "SB", show);
}

// --- editor windows ---------------------------------------------------------------------------

TRegform* TForm1::NewEditorWindow() {
    TRegform* form = nullptr;
    try {
        form = new TRegform(*this);
    } catch (const RegistryError& e) {
        showError(this, toQString(e.fullText()));
        return nullptr;
    } catch (const std::exception& e) {
        showError(this,
                  QStringLiteral("編集ウィンドウを開けません。\n") + toQString(describeError(e)));
        return nullptr;
    }
    if (form->registryReadOnly()) {
        // A registry file (or its folder) that cannot be written opens read only: say so.
        setStatusPanel(0, QStringLiteral("読み取り専用"));
        panels_[0]->setToolTip(
            QStringLiteral("レジストリ ファイルに書き込めないため、読み取り専用で開いています"));
    }
    QMdiSubWindow* sub = mdi_->addSubWindow(form);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowIcon(ImageLists::treeImage(0));
    const QSize area = mdi_->viewport()->size();
    sub->resize(std::max(640, area.width() * 9 / 10), std::max(440, area.height() * 9 / 10));
    connect(form, &QWidget::windowTitleChanged, sub, &QWidget::setWindowTitle);
    sub->setWindowTitle(form->windowTitle());
    // Queued: the write-back may ask the user, which is no business of a window being deleted.
    if (WineSession::current())
        connect(
            sub, &QObject::destroyed, this, [this] { editorClosed(); }, Qt::QueuedConnection);
    form->show();
    sub->show();
    mdi_->setActiveSubWindow(sub);
    form->FormShow();
    return form;
}

std::vector<TRegform*> TForm1::editorWindows() const {
    std::vector<TRegform*> out;
    const auto list = mdi_->subWindowList(QMdiArea::ActivationHistoryOrder);
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (auto* f = qobject_cast<TRegform*>((*it)->widget()))
            out.push_back(f);
    return out;
}

void TForm1::HandBack() {
    const auto windows = editorWindows();
    if (windows.empty())
        return;
    TRegform* form = windows.front();
    if (auto* sub = qobject_cast<QMdiSubWindow*>(form->parentWidget()))
        mdi_->setActiveSubWindow(sub);
    form->NavigateTo(Label8);
}

void TForm1::JumpTo(const QString& keyPath, const QString& valueName, bool selectValue) {
    if (editorWindows().empty())
        return;
    Label8 = keyPath;
    Label18 = valueName;
    Label19 = selectValue ? QStringLiteral("1") : QStringLiteral("0");
    HandBack();
}

void TForm1::addChildWindow(QWidget* window) {
    // The sub-window owns the window: closing either deletes both.
    QMdiSubWindow* sub = mdi_->addSubWindow(window);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &QWidget::windowTitleChanged, sub, &QWidget::setWindowTitle);
    sub->setWindowTitle(window->windowTitle());
    // Most of the frame, as editor windows open: tool windows have wide lists and toolbars.
    const QSize area = mdi_->viewport()->size();
    sub->resize(std::max(sub->sizeHint().width(), area.width() * 9 / 10),
                std::max(sub->sizeHint().height(), area.height() * 9 / 10));
    window->show();
    sub->show();
    mdi_->setActiveSubWindow(sub);
}

void TForm1::openSearch(bool replaceMode, const QString& startKey, const QString& searchText) {
    TSearchForm d(*this, replaceMode, this);
    if (!startKey.isEmpty())
        d.presetStartKey(startKey);
    if (!searchText.isEmpty())
        d.presetSearchText(searchText);
    d.exec();
}

void TForm1::QuickSearchClick() {
    TQuickSearch::run(*this, this);
}

bool TForm1::raiseChildWindow(QWidget* window) {
    if (!window)
        return false;
    if (auto* sub = qobject_cast<QMdiSubWindow*>(window->parentWidget())) {
        if (sub->isMinimized())
            sub->showNormal();
        mdi_->setActiveSubWindow(sub);
    }
    return true;
}

void TForm1::ChangeTrackingClick() {
    if (raiseChildWindow(changeTrack_))
        return;
    changeTrack_ = new TChangeTrack(*this);
    addChildWindow(changeTrack_);
}

void TForm1::OrphanSearchClick() {
    if (raiseChildWindow(orphanSearch_))
        return;
    orphanSearch_ = new TOrphanSearch(*this);
    addChildWindow(orphanSearch_);
}

void TForm1::ScriptEditorClick() {
    addChildWindow(new TScriptEditor(*this));
}

void TForm1::ScriptEditClick() {
    const QString file =
        TScriptFileDialog::choose(this, QStringLiteral("編集するスクリプトファイルの指定"));
    if (file.isEmpty())
        return;
    auto window = std::make_unique<TScriptEditor>(*this);
    if (window->loadFile(file))
        addChildWindow(window.release());
}

void TForm1::ScriptRunClick() {
    const QString file =
        TScriptFileDialog::choose(this, QStringLiteral("実行するスクリプトファイルの指定"));
    if (file.isEmpty())
        return;
    auto window = std::make_unique<TScriptEditor>(*this);
    if (!window->loadFile(file))
        return;
    QMdiSubWindow* previous = mdi_->activeSubWindow();
    QPointer<TScriptEditor> script = window.release();
    Label16 = QStringLiteral("1");
    addChildWindow(script);
    // The window that asked stays in front while the script runs behind it.
    if (previous)
        mdi_->setActiveSubWindow(previous);
    script->RunScript();
}

void TForm1::N1Click() {
    NewEditorWindow();
}

void TForm1::ExitClick() {
    close();
}

void TForm1::editorClosed() {
    if (closing_)
        return;
    if (WineSession* wine = WineSession::current())
        wine->writeBack(this, false);
}

void TForm1::WineOpenClick() {
    const QString folder = DialogService::instance().folderName(
        this, QStringLiteral("Wine プレフィックスを開く"), WineSession::defaultPrefixFolder());
    if (folder.isEmpty())
        return;
    WineSession::openInNewProcess(this, folder);
}

void TForm1::WineWriteBackClick() {
    if (WineSession* wine = WineSession::current())
        wine->writeBack(this, false);
}

void TForm1::TileClick() {
    mdi_->tileSubWindows();
}

void TForm1::CascadeClick() {
    mdi_->cascadeSubWindows();
}

void TForm1::ArrangeIconsClick() {
    // Minimised windows in a row along the bottom edge.
    int x = 0;
    for (QMdiSubWindow* w : mdi_->subWindowList()) {
        if (!w->isMinimized())
            continue;
        const QSize s = w->size();
        w->move(x, mdi_->viewport()->height() - s.height());
        x += s.width();
    }
}

// --- external programs and help ---------------------------------------------------------------

void TForm1::ScanRegClick() {
    const auto exe = findNoCase(systemFolder(), "SCANREGW.EXE");
    if (!exe || !QProcess::startDetached(pathText(*exe), {}, pathText(systemFolder())))
        showError(this, QStringLiteral("レジストリチェッカー (ScanRegw.exe) を起動できません。"));
}

void TForm1::ScanRegFixClick() {
    const auto exe = findNoCase(systemFolder(), "SCANREGW.EXE");
    if (!exe ||
        !QProcess::startDetached(pathText(*exe), {QStringLiteral("/fix"), QStringLiteral("/opt")}))
        showError(this, QStringLiteral("レジストリチェッカー (ScanRegw.exe) を起動できません。"));
}

void TForm1::ScanRegRestoreClick() {
    const auto exe = findNoCase(systemFolder(), "SCANREGW.EXE");
    if (!exe || !QProcess::startDetached(pathText(*exe), {QStringLiteral("/restore")}))
        showError(this, QStringLiteral("レジストリチェッカー (ScanRegw.exe) を起動できません。"));
}

void TForm1::HelpTopicsClick() {
    showHelpPage(this, QStringLiteral("index.html"));
}

void TForm1::HelpRebuildClick() {
    showHelpTopic(this, 88);
}

} // namespace klv
