#include "QuickSearch.h"

#include "BenchUtil.h"
#include "core/platform/Folders.h"
#include "core/registry/Store.h"
#include "core/search/QuickSearch.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace klv::bench {
namespace {

// Keeps the sums of the plain read from being optimised away.
volatile std::uint64_t sink = 0;

// What any scan must do at least: the whole file into memory and every byte looked at.
std::uint64_t plainRead(const std::filesystem::path& file, std::vector<unsigned char>& buffer) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot open " + file.string());
    buffer.resize(std::filesystem::file_size(file));
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return std::accumulate(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(done),
                           std::uint64_t{0});
}

} // namespace

void reportQuickSearch(const std::filesystem::path& systemFolder) {
    std::vector<std::filesystem::path> files;
    std::uint64_t bytes = 0;
    for (const std::string_view name : kRegistryDataFiles)
        if (const auto f = findNoCase(systemFolder, name)) {
            files.push_back(*f);
            bytes += std::filesystem::file_size(*f);
        }
    if (files.empty()) {
        std::printf("quick search: no USER.DAT or SYSTEM.DAT in %s\n", systemFolder.c_str());
        return;
    }
    // The program keeps the store open: its connection is the one the search brings up to date.
    std::shared_ptr<Store> store;
    if (const auto f = findNoCase(systemFolder, "SYSTEM.DAT"))
        store = Store::shared(*f, Store::Options{false, false});

    // Bytes that no generated registry holds; found, it would end the scan early.
    const std::string absent = "\x01quick-search: absent \x7f text\x02";
    constexpr int kRuns = 5;
    double searchSeconds = 1e9;
    double readSeconds = 1e9;
    bool found = false;
    std::vector<unsigned char> buffer;
    for (int run = 0; run < kRuns; ++run) {
        Stopwatch searchWatch;
        found = quickSearchRegistry(systemFolder, absent) || found;
        searchSeconds = std::min(searchSeconds, searchWatch.seconds());

        Stopwatch readWatch;
        for (const auto& f : files)
            sink = sink + plainRead(f, buffer);
        readSeconds = std::min(readSeconds, readWatch.seconds());
    }
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("quick search (best of %d over %.1f MB): %.1f MB/s, plain read: %.1f MB/s "
                "(ratio %.2f)\n",
                kRuns, mb, mb / searchSeconds, mb / readSeconds, readSeconds / searchSeconds);
    if (found)
        std::printf("warning: the text meant to be absent was found; the scan ended early\n");
}

} // namespace klv::bench
