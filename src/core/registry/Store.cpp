#include "core/registry/Store.h"

#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/registry/ChangeWatch.h"
#include "core/registry/RegistryError.h"
#include "core/registry/RootKeys.h"
#include "core/registry/Seed.h"
#include "core/registry/SqlStatement.h"
#include "core/registry/StoreSchema.h"

#include <algorithm>
#include <array>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace klv {

// ---------------------------------------------------------------------------------------------
// Names

namespace {

std::string upperUtf16Ascii(std::string_view utf16) {
    std::string s(utf16);
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        if (s[i] >= 'a' && s[i] <= 'z' && s[i + 1] == 0)
            s[i] = static_cast<char>(s[i] - 'a' + 'A');
    return s;
}

std::size_t nameLength(const StoredName& n) {
    return n.wide ? n.bytes.size() / 2 : n.bytes.size();
}

bool hasNul(const StoredName& n) {
    if (n.wide) {
        for (std::size_t i = 0; i + 1 < n.bytes.size(); i += 2)
            if (n.bytes[i] == 0 && n.bytes[i + 1] == 0)
                return true;
        return false;
    }
    return n.bytes.find('\0') != std::string::npos;
}

bool hasBackslash(const StoredName& n) {
    if (n.wide) {
        for (std::size_t i = 0; i + 1 < n.bytes.size(); i += 2)
            if (n.bytes[i] == '\\' && n.bytes[i + 1] == 0)
                return true;
        return false;
    }
    return cp932Find(n.bytes, "\\") != std::string_view::npos;
}

} // namespace

std::string listedName(const StoredName& n) {
    return n.wide ? utf16ToCp932Lossy(n.bytes) : n.bytes;
}

std::string listedData(const RawValue& v) {
    return v.dataWide ? utf16ToCp932Lossy(v.data) : v.data;
}

std::string foldName(const StoredName& n) {
    if (!n.wide)
        return cp932Upper(n.bytes);
    // A wide name can never equal a CP932 one (it holds a character CP932 lacks): the NUL keeps
    // the two apart while the first part sorts it among its neighbours.
    std::string f = cp932Upper(utf16ToCp932Lossy(n.bytes));
    f.push_back('\0');
    f += upperUtf16Ascii(n.bytes);
    return f;
}

// ---------------------------------------------------------------------------------------------
// SQL errors

[[noreturn]] void throwSqlError(sqlite3* db, int rc) {
    const std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    switch (rc & 0xFF) {
    case SQLITE_FULL:
        throw StoreError(sj("ディスクの空き容量が不足しています"), detail);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        throw StoreError(sj("レジストリは他のプログラムが使用中です"), detail);
    case SQLITE_READONLY:
    case SQLITE_PERM:
        throw StoreError(sj("レジストリファイルに書き込めません"), detail);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        throw StoreError(sj("レジストリファイルが壊れています"), detail);
    case SQLITE_CANTOPEN:
        throw StoreError(sj("レジストリファイルを開けません"), detail);
    default:
        throw StoreError(sj("レジストリファイルの操作に失敗しました"), detail);
    }
}

SqlStatement::SqlStatement(sqlite3* db, const char* sql) : db_(db) {
    int rc = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st_, nullptr);
    if (rc != SQLITE_OK)
        throwSqlError(db, rc);
}

// ---------------------------------------------------------------------------------------------
// Cache and statements

namespace {

struct SvHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
template <class V> using FoldMap = std::unordered_map<std::string, V, SvHash, std::equal_to<>>;

struct Node {
    KeyRecord rec;
    std::string fold;
    std::size_t posInParent = SIZE_MAX; // index in the parent's loaded child list
    // Children by fold: a positive cache, complete while childMapComplete. A listing fills it
    // only when a name is first looked up (mapFromList): walks list keys by the million and
    // never look one up by name.
    FoldMap<KeyId> childByFold;
    bool childMapComplete = false;
    bool mapFromList = false;
    // The children in enumeration order, while childrenLoaded.
    bool childrenLoaded = false;
    std::vector<KeyId> children;
    bool valuesLoaded = false;
    std::vector<RawValue> values;
    std::vector<std::string> valueFolds;
    FoldMap<std::size_t> valueIndex; // built for keys with many values
};

constexpr std::size_t kValueIndexFrom = 16;
constexpr std::size_t kSiblingLoadLimit = 1024;
constexpr std::size_t kCacheLimit = 400000; // keys + values held before the cache is dropped

const char* const kKeyColumns = "parent, fold, id, name, wide, depth, mtime, access, nsub, maxsub";

std::string keySelect(const char* where) {
    return std::string("SELECT ") + kKeyColumns + " FROM keys " + where;
}

} // namespace

struct Store::Impl {
    Impl(sqlite3* db, const std::filesystem::path& file, bool immutable)
        : watch(db, file, immutable), selKeyById(db, keySelect("WHERE id = ?1").c_str()),
          selChild(db, keySelect("WHERE parent = ?1 AND fold = ?2").c_str()),
          selChildren(db, keySelect("WHERE parent = ?1 ORDER BY fold").c_str()),
          selValues(db, "SELECT key, seq, fold, name, flags, type, data FROM vals "
                        "WHERE key = ?1 ORDER BY seq"),
          selValuesRange(db, "SELECT key, seq, fold, name, flags, type, data FROM vals "
                             "WHERE key BETWEEN ?1 AND ?2 ORDER BY key, seq"),
          selSiblingValues(db, "SELECT k.id, v.seq, v.fold, v.name, v.flags, v.type, v.data "
                               "FROM keys k JOIN vals v ON v.key = k.id WHERE k.parent = ?1 "
                               "ORDER BY k.fold, v.seq"),
          selMaxSeq(db, "SELECT ifnull(max(seq), 0) FROM vals WHERE key = ?1"),
          selNextId(db, "SELECT max((SELECT value FROM meta WHERE name = 'next_key_id'), "
                        "(SELECT ifnull(max(id), 0) + 1 FROM keys))"),
          updNextId(db, "UPDATE meta SET value = ?1 WHERE name = 'next_key_id'"),
          insKey(db, "INSERT INTO keys(parent, fold, id, name, wide, depth, mtime) "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)"),
          delKey(db, "DELETE FROM keys WHERE id = ?1"),
          delKeyValues(db, "DELETE FROM vals WHERE key = ?1"),
          upsertValue(db, "INSERT INTO vals(key, seq, fold, name, flags, type, data) "
                          "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7) "
                          "ON CONFLICT(key, fold) DO UPDATE SET "
                          "flags = (flags & 1) | (excluded.flags & 2), "
                          "type = excluded.type, data = excluded.data"),
          delValue(db, "DELETE FROM vals WHERE key = ?1 AND fold = ?2"),
          updAggregates(db, "UPDATE keys SET nsub = ?2, maxsub = ?3, mtime = ?4 WHERE id = ?1"),
          updMaxSub(db, "UPDATE keys SET maxsub = (SELECT ifnull(max(CASE WHEN wide THEN "
                        "length(name) / 2 ELSE length(name) END), 0) FROM keys "
                        "WHERE parent = ?1) WHERE id = ?1"),
          updAccess(db, "UPDATE keys SET access = ?2 WHERE id = ?1"), begin(db, "BEGIN IMMEDIATE"),
          commit(db, "COMMIT"), rollback(db, "ROLLBACK") {}

    ChangeWatch watch;
    SqlStatement selKeyById, selChild, selChildren, selValues, selValuesRange, selSiblingValues,
        selMaxSeq, selNextId, updNextId;
    SqlStatement insKey, delKey, delKeyValues, upsertValue, delValue, updAggregates, updMaxSub,
        updAccess;
    SqlStatement begin, commit, rollback;

    std::unordered_map<KeyId, Node> nodes;
    std::size_t cachedItems = 0;
    std::uint64_t generation = 1;
    std::string scratch; // fold buffer of the lookups

    // Transaction state.
    int txnDepth = 0;
    bool txnFailed = false;
    FileTime txnTime = 0;
    KeyId nextId = 0;
    struct Dirty {
        KeyRecord rec;
        bool recomputeMaxSub = false;
    };
    std::unordered_map<KeyId, Dirty> dirty;          // records changed in this transaction
    std::unordered_map<KeyId, std::int64_t> nextSeq; // next value sequence per key

    void clearCache() {
        nodes.clear();
        cachedItems = 0;
        ++generation;
    }

    void clearTxn() {
        dirty.clear();
        nextSeq.clear();
        nextId = 0;
        txnFailed = false;
    }

    static KeyRecord readKey(const SqlStatement::Use& u) {
        KeyRecord r;
        r.parent = u.i64(0);
        r.id = u.i64(2);
        r.name.bytes = std::string(u.blob(3));
        r.name.wide = u.i64(4) != 0;
        r.depth = static_cast<int>(u.i64(5));
        r.lastWrite = static_cast<FileTime>(u.i64(6));
        r.access = static_cast<KeyAccess>(u.i64(7));
        r.subKeys = static_cast<std::uint32_t>(u.i64(8));
        r.maxSubKeyLen = static_cast<std::uint32_t>(u.i64(9));
        return r;
    }

    // Puts a record read from the file into the cache; a record changed in the running
    // transaction wins over the file's copy, which is only written at commit.
    Node& remember(KeyRecord r, std::string_view fold, bool indexInParent = true) {
        if (auto d = dirty.find(r.id); d != dirty.end())
            r = d->second.rec;
        auto [it, inserted] = nodes.try_emplace(r.id);
        Node& n = it->second;
        if (inserted) {
            ++cachedItems;
            n.fold = std::string(fold);
        }
        n.rec = std::move(r);
        if (indexInParent)
            if (auto p = nodes.find(n.rec.parent); p != nodes.end())
                p->second.childByFold.try_emplace(n.fold, n.rec.id);
        return n;
    }

    // Completes the name map of a parent from its loaded list, before the first look-up by
    // name or a change that drops the list.
    void completeChildMap(Node& parent) {
        if (!parent.mapFromList)
            return;
        parent.mapFromList = false;
        parent.childByFold.reserve(parent.children.size());
        for (KeyId c : parent.children)
            if (auto it = nodes.find(c); it != nodes.end())
                parent.childByFold.try_emplace(it->second.fold, c);
    }

    Node* node(KeyId id) {
        if (auto it = nodes.find(id); it != nodes.end())
            return &it->second;
        SqlStatement::Use u(selKeyById);
        u.bind(1, id);
        if (!u.step())
            return nullptr;
        return &remember(readKey(u), u.blob(1));
    }

    std::optional<KeyId> child(Node& parent, std::string_view fold) {
        completeChildMap(parent);
        if (auto it = parent.childByFold.find(fold); it != parent.childByFold.end())
            return it->second;
        if (parent.childMapComplete || parent.rec.subKeys == 0)
            return std::nullopt;
        const KeyId pid = parent.rec.id;
        SqlStatement::Use u(selChild);
        u.bind(1, pid).bindBlob(2, fold);
        if (!u.step())
            return std::nullopt;
        return remember(readKey(u), fold).rec.id; // `parent` may have moved: use the id
    }

    const std::vector<KeyId>& children(KeyId pid) {
        Node& p = *node(pid);
        if (p.childrenLoaded)
            return p.children;
        p.children.clear();
        if (p.rec.subKeys > 0) {
            // Node references stay valid while the map grows; only iterators do not.
            p.children.reserve(p.rec.subKeys);
            SqlStatement::Use u(selChildren);
            u.bind(1, pid);
            while (u.step()) {
                Node& c = remember(readKey(u), u.blob(1), false);
                c.posInParent = p.children.size();
                p.children.push_back(c.rec.id);
            }
        }
        p.childrenLoaded = true;
        p.childMapComplete = true;
        p.mapFromList = true;
        return p.children;
    }

    void addValue(Node& n, RawValue v, std::string fold) {
        n.values.push_back(std::move(v));
        n.valueFolds.push_back(std::move(fold));
        ++cachedItems;
        if (n.values.size() == kValueIndexFrom)
            for (std::size_t i = 0; i < n.valueFolds.size(); ++i)
                n.valueIndex.emplace(n.valueFolds[i], i);
        else if (n.values.size() > kValueIndexFrom)
            n.valueIndex.emplace(n.valueFolds.back(), n.values.size() - 1);
    }

    // Columns: key, seq, fold, name, flags, type, data.
    static RawValue readValue(const SqlStatement::Use& u) {
        RawValue v;
        const auto flags = u.i64(4);
        v.name.bytes = std::string(u.blob(3));
        v.name.wide = (flags & 1) != 0;
        v.dataWide = (flags & 2) != 0;
        v.type = static_cast<std::uint32_t>(u.i64(5));
        v.data = std::string(u.blob(6));
        return v;
    }

    // Loads the values of a key, and with them those of its siblings when the parent's list is
    // at hand and not long: a walk visits them next, and one query for all costs little more
    // than one for one.
    void loadValues(KeyId id) {
        Node& n = nodes.at(id);
        auto p = nodes.find(n.rec.parent);
        if (p == nodes.end() || !p->second.childrenLoaded ||
            p->second.children.size() > kSiblingLoadLimit) {
            startValues(n);
            SqlStatement::Use u(selValues);
            u.bind(1, id);
            while (u.step())
                addValue(n, readValue(u), std::string(u.blob(2)));
            return;
        }
        std::vector<Node*> fresh;
        for (KeyId k : p->second.children) {
            auto c = nodes.find(k);
            if (c != nodes.end() && !c->second.valuesLoaded) {
                startValues(c->second);
                fresh.push_back(&c->second);
            }
        }
        if (fresh.empty())
            return;
        // Siblings made one after another have neighbouring ids, and their values then lie
        // together in the file: one range read instead of a search per key.
        std::vector<std::pair<KeyId, Node*>> byId;
        byId.reserve(fresh.size());
        for (Node* f : fresh)
            byId.emplace_back(f->rec.id, f);
        std::sort(byId.begin(), byId.end());
        const KeyId lo = byId.front().first;
        const KeyId hi = byId.back().first;
        if (static_cast<std::size_t>(hi - lo) < 2 * byId.size() + 8) {
            SqlStatement::Use u(selValuesRange);
            u.bind(1, lo).bind(2, hi);
            std::size_t i = 0;
            while (u.step()) {
                const KeyId k = u.i64(0);
                while (i < byId.size() && byId[i].first < k)
                    ++i;
                if (i < byId.size() && byId[i].first == k)
                    addValue(*byId[i].second, readValue(u), std::string(u.blob(2)));
            }
            return;
        }
        SqlStatement::Use u(selSiblingValues);
        u.bind(1, n.rec.parent);
        std::size_t i = 0;
        while (u.step()) {
            // Rows come in the order of the list, so one pass pairs them with their keys.
            const KeyId k = u.i64(0);
            while (i < fresh.size() && fresh[i]->rec.id != k)
                ++i;
            if (i == fresh.size()) {
                // A key listed before that is no longer fresh: find it from the start.
                i = 0;
                while (i < fresh.size() && fresh[i]->rec.id != k)
                    ++i;
                if (i == fresh.size()) {
                    i = 0;
                    continue;
                }
            }
            addValue(*fresh[i], readValue(u), std::string(u.blob(2)));
        }
    }

    void startValues(Node& n) {
        n.values.clear();
        n.valueFolds.clear();
        n.valueIndex.clear();
        n.values.reserve(4);
        n.valueFolds.reserve(4);
        n.valuesLoaded = true;
    }

    Node& withValues(KeyId id) {
        if (!nodes.at(id).valuesLoaded)
            loadValues(id);
        return nodes.at(id);
    }

    static std::optional<std::size_t> findValue(const Node& n, std::string_view fold) {
        if (!n.valueIndex.empty()) {
            auto it = n.valueIndex.find(fold);
            return it == n.valueIndex.end() ? std::nullopt : std::optional(it->second);
        }
        for (std::size_t i = 0; i < n.valueFolds.size(); ++i)
            if (n.valueFolds[i] == fold)
                return i;
        return std::nullopt;
    }

    // A record changed in the running transaction; written at commit.
    Dirty& touch(Node& n, FileTime when) {
        n.rec.lastWrite = when;
        auto [it, inserted] = dirty.try_emplace(n.rec.id);
        it->second.rec = n.rec;
        return it->second;
    }

    void flushDirty() {
        if (nextId != 0) {
            SqlStatement::Use u(updNextId);
            u.bind(1, nextId);
            u.run();
        }
        for (auto& [id, d] : dirty) {
            {
                SqlStatement::Use u(updAggregates);
                u.bind(1, id)
                    .bind(2, d.rec.subKeys)
                    .bind(3, d.rec.maxSubKeyLen)
                    .bind(4, static_cast<std::int64_t>(d.rec.lastWrite));
                u.run();
            }
            if (d.recomputeMaxSub) {
                SqlStatement::Use u(updMaxSub);
                u.bind(1, id);
                u.run();
            }
        }
    }
};

// ---------------------------------------------------------------------------------------------
// Opening

namespace {

void execOrThrow(sqlite3* db, const char* sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK)
        throwSqlError(db, rc);
}

// A file without any write permission counts as read only even for root, who could write it
// anyway: the user marked it so.
bool fileIsReadOnly(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return false;
    return ::access(file.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0;
}

bool folderIsReadOnly(const std::filesystem::path& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return false;
    return ::access(folder.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0;
}

// A URI for sqlite3_open_v2: the path with the characters that URIs reserve escaped.
std::string fileUri(const std::filesystem::path& file, const char* query) {
    std::string uri = "file:";
    for (const char c : file.string()) {
        if (c == '%' || c == '?' || c == '#') {
            static const char digits[] = "0123456789ABCDEF";
            uri += '%';
            uri += digits[static_cast<unsigned char>(c) >> 4];
            uri += digits[static_cast<unsigned char>(c) & 15];
        } else {
            uri += c;
        }
    }
    return uri + query;
}

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

} // namespace

Store::Store(std::filesystem::path file, sqlite3* db, bool readOnly)
    : file_(std::move(file)), db_(db), readOnly_(readOnly) {}

Store::~Store() {
    d_.reset(); // statements before the connection
    sqlite3_close_v2(db_);
}

namespace {
// Each connection is used by one thread only; the default serialized mode and the memory
// statistics would take a mutex around every call and allocation.
const bool sqliteConfigured = [] {
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
}();
} // namespace

std::shared_ptr<Store> Store::open(const std::filesystem::path& file, Options options) {
    (void)sqliteConfigured;
    std::error_code ec;
    const bool exists = std::filesystem::exists(file, ec);
    if (!exists && !options.create)
        throw StoreError(sj("レジストリファイルが見つかりません"), file.string());
    if (!exists)
        std::filesystem::create_directories(file.parent_path(), ec);
    // A file in a folder that cannot be written opens read only as well: no writer can add a
    // log beside it, and SQLite could not make the log's index there either. Without an index
    // file left from a writer, the file is then read as it stands (immutable).
    const bool folderReadOnly = exists && folderIsReadOnly(file.parent_path());
    const bool readOnly = exists && (folderReadOnly || fileIsReadOnly(file));
    const bool immutable = folderReadOnly && !std::filesystem::exists(file.string() + "-shm", ec);
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
        SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(fileUri(file, immutable ? "?immutable=1" : "").c_str(), &raw, flags,
                             nullptr);
    std::unique_ptr<sqlite3, DbCloser> db(raw);
    if (rc != SQLITE_OK)
        throwSqlError(raw, rc);
    sqlite3_busy_timeout(raw, 10000);
    sqlite3_extended_result_codes(raw, 1);
    if (!readOnly) {
        execOrThrow(raw, "PRAGMA journal_mode = WAL");
        execOrThrow(raw, "PRAGMA synchronous = NORMAL");
    }
    execOrThrow(raw, "PRAGMA cache_size = -65536");
    execOrThrow(raw, "PRAGMA mmap_size = 1073741824");
    if (readOnly) {
        sqlite3_stmt* st = nullptr;
        int v = -1;
        if (sqlite3_prepare_v2(raw, "PRAGMA user_version", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            v = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
        if (v != kStoreSchemaVersion)
            throw StoreError(sj("レジストリファイルを開けません"),
                             "read-only file with schema version " + std::to_string(v));
    } else {
        migrateStore(raw);
    }
    std::shared_ptr<Store> s(new Store(file, db.release(), readOnly));
    s->createdNow_ = !exists;
    s->d_ = std::make_unique<Impl>(s->db_, file, immutable);
    if (s->createdNow_ && options.seedWhenNew)
        seedRegistry(*s);
    return s;
}

namespace {
std::map<std::string, std::weak_ptr<Store>>& sharedStores() {
    static std::map<std::string, std::weak_ptr<Store>> m;
    return m;
}
} // namespace

std::shared_ptr<Store> Store::shared(const std::filesystem::path& file, Options options) {
    std::error_code ec;
    auto canon = std::filesystem::weakly_canonical(file, ec);
    const std::string k = ec ? file.string() : canon.string();
    auto& m = sharedStores();
    if (auto it = m.find(k); it != m.end())
        if (auto s = it->second.lock())
            return s;
    auto s = open(file, options);
    m[k] = s;
    return s;
}

std::shared_ptr<Store> Store::system() {
    const auto dir = systemFolder();
    auto f = findNoCase(dir, "SYSTEM.DAT").value_or(dir / "SYSTEM.DAT");
    return shared(f, Options{true, true});
}

void Store::resetShared() {
    sharedStores().clear();
}

// ---------------------------------------------------------------------------------------------
// Reads

void Store::refresh() {
    // Nobody else can commit while this connection holds the write lock.
    if ((d_->txnDepth == 0 && d_->watch.changed()) || d_->cachedItems > kCacheLimit)
        d_->clearCache();
}

void Store::dropCache() {
    d_->clearCache();
}

std::uint64_t Store::generation() const {
    return d_->generation;
}

const KeyRecord* Store::key(KeyId id) {
    Node* n = d_->node(id);
    return n ? &n->rec : nullptr;
}

std::optional<KeyId> Store::child(KeyId parent, std::string_view cp932Name) {
    Node* p = d_->node(parent);
    if (!p)
        return std::nullopt;
    cp932UpperInto(cp932Name, d_->scratch);
    return d_->child(*p, d_->scratch);
}

std::optional<KeyId> Store::child(KeyId parent, const StoredName& name) {
    Node* p = d_->node(parent);
    if (!p)
        return std::nullopt;
    return d_->child(*p, foldName(name));
}

const std::vector<KeyId>& Store::children(KeyId parent) {
    static const std::vector<KeyId> none;
    if (!d_->node(parent))
        return none;
    return d_->children(parent);
}

const std::vector<RawValue>& Store::values(KeyId id) {
    static const std::vector<RawValue> none;
    if (!d_->node(id))
        return none;
    return d_->withValues(id).values;
}

const RawValue* Store::value(KeyId id, std::string_view cp932Name) {
    if (!d_->node(id))
        return nullptr;
    Node& n = d_->withValues(id);
    cp932UpperInto(cp932Name, d_->scratch);
    auto i = Impl::findValue(n, d_->scratch);
    return i ? &n.values[*i] : nullptr;
}

KeyInfo Store::info(KeyId id) {
    KeyInfo k;
    if (!d_->node(id))
        return k;
    Node& n = d_->withValues(id);
    k.subKeys = n.rec.subKeys;
    k.maxSubKeyLen = n.rec.maxSubKeyLen;
    k.lastWrite = n.rec.lastWrite;
    k.values = static_cast<std::uint32_t>(n.values.size());
    for (const RawValue& v : n.values) {
        k.maxValueNameLen = std::max<std::uint32_t>(k.maxValueNameLen,
                                                    static_cast<std::uint32_t>(nameLength(v.name)));
        const std::size_t len = v.dataWide ? listedData(v).size() : v.data.size();
        k.maxValueLen = std::max<std::uint32_t>(k.maxValueLen, static_cast<std::uint32_t>(len));
    }
    return k;
}

// ---------------------------------------------------------------------------------------------
// Transactions

Store::Transaction::Transaction(Store& s) : s_(s) {
    s_.begin();
}

Store::Transaction::~Transaction() {
    if (!done_)
        s_.finish(false);
}

void Store::Transaction::commit() {
    done_ = true;
    s_.finish(true);
}

void Store::begin() {
    if (readOnly_)
        throw StoreError(sj("レジストリファイルは読み取り専用です"), file_.string());
    if (d_->txnDepth > 0) {
        ++d_->txnDepth;
        return;
    }
    refresh();
    {
        SqlStatement::Use u(d_->begin);
        u.run();
    }
    d_->txnDepth = 1;
    // Another process may have committed between the look above and the lock.
    if (d_->watch.changed())
        d_->clearCache();
    d_->clearTxn();
    d_->txnTime = nowFileTime();
}

void Store::finish(bool commit) {
    if (!commit)
        d_->txnFailed = true;
    if (--d_->txnDepth > 0) {
        if (commit && d_->txnFailed)
            throw StoreError(sj("レジストリの変更を取り消しました"), "an inner step failed");
        return;
    }
    if (commit && !d_->txnFailed) {
        try {
            d_->flushDirty();
            SqlStatement::Use u(d_->commit);
            u.run();
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            d_->clearTxn();
            d_->clearCache();
            throw;
        }
        d_->clearTxn();
        // The next look at the change watch sees this commit; drop the cache now as well, for
        // the case that the watch can only see other connections' commits.
        d_->clearCache();
        return;
    }
    const bool failedInner = commit; // commit() of an outer transaction after an inner failure
    {
        SqlStatement::Use u(d_->rollback);
        try {
            u.run();
        } catch (...) {
        }
    }
    d_->clearTxn();
    d_->clearCache();
    if (failedInner)
        throw StoreError(sj("レジストリの変更を取り消しました"), "an inner step failed");
}

// ---------------------------------------------------------------------------------------------
// Writes

void Store::requireWritable(const KeyRecord& k, std::string_view what) {
    if (readOnly_)
        throw StoreError(sj("レジストリファイルは読み取り専用です"), std::string(what));
    if (k.access != KeyAccess::Full)
        throw StoreError(sj("このキーへの書き込みは許可されていません"), listedName(k.name));
}

KeyId Store::createChild(KeyId parent, const StoredName& name, bool* created) {
    if (created)
        *created = false;
    Transaction t(*this);
    ++d_->generation;
    Node* p = d_->node(parent);
    if (!p)
        throw StoreError(sj("親のキーが見つかりません"));
    const std::string fold = foldName(name);
    if (auto existing = d_->child(*p, fold)) {
        t.commit();
        return *existing;
    }
    p = d_->node(parent);
    requireWritable(p->rec, listedName(name));
    if (name.bytes.empty())
        throw StoreError(sj("キーの名前が空です"));
    if (nameLength(name) > kMaxKeyNameBytes)
        throw StoreError(sj("キーの名前が長すぎます（255 バイトまで）"), listedName(name));
    if (hasBackslash(name))
        throw StoreError(sj("キーの名前に \\ は使えません"), listedName(name));
    if (hasNul(name))
        throw StoreError(sj("キーの名前に NUL 文字は使えません"), listedName(name));
    if (p->rec.depth + 1 > kMaxKeyDepth)
        throw StoreError(sj("キーの階層が深すぎます（512 階層まで）"), listedName(name));
    if (d_->nextId == 0) {
        // Ids are never given twice: an access object that still holds a deleted key's id
        // must not reach a new key.
        SqlStatement::Use u(d_->selNextId);
        u.step();
        d_->nextId = u.i64(0);
    }
    KeyRecord r;
    r.id = d_->nextId++;
    r.parent = parent;
    r.name = name;
    r.depth = p->rec.depth + 1;
    r.lastWrite = d_->txnTime;
    {
        SqlStatement::Use u(d_->insKey);
        u.bind(1, parent)
            .bindBlob(2, fold)
            .bind(3, r.id)
            .bindBlob(4, name.bytes)
            .bind(5, name.wide ? 1 : 0)
            .bind(6, r.depth)
            .bind(7, static_cast<std::int64_t>(r.lastWrite));
        u.run();
    }
    // The parent's ordered list is reloaded when next asked for: inserting into a long sorted
    // list would make a bulk load quadratic. Its map stays complete if it was.
    d_->completeChildMap(*p);
    p->childrenLoaded = false;
    p->children.clear();
    p->rec.subKeys += 1;
    p->rec.maxSubKeyLen =
        std::max<std::uint32_t>(p->rec.maxSubKeyLen, static_cast<std::uint32_t>(nameLength(name)));
    d_->touch(*p, d_->txnTime);
    const KeyId id = r.id;
    Node& n = d_->remember(std::move(r), fold);
    n.childrenLoaded = true;
    n.childMapComplete = true;
    d_->nextSeq[id] = 1;
    t.commit();
    if (created)
        *created = true;
    return id;
}

void Store::deleteKey(KeyId id) {
    Transaction t(*this);
    ++d_->generation;
    Node* n = d_->node(id);
    if (!n)
        throw StoreError(sj("キーが見つかりません"));
    if (n->rec.depth == 0)
        throw StoreError(sj("ルートキーは削除できません"), listedName(n->rec.name));
    requireWritable(n->rec, listedName(n->rec.name));
    if (n->rec.subKeys > 0)
        throw StoreError(sj("サブキーのあるキーは削除できません"), listedName(n->rec.name));
    const KeyId parent = n->rec.parent;
    const std::string fold = n->fold;
    const std::size_t len = nameLength(n->rec.name);
    {
        SqlStatement::Use u(d_->delKeyValues);
        u.bind(1, id);
        u.run();
    }
    {
        SqlStatement::Use u(d_->delKey);
        u.bind(1, id);
        u.run();
    }
    d_->cachedItems -= std::min(d_->cachedItems, 1 + n->values.size());
    d_->nodes.erase(id);
    d_->dirty.erase(id);
    d_->nextSeq.erase(id);
    if (Node* p = d_->node(parent)) {
        d_->completeChildMap(*p);
        p->childByFold.erase(fold);
        p->childrenLoaded = false;
        p->children.clear();
        if (p->rec.subKeys > 0)
            p->rec.subKeys -= 1;
        Impl::Dirty& dd = d_->touch(*p, d_->txnTime);
        if (len >= p->rec.maxSubKeyLen)
            dd.recomputeMaxSub = true;
    }
    t.commit();
}

void Store::setValue(KeyId id, const RawValue& v) {
    Transaction t(*this);
    ++d_->generation;
    Node* n = d_->node(id);
    if (!n)
        throw StoreError(sj("キーが見つかりません"));
    requireWritable(n->rec, listedName(v.name));
    if (nameLength(v.name) > kMaxValueNameBytes)
        throw StoreError(sj("値の名前が長すぎます（16383 バイトまで）"), listedName(v.name));
    if (hasNul(v.name))
        throw StoreError(sj("値の名前に NUL 文字は使えません"), listedName(v.name));
    const std::string fold = foldName(v.name);
    std::int64_t seq;
    if (auto s = d_->nextSeq.find(id); s != d_->nextSeq.end()) {
        seq = s->second++;
    } else {
        SqlStatement::Use u(d_->selMaxSeq);
        u.bind(1, id);
        u.step();
        seq = u.i64(0) + 1;
        d_->nextSeq[id] = seq + 1;
    }
    const bool dataWide = v.dataWide && isTextType(v.type);
    {
        SqlStatement::Use u(d_->upsertValue);
        u.bind(1, id)
            .bind(2, seq)
            .bindBlob(3, fold)
            .bindBlob(4, v.name.bytes)
            .bind(5, (v.name.wide ? 1 : 0) | (dataWide ? 2 : 0))
            .bind(6, v.type)
            .bindBlob(7, v.data);
        u.run();
    }
    n = d_->node(id);
    if (n->valuesLoaded) {
        if (auto i = Impl::findValue(*n, fold)) {
            RawValue& old = n->values[*i];
            old.type = v.type;
            old.data = v.data;
            old.dataWide = dataWide;
        } else {
            RawValue nv = v;
            nv.dataWide = dataWide;
            d_->addValue(*n, std::move(nv), fold);
        }
    }
    if (n->rec.lastWrite != d_->txnTime)
        d_->touch(*n, d_->txnTime);
    t.commit();
}

bool Store::deleteValue(KeyId id, std::string_view cp932Name) {
    return deleteValue(id, StoredName{std::string(cp932Name), false});
}

bool Store::deleteValue(KeyId id, const StoredName& name) {
    Transaction t(*this);
    ++d_->generation;
    Node* n = d_->node(id);
    if (!n)
        throw StoreError(sj("キーが見つかりません"));
    requireWritable(n->rec, listedName(name));
    const std::string fold = foldName(name);
    {
        SqlStatement::Use u(d_->delValue);
        u.bind(1, id).bindBlob(2, fold);
        u.run();
    }
    const bool deleted = sqlite3_changes(db_) > 0;
    if (deleted) {
        n->valuesLoaded = false; // reloaded on demand, in order
        d_->cachedItems -= std::min(d_->cachedItems, n->values.size());
        n->values.clear();
        n->valueFolds.clear();
        n->valueIndex.clear();
        d_->touch(*n, d_->txnTime);
    }
    t.commit();
    return deleted;
}

void Store::setAccess(KeyId id, KeyAccess access) {
    Transaction t(*this);
    ++d_->generation;
    Node* n = d_->node(id);
    if (!n)
        throw StoreError(sj("キーが見つかりません"));
    {
        SqlStatement::Use u(d_->updAccess);
        u.bind(1, id).bind(2, static_cast<int>(access));
        u.run();
    }
    n->rec.access = access;
    if (auto dd = d_->dirty.find(id); dd != d_->dirty.end())
        dd->second.rec.access = access;
    t.commit();
}

} // namespace klv
