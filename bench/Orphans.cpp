// klovante_bench orphans: the orphan scan of HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE (whole
// roots) of the generated registry, with a drive map holding 10,000 real files that 20,000
// values name (and 10,000 values naming files that are not there), against the shared walker's
// walk of the same roots in the same run.
#include "BenchUtil.h"
#include "Walk.h"

#include "core/orphans/OrphanScan.h"
#include "core/registry/Registry.h"
#include "core/registry/Store.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace klv::bench {

namespace {

constexpr int kFiles = 10000;

// Values naming the files, written once into the generated registry.
void writeValues(const std::shared_ptr<Store>& store) {
    TRegistry reg(store);
    reg.RootKey(HKEY_LOCAL_MACHINE_H);
    if (reg.KeyPresent("\\Software\\OrphanBench"))
        return;
    Store::Transaction t(*store);
    for (int k = 0; k < kFiles / 100; ++k) {
        reg.OpenKey("\\Software\\OrphanBench\\K" + std::to_string(k), true);
        for (int i = k * 100; i < (k + 1) * 100; ++i) {
            const std::string n = std::to_string(i);
            reg.WriteString("file" + n, "C:\\Files\\f" + n + ".dll");
            reg.WriteString("again" + n, "\"C:\\Files\\f" + n + ".dll\" /s");
            reg.WriteExpandString("gone" + n, "C:\\Missing\\m" + n + ".dll");
        }
    }
    t.commit();
}

} // namespace

int runOrphans(const Args& args) {
    const BenchFolders folders = benchFolders(args, "orphans");
    auto store = Store::open(folders.store, Store::Options{false, false});
    writeValues(store);

    // A drive map of its own: c: with 10,000 files.
    const auto drives = folders.home / "orphan-drives";
    DriveMap map(drives);
    map.ensureDefaults(folders.home);
    const auto files = *map.folder('C') / "Files";
    std::filesystem::create_directories(files);
    for (int i = 0; i < kFiles; ++i)
        std::ofstream(files / ("f" + std::to_string(i) + ".dll")) << 'x';

    OrphanOptions options;
    options.roots = {false, true, true, false};
    options.softwareOnly = false;
    constexpr int kRuns = 3;
    double walkSeconds = 1e9, scanSeconds = 1e9;
    Totals walked;
    OrphanOutcome outcome;
    std::size_t orphans = 0;
    for (int run = 0; run < kRuns; ++run) {
        store->dropCache();
        Stopwatch walkWatch;
        walked = plainWalk(store, HKEY_CURRENT_USER_H);
        const Totals lm = plainWalk(store, HKEY_LOCAL_MACHINE_H);
        walked.keys += lm.keys;
        walked.values += lm.values;
        walkSeconds = std::min(walkSeconds, walkWatch.seconds());

        store->dropCache();
        PathExistence existence{DriveMap(drives)};
        orphans = 0;
        OrphanCallbacks cb;
        cb.row = [&](OrphanRow&&) { ++orphans; };
        Stopwatch scanWatch;
        outcome = scanOrphans(options, existence, cb, store);
        scanSeconds = std::min(scanSeconds, scanWatch.seconds());
    }
    std::error_code ec;
    std::filesystem::remove_all(folders.home / "drive_c", ec);

    std::printf("walk (best of %d): %llu keys, %llu values in %.3f s\n", kRuns,
                static_cast<unsigned long long>(walked.keys),
                static_cast<unsigned long long>(walked.values), walkSeconds);
    std::printf("orphan scan (best of %d): %llu keys, %llu string values, %zu orphans in %.3f s "
                "(%.0f keys/s)\n",
                kRuns, static_cast<unsigned long long>(outcome.keys),
                static_cast<unsigned long long>(outcome.values), orphans, scanSeconds,
                static_cast<double>(outcome.keys) / scanSeconds);
    std::printf("peak memory: %.0f MiB\n", peakMemoryMiB());
    std::printf("orphans/walk ratio: %.2f\n", scanSeconds / walkSeconds);
    return 0;
}

} // namespace klv::bench
