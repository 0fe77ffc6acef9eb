#pragma once
// A child process of the kill and load tests: its own process group (so that a kill reaches
// the registry programs it starts), standard output on a pipe read line by line, standard error
// kept in a file. The test process adopts orphaned grandchildren, so that every process of a
// group can be waited for once its leader is gone.
#include "support/TempFolders.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace klv::fault {

namespace fs = std::filesystem;

inline std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeAll(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush())
        throw std::runtime_error("cannot write " + file.string());
}

inline fs::path faultChildProgram() {
    return test::testProgram("klovante_fault_child");
}

class Process {
public:
    // `home`: the program folder the child works in (KLOVANTE_HOME), its WINDOWS folder the
    // system folder.
    Process(const fs::path& program, const std::vector<std::string>& args, const fs::path& home,
            const fs::path& errorFile)
        : errorFile_(errorFile) {
        static const bool adopting = [] { return ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0; }();
        if (!adopting)
            throw std::runtime_error("prctl(PR_SET_CHILD_SUBREAPER) failed");
        int p[2];
        if (::pipe2(p, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("KLOVANTE_HOME=", 0) != 0 && v.rfind("KLOVANTE_WINDIR=", 0) != 0)
                env.push_back(v);
        }
        env.push_back("KLOVANTE_HOME=" + home.string());
        env.push_back("KLOVANTE_WINDIR=" + (home / "WINDOWS").string());
        std::vector<std::string> all{program.string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv, envp;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, p[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        const int rc =
            posix_spawn(&pid_, program.c_str(), &actions, &attr, argv.data(), envp.data());
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        ::close(p[1]);
        if (rc != 0) {
            ::close(p[0]);
            pid_ = -1;
            throw std::runtime_error("posix_spawn of " + program.string() + " failed");
        }
        out_ = p[0];
        started_ = std::chrono::steady_clock::now();
    }

    ~Process() {
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            wait();
        }
        if (out_ >= 0)
            ::close(out_);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    std::chrono::steady_clock::time_point startTime() const { return started_; }

    // The next line of standard output; nullopt at its end or when none comes in time.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto nl = buf_.find('\n'); nl != std::string::npos) {
                std::string line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                lastLine_ = line;
                return line;
            }
            if (out_ < 0)
                return std::nullopt;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd pfd{out_, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, static_cast<int>(std::max<long>(left.count(), 0)));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return std::nullopt;
            char chunk[4096];
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ::close(out_);
                out_ = -1;
                continue;
            }
            buf_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Reads lines until one starts with `prefix`; false when the output ends first.
    bool waitFor(const std::string& prefix, std::chrono::milliseconds timeout) {
        while (auto line = readLine(timeout))
            if (line->rfind(prefix, 0) == 0)
                return true;
        return false;
    }

    // The last line read so far, after reading whatever is waiting in the pipe.
    const std::string& lastLine() {
        while (readLine(std::chrono::milliseconds(0))) {
        }
        return lastLine_;
    }

    // SIGKILL to the whole group (the child and the programs it runs) or to the child alone.
    void killGroup() { ::kill(-pid_, SIGKILL); }
    void killAlone() { ::kill(pid_, SIGKILL); }

    // Waits for the child, then for every process left in its group; the child's status.
    int wait() {
        if (pid_ <= 0)
            return status_;
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        for (;;) {
            const pid_t r = ::waitpid(-pid_, nullptr, 0);
            if (r < 0 && errno != EINTR)
                break;
        }
        pid_ = -1;
        return status_;
    }

    // True once the output has ended (the child and every program it started are gone).
    bool outputEnded() const { return out_ < 0; }

    bool exitedCleanly() const { return WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }
    std::string statusText() const {
        if (WIFSIGNALED(status_))
            return "signal " + std::to_string(WTERMSIG(status_));
        return "exit code " + std::to_string(WEXITSTATUS(status_));
    }
    bool killed() const { return WIFSIGNALED(status_) && WTERMSIG(status_) == SIGKILL; }
    std::string errors() const { return readAll(errorFile_); }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
    std::string buf_;
    std::string lastLine_;
    fs::path errorFile_;
    std::chrono::steady_clock::time_point started_;
};

} // namespace klv::fault
