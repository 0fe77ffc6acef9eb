// The quick search: the byte search with its folding and shifts, the file finder, and the scan
// of the system folder's data files.
#include "core/search/QuickSearch.h"
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "support/TempFolders.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

using namespace klv;
namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned char lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

class QuickSearchTest : public ::testing::Test {
protected:
    QuickSearchTest() { Store::resetShared(); }
    ~QuickSearchTest() override { Store::resetShared(); }
    test::TempFolders folders;
};

} // namespace

TEST(ByteSearchTest, FindsTheTextAtAnyBytePositionWithoutRegardToCase) {
    EXPECT_EQ(ByteSearch("abab").find("xbabab"), 2u);
    EXPECT_EQ(ByteSearch("SOFTWARE").find("HKLM\\Software\\x"), 5u);
    EXPECT_EQ(ByteSearch("software").find(std::string("\0\0SOFTWARE", 10)), 2u);
    EXPECT_EQ(ByteSearch("tail").find("at the TAIL"), 7u);     // ends on the last byte
    EXPECT_EQ(ByteSearch("abc").find("ab"), ByteSearch::npos); // longer than the bytes
    // A shift must not jump over a match that starts right after the window.
    EXPECT_EQ(ByteSearch("ab").find("xxab"), 2u);
    EXPECT_EQ(ByteSearch("aab").find("aaaab"), 2u);
    // The empty text is everywhere, even in nothing.
    EXPECT_EQ(ByteSearch("").find(""), 0u);
    EXPECT_EQ(ByteSearch("").find("x"), 0u);
}

TEST(ByteSearchTest, FoldsOnlyCapitalLettersAndEachByteAlone) {
    // Neighbours of the letters and bytes past ASCII stay as they are.
    EXPECT_FALSE(ByteSearch("@[").foundIn("`{"));
    EXPECT_FALSE(ByteSearch("\xC1").foundIn("\xE1")); // half-width katakana, not letters
    // "ア" is 83 41 and "ヂ" is 83 61: the trail byte 41 is the code of "A", so folded alone
    // the two characters match each other, as the byte search is meant to.
    const std::string a = sj("ア");
    const std::string di = sj("ヂ");
    ASSERT_EQ(a, "\x83\x41");
    ASSERT_EQ(di, "\x83\x61");
    EXPECT_TRUE(ByteSearch(a).foundIn("xx" + di));
    EXPECT_TRUE(ByteSearch(di).foundIn(a + "yy"));
}

TEST(ByteSearchTest, TablesFoldEveryByteAndShiftPastTheWindow) {
    const ByteSearch s("AbaB");
    EXPECT_EQ(s.foldedText(), "abab");
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        EXPECT_EQ(s.fold(byte), lower(byte)) << b;
    }
    // Text length plus one for bytes not in the text; else the distance from the byte's last
    // place in the text to its end.
    EXPECT_EQ(s.shift('a'), 2u);
    EXPECT_EQ(s.shift('b'), 1u);
    EXPECT_EQ(s.shift('x'), 5u);
    EXPECT_EQ(s.shift('A'), 5u); // indexed by folded values: 'A' never comes up
    // A new text replaces both tables.
    ByteSearch t("abab");
    t.setText("xyz");
    EXPECT_EQ(t.shift('a'), 4u);
    EXPECT_EQ(t.shift('x'), 3u);
    EXPECT_FALSE(t.foundIn("abab"));
}

TEST(ByteSearchTest, AgreesWithAPlainSearchOverRandomBytes) {
    // Few distinct bytes, so that near misses and overlaps are common.
    const std::string alphabet("aAbB\x83\x41\x61\0Zz", 10);
    std::mt19937 rng(20240611);
    auto randomBytes = [&](std::size_t n) {
        std::string s(n, '\0');
        for (char& c : s)
            c = alphabet[rng() % alphabet.size()];
        return s;
    };
    const auto sameFolded = [](char x, char y) {
        return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
    };
    for (int round = 0; round < 20000; ++round) {
        const std::string text = randomBytes(1 + rng() % 6);
        const std::string hay = randomBytes(rng() % 80);
        const auto it = std::search(hay.begin(), hay.end(), text.begin(), text.end(), sameFolded);
        const std::size_t expected =
            it == hay.end() ? ByteSearch::npos : static_cast<std::size_t>(it - hay.begin());
        ASSERT_EQ(ByteSearch(text).find(hay), expected)
            << "text " << ::testing::PrintToString(text) << " in " << ::testing::PrintToString(hay);
    }
}

TEST(FileNameMaskTest, ComparesWithoutCaseAndWholeUnlessWildcardsSayOtherwise) {
    EXPECT_TRUE(fileNameMatches("USER.DAT", "user.dat"));
    EXPECT_FALSE(fileNameMatches("USER.DAT", "USER.DAT.bak"));
    EXPECT_FALSE(fileNameMatches("USER.DAT", "XUSER.DAT"));
    EXPECT_TRUE(fileNameMatches("*.dat", "SYSTEM.DAT"));
    EXPECT_TRUE(fileNameMatches("s?stem.*", "SYSTEM.DAT"));
    EXPECT_TRUE(fileNameMatches("*a*b", "xxaybab"));
    EXPECT_FALSE(fileNameMatches("*a*b", "xxaybax"));
    EXPECT_FALSE(fileNameMatches("?", ""));
}

TEST_F(QuickSearchTest, TheFinderReadsMatchingFilesOfOneFolderAndStopsAtTheFirst) {
    const fs::path dir = folders.windir();
    writeFile(dir / "a.dat", "needle");
    writeFile(dir / "b.dat", "needle");
    writeFile(dir / "c.dat", "needle");
    writeFile(dir / "other.txt", "nothing");
    fs::create_directory(dir / "sub");
    writeFile(dir / "sub" / "deep.dat", "hidden");
    int pumped = 0;
    const FileFinder finder(dir, [&] { ++pumped; });

    // Before the folder, and before each file looked at until the first that contains it.
    const auto found = finder.findContaining("*.DAT", ByteSearch("NEEDLE"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->parent_path(), dir);
    EXPECT_EQ(fileBytes(*found), "needle");
    EXPECT_LE(pumped, 4); // the folder, other.txt and sub at most, and the first .dat

    pumped = 0;
    EXPECT_FALSE(finder.findContaining("*.dat", ByteSearch("hidden"))); // not in sub-folders
    EXPECT_EQ(pumped, 1 + 5);
    EXPECT_FALSE(finder.findContaining("other", ByteSearch("nothing"))); // the whole name
    EXPECT_TRUE(finder.findContaining("OTHER.TXT", ByteSearch("nothing")));
    EXPECT_FALSE(FileFinder(dir / "missing").findContaining("*", ByteSearch("")));
}

TEST_F(QuickSearchTest, FilesThatCannotBeReadCountAsNotContainingTheText) {
    const fs::path dir = folders.windir();
    fs::create_directory(dir / "USER.DAT");                   // a folder
    fs::create_symlink(dir / "gone", dir / "SYSTEM.DAT");     // leads nowhere
    ASSERT_EQ(::mkfifo((dir / "PIPE.DAT").c_str(), 0600), 0); // would block a reader
    const FileFinder finder(dir);
    for (const char* mask : {"USER.DAT", "SYSTEM.DAT", "PIPE.DAT"})
        EXPECT_FALSE(finder.findContaining(mask, ByteSearch(""))) << mask;
    EXPECT_FALSE(quickSearchRegistry(dir, ""));
}

TEST_F(QuickSearchTest, ScansUserDatThenSystemDat) {
    const fs::path dir = folders.windir();
    // Nothing there: not even the empty text is found.
    EXPECT_FALSE(quickSearchRegistry(dir, ""));
    EXPECT_FALSE(quickSearchRegistry(folders.root() / "no-such-folder", ""));

    writeFile(dir / "user.dat", "HKCU\\Software\\Vendor");
    EXPECT_TRUE(quickSearchRegistry(dir, "")); // an existing file holds the empty text
    EXPECT_TRUE(quickSearchRegistry(dir, "software\\VENDOR"));
    EXPECT_FALSE(quickSearchRegistry(dir, "Machine"));

    // A SYSTEM.DAT that is no store: scanned as bytes, and left exactly as it was.
    const std::string system = "not a store, but Machine settings";
    writeFile(dir / "SYSTEM.DAT", system);
    int pumped = 0;
    EXPECT_TRUE(quickSearchRegistry(dir, "MACHINE", [&] { ++pumped; }));
    EXPECT_GE(pumped, 5); // both folder visits, both files in the first, one in the second
    EXPECT_EQ(fileBytes(dir / "SYSTEM.DAT"), system);
    EXPECT_FALSE(fs::exists(dir / "SYSTEM.DAT-wal"));
    EXPECT_FALSE(quickSearchRegistry(dir, "Machine settings!"));
}

TEST_F(QuickSearchTest, AValueWrittenAMomentAgoIsFoundInTheStoreFile) {
    const fs::path file = folders.storeFile();
    const auto store = Store::shared(file, Store::Options{true, false});
    TRegistry reg(store);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Quick", true));
    const std::string data = sj("速いNeedle-7f3a");
    reg.WriteString("Fresh", data);
    // The write waits in the log; the file itself does not hold it yet.
    ASSERT_EQ(fileBytes(file).find(data), std::string::npos);

    EXPECT_TRUE(quickSearchRegistry(folders.windir(), sj("速いneedle-7F3A")));
    EXPECT_NE(fileBytes(file).find(data), std::string::npos);
    EXPECT_FALSE(quickSearchRegistry(folders.windir(), sj("遅いNeedle-7f3a")));
    EXPECT_EQ(reg.ReadText("Fresh"), data); // the program's connection goes on as before
}
