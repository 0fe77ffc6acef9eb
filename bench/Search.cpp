// klovante_bench search: a search of every root for a text found in about one value in a
// thousand, all four targets on, through the engine and the pump the search dialog uses, against
// the shared walker's plain walk and a plain SQL scan of the same store; then the quick search
// of the store files against a plain read of them.
#include "BenchUtil.h"
#include "QuickSearch.h"
#include "Walk.h"

#include "core/registry/Store.h"
#include "core/search/SearchEngine.h"
#include "gui/widgets/EventPump.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>

namespace klv::bench {

int runSearch(const Args& args) {
    const BenchFolders folders = benchFolders(args, "search");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char arg0[] = "klovante_bench";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);

    auto store = Store::open(folders.store, Store::Options{false, false});
    SearchRequest request;
    request.text = "777";
    request.numbers = true; // with keys, names and strings: all four targets
    request.ignoreCase = true;

    // Best of a few runs each, taking turns: the machines these run on are shared.
    constexpr int kRuns = 3;
    double scanSeconds = 1e9, walkSeconds = 1e9, searchSeconds = 1e9;
    Totals walked;
    SearchOutcome outcome;
    std::uint64_t hits = 0;
    for (int run = 0; run < kRuns; ++run) {
        Stopwatch scanWatch;
        scan(folders.store);
        scanSeconds = std::min(scanSeconds, scanWatch.seconds());

        store->dropCache();
        Stopwatch walkWatch;
        walked = plainWalk(store);
        walkSeconds = std::min(walkSeconds, walkWatch.seconds());

        store->dropCache();
        bool stop = false;
        std::vector<SearchHit> batch;
        hits = 0;
        EventPump pump([&] {
            hits += batch.size();
            batch.clear(); // as the dialog hands a batch to its results window
        });
        SearchCallbacks cb;
        cb.hit = [&](SearchHit&& h) { batch.push_back(std::move(h)); };
        std::string location;
        cb.scanning = [&](const std::string& at, std::uint64_t) { location = at; };
        cb.pump = [&] { pump(); };
        cb.stop = &stop;
        Stopwatch searchWatch;
        outcome = SearchEngine(request, store).run(cb);
        searchSeconds = std::min(searchSeconds, searchWatch.seconds());
        hits += batch.size();
    }

    std::printf("scan (best of %d): %.3f s\n", kRuns, scanSeconds);
    std::printf("plain walk (best of %d): %llu keys, %llu values in %.3f s\n", kRuns,
                static_cast<unsigned long long>(walked.keys),
                static_cast<unsigned long long>(walked.values), walkSeconds);
    std::printf(
        "search for \"%s\" (best of %d): %llu keys, %llu values, %llu hits (1 in %.0f "
        "values) in %.3f s, %.0f keys/s\n",
        request.text.c_str(), kRuns, static_cast<unsigned long long>(outcome.keys),
        static_cast<unsigned long long>(outcome.values), static_cast<unsigned long long>(hits),
        static_cast<double>(outcome.values) / static_cast<double>(std::max<std::uint64_t>(hits, 1)),
        searchSeconds, static_cast<double>(outcome.keys) / searchSeconds);
    std::printf("search/scan ratio: %.2f\n", searchSeconds / scanSeconds);
    reportQuickSearch(folders.windir);
    std::printf("peak memory: %.0f MiB\n", peakMemoryMiB());
    std::printf("search/walk ratio: %.2f\n", searchSeconds / walkSeconds);
    return 0;
}

} // namespace klv::bench
