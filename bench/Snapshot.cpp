// klovante_bench snapshot: the HKEY_LOCAL_MACHINE database of the generated registry built,
// 1,000 values changed, and compared with the database brought up to date, each step against
// the shared walker's walk of the same root in the same run.
#include "BenchUtil.h"
#include "Walk.h"

#include "core/registry/Registry.h"
#include "core/registry/RegistryWalker.h"
#include "core/registry/Store.h"
#include "core/snapshot/ChangeTracking.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace klv::bench {

namespace {

// Rewrites the first `count` string values below HKEY_LOCAL_MACHINE\Bench.
int changeValues(const std::shared_ptr<Store>& store, int count) {
    TRegistry reg(store);
    reg.RootKey(HKEY_LOCAL_MACHINE_H);
    std::vector<std::pair<std::string, std::string>> targets;
    if (!reg.OpenKey("\\Bench", false))
        return 0;
    walkRegistry(reg, "\\Bench", [&](const std::string& path, const std::string&) {
        for (const RawValue& v : reg.CurrentValues())
            if (static_cast<int>(targets.size()) < count && v.type == REG_SZ && !v.name.wide &&
                !v.name.bytes.empty())
                targets.emplace_back(path, v.name.bytes);
    });
    // A text of this run's own, so that every run changes them.
    const std::string text =
        "changed " + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    Store::Transaction t(*store);
    for (const auto& [path, name] : targets) {
        reg.OpenKey(path, false);
        reg.WriteString(name, text);
    }
    t.commit();
    return static_cast<int>(targets.size());
}

} // namespace

int runSnapshot(const Args& args) {
    const BenchFolders folders = benchFolders(args, "snapshot");
    auto store = Store::open(folders.store, Store::Options{false, false});
    const auto file = snapshotFile(folders.home, "HKEY_LOCAL_MACHINE");
    std::filesystem::create_directories(file.parent_path());
    TrackingCallbacks callbacks;

    store->dropCache();
    Stopwatch walkWatch;
    const Totals walked = plainWalk(store, HKEY_LOCAL_MACHINE_H);
    const double walkSeconds = walkWatch.seconds();

    store->dropCache();
    Stopwatch buildWatch;
    const BuildOutcome built = buildSnapshot("HKEY_LOCAL_MACHINE", file, callbacks, store);
    const double buildSeconds = buildWatch.seconds();
    const auto size = std::filesystem::file_size(file);

    const int changed = changeValues(store, 1000);

    store->dropCache();
    std::vector<ChangeRow> rows;
    Stopwatch compareWatch;
    const CompareOutcome compared =
        compareSnapshot("HKEY_LOCAL_MACHINE", "\\", file, true, callbacks, rows, store);
    const double compareSeconds = compareWatch.seconds();
    if (compared.error)
        std::printf("comparison error: %s\n", compared.error->c_str());

    std::printf("walk of HKEY_LOCAL_MACHINE: %llu keys, %llu values in %.3f s\n",
                static_cast<unsigned long long>(walked.keys),
                static_cast<unsigned long long>(walked.values), walkSeconds);
    std::printf("build: %llu keys, %llu values in %.3f s (%.2fx the walk), database %.1f MB\n",
                static_cast<unsigned long long>(built.keys),
                static_cast<unsigned long long>(built.values), buildSeconds,
                buildSeconds / walkSeconds, static_cast<double>(size) / 1e6);
    std::printf("compare with rebuild after %d changed values: %zu rows in %.3f s (%.2fx the "
                "walk)\n",
                changed, rows.size(), compareSeconds, compareSeconds / walkSeconds);
    std::printf("peak memory: %.0f MiB\n", peakMemoryMiB());
    std::error_code ec;
    std::filesystem::remove(file, ec); // hundreds of megabytes in the temporary folder
    std::printf("snapshot/walk ratio: %.2f\n",
                std::max(buildSeconds, compareSeconds) / walkSeconds);
    return 0;
}

} // namespace klv::bench
