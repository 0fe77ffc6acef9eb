#include "core/platform/Folders.h"

#include "core/platform/Encoding.h"

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace klv {
namespace {

const char* nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

fs::path homeFolder() {
    if (const char* home = nonEmptyEnv("HOME"))
        return home;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && pw.pw_dir)
        return pw.pw_dir;
    return fs::current_path();
}

fs::path xdgDataHome() {
    // Relative values are invalid by the XDG rules and are ignored.
    if (const char* data = nonEmptyEnv("XDG_DATA_HOME"); data && *data == '/')
        return data;
    return homeFolder() / ".local" / "share";
}

} // namespace

fs::path programFolder() {
    if (const char* home = nonEmptyEnv("KLOVANTE_HOME"))
        return home;
    const fs::path exe = executableFolder();
    if (auto ini = findNoCase(exe, "KLOVANTE.INI"); ini && fs::is_regular_file(*ini))
        return exe;
    const fs::path folder = xdgDataHome() / "klovante";
    fs::create_directories(folder);
    return folder;
}

fs::path systemFolder() {
    if (const char* windir = nonEmptyEnv("KLOVANTE_WINDIR")) {
        fs::create_directories(windir);
        return windir;
    }
    return ensureFolderNoCase(programFolder(), "WINDOWS");
}

fs::path executableFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

std::optional<fs::path> findNoCase(const fs::path& folder, std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos)
        return std::nullopt;
    std::error_code ec;
    const fs::path exact = folder / name;
    if (fs::symlink_status(exact, ec).type() != fs::file_type::not_found && !ec)
        return exact;
    // Several case variants may stand side by side; take the smallest name so that the choice
    // does not depend on directory order.
    std::optional<fs::path> best;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& entry = it->path();
        if (equalsAsciiNoCase(entry.filename().native(), name) &&
            (!best || entry.filename() < best->filename()))
            best = entry;
    }
    return best;
}

fs::path resolveNoCase(const fs::path& base, std::string_view relative) {
    fs::path result = base;
    bool onDisk = true;
    while (!relative.empty()) {
        const std::size_t cut = relative.find_first_of("/\\");
        const std::string_view part = relative.substr(0, cut);
        relative = cut == std::string_view::npos ? std::string_view() : relative.substr(cut + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            result /= part;
            continue;
        }
        std::optional<fs::path> found;
        if (onDisk)
            found = findNoCase(result, part);
        onDisk = found.has_value();
        result = found ? std::move(*found) : result / part;
    }
    return result;
}

fs::path ensureFolderNoCase(const fs::path& base, std::string_view name) {
    if (auto found = findNoCase(base, name); found && fs::is_directory(*found))
        return *found;
    const fs::path folder = base / name;
    fs::create_directories(folder);
    return folder;
}

} // namespace klv
