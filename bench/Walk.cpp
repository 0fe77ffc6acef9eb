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

struct Totals {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    std::uint64_t bytes = 0;
};

// What the search and snapshot walks do at each key: its information, its values with their
// kinds, and the data read with the reader of each kind.
void visitKey(TRegistry& reg, Totals& t, std::vector<std::string>& names,
              std::vector<std::string>& lines, std::vector<char>& buffer) {
    ++t.keys;
    KeyInfo info;
    reg.QueryKeyInfo(info);
    reg.ListValues(names);
    for (const std::string& n : names) {
        ++t.values;
        ValueInfo vi;
        if (!reg.QueryValueInfo(n, vi))
            continue;
        switch (vi.kind) {
        case ValueKind::String:
        case ValueKind::ExpandString:
            t.bytes += reg.ReadText(n).size();
            break;
        case ValueKind::Integer:
            t.bytes += reg.ReadDword(n) & 1;
            break;
        case ValueKind::MultiString:
            lines.clear();
            reg.ReadMultiText(n, lines);
            t.bytes += lines.size();
            break;
        case ValueKind::Binary:
        case ValueKind::Unknown:
            // With a buffer of the value's size, as the list reads it.
            buffer.resize(static_cast<std::size_t>(std::max(vi.size, 1)));
            t.bytes += static_cast<std::uint64_t>(
                reg.ReadBinary(n, buffer.data(), static_cast<int>(buffer.size())));
            break;
        }
    }
}

// One plain sequential scan of all keys and values, reading every column.
Totals scan(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot open " + file.string());
    sqlite3_exec(db, "PRAGMA mmap_size = 1073741824", nullptr, nullptr, nullptr);
    Totals t;
    auto run = [&](const char* sql, std::uint64_t& count) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        const int cols = sqlite3_column_count(st);
        while (sqlite3_step(st) == SQLITE_ROW) {
            ++count;
            for (int c = 0; c < cols; ++c) {
                // Each column in its own type: asking an integer for its bytes would turn it
                // into text and slow the scan down.
                if (sqlite3_column_type(st, c) == SQLITE_INTEGER)
                    t.bytes += static_cast<std::uint64_t>(sqlite3_column_int64(st, c)) & 1;
                else
                    t.bytes += static_cast<std::uint64_t>(sqlite3_column_bytes(st, c));
            }
        }
        sqlite3_finalize(st);
    };
    run("SELECT * FROM keys", t.keys);
    run("SELECT * FROM vals", t.values);
    sqlite3_close(db);
    return t;
}

} // namespace

int runWalk(const Args& args) {
    if (args.positional.empty())
        throw std::runtime_error("walk needs a system folder");
    const auto file = storeFileIn(args.positional[0]);
    if (!std::filesystem::exists(file))
        throw std::runtime_error(file.string() + " does not exist (run generate first)");

    Stopwatch scanWatch;
    const Totals scanned = scan(file);
    const double scanSeconds = scanWatch.seconds();

    auto store = Store::open(file, Store::Options{false, false});
    TRegistry reg(store);
    Totals t;
    std::vector<std::string> names, lines;
    std::vector<char> buffer;
    Stopwatch walkWatch;
    for (const RootKeyEntry& root : kRootKeys) {
        reg.RootKey(root.handle);
        if (!reg.OpenKeyAnyAccess("", false))
            continue;
        visitKey(reg, t, names, lines, buffer);
        WalkOptions opt;
        opt.anyAccess = true;
        walkRegistry(
            reg, "",
            [&](const std::string&, const std::string&) { visitKey(reg, t, names, lines, buffer); },
            opt);
    }
    const double walkSeconds = walkWatch.seconds();

    std::printf("scan: %llu keys, %llu values in %.3f s\n",
                static_cast<unsigned long long>(scanned.keys),
                static_cast<unsigned long long>(scanned.values), scanSeconds);
    std::printf("walk: %llu keys, %llu values in %.3f s (%.0f keys/s, %.0f values/s)\n",
                static_cast<unsigned long long>(t.keys), static_cast<unsigned long long>(t.values),
                walkSeconds, t.keys / walkSeconds, t.values / walkSeconds);
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
