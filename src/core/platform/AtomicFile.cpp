#include "core/platform/AtomicFile.h"

#include "core/platform/Encoding.h"
#include "core/platform/ErrorText.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <random>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace klv {
namespace {

// -1: no failure injected.
std::atomic<std::int64_t> g_failAfterBytes{-1};

std::string systemReason(int err) {
    return systemErrorText(err);
}

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    // Closes now so that a failing close can be reported; returns 0 or errno.
    int close() {
        const int fd = std::exchange(fd_, -1);
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int fd_;
};

// Removes the temporary file unless the rename took it over. Without a path it has no name
// yet (O_TMPFILE): a process killed before the commit then leaves nothing behind.
class TempFile {
public:
    TempFile(fs::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    ~TempFile() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const fs::path& path() const { return path_; }
    void named(fs::path path) { path_ = std::move(path); }
    UniqueFd& fd() { return fd_; }
    void release() { path_.clear(); }

private:
    fs::path path_;
    UniqueFd fd_;
};

// The file that a write replaces: the target of a symbolic link rather than the link.
fs::path resolveTarget(const fs::path& path) {
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        const fs::path resolved = fs::weakly_canonical(path, ec);
        if (!ec)
            return resolved;
    }
    return path;
}

fs::path folderOf(const fs::path& target) {
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// Hidden, and named after the target so that a leftover from a power cut is recognisable.
fs::path tempName(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    return folderOf(target) /
           ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
            std::to_string(random()) + "-" + std::to_string(counter++));
}

TempFile createTempBeside(const fs::path& target) {
    // Named as tempName() names them: "." + target + ".tmp" + pid + "-" + random + "-" + count.
    static const std::regex ours(R"(\..*\.tmp(\d+)-\d+-\d+)");
    removeAbandonedTemporaries(folderOf(target), ours);
    // A file without a name until the commit, where the file system has them (the name is
    // given through /proc).
    static const bool canName = [] {
        std::error_code ec;
        return fs::is_directory("/proc/self/fd", ec);
    }();
    if (canName) {
        const int nameless =
            ::open(folderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (nameless >= 0)
            return TempFile({}, nameless);
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            throw FileWriteError(target, systemReason(errno));
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path temp = tempName(target);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return TempFile(temp, fd);
        if (errno != EEXIST)
            throw FileWriteError(target, systemReason(errno));
    }
    throw FileWriteError(target, systemReason(EEXIST));
}

// Gives a nameless temporary file its name beside the target, for the rename.
void nameTemp(TempFile& temp, const fs::path& target, const fs::path& shown) {
    if (!temp.path().empty())
        return;
    const std::string self = "/proc/self/fd/" + std::to_string(temp.fd().get());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path name = tempName(target);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp.named(name);
            return;
        }
        if (errno != EEXIST)
            throw FileWriteError(shown, systemReason(errno));
    }
    throw FileWriteError(shown, systemReason(EEXIST));
}

// `before`: bytes already written to the file by earlier calls (the injected failure counts
// the whole file).
void writeAll(int fd, std::string_view bytes, const fs::path& target, std::size_t before = 0) {
    const std::int64_t limit = g_failAfterBytes.load();
    std::size_t written = 0;
    while (written < bytes.size()) {
        std::size_t chunk = bytes.size() - written;
        if (limit >= 0) {
            const auto budget = static_cast<std::size_t>(limit);
            if (before + written >= budget)
                throw FileWriteError(target, systemReason(ENOSPC));
            chunk = std::min(chunk, budget - before - written);
        }
        const ssize_t n = ::write(fd, bytes.data() + written, chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FileWriteError(target, systemReason(errno));
        }
        written += static_cast<std::size_t>(n);
    }
}

// Makes the rename itself durable. Some file systems cannot sync a folder; the file is already
// in place then, so this is best effort.
void syncFolder(const fs::path& target) {
    UniqueFd dir(::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

} // namespace

FileError::FileError(std::string message, fs::path path, std::string reason)
    : std::runtime_error(reason.empty() ? message : message + "\r\n" + reason),
      path_(std::move(path)), reason_(std::move(reason)) {}

FileWriteError::FileWriteError(const fs::path& path, std::string reason)
    : FileError(sj("ファイル ") + pathForMessage(path) + sj(" に書き込めません"), path,
                std::move(reason)) {}

FileReadError::FileReadError(const fs::path& path, std::string reason)
    : FileError(sj("ファイル ") + pathForMessage(path) + sj(" を読み込めません"), path,
                std::move(reason)) {}

std::string pathForMessage(const fs::path& path) {
    return tryUtf8ToCp932(path.native()).value_or(path.native());
}

void removeAbandonedTemporaries(const fs::path& folder, const std::regex& names) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::smatch m;
        if (name.empty() || name.front() != '.' || !std::regex_match(name, m, names) ||
            m.size() < 2 || m[1].length() == 0 || m[1].length() > 9)
            continue;
        const auto writer = static_cast<pid_t>(std::stol(m[1].str()));
        if (writer != ::getpid() && ::kill(writer, 0) != 0 && errno == ESRCH)
            ::unlink(it->path().c_str());
    }
}

struct AtomicFileWriter::Impl {
    explicit Impl(const fs::path& p)
        : path(p), target(resolveTarget(p)), temp(createTempBeside(target)) {}
    fs::path path;   // as the caller named it, for messages
    fs::path target; // the file replaced
    TempFile temp;
    std::size_t written = 0;
};

AtomicFileWriter::AtomicFileWriter(const fs::path& path) : d_(std::make_unique<Impl>(path)) {
    struct stat old {};
    if (::stat(d_->target.c_str(), &old) == 0 &&
        ::fchmod(d_->temp.fd().get(), old.st_mode & 07777) != 0)
        throw FileWriteError(path, systemReason(errno));
}

AtomicFileWriter::~AtomicFileWriter() = default;

void AtomicFileWriter::write(std::string_view bytes) {
    writeAll(d_->temp.fd().get(), bytes, d_->path, d_->written);
    d_->written += bytes.size();
}

void AtomicFileWriter::commit() {
    const int fd = d_->temp.fd().get();
    if (::fsync(fd) != 0)
        throw FileWriteError(d_->path, systemReason(errno));
    nameTemp(d_->temp, d_->target, d_->path);
    if (const int err = d_->temp.fd().close())
        throw FileWriteError(d_->path, systemReason(err));
    if (::rename(d_->temp.path().c_str(), d_->target.c_str()) != 0)
        throw FileWriteError(d_->path, systemReason(errno));
    d_->temp.release();
    syncFolder(d_->target);
}

void writeFileAtomically(const fs::path& path, std::string_view bytes) {
    AtomicFileWriter writer(path);
    writer.write(bytes);
    writer.commit();
}

std::optional<std::string> readFileBytes(const fs::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        throw FileReadError(path, systemReason(errno));
    }
    std::string bytes;
    struct stat info {};
    if (::fstat(fd.get(), &info) == 0 && info.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n == 0)
            return bytes;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FileReadError(path, systemReason(errno));
        }
        bytes.append(buf, static_cast<std::size_t>(n));
    }
}

void setWriteFailureForTesting(std::optional<std::size_t> failAfterBytes) {
    constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max());
    g_failAfterBytes =
        failAfterBytes ? static_cast<std::int64_t>(std::min(*failAfterBytes, kMax)) : -1;
}

} // namespace klv
