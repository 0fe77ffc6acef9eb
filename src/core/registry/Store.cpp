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
    case SQLITE_TOOBIG: // past the most one field of the file holds (about 1 GB)
        throw StoreError(sj("値のデータが大きすぎます"), detail);
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

// A cached key. Walks bring keys in by the million and look none up by name, so the maps used
// for look-ups are made only when first needed.
struct Node {
    KeyRecord rec;
    // Children by fold: a positive cache, complete while childMapComplete. A listing fills it
    // only when a name is first looked up (mapFromList).
    std::unique_ptr<FoldMap<KeyId>> childByFold;
    bool childMapComplete = false;
    bool mapFromList = false;
    // The children in enumeration order, while childrenLoaded.
    bool childrenLoaded = false;
    std::vector<KeyId> children;
    bool valuesLoaded = false;
    std::vector<RawValue> values;
    // Values by fold, built at the first look-up by name in a key with many values.
    std::unique_ptr<FoldMap<std::size_t>> valueIndex;

    FoldMap<KeyId>& childMap() {
        if (!childByFold)
            childByFold = std::make_unique<FoldMap<KeyId>>();
        return *childByFold;
    }
};

constexpr std::size_t kValueIndexFrom = 16;
constexpr std::size_t kSpareLimit = 4096;   // recycled nodes and values kept
constexpr std::size_t kBatchLimit = 1024;   // keys whose lists or values one query loads
constexpr std::size_t kCacheLimit = 400000; // keys + values held before the cache is dropped

// Only the columns a read uses: walks read rows by the million.
// A list read leaves out the depth, which its parent's gives.
const char* const kListedKeyColumns = "parent, id, name, mtime, wide, access, nsub, maxsub";

std::string keySelect(const char* where) {
    return std::string("SELECT ") + kListedKeyColumns + ", depth FROM keys " + where;
}

std::string listedKeySelect(const char* where) {
    return std::string("SELECT ") + kListedKeyColumns + " FROM keys " + where;
}

} // namespace

struct Store::Impl {
    Impl(sqlite3* db, const std::filesystem::path& file, bool immutable)
        : watch(db, file, immutable), selKeyById(db, keySelect("WHERE id = ?1").c_str()),
          selChild(db, keySelect("WHERE parent = ?1 AND fold = ?2").c_str()),
          selChildren(db, listedKeySelect("WHERE parent = ?1 ORDER BY fold").c_str()),
          selValues(db, "SELECT key, name, flags, type, data FROM vals "
                        "WHERE key = ?1 ORDER BY seq"),
          selValuesRange(db, "SELECT key, name, flags, type, data FROM vals "
                             "WHERE key >= ?1 ORDER BY key, seq"),
          selChildrenRange(db, listedKeySelect("WHERE parent >= ?1 ORDER BY parent, fold").c_str()),
          selGrandchildren(
              db, listedKeySelect("WHERE parent IN (SELECT id FROM keys WHERE parent = ?1) "
                                  "ORDER BY parent, fold")
                      .c_str()),
          selSiblingValues(db, "SELECT k.id, v.name, v.flags, v.type, v.data "
                               "FROM keys k JOIN vals v ON v.key = k.id WHERE k.parent = ?1 "
                               "ORDER BY k.fold, v.seq"),
          selGrandchildValues(db, "SELECT k.id, v.name, v.flags, v.type, v.data "
                                  "FROM keys k JOIN vals v ON v.key = k.id WHERE k.parent IN "
                                  "(SELECT id FROM keys WHERE parent = ?1) "
                                  "ORDER BY k.parent, k.fold, v.seq"),
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
          updAccess(db, "UPDATE keys SET access = ?2 WHERE id = ?1"),
          selViews(db, "SELECT CAST(substr(name, 11) AS INTEGER), value FROM meta "
                       "WHERE name LIKE 'root\\_view\\_%' ESCAPE '\\'"),
          setView(db, "INSERT INTO meta(name, value) VALUES('root_view_' || ?1, ?2) "
                      "ON CONFLICT(name) DO UPDATE SET value = excluded.value"),
          delView(db, "DELETE FROM meta WHERE name = 'root_view_' || ?1"),
          delTreeValues(db, "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k "
                            "JOIN t ON k.parent = t.id) DELETE FROM vals WHERE key IN t"),
          delTreeKeys(db, "WITH RECURSIVE t(id) AS (SELECT id FROM keys WHERE parent = ?1 "
                          "UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent = t.id) "
                          "DELETE FROM keys WHERE id IN t"),
          begin(db, "BEGIN IMMEDIATE"), beginRead(db, "BEGIN DEFERRED"), commit(db, "COMMIT"),
          rollback(db, "ROLLBACK") {}

    ChangeWatch watch;
    SqlStatement selKeyById, selChild, selChildren, selValues, selValuesRange, selChildrenRange,
        selGrandchildren, selSiblingValues, selGrandchildValues, selMaxSeq, selNextId, updNextId;
    SqlStatement insKey, delKey, delKeyValues, upsertValue, delValue, updAggregates, updMaxSub,
        updAccess, selViews, setView, delView, delTreeValues, delTreeKeys;
    SqlStatement begin, beginRead, commit, rollback;

    std::unordered_map<KeyId, Node> nodes;
    std::vector<std::unordered_map<KeyId, Node>::node_type> spareNodes; // see recycle()
    std::vector<RawValue> spareValues;
    std::array<std::pair<KeyId, Node*>, 2> recent{}; // the last two keys found by node()
    std::size_t cachedItems = 0;
    std::uint64_t generation = 1;
    std::string scratch;      // fold buffer of the lookups
    std::string valueScratch; // fold buffer of the value names compared with them

    // Root views, read from the file again after every change seen (index: root id).
    bool viewsLoaded = false;
    bool anyView = false;
    std::array<KeyId, 8> views{};
    std::array<KeyRecord, 8> viewRecords; // what key() hands out for a viewed root

    void loadViews() {
        viewsLoaded = true;
        views = {};
        anyView = false;
        beforeRead();
        SqlStatement::Use u(selViews);
        while (u.step()) {
            const std::int64_t root = u.i64(0);
            if (root >= 1 && root < static_cast<std::int64_t>(views.size())) {
                views[static_cast<std::size_t>(root)] = u.i64(1);
                anyView = true;
            }
        }
    }

    // Read snapshot state: the transaction opens at the first read inside a snapshot.
    int snapshotDepth = 0;
    bool snapshotOpen = false;

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

    // Called before every query of a read.
    void beforeRead() {
        if (snapshotDepth > 0 && !snapshotOpen && txnDepth == 0) {
            SqlStatement::Use u(beginRead);
            u.run();
            snapshotOpen = true;
        }
    }

    void endSnapshot() {
        if (!snapshotOpen)
            return;
        snapshotOpen = false;
        try {
            SqlStatement::Use u(commit);
            u.run();
        } catch (const StoreError&) {
            SqlStatement::Use u(rollback);
            try {
                u.run();
            } catch (const StoreError&) {
            }
        }
    }

    void clearCache() {
        viewsLoaded = false;
        nodes.clear();
        recent = {};
        cachedItems = 0;
        ++generation;
    }

    void erase(KeyId id) {
        recent = {};
        nodes.erase(id);
    }

    // Takes a key out of the cache, keeping its node and its values' buffers for the next
    // keys read: a walk then reads keys and values without allocating.
    void recycle(std::unordered_map<KeyId, Node>::iterator it) {
        recent = {};
        auto handle = nodes.extract(it);
        Node& n = handle.mapped();
        for (RawValue& v : n.values)
            if (spareValues.size() < kSpareLimit)
                spareValues.push_back(std::move(v));
        n.values.clear();
        n.valuesLoaded = false;
        n.valueIndex.reset();
        n.children.clear();
        n.childrenLoaded = false;
        n.childMapComplete = false;
        n.mapFromList = false;
        n.childByFold.reset();
        if (spareNodes.size() < kSpareLimit)
            spareNodes.push_back(std::move(handle));
    }

    void clearTxn() {
        dirty.clear();
        nextSeq.clear();
        nextId = 0;
        txnFailed = false;
    }

    // Puts the key of a row (columns: kListedKeyColumns, then the depth unless `depth` gives
    // it) into the cache, built in place; a record changed in the running transaction wins over
    // the file's copy, which is only written at commit.
    Node& remember(const SqlStatement::Use& u, int depth = -1) {
        const KeyId id = u.i64(1);
        auto it = nodes.find(id);
        if (it == nodes.end()) {
            ++cachedItems;
            if (!spareNodes.empty()) {
                auto handle = std::move(spareNodes.back());
                spareNodes.pop_back();
                handle.key() = id;
                it = nodes.insert(std::move(handle)).position;
            } else {
                it = nodes.try_emplace(id).first;
            }
        }
        Node& n = it->second;
        if (auto d = dirty.find(id); d != dirty.end()) {
            n.rec = d->second.rec;
            return n;
        }
        KeyRecord& r = n.rec;
        r.parent = u.i64(0);
        r.id = id;
        r.name.bytes.assign(u.blob(2));
        r.lastWrite = static_cast<FileTime>(u.i64(3));
        r.name.wide = u.i64(4) != 0;
        r.access = static_cast<KeyAccess>(u.i64(5));
        r.subKeys = static_cast<std::uint32_t>(u.i64(6));
        r.maxSubKeyLen = static_cast<std::uint32_t>(u.i64(7));
        r.depth = depth >= 0 ? depth : static_cast<int>(u.i64(8));
        return n;
    }

    // A key this connection has just made.
    Node& remember(KeyRecord r) {
        auto [it, inserted] = nodes.try_emplace(r.id);
        if (inserted)
            ++cachedItems;
        it->second.rec = std::move(r);
        return it->second;
    }

    // Enters a key read on its own in its parent's name map, when the parent is cached.
    void indexInParent(const Node& n, std::string fold) {
        if (auto p = nodes.find(n.rec.parent); p != nodes.end())
            p->second.childMap().try_emplace(std::move(fold), n.rec.id);
    }

    // Completes the name map of a parent from its loaded list, before the first look-up by
    // name or a change that drops the list.
    void completeChildMap(Node& parent) {
        if (!parent.mapFromList)
            return;
        parent.mapFromList = false;
        FoldMap<KeyId>& map = parent.childMap();
        map.reserve(parent.children.size());
        for (KeyId c : parent.children)
            if (auto it = nodes.find(c); it != nodes.end())
                map.try_emplace(foldName(it->second.rec.name), c);
    }

    Node* node(KeyId id) {
        // A walk asks for the key it stands on and its parent over and over.
        for (const auto& [k, n] : recent)
            if (k == id && n)
                return n;
        if (auto it = nodes.find(id); it != nodes.end()) {
            recent[1] = recent[0];
            recent[0] = {id, &it->second};
            return &it->second;
        }
        beforeRead();
        SqlStatement::Use u(selKeyById);
        u.bind(1, id);
        if (!u.step())
            return nullptr;
        Node& n = remember(u);
        indexInParent(n, foldName(n.rec.name));
        return &n;
    }

    std::optional<KeyId> child(Node& parent, std::string_view fold) {
        completeChildMap(parent);
        if (parent.childByFold)
            if (auto it = parent.childByFold->find(fold); it != parent.childByFold->end())
                return it->second;
        if (parent.childMapComplete || parent.rec.subKeys == 0)
            return std::nullopt;
        const KeyId pid = parent.rec.id;
        beforeRead();
        SqlStatement::Use u(selChild);
        u.bind(1, pid).bindBlob(2, fold);
        if (!u.step())
            return std::nullopt;
        Node& n = remember(u); // `parent` may have moved: not used from here
        indexInParent(n, std::string(fold));
        return n.rec.id;
    }

    // The keys a walk reads next, when the lists that name them are at hand: the children of
    // every key in `parents` for which `wanted` holds, at most kBatchLimit of them. Sorted by
    // id, for the pairing of rows with keys below.
    template <class Wanted>
    std::vector<std::pair<KeyId, Node*>> batch(const Node& parents, Wanted wanted) {
        std::vector<std::pair<KeyId, Node*>> out;
        if (!parents.childrenLoaded || parents.children.size() > kBatchLimit)
            return out;
        for (KeyId k : parents.children) {
            auto c = nodes.find(k);
            if (c == nodes.end() || !wanted(c->second))
                continue;
            if (out.size() == kBatchLimit)
                return {};
            out.emplace_back(k, &c->second);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    // The key of a row in `group`. Rows of one key come together, so the last match is tried
    // first.
    struct Pairing {
        std::vector<std::pair<KeyId, Node*>>& group;
        std::size_t last = 0;
        Node* operator()(KeyId id) {
            if (last < group.size() && group[last].first == id)
                return group[last].second;
            auto it = std::lower_bound(group.begin(), group.end(), id,
                                       [](const auto& e, KeyId k) { return e.first < k; });
            if (it == group.end() || it->first != id)
                return nullptr;
            last = static_cast<std::size_t>(it - group.begin());
            return it->second;
        }
    };

    void startChildren(Node& p) {
        p.children.clear();
        p.childrenLoaded = true;
        p.childMapComplete = true;
        p.mapFromList = true;
    }

    const std::vector<KeyId>& children(KeyId pid) {
        Node& p = *node(pid);
        if (p.childrenLoaded)
            return p.children;
        beforeRead();
        // The lists of the key's siblings come with its own, in one query: a walk lists them
        // next. Node references stay valid while the map grows; only iterators do not.
        std::vector<std::pair<KeyId, Node*>> group;
        if (auto g = nodes.find(p.rec.parent); g != nodes.end() && p.rec.subKeys > 0)
            group = batch(g->second,
                          [](const Node& s) { return !s.childrenLoaded && s.rec.subKeys > 0; });
        if (group.size() > 1 && Pairing{group}(pid)) {
            for (auto& [id, s] : group)
                startChildren(*s);
            // When the ids from the first to the last of them are about as many as they and
            // their children (keys made one after another, their children leaves), their lists
            // lie together in the file: one range read instead of a search per key.
            std::size_t wanted = group.size();
            for (const auto& [id, s] : group)
                wanted += s->rec.subKeys;
            const KeyId lo = group.front().first;
            const KeyId hi = group.back().first;
            const bool dense = static_cast<std::size_t>(hi - lo) < wanted + 8;
            SqlStatement::Use u(dense ? selChildrenRange : selGrandchildren);
            u.bind(1, dense ? lo : p.rec.parent);
            Pairing pair{group};
            // A range read has no upper bound in SQL: the rows come in parent order, and this
            // loop's own test ends it without a comparison of every row inside SQLite.
            while (u.step()) {
                const KeyId parent = u.i64(0);
                if (dense && parent > hi)
                    break;
                if (Node* s = pair(parent))
                    s->children.push_back(remember(u, s->rec.depth + 1).rec.id);
            }
            return p.children;
        }
        startChildren(p);
        if (p.rec.subKeys > 0) {
            p.children.reserve(p.rec.subKeys);
            SqlStatement::Use u(selChildren);
            u.bind(1, pid);
            while (u.step())
                p.children.push_back(remember(u, p.rec.depth + 1).rec.id);
        }
        return p.children;
    }

    void addValue(Node& n, RawValue v) {
        if (n.valueIndex)
            n.valueIndex->emplace(foldName(v.name), n.values.size());
        n.values.push_back(std::move(v));
        ++cachedItems;
    }

    // Appends the value of a row (columns: key, name, flags, type, data), built in place.
    void addRow(Node& n, const SqlStatement::Use& u) {
        if (!spareValues.empty()) {
            n.values.push_back(std::move(spareValues.back()));
            spareValues.pop_back();
        } else {
            n.values.emplace_back();
        }
        RawValue& v = n.values.back();
        const auto flags = u.i64(2);
        v.name.bytes.assign(u.blob(1));
        v.name.wide = (flags & 1) != 0;
        v.dataWide = (flags & 2) != 0;
        v.type = static_cast<std::uint32_t>(u.i64(3));
        v.data.assign(u.blob(4));
        ++cachedItems;
    }

    // Loads the values of a key, and with them those of the keys a walk visits next: its
    // cousins (the children of its parent's siblings) when their lists are at hand, else its
    // siblings. One query for many keys costs little more than one for one.
    void loadValues(Node& n) {
        beforeRead();
        const KeyId id = n.rec.id;
        auto wanted = [](const Node& k) { return !k.valuesLoaded; };
        std::vector<std::pair<KeyId, Node*>> group;
        SqlStatement* structural = nullptr;
        KeyId from = 0;
        if (auto p = nodes.find(n.rec.parent); p != nodes.end()) {
            if (auto g = nodes.find(p->second.rec.parent); g != nodes.end()) {
                // The cousins, when every sibling's list is loaded.
                const std::vector<KeyId>& uncles = g->second.children;
                bool listed = g->second.childrenLoaded && uncles.size() <= kBatchLimit;
                for (std::size_t i = 0; listed && i < uncles.size(); ++i) {
                    auto s = nodes.find(uncles[i]);
                    listed = s != nodes.end() &&
                             (s->second.childrenLoaded || s->second.rec.subKeys == 0);
                    if (listed)
                        for (KeyId c : s->second.children) {
                            auto cn = nodes.find(c);
                            if (cn != nodes.end() && wanted(cn->second))
                                group.emplace_back(c, &cn->second);
                        }
                    listed = listed && group.size() <= kBatchLimit;
                }
                if (listed && group.size() > 1) {
                    std::sort(group.begin(), group.end());
                    structural = &selGrandchildValues;
                    from = g->first;
                } else {
                    group.clear();
                }
            }
            if (!structural) {
                group = batch(p->second, wanted);
                structural = &selSiblingValues;
                from = p->first;
            }
        }
        // A list read before the key was made may not name it: then it is read alone.
        if (group.size() <= 1 || !Pairing{group}(id)) {
            startValues(n);
            SqlStatement::Use u(selValues);
            u.bind(1, id);
            while (u.step())
                addRow(n, u);
            return;
        }
        for (auto& [k, c] : group)
            startValues(*c);
        // Keys made one after another have neighbouring ids, and their values then lie together
        // in the file: one range read instead of a search per key.
        const KeyId lo = group.front().first;
        const KeyId hi = group.back().first;
        const bool dense = static_cast<std::size_t>(hi - lo) < 2 * group.size() + 8;
        SqlStatement::Use u(dense ? selValuesRange : *structural);
        u.bind(1, dense ? lo : from);
        Pairing pair{group};
        while (u.step()) {
            const KeyId key = u.i64(0);
            if (dense && key > hi)
                break; // the range read's end, as for the lists above
            if (Node* c = pair(key))
                addRow(*c, u);
        }
    }

    void startValues(Node& n) {
        n.values.clear();
        n.values.reserve(4);
        n.valueIndex.reset();
        n.valuesLoaded = true;
    }

    // The key, if cached or still there, with its values loaded.
    // The key a write addresses; it must be there.
    Node* existing(KeyId id) {
        Node* n = node(id);
        if (!n)
            throw StoreError(sj("キーが見つかりません"));
        return n;
    }

    Node* withValues(KeyId id) {
        Node* n = node(id);
        if (n && !n->valuesLoaded)
            loadValues(*n); // adds no keys: `n` stays valid
        return n;
    }

    std::optional<std::size_t> findValue(Node& n, std::string_view fold) {
        if (!n.valueIndex && n.values.size() >= kValueIndexFrom) {
            n.valueIndex = std::make_unique<FoldMap<std::size_t>>();
            for (std::size_t i = 0; i < n.values.size(); ++i)
                n.valueIndex->emplace(foldName(n.values[i].name), i);
        }
        if (n.valueIndex) {
            auto it = n.valueIndex->find(fold);
            return it == n.valueIndex->end() ? std::nullopt : std::optional(it->second);
        }
        for (std::size_t i = 0; i < n.values.size(); ++i) {
            const StoredName& name = n.values[i].name;
            if (name.wide) {
                if (foldName(name) == fold)
                    return i;
            } else {
                cp932UpperInto(name.bytes, valueScratch);
                if (valueScratch == fold)
                    return i;
            }
        }
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
        if (v > kStoreSchemaVersion)
            throw StoreError(
                sj("このレジストリファイルは新しい版のプログラムで作られたため開けません"),
                "schema version " + std::to_string(v));
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
    // Nobody else can commit while this connection holds the write lock, and a snapshot does
    // not see what others commit while it is open.
    if ((d_->txnDepth == 0 && !d_->snapshotOpen && d_->watch.changed()) ||
        d_->cachedItems > kCacheLimit)
        d_->clearCache();
}

bool Store::checkpoint() {
    // A connection inside a transaction cannot checkpoint (SQLite answers "locked").
    if (readOnly_ || d_->txnDepth > 0 || d_->snapshotOpen)
        return false;
    int logFrames = 0;
    int copied = 0;
    // Passive: a full checkpoint would wait on the busy timeout for every reader.
    const int rc =
        sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logFrames, &copied);
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
        return false;
    if (rc != SQLITE_OK)
        throwSqlError(db_, rc);
    return copied == logFrames;
}

void Store::dropCache() {
    d_->clearCache();
}

std::uint64_t Store::generation() const {
    return d_->generation;
}

KeyId Store::viewed(KeyId id) {
    if (id >= static_cast<KeyId>(d_->views.size()) || id < 1)
        return id;
    if (!d_->viewsLoaded)
        d_->loadViews();
    if (!d_->anyView)
        return id;
    const KeyId target = d_->views[static_cast<std::size_t>(id)];
    return target != 0 && d_->node(target) ? target : id;
}

const KeyRecord* Store::key(KeyId id) {
    const KeyId target = viewed(id);
    Node* n = d_->node(target);
    if (!n || target == id)
        return n ? &n->rec : nullptr;
    const Node* own = d_->node(id);
    KeyRecord& r = d_->viewRecords[static_cast<std::size_t>(id)];
    r = n->rec;
    r.id = id;
    r.parent = 0;
    r.depth = 0;
    if (own)
        r.name = own->rec.name;
    return &r;
}

std::optional<KeyId> Store::child(KeyId parent, std::string_view cp932Name) {
    Node* p = d_->node(viewed(parent));
    if (!p)
        return std::nullopt;
    cp932UpperInto(cp932Name, d_->scratch);
    return d_->child(*p, d_->scratch);
}

std::optional<KeyId> Store::child(KeyId parent, const StoredName& name) {
    Node* p = d_->node(viewed(parent));
    if (!p)
        return std::nullopt;
    return d_->child(*p, foldName(name));
}

const std::vector<KeyId>& Store::children(KeyId parent) {
    static const std::vector<KeyId> none;
    parent = viewed(parent);
    if (!d_->node(parent))
        return none;
    return d_->children(parent);
}

const std::vector<RawValue>& Store::values(KeyId id) {
    static const std::vector<RawValue> none;
    Node* n = d_->withValues(viewed(id));
    return n ? n->values : none;
}

const RawValue* Store::value(KeyId id, std::string_view cp932Name) {
    Node* found = d_->withValues(viewed(id));
    if (!found)
        return nullptr;
    Node& n = *found;
    cp932UpperInto(cp932Name, d_->scratch);
    auto i = d_->findValue(n, d_->scratch);
    return i ? &n.values[*i] : nullptr;
}

KeyInfo Store::info(KeyId id) {
    KeyInfo k;
    Node* found = d_->withValues(viewed(id));
    if (!found)
        return k;
    const Node& n = *found;
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

const KeyRecord* Store::cachedKey(KeyId id) const {
    if (id >= 1 && id < static_cast<KeyId>(d_->views.size()) && d_->viewsLoaded &&
        d_->views[static_cast<std::size_t>(id)] != 0)
        return nullptr; // a viewed root is read through key()
    auto it = d_->nodes.find(id);
    return it == d_->nodes.end() ? nullptr : &it->second.rec;
}

void Store::forget(KeyId id) {
    if (d_->txnDepth > 0)
        return; // its changes are not written yet
    auto it = d_->nodes.find(id);
    if (it == d_->nodes.end() || it->second.rec.depth == 0)
        return;
    ++d_->generation;
    if (auto p = d_->nodes.find(it->second.rec.parent); p != d_->nodes.end()) {
        // The parent's list and map no longer come whole from the cache.
        Node& parent = p->second;
        parent.children.clear();
        parent.childrenLoaded = false;
        parent.childMapComplete = false;
        parent.mapFromList = false;
        parent.childByFold.reset();
    }
    d_->cachedItems -= std::min(d_->cachedItems, 1 + it->second.values.size());
    d_->recycle(it);
}

// ---------------------------------------------------------------------------------------------
// Transactions

Store::ReadSnapshot::ReadSnapshot(Store& s) : s_(s) {
    ++s_.d_->snapshotDepth;
}

Store::ReadSnapshot::~ReadSnapshot() {
    if (--s_.d_->snapshotDepth == 0)
        s_.d_->endSnapshot();
}

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
    d_->endSnapshot(); // a write starts from the file as it is now
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
    parent = viewed(parent);
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
    Node& n = d_->remember(std::move(r));
    d_->indexInParent(n, fold);
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
    Node* n = d_->existing(id);
    if (n->rec.depth == 0)
        throw StoreError(sj("ルートキーは削除できません"), listedName(n->rec.name));
    requireWritable(n->rec, listedName(n->rec.name));
    if (n->rec.subKeys > 0)
        throw StoreError(sj("サブキーのあるキーは削除できません"), listedName(n->rec.name));
    const KeyId parent = n->rec.parent;
    const std::string fold = foldName(n->rec.name);
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
    d_->erase(id);
    d_->dirty.erase(id);
    d_->nextSeq.erase(id);
    if (Node* p = d_->node(parent)) {
        d_->completeChildMap(*p);
        if (p->childByFold)
            p->childByFold->erase(fold);
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
    id = viewed(id);
    Node* n = d_->existing(id);
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
        if (auto i = d_->findValue(*n, fold)) {
            RawValue& old = n->values[*i];
            old.type = v.type;
            old.data = v.data;
            old.dataWide = dataWide;
        } else {
            RawValue nv = v;
            nv.dataWide = dataWide;
            d_->addValue(*n, std::move(nv));
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
    id = viewed(id);
    Node* n = d_->existing(id);
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
        n->valueIndex.reset();
        d_->touch(*n, d_->txnTime);
    }
    t.commit();
    return deleted;
}

void Store::setAccess(KeyId id, KeyAccess access) {
    Transaction t(*this);
    ++d_->generation;
    id = viewed(id);
    Node* n = d_->existing(id);
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

void Store::setLastWrite(KeyId id, FileTime when) {
    Transaction t(*this);
    ++d_->generation;
    id = viewed(id);
    Node* n = d_->existing(id);
    requireWritable(n->rec, listedName(n->rec.name));
    d_->touch(*n, when);
    t.commit();
}

void Store::clearKey(KeyId id) {
    Transaction t(*this);
    ++d_->generation;
    id = viewed(id);
    Node* n = d_->existing(id);
    requireWritable(n->rec, listedName(n->rec.name));
    // What this transaction changed so far goes to the file first: the records of keys about
    // to go must not be written back at commit.
    d_->flushDirty();
    d_->dirty.clear();
    d_->nextSeq.clear();
    for (SqlStatement* st : {&d_->delTreeValues, &d_->delTreeKeys}) {
        SqlStatement::Use u(*st);
        u.bind(1, id);
        u.run();
    }
    n->rec.subKeys = 0;
    n->rec.maxSubKeyLen = 0;
    d_->touch(*n, d_->txnTime);
    d_->clearCache();
    t.commit();
}

void Store::writePending() {
    if (d_->txnDepth == 0)
        return;
    d_->flushDirty();
    d_->dirty.clear();
}

void Store::setRootView(int rootIndex, std::optional<KeyId> target) {
    Transaction t(*this);
    const KeyId root = rootId(rootIndex);
    if (target) {
        SqlStatement::Use u(d_->setView);
        u.bind(1, root).bind(2, *target);
        u.run();
    } else {
        SqlStatement::Use u(d_->delView);
        u.bind(1, root);
        u.run();
    }
    d_->clearCache();
    t.commit();
}

std::optional<KeyId> Store::rootView(int rootIndex) {
    const KeyId root = rootId(rootIndex);
    const KeyId target = viewed(root);
    return target == root ? std::nullopt : std::optional<KeyId>(target);
}

} // namespace klv
