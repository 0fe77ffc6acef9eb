#include "Walk.h"

#include "BenchUtil.h"

#include "core/platform/PlatformFamily.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryWalker.h"

#include <algorithm>
#include <cstdio>
#include <sqlite3.h>
#include <stdexcept>

namespace klv::bench {
namespace {

// What the search and snapshot walks do at each key: its information, and every value with
// its kind and its data in the form of that kind (all values of a key in one call).
void visitKey(TRegistry& reg, Totals& t) {
    ++t.keys;
    KeyInfo info;
    reg.QueryKeyInfo(info);
    for (const RawValue& v : reg.CurrentValues()) {
        ++t.values;
        t.bytes += v.name.bytes.size();
        switch (valueKindOf(v.type)) {
        case ValueKind::String:
        case ValueKind::ExpandString:
            t.bytes += v.dataWide ? listedData(v).size() : v.data.find('\0');
            break;
        case ValueKind::Integer:
            t.bytes += v.data.size() == 4 ? static_cast<unsigned char>(v.data[0]) & 1 : 0;
            break;
        case ValueKind::MultiString:
            t.bytes += static_cast<std::uint64_t>(std::count(v.data.begin(), v.data.end(), '\0'));
            break;
        case ValueKind::Binary:
        case ValueKind::Unknown:
            t.bytes += v.data.size();
            break;
        }
    }
}

} // namespace

// One plain sequential scan of every key row and value row, reading the columns the walk
// returns (names, key information, value types and data), each in its own type: the least any
// walk must do.
Totals scan(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot open " + file.string());
    sqlite3_exec(db, "PRAGMA mmap_size = 1073741824", nullptr, nullptr, nullptr);
    Totals t;
    // `blobs` columns are read as bytes, the rest as integers.
    auto run = [&](const char* sql, int blobs, std::uint64_t& count) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
        const int cols = sqlite3_column_count(st);
        while (sqlite3_step(st) == SQLITE_ROW) {
            ++count;
            for (int c = 0; c < cols; ++c) {
                if (blobs & (1 << c)) {
                    const void* p = sqlite3_column_blob(st, c);
                    t.bytes +=
                        static_cast<std::uint64_t>(sqlite3_column_bytes(st, c)) + (p != nullptr);
                } else {
                    t.bytes += static_cast<std::uint64_t>(sqlite3_column_int64(st, c)) & 1;
                }
            }
        }
        sqlite3_finalize(st);
    };
    run("SELECT name, wide, mtime, access, nsub, maxsub FROM keys", 0b1, t.keys);
    run("SELECT name, flags, type, data FROM vals", 0b1001, t.values);
    sqlite3_close(db);
    return t;
}

Totals plainWalk(const std::shared_ptr<Store>& store, std::optional<RootHandle> only) {
    TRegistry reg(store);
    Totals t;
    for (const RootKeyEntry& root : kRootKeys) {
        if (only && root.handle != *only)
            continue;
        reg.RootKey(root.handle);
        if (!reg.OpenKeyAnyAccess("", false))
            continue;
        visitKey(reg, t);
        WalkOptions opt;
        opt.anyAccess = true;
        walkRegistry(
            reg, "", [&](const std::string&, const std::string&) { visitKey(reg, t); }, opt);
    }
    return t;
}

int runWalk(const Args& args) {
    if (args.positional.empty())
        throw std::runtime_error("walk needs a system folder");
    const auto file = storeFileIn(args.positional[0]);
    if (!std::filesystem::exists(file))
        throw std::runtime_error(file.string() + " does not exist (run generate first)");

    auto store = Store::open(file, Store::Options{false, false});
    TRegistry reg(store);
    // The walk alone, visiting each key without reading it: what moving through the tree costs.
    std::uint64_t visited = 0;
    Stopwatch keysWatch;
    for (const RootKeyEntry& root : kRootKeys) {
        reg.RootKey(root.handle);
        if (!reg.OpenKeyAnyAccess("", false))
            continue;
        WalkOptions opt;
        opt.anyAccess = true;
        walkRegistry(
            reg, "", [&](const std::string&, const std::string&) { ++visited; }, opt);
    }
    const double keysSeconds = keysWatch.seconds();

    // Each timing is the best of a few runs, scans and walks taking turns: the machines these
    // run on are shared, and a neighbour can slow a single run by half.
    constexpr int kRuns = 5;
    Totals scanned;
    Totals t;
    double scanSeconds = 1e9;
    double walkSeconds = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        Stopwatch scanWatch;
        scanned = scan(file);
        scanSeconds = std::min(scanSeconds, scanWatch.seconds());

        store->dropCache();
        Stopwatch walkWatch;
        t = plainWalk(store);
        walkSeconds = std::min(walkSeconds, walkWatch.seconds());
    }

    std::printf("scan (best of %d): %llu keys, %llu values in %.3f s\n", kRuns,
                static_cast<unsigned long long>(scanned.keys),
                static_cast<unsigned long long>(scanned.values), scanSeconds);
    std::printf(
        "walk (best of %d): %llu keys, %llu values in %.3f s (%.0f keys/s, %.0f values/s)\n", kRuns,
        static_cast<unsigned long long>(t.keys), static_cast<unsigned long long>(t.values),
        walkSeconds, t.keys / walkSeconds, t.values / walkSeconds);
    std::printf("walk without reading keys: %llu keys in %.3f s (%.2f us per key)\n",
                static_cast<unsigned long long>(visited), keysSeconds,
                1e6 * keysSeconds / static_cast<double>(std::max<std::uint64_t>(visited, 1)));
    std::printf("peak memory: %.0f MiB\n", peakMemoryMiB());
    if (t.keys != scanned.keys || t.values != scanned.values)
        std::printf("warning: the walk reached %llu of %llu keys (keys without access are "
                    "skipped)\n",
                    static_cast<unsigned long long>(t.keys),
                    static_cast<unsigned long long>(scanned.keys));
    std::printf("walk/scan ratio: %.2f\n", walkSeconds / scanSeconds);
    return 0;
}

} // namespace klv::bench
