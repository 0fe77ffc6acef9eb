#include "core/registry/ChangeWatch.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace klv {

ChangeWatch::ChangeWatch(sqlite3* db, const std::filesystem::path& dbFile) : db_(db) {
    // The connection has read the database before this point, so the index file exists when
    // the database is in WAL mode.
    const std::string shm = dbFile.string() + "-shm";
    int fd = ::open(shm.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(kHeaderBytes)) {
        void* p = mmap(nullptr, kHeaderBytes, PROT_READ, MAP_SHARED, fd, 0);
        if (p != MAP_FAILED) {
            map_ = static_cast<const std::uint64_t*>(p);
            mapLength_ = kHeaderBytes;
        }
    }
    ::close(fd);
}

ChangeWatch::~ChangeWatch() {
    if (map_)
        munmap(const_cast<std::uint64_t*>(map_), mapLength_);
}

bool ChangeWatch::changed() {
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
