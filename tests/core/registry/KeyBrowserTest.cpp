#include "core/registry/KeyBrowser.h"
#include "core/platform/Encoding.h"
#include "support/TempFolders.h"

#include <gtest/gtest.h>

using namespace klv;

TEST(KeyBrowser, NavigationComponentsDropEmptyPartsAndKeepDoubleByteNames) {
    using V = std::vector<std::string>;
    EXPECT_EQ(navigationComponents("HKEY_USERS\\\\.DEFAULT\\"), (V{"HKEY_USERS", ".DEFAULT"}));
    EXPECT_EQ(navigationComponents("\\A\\\\\\B"), (V{"A", "B"}));
    EXPECT_EQ(navigationComponents(""), V{});
    // 表 and ソ end in 0x5C, which is not a separator.
    EXPECT_EQ(navigationComponents(sj("HKEY_CURRENT_USER\\表\\ソフト")),
              (V{"HKEY_CURRENT_USER", sj("表"), sj("ソフト")}));
    EXPECT_TRUE(sameNameIgnoringCase("control panel", "Control Panel"));
    EXPECT_FALSE(sameNameIgnoringCase(sj("ヂ"), sj("ア"))); // 83 61 against 83 41
}

TEST(KeyBrowser, SubKeysAndValuesAreSortedWithTheirFlags) {
    test::TempFolders folders;
    TRegistry reg(Store::open(folders.storeFile()));
    reg.RootKey(HKEY_CURRENT_USER_H);
    for (const char* k : {"\\P\\beta\\deep", "\\P\\Alpha", "\\P\\gamma"})
        ASSERT_TRUE(reg.CreateKey(k));
    ASSERT_TRUE(reg.OpenKey("\\P", false));
    reg.WriteString("b", "2");
    reg.WriteString("A", "1");
    reg.WriteInteger("c", 3);

    SubKeyListing l = listSubKeysForTree(reg, HKEY_CURRENT_USER_H, "\\P");
    ASSERT_TRUE(l.opened);
    EXPECT_FALSE(l.readOnly);
    ASSERT_EQ(l.subKeys.size(), 3u);
    EXPECT_EQ(l.subKeys[0].name, "Alpha");
    EXPECT_EQ(l.subKeys[1].name, "beta");
    EXPECT_TRUE(l.subKeys[1].hasSubKeys);
    EXPECT_FALSE(l.subKeys[2].hasSubKeys);

    reg.store().setAccess(*reg.store().child(Store::rootId(1), "P"), KeyAccess::ReadOnly);
    l = listSubKeysForTree(reg, HKEY_CURRENT_USER_H, "\\P");
    EXPECT_TRUE(l.opened);
    EXPECT_TRUE(l.readOnly);
    EXPECT_FALSE(listSubKeysForTree(reg, HKEY_CURRENT_USER_H, "\\Missing").opened);

    ValueListing v = listValuesForList(reg, HKEY_CURRENT_USER_H, "P");
    ASSERT_TRUE(v.opened);
    ASSERT_EQ(v.rows.size(), 3u);
    EXPECT_EQ(v.rows[0].name, "A");
    EXPECT_EQ(v.rows[2].data, "3 (0x00000003)");
    ASSERT_TRUE(v.info.has_value());
    EXPECT_EQ(v.info->subKeys, 3u);
    const std::string status = keyStatusText(*v.info);
    EXPECT_EQ(status.rfind(sj("サブキーの数 : 3   値の数 : 3   最終書込日時 : "), 0), 0u) << status;
}
