#pragma once
// A Wine registry file rewritten for a few changed keys: the lines of every other key keep
// their bytes, so that a change to one value of a large file costs about a copy of the file.
// The file must be as WineRegFile::write() writes it (its keys in Wine's order); the result is
// then what write() would give for the changed tree.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv::wine {

struct WineKeyChange {
    std::vector<std::u16string> path; // below the file's base key
    std::string lines;                // writeWineKey() of the key now; empty: it has no line
    // The key is new since the file was written: any lines below its path are of an earlier
    // key of that name and go.
    bool replacesSubtree = false;
    // Its subkeys changed: lines below subkeys that are no longer there go.
    bool subkeysChanged = false;
    std::vector<std::u16string> subkeys; // with subkeysChanged, the subkeys' names now
};

// nullopt when `old` is not in the form above (a key line that cannot be read, keys out of
// order, a key given twice): the caller writes the whole file instead.
std::optional<std::string> spliceWineFile(std::string_view old,
                                          const std::vector<WineKeyChange>& changes);

} // namespace klv::wine
