#pragma once
// Whole-file reads and crash-safe whole-file writes, shared by the settings file and the list
// files. A write either replaces the file completely or leaves the old one untouched.
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
// GCC 12 warns falsely inside <regex> (-Wmaybe-uninitialized) in optimised sanitizer builds.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#else
#include <regex>
#endif
#include <stdexcept>
#include <string>
#include <string_view>

namespace klv {

// what() is the CP932 message for the user: the action on the file and, on the next line, the
// system's reason.
class FileError : public std::runtime_error {
public:
    FileError(std::string message, std::filesystem::path path, std::string reason);
    const std::filesystem::path& path() const { return path_; }
    // The system's reason alone (CP932), e.g. "No space left on device".
    const std::string& reason() const { return reason_; }

private:
    std::filesystem::path path_;
    std::string reason_;
};

// "ファイル %s に書き込めません" and the reason.
class FileWriteError : public FileError {
public:
    FileWriteError(const std::filesystem::path& path, std::string reason);
};

// "ファイル %s を読み込めません" and the reason.
class FileReadError : public FileError {
public:
    FileReadError(const std::filesystem::path& path, std::string reason);
};

// Writes bytes to a temporary file in the target's folder, flushes it to the device and
// renames it over the target (a symbolic link is followed, so the link survives). An existing
// target keeps its permission bits; a new one gets 0666 less the umask. On any failure the
// temporary file is removed, the old file is left as it was, and FileWriteError is thrown. The
// temporary file has no name until the commit where the file system allows it, so that a
// process killed while writing leaves nothing behind (and what one leaves otherwise, the next
// write removes).
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// The same for a file written piece by piece: the bytes go to a temporary file beside the
// target, commit() puts it in place; destroyed without commit(), the temporary file goes and
// the target stays as it was. Throws FileWriteError.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const std::filesystem::path& path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
    void write(std::string_view bytes);
    void commit();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Removes the hidden temporary files in `folder` whose whole names match `names` (its first
// group the writer's process id) and whose writers are gone: what processes killed while they
// wrote left behind. Files of writers that still run stay. Every atomic write does this first.
void removeAbandonedTemporaries(const std::filesystem::path& folder, const std::regex& names);

// The whole file; nullopt when it does not exist. Throws FileReadError when it exists but
// cannot be read (no permission, a folder, an I/O error).
std::optional<std::string> readFileBytes(const std::filesystem::path& path);

// Test seam, process-wide: while set, every write of writeFileAtomically stops with "no space
// left on device" once it has written failAfterBytes bytes of the temporary file, as a device
// that fills up would. nullopt turns it off.
void setWriteFailureForTesting(std::optional<std::size_t> failAfterBytes);

// A path as CP932 text for messages (file names on disk are UTF-8; kept as is when they are
// not).
std::string pathForMessage(const std::filesystem::path& path);

} // namespace klv
