// klovante_bench listing: the detailed text listing of HKEY_LOCAL_MACHINE of the generated
// registry against the shared walker's walk of the same root in the same run.
#include "BenchUtil.h"
#include "Walk.h"

#include "core/listing/DetailedListing.h"
#include "core/registry/Store.h"

#include <algorithm>
#include <cstdio>

namespace klv::bench {

int runListing(const Args& args) {
    const BenchFolders folders = benchFolders(args, "listing");
    auto store = Store::open(folders.store, Store::Options{false, false});
    ListingRequest request;
    request.range = ListingRange::Root;
    request.rootIndex = 2; // HKEY_LOCAL_MACHINE

    constexpr int kRuns = 3;
    double walkSeconds = 1e9, listSeconds = 1e9;
    Totals walked;
    Listing listing;
    for (int run = 0; run < kRuns; ++run) {
        store->dropCache();
        Stopwatch walkWatch;
        walked = plainWalk(store, HKEY_LOCAL_MACHINE_H);
        walkSeconds = std::min(walkSeconds, walkWatch.seconds());

        store->dropCache();
        listing = Listing{};
        Stopwatch listWatch;
        listing = buildListing(request, {}, store);
        listSeconds = std::min(listSeconds, listWatch.seconds());
    }
    const double mb = static_cast<double>(listing.text.size()) / 1e6;
    std::printf("walk of HKEY_LOCAL_MACHINE (best of %d): %llu keys, %llu values in %.3f s\n",
                kRuns, static_cast<unsigned long long>(walked.keys),
                static_cast<unsigned long long>(walked.values), walkSeconds);
    std::printf("listing (best of %d): %llu keys, %llu values, %llu lines, %.1f MB in %.3f s "
                "(%.1f MB/s)\n",
                kRuns, static_cast<unsigned long long>(listing.keys),
                static_cast<unsigned long long>(listing.values),
                static_cast<unsigned long long>(listing.lines), mb, listSeconds, mb / listSeconds);
    std::printf("printing to PDF: not measured (the printing facility is not built yet)\n");
    std::printf("peak memory: %.0f MiB\n", peakMemoryMiB());
    std::printf("listing/walk ratio: %.2f\n", listSeconds / walkSeconds);
    return 0;
}

} // namespace klv::bench
