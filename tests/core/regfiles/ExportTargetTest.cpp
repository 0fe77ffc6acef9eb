// The export dialog's file naming and exporter command lines.
#include "core/regfiles/ExportTarget.h"
#include "core/platform/Encoding.h"

#include <gtest/gtest.h>
#include <set>

using namespace klv;

namespace {
const std::set<std::string> kFolders = {"C:\\Work", "C:\\Work\\", "D:\\Full\\", "C:\\"};
bool exists(const std::string& folder) {
    return kFolders.count(folder) > 0;
}
} // namespace

TEST(ExportTargetTest, FileNamesFolderAndTheirErrors) {
    ExportTarget t = exportTarget("backup", "C:\\Work", false, exists);
    EXPECT_EQ(t.fileName, "backup.reg");
    EXPECT_EQ(t.target, "C:\\Work\\backup.reg");
    EXPECT_EQ(exportTarget("backup", "C:\\Work", true, exists).target, "C:\\Work\\backup.txt");
    EXPECT_EQ(exportTarget("backup.old", "C:\\Work\\", false, exists).target,
              "C:\\Work\\backup.reg");
    // A full path whose folder exists ignores the folder field, even an empty one.
    t = exportTarget("D:\\Full\\x.txt", "", false, exists);
    EXPECT_EQ(t.target, "D:\\Full\\x.reg");
    EXPECT_FALSE(t.error);
    // A path whose folder is not there is the folder error, whatever the folder field says.
    EXPECT_EQ(exportTarget("E:\\No\\y", "C:\\", false, exists).error, ExportNameError::NoFolder);
    // The dots of folders are not the name's; 表 (95 5C) is no separator.
    EXPECT_EQ(withExportExtension("C:\\a.b\\name", true), "C:\\a.b\\name.txt");
    EXPECT_EQ(withExportExtension("\x95\x5C.x", false), "\x95\x5C.reg");

    EXPECT_EQ(exportTarget("", "C:\\Work", false, exists).error, ExportNameError::NoFileName);
    t = exportTarget("backup", "C:\\Missing", false, exists);
    EXPECT_EQ(t.error, ExportNameError::NoFolder);
    EXPECT_TRUE(t.target.empty());
    EXPECT_EQ(cp932ToUtf8(exportNameErrorText(ExportNameError::NoFolder)),
              "フォルダ名が指定されていません。再度、操作をやり直してください。");
}

TEST(ExportTargetTest, TheExporterByFamilyAndScope) {
    ExporterCommand c =
        exporterCommand(true, false, ExportScope::Key, "HKEY_CURRENT_USER\\A", "C:\\x.reg");
    EXPECT_FALSE(c.consoleTool);
    EXPECT_EQ(c.arguments, (std::vector<std::string>{"/E", "C:\\x.reg", "HKEY_CURRENT_USER\\A"}));
    c = exporterCommand(true, true, ExportScope::Root, "HKEY_USERS", "C:\\x.reg");
    EXPECT_TRUE(c.consoleTool);
    EXPECT_EQ(c.arguments, (std::vector<std::string>{"EXPORT", "HKEY_USERS", "C:\\x.reg", "/nt4"}));
    // The Windows 95 family has no Unicode choice: always the registry editor.
    c = exporterCommand(false, true, ExportScope::Everything, "ignored", "C:\\all.reg");
    EXPECT_FALSE(c.consoleTool);
    EXPECT_EQ(c.arguments, (std::vector<std::string>{"/E", "C:\\all.reg"}));
    // The console tool's whole registry: no empty key argument before the file.
    c = exporterCommand(true, true, ExportScope::Everything, "ignored", "C:\\all.reg");
    EXPECT_EQ(c.arguments, (std::vector<std::string>{"EXPORT", "C:\\all.reg", "/nt4"}));
}
