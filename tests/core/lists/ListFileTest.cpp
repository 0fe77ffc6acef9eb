// The list file format: exact bytes, round trips, and files refused whole.
#include "core/lists/ListFile.h"
#include "core/platform/Encoding.h"
#include "support/TempFolders.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace klv;

namespace {

std::string bytesOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

TEST(ListFileTest, WritesTheExactLayout) {
    EXPECT_EQ(encodeListFile({}), std::string("LVF\0\0", 5));
    const std::vector<ListRow> rows{{21, "a", {"xy", ""}}, {-1, "", {}}};
    const std::string expected("LVF\x02\x00"
                               "\x02\x00"
                               "\x15\x00\x00\x00"
                               "\x01\x00"
                               "a"
                               "\x02\x00"
                               "xy"
                               "\x00\x00"
                               "\x00\x00"
                               "\xFF\xFF\xFF\xFF"
                               "\x00\x00",
                               28);
    EXPECT_EQ(encodeListFile(rows), expected);
    EXPECT_EQ(decodeListFile(expected), rows);
    EXPECT_TRUE(decodeListFile(std::string("LVF\0\0", 5)).empty());
}

TEST(ListFileTest, RoundTripsJapaneseTextAndCutsTextsAtTheirFirstNul) {
    test::TempFolders folders;
    const auto file = folders.home() / "FAVORITE.DAT";
    const std::vector<ListRow> rows{
        {3, sj("表示"), {sj("HKEY_CURRENT_USER\\ソフト"), sj("コメント　全角")}},
        {0, std::string(kMaxListText, 'x'), {std::string(300, '\x82')}},
    };
    saveListFile(file, rows);
    EXPECT_EQ(loadListFile(file), rows);

    std::string withNul = encodeListFile({{1, std::string("ab\0cd", 5), {std::string("\0z", 2)}}});
    EXPECT_EQ(decodeListFile(withNul), (std::vector<ListRow>{{1, "ab", {""}}}));
}

TEST(ListFileTest, RefusesMissingForeignAndDamagedFilesWhole) {
    test::TempFolders folders;
    const auto file = folders.home() / "HISTRY.DAT";
    auto kindOf = [&](const std::string* bytes) {
        if (bytes)
            writeBytes(file, *bytes);
        try {
            loadListFile(file);
        } catch (const ListFileError& e) {
            return e.kind();
        }
        ADD_FAILURE() << "loaded";
        return ListFileError::Kind::Io;
    };
    EXPECT_EQ(kindOf(nullptr), ListFileError::Kind::Missing);
    const std::string foreign = "REGEDIT4\r\n";
    EXPECT_EQ(kindOf(&foreign), ListFileError::Kind::Missing);
    try {
        loadListFile(folders.home() / "none");
    } catch (const ListFileError& e) {
        EXPECT_EQ(std::string(e.what()), sj("ファイルが存在しません"));
    }
    const std::string whole = encodeListFile({{1, "one", {"a", "b"}}, {2, "two", {"c"}}});
    // Cut anywhere, the file is refused rather than half read.
    for (std::size_t len = 3; len < whole.size(); ++len) {
        const std::string cut = whole.substr(0, len);
        EXPECT_EQ(kindOf(&cut), ListFileError::Kind::Damaged) << len;
    }
    // Rows past the count (a count that wrapped) are no list either.
    const std::string extra = whole + std::string(8, '\0');
    EXPECT_EQ(kindOf(&extra), ListFileError::Kind::Damaged);
}

TEST(ListFileTest, NeverWritesAWrappedCountAndKeepsThePreviousFile) {
    test::TempFolders folders;
    const auto file = folders.home() / "VALUE.DAT";
    std::vector<ListRow> rows(kMaxListRows, ListRow{1, "r", {}});
    saveListFile(file, rows);
    EXPECT_EQ(loadListFile(file).size(), kMaxListRows);
    const std::string before = bytesOf(file);

    rows.push_back(ListRow{1, "one too many", {}});
    try {
        saveListFile(file, rows);
        ADD_FAILURE() << "saved";
    } catch (const ListFileError& e) {
        EXPECT_EQ(e.kind(), ListFileError::Kind::TooLarge);
    }
    EXPECT_THROW(saveListFile(file, {{1, std::string(kMaxListText + 1, 'x'), {}}}), ListFileError);
    EXPECT_EQ(bytesOf(file), before);
}

} // namespace
