// The panel lists' rules: limits and moves of favorites and history, and the value holder's
// rows, flags and what a paste writes, through VALUE.DAT and back.
#include "core/lists/PanelLists.h"
#include "core/platform/Encoding.h"
#include "core/registry/Store.h"
#include "support/TempFolders.h"

#include <gtest/gtest.h>

using namespace klv;

namespace {

RawValue value(std::string name, std::uint32_t type, std::string data, bool wide = false) {
    RawValue v;
    v.name.bytes = std::move(name);
    v.type = type;
    v.data = std::move(data);
    v.dataWide = wide;
    return v;
}

} // namespace

TEST(PanelListsTest, LimitsMovesAndLocations) {
    std::vector<ListRow> rows;
    for (int i = 0; i < 31; ++i)
        insertNewest(rows, favoriteRow("L" + std::to_string(i), "c"), kDefaultFavoriteLimit);
    ASSERT_EQ(rows.size(), 30u);
    EXPECT_EQ(favoriteLocation(rows.front()), "L30");
    EXPECT_EQ(favoriteLocation(rows.back()), "L1"); // L0, the oldest, went
    insertNewest(rows, favoriteRow("x", ""), -5);
    EXPECT_TRUE(rows.empty());

    rows = {favoriteRow("a", "1"), favoriteRow("b", "2"), favoriteRow("c", "3")};
    EXPECT_FALSE(moveRow(rows, 0, -1));
    EXPECT_FALSE(moveRow(rows, 2, +1));
    EXPECT_FALSE(moveRow(rows, 7, -1));
    EXPECT_TRUE(moveRow(rows, 2, -1));
    EXPECT_EQ(favoriteLocation(rows[1]), "c");
    EXPECT_EQ(rows[1].subItems, std::vector<std::string>{"3"});

    const ListRow h = historyRow("2026/12/10 10:00:00", "HKEY_CURRENT_USER\\Software");
    EXPECT_EQ(h.image, kHistoryImage);
    EXPECT_EQ(historyLocation(h), "HKEY_CURRENT_USER\\Software");
    EXPECT_EQ(splitLocation("HKEY_CURRENT_USER\\Software\\A").keyPath, "\\Software\\A");
    EXPECT_EQ(splitLocation("HKEY_USERS").root, "HKEY_USERS");
    EXPECT_EQ(splitLocation("HKEY_USERS").keyPath, "");
}

TEST(PanelListsTest, EveryValuePastesBackExactlyThroughTheFile) {
    test::TempFolders folders;
    std::string mega;
    for (int i = 0; i < (1 << 20); ++i)
        mega += static_cast<char>(i * 7);
    const std::vector<RawValue> values = {
        value("s", REG_SZ, std::string("text\0", 5)),
        value("", REG_SZ, std::string("default\0", 8)),
        value("e", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9)),
        value("d", REG_DWORD, std::string("\xFF\0\0\0", 4)),
        value("m", REG_MULTI_SZ, std::string("a\0\0", 3)),
        value("big", REG_BINARY, mega),
        value("q", 11 /* REG_QWORD */, std::string(8, '\x01')),
        value("w", REG_SZ, utf8ToUtf16("値🍣") + std::string(2, '\0'), true),
    };
    HolderOptions options;
    options.mode = 1;
    std::vector<ListRow> holder;
    for (const RawValue& v : values)
        addToHolder(holder, {holderRow(v, options, "2026/12/10 10:00:00", "HKEY_CURRENT_USER\\A")},
                    options);
    RawValue wideName = values[0];
    wideName.name = StoredName{utf8ToUtf16("名前😀"), true};
    addToHolder(holder, {holderRow(wideName, options, "t", "l")}, options);

    const auto file = folders.home() / "VALUE.DAT";
    saveListFile(file, holder);
    const std::vector<ListRow> back = loadListFile(file);
    ASSERT_EQ(back.size(), values.size() + 1);
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(pastedValue(back[i]), values[i]) << i;
        EXPECT_TRUE(pasteFlag(back[i]));
        EXPECT_EQ(shownSubItems(back[i]), 5u);
    }
    EXPECT_EQ(pastedValue(back.back()), wideName);
    EXPECT_EQ(back[3].subItems[0], "255 (0x000000FF)");
    EXPECT_EQ(cp932ToUtf8(back[5].subItems[1]), "バイナリ");
    EXPECT_LE(back[5].subItems[0].size(), kMaxListText); // shown cut short
    EXPECT_EQ(back[5].subItems[0].substr(0, 9), "00 07 0E ");
    EXPECT_EQ(back[6].image, 3); // a QWORD shows as binary, pastes as itself
}

TEST(PanelListsTest, RowsOfAnOlderFilePasteByTheirImage) {
    const auto row = [](int image, std::string name, std::string data) {
        return ListRow{image, std::move(name), {std::move(data), "", sj("はい")}};
    };
    EXPECT_EQ(pastedValue(row(4, "d", "255 (0x000000FF)")),
              value("d", REG_DWORD, std::string("\xFF\0\0\0", 4)));
    EXPECT_EQ(pastedValue(row(4, "d", "4294967296")), value("d", REG_DWORD, std::string(4, '\0')));
    EXPECT_FALSE(pastedValue(row(4, "d", "x")));
    EXPECT_EQ(pastedValue(row(3, "b", "0A ff 1")), value("b", REG_BINARY, "\x0A\xFF"));
    EXPECT_EQ(pastedValue(row(6, "m", "a\r\nb\r\n")),
              value("m", REG_MULTI_SZ, std::string("a\0b\0\0", 5)));
    EXPECT_EQ(pastedValue(row(10, "", "%X%")), value("", REG_EXPAND_SZ, std::string("%X%\0", 4)));
    EXPECT_FALSE(pastedValue(row(7, "x", "")));
}

TEST(PanelListsTest, HolderModesFlagsAndItsLimit) {
    HolderOptions options; // MODE 0
    const RawValue v = value("s", REG_SZ, std::string("x\0", 2));
    std::vector<ListRow> holder;
    addToHolder(holder, {holderRow(v, options, "t", "l"), holderRow(v, options, "t", "l")},
                options);
    addToHolder(holder, {holderRow(v, options, "t", "l")}, options);
    EXPECT_EQ(holder.size(), 1u); // the second copy replaced the first
    addToHolder(holder, {}, options);
    EXPECT_TRUE(holder.empty()); // a copy of nothing empties it

    options.mode = 1;
    options.date = false; // the source moves into the time's column
    addToHolder(holder, {holderRow(v, options, "t", "HKEY_CURRENT_USER\\A")}, options);
    addToHolder(holder, {holderRow(v, options, "t", "l")}, options);
    ASSERT_EQ(holder.size(), 2u);
    EXPECT_EQ(holder[0].subItems[3], "HKEY_CURRENT_USER\\A");
    togglePasteFlag(holder[0]);
    EXPECT_FALSE(pasteFlag(holder[0]));
    EXPECT_EQ(cp932ToUtf8(holder[0].subItems[2]), "いいえ");
    EXPECT_EQ(removeUnflagged(holder), 1u);
    for (ListRow& r : holder)
        setPasteFlag(r, false);
    EXPECT_FALSE(pasteFlag(holder[0]));

    // Past what VALUE.DAT can hold: refused, the holder as it was.
    std::vector<ListRow> many(kMaxListRows, holderRow(v, options, "t", "l"));
    EXPECT_THROW(addToHolder(holder, many, options), ListFileError);
    EXPECT_EQ(holder.size(), 1u);
    many.pop_back();
    addToHolder(holder, many, options);
    EXPECT_EQ(holder.size(), kMaxListRows);
}
