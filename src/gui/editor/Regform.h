#pragma once
// The registry editor window: the key tree, filled as keys are expanded, beside the value list
// of the selected key, with the address bar above and the function panel below.
#include "core/lists/ListFile.h"
#include "core/lists/PanelLists.h"
#include "core/registry/Registry.h"
#include "core/undo/UndoLog.h"
#include "core/valueedit/ValueEdit.h"

#include <QString>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <vector>

class QAction;
class QListView;
class QMainWindow;
class QStackedWidget;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QStandardItem;
class QStandardItemModel;
class QTabWidget;
class QToolBar;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace klv {

class FrameHost;

// The value list's four looks.
enum class ViewStyle { LargeIcons, SmallIcons, List, Report };

class TRegform : public QWidget {
    Q_OBJECT
public:
    explicit TRegform(FrameHost& form1, QWidget* parent = nullptr);
    ~TRegform() override;

    // True when the registry file could not be opened for writing: every key is read only.
    bool registryReadOnly() const;

    // Controls, by their component names.
    QMainWindow* Bands = nullptr; // the band area: toolbar and address bar above the panes
    QToolBar* ToolBar1 = nullptr;
    QWidget* AddressBar = nullptr;  // a band (QToolBar) holding the address field
    QComboBox* ComboBox1 = nullptr; // address bar
    QPushButton* Button1 = nullptr; // "移動"
    QTreeWidget* TreeView1 = nullptr;
    QTreeView* ListView1 = nullptr;  // value list (report)
    QListView* ValueIcons = nullptr; // the value list's icon and list looks
    QStackedWidget* ValueStack = nullptr;
    QStandardItemModel* ValueModel = nullptr;
    QTabWidget* PageControl1 = nullptr; // function panel
    QTreeWidget* ListView2 = nullptr;   // undo log
    QTreeWidget* ListView3 = nullptr;   // favorites
    QTreeWidget* ListView4 = nullptr;   // access history
    QTreeWidget* ListView5 = nullptr;   // value holder
    QLabel* Panel1 = nullptr;           // waiting panel
    QMenu* ListPopup = nullptr;         // popup menu of the panel lists
    QMenu* HolderPopup = nullptr;       // popup menu of the value holder
    QMenu* ValuePopup = nullptr;        // context menu of the value list
    QMenu* TreePopup = nullptr;         // context menu of the key tree

    // The key path text of the selected key ("マイコンピュータ" before the first selection).
    QString caption() const { return caption_; }
    // The current key path text; empty while no key is selected.
    QString currentKeyText() const {
        return caption_ == QStringLiteral("マイコンピュータ") ? QString() : caption_;
    }
    // Image index of the selected node (2: a key below one opened for reading only).
    int SelectedImageIndex = 0;

    std::vector<QMenu*> menus() const { return menus_; }

    // Programmatic navigation (exact names), then the pending value selection.
    void NavigateTo(const QString& keyPathText);
    // Address bar navigation (names without regard to case).
    void NavigateFromAddress(const QString& keyPathText);

    // The undo log of this window (shared with the other windows through UNDO.DAT).
    UndoLog& undoLog() { return *undoLog_; }
    // Records a change this window made; an "I/O Error" box when it cannot be stored.
    void AddUndo(UndoEntry e);
    // Deletes a key after exporting it to an undo file; an error box and false when the key
    // was kept.
    bool DeleteKeyWithUndo(const std::string& rootName, const std::string& keyPath);

    bool readOnlyMode() const { return readOnlyMode_; }
    ViewStyle viewStyle() const { return viewStyle_; }
    bool historyPaused() const { return historyPaused_; }

    // Handlers.
    void FormShow();
    void FormActivate();
    void Button1Click();
    void TreeView1Expanding(QTreeWidgetItem* node);
    void TreeView1Change(QTreeWidgetItem* node);
    void RefreshClick();       // 最新の情報に更新(&R)
    void RefreshListClick();   // バリューリストのみ最新の情報に更新(&V)
    void ExpandAllClick();     // 選択しているキーのサブキーをすべて展開(&T)
    void CollapseAllClick();   // ツリーをすべて折り畳む(&O)
    void FunctionPanelClick(); // ファンクションパネル(&F)
    void ToolBarClick();       // ツールバー(&T)
    void AddressBarClick();    // アドレスバー(&A)
    void NewKeyClick();        // キー(&K)
    void NewValueClick(EditedKind kind); // 文字列(&S), 数値（DWORD値）(&D), ...
    void ModifyClick();                  // 修正(&M), double click on a value
    void DeleteClick();                  // 削除(&D): the list's values or the tree's key
    void DeleteKeyClick();
    void DeleteValuesClick();
    void RenameClick(); // 名前の変更(&R): the list's row or the tree's node
    void TreeView1Edited(QTreeWidgetItem* node);
    void ValueNameEdited(QStandardItem* item);
    void OpenAsFileClick();  // 関連づけられたアプリケーションで開く(&O)
    void QuickViewerClick(); // クイックビューワ(&Q)
    // The context menus' enabling as they open, for tests.
    void prepareValuePopupForTesting() { prepareValuePopup(); }
    void prepareTreePopupForTesting() { prepareTreePopup(); }
    void CopyKeyNameClick();          // キー名をクリップボードにコピー(&L)
    void CopyNameClick();             // 名前をクリップボードにコピー(&V)
    void CopyDataClick();             // データをクリップボードにコピー(&A)
    void UndoClick();                 // 元に戻す(&U)
    void ListView2DblClick();         // undo of the selected entry
    void ListDeleteItemClick();       // 選択しているリスト項目の削除(&D)
    void AddFavoriteClick();          // お気に入りに追加(&F)
    void EditCommentClick();          // コメントの編集(&E)
    void MoveFavoriteClick(int step); // the move buttons: -1 up, +1 down
    void GoToFavoriteClick();         // double click on a favorite
    void GoToHistoryClick();          // double click on a history row
    void CopyValueClick();            // コピー(&C)
    void CutValueClick();             // 切り取り(&T)
    void PasteValueClick();           // 貼り付け(&P)
    void HolderToggleClick(); // 選択している項目を貼り付ける候補とする(&P), double click
    void HolderAllClick(bool paste); // すべて貼り付ける / 貼り付けない候補とする
    void HolderDeleteUnflaggedClick(); // 貼り付けない候補の項目をすべて削除(&E)
    void HolderDeleteClick(); // the holder's 選択しているリスト項目の削除(&D)
    void HolderClearClick();  // バリューホルダーのクリア
    void ListClearClick();    // リストをすべてクリア(&C)
    void ReadOnlyClick();     // 読みとり専用(&O)
    void ViewStyleClick(ViewStyle style);
    void PauseHistoryClick();  // アクセス履歴の記録を一時停止(&O)
    void TreeFontClick();      // レジストリツリービューのフォントの指定(&N)
    void ListFontClick();      // バリューリストビューのフォントの指定(&U)
    void TreeBoundaryClick();  // レジストリツリー境界の変更(&K)
    void PanelBoundaryClick(); // ファンクションパネル境界の変更(&H)
    // Shows the function panel when hidden and brings tab `index` to the front.
    void showPanelTab(int index);

    // The address bar's drop-down entries, newest first.
    QStringList addressHistory() const;
    // Number of times a node's subkeys were read from the registry (each node once).
    int subKeyReads() const { return subKeyReads_; }

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void buildToolBar();
    void buildAddressBar();
    void buildPanes();
    void buildFunctionPanel();
    void buildContextMenus();
    void prepareValuePopup();
    void prepareTreePopup();
    void restoreViewState();
    std::vector<QToolBar*> bands() const;
    void restoreBands();
    void saveBands();
    void restoreFonts(const char* section, const char* treeKey, const char* listKey);
    void restoreActivationSettings();
    void saveClosingSettings();
    void setReadOnlyMode(bool on);
    void showAccessState();
    void layoutToolBar(bool customised);
    QAction* findMenuAction(const QString& name) const;
    void fillUndoList();
    void logChange(const char* operation, const std::string& valueName, const std::string& before,
                   const std::string& after, const std::string& keyPath);
    std::vector<int> selectedValueRows() const;
    void refreshValueList();
    void loadPanelLists();
    void savePanelLists();
    void saveListView(QTreeWidget* list);
    QTreeWidget* currentPanelList() const;
    void updateListPopup();
    void fillList(QTreeWidget* list, const std::vector<ListRow>& rows);
    std::vector<ListRow> listRows(const QTreeWidget* list) const;
    void goToLocation(QTreeWidget* list, const QString& location);
    struct CurrentKey {
        std::string root;    // root name
        std::string subPath; // from its backslash on
    };
    enum class KeyOpening { Read, Write, Create };
    std::optional<CurrentKey> openCurrentKey(TRegistry& reg, KeyOpening how);
    HolderOptions holderOptions() const;
    bool valueCommandAllowed(const QString& what);
    std::optional<std::filesystem::path> selectedDataFile();
    void holderChanged();
    void setPasteEnabled(bool on);
    std::vector<ListRow> copiedRows(const std::vector<int>& rows, std::vector<RawValue>* values);
    bool putInHolder(std::vector<ListRow> rows);
    void addValueUndo(UndoEntry e, const std::optional<RawValue>& previous);
    std::filesystem::path listFilePath(const char* name) const;
    void toggleBar(QWidget* bar, const QString& action, const char* key);
    void buildMenus();
    void addRootNodes();
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& text, bool hasChildren,
                             int image);
    void fillSubKeys(QTreeWidgetItem* node);
    bool fillValueList(RootHandle root, const std::string& subPath, bool reportFailure);
    void selectNode(QTreeWidgetItem* node);
    void navigate(const QString& text, bool ignoreCase);
    void applyPendingValueSelection();
    void addAddressEntry(const QString& text);
    void addHistoryRow(const QString& location);
    void showAccessError();
    // After a key could not be opened: when another program has deleted it, the tree is
    // rebuilt (once the running handler is done) and shows the nearest key still there.
    void recoverIfGone(RootHandle root, const std::string& subPath);
    void expandAllBelow(QTreeWidgetItem* node);

    QString keyPathOf(QTreeWidgetItem* node) const;
    std::string subPathOf(QTreeWidgetItem* node) const;
    RootHandle rootOf(QTreeWidgetItem* node) const;

    FrameHost& form1_;
    std::unique_ptr<TRegistry> reg_;
    QSplitter* Splitter1 = nullptr; // tree | list
    QSplitter* Splitter2 = nullptr; // panes / function panel
    std::vector<QMenu*> menus_;
    std::vector<QAction*> toolButtons_; // default order; null for a separator
    std::unique_ptr<UndoLog> undoLog_;
    bool readOnlyMode_ = false;
    bool historyPaused_ = false;
    bool favoritesChanged_ = false;
    bool fillingLists_ = false; // rows being put in, not edited
    bool bandDragged_ = false;
    ViewStyle viewStyle_ = ViewStyle::Report;
    QString caption_;
    int subKeyReads_ = 0;
    bool navigating_ = false;
    bool recoveryQueued_ = false;
    QTreeWidgetItem* shownOpen_ = nullptr; // the node showing the open-folder image
};

} // namespace klv
