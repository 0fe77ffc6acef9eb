// klovante_bench backup: the backup of the generated store (a copy of it, so the original stays
// untouched) while a child process keeps committing transactions to it, against a plain `cp` of
// the same file in the same run; the backup must pass SQLite's integrity check. The backup is
// synced to the disk before it replaces the previous one, cp leaves its copy in the page cache:
// the ratio to cp + fsync compares like with like.
#include "BenchUtil.h"

#include "core/backup/RegistryBackup.h"
#include "core/platform/ProcessRunner.h"
#include "core/registry/Registry.h"
#include "core/registry/Store.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace klv::bench {

namespace {

// A forked writer: one transaction of 20 keys after another until it is killed. It tells the
// parent through a pipe when its first transaction is committed.
class Writer {
public:
    explicit Writer(const fs::path& store) {
        int p[2];
        if (::pipe(p) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ < 0)
            throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::close(p[0]);
            run(store, p[1]);
        }
        ::close(p[1]);
        char c = 0;
        const bool started = ::read(p[0], &c, 1) == 1;
        ::close(p[0]);
        if (!started)
            throw std::runtime_error("the writer did not start");
    }
    ~Writer() {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

private:
    [[noreturn]] static void run(const fs::path& file, int ready) {
        try {
            auto store = Store::open(file);
            TRegistry reg(store);
            for (long t = 0;; ++t) {
                Store::Transaction txn(*store);
                for (int i = 0; i < 20; ++i) {
                    reg.OpenKey("\\BackupBench\\T" + std::to_string(t) + "\\K" + std::to_string(i),
                                true);
                    reg.WriteString("v", std::string(256, 'w'));
                }
                txn.commit();
                if (t == 0 && ::write(ready, "r", 1) != 1)
                    _exit(1);
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "writer: %s\n", e.what());
        }
        _exit(1);
    }

    pid_t pid_ = -1;
};

struct RemoveOnExit {
    fs::path path;
    ~RemoveOnExit() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

} // namespace

int runBackup(const Args& args) {
    const BenchFolders folders = benchFolders(args, "backup");
    const RemoveOnExit cleanup{folders.home};
    const fs::path windir = folders.home / "WINDOWS";
    fs::create_directories(windir);
    const fs::path store = windir / "SYSTEM.DAT";
    fs::copy_file(folders.store, store);
    const double mb = static_cast<double>(fs::file_size(store)) / (1024.0 * 1024.0);
    std::printf("store: %.1f MB\n", mb);

    Writer writer(store);

    Stopwatch cpClock;
    const auto cp = ProcessRunner::runWaited(
        "/bin/cp", {store.string(), (folders.home / "cp.DAT").string()}, {}, [] {});
    const double cpSeconds = cpClock.seconds();
    if (!cp.succeeded())
        throw std::runtime_error("cp failed: " + cp.errorText);
    // The backup makes its copy durable before it replaces the old one; cp does not.
    Stopwatch syncClock;
    if (const int fd = ::open((folders.home / "cp.DAT").c_str(), O_RDONLY); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    const double syncSeconds = syncClock.seconds();

    const fs::path target = folders.home / "BACKUP";
    Stopwatch backupClock;
    double copiedAt = 0; // the file copied under the read transaction
    backup::setSnapshotHookForTesting([&] { copiedAt = backupClock.seconds(); });
    const bool ok =
        backup::backupFiles({{"SYSTEM.DAT", ""}}, target, windir, [](const std::string& name) {
            std::fprintf(stderr, "failed: %s\n", name.c_str());
        });
    const double backupSeconds = backupClock.seconds();
    backup::setSnapshotHookForTesting({});
    if (!ok)
        return 1;

    const std::string check = backup::databaseIntegrity(target / "SYSTEM.DAT");
    std::printf("cp: %.2f s (%.0f MB/s), cp + fsync: %.2f s\n", cpSeconds, mb / cpSeconds,
                cpSeconds + syncSeconds);
    std::printf("backup while writing: %.2f s (%.0f MB/s)\n", backupSeconds, mb / backupSeconds);
    std::printf("  of which the file copied under a read transaction: %.2f s; log folded in, "
                "synced and renamed: %.2f s\n",
                copiedAt, backupSeconds - copiedAt);
    std::printf("integrity_check of the backup: %s\n", check.c_str());
    std::printf("backup/(cp + fsync) ratio: %.2f\n", backupSeconds / (cpSeconds + syncSeconds));
    std::printf("backup/cp ratio: %.2f\n", backupSeconds / cpSeconds);
    return check == "ok" ? 0 : 1;
}

} // namespace klv::bench
