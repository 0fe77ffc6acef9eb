#pragma once
// Tells whether any connection has committed to a WAL database since the last look.
//
// Asking SQLite (PRAGMA data_version) costs a read transaction per question, too much for a
// question asked at every registry call. The WAL index header in the "-shm" file changes with
// every commit (change counter, frame count, salts), so comparing a copy of it is enough and
// costs no system call. The header is read through SQLite's own mapping of that file; where
// there is none, the pragma is asked instead.
#include <array>
#include <cstdint>
#include <filesystem>

struct sqlite3;

namespace klv {

class ChangeWatch {
public:
    // An immutable database never changes: only the first question says true.
    ChangeWatch(sqlite3* db, const std::filesystem::path& dbFile, bool immutable = false);
    ~ChangeWatch();
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;

    // True when something may have changed since the previous call (the first call says true).
    bool changed();
    bool mapped() const { return map_ != nullptr; }

private:
    // The first 48-byte copy of the header, as 64-bit words: change counter, frame count and
    // page count, salts and the header's checksum change with every commit.
    static constexpr std::size_t kHeaderBytes = 48;
    static constexpr std::size_t kWatched[] = {1, 2, 4, 5};
    sqlite3* db_;
    const std::uint64_t* map_ = nullptr;
    std::array<std::uint64_t, 4> seen_{};
    bool first_ = true;
    bool immutable_ = false;
    std::int64_t dataVersion_ = -1;
};

} // namespace klv
