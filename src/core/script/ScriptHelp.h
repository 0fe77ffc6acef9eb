#pragma once
// The command help of the script editor: SCRIPT_DB.DAT, an INI file with one section per
// command, its parameters under "P" and an example under "E" (CP932).
#include <filesystem>
#include <string>
#include <string_view>

namespace klv {

struct ScriptHelp {
    std::string parameters; // shown after the command name, e.g. "(キーのパス)　..."
    std::string example;
};

// The help of `command` from the database file; empty texts when the file, the section or a
// key is missing. Never throws for what the file holds: it is data anyone may have edited.
ScriptHelp readScriptHelp(const std::filesystem::path& database, std::string_view command);

} // namespace klv
