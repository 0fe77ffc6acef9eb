#include "core/platform/ProgramVersion.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace klv {

std::optional<double> programProductVersion(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    // Version resources sit near the end of small programs; a registry checker is far below
    // this size.
    constexpr std::size_t kMax = 16 * 1024 * 1024;
    std::string bytes;
    bytes.resize(kMax);
    in.read(bytes.data(), static_cast<std::streamsize>(kMax));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    static const std::string key = [] {
        std::string k;
        for (char c : std::string("ProductVersion")) {
            k += c;
            k += '\0';
        }
        return k;
    }();
    const std::size_t at = bytes.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    // The value follows after NUL padding, as UTF-16LE text.
    std::size_t i = at + key.size();
    while (i + 1 < bytes.size() && bytes[i] == '\0' && bytes[i + 1] == '\0')
        i += 2;
    std::string text;
    while (i + 1 < bytes.size() && text.size() < 3 && bytes[i + 1] == '\0' && bytes[i] != '\0') {
        text += bytes[i];
        i += 2;
    }
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str())
        return std::nullopt;
    return v;
}

bool programVersionAtLeast(const std::filesystem::path& file, double version) {
    auto v = programProductVersion(file);
    return v && *v >= version - 1e-9;
}

} // namespace klv
