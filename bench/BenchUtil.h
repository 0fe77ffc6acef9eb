#pragma once
#include "core/registry/SyntheticRegistry.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace klv::bench {

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

// Peak resident memory of this process, in MiB.
double peakMemoryMiB();

// Options of the form --name N after the positional arguments.
struct Args {
    std::vector<std::string> positional;
    long option(const std::string& name, long fallback) const;
    std::vector<std::pair<std::string, std::string>> options;
};
Args parseArgs(int argc, char** argv, int first);

std::filesystem::path storeFileIn(const std::filesystem::path& systemFolder);

// The generated registry a command works on: its system folder (absolute) and store file.
// Makes a fresh program folder and points KLOVANTE_HOME and KLOVANTE_WINDIR there, so that
// the windows and programs it starts use them. Throws when the store is missing.
struct BenchFolders {
    std::filesystem::path windir;
    std::filesystem::path store;
    std::filesystem::path home;
};
BenchFolders benchFolders(const Args& args, const char* command);

struct GenerateResult {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    double seconds = 0;
};
// Writes the synthetic registry under HKEY_LOCAL_MACHINE\Bench into a new store file (an
// existing one is replaced), in one transaction.
// The shape given by --fanout, --depth and --values, the defaults for the rest.
SyntheticShape shapeFromArgs(const Args& args);
GenerateResult generateRegistry(const std::filesystem::path& storeFile,
                                const SyntheticShape& shape);

int runGenerate(const Args& args);
int runWalk(const Args& args);
int runGui(const Args& args);
int runUndo(const Args& args);
int runHexEdit(const Args& args);
int runRegFiles(const Args& args);
int runSearch(const Args& args);
int runSnapshot(const Args& args);
int runOrphans(const Args& args);
int runListing(const Args& args);
int runScript(const Args& args);
int runBackup(const Args& args);
int runWinePrefix(const Args& args);

} // namespace klv::bench
