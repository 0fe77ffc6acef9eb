#pragma once
// A Wine registry file's tree in the store: names and texts in the store's forms (CP932 where
// they come back unchanged, else UTF-16), and the key classes and link marks Wine keeps, which
// the store has no place for, in a table of their own beside the registry.
#include "core/registry/Store.h"
#include "core/wine/WineRegFile.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;

namespace klv::wine {

// A name as the store keeps it: CP932 when it converts there and back unchanged and fits
// `limit` bytes in that form, else UTF-16.
StoredName wineStoredName(std::u16string_view name, std::size_t limit);
// The UTF-16 form of a stored name.
std::u16string wineNameUnits(const StoredName& name);

// What Wine keeps of a key beyond the store's own record.
struct WineKeyExtras {
    std::optional<std::u16string> keyClass;
    bool link = false;
};
std::map<KeyId, WineKeyExtras> readWineKeyExtras(Store& store);
bool isWineLinkKey(Store& store, KeyId id);

// One key of the store as a Wine key: its time, class, link mark and values (not its subkeys).
WineKey wineKeyOf(Store& store, KeyId id, const std::map<KeyId, WineKeyExtras>& extras);

// The registry of one file in the store: the tree below `key`, written back as a WineRegFile.
WineRegFile dumpWineTree(Store& store, KeyId key, std::u16string relativeTo, std::string arch);
// Loads a file's tree below `key` (keys, values, times, classes, link marks), in the open
// transaction. Throws StoreError naming the key for what the store refuses.
void loadWineTree(Store& store, KeyId key, const WineRegFile& file);

// Small SQL helpers for the tables kept beside the registry.
void execStoreSql(sqlite3* db, const char* sql);
bool storeHasTable(sqlite3* db, const char* name);

} // namespace klv::wine
