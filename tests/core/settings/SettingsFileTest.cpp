#include "core/settings/SettingsFile.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "support/TempFolders.h"
#include "support/WriteFailure.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace klv;

namespace {

using klv::test::WriteFailure;

using Strings = std::vector<std::string>;

class SettingsFileTest : public ::testing::Test {
protected:
    test::TempFolders folders;
    fs::path ini = folders.home() / "KLOVANTE.INI";
    SettingsFile settings{ini};

    void writeRaw(const std::string& text) { std::ofstream(ini, std::ios::binary) << text; }
    std::string raw() const {
        std::ifstream in(ini, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

} // namespace

TEST_F(SettingsFileTest, EveryKindRoundTrips) {
    settings.writeBool("OPTION", "OEDIT", false);
    settings.writeBool("OPTION", "SAVE", true);
    settings.writeInt("OPTION", "HIS_2", 50);
    settings.writeInt("VIEW", "MIN", INT_MIN);
    settings.writeInt("VIEW", "MAX", INT_MAX);
    const std::string location = sj("マイ コンピュータ\\HKEY_CURRENT_USER\\ソフトウェア");
    settings.writeString("OPTION", "OACS_PASS", location);
    settings.writeString("OPTION", "BLANKS", "  padded  ");
    settings.writeString("OPTION", "QUOTED", "\"in quotes\"");
    settings.writeString("OPTION", "EMPTY", "");
    const Strings history{sj("表示"), "", sj("ゾーン]"), " x "};
    settings.writeList("HISTRY", "0", history);
    const FontSetting font{sj("ＭＳ Ｐゴシック"), 9, FontSetting::Bold | FontSetting::Italic, 128,
                           -2147483640};
    settings.writeFont("RegView", "Font_L", font);
    const WindowPlacement placement{0, 3, -1, -1, 10, 20, 640, 480};
    settings.writePlacement("RegView", "RV", placement);

    EXPECT_FALSE(settings.readBool("OPTION", "OEDIT", true));
    EXPECT_TRUE(settings.readBool("OPTION", "SAVE", false));
    EXPECT_EQ(settings.readInt("OPTION", "HIS_2", 100), 50);
    EXPECT_EQ(settings.readInt("VIEW", "MIN", 0), INT_MIN);
    EXPECT_EQ(settings.readInt("VIEW", "MAX", 0), INT_MAX);
    EXPECT_EQ(settings.readString("OPTION", "OACS_PASS", "x"), location);
    EXPECT_EQ(settings.readString("OPTION", "BLANKS"), "  padded  ");
    EXPECT_EQ(settings.readString("OPTION", "QUOTED"), "\"in quotes\"");
    EXPECT_EQ(settings.readString("OPTION", "EMPTY", "default"), "");
    EXPECT_EQ(settings.readList("HISTRY", "0"), history);
    EXPECT_EQ(settings.readFont("RegView", "Font_L", {}), font);
    EXPECT_EQ(settings.readPlacement("RegView", "RV"), placement);

    // The encodings on disk: CR LF lines, bools as 1/0, plain texts without quotes.
    const std::string text = raw();
    EXPECT_NE(text.find("[OPTION]\r\nOEDIT=0\r\nSAVE=1\r\nHIS_2=50\r\n"), std::string::npos);
    EXPECT_NE(text.find("OACS_PASS=" + location + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("0.Count=4\r\n0.0=" + sj("表示") + "\r\n0.1=\r\n"), std::string::npos);
    EXPECT_NE(text.find("RV.XSize=640\r\nRV.YSize=480\r\n"), std::string::npos);
    for (std::size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', nl + 1))
        ASSERT_EQ(text[nl - 1], '\r') << "LF without CR at " << nl;
}

TEST_F(SettingsFileTest, MissingFileAndKeysReadAsDefaults) {
    const FontSetting def{"Sans", 10, 0, 1, 0};
    auto expectDefaults = [&] {
        EXPECT_TRUE(settings.readBool("OPTION", "OEDIT", true));
        EXPECT_FALSE(settings.readBool("OPTION", "OACS", false));
        EXPECT_EQ(settings.readInt("OPTION", "HIS_1", 30), 30);
        EXPECT_EQ(settings.readString("SETUP", "FLOPPY", "A"), "A");
        EXPECT_EQ(settings.readList("SEARCH", "1"), Strings{});
        // Without a count, the caller's list length says how many items to read.
        EXPECT_EQ(settings.readList("SEARCH", "1", {"a", "b"}), (Strings{"", ""}));
        EXPECT_EQ(settings.readFont("VIEW", "TREEVIEW", def), def);
        EXPECT_EQ(settings.readPlacement("BINARY", "FORM"), std::nullopt);
        EXPECT_TRUE(settings.sectionKeys("OPTION").empty());
        EXPECT_FALSE(settings.hasKey("OPTION", "OEDIT"));
    };
    expectDefaults();
    settings.eraseSection("OPTION");
    EXPECT_FALSE(fs::exists(ini)); // reads and no-op edits create nothing

    writeRaw("[OTHER]\nOEDIT=0\n[VIEW]\nTREEVIEW.Size=12\n[BINARY]\nFORM.Flags=0\nFORM.Show=1\n");
    EXPECT_TRUE(settings.readBool("OPTION", "OEDIT", true));
    // Fields that are missing keep the default's value; half a placement is no placement.
    FontSetting partial = def;
    partial.size = 12;
    EXPECT_EQ(settings.readFont("VIEW", "TREEVIEW", def), partial);
    EXPECT_EQ(settings.readPlacement("BINARY", "FORM"), std::nullopt);
}

TEST_F(SettingsFileTest, HandEditedValuesReadWhatTheyCan) {
    writeRaw("[OPTION]\r\n"
             "TWO=2\r\n"
             "NEG=-1\r\n"
             "ZERO = 0 \r\n"
             "WORD=yes\r\n"
             "\tSPACED  =  42  \r\n"
             "TRAIL=12abc\r\n"
             "PLUS=+7\r\n"
             "HUGE=99999999999\r\n"
             "EMPTY=\r\n"
             "QUOTED=\"  two words  \"\r\n"
             "HALFQUOTE=\"open\r\n"
             "DUP=first\r\n"
             "dup=second\r\n"
             "[FONT]\r\n"
             "F.Name=Serif\r\n"
             "F.Size=big\r\n");
    EXPECT_TRUE(settings.readBool("OPTION", "TWO", false));
    EXPECT_TRUE(settings.readBool("OPTION", "NEG", false));
    EXPECT_FALSE(settings.readBool("OPTION", "ZERO", true));
    EXPECT_TRUE(settings.readBool("OPTION", "WORD", true));
    EXPECT_FALSE(settings.readBool("OPTION", "WORD", false));
    EXPECT_EQ(settings.readInt("OPTION", "SPACED", 0), 42);
    EXPECT_EQ(settings.readInt("OPTION", "TRAIL", 5), 5);
    EXPECT_EQ(settings.readInt("OPTION", "PLUS", 5), 7);
    EXPECT_EQ(settings.readInt("OPTION", "HUGE", 5), 5);
    EXPECT_EQ(settings.readInt("OPTION", "EMPTY", 5), 5);
    EXPECT_EQ(settings.readString("OPTION", "EMPTY", "d"), "");
    EXPECT_EQ(settings.readString("OPTION", "QUOTED"), "  two words  ");
    EXPECT_EQ(settings.readString("OPTION", "HALFQUOTE"), "\"open");
    EXPECT_EQ(settings.readString("OPTION", "DUP"), "first");
    const FontSetting font = settings.readFont("FONT", "F", {"Sans", 10, 1, 0, 0});
    EXPECT_EQ(font.name, "Serif");
    EXPECT_EQ(font.size, 10);
    EXPECT_EQ(font.style, 1);

    // Writing replaces the first of duplicate keys, so the read follows the write.
    settings.writeString("OPTION", "DUP", "third");
    EXPECT_EQ(settings.readString("OPTION", "dup"), "third");
}

TEST_F(SettingsFileTest, ListCountsDecideTheItems) {
    writeRaw("[SEARCH]\r\n1.Count=4\r\n1.0=a\r\n1.2=c\r\n2.Count=-3\r\n2.0=x\r\n"
             "3.Count=junk\r\n3.0=p\r\n3.1=q\r\n3.2=r\r\n");
    EXPECT_EQ(settings.readList("SEARCH", "1"), (Strings{"a", "", "c", ""}));
    EXPECT_EQ(settings.readList("SEARCH", "2", {"keep"}), Strings{});
    EXPECT_EQ(settings.readList("SEARCH", "3", {"old", "old"}), (Strings{"p", "q"}));

    // A hand-edited count far beyond any sane list is capped, not a crash.
    writeRaw("[SEARCH]\r\n1.Count=2000000000\r\n1.5=five\r\n");
    const Strings capped = settings.readList("SEARCH", "1");
    ASSERT_EQ(capped.size(), static_cast<std::size_t>(SettingsFile::kMaxListItems));
    EXPECT_EQ(capped[5], "five");
}

TEST_F(SettingsFileTest, ShrinkingAListRemovesStaleItems) {
    settings.writeList("REG_SAVE", "FOLDER", {"a", "b", "c", "d"});
    settings.writeList("REG_SAVE", "FOLDER1", {"other"});
    // A stray item beyond the old count, and a name that is no item of the list.
    std::string text = raw();
    text += "FOLDER.7=stray\r\nFOLDER.01=not an item\r\n";
    writeRaw(text);

    settings.writeList("REG_SAVE", "FOLDER", {"z"});
    EXPECT_EQ(settings.readList("REG_SAVE", "FOLDER"), Strings{"z"});
    EXPECT_EQ(settings.readList("REG_SAVE", "FOLDER", {"", "", "", ""}),
              Strings{"z"}); // the count key wins over the caller's length
    for (const char* stale : {"FOLDER.1", "FOLDER.2", "FOLDER.3", "FOLDER.7"})
        EXPECT_FALSE(settings.hasKey("REG_SAVE", stale)) << stale;
    EXPECT_TRUE(settings.hasKey("REG_SAVE", "FOLDER.01"));
    EXPECT_EQ(settings.readList("REG_SAVE", "FOLDER1"), Strings{"other"});

    // A count raised by hand finds no old value behind it.
    settings.writeInt("REG_SAVE", "FOLDER.Count", 4);
    EXPECT_EQ(settings.readList("REG_SAVE", "FOLDER"), (Strings{"z", "", "", ""}));
    settings.writeList("REG_SAVE", "FOLDER", {});
    EXPECT_EQ(settings.readList("REG_SAVE", "FOLDER", {"x", "y"}), Strings{});
    EXPECT_FALSE(settings.hasKey("REG_SAVE", "FOLDER.0"));
}

TEST_F(SettingsFileTest, NamesCompareWithoutCaseButDoubleByteCharactersWhole) {
    writeRaw("[option]\r\noedit=0\r\n");
    EXPECT_FALSE(settings.readBool("OPTION", "OEDIT", true));
    settings.writeBool("Option", "OEdit", true);
    EXPECT_EQ(raw(), "[option]\r\nOEdit=1\r\n");

    // "ア" (83 41) and "ヂ" (83 61) differ only in the case of a trail byte's letter code.
    settings.writeString(sj("ア"), sj("キーア"), "1");
    settings.writeString(sj("ヂ"), sj("キーヂ"), "2");
    settings.writeString(sj("ア"), sj("キーヂ"), "3");
    EXPECT_EQ(settings.readString(sj("ア"), sj("キーア")), "1");
    EXPECT_EQ(settings.readString(sj("ヂ"), sj("キーヂ")), "2");
    EXPECT_EQ(settings.readString(sj("ア"), sj("キーヂ")), "3");
    EXPECT_EQ(settings.sectionKeys(sj("ア")), (Strings{sj("キーア"), sj("キーヂ")}));
    EXPECT_FALSE(settings.hasKey(sj("ヂ"), sj("キーア")));

    // "ゾ" ends in byte 5D, the code of "]": the header must not end there.
    settings.writeInt(sj("ゾーン"), "N", 7);
    EXPECT_EQ(settings.readInt(sj("ゾーン"), "n", 0), 7);
}

TEST_F(SettingsFileTest, DefaultPathFindsTheFileWithoutRegardToCase) {
    EXPECT_EQ(SettingsFile::defaultPath(), folders.home() / "KLOVANTE.INI");
    std::ofstream(folders.home() / "klovante.ini") << "[OPTION]\nHIS_1=5\n";
    const fs::path found = SettingsFile::defaultPath();
    EXPECT_EQ(found, folders.home() / "klovante.ini");
    SettingsFile lower(found);
    EXPECT_EQ(lower.readInt("OPTION", "HIS_1", 30), 5);
    lower.writeInt("OPTION", "HIS_1", 6);
    EXPECT_EQ(SettingsFile(SettingsFile::defaultPath()).readInt("OPTION", "HIS_1", 30), 6);
    EXPECT_FALSE(fs::exists(folders.home() / "KLOVANTE.INI")); // no second file
}

TEST_F(SettingsFileTest, WritingKeepsCommentsJunkAndOrder) {
    writeRaw("\xEF\xBB\xBF; settings\n"
             "stray=before any section\n"
             "[OPTION]\n"
             "# hand note\n"
             "OEDIT=1\n"
             "this line is junk\n"
             "[unclosed\n"
             "HIS_1 = 30\n"
             "\n"
             "\n"
             "[VIEW]\n"
             "TB=1"); // no final line break
    settings.writeInt("OPTION", "HIS_1", 40);
    settings.writeBool("OPTION", "SAVE", false);
    settings.writeBool("VIEW", "SB", false);
    settings.writeString("SETUP", "FLOPPY", "A");
    // The UTF-8 mark goes: the file is written back in CP932.
    EXPECT_EQ(raw(), "; settings\r\n"
                     "stray=before any section\r\n"
                     "[OPTION]\r\n"
                     "# hand note\r\n"
                     "OEDIT=1\r\n"
                     "this line is junk\r\n"
                     "[unclosed\r\n"
                     "HIS_1=40\r\n"
                     "SAVE=0\r\n"
                     "\r\n"
                     "\r\n"
                     "[VIEW]\r\n"
                     "TB=1\r\n"
                     "SB=0\r\n"
                     "\r\n"
                     "[SETUP]\r\n"
                     "FLOPPY=A\r\n");
    EXPECT_FALSE(settings.hasKey("OPTION", "stray"));
    EXPECT_TRUE(settings.readBool("OPTION", "OEDIT", false));
}

TEST_F(SettingsFileTest, EraseSectionAndSectionKeys) {
    writeRaw("[TOOLBAR]\r\nB=1\r\nA=2\r\n; note\r\nb=3\r\n[KEEP]\r\nX=1\r\n[toolbar]\r\nC=4\r\n");
    EXPECT_EQ(settings.sectionKeys("TOOLBAR"), (Strings{"B", "A", "C"}));
    settings.eraseSection("Toolbar");
    EXPECT_EQ(raw(), "[KEEP]\r\nX=1\r\n");
    EXPECT_TRUE(settings.sectionKeys("TOOLBAR").empty());
}

TEST_F(SettingsFileTest, FailedWritesThrowAndLeaveTheFileIntact) {
    const std::string old = "; mine\r\n[OPTION]\r\nHIS_1=30\r\n[HISTRY]\r\n0.Count=1\r\n0.0=a\r\n";
    writeRaw(old);
    {
        WriteFailure fullDevice(10);
        EXPECT_THROW(settings.writeInt("OPTION", "HIS_1", 31), FileWriteError);
        EXPECT_THROW(settings.writeBool("OPTION", "NEW", true), FileWriteError);
        EXPECT_THROW(settings.writeString("X", "Y", sj("値")), FileWriteError);
        EXPECT_THROW(settings.writeList("HISTRY", "0", {}), FileWriteError);
        EXPECT_THROW(settings.writeFont("VIEW", "TREEVIEW", {}), FileWriteError);
        EXPECT_THROW(settings.writePlacement("RegView", "RV", {}), FileWriteError);
        EXPECT_THROW(settings.eraseSection("OPTION"), FileWriteError);
        // Reads go on working meanwhile.
        EXPECT_EQ(settings.readInt("OPTION", "HIS_1", 0), 30);
    }
    EXPECT_EQ(raw(), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(folders.home()), fs::directory_iterator()), 2)
        << "only KLOVANTE.INI and WINDOWS";

    // Input that an INI line cannot hold is refused before anything is written.
    EXPECT_THROW(settings.writeString("OPTION", "A", "two\r\nlines"), std::invalid_argument);
    EXPECT_THROW(settings.writeString("OPTION", "[X]\nK", "v"), std::invalid_argument);
    EXPECT_THROW(settings.writeInt("OPTION", "K=V", 1), std::invalid_argument);
    EXPECT_THROW(settings.writeInt("SEC]", "K", 1), std::invalid_argument);
    EXPECT_THROW(settings.writeInt(" OPTION", "K", 1), std::invalid_argument);
    EXPECT_THROW(settings.writeList("HISTRY", "0", {"ok", "bad\n"}), std::invalid_argument);
    EXPECT_EQ(raw(), old);
}

TEST_F(SettingsFileTest, AnUnreadableFileReadsAsDefaultsAndIsNotOverwritten) {
    fs::create_directory(ini); // unreadable as a file, even for root
    EXPECT_EQ(settings.readInt("OPTION", "HIS_1", 30), 30);
    EXPECT_THROW(settings.writeInt("OPTION", "HIS_1", 1), FileWriteError);
    EXPECT_TRUE(fs::is_directory(ini));
}

TEST_F(SettingsFileTest, TwoObjectsOnOneFileSeeEachOthersWritesAtOnce) {
    SettingsFile dialog(ini);
    settings.writeInt("OPTION", "HIS_3", 70);
    EXPECT_EQ(dialog.readInt("OPTION", "HIS_3", 100), 70);
    dialog.writeInt("OPTION", "HIS_3", 80);
    dialog.writeList("SEARCH", "2", {sj("検索")});
    EXPECT_EQ(settings.readInt("OPTION", "HIS_3", 100), 80);
    EXPECT_EQ(settings.readList("SEARCH", "2"), Strings{sj("検索")});

    // Concurrent writers through separate objects lose none of each other's keys.
    auto writer = [&](const char* section) {
        SettingsFile own(ini);
        for (int i = 0; i < 25; ++i)
            own.writeInt(section, "K" + std::to_string(i), i);
    };
    std::thread a(writer, "A"), b(writer, "B");
    a.join();
    b.join();
    EXPECT_EQ(settings.sectionKeys("A").size(), 25u);
    EXPECT_EQ(settings.sectionKeys("B").size(), 25u);
    EXPECT_EQ(settings.readInt("B", "K24", 0), 24);
}

// A file saved in UTF-8 by a text editor reads as what it says (its shortcut keys work) and is
// written back in CP932; a CP932 file with Japanese text is never taken for UTF-8.
TEST_F(SettingsFileTest, AFileSavedInUtf8IsReadAsUtf8AndWrittenBackInCp932) {
    const std::string shortcut = "コピー(&C)　－　編集(&E)";
    writeRaw("[SHORTCUT]\n" + shortcut + "=Ctrl+Q\n[OPTION]\nNAME=日本語 ｱ\n");
    EXPECT_EQ(settings.readString("SHORTCUT", sj(shortcut)), "Ctrl+Q");
    EXPECT_EQ(settings.readString("OPTION", "NAME"), sj("日本語 ｱ"));
    settings.writeInt("OPTION", "HIS_1", 5);
    EXPECT_EQ(raw(), sj("[SHORTCUT]\r\n" + shortcut + "=Ctrl+Q\r\n[OPTION]\r\nNAME=日本語 ｱ\r\n") +
                         "HIS_1=5\r\n");

    for (const char* japanese : {"表示ソフト", "ｱｲｳｴｵ", "設定（標準）", "ﾃｽﾄ"}) {
        writeRaw(sj(std::string("[OPTION]\nNAME=") + japanese + "\n"));
        EXPECT_EQ(settings.readString("OPTION", "NAME"), sj(japanese)) << japanese;
    }
    writeRaw("\xEF\xBB\xBF[OPTION]\nNAME=ok\n"); // a mark alone says UTF-8 too
    EXPECT_EQ(settings.readString("OPTION", "NAME"), "ok");
}

// A garbled count never loads more than the list's limit, and writing a long list rescans
// nothing per item.
TEST_F(SettingsFileTest, ListsAreCutToTheirLimitWhenRead) {
    writeRaw("[HISTRY]\n0.Count=99999999\n0.0=a\n0.1=b\n0.2=c\n");
    EXPECT_EQ(settings.readList("HISTRY", "0", {}, 2), (Strings{"a", "b"}));
    EXPECT_EQ(settings.readList("HISTRY", "0", {}, 0), Strings{});
    EXPECT_EQ(settings.readList("HISTRY", "0").size(),
              static_cast<std::size_t>(SettingsFile::kMaxListItems));
    settings.writeList("HISTRY", "0", settings.readList("HISTRY", "0", {}, 2));
    EXPECT_EQ(raw(), "[HISTRY]\r\n0.Count=2\r\n0.0=a\r\n0.1=b\r\n");

    Strings many;
    for (int i = 0; i < 20000; ++i)
        many.push_back("item" + std::to_string(i));
    settings.writeList("HISTRY", "0", many);
    EXPECT_EQ(settings.readList("HISTRY", "0"), many);
    many.resize(3);
    settings.writeList("HISTRY", "0", many);
    EXPECT_EQ(raw(), "[HISTRY]\r\n0.Count=3\r\n0.0=item0\r\n0.1=item1\r\n0.2=item2\r\n");
}
