#pragma once
// The registry programs of the system folder: REGEDIT.EXE (the registry editor) and REG.EXE
// (the console registry tool), both links to klovreg, put there at first start.
#include <filesystem>
#include <optional>

namespace klv {

// Exit codes of klovreg, read by the program that runs it.
enum KlovregExit : int {
    kKlovregDone = 0,
    kKlovregFailed = 1,    // the message is on stderr
    kKlovregUsage = 2,     // a command line it does not understand
    kKlovregLossy = 3,     // exported, but some names or data could not be written exactly
    kKlovregCancelled = 4, // the user declined the import
    kKlovregReported = 5,  // the import failed and the user has been told already
    kKlovregRefused = 6,   // imported, except keys that may not be written (named on stderr,
                           // or in the result box when the user was asked)
};

// klovreg beside the running program.
std::filesystem::path defaultKlovregPath();

// Creates REGEDIT.EXE and REG.EXE in the system folder as links to `klovreg` when they are
// missing or point nowhere. Returns true when both programs are present afterwards; a folder
// that cannot be written, or a missing klovreg, gives false (the features that need the
// programs then report them missing).
bool ensureRegistryPrograms(const std::filesystem::path& systemFolder,
                            const std::filesystem::path& klovreg = defaultKlovregPath());

// The programs, found without regard to case; nullopt when missing or a link to nothing.
std::optional<std::filesystem::path> registryEditorPath(const std::filesystem::path& systemFolder);
std::optional<std::filesystem::path> registryToolPath(const std::filesystem::path& systemFolder);

} // namespace klv
