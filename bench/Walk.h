#pragma once
// The two baselines of the walking benchmarks: a plain SQL scan of the store file and a walk
// of every root that reads each key the way the search and snapshot walks do.
#include "core/registry/RootKeys.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace klv {
class Store;
}

namespace klv::bench {

struct Totals {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    std::uint64_t bytes = 0;
};

Totals scan(const std::filesystem::path& storeFile);
// Every root, or only the one given.
Totals plainWalk(const std::shared_ptr<Store>& store, std::optional<RootHandle> only = {});

} // namespace klv::bench
