#pragma once
// The QB script interpreter: header lines, section markers, and one command after another
// between the chosen section's markers, each logged; see ScriptHost for what it asks of the
// window that runs it. Texts are CP932.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace klv {

class ScriptHost;
class Store;

// Why a run may not start: the text of the error box captioned "中止", or nullopt when it may.
// `forbidden`: OPTION/SCRIPT; `fullAccess`: the main window's access mode is "フルアクセス".
std::optional<std::string> scriptRefusal(bool forbidden, bool fullAccess);

struct ScriptRunResult {
    bool cancelled = false; // the choice dialog was cancelled
    bool stopped = false;   // the stop button ended the run
    bool failed = false;    // an error ended the run (shown through ScriptHost::showError)
    int failedLine = -1;    // index (from 0) of the line where an error or the stop ended it
    std::size_t commandsApplied = 0; // commands whose changes reached the registry
};

// Runs the script over `lines` (the editor's lines). `showKeys` is the program-wide show-keys
// setting (the main window's Label15: "0" shows keys; anything else runs in the background);
// a <BACKGROUND> line sets it. `store` null: the installation's registry.
ScriptRunResult runScript(const std::vector<std::string>& lines, ScriptHost& host,
                          std::string& showKeys, std::shared_ptr<Store> store = nullptr);

} // namespace klv
