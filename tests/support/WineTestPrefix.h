#pragma once
// A small Wine prefix for tests, and a wineserver that "runs" while a child process holds its
// lock (a lock of the test's own process is invisible to the check).
#include "core/wine/WinePrefix.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace klv::test {

inline std::string fileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// system.reg, user.reg and userdef.reg of a minimal 64-bit prefix, in `folder`.
inline void writeMinimalPrefix(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "system.reg", std::ios::binary) << R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Wine] 1700000000
#time=1da1b2c3d4e5f60
"Version"="win10"
)";
    std::ofstream(folder / "user.reg", std::ios::binary) << R"(WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Software\\Wine\\Explorer] 1700000000
#time=1da1b2c3d4e5f60
"Desktop"="Default"
)";
    std::ofstream(folder / "userdef.reg", std::ios::binary) << R"(WINE REGISTRY Version 2
;; All keys relative to \\User\\.Default

#arch=win64

[Control Panel\\Desktop] 1700000000
#time=1da1b2c3d4e5f60
"Wallpaper"=""
)";
}

// While alive (until stop()), the prefix's wineserver counts as running. Points
// KLOVANTE_WINE_SERVER_ROOT at `root`.
class FakeWineServer {
public:
    FakeWineServer(const std::filesystem::path& root, const std::filesystem::path& prefix)
        : FakeWineServer(serverFolder(root, prefix)) {}
    // A wineserver whose server folder is `folder`.
    explicit FakeWineServer(const std::filesystem::path& folder) {
        std::filesystem::create_directories(folder);
        const std::string lock = (folder / "lock").string();
        int ready[2];
        if (::pipe(ready) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls here: the test process may have threads.
            ::close(ready[0]);
            const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            const char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0 ? 1 : 0;
            (void)!::write(ready[1], &ok, 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char ok = 0;
        const bool told = ::read(ready[0], &ok, 1) == 1;
        ::close(ready[0]);
        if (pid_ < 0 || !told || !ok) {
            stop();
            throw std::runtime_error("the fake wineserver could not take its lock");
        }
    }
    ~FakeWineServer() { stop(); }
    FakeWineServer(const FakeWineServer&) = delete;
    FakeWineServer& operator=(const FakeWineServer&) = delete;

    // Wine has ended.
    void stop() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    static std::filesystem::path serverFolder(const std::filesystem::path& root,
                                              const std::filesystem::path& prefix) {
        ::setenv("KLOVANTE_WINE_SERVER_ROOT", root.c_str(), 1);
        return wine::wineServerFolder(prefix);
    }

    pid_t pid_ = -1;
};

} // namespace klv::test
