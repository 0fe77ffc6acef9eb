#pragma once
// What a QB script run needs from the window that runs it: the install/uninstall choice, the
// run log, the value editor boxes, the message box, the hand-back of a key to show, and the
// stop button. The script editor window implements it; tests answer it without a screen.
// Every text is CP932.
#include <cstdint>
#include <string>
#include <vector>

namespace klv {

enum class ScriptChoice { Cancel, Install, Uninstall };

// The choice dialog as the script's header lines make it.
struct ScriptChoiceDialog {
    std::string caption;                   // "レジストリの変更" unless <TITLE> gives one
    std::vector<std::string> messageLines; // {"選択してください"} unless <MESSAGE> gives lines
    bool installEnabled = false;           // <INSTDATA> holds "YES"
    bool uninstallEnabled = false;         // <UNINSTDATA> holds "YES"
};

enum class ScriptValueBox { String, ExpandString, Integer, MultiString, Binary };

// What an Input...Box command shows: the value editor for `name`, writing on OK to the full
// key path `location`, with the data read from the script's open key.
struct ScriptValueBoxRequest {
    ScriptValueBox kind = ScriptValueBox::String;
    std::string location;           // full key path text, as the script wrote it
    std::string name;               // the value's name
    std::string text;               // String, ExpandString: the data
    std::uint32_t number = 0;       // Integer
    std::vector<std::string> items; // MultiString
    std::string bytes;              // Binary: the raw bytes (never empty)
};

class ScriptHost {
public:
    virtual ~ScriptHost() = default;
    // Shows the choice dialog modally.
    virtual ScriptChoice choose(const ScriptChoiceDialog& dialog) = 0;
    // Appends a line to the run log.
    virtual void log(const std::string& line) = 0;
    // Hands a full key path back to the main window, which shows it in its first editor window.
    virtual void showKey(const std::string& fullKeyPath) = 0;
    // Shows a value editor box modally; the box itself writes when the user presses OK.
    virtual void valueBox(const ScriptValueBoxRequest& request) = 0;
    // The information box "メッセージ"; the stop button stays usable while it is open.
    virtual void messageBox(const std::string& text) = 0;
    // The stop button's flag of this window.
    virtual bool stopRequested() const = 0;
    // An error that ended the run, shown to the user after the end of the run.
    virtual void showError(const std::string& message) = 0;
};

} // namespace klv
