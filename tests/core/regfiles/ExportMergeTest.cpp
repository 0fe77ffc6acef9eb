// The several-keys export: joining the per-key files, export list files, and the exporters run
// and watched as a batch (against the real klovreg and against stand-in programs).
#include "core/regfiles/ExportMerge.h"
#include "core/regfiles/ExportBatch.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/Registry.h"
#include "support/RegTestSupport.h"
#include "support/TempFolders.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace klv;
using namespace klv::test;
namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const fs::path& p, std::string_view bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// A file of the form from UTF-8 source text: CP932 bytes, or UTF-16LE with a byte order mark.
std::string inForm(RegFileForm form, std::string_view utf8, bool bom = true) {
    if (form == RegFileForm::Regedit4)
        return sj(utf8);
    return (bom ? std::string("\xFF\xFE") : std::string()) + utf8ToUtf16(utf8);
}

std::vector<std::string> numberedFiles(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])))
            found.push_back(name);
    }
    return found;
}

class ExportMergeTest : public ::testing::TestWithParam<RegFileForm> {
protected:
    TempFolders folders;
    const fs::path& home = folders.home();
};

} // namespace

TEST(ExportMergeLines, SplitAtLineFeedsWithOrWithoutCarriageReturns) {
    const auto r4 = RegFileForm::Regedit4;
    EXPECT_EQ(splitRegLines("a\r\nb", r4), (Lines{"a", "b"}));
    EXPECT_EQ(splitRegLines("a\nb\r\n", r4), (Lines{"a", "b"}));
    EXPECT_EQ(splitRegLines("a\r\n\r\n", r4), (Lines{"a", ""}));
    EXPECT_EQ(splitRegLines("\r\n", r4), (Lines{""}));
    EXPECT_EQ(splitRegLines("", r4), Lines{});
    EXPECT_EQ(splitRegLines("a\rb\r\r\n", r4), (Lines{"a\rb\r"})); // only the CR before LF goes
    // CP932 trail bytes are never line ends: "表" is 0x95 0x5C.
    EXPECT_EQ(splitRegLines(sj("表\r\n"), r4), (Lines{sj("表")}));

    // UTF-16LE: a code unit whose low byte is 0x0A (U+010A) or whose high byte is (U+0A0D) is
    // no line end.
    const auto u = RegFileForm::Unicode;
    const std::string odd = utf8ToUtf16("xĊ\u0A0Dy");
    EXPECT_EQ(splitRegLines(odd + utf8ToUtf16("\r\nz"), u), (Lines{odd, utf8ToUtf16("z")}));
    EXPECT_EQ(splitRegLines(utf8ToUtf16("a\n\nb\n"), u),
              (Lines{utf8ToUtf16("a"), "", utf8ToUtf16("b")}));
    EXPECT_THROW(splitRegLines(std::string("a\0b", 3), u), ExportMergeError);
}

TEST_P(ExportMergeTest, OneKeyIsItsExportWithTheHeaderOfTheForm) {
    const RegFileForm form = GetParam();
    const bool wide = form == RegFileForm::Unicode;
    // Whatever the exporter wrote first, the header of the chosen form replaces it.
    write(home / "0.reg", inForm(form, "ignored header\r\n\r\n[HKEY_CURRENT_USER\\表]\r\n"
                                       "\"名\"=\"値\"\r\n\r\n"));
    const RegFileLines merged = mergePerKeyFiles(home, 1, form);
    EXPECT_EQ(regFileBytes(merged),
              inForm(form, std::string(wide ? "Windows Registry Editor Version 5.00" : "REGEDIT4") +
                               "\r\n\r\n[HKEY_CURRENT_USER\\表]\r\n\"名\"=\"値\"\r\n\r\n"));

    const fs::path target = folders.root() / "out.reg";
    saveMergedExport(merged, target, home);
    EXPECT_EQ(read(target), regFileBytes(merged));
    EXPECT_TRUE(numberedFiles(home).empty());
}

TEST_P(ExportMergeTest, ThreeKeysAreTheHeaderThenEachFileFromItsThirdLine) {
    const RegFileForm form = GetParam();
    const bool wide = form == RegFileForm::Unicode;
    const std::string header = wide ? "Windows Registry Editor Version 5.00" : "REGEDIT4";
    // LF-only lines and a Unicode file without its byte order mark are read alike.
    write(home / "0.reg", inForm(form, header + "\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"a\"=\"1\"\r\n"
                                                "\r\n[HKEY_CURRENT_USER\\A\\予]\r\n\r\n"));
    write(home / "1.reg",
          inForm(form, header + "\n\n[HKEY_LOCAL_MACHINE\\B]\n@=\"ソ\"\n\n", false));
    write(home / "2.reg", inForm(form, header + "\r\n\r\n[HKEY_USERS\\C]\r\n\"c\"=dword:00000003"));
    const RegFileLines merged = mergePerKeyFiles(home, 3, form);
    EXPECT_EQ(regFileBytes(merged),
              inForm(form, header + "\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"a\"=\"1\"\r\n\r\n"
                                    "[HKEY_CURRENT_USER\\A\\予]\r\n\r\n"
                                    "[HKEY_LOCAL_MACHINE\\B]\r\n@=\"ソ\"\r\n\r\n"
                                    "[HKEY_USERS\\C]\r\n\"c\"=dword:00000003\r\n"));

    // The other numbered files go after the merge; "0.reg" once the result is saved.
    removePerKeyFiles(home, 1, 2);
    EXPECT_EQ(numberedFiles(home), Lines{"0.reg"});
    saveMergedExport(merged, folders.root() / "all.reg", home);
    EXPECT_TRUE(numberedFiles(home).empty());
    EXPECT_EQ(read(folders.root() / "all.reg"), regFileBytes(merged));
}

TEST_P(ExportMergeTest, FilesOfTwoLinesOrFewerAddNothing) {
    const RegFileForm form = GetParam();
    write(home / "0.reg", inForm(form, "H\r\n\r\n[K0]\r\n"));
    write(home / "1.reg", inForm(form, "H\r\n\r\n"));
    write(home / "2.reg", inForm(form, "H\r\n[K2]")); // two lines, the second not empty
    write(home / "3.reg", "");
    write(home / "4.reg", inForm(form, "H\r\n\r\n[K4]\r\n"));
    const RegFileLines merged = mergePerKeyFiles(home, 5, form);
    ASSERT_EQ(merged.lines.size(), 4u);
    EXPECT_EQ(merged.lines[2], inForm(form, "[K0]", false));
    EXPECT_EQ(merged.lines[3], inForm(form, "[K4]", false));
}

TEST_P(ExportMergeTest, FilesThatCannotBeMergedAreErrorsThatNameThem) {
    const RegFileForm form = GetParam();
    const bool wide = form == RegFileForm::Unicode;
    auto failure = [&](std::size_t count) -> std::string {
        try {
            mergePerKeyFiles(home, count, form);
        } catch (const ExportMergeError& e) {
            return cp932ToUtf8(e.what());
        }
        return "merged";
    };
    write(home / "0.reg", inForm(form, "H\r\n\r\n[K0]\r\n"));
    EXPECT_NE(failure(2).find("1.reg が見つかりません"), std::string::npos) << failure(2);

    // The other form: merged as it is, it would be garbage.
    write(home / "1.reg",
          inForm(wide ? RegFileForm::Regedit4 : RegFileForm::Unicode, "H\r\n\r\n[K1]\r\n"));
    EXPECT_NE(failure(2).find(wide ? "1.reg は Unicode 形式" : "1.reg は REGEDIT4 形式"),
              std::string::npos)
        << failure(2);
    if (wide) {
        write(home / "1.reg", inForm(form, "H\r\n\r\n[K1]\r\n") + "x"); // cut in a character
        EXPECT_NE(failure(2).find("1.reg を読み込めません"), std::string::npos) << failure(2);
    }
    // An empty first file would silently drop the first key.
    write(home / "0.reg", "");
    EXPECT_NE(failure(1).find("0.reg が空です"), std::string::npos) << failure(1);
}

INSTANTIATE_TEST_SUITE_P(BothForms, ExportMergeTest,
                         ::testing::Values(RegFileForm::Regedit4, RegFileForm::Unicode),
                         [](const auto& info) {
                             return info.param == RegFileForm::Unicode ? "Unicode" : "Regedit4";
                         });

TEST(ExportMergeSave, SavingOverTheFirstFileKeepsItAndAFailedSaveKeepsEverything) {
    TempFolders folders;
    const fs::path& home = folders.home();
    write(home / "0.reg", "REGEDIT4\r\n\r\n[A]\r\n");
    write(home / "1.reg", "REGEDIT4\r\n\r\n[B]\r\n");
    const RegFileLines merged = mergePerKeyFiles(home, 2, RegFileForm::Regedit4);
    // A write that fails (a full disk): the error, the target untouched, "0.reg" still there.
    write(folders.root() / "x.reg", "old");
    setWriteFailureForTesting(3);
    EXPECT_THROW(saveMergedExport(merged, folders.root() / "x.reg", home), FileWriteError);
    setWriteFailureForTesting(std::nullopt);
    EXPECT_EQ(read(folders.root() / "x.reg"), "old");
    EXPECT_TRUE(fs::exists(home / "0.reg"));
    // The user chose "0.reg" itself as the target: it now holds the result and stays.
    saveMergedExport(merged, home / "0.reg", home);
    EXPECT_EQ(read(home / "0.reg"), "REGEDIT4\r\n\r\n[A]\r\n[B]\r\n");

    // Every spelling of a numbered file is the same file to the exporter.
    write(home / "1.REG", "x");
    write(home / "1.reg", "x");
    removePerKeyFiles(home, 0, 2);
    EXPECT_TRUE(numberedFiles(home).empty());
}

TEST(ExportListFile, RoundTripsAndReadsWhatOtherEditorsWrite) {
    TempFolders folders;
    const fs::path file = folders.root() / "keys.exportlist";
    const Lines keys{sj("HKEY_CURRENT_USER\\表示"), "HKEY_LOCAL_MACHINE\\Software\\A B",
                     "HKEY_CURRENT_USER\\Software\\A B"}; // duplicates and blanks in names stay
    writeExportList(file, keys);
    EXPECT_EQ(read(file), keys[0] + "\r\n" + keys[1] + "\r\n" + keys[2] + "\r\n");
    EXPECT_EQ(readExportList(file), keys);

    write(file, "HKEY_USERS\\a\nHKEY_USERS\\b\n");
    EXPECT_EQ(readExportList(file), (Lines{"HKEY_USERS\\a", "HKEY_USERS\\b"}));
    write(file, "HKEY_USERS\\a");
    EXPECT_EQ(readExportList(file), Lines{"HKEY_USERS\\a"});
    // Blank lines name no key (kept, one would export the whole registry).
    write(file, "\r\nHKEY_USERS\\a\r\n\r\nHKEY_USERS\\b\r\n\r\n");
    EXPECT_EQ(readExportList(file), (Lines{"HKEY_USERS\\a", "HKEY_USERS\\b"}));
    write(file, "");
    EXPECT_EQ(readExportList(file), Lines{});
    writeExportList(file, {});
    EXPECT_EQ(read(file), "");
}

TEST(ExportListFile, BadFilesAreClearErrorsAndAFailedWriteKeepsTheOldFile) {
    TempFolders folders;
    const fs::path file = folders.root() / "bad.exportlist";
    auto failure = [&]() -> std::string {
        try {
            readExportList(file);
        } catch (const ExportListError& e) {
            return cp932ToUtf8(e.what());
        }
        return "read";
    };
    EXPECT_NE(failure().find("が見つかりません"), std::string::npos) << failure();
    write(file, "HKEY_USERS\\a\r\nHKEY_USERS\\\x81\r\n"); // a lead byte without its trail
    EXPECT_NE(failure().find("2 行目に CP932 として読めない文字があります"), std::string::npos)
        << failure();
    write(file, std::string("HKEY_USERS\\a\0b\r\n", 16));
    EXPECT_NE(failure().find("1 行目"), std::string::npos) << failure();
    write(file, "HKEY_USERS\\a\r\nHKEY_USERS\\a\r\n" + std::string(kMaxExportListLine + 1, 'k'));
    EXPECT_NE(failure().find("3 行目が長すぎます"), std::string::npos) << failure();
    write(file, std::string(kMaxExportListLine, 'k'));
    EXPECT_EQ(readExportList(file).size(), 1u);

    writeExportList(file, {"HKEY_USERS\\kept"});
    EXPECT_THROW(writeExportList(file, {"HKEY_USERS\\a", "HKEY_USERS\\b\r\nHKEY_USERS\\c"}),
                 ExportListError);
    EXPECT_EQ(read(file), "HKEY_USERS\\kept\r\n");
    setWriteFailureForTesting(4);
    EXPECT_THROW(writeExportList(file, {"HKEY_USERS\\other"}), FileWriteError);
    setWriteFailureForTesting(std::nullopt);
    EXPECT_EQ(read(file), "HKEY_USERS\\kept\r\n");
}

// --- the exporters -------------------------------------------------------------------------

namespace {

class ExportBatchTest : public ::testing::Test {
protected:
    ExportBatchTest() { unsetenv("KLOVANTE_PLATFORM"); }
    ~ExportBatchTest() override { unsetenv("KLOVANTE_PLATFORM"); }

    // Polls until the batch is no longer waiting (or 30 seconds have passed).
    static ExportPoll::State settle(ExportBatch& batch) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (batch.poll().state == ExportPoll::State::Waiting &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return batch.poll().state;
    }
    // A stand-in registry program: a shell script in the system folder. It is given
    // "/E" file key, so $2 is the file and $3 the key.
    void script(const char* name, const std::string& body) {
        const fs::path p = folders.windir() / name;
        fs::remove(p); // a link to klovreg: writing through it would replace klovreg itself
        std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(p, fs::perms::owner_all);
    }
    ExportBatch batch(Lines keys, bool regedit4 = false) {
        return ExportBatch(std::move(keys), unicodeFormOffered(), regedit4, folders.home(),
                           folders.windir());
    }

    TempFolders folders;
};

} // namespace

TEST_F(ExportBatchTest, KlovregExportsEveryKeyAndTheFilesMergeInListOrder) {
    {
        auto store = Store::open(folders.storeFile());
        TRegistry reg(store);
        for (const char* key : {"\\One", "\\Two\\Deeper", "\\Three"}) {
            ASSERT_TRUE(reg.CreateKey(key));
            ASSERT_TRUE(reg.OpenKey(key, false));
            reg.WriteString(sj("名前"), std::string(key + 1) + sj("の値"));
        }
    }
    ASSERT_TRUE(ensureRegistryPrograms(folders.windir(), KLOVREG_PATH));
    const Lines keys{"HKEY_CURRENT_USER\\Three", "HKEY_CURRENT_USER\\One",
                     "HKEY_CURRENT_USER\\Two"};
    struct Case {
        const char* platform;
        bool regedit4;
        RegFileForm form;
    };
    for (const Case c : {Case{nullptr, false, RegFileForm::Unicode},
                         Case{nullptr, true, RegFileForm::Regedit4}, // REG.EXE EXPORT /nt4
                         Case{"95", true, RegFileForm::Regedit4}}) { // REGEDIT.EXE /E
        if (c.platform)
            setenv("KLOVANTE_PLATFORM", c.platform, 1);
        ExportBatch b = batch(keys, c.regedit4);
        EXPECT_EQ(b.form(), c.form);
        EXPECT_EQ(b.consoleTool(), c.platform == nullptr && c.regedit4);
        ASSERT_EQ(settle(b), ExportPoll::State::Ready)
            << cp932ToUtf8(b.poll().key) << ": " << b.poll().result.errorText;
        const RegFileLines merged = mergePerKeyFiles(folders.home(), keys.size(), c.form);
        const std::string bytes = regFileBytes(merged);
        const std::string text =
            c.form == RegFileForm::Unicode ? utf16ToUtf8(bytes.substr(2)) : cp932ToUtf8(bytes);
        const std::string header = c.form == RegFileForm::Unicode
                                       ? "Windows Registry Editor Version 5.00\r\n\r\n["
                                       : "REGEDIT4\r\n\r\n[";
        EXPECT_EQ(text.rfind(header, 0), 0u) << text;
        EXPECT_EQ(text.find(header.substr(0, 8), 1), std::string::npos) << text; // one header
        const auto three = text.find("[HKEY_CURRENT_USER\\Three]");
        const auto one = text.find("[HKEY_CURRENT_USER\\One]");
        const auto deeper = text.find("[HKEY_CURRENT_USER\\Two\\Deeper]");
        EXPECT_TRUE(three < one && one < deeper && deeper != std::string::npos) << text;
        EXPECT_NE(text.find("\"名前\"=\"Oneの値\""), std::string::npos) << text;
        // Only the per-key files' own line ends and blank lines: no line is lost or doubled.
        std::size_t lines = 0;
        for (std::size_t i = 0; i < keys.size(); ++i)
            lines += readRegFileLines(perKeyFile(folders.home(), i), c.form).lines.size() -
                     (i == 0 ? 0 : 2);
        EXPECT_EQ(merged.lines.size(), lines);

        removePerKeyFiles(folders.home(), 1, keys.size() - 1);
        saveMergedExport(merged, folders.root() / "all.reg", folders.home());
        EXPECT_TRUE(numberedFiles(folders.home()).empty());
        unsetenv("KLOVANTE_PLATFORM");
    }
}

TEST_F(ExportBatchTest, AFailingExporterIsReportedWithItsTextWithoutWaitingForTheOthers) {
    ASSERT_TRUE(ensureRegistryPrograms(folders.windir(), KLOVREG_PATH));
    {
        auto store = Store::open(folders.storeFile());
        TRegistry reg(store);
        ASSERT_TRUE(reg.CreateKey("\\There"));
    }
    ExportBatch b = batch({"HKEY_CURRENT_USER\\There", sj("HKEY_CURRENT_USER\\無い")});
    ASSERT_EQ(settle(b), ExportPoll::State::Failed);
    const ExportPoll& failed = b.poll();
    EXPECT_EQ(failed.index, 1u);
    EXPECT_EQ(failed.key, sj("HKEY_CURRENT_USER\\無い"));
    EXPECT_FALSE(failed.fileMissing);
    EXPECT_EQ(failed.result.exitCode, kKlovregFailed);
    EXPECT_NE(failed.result.errorText.find("klovreg:"), std::string::npos);
    b.abandon();
    EXPECT_TRUE(numberedFiles(folders.home()).empty());

    // An exporter that never ends does not keep a failure of a later one waiting; giving the
    // run up stops it.
    script("REGEDIT.EXE", "case \"$3\" in *Slow*) exec sleep 60;; esac\n"
                          "echo \"cannot write $3\" >&2; exit 1");
    const auto start = std::chrono::steady_clock::now();
    ExportBatch slow = batch({"HKEY_CURRENT_USER\\Slow", "HKEY_CURRENT_USER\\Bad"});
    ASSERT_EQ(settle(slow), ExportPoll::State::Failed);
    EXPECT_EQ(slow.poll().index, 1u);
    EXPECT_EQ(slow.poll().result.errorText, "cannot write HKEY_CURRENT_USER\\Bad\n");
    slow.abandon();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(ExportBatchTest, AFileCountsOnlyOnceItsExporterHasEndedWell) {
    // Writes half the file, waits for a sign from the test (20 seconds at most), then writes
    // the rest.
    script("REGEDIT.EXE",
           "printf 'REGEDIT4\\r\\n\\r\\n[A]\\r\\n' > \"$2\"\n"
           "n=0; while [ ! -e \"$2.go\" ] && [ $n -lt 2000 ]; do sleep 0.01; n=$((n+1)); done\n"
           "printf '\"late\"=\"1\"\\r\\n' >> \"$2\"");
    setenv("KLOVANTE_PLATFORM", "95", 1);
    ExportBatch b = batch({"HKEY_CURRENT_USER\\A"});
    const fs::path file = perKeyFile(folders.home(), 0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(file) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(b.poll().state, ExportPoll::State::Waiting); // there, but not finished
    write(folders.home() / "0.reg.go", "");
    ASSERT_EQ(settle(b), ExportPoll::State::Ready);
    EXPECT_EQ(mergePerKeyFiles(folders.home(), 1, b.form()).lines.back(), "\"late\"=\"1\"");

    // Ending well without a file is a failure, and a file left by an earlier run does not
    // stand in for it.
    script("REGEDIT.EXE", "exit 0");
    write(file, "REGEDIT4\r\n\r\n[stale]\r\n");
    ExportBatch none = batch({"HKEY_CURRENT_USER\\A"});
    ASSERT_EQ(settle(none), ExportPoll::State::Failed);
    EXPECT_TRUE(none.poll().fileMissing);
    EXPECT_TRUE(none.poll().result.succeeded());

    // A program that is not there cannot start.
    fs::remove(folders.windir() / "REGEDIT.EXE");
    ExportBatch missing = batch({"HKEY_CURRENT_USER\\A"});
    ASSERT_EQ(settle(missing), ExportPoll::State::Failed);
    EXPECT_FALSE(missing.poll().result.started);
    EXPECT_FALSE(missing.poll().result.errorText.empty());
}

TEST_F(ExportBatchTest, KeysThatCannotBeExportedStopTheRunBeforeAnythingStarts) {
    script("REGEDIT.EXE", "touch \"$2.ran\"");
    write(folders.home() / "0.reg", "kept");
    for (const Lines& keys : {Lines{}, Lines{"HKEY_USERS\\a", ""}, Lines{"HKEY_USERS\\\x81"},
                              Lines{std::string("HKEY_USERS\\a\0b", 14)}})
        EXPECT_THROW(batch(keys), ExportBatchError);
    EXPECT_EQ(read(folders.home() / "0.reg"), "kept");
    EXPECT_FALSE(fs::exists(folders.home() / "0.reg.ran"));
}
