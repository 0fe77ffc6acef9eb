#include "core/regfiles/RegOutputFile.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/RegFileError.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace klv {
namespace {

std::atomic<std::int64_t> failAfter{-1}; // -1: off
std::atomic<unsigned> tempCounter{0};

std::filesystem::path followLinks(const std::filesystem::path& p) {
    std::error_code ec;
    std::filesystem::path target = p;
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(target, ec); ++hops) {
        const auto link = std::filesystem::read_symlink(target, ec);
        if (ec)
            break;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    return target;
}

} // namespace

void RegOutputFile::setFailureForTesting(std::optional<std::uint64_t> failAfterBytes) {
    failAfter = failAfterBytes ? static_cast<std::int64_t>(*failAfterBytes) : -1;
}

namespace {
std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}
} // namespace

std::filesystem::path RegOutputFile::tempName() const {
    return folderOf(target_) /
           ("." + target_.filename().string() + ".klovreg-" + std::to_string(::getpid()) + "-" +
            std::to_string(tempCounter++) + ".tmp");
}

RegOutputFile::RegOutputFile(const std::filesystem::path& target) : target_(followLinks(target)) {
    // Named as tempName() names them: "." + target + ".klovreg-" + pid + "-" + count + ".tmp".
    static const std::regex ours(R"(\..*\.klovreg-(\d+)-\d+\.tmp)");
    removeAbandonedTemporaries(folderOf(target_), ours);
    // A file without a name first: a process killed meanwhile leaves nothing behind.
    fd_ = ::open(folderOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        committed_ = true; // nothing of ours to remove
        fail(errno);
    }
    for (int attempt = 0; fd_ < 0; ++attempt) {
        temp_ = tempName();
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && (errno != EEXIST || attempt > 100)) {
            const int err = errno;
            committed_ = true;
            fail(err);
        }
    }
    try {
        writer_ = std::thread([this] { writerLoop(); });
    } catch (...) {
        ::close(fd_);
        if (!temp_.empty())
            ::unlink(temp_.c_str());
        throw;
    }
}

RegOutputFile::~RegOutputFile() {
    stopWriter();
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_ && !temp_.empty())
        ::unlink(temp_.c_str());
}

void RegOutputFile::fail(int err) const {
    const std::string reason =
        err == ENOSPC ? sj("ディスクの空き容量が不足しています") : std::string(std::strerror(err));
    throw RegFileError(pathText(target_), 0, sj("ファイルに書き込めません（") + reason + sj("）"));
}

void RegOutputFile::stopWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable())
        writer_.join();
}

// Two pieces in flight at most: the export waits rather than holding the whole file.
constexpr std::size_t kMaxQueued = 2;

void RegOutputFile::write(std::string_view bytes) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return error_ != 0 || queue_.size() < kMaxQueued; });
    if (error_ != 0)
        fail(error_);
    std::string piece;
    if (!spare_.empty()) {
        piece = std::move(spare_.back());
        spare_.pop_back();
    }
    piece.assign(bytes);
    queue_.push_back(std::move(piece));
    lock.unlock();
    changed_.notify_all();
}

void RegOutputFile::writerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return; // stopping, and everything written
        std::string piece = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        const bool skip = error_ != 0;
        lock.unlock();
        const int err = skip ? 0 : writeAll(piece);
        lock.lock();
        busy_ = false;
        if (err != 0 && error_ == 0)
            error_ = err;
        piece.clear();
        spare_.push_back(std::move(piece));
        changed_.notify_all();
    }
}

// On the writer thread; returns the errno of a failure, 0 when all went out.
int RegOutputFile::writeAll(std::string_view bytes) {
    bool full = false;
    if (const std::int64_t limit = failAfter; limit >= 0) {
        const auto max = static_cast<std::uint64_t>(limit);
        if (written_ + bytes.size() > max) {
            bytes = bytes.substr(0, static_cast<std::size_t>(max - std::min(max, written_)));
            full = true;
        }
    }
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        written_ += static_cast<std::uint64_t>(n);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return full ? ENOSPC : 0;
}

void RegOutputFile::drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return error_ != 0 || (queue_.empty() && !busy_); });
    if (error_ != 0)
        fail(error_);
}

void RegOutputFile::commit() {
    drain();
    stopWriter();
    struct stat old {};
    if (::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd_, old.st_mode & 07777); // an existing file keeps its permissions
    if (::fsync(fd_) != 0)
        fail(errno);
    if (temp_.empty()) {
        // Give the file a name in the folder; renamed over the target below.
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0;; ++attempt) {
            const std::filesystem::path name = tempName();
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                temp_ = name;
                break;
            }
            if (errno != EEXIST || attempt > 100)
                fail(errno);
        }
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        fail(errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        fail(errno);
    committed_ = true;
    const int dir = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir); // the rename itself survives a crash
        ::close(dir);
    }
}

} // namespace klv
