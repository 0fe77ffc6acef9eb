#pragma once
// The undo log of the editor windows: the changes they made, newest first, kept in UNDO.DAT
// beside the program, and the undo files (registry files of deleted keys) in its UNDO folder.
// Windows show it and ask before an undo; the rules live here.
#include "core/undo/UndoEntry.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace klv {

class Store;
struct RawValue;
class TRegistry;

// Where the log keeps its files and how it runs the registry editor program.
struct UndoPlace {
    std::filesystem::path home;         // UNDO.DAT and the UNDO folder
    std::filesystem::path systemFolder; // REGEDIT.EXE, also the working folder of its runs
    std::function<void()> pump;         // called between polls while REGEDIT.EXE runs
    std::shared_ptr<Store> store;       // the registry undone; null: the installation's
};

// A change that was not made or not reversed; what() is the CP932 text of the error box.
class UndoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr int kDefaultUndoLimit = 100;
inline constexpr const char* kUndoListFile = "UNDO.DAT";

class UndoLog {
public:
    explicit UndoLog(UndoPlace place);

    const std::vector<UndoEntry>& entries() const { return entries_; }
    // Most entries kept (OPTION/HIS_2); at least one.
    void setLimit(int limit);
    int limit() const { return limit_; }

    // Records a change already made, stamped now, at the top; rows past the limit go; then
    // UNDO.DAT is written, and once it is, the undo files of the rows that went. Throws
    // ListFileError when the entry cannot be stored (the list keeps it) or the file cannot be
    // written (the undo files then stay until a later save goes through).
    void add(UndoEntry e);
    // Records several changes, oldest first, as add() would one by one, but writes UNDO.DAT
    // once (a replace run makes thousands). Nothing is recorded when one cannot be stored.
    void addAll(std::vector<UndoEntry> entries);
    // Whether add() can store the entry (its texts fit a list file).
    static bool recordable(const UndoEntry& e);

    // Deletes the key `keyPath` of the root `rootName` with its subtree, after exporting it to
    // a fresh undo file and recording "キーの削除". Throws UndoError, leaving the key, the list
    // and the files as they were, when the export fails or its file does not hold the key;
    // throws UndoError after recording when the deletion itself fails.
    void deleteKey(const std::string& rootName, const std::string& keyPath);

    // Records a value change whose reversal needs the value as it was before (`previous`: a
    // value cut or deleted, or one a paste overwrote). When the entry's texts cannot give it
    // back exactly (a type without its own editor, text CP932 cannot hold, data longer than a
    // list file's text), and always for a paste over a value, the value is kept in an undo
    // file ("*.val") and the undo writes it back from there. Throws as add() does.
    void addValueChange(UndoEntry e, const std::optional<RawValue>& previous);
    // Reverses entry `index` and removes it. Throws UndoError and keeps the entry when the
    // registry refuses the change or the key cannot be restored.
    void undo(std::size_t index);

    // Removes rows without undoing them; their undo files stay.
    void remove(std::size_t index);
    void clear();

    // UNDO.DAT: save throws ListFileError; load replaces the list with the file's rows when it
    // exists (returns false and leaves the list when it does not), and throws ListFileError,
    // leaving the list as it was, when the file is not a whole list file.
    void save() const;
    bool load();
    std::filesystem::path listFile() const;

    // The UNDO folder, found without regard to case (created when missing).
    std::filesystem::path undoFolder() const;
    // The file a stored undo file name names: only plain names inside the UNDO folder.
    std::optional<std::filesystem::path> undoFilePath(const std::string& name) const;

    // The text of the question "復元の確認" asked before an undo.
    static std::string confirmationText(const UndoEntry& e);

private:
    std::string freshUndoFileName(const std::string& stamp, const char* extension) const;
    void restoreValue(const UndoEntry& e, TRegistry& reg);
    // Drops the rows past the limit; returns their undo files, which saveTrimmed() removes
    // once a save of the list goes through.
    std::vector<std::filesystem::path> trimToLimit();
    void saveTrimmed();
    void restoreKey(const UndoEntry& e, TRegistry& reg);

    UndoPlace place_;
    std::vector<UndoEntry> entries_;
    std::vector<std::filesystem::path> dropped_; // files of rows gone, until UNDO.DAT is saved
    int limit_ = kDefaultUndoLimit;
};

} // namespace klv
