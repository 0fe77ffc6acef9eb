#pragma once
#include <sqlite3.h>

namespace klv {

inline constexpr int kStoreSchemaVersion = 2;

// Brings the schema of an open database up to kStoreSchemaVersion in one transaction (a new
// file gets the whole schema and its six roots). Throws StoreError on failure, leaving the file
// as it was, and for a file written by a newer program.
void migrateStore(sqlite3* db);

} // namespace klv
