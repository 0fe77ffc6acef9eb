#include "core/platform/Encoding.h"
#include "core/platform/TimeText.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryError.h"
#include "core/registry/StoreSchema.h"
#include "support/RegistryFixture.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace klv;

namespace {

using test::Names;
namespace fs = std::filesystem;

class StoreTest : public test::RegistryFixture {
protected:
    KeyInfo infoOf(std::string_view path) {
        KeyInfo info;
        EXPECT_TRUE(reg.OpenKeyAnyAccess(path, false) && reg.QueryKeyInfo(info)) << path;
        return info;
    }
    FileTime timeOf(std::string_view path) { return infoOf(path).lastWrite; }
};

// Moves the test clock and puts the real one back afterwards.
class TestClock {
public:
    TestClock() {
        setClockForTesting([this] { return now_; });
    }
    ~TestClock() { setClockForTesting({}); }
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;
    FileTime set(std::int64_t unixSeconds) { return now_ = fileTimeFromUnix(unixSeconds); }

private:
    FileTime now_ = 0;
};

void setUserVersion(const fs::path& file, int version) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    const std::string sql = "PRAGMA user_version = " + std::to_string(version);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

std::string fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST_F(StoreTest, NamesAreUniqueWithoutCaseAndKeepTheCaseTheyWereCreatedWith) {
    ASSERT_TRUE(reg.CreateKey("\\Software"));
    const KeyId id = idOf("\\Software");
    EXPECT_EQ(idOf("\\SOFTWARE"), id);
    EXPECT_EQ(idOf("\\software"), id);
    ASSERT_TRUE(reg.CreateKey("\\SOFTWARE\\Sub"));
    EXPECT_TRUE(reg.OpenKey("\\software", true));
    EXPECT_EQ(reg.CurrentKeyId(), id);
    EXPECT_EQ(subKeys(""), Names{"Software"});
    EXPECT_EQ(subKeys("\\sOFTWARE"), Names{"Sub"});

    // ヂ (83 61) must not fold onto ア (83 41): double-byte characters compare whole.
    const std::string di = sj("ヂ"), a = sj("ア");
    ASSERT_EQ(di, "\x83\x61");
    ASSERT_EQ(a, "\x83\x41");
    ASSERT_TRUE(reg.CreateKey("\\x" + di));
    EXPECT_FALSE(reg.KeyPresent("\\x" + a));
    EXPECT_TRUE(reg.KeyPresent("\\X" + di));
    ASSERT_TRUE(reg.CreateKey("\\x" + a));
    EXPECT_NE(idOf("\\x" + a), idOf("\\x" + di));
    EXPECT_EQ(subKeys("").size(), 3u);

    ASSERT_TRUE(reg.OpenKey("\\Software", false));
    reg.WriteString("Value", "1");
    reg.WriteString("VALUE", "2");
    reg.WriteString(di, "di");
    reg.WriteString(a, "a");
    EXPECT_EQ(valueNames("\\Software"), (Names{"Value", di, a}));
    EXPECT_EQ(reg.ReadText("value"), "2");
    EXPECT_EQ(reg.ReadText(di), "di");
    EXPECT_TRUE(reg.DeleteValue("vALUE"));
    EXPECT_EQ(valueNames("\\Software"), (Names{di, a}));
}

TEST_F(StoreTest, SubkeysListByUpperCasedNameAndValuesByCreation) {
    for (const char* name : {"b", "_x", "Beta", "A", "C", "alpha", "a1"})
        ASSERT_TRUE(reg.CreateKey(std::string("\\Order\\") + name));
    // "_" (5F) sorts after the upper-case letters but before the lower-case ones; "alpha"
    // before "Beta", which byte order would reverse.
    const Names order{"A", "a1", "alpha", "b", "Beta", "C", "_x"};
    EXPECT_EQ(subKeys("\\Order"), order);

    ASSERT_TRUE(reg.OpenKey("\\Order", false));
    reg.WriteString("z", "1");
    reg.WriteString("a", "2");
    reg.WriteString("", "default");
    reg.WriteString("M", "3");
    EXPECT_EQ(valueNames("\\Order"), (Names{"z", "a", "", "M"}));
    // Overwriting keeps the place and the stored case, even with another kind.
    reg.WriteInteger("A", 5);
    EXPECT_EQ(valueNames("\\Order"), (Names{"z", "a", "", "M"}));
    EXPECT_EQ(reg.ReadDword("a"), 5u);
    // A value deleted and written again is new: it goes last.
    EXPECT_TRUE(reg.DeleteValue("z"));
    reg.WriteString("Z", "again");
    EXPECT_EQ(valueNames("\\Order"), (Names{"a", "", "M", "Z"}));

    // The order is the file's, not only the cache's.
    TRegistry other(Store::open(folders.storeFile()));
    Names list;
    ASSERT_TRUE(other.OpenKey("\\Order", false));
    other.ListValues(list);
    EXPECT_EQ(list, (Names{"a", "", "M", "Z"}));
    other.ListSubKeys(list);
    EXPECT_EQ(list, order);
}

TEST_F(StoreTest, LastWriteTimeMovesOnChangesOnly) {
    TestClock clock;
    const FileTime created = clock.set(1'000'000'000);
    ASSERT_TRUE(reg.CreateKey("\\K"));
    EXPECT_EQ(timeOf("\\K"), created);
    EXPECT_EQ(timeOf(""), created); // the parent gained a subkey

    const FileTime subAdded = clock.set(1'000'000'100);
    ASSERT_TRUE(reg.CreateKey("\\K\\Sub"));
    EXPECT_EQ(timeOf("\\K"), subAdded);

    // Reads, listings, openings and a refused write leave it alone.
    clock.set(1'000'000'200);
    ASSERT_TRUE(reg.OpenKey("\\K", true));
    Names list;
    reg.ListSubKeys(list);
    reg.ListValues(list);
    EXPECT_EQ(reg.ReadText("none"), "");
    EXPECT_FALSE(reg.DeleteValue("none"));
    EXPECT_TRUE(reg.CreateKey("\\K\\Sub"));
    reg.RenameValue("none", "other");
    ASSERT_TRUE(reg.OpenKeyForReading("\\K"));
    EXPECT_ANY_THROW(reg.WriteString("v", "x"));
    EXPECT_EQ(timeOf("\\K"), subAdded);

    const FileTime written = clock.set(1'000'000'300);
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    reg.WriteString("v", "1");
    EXPECT_EQ(timeOf("\\K"), written);
    const FileTime overwritten = clock.set(1'000'000'400);
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    reg.WriteString("v", "2");
    EXPECT_EQ(timeOf("\\K"), overwritten);

    // A change in a subkey is the subkey's, not its parent's.
    const FileTime inSub = clock.set(1'000'000'500);
    ASSERT_TRUE(reg.OpenKey("\\K\\Sub", false));
    reg.WriteInteger("d", 1);
    EXPECT_EQ(timeOf("\\K\\Sub"), inSub);
    EXPECT_EQ(timeOf("\\K"), overwritten);

    const FileTime valueDeleted = clock.set(1'000'000'600);
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    EXPECT_TRUE(reg.DeleteValue("v"));
    EXPECT_EQ(timeOf("\\K"), valueDeleted);

    const FileTime keyDeleted = clock.set(1'000'000'700);
    EXPECT_TRUE(reg.DeleteKey("\\K\\Sub"));
    EXPECT_EQ(timeOf("\\K"), keyDeleted);

    // The times are in the file.
    clock.set(1'000'000'800);
    TRegistry other(Store::open(folders.storeFile()));
    KeyInfo info;
    ASSERT_TRUE(other.OpenKey("\\K", false) && other.QueryKeyInfo(info));
    EXPECT_EQ(info.lastWrite, keyDeleted);
    ASSERT_TRUE(other.OpenKey("", false) && other.QueryKeyInfo(info));
    EXPECT_EQ(info.lastWrite, created);
}

TEST_F(StoreTest, KeyInfoCountsAndLongestLengths) {
    const std::string jp = sj("日本語の"); // 8 bytes
    for (const std::string& name : {std::string("a"), std::string("abcdef"), jp})
        ASSERT_TRUE(reg.CreateKey("\\I\\" + name));
    ASSERT_TRUE(reg.OpenKey("\\I", false));
    reg.WriteString("", "x");                    // 2 bytes
    reg.WriteBinary("name12", "0123456789", 10); // 10 bytes
    reg.WriteString(sj("名前"), sj("日本語"));   // name 4 bytes, data 7 bytes
    KeyInfo info = infoOf("\\I");
    EXPECT_EQ(info.subKeys, 3u);
    EXPECT_EQ(info.maxSubKeyLen, 8u);
    EXPECT_EQ(info.values, 3u);
    EXPECT_EQ(info.maxValueNameLen, 6u);
    EXPECT_EQ(info.maxValueLen, 10u);

    // Deleting the longest subkey or value shortens the maximum.
    ASSERT_TRUE(reg.DeleteKey("\\I\\" + jp));
    ASSERT_TRUE(reg.OpenKey("\\I", false));
    ASSERT_TRUE(reg.DeleteValue("name12"));
    info = infoOf("\\I");
    EXPECT_EQ(info.subKeys, 2u);
    EXPECT_EQ(info.maxSubKeyLen, 6u);
    EXPECT_EQ(info.values, 2u);
    EXPECT_EQ(info.maxValueNameLen, 4u);
    EXPECT_EQ(info.maxValueLen, 7u);
    ASSERT_TRUE(reg.DeleteKey("\\I\\abcdef"));
    EXPECT_EQ(infoOf("\\I").maxSubKeyLen, 1u);

    // As another connection reads them from the file.
    ASSERT_TRUE(reg.CreateKey("\\I\\abc"));
    TRegistry other(Store::open(folders.storeFile()));
    ASSERT_TRUE(other.OpenKey("\\I", false) && other.QueryKeyInfo(info));
    EXPECT_EQ(info.subKeys, 2u);
    EXPECT_EQ(info.maxSubKeyLen, 3u);
    EXPECT_EQ(info.values, 2u);
    ASSERT_TRUE(reg.DeleteKey("\\I\\abc"));
    ASSERT_TRUE(reg.DeleteKey("\\I\\a"));
    ASSERT_TRUE(other.QueryKeyInfo(info));
    EXPECT_EQ(info.subKeys, 0u);
    EXPECT_EQ(info.maxSubKeyLen, 0u);
}

TEST_F(StoreTest, WideNamesListWithGetaAndDoNotOpenByThatName) {
    ASSERT_TRUE(reg.OpenKey("\\W", true));
    const KeyId w = *reg.CurrentKeyId();
    const std::string geta(kCp932Geta);
    const StoredName wideKey{utf8ToUtf16("a😀"), true};
    const KeyId wk = store->createChild(w, wideKey);
    store->setValue(
        w, RawValue{{utf8ToUtf16("v😀"), true}, REG_SZ, utf8ToUtf16(std::string("ok\0", 3)), true});

    EXPECT_EQ(subKeys("\\W"), Names{"a" + geta});
    EXPECT_EQ(valueNames("\\W"), Names{"v" + geta});
    EXPECT_EQ(store->child(w, wideKey), wk);
    EXPECT_FALSE(reg.OpenKeyAnyAccess("\\W\\a" + geta, false));
    EXPECT_FALSE(reg.KeyPresent("\\W\\A" + geta));
    ASSERT_TRUE(reg.OpenKey("\\W", false));
    EXPECT_FALSE(reg.ValuePresent("v" + geta));

    // The listed name is a different key and a different value.
    ASSERT_TRUE(reg.CreateKey("\\W\\a" + geta));
    reg.WriteString("v" + geta, "cp932");
    EXPECT_EQ(subKeys("\\W"), (Names{"a" + geta, "a" + geta}));
    EXPECT_EQ(valueNames("\\W"), (Names{"v" + geta, "v" + geta}));
    EXPECT_NE(idOf("\\W\\a" + geta), wk);
    EXPECT_EQ(store->values(w).front().name, (StoredName{utf8ToUtf16("v😀"), true}));
    EXPECT_EQ(store->values(w).front().data, utf8ToUtf16(std::string("ok\0", 3)));
}

TEST_F(StoreTest, ReadOnlyFileOpensEveryKeyForReadingOnly) {
    const fs::path file = folders.windir() / "READONLY.DAT";
    {
        TRegistry w(Store::open(file));
        ASSERT_TRUE(w.OpenKey("\\K\\Sub", true));
        w.WriteString("v", "kept");
    }
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    auto ro = Store::open(file);
    ASSERT_TRUE(ro->readOnly());
    TRegistry r(ro);
    for (const char* path : {"", "\\K", "\\K\\Sub"}) {
        EXPECT_FALSE(r.OpenKey(path, false)) << path;
        EXPECT_FALSE(r.OpenKey(path, true)) << path;
        EXPECT_FALSE(r.KeyPresent(path)) << path;
    }
    EXPECT_FALSE(r.OpenKey("\\New", true));
    ASSERT_TRUE(r.OpenKeyAnyAccess("\\K", false));
    Names list;
    r.ListSubKeys(list);
    EXPECT_EQ(list, Names{"Sub"});
    ASSERT_TRUE(r.OpenKeyAnyAccess("\\K\\Sub", true));
    EXPECT_FALSE(r.CurrentKeyWritable());
    EXPECT_EQ(r.ReadText("v"), "kept");

    EXPECT_THROW(r.WriteString("v", "x"), RegistryError);
    EXPECT_THROW(r.WriteInteger("n", 1), RegistryError);
    EXPECT_FALSE(r.DeleteValue("v"));
    EXPECT_ANY_THROW(r.RenameValue("v", "w"));
    EXPECT_THROW(r.CreateKey("\\New"), RegistryError);
    EXPECT_FALSE(r.DeleteKey("\\K\\Sub"));
    EXPECT_ANY_THROW(r.MoveKey("\\K", "\\Moved", false));
    EXPECT_THROW(ro->createChild(Store::rootId(1), StoredName{"New"}), StoreError);
    EXPECT_THROW(ro->setValue(*r.CurrentKeyId(), RawValue{{"v"}, REG_SZ, "x"}), StoreError);

    ASSERT_TRUE(r.OpenKeyAnyAccess("", false));
    r.ListSubKeys(list);
    EXPECT_EQ(list, Names{"K"});
    ASSERT_TRUE(r.OpenKeyAnyAccess("\\K\\Sub", false));
    r.ListValues(list);
    EXPECT_EQ(list, Names{"v"});
    EXPECT_EQ(r.ReadText("v"), "kept");
}

// A program folder that cannot be written: the store opens with every key read only instead of
// failing, whoever the user is, and leaves no file behind.
TEST_F(StoreTest, AStoreInAFolderThatCannotBeWrittenOpensReadOnly) {
    const fs::path dir = folders.root() / "locked";
    const fs::path file = dir / "SYSTEM.DAT";
    {
        TRegistry w(Store::open(file));
        ASSERT_TRUE(w.OpenKey("\\K", true));
        w.WriteString("v", "kept");
    }
    ASSERT_FALSE(fs::exists(dir / "SYSTEM.DAT-shm")); // the last connection removed it
    const auto readBack = [&]() -> int {
        try {
            auto ro = Store::open(file);
            TRegistry r(ro);
            if (!ro->readOnly() || !r.OpenKeyAnyAccess("\\K", false) || r.CurrentKeyWritable())
                return 3;
            if (r.ReadText("v") != "kept")
                return 4;
            try {
                r.WriteString("v", "x");
                return 5;
            } catch (const RegistryError&) {
            }
            return 0;
        } catch (const std::exception&) {
            return 2;
        }
    };
    const auto all = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                     fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(folders.root(), all);
    fs::permissions(dir, all & ~fs::perms::owner_write);
    EXPECT_EQ(readBack(), 0);
    EXPECT_FALSE(fs::exists(dir / "SYSTEM.DAT-shm"));

    // Another user, for whom the folder is really closed (the test runs as root on CI).
    if (::geteuid() == 0) {
        fs::permissions(dir, all);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
            ::_exit(dropped ? readBack() : 6);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    fs::permissions(dir, fs::perms::owner_all);
}

TEST_F(StoreTest, LimitsRaiseAndChangeNothing) {
    const KeyId root = Store::rootId(1);
    ASSERT_TRUE(reg.OpenKey("\\L", true));
    const KeyId l = *reg.CurrentKeyId();
    const KeyInfo before = infoOf("\\L");

    EXPECT_NO_THROW(store->createChild(l, StoredName{std::string(255, 'k')}));
    EXPECT_THROW(store->createChild(l, StoredName{std::string(256, 'k')}), StoreError);
    std::string jp; // 128 double-byte characters, 256 bytes: bytes count, not characters
    for (int i = 0; i < 128; ++i)
        jp += sj("表");
    EXPECT_THROW(store->createChild(l, StoredName{jp}), StoreError);
    EXPECT_THROW(store->createChild(l, StoredName{utf8ToUtf16("a\\b"), true}), StoreError);
    EXPECT_THROW(store->createChild(l, StoredName{"a\\b"}), StoreError);
    EXPECT_THROW(store->createChild(l, StoredName{""}), StoreError);
    EXPECT_EQ(subKeys("\\L"), Names{std::string(255, 'k')});

    ASSERT_TRUE(reg.OpenKey("\\L", false));
    reg.WriteString(std::string(kMaxValueNameBytes, 'v'), "max");
    const std::string tooLong(kMaxValueNameBytes + 1, 'v');
    EXPECT_THROW(reg.WriteString(tooLong, "x"), RegistryError);
    EXPECT_THROW(store->setValue(l, RawValue{{tooLong}, REG_BINARY, "x"}), StoreError);
    EXPECT_EQ(valueNames("\\L"), Names{std::string(kMaxValueNameBytes, 'v')});
    const KeyInfo after = infoOf("\\L");
    EXPECT_EQ(after.subKeys, before.subKeys + 1);
    EXPECT_EQ(after.values, 1u);

    // 512 levels below a root, and not one more.
    std::string deep;
    for (int i = 0; i < kMaxKeyDepth; ++i)
        deep += "\\d";
    ASSERT_TRUE(reg.CreateKey(deep));
    ASSERT_TRUE(reg.OpenKey(deep, false));
    EXPECT_EQ(store->key(*reg.CurrentKeyId())->depth, kMaxKeyDepth);
    EXPECT_THROW(store->createChild(*reg.CurrentKeyId(), StoredName{"d"}), StoreError);
    EXPECT_THROW(reg.CreateKey(deep + "\\d"), RegistryError);
    EXPECT_FALSE(reg.OpenKey(deep + "\\d", true));
    EXPECT_THROW(reg.CreateKey("\\e" + deep), RegistryError);
    EXPECT_FALSE(reg.KeyPresent("\\e")); // no half-made chain
    EXPECT_EQ(subKeys(""), (Names{"d", "L"}));
    EXPECT_EQ(store->info(root).subKeys, 2u);
}

// Removing a whole tree is the access layer's walk; the store itself refuses a key that still
// has subkeys, and changes nothing.
TEST_F(StoreTest, DeletingAKeyWithSubkeysIsRefusedAndChangesNothing) {
    ASSERT_TRUE(reg.CreateKey("\\P\\Child\\Grand"));
    ASSERT_TRUE(reg.OpenKey("\\P", false));
    reg.WriteString("v", "kept");
    const KeyId p = *reg.CurrentKeyId();
    const KeyInfo before = infoOf("\\P");
    EXPECT_THROW(store->deleteKey(p), StoreError);
    EXPECT_THROW(store->deleteKey(idOf("\\P\\Child")), StoreError);
    TRegistry other(Store::open(folders.storeFile()));
    EXPECT_TRUE(other.KeyPresent("\\P\\Child\\Grand"));
    ASSERT_TRUE(other.OpenKey("\\P", false));
    EXPECT_EQ(other.ReadText("v"), "kept");
    const KeyInfo after = infoOf("\\P");
    EXPECT_EQ(after.subKeys, before.subKeys);
    EXPECT_EQ(after.lastWrite, before.lastWrite);
}

TEST_F(StoreTest, TransactionWithoutCommitLeavesNothingBehind) {
    const KeyId root = Store::rootId(1);
    ASSERT_TRUE(reg.OpenKey("\\Keep", true));
    const KeyId keep = *reg.CurrentKeyId();
    reg.WriteString("v", "old");
    const KeyInfo before = infoOf("\\Keep");
    {
        Store::Transaction txn(*store);
        const KeyId made = store->createChild(root, StoredName{"Made"});
        store->setValue(made, RawValue{{"x"}, REG_DWORD, std::string("\x01\x00\x00\x00", 4)});
        store->setValue(keep, RawValue{{"v"}, REG_SZ, std::string("new\0", 4)});
        store->setValue(keep, RawValue{{"w"}, REG_SZ, std::string("w\0", 2)});
        store->createChild(keep, StoredName{"Child"});
        EXPECT_TRUE(store->child(root, "Made").has_value()); // seen inside the transaction
    }
    auto check = [&](TRegistry& r) {
        EXPECT_FALSE(r.KeyPresent("\\Made"));
        ASSERT_TRUE(r.OpenKey("\\Keep", false));
        Names list{"stale"};
        r.ListValues(list);
        EXPECT_EQ(list, Names{"v"});
        EXPECT_EQ(r.ReadText("v"), "old");
        EXPECT_FALSE(r.KeyHasSubKeys());
        KeyInfo info;
        ASSERT_TRUE(r.QueryKeyInfo(info));
        EXPECT_EQ(info.lastWrite, before.lastWrite);
    };
    check(reg);
    TRegistry other(Store::open(folders.storeFile()));
    check(other);

    // A failed inner step spoils the whole transaction, even when its error was caught.
    {
        Store::Transaction outer(*store);
        store->createChild(root, StoredName{"First"});
        EXPECT_THROW(store->createChild(root, StoredName{std::string(256, 'k')}), StoreError);
        EXPECT_THROW(outer.commit(), StoreError);
    }
    EXPECT_EQ(subKeys(""), Names{"Keep"});

    // Nested transactions commit with the outermost.
    {
        Store::Transaction outer(*store);
        {
            Store::Transaction inner(*store);
            store->createChild(root, StoredName{"Inner"});
            inner.commit();
        }
        EXPECT_FALSE(TRegistry(Store::open(folders.storeFile())).KeyPresent("\\Inner"));
        outer.commit();
    }
    EXPECT_TRUE(other.KeyPresent("\\Inner"));
}

TEST_F(StoreTest, AnotherConnectionSeesChangesAtItsNextOperation) {
    TRegistry other(Store::open(folders.storeFile()));
    ASSERT_TRUE(reg.OpenKey("\\Shared", true));
    ASSERT_TRUE(other.OpenKey("\\Shared", false));
    Names list;
    other.ListValues(list);
    EXPECT_EQ(list, Names{});
    reg.WriteString("v", "1");
    EXPECT_EQ(other.ReadText("v"), "1");
    reg.WriteString("v", "2");
    EXPECT_EQ(other.ReadText("v"), "2");
    ASSERT_TRUE(reg.CreateKey("\\Shared\\New"));
    EXPECT_TRUE(other.KeyHasSubKeys());
    other.ListSubKeys(list);
    EXPECT_EQ(list, Names{"New"});
    ASSERT_TRUE(reg.DeleteKey("\\Shared\\New"));
    EXPECT_FALSE(other.KeyPresent("\\Shared\\New"));
    other.ListSubKeys(list);
    EXPECT_EQ(list, Names{});
}

TEST_F(StoreTest, AKeyDeletedElsewhereStaysGoneForItsOpener) {
    ASSERT_TRUE(reg.CreateKey("\\Old"));
    ASSERT_TRUE(reg.OpenKey("\\Old", false));
    reg.WriteString("v", "old");
    TRegistry other(store);
    ASSERT_TRUE(other.DeleteKey("\\Old"));
    ASSERT_TRUE(other.CreateKey("\\New"));
    // The opener's key is gone: it must not reach the new key, nor find the old values.
    EXPECT_EQ(reg.ReadText("v"), "");
    EXPECT_FALSE(reg.ValuePresent("v"));
    EXPECT_THROW(reg.WriteString("w", "x"), RegistryError);
    Names list;
    reg.ListValues(list);
    EXPECT_EQ(list, Names{});
    EXPECT_EQ(valueNames("\\New"), Names{});
    // Created again under the old name, the key starts empty.
    ASSERT_TRUE(reg.CreateKey("\\Old"));
    EXPECT_EQ(valueNames("\\Old"), Names{});
}

TEST_F(StoreTest, RefusesFilesItCannotUse) {
    const fs::path file = folders.windir() / "NEWER.DAT";
    Store::open(file).reset(); // the schema is written

    setUserVersion(file, kStoreSchemaVersion + 1);
    EXPECT_THROW(Store::open(file), StoreError);
    setUserVersion(file, kStoreSchemaVersion);
    EXPECT_NO_THROW(Store::open(file));

    const fs::path garbage = folders.windir() / "GARBAGE.DAT";
    {
        std::ofstream out(garbage, std::ios::binary);
        for (int i = 0; i < 200; ++i)
            out << "This is not a registry file, only text. ";
    }
    const std::string bytes = fileBytes(garbage);
    EXPECT_THROW(Store::open(garbage), StoreError);
    EXPECT_EQ(fileBytes(garbage), bytes);

    const fs::path missing = folders.windir() / "MISSING.DAT";
    EXPECT_THROW(Store::open(missing, Store::Options{false, false}), StoreError);
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(StoreTest, SiblingsValuesLoadRightWhateverOrderTheirKeysWereMadeIn) {
    // Keys made in between siblings (Q, the subkeys of a) lie in the siblings' id range; their
    // values must not land on a sibling. Values of a sibling read before stay as they are.
    for (const char* k : {"\\P\\a", "\\Q", "\\P\\a\\deep", "\\P\\b", "\\P\\c"}) {
        ASSERT_TRUE(reg.OpenKey(k, true)) << k;
        reg.WriteString("v", k);
        reg.WriteInteger("n", static_cast<std::uint32_t>(std::string(k).size()));
    }
    for (int round = 0; round < 2; ++round) {
        store->dropCache();
        if (round == 1) { // one sibling's values already in memory
            ASSERT_TRUE(reg.OpenKey("\\P\\b", false));
            EXPECT_EQ(reg.ReadText("v"), "\\P\\b");
        }
        EXPECT_EQ(subKeys("\\P"), (Names{"a", "b", "c"}));
        for (const char* k : {"\\P\\a", "\\P\\b", "\\P\\c", "\\Q", "\\P\\a\\deep"}) {
            ASSERT_TRUE(reg.OpenKey(k, false));
            EXPECT_EQ(valueNames(k), (Names{"v", "n"})) << k;
            EXPECT_EQ(reg.ReadText("v"), k);
            EXPECT_EQ(reg.ReadDword("n"), std::string(k).size());
        }
    }
}

TEST_F(StoreTest, AReadSnapshotSeesTheFileAsItWasAndTheConnectionsOwnWrites) {
    ASSERT_TRUE(reg.OpenKey("\\Snap", true));
    reg.WriteString("v", "before");
    TRegistry other(Store::open(folders.storeFile()));
    ASSERT_TRUE(other.OpenKey("\\Snap", false));
    {
        Store::ReadSnapshot snapshot(*store);
        EXPECT_EQ(reg.ReadText("v"), "before");
        other.WriteString("v", "elsewhere"); // another connection commits meanwhile
        store->dropCache();
        EXPECT_EQ(reg.ReadText("v"), "before");
        // A write of this connection ends the snapshot: it starts from the file as it is now
        // and is read back at once.
        reg.WriteString("w", "own");
        EXPECT_EQ(reg.ReadText("w"), "own");
        EXPECT_EQ(reg.ReadText("v"), "elsewhere");
        other.WriteString("v", "later");
        EXPECT_EQ(reg.ReadText("v"), "elsewhere"); // a new snapshot opened at the read above
    }
    EXPECT_EQ(reg.ReadText("v"), "later");
    EXPECT_EQ(other.ReadText("w"), "own");
}

TEST_F(StoreTest, AForgottenKeyIsReadAgainWhole) {
    ASSERT_TRUE(reg.OpenKey("\\F\\a", true));
    reg.WriteString("x", "1");
    ASSERT_TRUE(reg.OpenKey("\\F\\b", true));
    reg.WriteString("y", std::string(100, 'y'));
    store->dropCache();
    EXPECT_EQ(subKeys("\\F"), (Names{"a", "b"}));
    EXPECT_EQ(valueNames("\\F\\a"), Names{"x"});
    const KeyId a = idOf("\\F\\a");
    const KeyId b = idOf("\\F\\b");
    store->forget(a);
    store->forget(b); // their nodes and values are reused for the keys read next
    EXPECT_EQ(store->cachedKey(a), nullptr);
    ASSERT_TRUE(reg.OpenKey("\\F\\b", false));
    EXPECT_EQ(reg.ReadText("y"), std::string(100, 'y'));
    EXPECT_EQ(valueNames("\\F\\a"), Names{"x"});
    EXPECT_EQ(subKeys("\\F"), (Names{"a", "b"}));
    EXPECT_FALSE(reg.KeyPresent("\\F\\A\\none"));
    EXPECT_TRUE(reg.KeyPresent("\\F\\A"));
}

TEST_F(StoreTest, ACheckpointPutsCommitsInTheFileWithoutWaitingForReaders) {
    const auto fileHas = [&](std::string_view text) {
        return fileBytes(folders.storeFile()).find(text) != std::string::npos;
    };
    ASSERT_TRUE(reg.OpenKey("\\Ckpt", true));
    reg.WriteString("first", "first-data-1b2c");
    auto other = Store::open(folders.storeFile());
    TRegistry reader(other);
    ASSERT_TRUE(reader.OpenKey("\\Ckpt", false));
    {
        // Another connection reads the file as it was before the second write: the checkpoint
        // neither waits nor fails; the pages that reader may still need stay in the log.
        Store::ReadSnapshot snapshot(*other);
        other->dropCache();
        EXPECT_EQ(reader.ReadText("first"), "first-data-1b2c");
        reg.WriteString("second", "second-data-3d4e");
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(store->checkpoint());
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2)); // no busy wait
        EXPECT_FALSE(fileHas("second-data-3d4e"));
        // Nor can the reader's own connection checkpoint inside its snapshot.
        EXPECT_FALSE(other->checkpoint());
    }
    EXPECT_TRUE(store->checkpoint());
    EXPECT_TRUE(fileHas("second-data-3d4e"));
    EXPECT_EQ(reader.ReadText("second"), "second-data-3d4e");

    // Inside a transaction the commits are not there yet to copy.
    Store::Transaction t(*store);
    EXPECT_FALSE(store->checkpoint());
}
