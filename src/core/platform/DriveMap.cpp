#include "core/platform/DriveMap.h"

#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"

#include <array>
#include <string>

namespace fs = std::filesystem;

namespace klv {
namespace {

std::optional<int> letterIndex(char letter) {
    if (letter >= 'A' && letter <= 'Z')
        return letter - 'A';
    if (letter >= 'a' && letter <= 'z')
        return letter - 'a';
    return std::nullopt;
}

std::string deviceName(int index) {
    return {static_cast<char>('a' + index), ':'};
}

// A device entry maps a drive only when it leads to an existing folder; a dangling link does
// not.
std::optional<fs::path> mappedFolder(const fs::path& entry) {
    std::error_code ec;
    fs::path target = fs::canonical(entry, ec);
    if (ec || !fs::is_directory(target, ec))
        return std::nullopt;
    return target;
}

bool isInside(const fs::path& path, const fs::path& root) {
    const fs::path rel = path.lexically_relative(root);
    return !rel.empty() && *rel.begin() != "..";
}

// A portable installation keeps its system folder inside the program folder and may be moved
// as a whole, so there the link is relative, as Wine makes it.
fs::path linkTarget(const fs::path& devices, const fs::path& target, const fs::path& home) {
    const fs::path from = fs::weakly_canonical(devices);
    const fs::path to = fs::weakly_canonical(target);
    if (isInside(from, fs::weakly_canonical(home)))
        return to.lexically_relative(from);
    return to;
}

// The components after "X:", with "." and ".." applied as Windows does: never above the root.
std::optional<std::string> driveRelative(std::string_view rest) {
    if (!rest.empty() && rest[0] != '\\' && rest[0] != '/')
        return std::nullopt; // "C:foo" is relative to a current folder we do not have
    std::vector<std::string_view> parts;
    while (!rest.empty()) {
        const std::size_t cut = rest.find_first_of("/\\");
        const std::string_view part = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string joined;
    for (std::string_view part : parts) {
        if (!joined.empty())
            joined += '/';
        joined += part;
    }
    return joined;
}

} // namespace

DriveMap::DriveMap(fs::path systemFolder) : devices_(std::move(systemFolder) / "dosdevices") {}

void DriveMap::ensureDefaults(const fs::path& programFolder) const {
    fs::create_directories(devices_);
    if (findNoCase(devices_, deviceName(2)))
        return;
    const fs::path driveC = ensureFolderNoCase(programFolder, "drive_c");
    fs::create_directory_symlink(linkTarget(devices_, driveC, programFolder),
                                 devices_ / deviceName(2));
}

std::vector<char> DriveMap::drives() const {
    std::array<bool, 26> present{};
    present[0] = true;
    std::error_code ec;
    for (fs::directory_iterator it(devices_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != 2 || name[1] != ':')
            continue;
        if (auto index = letterIndex(name[0]); index && mappedFolder(it->path()))
            present[static_cast<std::size_t>(*index)] = true;
    }
    std::vector<char> letters;
    for (std::size_t i = 0; i < present.size(); ++i) {
        if (present[i])
            letters.push_back(static_cast<char>('A' + i));
    }
    return letters;
}

DriveKind DriveMap::kind(char letter) const {
    const auto index = letterIndex(letter);
    if (!index)
        return DriveKind::NoDrive;
    if (*index == 0)
        return DriveKind::Removable;
    return folder(letter) ? DriveKind::Fixed : DriveKind::NoDrive;
}

std::optional<fs::path> DriveMap::folder(char letter) const {
    const auto index = letterIndex(letter);
    if (!index)
        return std::nullopt;
    const auto entry = findNoCase(devices_, deviceName(*index));
    return entry ? mappedFolder(*entry) : std::nullopt;
}

// Registry data holds paths as CP932; names on disk are UTF-8.
std::optional<fs::path> DriveMap::toLinuxPath(std::string_view windowsPath) const {
    const auto utf8 = tryCp932ToUtf8(windowsPath);
    if (!utf8 || utf8->size() < 2 || (*utf8)[1] != ':' || !letterIndex((*utf8)[0]))
        return std::nullopt;
    const auto relative = driveRelative(std::string_view(*utf8).substr(2));
    if (!relative)
        return std::nullopt;
    const auto root = folder((*utf8)[0]);
    if (!root)
        return std::nullopt;
    return resolveNoCase(*root, *relative);
}

std::optional<std::string> DriveMap::toWindowsPath(const std::filesystem::path& file) const {
    std::error_code ec;
    const auto target = std::filesystem::weakly_canonical(file, ec);
    if (ec)
        return std::nullopt;
    for (const char letter : drives()) {
        const auto root = folder(letter);
        if (!root)
            continue;
        const auto base = std::filesystem::weakly_canonical(*root, ec);
        if (ec)
            continue;
        const auto rel = target.lexically_relative(base);
        if (rel.empty() || *rel.begin() == "..")
            continue;
        std::string out{letter, ':'};
        for (const auto& part : rel)
            if (part != ".")
                out += "\\" + part.string();
        if (out.size() == 2)
            out += "\\";
        return out;
    }
    return std::nullopt;
}

} // namespace klv
