#pragma once
// Drive letters map to folders through the links <system folder>/dosdevices/<x>: (as a Wine
// prefix keeps them). A: is a removable drive with no folder behind it unless a user maps it.
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace klv {

enum class DriveKind { NoDrive, Removable, Fixed };

class DriveMap {
public:
    explicit DriveMap(std::filesystem::path systemFolder);

    // Links c: to <program folder>/drive_c when no c: exists yet (first start).
    void ensureDefaults(const std::filesystem::path& programFolder) const;

    // Upper-case letters of all drives, in order (A: always, then every mapped letter).
    std::vector<char> drives() const;
    DriveKind kind(char letter) const;
    std::optional<std::filesystem::path> folder(char letter) const;
    // "C:\Program Files\x.exe" -> <folder of c:>/Program Files/x.exe, each component found
    // without regard to case; nullopt for a path without a mapped drive.
    std::optional<std::filesystem::path> toLinuxPath(std::string_view windowsPath) const;
    // The other way: <folder of c:>/dir/x.exe -> "C:\dir\x.exe" (names as on disk, UTF-8);
    // nullopt for a file below no drive's folder.
    std::optional<std::string> toWindowsPath(const std::filesystem::path& file) const;

private:
    std::filesystem::path devices_;
};

} // namespace klv
