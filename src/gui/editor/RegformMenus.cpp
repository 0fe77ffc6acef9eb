// The editor window's menus and toolbar.
#include "gui/editor/Regform.h"

#include "core/settings/SettingsFile.h"
#include "gui/options/OptionsForm.h"
#include "gui/printing/RegPrintForm.h"
#include "gui/regfiles/MultiExportForm.h"
#include "gui/regfiles/RegExportForm.h"
#include "gui/regfiles/RegFileCommands.h"
#include "gui/status/RegStatus.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuItems.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QToolBar>
#include <algorithm>

namespace klv {
namespace {
// Marks the toolbar's stand-ins of hidden buttons.
constexpr const char* kHiddenStandIn = "klvHiddenStandIn";
} // namespace

namespace {

// Each editor window's shortcuts act within that window only, so that several windows do not
// make them ambiguous.
QAction* menuItem(QMenu* menu, const QString& caption, const QString& name,
                  const QKeySequence& shortcut, std::function<void()> handler) {
    return addMenuItem(menu, caption, name, shortcut, std::move(handler),
                       Qt::WidgetWithChildrenShortcut);
}

} // namespace

void TRegform::buildMenus() {
    FrameHost& f = form1_;
    auto* reg = new QMenu(QStringLiteral("レジストリ(&R)"), this);
    reg->setObjectName(QStringLiteral("RegistryMenu"));
    menuItem(reg, QStringLiteral("編集ウィンドウの新規作成(&N)"), QStringLiteral("NewWindow"),
             Qt::Key_F9, [&f] { f.N1Click(); });
    menuItem(reg, QStringLiteral("閉じる(&L)"), QStringLiteral("CloseWindow"), Qt::Key_End, [this] {
        if (parentWidget())
            parentWidget()->close();
        else
            close();
    });
    reg->addSeparator();
    menuItem(reg, QStringLiteral("レジストリのステータスとバックアップ(&S)"),
             QStringLiteral("StatusBackup"), Qt::Key_F4, [&f, this] { TRegStatus::run(f, this); });
    QAction* checker = menuItem(reg, QStringLiteral("レジストリチェッカー(&C)"),
                                QStringLiteral("ScanReg"), {}, [&f] { f.ScanRegClick(); });
    QAction* fix = menuItem(reg, QStringLiteral("レジストリチェッカーによるレジストリの再構築(&F)"),
                            QStringLiteral("ScanRegFix"), {}, [&f] { f.ScanRegFixClick(); });
    QAction* restore =
        menuItem(reg, QStringLiteral("レジストリチェッカーによるレジストリの復元(&R)"),
                 QStringLiteral("ScanRegRestore"), {}, [&f] { f.ScanRegRestoreClick(); });
    fix->setEnabled(false);
    restore->setEnabled(false);
    connect(reg, &QMenu::aboutToShow, this,
            [&f, checker, fix, restore] { f.updateCheckerItems(checker, fix, restore); });
    reg->addSeparator();
    menuItem(reg, QStringLiteral("レジストリ ファイルの取り込み(&I)"), QStringLiteral("Import"), {},
             [this] { importRegistryFile(this); });
    menuItem(reg, QStringLiteral("レジストリ ファイルの書き出し(&E)"), QStringLiteral("Export"), {},
             [this, &f] { TRegExportForm::run(f, this, f.Edit1); });
    menuItem(reg, QStringLiteral("複数のレジストリキーをレジストリファイルに書き出し(&W)"),
             QStringLiteral("ExportMany"), {}, [this, &f] { TMultiExportForm::run(f, this); });
    menuItem(reg, QStringLiteral("レジストリデータを詳細なテキストで書き出し(&T)"),
             QStringLiteral("ExportText"), {},
             [this, &f] { TRegPrintForm::run(f, TRegPrintForm::Use::Save, this); });
    menuItem(reg, QStringLiteral("印刷(&P)..."), QStringLiteral("Print"),
             QKeySequence(Qt::CTRL | Qt::Key_P),
             [this, &f] { TRegPrintForm::run(f, TRegPrintForm::Use::Print, this); });
    reg->addSeparator();
    menuItem(reg, QStringLiteral("終了(&X)"), QStringLiteral("Exit"),
             QKeySequence(Qt::ALT | Qt::Key_F4), [&f] { f.ExitClick(); });

    auto* edit = new QMenu(QStringLiteral("編集(&E)"), this);
    edit->setObjectName(QStringLiteral("EditMenu"));
    menuItem(edit, QStringLiteral("元に戻す(&U)"), QStringLiteral("Undo"),
             QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { UndoClick(); });
    edit->addSeparator();
    QMenu* create = edit->addMenu(QStringLiteral("新規(&N)"));
    create->setObjectName(QStringLiteral("NewMenu"));
    menuItem(create, QStringLiteral("キー(&K)"), QStringLiteral("NewKey"), {},
             [this] { NewKeyClick(); });
    create->addSeparator();
    menuItem(create, QStringLiteral("文字列(&S)"), QStringLiteral("NewString"), {},
             [this] { NewValueClick(EditedKind::String); });
    menuItem(create, QStringLiteral("数値（DWORD値）(&D)"), QStringLiteral("NewDword"), {},
             [this] { NewValueClick(EditedKind::Integer); });
    menuItem(create, QStringLiteral("バイナリ(&B)"), QStringLiteral("NewBinary"), {},
             [this] { NewValueClick(EditedKind::Binary); });
    menuItem(create, QStringLiteral("拡張文字列(&E)"), QStringLiteral("NewExpandString"), {},
             [this] { NewValueClick(EditedKind::ExpandString); });
    menuItem(create, QStringLiteral("マルチ文字列(&M)"), QStringLiteral("NewMultiString"), {},
             [this] { NewValueClick(EditedKind::MultiString); });
    menuItem(edit, QStringLiteral("修正(&M)"), QStringLiteral("Modify"), {},
             [this] { ModifyClick(); });
    menuItem(edit, QStringLiteral("名前の変更(&R)"), QStringLiteral("Rename"), Qt::Key_F2,
             [this] { RenameClick(); });
    menuItem(edit, QStringLiteral("削除(&D)"), QStringLiteral("Delete"),
             QKeySequence(Qt::CTRL | Qt::Key_Delete), [this] { DeleteClick(); });
    edit->addSeparator();
    menuItem(edit, QStringLiteral("キー名をクリップボードにコピー(&L)"),
             QStringLiteral("CopyKeyName"), {}, [this] { CopyKeyNameClick(); });
    menuItem(edit, QStringLiteral("名前をクリップボードにコピー(&V)"), QStringLiteral("CopyName"),
             {}, [this] { CopyNameClick(); });
    menuItem(edit, QStringLiteral("データをクリップボードにコピー(&A)"), QStringLiteral("CopyData"),
             {}, [this] { CopyDataClick(); });
    edit->addSeparator();
    menuItem(edit, QStringLiteral("切り取り(&T)"), QStringLiteral("CutValue"),
             QKeySequence(Qt::CTRL | Qt::Key_X), [this] { CutValueClick(); });
    menuItem(edit, QStringLiteral("コピー(&C)"), QStringLiteral("CopyValue"),
             QKeySequence(Qt::CTRL | Qt::Key_C), [this] { CopyValueClick(); });
    menuItem(edit, QStringLiteral("貼り付け(&P)"), QStringLiteral("PasteValue"),
             QKeySequence(Qt::CTRL | Qt::Key_V), [this] { PasteValueClick(); });
    menuItem(edit, QStringLiteral("クイックビューワ(&Q)"), QStringLiteral("QuickViewer"), {},
             [this] { QuickViewerClick(); });
    edit->addSeparator();
    menuItem(edit, QStringLiteral("お気に入りに追加(&F)"), QStringLiteral("AddFavorite"), {},
             [this] { AddFavoriteClick(); });
    edit->addSeparator();
    menuItem(edit, QStringLiteral("読みとり専用(&O)"), QStringLiteral("ReadOnly"), {}, [this] {
        ReadOnlyClick();
    })->setCheckable(true);

    auto* search = new QMenu(QStringLiteral("検索(&S)"), this);
    search->setObjectName(QStringLiteral("SearchMenu"));
    menuItem(search, QStringLiteral("検索(&S)"), QStringLiteral("Search"),
             QKeySequence(Qt::CTRL | Qt::Key_F), [&f] { f.openSearch(false, {}, {}); });
    menuItem(search, QStringLiteral("クイックサーチ(&Q)"), QStringLiteral("QuickSearch"), {},
             [&f] { f.QuickSearchClick(); });
    menuItem(search, QStringLiteral("置換(&C)"), QStringLiteral("Replace"),
             QKeySequence(Qt::CTRL | Qt::Key_R), [&f] { f.openSearch(true, {}, {}); });
    search->addSeparator();
    menuItem(search, QStringLiteral("孤立エントリの検索(&K)"), QStringLiteral("OrphanSearch"), {},
             [&f] { f.OrphanSearchClick(); });
    menuItem(search, QStringLiteral("レジストリの変更箇所の追跡(&T)"),
             QStringLiteral("ChangeTracking"), {}, [&f] { f.ChangeTrackingClick(); });

    auto* script = new QMenu(QStringLiteral("スクリプト(&P)"), this);
    script->setObjectName(QStringLiteral("ScriptMenu"));
    menuItem(script, QStringLiteral("実行(&R)"), QStringLiteral("ScriptRun"), Qt::Key_F3,
             [&f] { f.ScriptRunClick(); });
    menuItem(script, QStringLiteral("スクリプトの新規作成(&N)"), QStringLiteral("ScriptNew"), {},
             [&f] { f.ScriptEditorClick(); });
    menuItem(script, QStringLiteral("スクリプトの編集(&E)"), QStringLiteral("ScriptEdit"), {},
             [&f] { f.ScriptEditClick(); });
    menuItem(script, QStringLiteral("QB スクリプトエディタ(&S)"), QStringLiteral("ScriptEditor"),
             QKeySequence(Qt::CTRL | Qt::Key_S), [&f] { f.ScriptEditorClick(); });

    auto* view = new QMenu(QStringLiteral("表示(&V)"), this);
    view->setObjectName(QStringLiteral("ViewMenu"));
    menuItem(view, QStringLiteral("選択しているキーのサブキーをすべて展開(&T)"),
             QStringLiteral("ExpandAll"), {}, [this] { ExpandAllClick(); });
    menuItem(view, QStringLiteral("ツリーをすべて折り畳む(&O)"), QStringLiteral("CollapseAll"), {},
             [this] { CollapseAllClick(); });
    view->addSeparator();
    menuItem(view, QStringLiteral("元に戻すリストの表示(&R)"), QStringLiteral("ShowUndoList"), {},
             [this] { showPanelTab(0); });
    menuItem(view, QStringLiteral("お気に入りリストの表示(&F)"), QStringLiteral("ShowFavorites"),
             {}, [this] { showPanelTab(1); });
    menuItem(view, QStringLiteral("アクセス履歴リストの表示(&H)"), QStringLiteral("ShowHistory"),
             {}, [this] { showPanelTab(2); });
    view->addSeparator();
    auto* styles = new QActionGroup(view);
    const struct {
        const char* caption;
        const char* name;
        ViewStyle style;
    } styleItems[] = {{"横ならびのアイコン(&B)", "StyleLargeIcons", ViewStyle::LargeIcons},
                      {"縦ならびのアイコン(&S)", "StyleSmallIcons", ViewStyle::SmallIcons},
                      {"一覧(&L)", "StyleList", ViewStyle::List},
                      {"レポート(&P)", "StyleReport", ViewStyle::Report}};
    for (const auto& item : styleItems) {
        QAction* a = menuItem(view, QString::fromUtf8(item.caption), QString::fromLatin1(item.name),
                              {}, [this, style = item.style] { ViewStyleClick(style); });
        a->setCheckable(true);
        a->setChecked(item.style == ViewStyle::Report);
        styles->addAction(a);
    }
    view->addSeparator();
    menuItem(view, QStringLiteral("バリューホルダービューワ(&V)"),
             QStringLiteral("ShowValueHolder"), {}, [this] { showPanelTab(3); });
    menuItem(view, QStringLiteral("バリューホルダーのクリア(&V)"),
             QStringLiteral("ClearValueHolder"), {}, [this] { HolderClearClick(); });
    menuItem(view, QStringLiteral("保管値をすべて貼り付ける候補とする(&A)"),
             QStringLiteral("HolderAllPaste"), {}, [this] { HolderAllClick(true); });
    menuItem(view, QStringLiteral("保管値をすべて貼り付けない候補とする(&N)"),
             QStringLiteral("HolderNonePaste"), {}, [this] { HolderAllClick(false); });
    menuItem(view, QStringLiteral("保管値のうち貼り付けない候補をすべて削除(&E)"),
             QStringLiteral("HolderDeleteUnflagged"), {}, [this] { HolderDeleteUnflaggedClick(); });

    auto* options = new QMenu(QStringLiteral("オプション(&O)"), this);
    options->setObjectName(QStringLiteral("OptionMenu"));
    const auto openOptions = [this, &f](TOptionsForm::Page page) {
        TOptionsForm::run(f.settings().path(), page, ToolBar1, this);
    };
    menuItem(options, QStringLiteral("オプション(&P)"), QStringLiteral("Options"), Qt::Key_F8,
             [openOptions] { openOptions(TOptionsForm::Page::None); });
    menuItem(options, QStringLiteral("ツールバーのカスタマイズ(&C)"),
             QStringLiteral("CustomizeToolbar"), {},
             [openOptions] { openOptions(TOptionsForm::Page::Toolbar); });
    menuItem(options, QStringLiteral("ショートカットキーのカスタマイズ(&M)"),
             QStringLiteral("CustomizeShortcuts"), {},
             [openOptions] { openOptions(TOptionsForm::Page::Shortcuts); });
    options->addSeparator();
    menuItem(options, QStringLiteral("アクセス履歴の記録を一時停止(&O)"),
             QStringLiteral("PauseHistory"), {}, [this] { PauseHistoryClick(); })
        ->setCheckable(true);
    options->addSeparator();
    menuItem(options, QStringLiteral("ツールバー(&T)"), QStringLiteral("ToolBarToggle"), {},
             [this] { ToolBarClick(); })
        ->setCheckable(true);
    menuItem(options, QStringLiteral("ステータスバー(&S)"), QStringLiteral("StatusBarToggle"), {},
             [&f] { f.StatusBar1Click(); })
        ->setCheckable(true);
    menuItem(options, QStringLiteral("アドレスバー(&A)"), QStringLiteral("AddressBarToggle"), {},
             [this] { AddressBarClick(); })
        ->setCheckable(true);
    QAction* panel =
        menuItem(options, QStringLiteral("ファンクションパネル(&F)"),
                 QStringLiteral("FunctionPanel"), {}, [this] { FunctionPanelClick(); });
    panel->setCheckable(true);
    panel->setChecked(true);
    options->addSeparator();
    menuItem(options, QStringLiteral("レジストリツリービューのフォントの指定(&N)"),
             QStringLiteral("TreeFont"), {}, [this] { TreeFontClick(); });
    menuItem(options, QStringLiteral("バリューリストビューのフォントの指定(&U)"),
             QStringLiteral("ListFont"), {}, [this] { ListFontClick(); });
    menuItem(options, QStringLiteral("レジストリツリー境界の変更(&K)"),
             QStringLiteral("TreeBoundary"), {}, [this] { TreeBoundaryClick(); });
    menuItem(options, QStringLiteral("ファンクションパネル境界の変更(&H)"),
             QStringLiteral("PanelBoundary"), {}, [this] { PanelBoundaryClick(); });
    options->addSeparator();
    menuItem(options, QStringLiteral("バリューリストのみ最新の情報に更新(&V)"),
             QStringLiteral("RefreshList"), {}, [this] { RefreshListClick(); });
    menuItem(options, QStringLiteral("最新の情報に更新(&R)"), QStringLiteral("Refresh"), Qt::Key_F5,
             [this] { RefreshClick(); });

    menus_ = {reg, edit, search, script, view, options};
}

void TRegform::buildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setIconSize(QSize(16, 16));
    using T = ImageLists::ToolImage;
    // The buttons in their default order; a null entry is a separator. They are numbered
    // ToolButton1, ToolButton2, ... in this order, the names the customised toolbar uses.
    const std::pair<const char*, T> buttons[] = {
        {"NewWindow", T::NewWindow},
        {"CloseWindow", T::CloseWindow},
        {nullptr, T::Count},
        {"NewKey", T::NewKey},
        {"NewString", T::NewString},
        {"NewDword", T::NewDword},
        {"NewBinary", T::NewBinary},
        {"Modify", T::Modify},
        {"Delete", T::Delete},
        {"Rename", T::Rename},
        {nullptr, T::Count},
        {"CutValue", T::Cut},
        {"CopyValue", T::Copy},
        {"PasteValue", T::Paste},
        {"CopyKeyName", T::CopyKeyName},
        {nullptr, T::Count},
        {"Search", T::Search},
        {"QuickSearch", T::QuickSearch},
        {"Replace", T::Replace},
        {"OrphanSearch", T::OrphanSearch},
        {"ChangeTracking", T::ChangeTracking},
        {nullptr, T::Count},
        {"Import", T::Import},
        {"Export", T::Export},
        {"Print", T::Print},
        {"StatusBackup", T::StatusBackup},
        {nullptr, T::Count},
        {"ScriptRun", T::ScriptRun},
        {"ScriptEditor", T::ScriptEdit},
        {nullptr, T::Count},
        {"ExpandAll", T::ExpandAll},
        {"CollapseAll", T::CollapseAll},
        {"Refresh", T::Refresh},
        {nullptr, T::Count},
        {"StyleLargeIcons", T::ViewLargeIcons},
        {"StyleSmallIcons", T::ViewSmallIcons},
        {"StyleList", T::ViewList},
        {"StyleReport", T::ViewReport},
        {nullptr, T::Count},
        {"ReadOnly", T::ReadOnlyOff},
        {"FunctionPanel", T::FunctionPanel},
        {"Options", T::Options},
        {"Exit", T::Exit},
    };
    for (const auto& [name, image] : buttons) {
        QAction* action = name ? findMenuAction(QString::fromLatin1(name)) : nullptr;
        if (name && !action)
            continue;
        if (action)
            action->setIcon(ImageLists::toolImage(image));
        toolButtons_.push_back(action);
    }
    if (QAction* paste = findMenuAction(QStringLiteral("PasteValue")))
        paste->setEnabled(false); // until the value holder holds something
    layoutToolBar(false);
}

QAction* TRegform::findMenuAction(const QString& name) const {
    for (QMenu* m : menus_)
        for (QAction* a : m->findChildren<QAction*>())
            if (a->objectName() == name)
                return a;
    return nullptr;
}

// The toolbar's buttons: in their default order, or, customised, those that TOOLBAR shows,
// ordered by the positions it gives them.
void TRegform::layoutToolBar(bool customised) {
    // Stand-ins of hidden buttons from the last layout go with it.
    const QList<QAction*> old = ToolBar1->actions();
    ToolBar1->clear();
    for (QAction* a : old)
        if (a->property(kHiddenStandIn).toBool())
            delete a;
    struct Button {
        QAction* action;
        int number;
        int position;
        bool shown;
    };
    std::vector<Button> buttons;
    int number = 0;
    SettingsFile& s = form1_.settings();
    for (QAction* a : toolButtons_) {
        if (!a) {
            if (!customised)
                buttons.push_back({nullptr, 0, 0, true});
            continue;
        }
        ++number;
        const std::string key = "ToolButton" + std::to_string(number);
        buttons.push_back({a, number, customised ? s.readInt("TOOLBAR", key, 0) : 0,
                           !customised || s.readBool("TOOLBAR", key + "_E", true)});
    }
    if (customised)
        std::stable_sort(buttons.begin(), buttons.end(),
                         [](const Button& x, const Button& y) { return x.position < y.position; });
    for (const Button& b : buttons) {
        if (!b.action) {
            ToolBar1->addSeparator();
            continue;
        }
        // A hidden button keeps its place as an invisible stand-in (the menu item shares the
        // real action and stays visible), so that the options dialog can show it again.
        QAction* a = b.action;
        if (!b.shown) {
            a = new QAction(b.action->icon(), b.action->text(), ToolBar1);
            a->setProperty(kHiddenStandIn, true);
            a->setVisible(false);
        }
        ToolBar1->addAction(a);
        if (QWidget* w = ToolBar1->widgetForAction(a))
            w->setObjectName(QStringLiteral("ToolButton%1").arg(b.number));
    }
}

} // namespace klv
