// The store shared with other processes (tests/support/StoreChild.cpp): changes made there are
// seen here at the next operation, and a process killed at any moment leaves a sound store with
// each change either whole or absent.
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryError.h"
#include "support/TempFolders.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <ostream>
#include <poll.h>
#include <random>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

using namespace klv;
namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

// Generous: the suite also runs under AddressSanitizer.
constexpr milliseconds kChildTimeout{60000};
constexpr int kBulkKeys = 50;      // as in StoreChild.cpp
constexpr int kBulkPadBytes = 512; // as in StoreChild.cpp

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// The store child with its standard output on a pipe. Killed and reaped when dropped.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        const fs::path program = test::testProgram("klovante_store_child");
        int p[2];
        if (::pipe2(p, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        UniqueFd readEnd(p[0]), writeEnd(p[1]);
        std::vector<std::string> all{program.string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            throw std::runtime_error("posix_spawn failed: " + std::to_string(rc));
        out_.reset(readEnd.release());
    }
    ~Child() {
        if (pid_ > 0)
            kill();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of output; nullopt at its end or when none comes in time.
    std::optional<std::string> readLine() {
        const auto deadline = std::chrono::steady_clock::now() + kChildTimeout;
        for (;;) {
            if (auto nl = buf_.find('\n'); nl != std::string::npos) {
                std::string line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return line;
            }
            if (out_.get() < 0)
                return std::nullopt;
            const auto left = std::chrono::duration_cast<milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd pfd{out_.get(), POLLIN, 0};
            const int ready = ::poll(&pfd, 1, static_cast<int>(std::max<long>(left.count(), 0)));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return std::nullopt; // timed out
            char chunk[4096];
            const ssize_t n = ::read(out_.get(), chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                out_.reset();
                if (buf_.empty())
                    return std::nullopt;
                buf_ += '\n'; // a last line without its end
                continue;
            }
            buf_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Reads the output to its end and reaps the child. Returns its exit code, or -signal.
    int finish(std::vector<std::string>* lines = nullptr) {
        while (auto l = readLine())
            if (lines)
                lines->push_back(*l);
        if (out_.get() >= 0) { // no end of output in time: a hung child
            kill();
            return -SIGKILL;
        }
        return reap();
    }

    // SIGKILL now; returns the remaining lines, printed before it died.
    std::vector<std::string> kill() {
        if (pid_ <= 0)
            return {}; // reaped: its number may belong to another process by now
        ::kill(pid_, SIGKILL);
        std::vector<std::string> lines;
        reap();
        while (auto l = readLine())
            lines.push_back(*l);
        return lines;
    }

private:
    int reap() {
        if (pid_ <= 0)
            return -1;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        if (WIFEXITED(status))
            return WEXITSTATUS(status);
        return WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
    }

    pid_t pid_ = -1;
    UniqueFd out_;
    std::string buf_;
};

int runChild(const std::vector<std::string>& args, std::vector<std::string>* lines = nullptr) {
    Child c(args);
    return c.finish(lines);
}

std::string integrityCheck(Store& store) {
    sqlite3_stmt* st = nullptr;
    std::string result;
    if (sqlite3_prepare_v2(store.db(), "PRAGMA integrity_check", -1, &st, nullptr) != SQLITE_OK)
        return sqlite3_errmsg(store.db());
    while (sqlite3_step(st) == SQLITE_ROW)
        result += (result.empty() ? "" : "; ") +
                  std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return result;
}

// Keys and values of a whole tree, as a fresh reader sees them.
struct TreeCount {
    int keys = 0;
    int values = 0;
    bool operator==(const TreeCount&) const = default;
};

TreeCount countTree(TRegistry& reg, const std::string& path) {
    TreeCount n;
    if (!reg.OpenKey(path, false))
        return n;
    ++n.keys;
    std::vector<std::string> names;
    reg.ListValues(names);
    n.values += static_cast<int>(names.size());
    reg.ListSubKeys(names);
    for (const auto& s : names) {
        const TreeCount c = countTree(reg, path + "\\" + s);
        n.keys += c.keys;
        n.values += c.values;
    }
    return n;
}

std::string shown(const TreeCount& c) {
    return std::to_string(c.keys) + " keys/" + std::to_string(c.values) + " values";
}

void PrintTo(const TreeCount& c, std::ostream* os) {
    *os << shown(c);
}

} // namespace

TEST(StoreProcesses, ChangesOfAnotherProcessAreSeenAtTheNextOperation) {
    test::TempFolders folders;
    const std::string file = folders.storeFile().string();
    auto store = Store::open(file);
    TRegistry reg(store), lister(store);
    // "表" ends in the byte 0x5C: the path crosses the command line as CP932 bytes.
    const std::string sub = "Shared\\" + sj("表") + "\\Sub";
    ASSERT_TRUE(reg.OpenKey("\\" + sub, true));
    reg.WriteString("v", "old");
    ASSERT_TRUE(lister.OpenKey("\\Shared\\" + sj("表"), false));

    // Fill the caches: a value, the value list, the subkey list, the key's counts.
    std::vector<std::string> names;
    EXPECT_EQ(reg.ReadText("v"), "old");
    reg.ListValues(names);
    lister.ListSubKeys(names);
    KeyInfo info;
    ASSERT_TRUE(reg.QueryKeyInfo(info));
    EXPECT_EQ(info.values, 1u);

    ASSERT_EQ(runChild({"write", file, sub, "v", "new"}), 0);
    EXPECT_EQ(reg.ReadText("v"), "new");

    ASSERT_EQ(runChild({"write", file, sub, sj("値"), sj("データ")}), 0);
    reg.ListValues(names);
    EXPECT_EQ(names, (std::vector<std::string>{"v", sj("値")}));
    ASSERT_TRUE(reg.QueryKeyInfo(info));
    EXPECT_EQ(info.values, 2u);
    EXPECT_EQ(reg.ReadText(sj("値")), sj("データ"));

    ASSERT_EQ(runChild({"write", file, "Shared\\" + sj("表") + "\\" + sj("ア"), "x", "1"}), 0);
    lister.ListSubKeys(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Sub", sj("ア")})); // 0x53 before 0x83
    ASSERT_TRUE(lister.QueryKeyInfo(info));
    EXPECT_EQ(info.subKeys, 2u);

    // The other way round: a write here is committed at once, not held back.
    reg.WriteString("w", sj("親"));
    std::vector<std::string> out;
    ASSERT_EQ(runChild({"read", file, sub, "w"}, &out), 0);
    EXPECT_EQ(out, std::vector<std::string>{sj("親")});

    // The child deletes the key that `reg` holds open; both access objects see it gone.
    ASSERT_EQ(runChild({"delete", file, sub}), 0);
    lister.ListSubKeys(names);
    EXPECT_EQ(names, std::vector<std::string>{sj("ア")});
    EXPECT_FALSE(reg.KeyPresent("\\" + sub));
    EXPECT_FALSE(reg.OpenKey("\\" + sub, false));
}

// Every process that has the store open holds SQLite's lock on its index file for as long as
// it has it open; losing it lets the next process reset the shared memory under this one.
// Many short writers beside a long one then lose nothing and leave a sound file.
TEST(StoreProcesses, ShortWritersBesideALongOneLoseNothing) {
    test::TempFolders folders;
    const std::string file = folders.storeFile().string();
    auto store = Store::open(file);
    TRegistry reg(store);
    ASSERT_TRUE(reg.OpenKey("\\Long", true));
    reg.WriteString("first", "1");
    EXPECT_TRUE(reg.ValuePresent("first")); // the change watch has looked at the index

    std::vector<std::string> out;
    ASSERT_EQ(runChild({"shmlock", file}, &out), 0);
    EXPECT_EQ(out, std::vector<std::string>{"held"}) << "this process lost its index lock";

    constexpr int kValues = 3000;
    constexpr int kWriters = 150;
    std::vector<std::unique_ptr<Child>> running;
    int started = 0;
    for (int i = 0; i < kValues; ++i) {
        reg.WriteString("v" + std::to_string(i), std::to_string(i));
        if (i % (kValues / kWriters) == 0 && started < kWriters) {
            running.push_back(std::make_unique<Child>(std::vector<std::string>{
                "write", file, "Short\\W" + std::to_string(started), "x", "done"}));
            ++started;
        }
        if (running.size() >= 4 || i == kValues - 1) {
            for (auto& c : running)
                ASSERT_EQ(c->finish(), 0);
            running.clear();
        }
    }
    ASSERT_EQ(started, kWriters);

    std::vector<std::string> names;
    reg.ListValues(names);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(kValues) + 1);
    TRegistry fresh(Store::open(file));
    for (int w = 0; w < kWriters; ++w)
        ASSERT_TRUE(fresh.OpenKey("\\Short\\W" + std::to_string(w), false)) << w;
    EXPECT_EQ(integrityCheck(*store), "ok");
    out.clear();
    ASSERT_EQ(runChild({"shmlock", file}, &out), 0);
    EXPECT_EQ(out, std::vector<std::string>{"held"});
}

// A key held open and then deleted by another process stays deleted for its holder: it neither
// reads nor receives another key's values, even one created after it (a new key's number must
// not be handed out again).
TEST(StoreProcesses, KeyDeletedElsewhereStaysDeadForItsHolder) {
    test::TempFolders folders;
    const std::string file = folders.storeFile().string();
    auto store = Store::open(file);
    TRegistry reg(store);
    ASSERT_TRUE(reg.OpenKey("\\Shared\\Held", true)); // the newest key of the store
    reg.WriteString("v", "held");
    EXPECT_TRUE(reg.ValuePresent("v"));

    ASSERT_EQ(runChild({"delete", file, "Shared\\Held"}), 0);
    ASSERT_EQ(runChild({"write", file, "Shared\\Other", "x", "other"}), 0);

    std::vector<std::string> names;
    EXPECT_FALSE(reg.ValuePresent("x")) << "the deleted key reads another key's value";
    reg.ListValues(names);
    EXPECT_TRUE(names.empty()) << "the deleted key lists " << names.size() << " values";
    EXPECT_THROW(reg.WriteString("late", "x"), RegistryError);
    TRegistry fresh(Store::open(file));
    ASSERT_TRUE(fresh.OpenKey("\\Shared\\Other", false));
    fresh.ListValues(names);
    EXPECT_EQ(names, std::vector<std::string>{"x"})
        << "a write through the deleted key landed in another key";
}

TEST(StoreProcesses, KilledWriterLeavesOnlyWholeTransactions) {
    test::TempFolders folders;
    const std::string file = folders.storeFile().string();
    Store::open(file);
    const auto seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);

    long total = 0; // transactions in the store
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Every other round a reader holds the store (and its cache) open across the kill.
        std::shared_ptr<Store> reader;
        std::optional<TRegistry> readerReg;
        std::vector<std::string> before;
        if (round % 2) {
            reader = Store::open(file);
            readerReg.emplace(reader);
            ASSERT_TRUE(readerReg->OpenKey("\\Bulk", false));
            readerReg->ListSubKeys(before);
        }

        Child child({"bulk", file, std::to_string(total)});
        const long want = 1 + std::uniform_int_distribution<long>(0, 39)(rng);
        long committed = 0;
        while (committed < want) {
            const auto line = child.readLine();
            ASSERT_TRUE(line) << "the child stopped after " << committed << " transactions";
            committed = std::stol(*line);
        }
        // Not a wait for anything: moves the kill to a random point of a later transaction.
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 5000)(rng)));
        for (const auto& line : child.kill())
            committed = std::stol(line);

        auto store = Store::open(file);
        ASSERT_EQ(integrityCheck(*store), "ok");
        TRegistry reg(store);
        ASSERT_TRUE(reg.OpenKey("\\Bulk", false));
        std::vector<std::string> ts;
        reg.ListSubKeys(ts);
        KeyInfo info;
        ASSERT_TRUE(reg.QueryKeyInfo(info));
        EXPECT_EQ(info.subKeys, ts.size());
        std::set<long> found;
        for (const auto& t : ts) {
            ASSERT_EQ(t[0], 'T') << t;
            found.insert(std::stol(t.substr(1)));
        }
        // Transactions run one after the other: the ones present are 0 .. n-1.
        const long n = static_cast<long>(found.size());
        ASSERT_TRUE(n == 0 || (*found.begin() == 0 && *found.rbegin() == n - 1))
            << n << " transactions, numbered " << *found.begin() << " to " << *found.rbegin();
        EXPECT_GE(n, total + committed) << "a transaction reported committed is missing";

        // Each one whole: all its keys, each with all its values.
        for (long t : found) {
            const std::string tx = "\\Bulk\\T" + std::to_string(t);
            ASSERT_TRUE(reg.OpenKey(tx, false));
            ASSERT_TRUE(reg.QueryKeyInfo(info));
            std::vector<std::string> ks;
            reg.ListSubKeys(ks);
            ASSERT_EQ(ks.size(), static_cast<std::size_t>(kBulkKeys)) << tx;
            ASSERT_EQ(info.subKeys, static_cast<std::uint32_t>(kBulkKeys)) << tx;
            for (int i = 0; i < kBulkKeys; ++i) {
                ASSERT_TRUE(reg.OpenKey(tx + "\\K" + std::to_string(i), false)) << tx << " K" << i;
                ASSERT_EQ(reg.ReadText("t"), std::to_string(t)) << tx << " K" << i;
                ASSERT_EQ(reg.ReadDword("i"), static_cast<std::uint32_t>(i)) << tx << " K" << i;
                ASSERT_EQ(reg.GetDataSize("pad"), kBulkPadBytes) << tx << " K" << i;
            }
        }

        // The reader that stayed open sees the same at its next operation.
        if (readerReg) {
            std::vector<std::string> after;
            readerReg->ListSubKeys(after);
            EXPECT_EQ(after, ts) << "the reader still lists " << after.size() << " transactions ("
                                 << before.size() << " before the run)";
        }
        total = n;
    }
    EXPECT_GT(total, 0);
}

// A change to a whole tree is one write operation: killed in the middle, the tree is either
// untouched or completely changed.
TEST(StoreProcesses, KilledTreeChangeIsAllOrNothing) {
    test::TempFolders folders;
    const std::string file = folders.storeFile().string();
    const auto seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);

    auto build = [&](const std::string& path) {
        auto store = Store::open(file);
        TRegistry reg(store);
        Store::Transaction txn(*store);
        for (int i = 0; i < 20; ++i)
            for (int j = 0; j < 25; ++j) {
                ASSERT_TRUE(reg.OpenKey(
                    path + "\\" + sj("子") + std::to_string(i) + "\\G" + std::to_string(j), true));
                reg.WriteInteger("j", static_cast<std::uint32_t>(j));
            }
        txn.commit();
    };
    const TreeCount whole{1 + 20 + 20 * 25, 20 * 25};
    auto counts = [&](const std::string& a, const std::string& b) {
        auto store = Store::open(file);
        EXPECT_EQ(integrityCheck(*store), "ok");
        TRegistry reg(store);
        return std::pair{countTree(reg, a), countTree(reg, b)};
    };

    for (const std::string cmd : {"delete", "move"}) {
        SCOPED_TRACE(cmd);
        // A first run to the end tells how long the change takes here.
        ASSERT_NO_FATAL_FAILURE(build("\\Tree"));
        std::chrono::microseconds took{};
        {
            Child child(cmd == "delete" ? std::vector<std::string>{cmd, file, "Tree"}
                                        : std::vector<std::string>{cmd, file, "Tree", "Moved"});
            ASSERT_EQ(child.readLine(), "ready");
            const auto start = std::chrono::steady_clock::now();
            ASSERT_EQ(child.readLine(), "done");
            took = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - start);
            ASSERT_EQ(child.finish(), 0);
        }
        const TreeCount none{};
        const auto done = counts("\\Tree", "\\Moved");
        ASSERT_EQ(done.first, none);
        ASSERT_EQ(done.second, cmd == "move" ? whole : none);

        for (int attempt = 0; attempt < 4; ++attempt) {
            TRegistry(Store::open(file)).DeleteKey("\\Moved"); // left by the last move
            ASSERT_NO_FATAL_FAILURE(build("\\Tree"));
            Child child(cmd == "delete" ? std::vector<std::string>{cmd, file, "Tree"}
                                        : std::vector<std::string>{cmd, file, "Tree", "Moved"});
            ASSERT_EQ(child.readLine(), "ready");
            // Not a wait for anything: a random kill point within the change.
            const auto at = std::chrono::microseconds(std::uniform_int_distribution<long>(
                0, std::max<long>(1, static_cast<long>(took.count())))(rng));
            std::this_thread::sleep_for(at);
            child.kill();
            const auto [tree, moved] = counts("\\Tree", "\\Moved");
            const bool before = tree == whole && moved == none;
            const bool after = tree == none && moved == (cmd == "move" ? whole : none);
            EXPECT_TRUE(before || after)
                << "killed " << at.count() << " us into a change of " << took.count()
                << " us: Tree holds " << shown(tree) << ", Moved " << shown(moved)
                << " (whole: " << shown(whole) << ")";
            if (!before && !after)
                break;
        }
    }
}
