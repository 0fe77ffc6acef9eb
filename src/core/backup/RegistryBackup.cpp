#include "core/backup/RegistryBackup.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/platform/ErrorText.h"
#include "core/platform/Folders.h"
#include "core/platform/TimeText.h"
#include "core/settings/SettingsFile.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace klv::backup {

namespace {

constexpr char kFileSection[] = "REG_FILE";
constexpr char kCleanSection[] = "REG_CLEAN";
constexpr std::size_t kCopyChunk = 1 << 20;

std::function<void()> g_snapshotHook;

std::string reasonOf(int err) {
    return systemErrorText(err);
}

fs::path diskPath(const std::string& cp932) {
    return fs::path(cp932ToUtf8(cp932));
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

Db openDb(const fs::path& file, int flags, const fs::path& target) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK)
        throw FileWriteError(target, raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    sqlite3_busy_timeout(raw, 10000);
    return db;
}

void exec(sqlite3* db, const char* sql, const fs::path& target) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw FileWriteError(target, sqlite3_errmsg(db));
}

// The files SQLite may keep beside a database.
constexpr const char* kDatabaseSidecars[] = {"-journal", "-wal", "-shm"};

std::string tempPrefix(const fs::path& target) {
    return "." + target.filename().string() + ".backup-";
}

void removeWithSidecars(const fs::path& file) {
    std::error_code ec;
    fs::remove(file, ec);
    for (const char* sidecar : kDatabaseSidecars)
        fs::remove(file.string() + sidecar, ec);
}

// A temporary name beside the target that nothing else uses; removed unless released. It is
// locked (flock) while in use, so that the next backup can tell the copy of a backup that was
// killed half way from one that is running.
class TempBeside {
public:
    explicit TempBeside(const fs::path& target) {
        std::string pattern = (target.parent_path() / tempPrefix(target)).string() + "XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            throw FileWriteError(target, reasonOf(errno));
        lock_ = fd;
        ::flock(fd, LOCK_EX | LOCK_NB);
        path_ = pattern;
    }
    ~TempBeside() {
        if (!path_.empty())
            removeWithSidecars(path_);
        ::close(lock_);
    }
    TempBeside(const TempBeside&) = delete;
    TempBeside& operator=(const TempBeside&) = delete;
    const fs::path& path() const { return path_; }
    void release() { path_.clear(); }

private:
    fs::path path_;
    int lock_ = -1;
};

// Removes what backups killed half way left beside the target: temporary copies that no
// running backup holds locked, and their SQLite files.
void removeAbandonedTemps(const fs::path& target) {
    const std::string prefix = tempPrefix(target);
    constexpr std::size_t kUnique = 6; // the characters mkstemp fills in
    std::vector<fs::path> abandoned;
    std::error_code ec;
    for (fs::directory_iterator it(target.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < prefix.size() + kUnique || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const fs::path base = target.parent_path() / name.substr(0, prefix.size() + kUnique);
        if (name.size() > prefix.size() + kUnique) {
            std::error_code missing;
            if (!fs::exists(base, missing))
                abandoned.push_back(it->path()); // a sidecar whose copy is gone
            continue;
        }
        Fd fd(::open(base.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() >= 0 && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
            abandoned.push_back(base);
    }
    for (const fs::path& file : abandoned)
        removeWithSidecars(file);
}

// Makes the rename durable; a folder that cannot be synced leaves the file in place anyway.
void syncFolder(const fs::path& target) {
    Fd dir(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

void syncFile(const fs::path& file, const fs::path& target) {
    Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0)
        throw FileWriteError(target, reasonOf(errno));
}

// The whole of one open file into another, in the kernel where the file systems allow it.
void copyContents(int in, int out, const fs::path& source, const fs::path& target) {
    bool inKernel = true;
    std::string buf;
    for (;;) {
        if (inKernel) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk * 1024, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
                throw FileWriteError(target, reasonOf(errno));
            inKernel = false; // offsets are where the kernel left them
            buf.resize(kCopyChunk);
        }
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n == 0)
            return;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FileReadError(source, reasonOf(errno));
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                throw FileWriteError(target, reasonOf(w < 0 ? errno : ENOSPC));
            done += w;
        }
    }
}

void copyInto(const fs::path& source, const fs::path& copy, const fs::path& target) {
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        throw FileReadError(source, reasonOf(errno));
    Fd out(::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.get() < 0)
        throw FileWriteError(target, reasonOf(errno));
    copyContents(in.get(), out.get(), source, target);
}

std::string journalMode(sqlite3* db, const fs::path& target) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &st, nullptr) != SQLITE_OK)
        throw FileWriteError(target, sqlite3_errmsg(db));
    std::string mode;
    if (sqlite3_step(st) == SQLITE_ROW)
        if (const auto* text = sqlite3_column_text(st, 0))
            mode = reinterpret_cast<const char*>(text);
    sqlite3_finalize(st);
    return mode;
}

// The files are copied as they lie while a read transaction pins one committed state, so
// writers in other processes go on meanwhile and the copy costs little more than cp. In
// rollback mode the reader's lock keeps every writer from changing the file. In WAL mode no
// checkpoint writes a page of the log beyond the reader's mark into the file, and the log is
// not restarted while the reader uses it: every page of the file that may change under the copy
// is also in the copied log, whose recovery (checksummed frames, up to the last whole commit)
// gives that state or a later committed one. Folding the log into the copy leaves one file.
void snapshotDatabase(const fs::path& source, const fs::path& target) {
    removeAbandonedTemps(target);
    TempBeside temp(target);
    const fs::path tempLog = temp.path().string() + "-wal";
    {
        Db src = openDb(source, SQLITE_OPEN_READONLY, target);
        exec(src.get(), "BEGIN", target);
        exec(src.get(), "SELECT count(*) FROM sqlite_master", target);
        const bool wal = journalMode(src.get(), target) == "wal";
        copyInto(source, temp.path(), target);
        if (g_snapshotHook)
            g_snapshotHook();
        const fs::path log = source.string() + "-wal";
        if (wal && fs::exists(log))
            copyInto(log, tempLog, target);
        exec(src.get(), "COMMIT", target);
    }
    {
        Db copy = openDb(temp.path(), SQLITE_OPEN_READWRITE, target);
        // The copy is synced once at the end.
        exec(copy.get(), "PRAGMA synchronous=OFF", target);
        // The copy stands alone: no log file beside it.
        exec(copy.get(), "PRAGMA journal_mode=DELETE", target);
        if (journalMode(copy.get(), target) != "delete")
            throw FileWriteError(target, sqlite3_errstr(SQLITE_BUSY));
    }
    syncFile(temp.path(), target);
    if (::rename(temp.path().c_str(), target.c_str()) != 0)
        throw FileWriteError(target, reasonOf(errno));
    temp.release();
    syncFolder(target);
}

void copyPlain(const fs::path& source, const fs::path& target) {
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        throw FileReadError(source, reasonOf(errno));
    AtomicFileWriter out(target);
    std::string buf(kCopyChunk, '\0');
    for (;;) {
        const ssize_t n = ::read(in.get(), buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FileReadError(source, reasonOf(errno));
        }
        if (n == 0)
            break;
        out.write(std::string_view(buf.data(), static_cast<std::size_t>(n)));
    }
    out.commit();
}

} // namespace

std::string sizeText(std::uint64_t bytes) {
    // "###" alone would show nothing at all for an empty file or an empty total.
    const std::string digits = std::to_string(bytes);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped + sj(" ﾊﾞｲﾄ");
}

fs::path rowPath(const std::string& folder, const std::string& name, const fs::path& systemFolder) {
    const fs::path base = folder.empty() ? systemFolder : diskPath(folder);
    return base / diskPath(name);
}

std::optional<std::string> folderText(const fs::path& folder) {
    std::string text = folder.string();
    if (text.empty() || text.back() != '/')
        text += '/';
    return tryUtf8ToCp932(text);
}

FileState stateOf(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    std::tm t{};
    localtime_r(&st.st_mtime, &t);
    return {true, static_cast<std::uint64_t>(st.st_size), listTimeText(t)};
}

Snapshot readSnapshot(const SettingsFile& settings) {
    Snapshot s;
    const int count = settings.readInt(kFileSection, "Count", -1);
    if (count < 0) {
        s.entries.push_back({"SYSTEM.DAT", "", "", true});
    } else {
        for (int i = 0; i < std::min(count, SettingsFile::kMaxListItems); ++i) {
            const std::string k = std::to_string(i);
            s.entries.push_back({settings.readString(kFileSection, k, "-"),
                                 settings.readString(kFileSection, k + "_F"),
                                 settings.readString(kFileSection, k + "_T"),
                                 settings.readBool(kFileSection, k + "_C", true)});
        }
    }
    // A sentinel tells a missing key from a stored one.
    static const std::string kMissing = "\x01";
    for (const FileEntry& e : s.entries) {
        std::string v = settings.readString(kCleanSection, e.name, kMissing);
        if (v != kMissing)
            s.cleanSizes[e.name] = std::move(v);
    }
    if (std::string all = settings.readString(kCleanSection, "ALL", kMissing); all != kMissing)
        s.cleanTotal = std::move(all);
    return s;
}

Activation activate(const Snapshot& snapshot, const fs::path& systemFolder,
                    const std::function<FileState(const fs::path&)>& stat) {
    Activation a;
    std::uint64_t total = 0;
    for (const FileEntry& e : snapshot.entries) {
        StatusRow row{e.name, "-", "-", "-", "", e.folder, e.checked};
        const FileState st = stat(rowPath(e.folder, e.name, systemFolder));
        const auto clean = snapshot.cleanSizes.find(e.name);
        if (st.exists) {
            total += st.size;
            row.size = sizeText(st.size);
            row.previousSize = clean != snapshot.cleanSizes.end() ? clean->second : "-";
            row.time = st.time;
        } else {
            row.size = "*";
            row.previousSize = clean != snapshot.cleanSizes.end() ? clean->second : "*";
            row.time = "*";
        }
        row.changed = e.storedTime != row.time ? sj("はい") : sj("いいえ");
        a.rows.push_back(std::move(row));
    }
    a.total = sizeText(total);
    a.previousTotal = snapshot.cleanTotal.value_or("-");
    return a;
}

void writeCleanSizes(SettingsFile& settings, const Activation& activation) {
    for (const StatusRow& row : activation.rows) {
        try {
            settings.writeString(kCleanSection, row.name, row.size);
        } catch (const std::invalid_argument&) {
            // Not a name an INI key can hold: its previous size stays unknown.
        }
    }
    settings.writeString(kCleanSection, "ALL", activation.total);
}

void writeEntries(SettingsFile& settings, const std::vector<StatusRow>& rows) {
    settings.writeInt(kFileSection, "Count", static_cast<int>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string k = std::to_string(i);
        settings.writeString(kFileSection, k, rows[i].name);
        settings.writeString(kFileSection, k + "_F", rows[i].folder);
        settings.writeBool(kFileSection, k + "_C", rows[i].checked);
        settings.writeString(kFileSection, k + "_T", rows[i].time);
    }
}

std::optional<StatusRow> rowForFile(const fs::path& file) {
    auto name = tryUtf8ToCp932(file.filename().string());
    auto folder = folderText(file.parent_path());
    if (!name || !folder)
        return std::nullopt;
    const FileState st = stateOf(file);
    return StatusRow{*name,      st.exists ? sizeText(st.size) : "*",
                     "-",        st.exists ? st.time : "*",
                     sj("はい"), *folder,
                     true};
}

fs::path defaultBackupFolder() {
    return resolveNoCase(programFolder(), "BACKUP");
}

std::string databaseIntegrity(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::string why = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return why;
    }
    std::string result;
    char* error = nullptr;
    sqlite3_exec(
        db, "PRAGMA integrity_check",
        [](void* r, int, char** v, char**) {
            *static_cast<std::string*>(r) += v[0] ? v[0] : "";
            return 0;
        },
        &result, &error);
    if (error) {
        result += error;
        sqlite3_free(error);
    }
    sqlite3_close(db);
    return result;
}

bool isSqliteDatabase(const fs::path& file) {
    static constexpr char kHeader[] = "SQLite format 3"; // with its terminating zero: 16 bytes
    Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    char head[sizeof kHeader];
    return ::pread(fd.get(), head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
           std::memcmp(head, kHeader, sizeof head) == 0;
}

void copyForBackup(const fs::path& source, const fs::path& target) {
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0)
        throw FileReadError(source, reasonOf(errno));
    if (!S_ISREG(st.st_mode))
        throw FileReadError(source, reasonOf(EISDIR));
    if (isSqliteDatabase(source))
        snapshotDatabase(source, target);
    else
        copyPlain(source, target);
    // Linux files have no archive, hidden or system attribute; clearing "read-only" is making
    // the copy writable by its owner.
    struct stat copied {};
    if (::stat(target.c_str(), &copied) != 0 ||
        ::chmod(target.c_str(), (copied.st_mode & 07777) | S_IWUSR) != 0)
        throw FileWriteError(target, reasonOf(errno));
}

void setSnapshotHookForTesting(std::function<void()> hook) {
    g_snapshotHook = std::move(hook);
}

bool backupFiles(const std::vector<BackupItem>& items, const fs::path& backupFolder,
                 const fs::path& systemFolder,
                 const std::function<void(const std::string& name)>& failed,
                 const std::function<void()>& pump, const bool* stop) {
    bool ok = true;
    std::error_code ec;
    fs::create_directories(backupFolder, ec);
    for (const BackupItem& item : items) {
        if (stop && *stop)
            break;
        try {
            // A name is a file name, never a way out of the backup folder.
            if (item.name.empty() || item.name == "." || item.name == ".." ||
                item.name.find('/') != std::string::npos)
                throw FileWriteError(backupFolder, reasonOf(EINVAL));
            copyForBackup(rowPath(item.folder, item.name, systemFolder),
                          backupFolder / diskPath(item.name));
        } catch (const std::exception&) {
            ok = false;
            failed(item.name);
        }
        if (pump)
            pump();
    }
    return ok;
}

std::string failureMessage(const std::string& name) {
    return name + sj(" のバックアップが失敗しました。ファイルがないか、バックアップ先が不正です。");
}

std::string successMessage() {
    return sj("バックアップが正常に完了しました。");
}

} // namespace klv::backup
