#include "core/platform/AtomicFile.h"
#include "support/WriteFailure.h"

#include "core/platform/Encoding.h"
#include "support/TempFolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace klv;

namespace {

using klv::test::WriteFailure;

std::string fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(AtomicFile, WritesReplacesAndKeepsPermissionBitsAndLinks) {
    test::TempFolders temp;
    const fs::path file = temp.root() / "LIST.DAT";
    const std::string bytes = std::string("a\0b\r\n", 5) + sj("日本語") + "\n";
    writeFileAtomically(file, bytes);
    EXPECT_EQ(fileBytes(file), bytes);

    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    writeFileAtomically(file, "new");
    EXPECT_EQ(fileBytes(file), "new");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A linked file is updated behind its link; the link stays a link.
    fs::create_symlink("LIST.DAT", temp.root() / "link");
    writeFileAtomically(temp.root() / "link", "via link");
    EXPECT_TRUE(fs::is_symlink(temp.root() / "link"));
    EXPECT_EQ(fileBytes(file), "via link");

    writeFileAtomically(file, "");
    EXPECT_EQ(fileBytes(file), "");
    EXPECT_EQ(entries(temp.root()), (std::vector<std::string>{"LIST.DAT", "home", "link"}));
}

TEST(AtomicFile, InterruptedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    test::TempFolders temp;
    const fs::path folder = temp.home();
    const fs::path file = folder / "UNDO.DAT";
    const std::string old = "old contents\r\n";
    writeFileAtomically(file, old);
    const auto before = entries(folder);
    const std::string longer(100000, 'x');

    for (std::size_t failAfter :
         {std::size_t{0}, std::size_t{1}, std::size_t{65536}, longer.size() - 1}) {
        WriteFailure failure(failAfter);
        try {
            writeFileAtomically(file, longer);
            ADD_FAILURE() << "no error after " << failAfter << " bytes";
        } catch (const FileWriteError& e) {
            EXPECT_EQ(e.path(), file);
            EXPECT_NE(std::string(e.what()).find(sj(" に書き込めません")), std::string::npos);
            EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos);
            EXPECT_FALSE(e.reason().empty());
        }
        EXPECT_EQ(fileBytes(file), old) << failAfter;
        EXPECT_EQ(entries(folder), before) << failAfter;
    }

    // A new file is not created at all.
    {
        WriteFailure failure(3);
        EXPECT_THROW(writeFileAtomically(folder / "NEW.DAT", "abcdef"), FileWriteError);
    }
    EXPECT_EQ(entries(folder), before);

    // The limit counts per file, like free space that a removed temporary gives back.
    {
        WriteFailure failure(longer.size());
        writeFileAtomically(file, longer);
        writeFileAtomically(file, longer);
    }
    EXPECT_EQ(fileBytes(file), longer);
}

TEST(AtomicFile, UnwritablePlacesAndUnreadableFilesAreClearErrors) {
    test::TempFolders temp;
    const fs::path missing = temp.root() / "no such folder" / "X.INI";
    try {
        writeFileAtomically(missing, "x");
        ADD_FAILURE() << "no error";
    } catch (const FileWriteError& e) {
        EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos);
    }
    // The target is a folder: the rename fails and nothing is left behind.
    fs::create_directory(temp.home() / "DIR");
    EXPECT_THROW(writeFileAtomically(temp.home() / "DIR", "x"), FileWriteError);
    EXPECT_TRUE(fs::is_directory(temp.home() / "DIR"));
    EXPECT_EQ(entries(temp.home()), (std::vector<std::string>{"DIR", "WINDOWS"}));

    EXPECT_EQ(readFileBytes(missing), std::nullopt);
    EXPECT_EQ(readFileBytes(temp.home() / "none"), std::nullopt);
    EXPECT_THROW(readFileBytes(temp.home() / "DIR"), FileReadError);
    std::ofstream(temp.home() / "EMPTY");
    EXPECT_EQ(readFileBytes(temp.home() / "EMPTY"), std::string());
}
