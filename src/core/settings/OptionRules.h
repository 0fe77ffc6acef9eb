#pragma once
// Rules of the options dialog that do not depend on a window: the defaults it shows, the
// editor window's commands whose shortcut keys can be customised, the toolbar layout
// positions, and the desktop launchers of the set-up page.
#include <filesystem>
#include <string>
#include <vector>

namespace klv {

struct BoolOption {
    const char* section;
    const char* key;
    bool def;
};
struct IntOption {
    const char* section;
    const char* key;
    int def;
};

// The check boxes of the first page, in their order on the page.
inline constexpr BoolOption kOptionChecks[] = {
    {"OPTION", "OEDIT", true},     {"OPTION", "OACS", false},   {"OPTION", "SAVE", true},
    {"OPTION", "READONLY", false}, {"OPTION", "SCRIPT", false}, {"OPTION", "ACCESS", true},
    {"OPTION", "MSG", true},       {"OPTION", "KEY", false},
};
// The history limits. The dialog offers fewer undo entries than the undo log falls back to.
inline constexpr IntOption kHistoryLimits[] = {{"OPTION", "HIS_1", 30},
                                               {"OPTION", "HIS_2", 50},
                                               {"OPTION", "HIS_3", 100},
                                               {"OPTION", "HIS_4", 10}};
inline constexpr int kHistoryLimitMax = 30000;

// A customisable command: item and menu caption in UTF-8, with their "&" marks.
struct ShortcutCommand {
    std::string item;
    std::string menu;
    // The SHORTCUT key as the editor windows read it: item + "　－　" + menu (UTF-8).
    std::string keyName() const;
};
// The 70 commands in menu order.
const std::vector<ShortcutCommand>& shortcutCommands();

struct ToolbarRow {
    bool separator = false;
    bool shown = true;
    int position = 0; // left position in pixels
};
// The layout of rows in their new order: the first row at 0, each following one after the row
// ahead (a separator takes 8, a shown button 24, a hidden one nothing). The last row keeps the
// position it had, unless that would put it ahead of the row before it: then it takes its
// computed place, so that a button moved to the end stays at the end.
void layoutToolbarRows(std::vector<ToolbarRow>& rows);

// Text of a freedesktop launcher that starts `program` in `workingFolder` (empty: none).
std::string programLauncherText(const std::string& name, const std::filesystem::path& program,
                                const std::filesystem::path& workingFolder);
// Text of a launcher that opens `file` with the desktop's default program.
std::string fileLauncherText(const std::string& name, const std::filesystem::path& file);

} // namespace klv
