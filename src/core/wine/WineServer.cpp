#include "core/wine/WineServer.h"

#include "core/platform/AtomicFile.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace klv::wine {
namespace fs = std::filesystem;

namespace {

std::string serverFolderName(const fs::path& prefix) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0)
        return {};
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return name;
}

// Debian's Wine keeps its server folders in a private folder of the temporary folder, whose
// name it writes into the prefix's "wineserver" file.
std::optional<fs::path> privateServerRoot(const fs::path& prefix) {
    const auto name = readFileBytes(prefix / "wineserver");
    if (!name || name->empty() || name->size() > 255 || name->find('/') != std::string::npos ||
        name->find('\0') != std::string::npos || *name == "." || *name == "..")
        return std::nullopt;
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = tmp && *tmp == '/' ? fs::path(tmp) : fs::path("/tmp");
    return base / *name;
}

bool lockHeld(const fs::path& folder) {
    const int fd = ::open((folder / "lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    const bool locked = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return locked;
}

} // namespace

fs::path wineServerFolder(const fs::path& prefix) {
    fs::path root;
    if (const char* r = std::getenv("KLOVANTE_WINE_SERVER_ROOT"); r && *r)
        root = r;
    else
        root = "/tmp/.wine-" + std::to_string(::getuid());
    const std::string name = serverFolderName(prefix);
    return name.empty() ? fs::path() : root / name;
}

bool wineServerRunning(const fs::path& prefix) {
    const std::string name = serverFolderName(prefix);
    if (name.empty())
        return false;
    if (lockHeld(wineServerFolder(prefix)))
        return true;
    try {
        if (auto root = privateServerRoot(prefix))
            return lockHeld(*root / name);
    } catch (const FileError&) {
        // An unreadable note names no server folder; the usual one was checked above.
    }
    return false;
}

} // namespace klv::wine
