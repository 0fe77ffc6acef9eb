// The store under faults: files it must refuse (read only, locked by another process, damaged,
// written by a newer program), a full database, names and data at and past every limit, a tree
// 512 levels deep, a value of 64 MB, and two instances writing beside klovreg at once.
#include "core/listing/DetailedListing.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/RegExporter.h"
#include "core/regfiles/RegFileError.h"
#include "core/regfiles/RegImporter.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryError.h"
#include "core/registry/RegistryWalker.h"
#include "core/registry/StoreSchema.h"
#include "core/search/SearchEngine.h"
#include "core/snapshot/ChangeTracking.h"
#include "faults/FaultProcess.h"
#include "support/RegTestSupport.h"
#include "support/TempFolders.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <pthread.h>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace klv;
namespace fs = std::filesystem;

namespace {

using test::dumpStore;

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

void exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << (err ? err : "");
    sqlite3_free(err);
}

// The message and detail of what a call raised, in UTF-8; "" when it raised nothing.
std::string raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const RegistryError& e) {
        return cp932ToUtf8(e.fullText());
    }
    return {};
}

// A store with a few keys and values, closed (its log folded into the file).
void makeStore(const fs::path& file) {
    TRegistry reg(Store::open(file));
    ASSERT_TRUE(reg.OpenKey(sj("\\Software\\表示"), true));
    reg.WriteString("s", sj("文字列"));
    reg.WriteBinary("b", std::string(10000, '\xAB'));
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(reg.CreateKey("\\Software\\K" + std::to_string(i)));
}

// Another process holding the store: it opens the file, runs `sql` and keeps its connection
// until the object goes.
class LockHolder {
public:
    LockHolder(const fs::path& file, const std::string& sql) {
        int p[2];
        if (::pipe(p) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(p[0]);
            sqlite3* db = nullptr;
            const bool held = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
                              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
            const char answer = held ? 'y' : 'n';
            if (::write(p[1], &answer, 1) != 1)
                ::_exit(1);
            ::pause();
            ::_exit(0);
        }
        ::close(p[1]);
        char answer = 0;
        held_ = ::read(p[0], &answer, 1) == 1 && answer == 'y';
        ::close(p[0]);
    }
    ~LockHolder() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    bool held() const { return held_; }

private:
    pid_t pid_ = -1;
    bool held_ = false;
};

// --- files the store refuses -----------------------------------------------------------------

struct Refusal {
    const char* what;
    std::function<void(const fs::path&)> damage;
    const char* message; // the beginning of the error's text; nullptr: opens read only
};

// Opening refuses each file with a message of its own, or opens it read only, and the file is
// left as it was, byte for byte, with nothing added beside it.
TEST(StoreFaults, FilesTheStoreCannotUseAreRefusedAndLeftAsTheyWere) {
    test::TempFolders folders;
    const auto setVersion = [](int v) {
        return [v](const fs::path& f) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(f.c_str(), &db), SQLITE_OK);
            exec(db, "PRAGMA user_version = " + std::to_string(v));
            sqlite3_close(db);
        };
    };
    const auto overwriteFrom = [](std::size_t offset) {
        return [offset](const fs::path& f) {
            std::string b = bytesOf(f);
            ASSERT_GT(b.size(), offset + 4096);
            for (std::size_t i = offset; i < b.size(); ++i)
                b[i] = static_cast<char>((i * 7 + 3) & 0xFF);
            writeBytes(f, b);
        };
    };
    const auto readOnly = [](const fs::path& f) {
        fs::permissions(f, fs::perms::owner_read | fs::perms::group_read);
    };
    const std::vector<Refusal> refusals{
        {"not a database", [](const fs::path& f) { writeBytes(f, std::string(20000, 't')); },
         "レジストリファイルが壊れています"},
        {"garbage after the header", overwriteFrom(100), "レジストリファイルが壊れています"},
        {"newer schema", setVersion(kStoreSchemaVersion + 1),
         "このレジストリファイルは新しい版のプログラムで作られたため開けません"},
        {"newer schema, read only",
         [&](const fs::path& f) {
             setVersion(kStoreSchemaVersion + 1)(f);
             readOnly(f);
         },
         "このレジストリファイルは新しい版のプログラムで作られたため開けません"},
        {"read only", readOnly, nullptr},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.what);
        const fs::path dir = folders.root() / r.what;
        const fs::path file = dir / "SYSTEM.DAT";
        fs::create_directories(dir);
        makeStore(file);
        r.damage(file);
        const std::string before = bytesOf(file);
        const std::set<std::string> files = filesIn(dir);
        std::string error;
        try {
            auto store = Store::open(file);
            EXPECT_TRUE(store->readOnly());
            TRegistry reg(store);
            ASSERT_TRUE(reg.OpenKeyAnyAccess(sj("\\Software\\表示"), false));
            EXPECT_EQ(reg.ReadText("s"), sj("文字列"));
            EXPECT_NE(raised([&] { reg.WriteString("s", "x"); }), "");
            EXPECT_FALSE(reg.DeleteKey("\\Software\\K1"));
        } catch (const StoreError& e) {
            error = cp932ToUtf8(e.what());
        }
        EXPECT_EQ(error.rfind(r.message ? r.message : "", 0), 0u) << error;
        if (!r.message) {
            EXPECT_EQ(error, "");
        }
        EXPECT_EQ(bytesOf(file), before);
        // A reader may leave SQLite's empty log and index beside the file; nothing else.
        for (const std::string& name : filesIn(dir)) {
            if (files.count(name))
                continue;
            EXPECT_TRUE(name == "SYSTEM.DAT-shm" || name == "SYSTEM.DAT-wal") << name;
            if (name == "SYSTEM.DAT-wal") {
                EXPECT_EQ(fs::file_size(dir / name), 0u);
            }
        }
        fs::permissions(file, fs::perms::owner_all);
    }
}

// A store whose pages after the first are garbage opens (the damage shows only where it is
// read); every read then says the file is damaged, and writes change nothing.
TEST(StoreFaults, DamagedPagesAreReportedWhereTheyAreRead) {
    test::TempFolders folders;
    const fs::path file = folders.storeFile();
    makeStore(file);
    std::string b = bytesOf(file);
    for (std::size_t i = 4096; i < b.size(); ++i)
        b[i] = static_cast<char>(0xA5);
    writeBytes(file, b);
    std::string error;
    try {
        auto store = Store::open(file);
        TRegistry reg(store);
        EXPECT_FALSE(reg.OpenKey(sj("\\Software\\表示"), false));
        EXPECT_FALSE(reg.DeleteKey("\\Software"));
        error = raised([&] { reg.CreateKey("\\New"); });
    } catch (const StoreError& e) {
        error = cp932ToUtf8(e.fullText());
    }
    EXPECT_NE(error.find("レジストリファイルが壊れています"), std::string::npos) << error;
    EXPECT_EQ(bytesOf(file), b);
}

// Another process holds the store's write lock: a write waits for it as long as the busy time
// allows, then fails with the "in use" message and changes nothing; once it lets go, writes go
// through. A process that holds the file whole keeps even the opening out.
TEST(StoreFaults, AStoreLockedByAnotherProcessIsReportedAndLeftAlone) {
    test::TempFolders folders;
    const fs::path file = folders.storeFile();
    makeStore(file);
    auto store = Store::open(file);
    auto reg = std::make_unique<TRegistry>(store);
    ASSERT_TRUE(reg->OpenKey("\\Software\\K1", false));
    const std::vector<std::string> before = dumpStore(*store, 5);
    {
        LockHolder other(file, "BEGIN EXCLUSIVE; UPDATE keys SET mtime = mtime WHERE id = 1");
        ASSERT_TRUE(other.held());
        sqlite3_busy_timeout(store->db(), 200); // the program waits 10 s
        const std::string error = raised([&] { reg->WriteString("v", "x"); });
        EXPECT_NE(error.find("レジストリは他のプログラムが使用中です"), std::string::npos) << error;
        EXPECT_NE(raised([&] { reg->CreateKey("\\Software\\New"); }), "");
        EXPECT_EQ(dumpStore(*store, 5), before);
    }
    reg->WriteString("v", "after");
    EXPECT_EQ(reg->ReadText("v"), "after");
    reg.reset();
    store.reset();

    const std::string bytes = bytesOf(file);
    LockHolder whole(file, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE");
    ASSERT_TRUE(whole.held());
    std::string error;
    try {
        Store::open(file);
    } catch (const StoreError& e) {
        error = cp932ToUtf8(e.what());
    }
    EXPECT_EQ(error, "レジストリは他のプログラムが使用中です");
    EXPECT_EQ(bytesOf(file), bytes);
}

// klovreg started on each refused store says why and leaves it as it was.
TEST(StoreFaults, KlovregStartedOnARefusedStoreSaysWhyAndChangesNothing) {
    test::TempFolders folders;
    const fs::path file = folders.storeFile();
    makeStore(file);
    std::string b = bytesOf(file);
    for (std::size_t i = 100; i < b.size(); ++i)
        b[i] = 'x';
    writeBytes(file, b);
    const fs::path out = folders.root() / "out.reg";
    const std::string command = std::string(KLOVREG_PATH) + " /E '" + out.string() +
                                "' HKEY_CURRENT_USER 2>'" + (folders.root() / "err").string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = bytesOf(folders.root() / "err");
    EXPECT_NE(err.find("レジストリファイルが壊れています"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(bytesOf(file), b);
}

// --- a full database
// ------------------------------------------------------------------------------

// The database may not grow past its current size plus `pages` pages (a disk that fills up).
void limitGrowth(Store& store, int pages) {
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(store.db(), "PRAGMA page_count", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    const int count = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    exec(store.db(), "PRAGMA max_page_count = " + std::to_string(count + pages));
}

// Every kind of change that does not fit fails with the full-disk message and is rolled back
// whole; with room again, the same changes go through.
TEST(StoreFaults, AFullDatabaseRefusesEachChangeWholeAndKeepsWorking) {
    test::TempFolders folders;
    makeStore(folders.storeFile());
    auto store = Store::open(folders.storeFile());
    TRegistry reg(store);
    const std::string big(200000, 'b');
    const fs::path regFile = folders.root() / "many.reg";
    {
        std::string text = "REGEDIT4\r\n\r\n";
        for (int i = 0; i < 300; ++i)
            text += "[HKEY_CURRENT_USER\\Software\\Imported\\K" + std::to_string(i) +
                    "]\r\n\"v\"=\"" + std::string(1000, 'i') + "\"\r\n\r\n";
        writeBytes(regFile, text);
    }
    // The source of the copy is made while there is room.
    ASSERT_TRUE(reg.OpenKey("\\Software\\Source", true));
    reg.WriteBinary("big", big);
    const std::vector<std::pair<const char*, std::function<void()>>> changes{
        {"a large value",
         [&] {
             ASSERT_TRUE(reg.OpenKey("\\Software\\K1", false));
             reg.WriteBinary("big", big);
         }},
        {"many keys in one transaction",
         [&] {
             Store::Transaction t(*store);
             for (int i = 0; i < 2000; ++i)
                 ASSERT_TRUE(reg.CreateKey("\\Software\\Many\\Key" + std::to_string(i)));
             t.commit();
         }},
        {"an import", [&] { RegImporter(*store, ImportOptions{}).importFile(regFile); }},
        {"a copied tree", [&] { reg.MoveKey("\\Software\\Source", "\\Software\\Copy", false); }},
    };

    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        const std::vector<std::string> before = dumpStore(*store, 5);
        limitGrowth(*store, 2);
        std::string error;
        try {
            change();
        } catch (const RegistryError& e) {
            error = cp932ToUtf8(e.fullText());
        }
        EXPECT_NE(error.find("ディスクの空き容量が不足しています"), std::string::npos) << error;
        EXPECT_EQ(dumpStore(*store, 5), before) << "changed in part";
        TRegistry fresh(Store::open(folders.storeFile()));
        EXPECT_EQ(dumpStore(fresh.store(), 5), before) << "committed in part";
        limitGrowth(*store, 100000);
        EXPECT_NO_THROW(change());
        EXPECT_NE(dumpStore(*store, 5), before);
    }
}

// --- limits ------------------------------------------------------------------------------------

// Each limit through the access layer: at the limit the change is made; one past it the
// layer's message names the limit and nothing is made.
TEST(StoreFaults, NamesPathsAndDataAtAndPastEveryLimit) {
    test::TempFolders folders;
    auto store = Store::open(folders.storeFile());
    TRegistry reg(store);
    ASSERT_TRUE(reg.OpenKey("\\L", true));
    const auto unchangedBy = [&](const std::function<void()>& f, const char* detail) {
        const std::vector<std::string> before = dumpStore(*store, 5);
        const std::string error = raised(f);
        EXPECT_NE(error.find(detail), std::string::npos) << error;
        EXPECT_EQ(dumpStore(*store, 5), before);
    };

    // Key names: 255 bytes (double-byte characters count two).
    std::string jp;
    for (int i = 0; i < 127; ++i)
        jp += sj("表");
    EXPECT_TRUE(reg.CreateKey("\\L\\" + std::string(255, 'k')));
    EXPECT_TRUE(reg.CreateKey("\\L\\" + jp + "k"));
    unchangedBy([&] { reg.CreateKey("\\L\\" + std::string(256, 'k')); },
                "キーの名前が長すぎます（255 バイトまで）");
    unchangedBy([&] { reg.CreateKey("\\L\\" + jp + sj("表")); },
                "キーの名前が長すぎます（255 バイトまで）");
    EXPECT_FALSE(reg.OpenKey("\\L\\" + std::string(256, 'k'), true));

    // Value names: 16383 bytes.
    ASSERT_TRUE(reg.OpenKey("\\L", false));
    reg.WriteString(std::string(kMaxValueNameBytes, 'v'), "at the limit");
    EXPECT_EQ(reg.ReadText(std::string(kMaxValueNameBytes, 'v')), "at the limit");
    unchangedBy([&] { reg.WriteString(std::string(kMaxValueNameBytes + 1, 'v'), "x"); },
                "値の名前が長すぎます（16383 バイトまで）");
    unchangedBy(
        [&] {
            reg.RenameValue(std::string(kMaxValueNameBytes, 'v'),
                            std::string(kMaxValueNameBytes + 1, 'w'));
        },
        "値の名前が長すぎます（16383 バイトまで）");

    // The longest path: 512 levels of 255-byte names below a root.
    std::string longest;
    for (int i = 0; i < kMaxKeyDepth; ++i)
        longest += "\\" + std::string(254, static_cast<char>('a' + i % 26)) + "x";
    ASSERT_EQ(longest.size(), static_cast<std::size_t>(kMaxKeyDepth) * 256);
    EXPECT_TRUE(reg.CreateKey(longest));
    ASSERT_TRUE(reg.OpenKey(longest, false));
    reg.WriteString("deepest", "value");
    unchangedBy([&] { reg.CreateKey(longest + "\\k"); }, "キーの階層が深すぎます（512 階層まで）");
    // A tree copied to where it would pass the depth is not copied at all.
    ASSERT_TRUE(reg.CreateKey("\\Tree\\a\\b\\c"));
    const std::string nearBottom = longest.substr(0, longest.size() - 3 * 256);
    unchangedBy([&] { reg.MoveKey("\\Tree", nearBottom + "\\Tree", false); },
                "キーの階層が深すぎます（512 階層まで）");

    // The longest path goes out to a registry file and back, in both forms.
    for (const RegFileForm form : {RegFileForm::Regedit4, RegFileForm::Unicode}) {
        const fs::path file = folders.root() / "longest.reg";
        ExportOptions o;
        o.form = form;
        RegExporter(*store, o).exportToFile(file, "HKEY_CURRENT_USER" + longest);
        auto copy = Store::open(folders.root() / "COPY.DAT");
        RegImporter(*copy, ImportOptions{}).importFile(file);
        TRegistry back(copy);
        ASSERT_TRUE(back.OpenKey(longest, false));
        EXPECT_EQ(back.ReadText("deepest"), "value");
        copy.reset();
        fs::remove(folders.root() / "COPY.DAT");
    }

    // Data: as much as one database field holds (lowered here from about 1 GB).
    constexpr int kLimit = 1 << 20;
    sqlite3_limit(store->db(), SQLITE_LIMIT_LENGTH, kLimit);
    ASSERT_TRUE(reg.OpenKey("\\L", false));
    reg.WriteBinary("data", std::string(kLimit - 1000, 'd'));
    EXPECT_EQ(reg.GetDataSize("data"), kLimit - 1000);
    unchangedBy([&] { reg.WriteBinary("data", std::string(kLimit + 1, 'd')); },
                "値のデータが大きすぎます");
    unchangedBy([&] { reg.WriteString("text", std::string(kLimit, 't')); },
                "値のデータが大きすぎます");
    EXPECT_EQ(reg.GetDataSize("data"), kLimit - 1000);
}

// --- a registry 512 levels deep ------------------------------------------------------------------

// Runs f on a thread whose stack is `bytes` large: an operation that recursed deeper than the
// tree is wide would run out of it.
void runWithStack(std::size_t bytes, const std::function<void()>& f) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, bytes);
    const auto body = [](void* arg) -> void* {
        try {
            (*static_cast<const std::function<void()>*>(arg))();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "raised: " << cp932ToUtf8(e.what());
        }
        return nullptr;
    };
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, body, const_cast<std::function<void()>*>(&f)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// Every operation of the program that goes down a tree, on a chain of 512 keys with a value on
// each, run on a stack of 4 MB, half the 8 MB the program's threads get: the walker recurses once
// a level, and the larger frames of an optimised sanitizer build (over 2 KB a level) must fit
// with room to spare. (The checks run on the test's own stack: their dump of the store recurses
// freely.)
TEST(StoreFaults, ARegistry512LevelsDeepWalksExportsImportsCopiesAndDeletes) {
    test::TempFolders folders;
    constexpr std::size_t kStack = 4 * 1024 * 1024;
    auto store = Store::open(folders.storeFile());
    TRegistry reg(store);
    std::string deepest;
    for (int i = 1; i <= kMaxKeyDepth; ++i)
        deepest += i == 1 ? "\\D" : "\\d" + std::to_string(i);
    runWithStack(kStack, [&] {
        ASSERT_TRUE(reg.CreateKey(deepest));
        std::string path;
        for (int i = 1; i <= kMaxKeyDepth; ++i) {
            path += i == 1 ? "\\D" : "\\d" + std::to_string(i);
            ASSERT_TRUE(reg.OpenKey(path, false));
            reg.WriteString("v", "level" + std::to_string(i));
        }
    });
    ASSERT_TRUE(reg.OpenKey(deepest, false));
    EXPECT_EQ(store->key(*reg.CurrentKeyId())->depth, kMaxKeyDepth);

    int walked = 0;
    runWithStack(kStack, [&] {
        ASSERT_TRUE(reg.OpenKey("\\D", false));
        const WalkResult w =
            walkRegistry(reg, "\\D", [&](const std::string&, const std::string&) { ++walked; });
        EXPECT_FALSE(w.reopenFailed);
    });
    EXPECT_EQ(walked, kMaxKeyDepth - 1);

    const std::vector<std::string> whole = dumpStore(*store, 5);
    for (const RegFileForm form : {RegFileForm::Regedit4, RegFileForm::Unicode}) {
        const fs::path file = folders.root() / "deep.reg";
        const fs::path copyFile = folders.root() / "COPY.DAT";
        auto copy = Store::open(copyFile);
        runWithStack(kStack, [&] {
            ExportOptions o;
            o.form = form;
            const ExportReport r = RegExporter(*store, o).exportToFile(file, "");
            EXPECT_EQ(r.keys, static_cast<std::uint64_t>(kMaxKeyDepth) + 5); // and the roots
            RegImporter(*copy, ImportOptions{}).importFile(file);
        });
        EXPECT_EQ(dumpStore(*copy, 5), whole);
        copy.reset();
        fs::remove(copyFile);
    }

    Listing listing;
    std::vector<SearchHit> hits;
    std::vector<ChangeRow> rows;
    const fs::path db = snapshotFile(folders.home(), "HKEY_CURRENT_USER");
    fs::create_directories(db.parent_path());
    runWithStack(kStack, [&] {
        ListingRequest l;
        l.keyPathText = "HKEY_CURRENT_USER\\D";
        listing = buildListing(l, {}, store);

        SearchRequest q;
        q.scope = SearchScope::OneKey;
        q.startKey = "HKEY_CURRENT_USER\\D";
        q.text = "level512";
        q.keys = q.names = false;
        SearchCallbacks c;
        c.hit = [&](SearchHit&& h) { hits.push_back(std::move(h)); };
        SearchEngine(q, store).run(c);

        ASSERT_FALSE(buildSnapshot("HKEY_CURRENT_USER", db, {}, store).error);
        ASSERT_FALSE(compareSnapshot("HKEY_CURRENT_USER", "\\", db, true, {}, rows, store).error);
    });
    EXPECT_EQ(listing.keys, static_cast<std::uint64_t>(kMaxKeyDepth));
    EXPECT_EQ(listing.values, static_cast<std::uint64_t>(kMaxKeyDepth));
    EXPECT_EQ(hits.size(), 1u);
    EXPECT_TRUE(rows.empty());

    runWithStack(kStack, [&] { reg.MoveKey("\\D", "\\Copy", false); });
    ASSERT_TRUE(reg.OpenKey("\\Copy" + deepest.substr(2), false));
    EXPECT_EQ(reg.ReadText("v"), "level512");
    bool deleted = false;
    runWithStack(kStack, [&] { deleted = reg.DeleteKey("\\Copy") && reg.DeleteKey("\\D"); });
    EXPECT_TRUE(deleted);
    EXPECT_EQ(dumpStore(*store, 5),
              (std::vector<std::string>{"K HKEY_CLASSES_ROOT", "K HKEY_CURRENT_USER",
                                        "K HKEY_LOCAL_MACHINE", "K HKEY_USERS",
                                        "K HKEY_CURRENT_CONFIG"}));
}

// --- a value of 64 MB
// ------------------------------------------------------------------------------

// A 64 MB binary value and a 64 MB string are written and read back; the string goes out in
// both forms of registry file and the binary value as REGEDIT4 (its hex text alone is about
// 200 MB), each imported again byte for byte; the search finds the string's last word.
TEST(StoreFaults, AValueOf64MegabytesRoundTripsAndIsFound) {
    test::TempFolders folders;
    constexpr std::size_t k64MB = 64u * 1024 * 1024;
    auto store = Store::open(folders.storeFile());
    TRegistry reg(store);
    std::string bytes(k64MB, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    std::string text(k64MB, 'a');
    for (std::size_t i = 0; i < text.size(); i += 61)
        text[i] = static_cast<char>('b' + i % 23);
    text.replace(text.size() - 6, 6, "needle");
    ASSERT_TRUE(reg.OpenKey("\\Big", true));
    reg.WriteBinary("bin", bytes);
    EXPECT_EQ(reg.GetDataSize("bin"), static_cast<int>(k64MB));
    EXPECT_TRUE(reg.ReadBinary("bin") == bytes);

    ASSERT_TRUE(reg.OpenKey("\\Big\\Text", true));
    reg.WriteString("text", text);
    for (const auto& [form, key] : {std::pair{RegFileForm::Regedit4, "\\Big"},
                                    std::pair{RegFileForm::Unicode, "\\Big\\Text"}}) {
        const fs::path file = folders.root() / "big.reg";
        ExportOptions o;
        o.form = form;
        RegExporter(*store, o).exportToFile(file, std::string("HKEY_CURRENT_USER") + key);
        auto copy = Store::open(folders.root() / "COPY.DAT");
        RegImporter(*copy, ImportOptions{}).importFile(file);
        fs::remove(file);
        TRegistry back(copy);
        if (form == RegFileForm::Regedit4) {
            ASSERT_TRUE(back.OpenKey("\\Big", false));
            EXPECT_TRUE(back.ReadBinary("bin") == bytes);
        }
        ASSERT_TRUE(back.OpenKey("\\Big\\Text", false));
        EXPECT_TRUE(back.ReadText("text") == text);
        back.CloseKey();
        copy.reset();
        fs::remove(folders.root() / "COPY.DAT");
    }

    SearchRequest q;
    q.scope = SearchScope::OneKey;
    q.startKey = "HKEY_CURRENT_USER\\Big";
    q.text = "needle";
    q.keys = q.names = false;
    std::vector<SearchHit> hits;
    SearchCallbacks c;
    c.hit = [&](SearchHit&& h) { hits.push_back(std::move(h)); };
    SearchEngine(q, store).run(c);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].texts[kColKey], "Big\\Text");
    EXPECT_EQ(hits[0].texts[kColName], "text");
}

// --- writers at once
// ------------------------------------------------------------------------------

// The number of keys below a key path of HKEY_CURRENT_USER (0 when it is missing), each of
// which must hold "t" = `t`.
int bulkKeys(TRegistry& reg, long t) {
    const std::string path = "\\Bulk\\T" + std::to_string(t);
    std::vector<std::string> names;
    if (!reg.OpenKey(path, false))
        return 0;
    reg.ListSubKeys(names);
    for (const std::string& k : names) {
        EXPECT_TRUE(reg.OpenKey(path + "\\" + k, false));
        EXPECT_EQ(reg.ReadText("t"), std::to_string(t)) << path << "\\" << k;
    }
    return static_cast<int>(names.size());
}

// Two program instances (the store child's endless bulk transactions), klovreg importing a file
// and this process writing, all on one store at once: nobody fails or waits in vain, and every
// committed change is there whole.
TEST(StoreFaults, TwoInstancesAndKlovregWriteAtOnceAndLoseNothing) {
    using namespace std::chrono_literals;
    test::TempFolders folders;
    const fs::path file = folders.storeFile();
    Store::open(file).reset();
    const fs::path regFile = folders.root() / "import.reg";
    {
        std::string text = "REGEDIT4\r\n\r\n";
        for (int i = 0; i < 2000; ++i)
            text += "[HKEY_CURRENT_USER\\Imported\\K" + std::to_string(i) + "]\r\n\"v\"=\"" +
                    std::to_string(i) + "\"\r\n\"d\"=dword:" + std::to_string(1000 + i) +
                    "\r\n\r\n";
        writeBytes(regFile, text);
    }
    const fs::path child = test::testProgram("klovante_store_child");
    fault::Process a(child, {"bulk", file.string(), "0"}, folders.home(), folders.root() / "a.err");
    fault::Process b(child, {"bulk", file.string(), "1000000"}, folders.home(),
                     folders.root() / "b.err");
    ASSERT_TRUE(a.readLine(60s)) << a.errors();
    ASSERT_TRUE(b.readLine(60s)) << b.errors();
    fault::Process import(KLOVREG_PATH, {"/S", regFile.string()}, folders.home(),
                          folders.root() / "import.err");
    {
        TRegistry reg(Store::open(file));
        for (int i = 0; i < 300; ++i) {
            ASSERT_TRUE(reg.OpenKey("\\Here\\K" + std::to_string(i), true));
            reg.WriteString("v", std::to_string(i));
        }
    }
    import.wait();
    EXPECT_TRUE(import.exitedCleanly()) << import.errors();
    // Both instances go on committing after the import, then stop at any moment.
    const long aSeen = std::stol(a.lastLine()), bSeen = std::stol(b.lastLine());
    ASSERT_TRUE(a.waitFor(std::to_string(aSeen + 3), 60s)) << a.errors();
    ASSERT_TRUE(b.waitFor(std::to_string(bSeen + 3), 60s)) << b.errors();
    a.killAlone();
    b.killAlone();
    a.wait();
    b.wait();
    EXPECT_EQ(a.errors() + b.errors(), "");

    TRegistry reg(Store::open(file));
    for (const auto& [process, start] : {std::pair{&a, 0L}, std::pair{&b, 1000000L}}) {
        const long committed = std::stol(process->lastLine());
        for (long t = start; t < start + committed; ++t)
            ASSERT_EQ(bulkKeys(reg, t), 50) << "transaction " << t;
        const int last = bulkKeys(reg, start + committed); // killed before it said so, or not
        EXPECT_TRUE(last == 0 || last == 50) << last;
        EXPECT_EQ(bulkKeys(reg, start + committed + 1), 0);
    }
    for (int i = 0; i < 2000; i += 7) {
        ASSERT_TRUE(reg.OpenKey("\\Imported\\K" + std::to_string(i), false)) << i;
        EXPECT_EQ(reg.ReadText("v"), std::to_string(i));
        EXPECT_EQ(reg.ReadDword("d"),
                  static_cast<std::uint32_t>(std::stoul(std::to_string(1000 + i), nullptr, 16)));
    }
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(reg.OpenKey("\\Here\\K" + std::to_string(i), false)) << i;
        EXPECT_EQ(reg.ReadText("v"), std::to_string(i));
    }
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(reg.store().db(), "PRAGMA integrity_check", -1, &st, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
    sqlite3_finalize(st);
}

} // namespace
