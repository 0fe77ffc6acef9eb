#include "core/registry/ChangeWatch.h"

#include <sqlite3.h>
#include <utility>

namespace klv {

ChangeWatch::ChangeWatch(sqlite3* db, const std::filesystem::path&, bool immutable)
    : db_(db), immutable_(immutable) {
    if (immutable)
        return; // no index file: asking for one would try to make it
    // The header is read from SQLite's own mapping of the index file, asked for through the
    // connection's file. Opening the "-shm" file a second time and closing it again would drop
    // every POSIX lock this process holds on it, SQLite's among them, and let the next process
    // reset the shared memory under this one.
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods || file->pMethods->iVersion < 2 || !file->pMethods->xShmMap)
        return;
    void volatile* region = nullptr;
    // Region 0 exists once the connection has read the database in WAL mode; 32 KiB is the
    // region size SQLite always asks for.
    if (file->pMethods->xShmMap(file, 0, 32768, 0, &region) == SQLITE_OK && region)
        map_ = static_cast<const std::uint64_t*>(const_cast<void*>(region));
}

ChangeWatch::~ChangeWatch() = default;

bool ChangeWatch::changed() {
    if (immutable_)
        return std::exchange(first_, false);
    if (map_) {
        std::array<std::uint64_t, 4> now{};
        for (std::size_t i = 0; i < now.size(); ++i)
            now[i] = __atomic_load_n(map_ + kWatched[i], __ATOMIC_ACQUIRE);
        bool diff = first_ || now != seen_;
        seen_ = now;
        first_ = false;
        return diff;
    }
    // Fallback: the pragma reports commits of other connections only; the store drops its
    // cache after its own commits itself.
    sqlite3_stmt* st = nullptr;
    std::int64_t v = -2;
    if (sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        v = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    bool diff = first_ || v != dataVersion_ || v < 0;
    dataVersion_ = v;
    first_ = false;
    return diff;
}

} // namespace klv
