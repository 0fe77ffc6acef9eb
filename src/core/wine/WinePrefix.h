#pragma once
// The registry of a Wine prefix, kept in a store of its own and written back to the prefix's
// files (system.reg, user.reg, userdef.reg).
//
// The store shows the prefix as Wine does: HKEY_LOCAL_MACHINE is system.reg, HKEY_USERS holds
// ".Default" (userdef.reg) and the user's key named by its SID (user.reg), HKEY_CURRENT_USER
// shows the user's key, HKEY_CLASSES_ROOT shows HKEY_LOCAL_MACHINE\Software\Classes and
// HKEY_CURRENT_CONFIG the current hardware profile (symbolic links followed).
//
// The prefix has a program folder of its own (settings copied from the main one when it is
// made, its own undo log, lists and snapshots) whose system folder holds the store and mirrors
// the prefix's drives, so every window and klovreg work on it as on the embedded registry.
#include "core/registry/Store.h"
#include "core/wine/WineRegFile.h"
#include "core/wine/WineServer.h"
#include "core/wine/WineSplice.h"
#include "core/wine/WineTree.h"

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace klv::wine {

// what(): the CP932 message for the user.
class WinePrefixError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writing refused: the prefix's wineserver runs and keeps the registry in memory; it would
// write its own copy over the files. Nothing was written.
class WineServerRunningError : public WinePrefixError {
public:
    using WinePrefixError::WinePrefixError;
};

inline constexpr std::array<std::string_view, 3> kWineFiles{"system.reg", "user.reg",
                                                            "userdef.reg"};

class WinePrefix {
public:
    // `prefix`: the folder holding system.reg. `programFolder`: the program's own folder, under
    // which the prefix's folder is made ("WINE/<name>-<hash>").
    WinePrefix(std::filesystem::path prefix, std::filesystem::path programFolder);
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // The prefix's program folder.
    static std::filesystem::path homeFor(const std::filesystem::path& prefix,
                                         const std::filesystem::path& programFolder);

    // Makes the prefix's folders and brings the store in line with the files: a new store, or
    // one whose files Wine changed since they were read, is loaded from them (changes of this
    // program that were not written back to a changed file are saved as "<name>.<time>.unsaved"
    // in REGBACKUP first). Throws WinePrefixError (not a prefix, a file that is not Wine's
    // format: nothing is changed then) and StoreError.
    void open();
    // Messages (CP932) from open() for the user, e.g. where unsaved changes were kept.
    const std::vector<std::string>& notes() const { return notes_; }

    const std::filesystem::path& prefix() const { return prefix_; }
    const std::filesystem::path& home() const { return home_; }
    std::filesystem::path systemFolder() const { return home_ / "WINDOWS"; }
    std::filesystem::path backupFolder() const { return home_ / "REGBACKUP"; }
    std::shared_ptr<Store> store() const { return store_; }

    // Points this process (and the programs it starts) at the prefix's folders.
    void useInThisProcess() const;

    // The files whose registry differs from what was last read or written.
    std::vector<std::string> changedFiles();
    // Writes the changed files back, each atomically, a backup of each file kept first (once
    // per file for this object). Throws WineServerRunningError (nothing written) while the
    // wineserver runs; WinePrefixError when a file was changed by Wine since it was read (that
    // file is not written; this program's version is kept in REGBACKUP) or a file's key is
    // gone; FileWriteError when the disk refuses (the file stays as it was). Returns the names
    // of the files written.
    std::vector<std::string> writeBack();
    // Of the files the last writeBack() wrote, how many took only their changed keys' lines.
    std::size_t splicedFiles() const { return spliced_; }

private:
    struct FileState;
    void prepareFolders();
    void mirrorDrives();
    void reload(const std::array<std::optional<std::string>, 3>& onDisk);
    void setViews();
    std::optional<KeyId> fileKey(std::size_t file);
    WineRegFile dumpFile(std::size_t file, KeyId key);
    // The keys of the file below `fileKey` changed since it was last read or written, with
    // their lines now; nullopt when they are not known or too many to be worth splicing.
    std::optional<std::vector<WineKeyChange>> keyChanges(KeyId fileKey);
    void saveUnsaved(std::string_view name, const std::string& text);

    std::filesystem::path prefix_;
    std::filesystem::path programFolder_;
    std::filesystem::path home_;
    std::shared_ptr<Store> store_;
    std::vector<std::string> notes_;
    std::array<bool, 3> backedUp_{};
    std::size_t spliced_ = 0;
};

} // namespace klv::wine
