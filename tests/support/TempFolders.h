#pragma once
// Fresh program and system folders for one test, removed afterwards. Sets KLOVANTE_HOME and
// KLOVANTE_WINDIR so that everything the test starts uses them.
#include <filesystem>

namespace klv::test {

class TempFolders {
public:
    TempFolders();
    ~TempFolders();
    TempFolders(const TempFolders&) = delete;
    TempFolders& operator=(const TempFolders&) = delete;

    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& home() const { return home_; }
    const std::filesystem::path& windir() const { return windir_; }
    std::filesystem::path storeFile() const { return windir_ / "SYSTEM.DAT"; }

private:
    std::filesystem::path root_, home_, windir_;
};

// Folder holding the build's executables (the store child among them).
std::filesystem::path binaryDir();

} // namespace klv::test
