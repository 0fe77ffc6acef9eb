#pragma once
// What the key tree and the value list of an editor window read from the registry: the
// subkeys of a node with their has-subkeys flags, the rows of a key's value list and the
// status text of a key. Windows only show these results.
#include "core/registry/Registry.h"
#include "core/registry/ValueText.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

struct SubKeyEntry {
    std::string name;
    bool hasSubKeys = false;
};

struct SubKeyListing {
    bool opened = false;   // false: the key cannot be opened at all
    bool readOnly = false; // opened for reading only: its subkeys get the read-only images
    std::vector<SubKeyEntry> subKeys; // sorted without regard to case
};

// Opens the key (`subPath` below `root`, "" for the root itself) with full access, else for
// reading, and lists its subkeys, opening each once to learn whether it has subkeys.
SubKeyListing listSubKeysForTree(TRegistry& reg, RootHandle root, std::string_view subPath);

struct ValueListing {
    bool opened = false;
    std::vector<ValueRow> rows; // sorted by name without regard to case
    std::optional<KeyInfo> info;
};

// Opens the key with any access and reads the rows of its value list.
ValueListing listValuesForList(TRegistry& reg, RootHandle root, std::string_view subPath);

// "サブキーの数 : 3   値の数 : 2   最終書込日時 : 2026/12/08 10:00:00" (time as stored, UTC).
std::string keyStatusText(const KeyInfo& info);

// Whether the key (`subPath` below `root`) is there at all, whatever its access: a key that
// cannot be opened is either closed to this user or gone (deleted by another program).
bool keyExists(TRegistry& reg, RootHandle root, std::string_view subPath);

// The components of a key path text for navigation; empty components are dropped, and the
// trail byte 0x5C of a double-byte character is not a separator.
std::vector<std::string> navigationComponents(std::string_view keyPathText);

// Name comparison of the address bar: both sides upper-cased (single-byte letters only).
bool sameNameIgnoringCase(std::string_view a, std::string_view b);

// Order of the tree and the list: by upper-cased name.
bool lessIgnoringCase(std::string_view a, std::string_view b);

} // namespace klv
