#include "core/search/QuickSearch.h"

#include "core/platform/Folders.h"
#include "core/platform/MappedFile.h"
#include "core/registry/Store.h"

#include <exception>

namespace klv {
namespace {

unsigned char lowerAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool fileContains(const std::filesystem::path& file, const ByteSearch& search) {
    // Only regular files: a pipe or a device under a data file's name would block or never end.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return false;
    try {
        const MappedFile bytes(file);
        return search.foundIn(bytes.bytes());
    } catch (const std::exception&) {
        return false; // held or unreadable: as if the text were not there
    }
}

} // namespace

void ByteSearch::setText(std::string_view text) {
    for (int b = 0; b < 256; ++b)
        fold_[static_cast<std::size_t>(b)] = lowerAscii(static_cast<unsigned char>(b));
    text_.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        text_[i] = static_cast<char>(fold_[static_cast<unsigned char>(text[i])]);
    const std::size_t m = text_.size();
    shift_.fill(m + 1);
    for (std::size_t i = 0; i < m; ++i)
        shift_[static_cast<unsigned char>(text_[i])] = m - i;
}

bool ByteSearch::matchesAt(const unsigned char* at) const {
    const auto* t = reinterpret_cast<const unsigned char*>(text_.data());
    for (std::size_t i = 0; i < text_.size(); ++i)
        if (fold_[at[i]] != t[i])
            return false;
    return true;
}

std::size_t ByteSearch::find(std::string_view bytes) const {
    const std::size_t m = text_.size();
    const std::size_t n = bytes.size();
    if (m == 0)
        return 0;
    if (m > n)
        return npos;
    const auto* h = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto first = static_cast<unsigned char>(text_[0]);
    const std::size_t last = n - m;
    std::size_t i = 0;
    for (;;) {
        if (fold_[h[i]] == first && matchesAt(h + i))
            return i;
        if (i == last)
            return npos;
        // The byte just past the window decides the shift; it exists since i < last.
        i += shift_[fold_[h[i + m]]];
        if (i > last)
            return npos;
    }
}

bool fileNameMatches(std::string_view mask, std::string_view name) {
    std::size_t m = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos; // mask position after the last "*"
    std::size_t resume = 0;                    // name position that "*" covers up to
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            star = ++m;
            resume = n;
        } else if (m < mask.size() &&
                   (mask[m] == '?' || lowerAscii(static_cast<unsigned char>(mask[m])) ==
                                          lowerAscii(static_cast<unsigned char>(name[n])))) {
            ++m;
            ++n;
        } else if (star != std::string_view::npos) {
            m = star; // let the last "*" cover one more character
            n = ++resume;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

FileFinder::FileFinder(std::filesystem::path folder, Pump pump)
    : folder_(std::move(folder)), pump_(std::move(pump)) {}

std::optional<std::filesystem::path> FileFinder::findContaining(std::string_view mask,
                                                                const ByteSearch& search) const {
    if (pump_)
        pump_();
    std::error_code ec;
    std::filesystem::directory_iterator it(folder_, ec);
    for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
        if (pump_)
            pump_();
        const std::filesystem::path file = it->path();
        if (fileNameMatches(mask, file.filename().string()) && fileContains(file, search))
            return file;
    }
    return std::nullopt;
}

void flushRegistryStore(const std::filesystem::path& systemFolder) {
    const auto file = findNoCase(systemFolder, "SYSTEM.DAT");
    std::error_code ec;
    if (!file || !std::filesystem::is_regular_file(*file, ec))
        return;
    try {
        // The program's own connection when it has one: its writes are the recent ones.
        Store::shared(*file, Store::Options{false, false})->checkpoint();
    } catch (const std::exception&) {
        // Not a store this program can open: its bytes are scanned as they stand.
    }
}

bool quickSearchRegistry(const std::filesystem::path& systemFolder, std::string_view text,
                         const Pump& pump) {
    const ByteSearch search(text);
    const FileFinder finder(systemFolder, pump);
    if (finder.findContaining(kRegistryDataFiles[0], search))
        return true;
    flushRegistryStore(systemFolder);
    return finder.findContaining(kRegistryDataFiles[1], search).has_value();
}

} // namespace klv
