#pragma once
// Whether a Wine prefix's wineserver runs: while it does, Wine keeps the registry in memory and
// writes its own copy over the files when it saves.
#include <filesystem>

namespace klv::wine {

// The folder where the prefix's wineserver keeps its socket and lock:
// /tmp/.wine-<uid>/server-<device>-<inode of the prefix>; $KLOVANTE_WINE_SERVER_ROOT replaces
// /tmp/.wine-<uid> (tests).
std::filesystem::path wineServerFolder(const std::filesystem::path& prefix);
// True while a wineserver holds the lock in that folder, or in the one Debian's Wine uses:
// server-<device>-<inode> in the folder of $TMPDIR (else /tmp) named by the prefix's
// "wineserver" file.
bool wineServerRunning(const std::filesystem::path& prefix);

} // namespace klv::wine
