#include "core/platform/DriveMap.h"

#include "core/platform/Encoding.h"
#include "support/TempFolders.h"

#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace klv;

TEST(DriveMap, FirstStartLinksCToDriveC) {
    test::TempFolders temp;
    const DriveMap map(temp.windir());
    EXPECT_EQ(map.drives(), std::vector<char>{'A'});
    EXPECT_EQ(map.kind('C'), DriveKind::NoDrive);
    EXPECT_EQ(map.kind('a'), DriveKind::Removable);
    EXPECT_EQ(map.folder('A'), std::nullopt);

    map.ensureDefaults(temp.home());
    EXPECT_TRUE(fs::is_symlink(temp.windir() / "dosdevices" / "c:"));
    EXPECT_EQ(map.folder('c'), fs::canonical(temp.home() / "drive_c"));
    EXPECT_EQ(map.kind('C'), DriveKind::Fixed);
    EXPECT_EQ(map.drives(), (std::vector<char>{'A', 'C'}));

    // The program folder may be moved as a whole and keep its drive.
    fs::rename(temp.home(), temp.root() / "moved");
    const DriveMap moved(temp.root() / "moved" / "WINDOWS");
    EXPECT_EQ(moved.folder('C'), fs::canonical(temp.root() / "moved" / "drive_c"));
}

TEST(DriveMap, UserMappingsAreKept) {
    test::TempFolders temp;
    const fs::path devices = temp.windir() / "dosdevices";
    const fs::path disk = temp.root() / "disk";
    fs::create_directories(devices);
    fs::create_directories(disk);
    fs::create_directory_symlink(disk, devices / "C:");
    fs::create_directory_symlink(disk, devices / "a:");
    fs::create_directory(devices / "d:");
    fs::create_directory_symlink(temp.root() / "gone", devices / "e:");
    fs::create_directory(devices / "1:");

    const DriveMap map(temp.windir());
    map.ensureDefaults(temp.home());
    EXPECT_FALSE(fs::exists(temp.home() / "drive_c"));
    EXPECT_EQ(map.folder('C'), fs::canonical(disk));
    EXPECT_EQ(map.kind('A'), DriveKind::Removable);
    EXPECT_EQ(map.folder('A'), fs::canonical(disk));
    EXPECT_EQ(map.kind('E'), DriveKind::NoDrive); // dangling link
    EXPECT_EQ(map.kind('1'), DriveKind::NoDrive);
    EXPECT_EQ(map.drives(), (std::vector<char>{'A', 'C', 'D'}));
}

TEST(DriveMap, WindowsPathsFindFilesWithoutRegardToCase) {
    test::TempFolders temp;
    const DriveMap map(temp.windir());
    map.ensureDefaults(temp.home());
    const fs::path c = fs::canonical(temp.home() / "drive_c");
    fs::create_directories(c / "Program Files" / "Klov");
    fs::create_directories(c / "表示");

    EXPECT_EQ(map.toLinuxPath("C:\\PROGRAM FILES\\klov\\App.exe"),
              c / "Program Files" / "Klov" / "App.exe");
    EXPECT_EQ(map.toLinuxPath("c:/program files/"), c / "Program Files");
    EXPECT_EQ(map.toLinuxPath("C:"), c);
    EXPECT_EQ(map.toLinuxPath("C:\\..\\..\\.\\x"), c / "x"); // never above the root
    // CP932 trail bytes 0x5C (表, ソ) are no separators.
    EXPECT_EQ(map.toLinuxPath(sj("C:\\表示\\ソフト.txt")), c / "表示" / "ソフト.txt");

    EXPECT_EQ(map.toLinuxPath("D:\\x"), std::nullopt);
    EXPECT_EQ(map.toLinuxPath("A:\\x"), std::nullopt);
    EXPECT_EQ(map.toLinuxPath("C:x"), std::nullopt);
    EXPECT_EQ(map.toLinuxPath("\\\\server\\share"), std::nullopt);
    EXPECT_EQ(map.toLinuxPath("Program Files"), std::nullopt);
}

TEST(DriveMap, FilesBelowADriveGetTheirWindowsPathBack) {
    test::TempFolders temp;
    const DriveMap map(temp.windir());
    map.ensureDefaults(temp.home());
    const fs::path file = temp.home() / "drive_c" / "Program Files" / "x.exe";
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
    EXPECT_EQ(map.toWindowsPath(file), "C:\\Program Files\\x.exe");
    EXPECT_EQ(map.toLinuxPath(*map.toWindowsPath(file)), fs::canonical(file));
    EXPECT_EQ(map.toWindowsPath(temp.home() / "drive_c"), "C:\\");
    EXPECT_EQ(map.toWindowsPath(temp.root()), std::nullopt); // below no drive
}
