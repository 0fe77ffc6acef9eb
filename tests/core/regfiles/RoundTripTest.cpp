// Export and import: every key, value, raw type and byte comes back.
#include "support/RegTestSupport.h"

#include "core/regfiles/RegExporter.h"
#include "core/regfiles/RegOutputFile.h"
#include "core/registry/Seed.h"
#include "core/registry/SyntheticRegistry.h"
#include "support/TempFolders.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace klv;
using namespace klv::test;
namespace fs = std::filesystem;

namespace {

class RoundTripTest : public ::testing::TestWithParam<RegFileForm> {
protected:
    TempFolders folders;
    std::shared_ptr<Store> source = Store::open(folders.root() / "source.dat");
    std::shared_ptr<Store> target = Store::open(folders.root() / "target.dat");

    ExportReport exportAll(Store& s, std::string& file, std::string_view key = {}, int roots = 6) {
        ExportOptions o;
        o.form = GetParam();
        o.rootCount = roots;
        return RegExporter(s, o).exportTo([&](std::string_view b) { file.append(b); }, key);
    }
    void importAll(Store& s, const std::string& file, int roots = 6) {
        ImportOptions o;
        o.rootCount = roots;
        RegImporter(s, o).importBytes(file, "round.reg");
    }
    // Values that only an exact writer and reader keep: every text shape and odd bytes.
    void writeOddValues(Store& s, bool unicode) {
        Store::Transaction t(s);
        KeyId k = s.createChild(Store::rootId(HKCU), StoredName{"Odd", false});
        k = s.createChild(k, StoredName{sj("表予"), false}); // both end in 0x5C
        auto set = [&](std::string name, std::uint32_t type, std::string data, bool wide = false) {
            s.setValue(k,
                       RawValue{StoredName{std::move(name), false}, type, std::move(data), wide});
        };
        set("sz", REG_SZ, sj("ソ表\"\\\r\n\t") + '\0');
        set("noNul", REG_SZ, "abc");
        set("innerNul", REG_SZ, std::string("a\0b\0", 4));
        set("zero", REG_SZ, "");
        set("justNul", REG_SZ, std::string(1, '\0'));
        set("expNoNul", REG_EXPAND_SZ, "%x%");
        set("multiShort", REG_MULTI_SZ, std::string("a\0b\0", 4));
        set("multiEmpty", REG_MULTI_SZ, std::string(2, '\0'));
        set("dwordLong", REG_DWORD, std::string(5, '\x07'));
        set("bigEndian", REG_DWORD_BIG_ENDIAN, "\x01\x02\x03\x04");
        set("qwordShort", REG_QWORD, "\x01\x02\x03\x04");
        set("maxType", 0xFFFFFFFFu, std::string(200, '\x5C'));
        set("binEmpty", REG_BINARY, "");
        set(std::string("name\"with\\quote\r\n", 17), REG_NONE, "\x01");
        set(sj("値の名前"), REG_SZ, sj("データ") + '\0');
        if (unicode) {
            s.setValue(k, RawValue{StoredName{le("Café☃"), true}, REG_SZ,
                                   le("naïve ☃") + std::string(2, '\0'), true});
            s.setValue(k, RawValue{StoredName{"wideExp", false}, REG_EXPAND_SZ, le("%é%"), true});
            s.setValue(k, RawValue{StoredName{"wideOdd", false}, REG_MULTI_SZ,
                                   std::string("\xE9\0\x01", 3), true});
            const KeyId w = s.createChild(k, StoredName{le("Ünïcödé"), true});
            s.setValue(
                w, RawValue{StoredName{"", false}, REG_SZ, le("é") + std::string(2, '\0'), true});
        } else {
            set("lone", REG_SZ, std::string("\x95\"\0", 3)); // a lead byte before a quote
            set("bad", REG_EXPAND_SZ, "\x81\xFF\x80");       // not CP932 at all
        }
        t.commit();
    }
};

TEST_P(RoundTripTest, GeneratedRegistryComesBackByteForByte) {
    writeSyntheticRegistry(*source, SyntheticShape{8, 2, 8});
    writeOddValues(*source, GetParam() == RegFileForm::Unicode);
    std::string file;
    const ExportReport r = exportAll(*source, file);
    EXPECT_TRUE(r.losses.empty()) << (r.losses.empty() ? "" : cp932ToUtf8(r.losses[0]));
    EXPECT_EQ(r.bytes, file.size());
    importAll(*target, file);
    const auto expected = dumpStore(*source, 6);
    EXPECT_EQ(dumpStore(*target, 6), expected);
    EXPECT_GT(expected.size(), 200u);
    // A second export of the copy is the same file.
    std::string again;
    exportAll(*target, again);
    EXPECT_EQ(again, file);
}

TEST_P(RoundTripTest, SeededRegistryComesBackExceptWhatCannotBeOpened) {
    seedRegistry(*source);
    std::string file;
    const ExportReport r = exportAll(*source, file, {}, 5);
    EXPECT_TRUE(r.losses.empty());
    importAll(*target, file, 5);
    // The key without access is left out of the export; access itself is not in the file.
    EXPECT_EQ(dumpStore(*target, 5), dumpStore(*source, 5, true));
    EXPECT_FALSE(keyAt(*target, HKLM, "SECURITY"));
    EXPECT_TRUE(keyAt(*target, HKLM, "SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_BEEP\\0000"));
}

TEST_P(RoundTripTest, AKeyExportHoldsThatKeyAndItsTreeOnly) {
    seedRegistry(*source);
    std::string file;
    const ExportReport r =
        exportAll(*source, file, sj("hkey_current_user\\SOFTWARE\\サンプル\\"), 5);
    EXPECT_EQ(r.keys, 3u);
    const std::string head =
        GetParam() == RegFileForm::Unicode
            ? utf16File("Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\サンプル]\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\サンプル\\表計算ソフト]\r\n")
            : cp932File("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\サンプル]\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\サンプル\\表計算ソフト]\r\n");
    EXPECT_EQ(file.substr(0, head.size()), head);
    importAll(*target, file, 5);
    const KeyId settings = *keyAt(*target, HKCU, "Software\\サンプル\\表計算ソフト\\設定");
    EXPECT_EQ(target->values(settings).size(), 7u);
    EXPECT_EQ(target->children(Store::rootId(HKCU)).size(), 1u);
    // A read-only key exports; its tree comes along.
    file.clear();
    EXPECT_EQ(exportAll(*source, file, "HKLM\\SYSTEM\\CurrentControlSet\\Enum", 5).keys, 4u);
}

TEST_P(RoundTripTest, KeysThatCannotBeExportedAreErrors) {
    seedRegistry(*source);
    std::string file;
    auto message = [&](std::string_view key, int roots) {
        try {
            exportAll(*source, file, key, roots);
            return std::string();
        } catch (const RegistryError& e) {
            return cp932ToUtf8(e.what());
        }
    };
    EXPECT_NE(message("HKEY_CURRENT_USER\\Software\\Missing", 5).find("見つかりません"),
              std::string::npos);
    EXPECT_NE(message("HKEY_NOWHERE\\Software", 5).find("見つかりません"), std::string::npos);
    EXPECT_NE(message("HKEY_DYN_DATA", 5).find("見つかりません"), std::string::npos);
    EXPECT_EQ(message("HKEY_DYN_DATA", 6), "");
    EXPECT_NE(message("HKEY_LOCAL_MACHINE\\SECURITY", 5).find("開けません"), std::string::npos);
}

TEST_P(RoundTripTest, ThreadsShareTheWorkAndTheFileComesOutTheSame) {
    writeSyntheticRegistry(*source, SyntheticShape{6, 3, 3});
    seedRegistry(*source);
    std::vector<std::string> files;
    for (int threads : {1, 2, 3}) {
        ExportOptions o;
        o.form = GetParam();
        o.rootCount = 6;
        o.threads = threads;
        std::string file;
        std::size_t pieces = 0;
        const ExportReport r = RegExporter(*source, o)
                                   .exportTo(
                                       [&](std::string_view b) {
                                           file.append(b);
                                           ++pieces;
                                       },
                                       "");
        const auto dump = dumpStore(*source, 6, true);
        EXPECT_EQ(r.keys,
                  static_cast<std::uint64_t>(std::count_if(
                      dump.begin(), dump.end(), [](const std::string& l) { return l[0] == 'K'; })));
        EXPECT_EQ(r.bytes, file.size());
        EXPECT_GT(pieces, threads == 1 ? 0u : 60u) << "the parts reach the file one by one";
        files.push_back(file);
    }
    EXPECT_EQ(files[1], files[0]);
    EXPECT_EQ(files[2], files[0]);
}

TEST_P(RoundTripTest, AStoppedExportWritesNothing) {
    writeSyntheticRegistry(*source, SyntheticShape{10, 4, 1});
    ExportOptions o;
    o.form = GetParam();
    o.rootCount = 6;
    o.threads = 1; // the user interface's thread is the one that stops
    bool stop = false;
    int pumps = 0;
    o.pump = [&] { stop = ++pumps == 1; };
    o.stop = &stop;
    const fs::path file = folders.root() / "stopped.reg";
    try {
        RegExporter(*source, o).exportToFile(file, "");
        FAIL() << "the export did not stop";
    } catch (const RegistryError& e) {
        EXPECT_EQ(cp932ToUtf8(e.what()), "書き出しを中止しました");
    }
    EXPECT_EQ(pumps, 1);
    EXPECT_FALSE(fs::exists(file));
}

INSTANTIATE_TEST_SUITE_P(BothForms, RoundTripTest,
                         ::testing::Values(RegFileForm::Regedit4, RegFileForm::Unicode),
                         [](const auto& info) {
                             return info.param == RegFileForm::Unicode ? "Unicode" : "Regedit4";
                         });

// --- files ---

class ExportFileTest : public ::testing::Test {
protected:
    TempFolders folders;
    std::shared_ptr<Store> store = Store::open(folders.storeFile());
    ~ExportFileTest() override { RegOutputFile::setFailureForTesting(std::nullopt); }

    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folders.root()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ExportFileTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    writeSyntheticRegistry(*store, SyntheticShape{4, 3, 3});
    const fs::path target = folders.root() / "backup.reg";
    { std::ofstream(target) << "old contents"; }
    RegOutputFile::setFailureForTesting(1000);
    ExportOptions o;
    try {
        RegExporter(*store, o).exportToFile(target, "HKEY_LOCAL_MACHINE\\Bench");
        FAIL() << "the full disk was not reported";
    } catch (const RegFileError& e) {
        const std::string m = cp932ToUtf8(e.what());
        EXPECT_NE(m.find("backup.reg"), std::string::npos) << m;
        EXPECT_NE(m.find("ディスクの空き容量が不足しています"), std::string::npos) << m;
    }
    EXPECT_EQ(read(target), "old contents");
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"backup.reg", "home"}));

    RegOutputFile::setFailureForTesting(std::nullopt);
    const ExportReport r = RegExporter(*store, o).exportToFile(target, "HKEY_LOCAL_MACHINE\\Bench");
    EXPECT_EQ(r.keys, 1u + 4 + 16 + 64);
    EXPECT_EQ(fs::file_size(target), r.bytes);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"backup.reg", "home"}));
}

TEST_F(ExportFileTest, AKilledExportLeavesNothingBehind) {
    const fs::path target = folders.root() / "killed.reg";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RegOutputFile out(target);
        out.write(std::string(1 << 20, 'x'));
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"home"}));
}

TEST_F(ExportFileTest, AMissingKeyOrFolderLeavesNoFile) {
    ExportOptions o;
    EXPECT_THROW(
        RegExporter(*store, o).exportToFile(folders.root() / "x.reg", "HKEY_CURRENT_USER\\None"),
        RegistryError);
    EXPECT_THROW(RegExporter(*store, o).exportToFile(folders.root() / "no" / "x.reg", ""),
                 RegFileError);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"home"}));
}

TEST_F(ExportFileTest, ImportFileReadsFromDiskAndNamesItInErrors) {
    const fs::path file = folders.root() / "in.reg";
    {
        std::ofstream(file, std::ios::binary)
            << cp932File("REGEDIT4\n\n[HKEY_CURRENT_USER\\F]\n\"v\"=hex:1\n\"w\"=bad\n");
    }
    try {
        RegImporter(*store, ImportOptions{}).importFile(file);
        FAIL();
    } catch (const RegFileError& e) {
        EXPECT_EQ(e.line(), 5);
        EXPECT_EQ(e.file(), file.string());
    }
    EXPECT_THROW(RegImporter(*store, ImportOptions{}).importFile(folders.root() / "missing.reg"),
                 RegFileError);
    {
        std::ofstream(file, std::ios::binary)
            << cp932File("REGEDIT4\n\n[HKEY_CURRENT_USER\\F]\n\"v\"=hex:1\n");
    }
    const ImportReport r = RegImporter(*store, ImportOptions{}).importFile(file);
    EXPECT_EQ(r.form, RegFileForm::Regedit4);
    EXPECT_EQ(r.keys, 1u);
    EXPECT_EQ(r.values, 1u);
    EXPECT_EQ(valueAt(*store, *keyAt(*store, HKCU, "F"), "v")->data, "\x01");
}

} // namespace
