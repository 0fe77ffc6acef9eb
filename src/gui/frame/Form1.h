#pragma once
// The main window: a multiple-document frame holding registry editor windows, the status bar
// they write to, the settings file and the shared fields through which windows and tools
// exchange values.
#include "core/settings/SettingsFile.h"
#include "gui/widgets/FrameHost.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace klv {

class TRegform;

class TForm1 : public QMainWindow, public FrameHost {
    Q_OBJECT
public:
    // `arguments` are the command-line arguments after the program name.
    explicit TForm1(const QStringList& arguments, QWidget* parent = nullptr);
    ~TForm1() override;

    SettingsFile& settings() override { return settings_; }
    const QStringList& arguments() const { return arguments_; }
    bool readOnlyArgument() const override;
    // The key path of "/KEY <path>", or empty.
    QString keyArgument() const override;

    // Status bar panels 0 (access state), 1 (history state), 2 (hints and key information).
    void setStatusPanel(int panel, const QString& text) override;
    QString statusPanel(int panel) const override;

    // Opens a new registry editor window; nullptr when it could not be created (an error was
    // shown).
    TRegform* NewEditorWindow();
    // Editor windows, frontmost first.
    std::vector<TRegform*> editorWindows() const;
    // Gives Label8 to the frontmost editor window, which navigates there; nothing without one.
    void HandBack();
    void JumpTo(const QString& keyPath, const QString& valueName, bool selectValue) override;
    void addChildWindow(QWidget* window) override;
    void openSearch(bool replaceMode, const QString& startKey, const QString& searchText) override;
    void QuickSearchClick() override;
    void ChangeTrackingClick() override;
    void OrphanSearchClick() override;
    void ScriptEditorClick() override;
    void ScriptEditClick() override;
    void ScriptRunClick() override;

    // Called by an editor window when it becomes active or goes away.
    void editorActivated(TRegform* form);

    // Start-up steps that run when the frame is first shown (the first editor window).
    void startUp();

    // Handlers of the frame's own menu items.
    void N1Click() override;         // new editor window
    void StatusBar1Click() override; // toggle the status bar
    bool statusBarShown() const override;
    void ExitClick() override;
    void TileClick();
    void CascadeClick();
    void ArrangeIconsClick();
    void HelpTopicsClick();
    void HelpRebuildClick();
    void RegistryMenuPopup(); // registry checker items
    void ScanRegClick() override;
    void ScanRegFixClick() override;
    void ScanRegRestoreClick() override;
    // Asks for a Wine prefix and opens it in a new instance of the program.
    void WineOpenClick();
    // Writes the registry back to the open Wine prefix's files.
    void WineWriteBackClick();

    QMenu* windowMenu() const { return windowMenu_; }
    QMenu* helpMenu() const { return helpMenu_; }
    // The frame's own registry-checker state, shared with editor menus.
    void updateCheckerItems(QAction* checker, QAction* fix, QAction* restore) const override;
    QAction* findAction(const QString& objectName) const;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool event(QEvent* e) override;

private:
    void buildMenus();
    void buildStatusBar();
    void loadKeyImages();
    void prepareFolders();
    void firstStart();
    void restorePlacement();
    void savePlacement();
    void applyFrameShortcuts();
    void showFrameMenus();
    // The frame's Wine items in an editor window's registry menu, which hides the frame's own.
    void addWineItems(QMenu* registryMenu) const;
    // Save point of the Wine prefix when an editor window has gone.
    void editorClosed();
    // Brings an open tool window to the front; false when it is not open.
    bool raiseChildWindow(QWidget* window);

    QStringList arguments_;
    SettingsFile settings_;
    QMdiArea* mdi_ = nullptr;
    std::vector<QLabel*> panels_;
    std::vector<QMenu*> frameMenus_;
    QMenu* windowMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QPointer<TRegform> menuOwner_;
    QPointer<QWidget> changeTrack_;  // the one change-tracking window
    QPointer<QWidget> orphanSearch_; // the one orphan search window
    bool started_ = false;
    bool closing_ = false; // closing writes the prefix back once, after all its windows
};

} // namespace klv
