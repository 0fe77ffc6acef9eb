#include "core/platform/Folders.h"

#include "support/TempFolders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using namespace klv;

namespace {

// Sets or clears one environment variable for a test and restores it afterwards.
class EnvOverride {
public:
    EnvOverride(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~EnvOverride() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

void touch(const fs::path& file) {
    std::ofstream(file) << "x";
}

} // namespace

TEST(Folders, EnvironmentNamesProgramAndSystemFolder) {
    test::TempFolders temp;
    EXPECT_EQ(programFolder(), temp.home());
    EXPECT_EQ(systemFolder(), temp.windir());
    EXPECT_TRUE(fs::exists(executableFolder() / "test_platform"));

    EnvOverride windir("KLOVANTE_WINDIR", nullptr);
    fs::rename(temp.windir(), temp.home() / "Windows");
    EXPECT_EQ(systemFolder(), temp.home() / "Windows"); // found, not made anew
    fs::remove(temp.home() / "Windows");
    EXPECT_EQ(systemFolder(), temp.home() / "WINDOWS");
    EXPECT_TRUE(fs::is_directory(temp.home() / "WINDOWS"));
}

TEST(Folders, WithoutHomeVariableUsesXdgDataFolder) {
    test::TempFolders temp;
    EnvOverride home("KLOVANTE_HOME", nullptr);
    {
        EnvOverride xdg("XDG_DATA_HOME", (temp.root() / "xdg").c_str());
        EXPECT_EQ(programFolder(), temp.root() / "xdg" / "klovante");
        EXPECT_TRUE(fs::is_directory(temp.root() / "xdg" / "klovante"));
    }
    EnvOverride xdg("XDG_DATA_HOME", nullptr);
    EnvOverride user("HOME", temp.root().c_str());
    EXPECT_EQ(programFolder(), temp.root() / ".local/share/klovante");
    EXPECT_TRUE(fs::is_directory(temp.root() / ".local/share/klovante"));
}

TEST(Folders, FindNoCasePrefersExactSpelling) {
    test::TempFolders temp;
    const fs::path& h = temp.home();
    fs::create_directory(h / "Undo");
    touch(h / "Favorite.dat");
    touch(h / "FAVORITE.DAT");
    touch(h / "表.reg");
    EXPECT_EQ(findNoCase(h, "UNDO"), h / "Undo");
    EXPECT_EQ(findNoCase(h, "FAVORITE.DAT"), h / "FAVORITE.DAT");
    EXPECT_EQ(findNoCase(h, "Favorite.dat"), h / "Favorite.dat");
    EXPECT_EQ(findNoCase(h, "favorite.DAT"), h / "FAVORITE.DAT"); // smallest of the variants
    EXPECT_EQ(findNoCase(h, "表.REG"), h / "表.reg");
    EXPECT_EQ(findNoCase(h, "UNDO.DAT"), std::nullopt);
    EXPECT_EQ(findNoCase(h / "missing", "x"), std::nullopt);
}

TEST(Folders, ResolveAndEnsureIgnoreCase) {
    test::TempFolders temp;
    const fs::path& h = temp.home();
    fs::create_directories(h / "Undo" / "Old");
    EXPECT_EQ(resolveNoCase(h, "UNDO\\old/X.reg"), h / "Undo" / "Old" / "X.reg");
    EXPECT_EQ(resolveNoCase(h, "New\\Undo"), h / "New" / "Undo");
    EXPECT_EQ(resolveNoCase(h, ""), h);

    EXPECT_EQ(ensureFolderNoCase(h, "UNDO"), h / "Undo");
    EXPECT_FALSE(fs::exists(h / "UNDO"));
    EXPECT_EQ(ensureFolderNoCase(h, "BACKUP"), h / "BACKUP");
    EXPECT_TRUE(fs::is_directory(h / "BACKUP"));
}
