#pragma once
// The six root keys, in tree order, with their handle values.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace klv {

using RootHandle = std::uint32_t;

inline constexpr RootHandle HKEY_CLASSES_ROOT_H = 0x80000000u;
inline constexpr RootHandle HKEY_CURRENT_USER_H = 0x80000001u;
inline constexpr RootHandle HKEY_LOCAL_MACHINE_H = 0x80000002u;
inline constexpr RootHandle HKEY_USERS_H = 0x80000003u;
inline constexpr RootHandle HKEY_CURRENT_CONFIG_H = 0x80000005u;
inline constexpr RootHandle HKEY_DYN_DATA_H = 0x80000006u;

struct RootKeyEntry {
    std::string_view name;
    RootHandle handle;
};

inline constexpr int kRootKeyCount = 6;
inline constexpr std::array<RootKeyEntry, kRootKeyCount> kRootKeys{{
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT_H},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER_H},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE_H},
    {"HKEY_USERS", HKEY_USERS_H},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG_H},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA_H},
}};

// Index 0..5 of a root by its exact (case-sensitive) name.
std::optional<int> rootIndexByName(std::string_view name);
// Index 0..5 of a root by its handle value.
std::optional<int> rootIndexByHandle(RootHandle handle);
// Name of a root handle; empty for an unknown handle.
std::string_view rootName(RootHandle handle);

// A key path text split by the one resolution rule: the root name is the text before the
// first backslash (or the whole text), the sub-path the rest from that backslash on.
struct SplitKeyPath {
    std::string_view rootName;
    std::string_view subPath;
    std::optional<RootHandle> root; // when rootName names a root exactly
};
SplitKeyPath splitKeyPath(std::string_view keyPathText);

} // namespace klv
