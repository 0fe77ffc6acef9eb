#pragma once
// The file an export writes: its bytes go to a temporary file in the target's folder, which
// replaces the target only once everything is written and flushed to the device. A failed or
// abandoned export (even a killed process) leaves no partial file and an existing target
// untouched, and nobody who waits for the file to appear ever sees half of it.
//
// The writing itself runs on a thread of its own, so that the export goes on producing the
// next piece while the previous one goes to the device.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace klv {

class RegOutputFile {
public:
    // Throws RegFileError when the temporary file cannot be created.
    explicit RegOutputFile(const std::filesystem::path& target);
    ~RegOutputFile(); // removes the temporary file unless committed
    RegOutputFile(const RegOutputFile&) = delete;
    RegOutputFile& operator=(const RegOutputFile&) = delete;

    // Queues the bytes; throws RegFileError for a failure of an earlier piece (full disk, I/O
    // error).
    void write(std::string_view bytes);
    // Writes what is queued, flushes, and renames the file over the target (a symbolic link is
    // written through).
    void commit();

    // Test seam, process-wide: every output file fails with "no space left on device" once
    // it has written this many bytes. nullopt turns it off.
    static void setFailureForTesting(std::optional<std::uint64_t> failAfterBytes);

private:
    [[noreturn]] void fail(int err) const;
    std::filesystem::path tempName() const;
    void writerLoop();
    int writeAll(std::string_view bytes);
    void drain(); // waits until the writer thread has written everything queued
    void stopWriter();

    std::filesystem::path target_;
    std::filesystem::path temp_; // empty while the file has no name
    int fd_ = -1;
    bool committed_ = false;

    // Shared with the writer thread.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    std::vector<std::string> spare_; // written buffers, reused
    bool busy_ = false;              // the writer holds a buffer
    bool stopping_ = false;
    int error_ = 0; // errno of the first failed write
    std::uint64_t written_ = 0;
    std::thread writer_;
};

} // namespace klv
