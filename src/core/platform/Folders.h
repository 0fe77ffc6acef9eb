#pragma once
// Program folder and system folder, and finding names on disk without regard to case.
#include <filesystem>
#include <optional>
#include <string_view>

namespace klv {

// $KLOVANTE_HOME; else the executable's folder when KLOVANTE.INI stands there; else
// $XDG_DATA_HOME/klovante (default ~/.local/share/klovante), created when missing.
std::filesystem::path programFolder();
// $KLOVANTE_WINDIR; else <program folder>/WINDOWS (created when missing).
std::filesystem::path systemFolder();
// Folder of the running executable.
std::filesystem::path executableFolder();

// The entry of `folder` whose name equals `name` without regard to ASCII case; an exact match
// wins over others.
std::optional<std::filesystem::path> findNoCase(const std::filesystem::path& folder,
                                                std::string_view name);
// Resolves a relative path ("Undo/x.reg" or "Undo\\x.reg") below base component by component
// without regard to case; components that do not exist keep the given spelling.
std::filesystem::path resolveNoCase(const std::filesystem::path& base, std::string_view relative);
// The sub-folder `name` of base, found without regard to case or created in that spelling.
std::filesystem::path ensureFolderNoCase(const std::filesystem::path& base, std::string_view name);

} // namespace klv
