#include "TempFolders.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace klv::test {

TempFolders::TempFolders() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "klovante-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    home_ = root_ / "home";
    windir_ = home_ / "WINDOWS";
    std::filesystem::create_directories(windir_);
    setenv("KLOVANTE_HOME", home_.c_str(), 1);
    setenv("KLOVANTE_WINDIR", windir_.c_str(), 1);
}

TempFolders::~TempFolders() {
    std::error_code ec;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(root_, ec);
    unsetenv("KLOVANTE_HOME");
    unsetenv("KLOVANTE_WINDIR");
}

std::filesystem::path binaryDir() {
    if (const char* d = std::getenv("KLOVANTE_TEST_BINARY_DIR"))
        return d;
    return std::filesystem::current_path();
}

std::filesystem::path testProgram(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path nextToTest =
        std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (const std::filesystem::path& p : {binaryDir() / "tests" / name, nextToTest / name})
        if (std::filesystem::exists(p, ec))
            return p;
    throw std::runtime_error(name + " not found (build it first)");
}

} // namespace klv::test
