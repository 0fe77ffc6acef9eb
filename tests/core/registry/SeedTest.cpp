#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/ValueText.h"
#include "support/TempFolders.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace klv;

namespace {

// Counts keys and values of a whole root through the access layer.
void countTree(TRegistry& reg, const std::string& path, int& keys, int& values) {
    ASSERT_TRUE(reg.OpenKeyAnyAccess(path, false)) << path;
    ++keys;
    std::vector<std::string> names;
    reg.ListValues(names);
    values += static_cast<int>(names.size());
    std::vector<std::string> subs;
    reg.ListSubKeys(subs);
    for (const auto& s : subs) {
        const std::string child = path + "\\" + s;
        if (!reg.OpenKeyAnyAccess(child, false))
            continue; // the no-access key
        countTree(reg, child, keys, values);
    }
}

} // namespace

TEST(Seed, FirstStartSeedsOnceWithEveryKindAndBothAccessLimits) {
    test::TempFolders folders;
    Store::resetShared();
    auto store = Store::system();
    ASSERT_TRUE(store->createdNow());
    TRegistry reg(store);

    int keys = 0, values = 0;
    for (auto root : {HKEY_CLASSES_ROOT_H, HKEY_CURRENT_USER_H, HKEY_LOCAL_MACHINE_H, HKEY_USERS_H,
                      HKEY_CURRENT_CONFIG_H, HKEY_DYN_DATA_H}) {
        reg.RootKey(root);
        countTree(reg, "", keys, values);
    }
    EXPECT_GT(keys, 60);
    EXPECT_GT(values, 100);

    reg.RootKey(HKEY_CURRENT_USER_H);
    ASSERT_TRUE(reg.OpenKey(sj("\\Software\\サンプル\\表計算ソフト\\設定"), false));
    EXPECT_EQ(reg.ReadText(sj("表示名")), sj("表計算ソフト"));
    EXPECT_EQ(reg.GetDataType(sj("ソート順")), ValueKind::Integer);
    EXPECT_EQ(reg.GetDataType(sj("最近使ったファイル")), ValueKind::MultiString);
    EXPECT_EQ(reg.GetDataType(sj("ウィンドウ位置")), ValueKind::Binary);
    EXPECT_EQ(reg.GetDataType(sj("保存先")), ValueKind::ExpandString);
    EXPECT_EQ(reg.GetDataType(sj("最終起動")), ValueKind::Unknown);

    reg.RootKey(HKEY_LOCAL_MACHINE_H);
    EXPECT_FALSE(reg.OpenKey("\\SYSTEM\\CurrentControlSet\\Enum", false));
    EXPECT_TRUE(reg.OpenKeyAnyAccess("\\SYSTEM\\CurrentControlSet\\Enum", false));
    EXPECT_FALSE(reg.CurrentKeyWritable());
    EXPECT_FALSE(reg.OpenKeyAnyAccess("\\SECURITY", false));

    // A second start finds the file and does not seed again.
    reg.RootKey(HKEY_CURRENT_USER_H);
    ASSERT_TRUE(reg.OpenKey("\\Control Panel\\Mouse", false));
    reg.WriteString("MouseSpeed", "2");
    store.reset();
    Store::resetShared();
    auto again = Store::system();
    EXPECT_FALSE(again->createdNow());
    TRegistry reg2(again);
    ASSERT_TRUE(reg2.OpenKey("\\Control Panel\\Mouse", false));
    EXPECT_EQ(reg2.ReadText("MouseSpeed"), "2");
}
