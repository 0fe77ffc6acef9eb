#include "core/registry/StoreSchema.h"

#include "core/platform/Encoding.h"
#include "core/platform/TimeText.h"
#include "core/registry/RegistryError.h"
#include "core/registry/RootKeys.h"

#include <string>

namespace klv {
namespace {

// Keys are clustered by (parent, fold) and values by (key, seq), so listing the subkeys or the
// values of a key reads neighbouring rows.
const char* const kSchemaV1 = R"sql(
CREATE TABLE keys(
    parent INTEGER NOT NULL,
    fold   BLOB    NOT NULL,
    id     INTEGER NOT NULL,
    name   BLOB    NOT NULL,
    wide   INTEGER NOT NULL DEFAULT 0,
    depth  INTEGER NOT NULL,
    mtime  INTEGER NOT NULL,
    access INTEGER NOT NULL DEFAULT 0,
    nsub   INTEGER NOT NULL DEFAULT 0,
    maxsub INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY(parent, fold)) WITHOUT ROWID;
CREATE UNIQUE INDEX keys_id ON keys(id);
CREATE TABLE vals(
    key   INTEGER NOT NULL,
    seq   INTEGER NOT NULL,
    fold  BLOB    NOT NULL,
    name  BLOB    NOT NULL,
    flags INTEGER NOT NULL DEFAULT 0,
    type  INTEGER NOT NULL,
    data  BLOB    NOT NULL,
    PRIMARY KEY(key, seq)) WITHOUT ROWID;
CREATE UNIQUE INDEX vals_fold ON vals(key, fold);
)sql";

// Key ids are never given twice, so the next one is kept rather than taken from max(id).
const char* const kSchemaV2 = R"sql(
CREATE TABLE meta(
    name  TEXT    PRIMARY KEY,
    value INTEGER NOT NULL) WITHOUT ROWID;
INSERT INTO meta SELECT 'next_key_id', ifnull(max(id), 0) + 1 FROM keys;
)sql";

void exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string m = err ? err : "?";
        sqlite3_free(err);
        throw StoreError(sj("レジストリファイルを初期化できません"), m);
    }
}

int userVersion(sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    int v = -1;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        v = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    return v;
}

void createRoots(sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO keys(parent, fold, id, name, depth, mtime) "
                       "VALUES(0, ?1, ?2, ?1, 0, ?3)",
                       -1, &st, nullptr);
    const auto now = static_cast<sqlite3_int64>(nowFileTime());
    for (int i = 0; i < kRootKeyCount; ++i) {
        sqlite3_bind_blob(st, 1, kRootKeys[i].name.data(),
                          static_cast<int>(kRootKeys[i].name.size()), SQLITE_STATIC);
        sqlite3_bind_int64(st, 2, i + 1);
        sqlite3_bind_int64(st, 3, now);
        int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_DONE) {
            sqlite3_finalize(st);
            throw StoreError(sj("レジストリファイルを初期化できません"), sqlite3_errmsg(db));
        }
    }
    sqlite3_finalize(st);
}

// Each step takes the schema from version i to i + 1.
void migrateStep(sqlite3* db, int from) {
    switch (from) {
    case 0:
        exec(db, kSchemaV1);
        createRoots(db);
        break;
    case 1:
        exec(db, kSchemaV2);
        break;
    default:
        throw StoreError(sj("レジストリファイルを初期化できません"), "unknown schema step");
    }
}

} // namespace

void migrateStore(sqlite3* db) {
    int v = userVersion(db);
    if (v == kStoreSchemaVersion)
        return;
    if (v < 0 || v > kStoreSchemaVersion)
        throw StoreError(sj("このレジストリファイルは新しい版のプログラムで作られたため開けません"),
                         "schema version " + std::to_string(v));
    exec(db, "BEGIN IMMEDIATE");
    try {
        // Another process may have migrated while this one waited for the lock.
        v = userVersion(db);
        for (; v < kStoreSchemaVersion; ++v)
            migrateStep(db, v);
        exec(db, ("PRAGMA user_version = " + std::to_string(kStoreSchemaVersion)).c_str());
        exec(db, "COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace klv
