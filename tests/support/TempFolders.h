#pragma once
// Fresh program and system folders for one test, removed afterwards. Sets KLOVANTE_HOME and
// KLOVANTE_WINDIR so that everything the test starts uses them.
#include <filesystem>
#include <string>

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

// A helper program of the tests (e.g. "klovante_store_child"), in the build's tests folder or
// beside the running test; throws when it has not been built.
std::filesystem::path testProgram(const std::string& name);

} // namespace klv::test
