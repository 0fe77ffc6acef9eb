#include "BenchUtil.h"

#include "core/platform/Folders.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/resource.h>

namespace klv::bench {

double peakMemoryMiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

long Args::option(const std::string& name, long fallback) const {
    for (const auto& [k, v] : options)
        if (k == name)
            return std::stol(v);
    return fallback;
}

Args parseArgs(int argc, char** argv, int first) {
    Args a;
    for (int i = first; i < argc; ++i) {
        std::string s = argv[i];
        if (s.rfind("--", 0) == 0 && i + 1 < argc)
            a.options.emplace_back(s.substr(2), argv[++i]);
        else
            a.positional.push_back(s);
    }
    return a;
}

SyntheticShape shapeFromArgs(const Args& args) {
    SyntheticShape shape;
    shape.fanout = static_cast<int>(args.option("fanout", shape.fanout));
    shape.depth = static_cast<int>(args.option("depth", shape.depth));
    shape.values = static_cast<int>(args.option("values", shape.values));
    return shape;
}

std::filesystem::path storeFileIn(const std::filesystem::path& systemFolder) {
    return findNoCase(systemFolder, "SYSTEM.DAT").value_or(systemFolder / "SYSTEM.DAT");
}

BenchFolders benchFolders(const Args& args, const char* command) {
    if (args.positional.empty())
        throw std::runtime_error(std::string(command) + " needs a system folder");
    BenchFolders f;
    f.windir = std::filesystem::absolute(args.positional[0]);
    f.store = storeFileIn(f.windir);
    if (!std::filesystem::exists(f.store))
        throw std::runtime_error(f.store.string() + " does not exist (run generate first)");
    char home[] = "/tmp/klovante-bench-XXXXXX";
    if (!mkdtemp(home))
        throw std::runtime_error("cannot make a program folder");
    f.home = home;
    setenv("KLOVANTE_HOME", home, 1);
    setenv("KLOVANTE_WINDIR", f.windir.c_str(), 1);
    return f;
}

} // namespace klv::bench
