#pragma once
// The registry status list and its backup: which hive files the user watches, their sizes now
// and at the previous opening, whether they changed since the list was last closed, and copies
// of the checked ones in a backup folder. Texts are CP932; paths on disk are UTF-8.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace klv {

class SettingsFile;

namespace backup {

// One watched file as the settings keep it (REG_FILE).
struct FileEntry {
    std::string name;
    std::string folder;     // ends with "/"; empty: the system folder
    std::string storedTime; // time text shown when the list was last closed
    bool checked = true;
};

// What the file system says about one file.
struct FileState {
    bool exists = false;
    std::uint64_t size = 0;
    std::string time; // "yyyy/mm/dd hh:nn:ss", local time
};

// One row of the list as shown.
struct StatusRow {
    std::string name;
    std::string size;         // size text, "*" for a missing file
    std::string previousSize; // as shown at the previous opening
    std::string time;         // "*" for a missing file
    std::string changed;      // "はい" / "いいえ"
    std::string folder;
    bool checked = true;
};

// The settings that the list reads when it becomes active.
struct Snapshot {
    std::vector<FileEntry> entries;
    std::map<std::string, std::string> cleanSizes; // REG_CLEAN: file name -> size text
    std::optional<std::string> cleanTotal;         // REG_CLEAN/ALL
};

struct Activation {
    std::vector<StatusRow> rows;
    std::string total;         // size text of the existing files together
    std::string previousTotal; // "-" when none was stored
};

// "###,###,###,###" followed by " ﾊﾞｲﾄ"; zero is "0".
std::string sizeText(std::uint64_t bytes);

// folder + name, or the system folder + name when the folder is empty.
std::filesystem::path rowPath(const std::string& folder, const std::string& name,
                              const std::filesystem::path& systemFolder);

// The folder text of a file's folder, ending with "/" (CP932; nullopt when CP932 cannot hold
// it).
std::optional<std::string> folderText(const std::filesystem::path& folder);

FileState stateOf(const std::filesystem::path& file);

// REG_FILE and REG_CLEAN. With no REG_FILE/Count the list holds the store, SYSTEM.DAT of the
// system folder.
Snapshot readSnapshot(const SettingsFile& settings);

// The rows, columns and totals for a snapshot, asking `stat` about each file.
Activation activate(const Snapshot& snapshot, const std::filesystem::path& systemFolder,
                    const std::function<FileState(const std::filesystem::path&)>& stat);

// Stores this opening's sizes as the next opening's previous sizes. A file name that an INI key
// cannot hold (a "=", blanks at its ends) is not remembered.
void writeCleanSizes(SettingsFile& settings, const Activation& activation);

// REG_FILE for the rows as the window closes (the time shown becomes the stored time).
void writeEntries(SettingsFile& settings, const std::vector<StatusRow>& rows);

// A row for a file the user adds: its size and time now, "-" as previous size, changed "はい".
// nullopt when CP932 cannot hold its name or folder.
std::optional<StatusRow> rowForFile(const std::filesystem::path& file);

// The default backup folder: BACKUP in the program folder.
std::filesystem::path defaultBackupFolder();

// True when the file starts with the header of an SQLite database ("SQLite format 3\0").
bool isSqliteDatabase(const std::filesystem::path& file);

// SQLite's integrity_check of a database file, opened read only: "ok", or what it found (or
// why the file could not be opened).
std::string databaseIntegrity(const std::filesystem::path& file);

// Copies `source` to `target`, replacing an existing copy only once the new one is complete: a
// live registry store as a consistent snapshot of the database, any other file byte for byte;
// the copy is then made writable by its owner. Throws FileError (platform/AtomicFile.h) on
// failure, leaving any previous copy as it was.
void copyForBackup(const std::filesystem::path& source, const std::filesystem::path& target);

// Test seam, process-wide: called while a database snapshot holds its read transaction, after
// the database file is copied and before its log is, so a test can commit and checkpoint there.
// An empty function turns it off.
void setSnapshotHookForTesting(std::function<void()> hook);

struct BackupItem {
    std::string name;
    std::string folder;
};

// Creates the backup folder (with missing parents) and copies each item into it; a failed item
// is reported to `failed` (with its name) and the others are still copied. `pump` runs between
// files; a set `stop` ends the run early. Returns true when nothing failed.
bool backupFiles(const std::vector<BackupItem>& items, const std::filesystem::path& backupFolder,
                 const std::filesystem::path& systemFolder,
                 const std::function<void(const std::string& name)>& failed,
                 const std::function<void()>& pump = {}, const bool* stop = nullptr);

// "<name> のバックアップが失敗しました。ファイルがないか、バックアップ先が不正です。"
std::string failureMessage(const std::string& name);
// "バックアップが正常に完了しました。"
std::string successMessage();

} // namespace backup
} // namespace klv
