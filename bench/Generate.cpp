#include "BenchUtil.h"

#include "core/registry/Store.h"
#include "core/registry/SyntheticRegistry.h"

#include <cstdio>
#include <sqlite3.h>
#include <stdexcept>

namespace klv::bench {

GenerateResult generateRegistry(const std::filesystem::path& storeFile,
                                const SyntheticShape& shape) {
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(storeFile.string() + suffix);
    auto store = Store::open(storeFile);
    Stopwatch sw;
    const SyntheticCounts counts = writeSyntheticRegistry(*store, shape);
    sqlite3_wal_checkpoint_v2(store->db(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    GenerateResult result;
    result.keys = counts.keys;
    result.values = counts.values;
    result.seconds = sw.seconds();
    return result;
}

int runGenerate(const Args& args) {
    if (args.positional.empty())
        throw std::runtime_error("generate needs a system folder");
    const std::filesystem::path dir = args.positional[0];
    std::filesystem::create_directories(dir);
    const SyntheticShape shape = shapeFromArgs(args);
    const auto file = storeFileIn(dir);
    const GenerateResult r = generateRegistry(file, shape);
    std::printf("generated %s: %llu keys, %llu values in %.2f s (%.0f keys/s, %.0f values/s), "
                "file %.1f MB, peak memory %.0f MiB\n",
                file.c_str(), static_cast<unsigned long long>(r.keys),
                static_cast<unsigned long long>(r.values), r.seconds, r.keys / r.seconds,
                r.values / r.seconds, std::filesystem::file_size(file) / 1e6, peakMemoryMiB());
    return 0;
}

} // namespace klv::bench
