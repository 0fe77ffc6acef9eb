#pragma once
// A synthetic registry of any size under HKEY_LOCAL_MACHINE\Bench: a full tree of `fanout`
// subkeys per key down to `depth` levels, `values` values per key of every kind (unknown raw
// types among them), Japanese names and data, and key names whose second byte is 0x5C.
// Benchmarks load it by the million; tests use small ones.
#include "core/registry/Store.h"

#include <cstdint>

namespace klv {

struct SyntheticShape {
    int fanout = 10;
    int depth = 6;
    int values = 3;
};

struct SyntheticCounts {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
};

// Writes the tree in one transaction (joining the caller's when one is open).
SyntheticCounts writeSyntheticRegistry(Store& store, const SyntheticShape& shape);

} // namespace klv
