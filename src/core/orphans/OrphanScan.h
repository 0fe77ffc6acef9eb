#pragma once
// The orphan entry search: string values whose data names a file on a local drive that is not
// there. The target path is taken from the data by fixed rules, tested against the drive map
// (with one answer per path kept), and the scan walks the chosen roots with the shared walker.
// Nothing here shows anything; the window passes a pump and a stop flag.
#include "core/platform/DriveMap.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace klv {

class Store;
class UndoLog;

// The path a value's data names (CP932), or empty.
std::string extractTargetPath(std::string_view data);
// Whether a target path is one the scan tests; `skipBlanks`: a path with a blank is not.
bool isTestablePath(std::string_view path, bool skipBlanks);

// "Is there a file or folder of this Windows path?", answered through the drive map once per
// path (names compared without regard to case, as Windows does).
class PathExistence {
public:
    explicit PathExistence(DriveMap drives);
    bool exists(std::string_view windowsPath);
    // Upper-case "X:\" roots of the fixed disks.
    const std::vector<std::string>& fixedRoots() const { return fixedRoots_; }

private:
    DriveMap drives_;
    std::vector<std::string> fixedRoots_;
    std::unordered_map<std::string, bool> answers_;
};

// The roots the scan offers, in scan order.
inline constexpr std::array<std::string_view, 4> kOrphanRoots{
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

struct OrphanOptions {
    std::array<bool, 4> roots{false, true, true, false}; // by kOrphanRoots
    bool anyDrive = false;     // a missing target is an orphan whatever its drive
    bool softwareOnly = true;  // start at \Software (not for HKEY_CLASSES_ROOT)
    bool skipBlanks = false;   // paths with a blank are not tested
    bool skipFloppy = true;    // a target on the floppy drive ends the key's values
    char floppy = 'A';         // SETUP/FLOPPY
};

// One orphan; texts CP932.
struct OrphanRow {
    std::string data;
    std::string root;
    std::string key; // path below the root, no leading backslash
    std::string name;
    std::string path; // the target path tested
    bool checked = false;
    bool operator==(const OrphanRow&) const = default;
};

struct OrphanCallbacks {
    std::function<void(OrphanRow&&)> row;
    // The status line's text (CP932): "ｽｷｬﾝしています: " + root + "\" + key path.
    std::function<void(const std::string& text)> progress;
    std::function<void()> pump;
    const bool* stop = nullptr;
};

struct OrphanOutcome {
    bool stopped = false;
    // "レジストリキーのオープンエラー : " + path (CP932) when a parent could not be re-opened.
    std::optional<std::string> error;
    std::uint64_t keys = 0;
    std::uint64_t values = 0; // string values examined
};

// `store` null: the installation's registry.
OrphanOutcome scanOrphans(const OrphanOptions& options, PathExistence& files,
                          const OrphanCallbacks& callbacks, std::shared_ptr<Store> store = nullptr);

// Deletes the checked rows' values, from the last row up, each entering `undo` as the editor
// window's value deletion does; deleted rows are removed. A value that cannot be deleted keeps
// its row and "値の削除に失敗しました。エラー報告：30-77" (CP932) goes to `report`. A value that is
// already gone counts as deleted. Returns the number of rows removed.
std::size_t deleteOrphans(std::vector<OrphanRow>& rows, UndoLog& undo,
                          const std::function<void(const std::string&)>& report,
                          std::shared_ptr<Store> store = nullptr);

enum class OrphanReportFormat { Csv, Html };
// The report's bytes (CP932, CR LF); CSV fields with a comma, a quote or a line break are
// quoted, HTML text is escaped.
std::string orphanReport(const std::vector<OrphanRow>& rows, OrphanReportFormat format);

} // namespace klv
