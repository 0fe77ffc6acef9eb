#pragma once
// The main window as the windows inside it see it: the shared fields through which windows and
// tools exchange values, the settings file, the status bar and the frame's own commands. The
// main window implements it, so an editor window needs no include of the frame above it.
#include <QString>

class QAction;
class QWidget;

namespace klv {

class SettingsFile;

class FrameHost {
public:
    // Shared fields (plain texts read and written by windows and tools).
    QString Edit1;                           // current key path text
    QString Label1;                          // the system ("Windows") folder
    QString Label2;                          // value editor result: new data text
    QString Label3;                          // value editor result flag: "YES" / "NO"
    QString Label4;                          // binary editor result: the key path it wrote to
    QString Label5;                          // value editor result: the value's name
    QString Label8;                          // key path handed back by a tool
    QString Label9;                          // value editor result: new integer as eight hex digits
    QString Label10;                         // browse dialog result: the chosen key path
    QString Label11 = QStringLiteral("All"); // browse dialog input: "All" or one root's name
    QString Memo1;                           // value editor result: new multi-string text
    QString Label12 = QStringLiteral("0");   // "1" on the NT family
    QString Label18;                         // pending value selection: value name
    QString Label19 = QStringLiteral("0");   // pending value selection flag
    QString Label21 = QStringLiteral("5");   // highest root index
    // Show-keys setting of script runs, shared by every script window: "0" hands OpenKey's
    // keys back to the editor window, "1" (and the initial empty text) runs in the background.
    QString Label15;
    QString Label16 = QStringLiteral("0"); // "1": the script window closes after its run

    int rootCount() const { return Label21.toInt() + 1; }

    virtual SettingsFile& settings() = 0;
    // The key path of "/KEY <path>", or empty.
    virtual QString keyArgument() const = 0;
    // True when the first argument is exactly "/READONLY".
    virtual bool readOnlyArgument() const = 0;
    // The frame's status bar, which the editor menus toggle too.
    virtual void StatusBar1Click() = 0;
    virtual bool statusBarShown() const = 0;
    // Status bar panels 0 (access state), 1 (history state), 2 (hints and key information).
    virtual void setStatusPanel(int panel, const QString& text) = 0;
    virtual QString statusPanel(int panel) const = 0;

    // The frame's commands that editor menus offer too.
    virtual void N1Click() = 0; // new editor window
    virtual void ExitClick() = 0;
    virtual void ScanRegClick() = 0;
    virtual void ScanRegFixClick() = 0;
    virtual void ScanRegRestoreClick() = 0;
    // The registry checker items' state, shared with editor menus.
    virtual void updateCheckerItems(QAction* checker, QAction* fix, QAction* restore) const = 0;

    // Tools and their windows.
    // Shows `window` (deleted when closed) as a child window of the frame.
    virtual void addChildWindow(QWidget* window) = 0;
    // Goes to `keyPath` in the frontmost editor window, which comes to the front and, when
    // `selectValue`, selects the value `valueName` once the key is shown. Nothing without an
    // editor window.
    virtual void JumpTo(const QString& keyPath, const QString& valueName, bool selectValue) = 0;
    // The search dialog (modal): in replace mode or not; a non-empty `startKey` presets the
    // scope "under one key" with it; `searchText` fills the search field.
    virtual void openSearch(bool replaceMode, const QString& startKey,
                            const QString& searchText) = 0;
    // The quick search dialog (modal).
    virtual void QuickSearchClick() = 0;
    // The change-tracking window: opened, or brought to the front when it is open already.
    virtual void ChangeTrackingClick() = 0;
    // The orphan entry search window: opened, or brought to the front when it is open already.
    virtual void OrphanSearchClick() = 0;
    // A new script window with the template.
    virtual void ScriptEditorClick() = 0;
    // Asks for a script file and opens it in a new script window.
    virtual void ScriptEditClick() = 0;
    // Asks for a script file, runs it in a new script window behind the active window, and
    // closes that window after the run.
    virtual void ScriptRunClick() = 0;

protected:
    FrameHost() = default;
    ~FrameHost() = default;
    FrameHost(const FrameHost&) = delete;
    FrameHost& operator=(const FrameHost&) = delete;
};

} // namespace klv
