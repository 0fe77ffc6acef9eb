#include "core/platform/ProcessRunner.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace klv {
namespace {

// Children whose owners are gone; reaped whenever a child starts or is given up.
std::mutex orphansMutex;
std::vector<pid_t> orphans;

void reapOrphans() {
    std::lock_guard lock(orphansMutex);
    std::erase_if(orphans, [](pid_t p) {
        int status = 0;
        const pid_t r = ::waitpid(p, &status, WNOHANG);
        return r == p || (r < 0 && errno == ECHILD);
    });
}

constexpr std::size_t kMaxErrorText = 64 * 1024;

std::string readAll(int fd) {
    std::string text;
    char buf[4096];
    for (off_t at = 0; text.size() < kMaxErrorText;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
        at += n;
    }
    return text;
}

struct FileActions {
    posix_spawn_file_actions_t a;
    FileActions() { posix_spawn_file_actions_init(&a); }
    ~FileActions() { posix_spawn_file_actions_destroy(&a); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
};

} // namespace

ProcessRunner::Child::Child(Child&& other) noexcept
    : pid_(other.pid_), errFd_(other.errFd_), result_(std::move(other.result_)) {
    other.pid_ = -1;
    other.errFd_ = -1;
}

ProcessRunner::Child::~Child() {
    if (errFd_ >= 0)
        ::close(errFd_);
    if (pid_ > 0 && !result_.finished) {
        std::lock_guard lock(orphansMutex);
        orphans.push_back(pid_);
    }
    reapOrphans();
}

void ProcessRunner::Child::collect(int status) {
    result_.finished = true;
    if (WIFEXITED(status))
        result_.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result_.signal = WTERMSIG(status);
    if (errFd_ >= 0) {
        result_.errorText = readAll(errFd_);
        ::close(errFd_);
        errFd_ = -1;
    }
}

bool ProcessRunner::Child::running() {
    if (result_.finished || pid_ <= 0)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR))
        return true;
    if (r < 0) {
        result_.finished = true; // someone else reaped it: its end is unknown
        result_.errorText = std::string("waitpid: ") + std::strerror(errno);
        return false;
    }
    collect(status);
    return false;
}

std::vector<std::string> ProcessRunner::splitParameters(std::string_view text) {
    std::vector<std::string> args;
    std::string current;
    bool inQuotes = false, have = false;
    for (char c : text) {
        if (c == '"') {
            inQuotes = !inQuotes;
            have = true; // "" is an empty parameter
        } else if (!inQuotes && (c == ' ' || c == '\t')) {
            if (have)
                args.push_back(std::move(current));
            current.clear();
            have = false;
        } else {
            current.push_back(c);
            have = true;
        }
    }
    if (have)
        args.push_back(std::move(current));
    return args;
}

ProcessRunner::Child ProcessRunner::start(const std::filesystem::path& program,
                                          const std::vector<std::string>& args,
                                          const std::filesystem::path& workingFolder) {
    reapOrphans();
    Child child;
    child.errFd_ = ::memfd_create("child-stderr", MFD_CLOEXEC);
    FileActions fa;
    int rc = 0;
    if (child.errFd_ >= 0)
        rc = posix_spawn_file_actions_adddup2(&fa.a, child.errFd_, STDERR_FILENO);
    if (rc == 0)
        rc = posix_spawn_file_actions_addopen(&fa.a, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (rc == 0 && !workingFolder.empty())
        rc = posix_spawn_file_actions_addchdir_np(&fa.a, workingFolder.c_str());
    std::vector<std::string> argv{program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> ptrs;
    for (std::string& a : argv)
        ptrs.push_back(a.data());
    ptrs.push_back(nullptr);
    pid_t pid = -1;
    if (rc == 0)
        rc = posix_spawn(&pid, program.c_str(), &fa.a, nullptr, ptrs.data(), environ);
    if (rc != 0) {
        child.result_.finished = true;
        child.result_.errorText = "cannot start " + program.string() + ": " + std::strerror(rc);
        return child;
    }
    child.pid_ = pid;
    child.result_.started = true;
    return child;
}

ProcessRunner::Result ProcessRunner::runWaited(const std::filesystem::path& program,
                                               const std::vector<std::string>& args,
                                               const std::filesystem::path& workingFolder,
                                               const std::function<void()>& pump) {
    Child child = start(program, args, workingFolder);
    while (child.running()) {
        if (pump)
            pump();
        ::poll(nullptr, 0, 10); // the child's turn
    }
    return child.result();
}

} // namespace klv
