#include "core/wine/WineTree.h"

#include "core/platform/Cp932Table.h"
#include "core/platform/Encoding.h"
#include "core/registry/RegistryError.h"
#include "core/registry/SqlStatement.h"

#include <sqlite3.h>
#include <vector>

namespace klv::wine {
namespace {

const char* const kKeysTable = R"sql(
CREATE TABLE IF NOT EXISTS wine_keys(
    id    INTEGER PRIMARY KEY,
    class BLOB,
    link  INTEGER NOT NULL DEFAULT 0);
)sql";

bool isWineString(std::string_view data) {
    const std::size_t len = data.size();
    return len >= 2 && len % 2 == 0 && data[len - 1] == '\0' && data[len - 2] == '\0';
}

RawValue rawOf(const WineValue& v) {
    RawValue r;
    r.name = wineStoredName(v.name, kMaxValueNameBytes);
    r.type = v.type;
    if (isTextType(v.type)) {
        if (isWineString(v.data) && Cp932Table::instance().toCp932(utf16leUnits(v.data), r.data))
            return r;
        r.data = v.data; // UTF-16 text CP932 cannot hold, or bytes that are no string
        r.dataWide = true;
        return r;
    }
    r.data = v.data;
    return r;
}

WineValue wineOf(const RawValue& r) {
    WineValue w;
    w.name = wineNameUnits(r.name);
    w.type = r.type;
    if (isTextType(r.type) && !r.dataWide) {
        std::u16string u;
        Cp932Table::instance().toUtf16(r.data, u);
        w.data = utf16leBytes(u);
    } else {
        w.data = r.data;
    }
    return w;
}

void dumpKey(Store& store, KeyId id, WineKey& w, WineRegFile& f,
             const std::map<KeyId, WineKeyExtras>& extras) {
    if (!store.key(id))
        return;
    {
        WineKey own = wineKeyOf(store, id, extras);
        w.modified = own.modified;
        w.keyClass = std::move(own.keyClass);
        w.link = own.link;
        w.values = std::move(own.values);
    }
    const std::vector<KeyId> kids = store.children(id);
    for (const KeyId kid : kids) {
        const KeyRecord* k = store.key(kid);
        if (!k)
            continue;
        WineKey& c = f.newKey(wineNameUnits(k->name));
        w.subkeys.push_back(&c);
        dumpKey(store, kid, c, f, extras);
        store.forget(kid); // the cache holds what is still to be read, not the whole registry
    }
}

void loadKey(Store& store, KeyId id, const WineKey& k, SqlStatement& insExtra) {
    for (const WineValue& v : k.values)
        store.setValue(id, rawOf(v));
    for (const WineKey* sub : k.subkeys)
        loadKey(store, store.createChild(id, wineStoredName(sub->name, kMaxKeyNameBytes)), *sub,
                insExtra);
    if (k.keyClass || k.link) {
        const std::string cls = k.keyClass ? utf16leBytes(*k.keyClass) : std::string();
        SqlStatement::Use u(insExtra);
        u.bind(1, id);
        if (k.keyClass)
            u.bindBlob(2, cls);
        u.bind(3, k.link ? 1 : 0);
        u.run();
    }
    // Last: writing the subkeys and values above moved the time.
    if (k.modified != 0)
        store.setLastWrite(id, k.modified);
}

} // namespace

// CP932 when the name converts there and back unchanged and fits the limit in that form;
// else kept as UTF-16.
StoredName wineStoredName(std::u16string_view u, std::size_t limit) {
    StoredName n;
    if (Cp932Table::instance().toCp932(u, n.bytes) && n.bytes.size() <= limit)
        return n;
    n.bytes = utf16leBytes(u);
    n.wide = true;
    return n;
}

std::u16string wineNameUnits(const StoredName& n) {
    if (n.wide)
        return utf16leUnits(n.bytes);
    std::u16string u;
    Cp932Table::instance().toUtf16(n.bytes, u);
    return u;
}

void execStoreSql(sqlite3* db, const char* sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK)
        throwSqlError(db, rc);
}

bool storeHasTable(sqlite3* db, const char* name) {
    SqlStatement st(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                        "name = CAST(?1 AS TEXT)");
    SqlStatement::Use u(st);
    u.bindBlob(1, name);
    return u.step();
}

std::map<KeyId, WineKeyExtras> readWineKeyExtras(Store& store) {
    std::map<KeyId, WineKeyExtras> m;
    if (!storeHasTable(store.db(), "wine_keys"))
        return m;
    SqlStatement st(store.db(), "SELECT id, class, link, class IS NULL FROM wine_keys");
    SqlStatement::Use u(st);
    while (u.step()) {
        WineKeyExtras& e = m[u.i64(0)];
        if (u.i64(3) == 0)
            e.keyClass = utf16leUnits(u.blob(1));
        e.link = u.i64(2) != 0;
    }
    return m;
}

bool isWineLinkKey(Store& store, KeyId id) {
    if (!storeHasTable(store.db(), "wine_keys"))
        return false;
    SqlStatement st(store.db(), "SELECT link FROM wine_keys WHERE id = ?1");
    SqlStatement::Use u(st);
    u.bind(1, id);
    return u.step() && u.i64(0) != 0;
}

WineKey wineKeyOf(Store& store, KeyId id, const std::map<KeyId, WineKeyExtras>& extras) {
    WineKey k;
    const KeyRecord* r = store.key(id);
    if (!r)
        return k;
    k.modified = r->lastWrite;
    if (auto e = extras.find(id); e != extras.end()) {
        k.keyClass = e->second.keyClass;
        k.link = e->second.link;
    }
    for (const RawValue& v : store.values(id))
        k.values.push_back(wineOf(v));
    return k;
}

WineRegFile dumpWineTree(Store& store, KeyId key, std::u16string relativeTo, std::string arch) {
    WineRegFile f;
    f.relativeTo = std::move(relativeTo);
    f.arch = std::move(arch);
    Store::ReadSnapshot snapshot(store);
    store.refresh();
    dumpKey(store, key, f.root(), f, readWineKeyExtras(store));
    return f;
}

void loadWineTree(Store& store, KeyId key, const WineRegFile& file) {
    Store::Transaction t(store);
    execStoreSql(store.db(), kKeysTable);
    SqlStatement ins(store.db(), "INSERT OR REPLACE INTO wine_keys(id, class, link) "
                                 "VALUES(?1, ?2, ?3)");
    loadKey(store, key, file.root(), ins);
    t.commit();
}

} // namespace klv::wine
