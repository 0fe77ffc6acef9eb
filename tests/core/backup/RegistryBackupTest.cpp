// The status list's rules (sizes, previous sizes, changed marks, first use) and the backup
// copies: a live store copied while another process writes to it, a failed copy that keeps the
// previous backup, names that would leave the backup folder.
#include "core/backup/RegistryBackup.h"
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/Store.h"
#include "core/settings/SettingsFile.h"
#include "support/TempFolders.h"
#include "support/WriteFailure.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using namespace klv;
using namespace klv::backup;
namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

FileState missing(const fs::path&) {
    return {};
}

class BackupTest : public ::testing::Test {
protected:
    test::TempFolders folders;
    SettingsFile settings{folders.home() / "KLOVANTE.INI"};
};

} // namespace

TEST(SizeText, GroupsThousandsAndNamesTheUnit) {
    EXPECT_EQ(sizeText(1234567), "1,234,567" + sj(" ﾊﾞｲﾄ"));
    EXPECT_EQ(sizeText(999), "999" + sj(" ﾊﾞｲﾄ"));
    EXPECT_EQ(sizeText(1000), "1,000" + sj(" ﾊﾞｲﾄ"));
    EXPECT_EQ(sizeText(280000000000ULL), "280,000,000,000" + sj(" ﾊﾞｲﾄ"));
    EXPECT_EQ(sizeText(0), "0" + sj(" ﾊﾞｲﾄ"));
}

TEST_F(BackupTest, FirstUseWatchesTheStoreOfTheSystemFolder) {
    const Snapshot s = readSnapshot(settings);
    ASSERT_EQ(s.entries.size(), 1u);
    EXPECT_EQ(s.entries[0].name, "SYSTEM.DAT");
    EXPECT_EQ(s.entries[0].folder, "");
    EXPECT_TRUE(s.entries[0].checked);
    writeFile(folders.windir() / "SYSTEM.DAT", std::string(1500, 'x'));
    const Activation a = activate(s, folders.windir(), stateOf);
    EXPECT_EQ(a.rows[0].size, "1,500" + sj(" ﾊﾞｲﾄ"));
    EXPECT_EQ(a.rows[0].previousSize, "-");
    EXPECT_EQ(a.rows[0].changed, sj("はい"));
    EXPECT_EQ(a.total, "1,500" + sj(" ﾊﾞｲﾄ"));
    EXPECT_EQ(a.previousTotal, "-");
}

TEST_F(BackupTest, MissingFileShowsStarsAndChangedWhenATimeWasStored) {
    Snapshot s;
    s.entries = {{"GONE.DAT", "", "2020/01/02 03:04:05", true}, {"NEVER.DAT", "", "*", false}};
    const Activation a = activate(s, folders.windir(), missing);
    EXPECT_EQ(a.rows[0].size, "*");
    EXPECT_EQ(a.rows[0].previousSize, "*");
    EXPECT_EQ(a.rows[0].time, "*");
    EXPECT_EQ(a.rows[0].changed, sj("はい"));
    EXPECT_EQ(a.rows[1].changed, sj("いいえ")); // missing then, missing now
    EXPECT_FALSE(a.rows[1].checked);
    EXPECT_EQ(a.total, sizeText(0));
}

TEST_F(BackupTest, SecondOpeningShowsTheFirstOpeningsSizesAsPrevious) {
    const fs::path folder = folders.root() / "hives";
    fs::create_directories(folder);
    writeFile(folder / "A.DAT", std::string(2048, 'a'));
    std::vector<StatusRow> rows{*rowForFile(folder / "A.DAT"), *rowForFile(folder / "B.DAT")};
    EXPECT_EQ(rows[1].size, "*");
    writeEntries(settings, rows);

    const Activation first = activate(readSnapshot(settings), folders.windir(), stateOf);
    writeCleanSizes(settings, first);
    writeEntries(settings, first.rows);
    EXPECT_EQ(first.rows[0].previousSize, "-");
    EXPECT_EQ(first.rows[0].changed, sj("いいえ")); // the time stored by the add

    writeFile(folder / "A.DAT", std::string(4096, 'a'));
    // A time stamp a second later than the stored one: the file changed since the last close.
    const auto later = fs::last_write_time(folder / "A.DAT") + std::chrono::seconds(2);
    fs::last_write_time(folder / "A.DAT", later);
    const Activation second = activate(readSnapshot(settings), folders.windir(), stateOf);
    EXPECT_EQ(second.rows[0].size, "4,096" + sj(" ﾊﾞｲﾄ"));
    EXPECT_EQ(second.rows[0].previousSize, "2,048" + sj(" ﾊﾞｲﾄ"));
    EXPECT_EQ(second.rows[0].changed, sj("はい"));
    EXPECT_EQ(second.rows[1].previousSize, "*");
    EXPECT_EQ(second.previousTotal, "2,048" + sj(" ﾊﾞｲﾄ"));
}

TEST_F(BackupTest, ClosedRowsReadBackWithFolderCheckAndTime) {
    std::vector<StatusRow> rows{{"X.DAT", "1", "2", "2021/05/06 07:08:09", "", "/tmp/", false}};
    writeEntries(settings, rows);
    const Snapshot s = readSnapshot(settings);
    ASSERT_EQ(s.entries.size(), 1u);
    EXPECT_EQ(s.entries[0].folder, "/tmp/");
    EXPECT_EQ(s.entries[0].storedTime, "2021/05/06 07:08:09");
    EXPECT_FALSE(s.entries[0].checked);
    writeEntries(settings, {});
    EXPECT_TRUE(readSnapshot(settings).entries.empty()); // Count = 0 is not first use
}

TEST_F(BackupTest, NoItemsSucceedsAndCreatesTheFolder) {
    const fs::path target = folders.root() / "a" / "b" / "BACKUP";
    int failures = 0;
    EXPECT_TRUE(backupFiles({}, target, folders.windir(), [&](const std::string&) { ++failures; }));
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(fs::is_directory(target));
}

TEST_F(BackupTest, PlainCopyIsExactAndWritableAndFailuresDoNotStopOthers) {
    writeFile(folders.windir() / "USER.DAT", "user data");
    chmod((folders.windir() / "USER.DAT").c_str(), 0444);
    const fs::path target = folders.root() / "BACKUP";
    std::vector<std::string> failed;
    EXPECT_FALSE(backupFiles({{"NONE.DAT", ""}, {"USER.DAT", ""}, {"../ESCAPE.DAT", ""}}, target,
                             folders.windir(), [&](const std::string& n) { failed.push_back(n); }));
    EXPECT_EQ(failed, (std::vector<std::string>{"NONE.DAT", "../ESCAPE.DAT"}));
    EXPECT_EQ(readAll(target / "USER.DAT"), "user data");
    struct stat st {};
    ASSERT_EQ(stat((target / "USER.DAT").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
    EXPECT_FALSE(fs::exists(folders.root() / "ESCAPE.DAT"));
    EXPECT_NE(failureMessage("USER.DAT").find(sj(" のバックアップが失敗しました。")),
              std::string::npos);
}

TEST_F(BackupTest, FailedCopyLeavesThePreviousBackupIntact) {
    const fs::path target = folders.root() / "BACKUP";
    writeFile(folders.windir() / "USER.DAT", std::string(5000, '1'));
    ASSERT_TRUE(backupFiles({{"USER.DAT", ""}}, target, folders.windir(), [](auto&) {}));
    writeFile(folders.windir() / "USER.DAT", std::string(9000, '2'));
    std::vector<std::string> failed;
    {
        test::WriteFailure full(4096);
        EXPECT_FALSE(backupFiles({{"USER.DAT", ""}}, target, folders.windir(),
                                 [&](const std::string& n) { failed.push_back(n); }));
    }
    EXPECT_EQ(failed, std::vector<std::string>{"USER.DAT"});
    EXPECT_EQ(readAll(target / "USER.DAT"), std::string(5000, '1'));
    EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1)
        << "a temporary file was left behind";
}

TEST_F(BackupTest, RecognisesAnSqliteDatabaseByItsHeader) {
    writeFile(folders.root() / "plain.dat", "SQLite format 3"); // one byte short
    EXPECT_FALSE(isSqliteDatabase(folders.root() / "plain.dat"));
    EXPECT_FALSE(isSqliteDatabase(folders.root() / "absent.dat"));
    Store::open(folders.storeFile());
    EXPECT_TRUE(isSqliteDatabase(folders.storeFile()));
}

namespace {

// klovante_store_child running "bulk" with its output in a file; killed when dropped.
class BulkWriter {
public:
    BulkWriter(const fs::path& store, const fs::path& out) : out_(out) {
        const fs::path program = test::testProgram("klovante_store_child");
        std::vector<std::string> all{program.string(), "bulk", store.string(), "1"};
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            throw std::runtime_error("posix_spawn failed");
    }
    ~BulkWriter() {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    BulkWriter(const BulkWriter&) = delete;
    BulkWriter& operator=(const BulkWriter&) = delete;
    // Transactions committed so far.
    int committed() const {
        std::istringstream in(readAll(out_));
        int n = 0;
        for (std::string line; std::getline(in, line);)
            n = std::atoi(line.c_str());
        return n;
    }

private:
    fs::path out_;
    pid_t pid_ = -1;
};

} // namespace

TEST_F(BackupTest, LiveStoreIsCopiedAsAConsistentSnapshotWhileAnotherProcessWrites) {
    Store::open(folders.storeFile()); // seeded and closed again
    BulkWriter writer(folders.storeFile(), folders.root() / "bulk.out");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (writer.committed() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(writer.committed(), 3);
    const int before = writer.committed();

    // Many rounds, so that some copies run while the writer checkpoints its log into the file.
    const fs::path target = folders.root() / "BACKUP";
    for (int round = 0; round < 12; ++round) {
        ASSERT_TRUE(backupFiles({{"SYSTEM.DAT", ""}}, target, folders.windir(), [](auto&) {}));
        ASSERT_EQ(databaseIntegrity(target / "SYSTEM.DAT"), "ok") << "round " << round;
    }
    // The copy stands alone: no log beside it, and its header asks for none (bytes 18 and 19).
    EXPECT_FALSE(fs::exists(target / "SYSTEM.DAT-wal"));
    const std::string header = readAll(target / "SYSTEM.DAT").substr(0, 20);
    EXPECT_EQ(header.substr(18, 2), std::string("\x01\x01"));

    // Every transaction in the copy is whole, and none committed before the copy is missing.
    TRegistry reg(Store::open(target / "SYSTEM.DAT"));
    ASSERT_TRUE(reg.OpenKey("\\Bulk", false));
    std::vector<std::string> txns;
    reg.ListSubKeys(txns);
    EXPECT_GE(static_cast<int>(txns.size()), before);
    for (const std::string& t : txns) {
        ASSERT_TRUE(reg.OpenKey("\\Bulk\\" + t, false));
        std::vector<std::string> keys;
        reg.ListSubKeys(keys);
        ASSERT_EQ(keys.size(), 50u) << t;
        ASSERT_TRUE(reg.OpenKey("\\Bulk\\" + t + "\\" + keys.back(), false));
        EXPECT_EQ("T" + reg.ReadText("t"), t);
    }
}

TEST_F(BackupTest, SnapshotKeepsWhatTheLogHoldsWhenACheckpointRunsDuringTheCopy) {
    auto store = Store::open(folders.storeFile());
    TRegistry reg(store);
    ASSERT_TRUE(reg.OpenKey("\\Before", true));
    reg.WriteString("v", "committed before the backup");
    ASSERT_GT(fs::file_size(folders.storeFile().string() + "-wal"), 0u);

    // Between the copies of the file and of its log, another writer commits and tries to fold
    // the whole log into the file and empty it.
    struct HookReset {
        ~HookReset() { setSnapshotHookForTesting({}); }
    } reset;
    setSnapshotHookForTesting([&] {
        TRegistry during(store);
        ASSERT_TRUE(during.OpenKey("\\During", true));
        during.WriteString("v", "committed during the backup");
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(folders.storeFile().c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
    const fs::path target = folders.root() / "BACKUP";
    ASSERT_TRUE(backupFiles({{"SYSTEM.DAT", ""}}, target, folders.windir(), [](auto&) {}));
    EXPECT_EQ(databaseIntegrity(target / "SYSTEM.DAT"), "ok");
    TRegistry copy(Store::open(target / "SYSTEM.DAT"));
    ASSERT_TRUE(copy.OpenKey("\\Before", false));
    EXPECT_EQ(copy.ReadText("v"), "committed before the backup");
}

TEST_F(BackupTest, DatabaseInRollbackModeIsCopiedWhole) {
    const fs::path source = folders.windir() / "OTHER.DAT";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(source.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode=DELETE; CREATE TABLE t(v);"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                           "WHERE i < 5000) INSERT INTO t SELECT randomblob(200) FROM n;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    // Held open with a read transaction, as another program reading it would.
    ASSERT_EQ(sqlite3_exec(db, "BEGIN; SELECT count(*) FROM t;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    const fs::path target = folders.root() / "BACKUP";
    ASSERT_TRUE(backupFiles({{"OTHER.DAT", ""}}, target, folders.windir(), [](auto&) {}));
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(readAll(target / "OTHER.DAT"), readAll(source));
    EXPECT_EQ(databaseIntegrity(target / "OTHER.DAT"), "ok");
    EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1)
        << "a temporary file was left behind";
}
