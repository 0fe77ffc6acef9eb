#include "core/regfiles/RegistryPrograms.h"

#include "core/platform/Folders.h"

#include <string_view>

namespace fs = std::filesystem;

namespace klv {
namespace {

std::optional<fs::path> present(const fs::path& folder, std::string_view name) {
    auto p = findNoCase(folder, name);
    std::error_code ec;
    if (!p || !fs::exists(*p, ec)) // exists() follows the link
        return std::nullopt;
    return p;
}

bool ensureLink(const fs::path& folder, std::string_view name, const fs::path& klovreg) {
    if (present(folder, name))
        return true;
    std::error_code ec;
    if (auto stale = findNoCase(folder, name); stale && fs::is_symlink(*stale, ec))
        fs::remove(*stale, ec); // a link left by a program that has moved since
    fs::create_symlink(klovreg, folder / name, ec);
    return !ec && present(folder, name);
}

} // namespace

fs::path defaultKlovregPath() {
    return executableFolder() / "klovreg";
}

bool ensureRegistryPrograms(const fs::path& systemFolder, const fs::path& klovreg) {
    std::error_code ec;
    if (!fs::exists(klovreg, ec))
        return registryEditorPath(systemFolder) && registryToolPath(systemFolder);
    const bool editor = ensureLink(systemFolder, "REGEDIT.EXE", klovreg);
    const bool tool = ensureLink(systemFolder, "REG.EXE", klovreg);
    return editor && tool;
}

std::optional<fs::path> registryEditorPath(const fs::path& systemFolder) {
    return present(systemFolder, "REGEDIT.EXE");
}

std::optional<fs::path> registryToolPath(const fs::path& systemFolder) {
    return present(systemFolder, "REG.EXE");
}

} // namespace klv
