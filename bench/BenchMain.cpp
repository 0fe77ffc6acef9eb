// klovante_bench: measures the program's heavy paths on large synthetic registries.
#include "BenchUtil.h"
#include "core/registry/RegistryError.h"

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

void usage() {
    std::fprintf(
        stderr,
        "usage: klovante_bench generate <system folder> [--fanout N] [--depth N] [--values N]\n"
        "       klovante_bench walk <system folder>\n"
        "       klovante_bench regfiles <system folder> [--fanout N] [--depth N] [--values N]\n"
        "       klovante_bench gui <system folder>\n"
        "       klovante_bench undo <system folder>\n"
        "       klovante_bench hexedit <system folder>\n"
        "       klovante_bench search <system folder>\n"
        "       klovante_bench snapshot <system folder>\n"
        "       klovante_bench orphans <system folder>\n"
        "       klovante_bench listing <system folder>\n"
        "       klovante_bench script <folder>\n"
        "       klovante_bench backup <system folder>\n"
        "       klovante_bench wineprefix [folder]\n");
}

} // namespace

int main(int argc, char** argv) {
    // wineprefix makes its own temporary folder when none is given.
    if (argc < 3 && !(argc == 2 && !std::strcmp(argv[1], "wineprefix"))) {
        usage();
        return 2;
    }
    try {
        const auto args = klv::bench::parseArgs(argc, argv, 2);
        if (!std::strcmp(argv[1], "generate"))
            return klv::bench::runGenerate(args);
        if (!std::strcmp(argv[1], "walk"))
            return klv::bench::runWalk(args);
        if (!std::strcmp(argv[1], "gui"))
            return klv::bench::runGui(args);
        if (!std::strcmp(argv[1], "hexedit"))
            return klv::bench::runHexEdit(args);
        if (!std::strcmp(argv[1], "undo"))
            return klv::bench::runUndo(args);
        if (!std::strcmp(argv[1], "listing"))
            return klv::bench::runListing(args);
        if (!std::strcmp(argv[1], "orphans"))
            return klv::bench::runOrphans(args);
        if (!std::strcmp(argv[1], "snapshot"))
            return klv::bench::runSnapshot(args);
        if (!std::strcmp(argv[1], "search"))
            return klv::bench::runSearch(args);
        if (!std::strcmp(argv[1], "regfiles"))
            return klv::bench::runRegFiles(args);
        if (!std::strcmp(argv[1], "script"))
            return klv::bench::runScript(args);
        if (!std::strcmp(argv[1], "backup"))
            return klv::bench::runBackup(args);
        if (!std::strcmp(argv[1], "wineprefix"))
            return klv::bench::runWinePrefix(args);
        usage();
        return 2;
    } catch (const klv::RegistryError& e) {
        std::fprintf(stderr, "klovante_bench: %s (%s)\n", e.what(), e.detail().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "klovante_bench: %s\n", e.what());
    }
    return 1;
}
