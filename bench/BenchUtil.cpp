#include "BenchUtil.h"

#include "core/platform/Folders.h"

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

} // namespace klv::bench
