#pragma once
// Change tracking: building a root's snapshot database with the shared walker, comparing the
// live registry with it (and bringing it up to date), the rows of what changed, and the three
// report formats. Nothing here shows anything; the window passes a pump and a stop flag.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace klv {

class Store;

// DB\<root>.DB in the program folder.
std::filesystem::path snapshotFile(const std::filesystem::path& programFolder,
                                   std::string_view rootName);
// "1,234,567 ﾊﾞｲﾄ" (CP932); "0 ﾊﾞｲﾄ" for 0.
std::string snapshotSizeText(std::uintmax_t bytes);

struct TrackingCallbacks {
    // The progress line's text (CP932), e.g. "ﾃﾞｰﾀﾍﾞｰｽ構築中　" + key path.
    std::function<void(const std::string& text)> progress;
    // Lets the windows process their events; called before every key and value.
    std::function<void()> pump;
    const bool* stop = nullptr;
};

struct BuildOutcome {
    bool stopped = false; // the file was left as it was
    // Set when a parent key could not be re-opened: the error text (CP932); no file written.
    std::optional<std::string> error;
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
};

// Walks the whole root and writes its database to `file` (temporary file, then renamed).
// Throws FileWriteError when the file cannot be written. `store` null: the installation's.
BuildOutcome buildSnapshot(const std::string& rootName, const std::filesystem::path& file,
                           const TrackingCallbacks& callbacks,
                           std::shared_ptr<Store> store = nullptr);

enum class ChangeState { Created, Updated, Deleted };

// One row of the result list; texts CP932 as shown.
struct ChangeRow {
    ChangeState state = ChangeState::Created;
    std::string type; // "文字列", "拡張文字列", "数値", "マルチ文字列", "バイナリ", "値", "キー"
    std::string key;    // the section name
    std::string name;   // value name ("@" default) or entry name; empty for a key
    std::string before; // stored text, "なし" for new values
    std::string after;  // live text
    bool operator==(const ChangeRow&) const = default;
};
// "新規作成", "更新", "削除" (CP932); the icon index is the state's number.
const std::string& changeStateText(ChangeState s);

struct CompareOutcome {
    bool stopped = false;
    // Set when the comparison ended on an error: the text of the error box (CP932).
    std::optional<std::string> error;
    bool databaseMissing = false; // the error is the missing database's
    bool rebuilt = false;         // the database file was written back
};

// Compares the live keys below `startPosition` ("\" = the whole root) with the database
// `file`, appending a row per change to `rows`; with `rebuild` the database is brought up to
// date, the deletion pass runs, and the file is written back when it changed.
CompareOutcome compareSnapshot(const std::string& rootName, const std::string& startPosition,
                               const std::filesystem::path& file, bool rebuild,
                               const TrackingCallbacks& callbacks, std::vector<ChangeRow>& rows,
                               std::shared_ptr<Store> store = nullptr);

// --- reports ------------------------------------------------------------------------------------

enum class ReportFormat { Csv, Text, Html };
// The report's bytes (CP932, CR LF).
std::string changeReport(const std::vector<ChangeRow>& rows, ReportFormat format);
// The file name with the format's extension appended unless it already has it (any case).
std::filesystem::path reportFileName(const std::filesystem::path& chosen, ReportFormat format);

} // namespace klv
