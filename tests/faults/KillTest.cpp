// Processes killed (SIGKILL) at random moments during the program's long writes. Each kind is
// run once whole, which gives the state after it and its length, and then several times in
// fresh copies of the same folders, killed after a random delay from the moment the child says
// it has started. Afterwards the store must pass SQLite's integrity check, each transaction
// must be whole or absent, and every file the program writes must hold its old bytes or its
// new ones.
//
// KLOVANTE_KILL_RUNS sets the killed runs per kind (default 3); KLOVANTE_KILL_SEED replays a
// run whose seed a failure printed.
#include "FaultProcess.h"
#include "FaultWork.h"

#include "core/backup/RegistryBackup.h"
#include "core/lists/ListFile.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/RegExporter.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/Registry.h"
#include "core/settings/SettingsFile.h"
#include "core/snapshot/ChangeTracking.h"
#include "core/undo/UndoLog.h"
#include "core/wine/WinePrefix.h"
#include "support/RegTestSupport.h"
#include "support/TempFolders.h"
#include "support/WriteFailure.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <sys/file.h>
#include <thread>
#include <vector>

using namespace klv;
using namespace klv::fault;
namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds kStartTimeout{60000};

int runsPerKind() {
    const char* v = std::getenv("KLOVANTE_KILL_RUNS");
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : 3;
}

// One seed for the whole test program, printed, so that a failure can be replayed.
std::uint64_t baseSeed() {
    static const std::uint64_t seed = [] {
        if (const char* v = std::getenv("KLOVANTE_KILL_SEED"))
            return static_cast<std::uint64_t>(std::strtoull(v, nullptr, 10));
        return static_cast<std::uint64_t>(std::random_device{}()) << 20 ^
               static_cast<std::uint64_t>(
                   std::chrono::steady_clock::now().time_since_epoch().count());
    }();
    return seed;
}

// --- the store ----------------------------------------------------------------------------------

using Dump = std::vector<std::string>;

Dump dumpOf(const fs::path& store) {
    auto s = Store::open(store, Store::Options{false, false});
    return test::dumpStore(*s, kRootKeyCount);
}

// Where two dumps part, for a failure message.
std::string firstDifference(const Dump& a, const Dump& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    auto at = [&](const Dump& d) {
        return i < d.size() ? d[i].substr(0, 160) : std::string("(end)");
    };
    return "line " + std::to_string(i) + " of " + std::to_string(a.size()) + "/" +
           std::to_string(b.size()) + ": " + at(a) + " | " + at(b);
}

// Keys under one parent at most, as registries mostly have them.
constexpr int kKeysPerGroup = 100;

// The path of key `k` of a tree: in groups, G<g>\K<k>.
std::string treeKey(int k) {
    return "G" + std::to_string(k / kKeysPerGroup) + "\\" + keyName(k);
}

// A tree of `keys` keys, each with three values, written in one transaction.
void fillTree(const std::shared_ptr<Store>& store, const std::string& path, int keys,
              const std::string& text) {
    Store::Transaction txn(*store);
    TRegistry reg(store);
    for (int k = 0; k < keys; ++k) {
        ASSERT_TRUE(reg.OpenKey(path + "\\" + treeKey(k), true));
        reg.WriteString("s", text + " " + std::to_string(k));
        reg.WriteInteger("d", static_cast<std::uint32_t>(k * 7919));
        reg.WriteBinary("b", std::string(40, static_cast<char>('A' + k % 26)));
    }
    txn.commit();
}

// --- the runs -----------------------------------------------------------------------------------

// How a killed run ended up, for the summary line of its kind.
struct Tally {
    std::map<std::string, int> outcomes;
    void add(const std::string& outcome) { ++outcomes[outcome]; }
    std::string text() const {
        std::string t;
        for (const auto& [name, n] : outcomes)
            t += " " + name + "=" + std::to_string(n);
        return t;
    }
};

class KillTest : public ::testing::Test {
protected:
    void SetUp() override { setClockForTesting({}); }
    void TearDown() override { setClockForTesting({}); }

    // The folder every run starts from: <root>/template/home with its WINDOWS folder.
    fs::path templateHome() const { return folders.root() / "template" / "home"; }
    // An undo log with rows of its own, dated a day earlier, which a run adds to.
    void seedUndoRows() const {
        setClockForTesting([] { return fileTimeFromUnix(kFixedUnixTime - 86400); });
        {
            UndoLog undo(UndoPlace{templateHome(), templateHome() / "WINDOWS", {}, nullptr});
            for (int i = 0; i < 3; ++i)
                undo.add(UndoEntry{{},
                                   sj("文字列値の変更"),
                                   "HKEY_CURRENT_USER",
                                   "\\Software\\X",
                                   "v" + std::to_string(i),
                                   "a",
                                   "b",
                                   {}});
        }
        setClockForTesting({});
    }
    fs::path templateStore() const { return templateHome() / "WINDOWS" / "SYSTEM.DAT"; }

    void makeTemplate() {
        fs::create_directories(templateHome() / "WINDOWS");
        Store::open(templateStore(), Store::Options{true, true}); // seeded
    }

    // A fresh copy of the template for one run; its program folder.
    fs::path freshRun(const std::string& name) {
        const fs::path run = folders.root() / name;
        fs::remove_all(run);
        fs::create_directories(run);
        fs::copy(folders.root() / "template", run,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        return run / "home";
    }

    struct Timing {
        milliseconds length{0}; // from "started" to the end of the whole run
    };

    // Starts the kind's process in `home`: the fault child or klovreg.
    using Starter = std::function<std::unique_ptr<Process>(const fs::path& home)>;

    // The whole run: it must end by itself without an error.
    Timing wholeRun(const Starter& start, const fs::path& home, bool announces = true) {
        auto p = start(home);
        if (announces) {
            EXPECT_TRUE(p->waitFor("started", kStartTimeout)) << p->errors();
        }
        const auto from = std::chrono::steady_clock::now();
        // Up to "done": what comes after it is the process's own ending.
        if (announces) {
            EXPECT_TRUE(p->waitFor("done", kStartTimeout)) << p->errors();
        }
        if (!announces)
            p->wait(); // a program that says nothing runs until it ends
        const auto took =
            std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - from);
        p->wait();
        EXPECT_TRUE(p->exitedCleanly()) << p->errors();
        std::cout << "  whole run: " << took.count() << " ms\n";
        return {std::max(took, milliseconds(1))};
    }

    // Runs the kind `runs` times, each killed after a random delay, and checks each run's
    // folder with `check` (which returns the outcome's name for the summary).
    void killedRuns(const std::string& kind, const Starter& start, Timing timing,
                    const std::function<std::string(const fs::path& home, Process&)>& check,
                    bool announces = true, bool sometimesAlone = false) {
        const std::uint64_t seed = baseSeed() ^ std::hash<std::string>{}(kind);
        std::mt19937_64 random(seed);
        // Kill points as parts of the whole run's length, so that a seed gives the same points
        // on a faster or slower machine. Some land after the end: they must find the whole
        // result.
        std::uniform_real_distribution<double> part(0, 1.15);
        Tally tally;
        const int runs = runsPerKind();
        for (int run = 0; run < runs; ++run) {
            const milliseconds wait(
                static_cast<long>(part(random) * static_cast<double>(timing.length.count())));
            const bool alone = sometimesAlone && random() % 2 == 1;
            SCOPED_TRACE(kind + " run " + std::to_string(run) + ", delay " +
                         std::to_string(wait.count()) + " ms" + (alone ? ", child alone" : "") +
                         " (KLOVANTE_KILL_SEED=" + std::to_string(baseSeed()) + ")");
            const fs::path home = freshRun("run");
            auto p = start(home);
            if (announces) {
                ASSERT_TRUE(p->waitFor("started", kStartTimeout)) << p->errors();
            }
            std::this_thread::sleep_for(wait);
            if (alone)
                p->killAlone();
            else
                p->killGroup();
            p->wait();
            if (!p->killed()) {
                ASSERT_TRUE(p->exitedCleanly()) << p->errors();
            }
            const std::string outcome = check(home, *p);
            if (HasFatalFailure() || HasNonfatalFailure()) {
                std::cout << "  failed: " << kind << " run " << run
                          << " (KLOVANTE_KILL_SEED=" << baseSeed() << ")\n";
                return;
            }
            tally.add(outcome);
        }
        std::cout << "  " << kind << ": " << runs << " killed runs," << tally.text()
                  << " (KLOVANTE_KILL_SEED=" << baseSeed() << ")\n";
    }

    std::unique_ptr<Process> child(const fs::path& home, std::vector<std::string> args) {
        return std::make_unique<Process>(faultChildProgram(), args, home,
                                         home.parent_path() / "child.err");
    }

    // The store sound, and its contents either `before` or `after`; the outcome's name.
    std::string storeBeforeOrAfter(const fs::path& store, const Dump& before, const Dump& after) {
        EXPECT_EQ(backup::databaseIntegrity(store), "ok");
        const Dump now = dumpOf(store);
        if (now == before)
            return "before";
        if (now == after)
            return "after";
        ADD_FAILURE() << "the store holds half a change; against before: "
                      << firstDifference(now, before)
                      << "; against after: " << firstDifference(now, after);
        return "half";
    }

    // The file holds `before` or `after` (a missing file counts as empty); the outcome's name.
    static std::string fileBeforeOrAfter(const fs::path& file, const std::string& before,
                                         const std::string& after) {
        const std::string now = fs::exists(file) ? readAll(file) : std::string();
        if (now == before)
            return "old";
        if (now == after)
            return "new";
        ADD_FAILURE() << file << " holds neither its old nor its new bytes (" << now.size()
                      << " bytes; old " << before.size() << ", new " << after.size() << ")";
        return "torn";
    }

    // Files in `folder` other than `expected`: what a killed writer left behind.
    static std::vector<std::string> leftovers(const fs::path& folder,
                                              const std::set<std::string>& expected) {
        std::vector<std::string> extra;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec))
            if (!expected.count(e.path().filename().string()))
                extra.push_back(e.path().filename().string());
        return extra;
    }

    // Files that a killed writer left in `folder` beside `expected` go with the next write
    // there (`write`); what to add to the outcome's name.
    static std::string nextWriteClears(const fs::path& folder,
                                       const std::set<std::string>& expected,
                                       const std::function<void()>& write) {
        const std::size_t left = leftovers(folder, expected).size();
        write();
        EXPECT_EQ(leftovers(folder, expected), std::vector<std::string>{});
        return left ? "/leftovers cleared" : "";
    }

    test::TempFolders folders;
};

// --- imports ------------------------------------------------------------------------------------

// An import file that deletes one tree, writes thousands of keys, changes and deletes values
// of an existing key, and sets a marker last.
std::string importFile(int keys) {
    std::string f = "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Fault\\Old]\r\n\r\n";
    for (int k = 0; k < keys; ++k)
        f += "[HKEY_CURRENT_USER\\Software\\Fault\\Import\\" + treeKey(k) + "]\r\n\"s\"=\"text " +
             std::to_string(k) + "\"\r\n\"d\"=dword:" + hex8(static_cast<std::uint32_t>(k)) +
             "\r\n\"b\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10\r\n\r\n";
    f += "[HKEY_CURRENT_USER\\Software\\Fault\\Existing]\r\n\"changed\"=\"new\"\r\n"
         "\"gone\"=-\r\n\r\n[HKEY_CURRENT_USER\\Software\\Fault\\Import]\r\n"
         "\"marker\"=\"complete\"\r\n";
    return f;
}

class ImportKillTest : public KillTest {
protected:
    void SetUp() override {
        KillTest::SetUp();
        makeTemplate();
        {
            auto store = Store::open(templateStore());
            fillTree(store, "\\Software\\Fault\\Old", 300, "old");
            TRegistry reg(store);
            ASSERT_TRUE(reg.OpenKey("\\Software\\Fault\\Existing", true));
            reg.WriteString("changed", "old");
            reg.WriteString("gone", "still here");
        }
        writeAll(folders.root() / "template" / "import.reg", importFile(6000));
        before = dumpOf(templateStore());
    }

    void runKind(const std::string& kind, const Starter& start, bool announces) {
        const fs::path home = freshRun("whole");
        const Timing timing = wholeRun(start, home, announces);
        const Dump after = dumpOf(home / "WINDOWS" / "SYSTEM.DAT");
        ASSERT_NE(after, before);
        killedRuns(
            kind, start, timing,
            [&](const fs::path& h, Process&) {
                return storeBeforeOrAfter(h / "WINDOWS" / "SYSTEM.DAT", before, after);
            },
            announces);
    }

    Dump before;
};

TEST_F(ImportKillTest, ImportThroughTheCoreIsWholeOrAbsent) {
    runKind(
        "import",
        [&](const fs::path& home) {
            return child(home, {"import", (home / "WINDOWS" / "SYSTEM.DAT").string(),
                                (home.parent_path() / "import.reg").string()});
        },
        true);
}

TEST_F(ImportKillTest, KlovregImportIsWholeOrAbsent) {
    // klovreg says nothing when it starts: the delay runs from its start.
    runKind(
        "klovreg import",
        [&](const fs::path& home) {
            return std::make_unique<Process>(
                KLOVREG_PATH,
                std::vector<std::string>{"/S", (home.parent_path() / "import.reg").string()}, home,
                home.parent_path() / "child.err");
        },
        false);
}

// --- replace ------------------------------------------------------------------------------------

class ReplaceKillTest : public KillTest {};

TEST_F(ReplaceKillTest, ReplaceRunIsWholeOrAbsentAndTheUndoLogFollowsIt) {
    makeTemplate();
    {
        auto store = Store::open(templateStore());
        Store::Transaction txn(*store);
        TRegistry reg(store);
        for (int k = 0; k < 1500; ++k) {
            const std::string key = "\\Software\\Fault\\Replace\\" + treeKey(k);
            ASSERT_TRUE(reg.OpenKey(key, true));
            reg.WriteString("s", "old text " + std::to_string(k));
            reg.WriteString("old name " + std::to_string(k), "v");
            reg.WriteString("plain", "untouched");
            if (k % 50 == 0) {
                ASSERT_TRUE(reg.OpenKey(key + "\\old key\\inner", true));
                reg.WriteString("x", "y");
            }
        }
        txn.commit();
    }
    // An undo log with rows of its own, which a run adds to.
    seedUndoRows();
    const Dump before = dumpOf(templateStore());
    const std::string undoBefore = readAll(templateHome() / "UNDO.DAT");

    const Starter start = [&](const fs::path& home) {
        return child(home, {"replace", (home / "WINDOWS" / "SYSTEM.DAT").string(), home.string(),
                            "HKEY_CURRENT_USER\\Software\\Fault\\Replace", "old", "new"});
    };
    const fs::path whole = freshRun("whole");
    const Timing timing = wholeRun(start, whole);
    const Dump after = dumpOf(whole / "WINDOWS" / "SYSTEM.DAT");
    const std::string undoAfter = readAll(whole / "UNDO.DAT");
    ASSERT_NE(after, before);
    ASSERT_NE(undoAfter, undoBefore);

    killedRuns("replace", start, timing, [&](const fs::path& home, Process&) {
        const std::string store =
            storeBeforeOrAfter(home / "WINDOWS" / "SYSTEM.DAT", before, after);
        const std::string undo = fileBeforeOrAfter(home / "UNDO.DAT", undoBefore, undoAfter);
        // The log records a change only once it is made; a kill between the two may lose the
        // record, never invent one.
        EXPECT_FALSE(store == "before" && undo == "new");
        return store + "/" + undo + nextWriteClears(home, {"UNDO.DAT", "WINDOWS", "UNDO"}, [&] {
                   UndoLog log(UndoPlace{home, home / "WINDOWS", {}, nullptr});
                   log.load();
                   log.save();
               });
    });
}

// --- script -------------------------------------------------------------------------------------

class ScriptKillTest : public KillTest {
protected:
    static constexpr int kUnits = 120;
    static constexpr int kBagValues = 40;
    static constexpr int kTreeKeys = 10;

    static std::string unit(int j) {
        std::string n = std::to_string(j);
        return std::string(3 - std::min<std::size_t>(3, n.size()), '0') + n;
    }

    // Per unit: the bag emptied, the step logged, the tree deleted, the path made; in order.
    std::vector<bool> effects(const fs::path& store) {
        std::vector<bool> out;
        TRegistry reg(Store::open(store, Store::Options{false, false}));
        const std::string base = "\\Software\\Fault\\Script\\";
        for (int j = 0; j < kUnits; ++j) {
            const std::string u = unit(j);
            EXPECT_TRUE(reg.OpenKey(base + "Bag" + u, false));
            std::vector<std::string> values;
            reg.ListValues(values);
            EXPECT_TRUE(values.empty() || values.size() == kBagValues)
                << "Bag" << u << " lost some of its values: " << values.size();
            out.push_back(values.empty());

            out.push_back(reg.OpenKey(base + "Log", false) && reg.ValuePresent("step" + u));

            if (reg.KeyPresent(base + "Tree" + u)) {
                for (int k = 0; k < kTreeKeys; ++k) {
                    const std::string key = base + "Tree" + u + "\\" + treeKey(k);
                    EXPECT_TRUE(reg.OpenKey(key, false)) << key << " went alone";
                    reg.ListValues(values);
                    EXPECT_EQ(values.size(), 3u) << key;
                }
                out.push_back(false);
            } else {
                out.push_back(true);
            }

            const bool made = reg.KeyPresent(base + "Made" + u);
            EXPECT_EQ(made, reg.KeyPresent(base + "Made" + u + "\\a\\b\\c"))
                << "Made" << u << " was made in part";
            out.push_back(made);
        }
        return out;
    }
};

TEST_F(ScriptKillTest, EachCommandIsWholeAndTheCommandsApplyInOrder) {
    makeTemplate();
    {
        auto store = Store::open(templateStore());
        Store::Transaction txn(*store);
        TRegistry reg(store);
        for (int j = 0; j < kUnits; ++j) {
            ASSERT_TRUE(reg.OpenKey("\\Software\\Fault\\Script\\Bag" + unit(j), true));
            for (int v = 0; v < kBagValues; ++v)
                reg.WriteString("value" + std::to_string(v), std::string(30, 'b'));
        }
        txn.commit();
    }
    {
        auto store = Store::open(templateStore());
        for (int j = 0; j < kUnits; ++j)
            fillTree(store, "\\Software\\Fault\\Script\\Tree" + unit(j), kTreeKeys, "tree");
    }
    std::string script = "<TITLE>fault\r\n<INSTDATA>YES\r\nINSTBEGIN\r\n";
    for (int j = 0; j < kUnits; ++j) {
        const std::string u = unit(j);
        script += "OpenKey(HKEY_CURRENT_USER\\Software\\Fault\\Script\\Bag" + u + ",False)\r\n" +
                  "DeleteAllValues()\r\n" +
                  "OpenKey(HKEY_CURRENT_USER\\Software\\Fault\\Script\\Log,True)\r\n" +
                  "WriteString(step" + u + ",done)\r\n" +
                  "DeleteKey(HKEY_CURRENT_USER\\Software\\Fault\\Script\\Tree" + u + ")\r\n" +
                  "CreateKey(\\Software\\Fault\\Script\\Made" + u + "\\a\\b\\c)\r\n";
    }
    script += "INSTEND\r\n";
    writeAll(folders.root() / "template" / "fault.hvs", script);

    const Starter start = [&](const fs::path& home) {
        return child(home, {"script", (home / "WINDOWS" / "SYSTEM.DAT").string(),
                            (home.parent_path() / "fault.hvs").string()});
    };
    const fs::path whole = freshRun("whole");
    const Timing timing = wholeRun(start, whole);
    const std::vector<bool> all = effects(whole / "WINDOWS" / "SYSTEM.DAT");
    ASSERT_EQ(std::count(all.begin(), all.end(), true), static_cast<long>(all.size()));

    killedRuns("script", start, timing, [&](const fs::path& home, Process&) -> std::string {
        const fs::path store = home / "WINDOWS" / "SYSTEM.DAT";
        EXPECT_EQ(backup::databaseIntegrity(store), "ok");
        const std::vector<bool> done = effects(store);
        const auto applied = static_cast<std::size_t>(std::count(done.begin(), done.end(), true));
        // The commands that reached the store are the first ones of the script.
        for (std::size_t i = 0; i < done.size(); ++i)
            EXPECT_EQ(done[i], i < applied) << "effect " << i << " of " << applied << " applied";
        return applied == 0 ? "none" : applied == done.size() ? "all" : "prefix";
    });
}

// --- snapshot -----------------------------------------------------------------------------------

class SnapshotKillTest : public KillTest {};

TEST_F(SnapshotKillTest, DatabaseFileIsOldOrNew) {
    makeTemplate();
    fs::create_directories(templateHome() / "DB");
    const fs::path db = templateHome() / "DB" / "HKEY_CURRENT_USER.DB";
    {
        auto store = Store::open(templateStore());
        ASSERT_FALSE(buildSnapshot("HKEY_CURRENT_USER", db, TrackingCallbacks{}, store).error);
        fillTree(store, "\\Software\\Fault\\Snap", 8000, "snapshot");
    }
    const Dump before = dumpOf(templateStore());
    const std::string old = readAll(db);

    const Starter start = [&](const fs::path& home) {
        return child(home, {"snapshot", (home / "WINDOWS" / "SYSTEM.DAT").string(),
                            "HKEY_CURRENT_USER", (home / "DB" / "HKEY_CURRENT_USER.DB").string()});
    };
    const fs::path whole = freshRun("whole");
    const Timing timing = wholeRun(start, whole);
    const std::string fresh = readAll(whole / "DB" / "HKEY_CURRENT_USER.DB");
    ASSERT_NE(fresh, old);

    killedRuns("snapshot", start, timing, [&](const fs::path& home, Process&) {
        const fs::path file = home / "DB" / "HKEY_CURRENT_USER.DB";
        const std::string outcome = fileBeforeOrAfter(file, old, fresh);
        EXPECT_EQ(storeBeforeOrAfter(home / "WINDOWS" / "SYSTEM.DAT", before, before), "before");
        // The next build goes through over whatever the killed one left.
        const std::string left = nextWriteClears(home / "DB", {"HKEY_CURRENT_USER.DB"}, [&] {
            auto store = Store::open(home / "WINDOWS" / "SYSTEM.DAT");
            EXPECT_FALSE(
                buildSnapshot("HKEY_CURRENT_USER", file, TrackingCallbacks{}, store).error);
        });
        EXPECT_EQ(readAll(file), fresh);
        return outcome + left;
    });
}

// --- undo export of a deleted key ---------------------------------------------------------------

class UndoKillTest : public KillTest {};

TEST_F(UndoKillTest, DeletedKeyIsAlwaysInAWholeUndoFileListedInTheLog) {
    makeTemplate();
    ASSERT_TRUE(ensureRegistryPrograms(templateHome() / "WINDOWS", KLOVREG_PATH));
    {
        auto store = Store::open(templateStore());
        for (int part = 0; part < 4; ++part)
            fillTree(store, "\\Software\\Fault\\Doomed\\Part" + std::to_string(part), 500,
                     "doomed");
    }
    seedUndoRows();
    fs::create_directories(templateHome() / "UNDO");
    const Dump before = dumpOf(templateStore());
    const std::string undoBefore = readAll(templateHome() / "UNDO.DAT");

    const Starter start = [&](const fs::path& home) {
        return child(home, {"undo", (home / "WINDOWS" / "SYSTEM.DAT").string(), home.string(),
                            (home / "WINDOWS").string(), "HKEY_CURRENT_USER",
                            "\\Software\\Fault\\Doomed"});
    };
    const fs::path whole = freshRun("whole");
    const Timing timing = wholeRun(start, whole);
    const Dump after = dumpOf(whole / "WINDOWS" / "SYSTEM.DAT");
    const std::string undoAfter = readAll(whole / "UNDO.DAT");
    const std::vector<std::string> files = leftovers(whole / "UNDO", {});
    ASSERT_EQ(files.size(), 1u);
    const std::string undoFileName = files.front();
    const std::string undoFile = readAll(whole / "UNDO" / undoFileName);
    ASSERT_NE(after, before);

    // The way back works: the undo puts the tree back as it was.
    const auto restore = [&](const fs::path& home) {
        // REGEDIT.EXE finds the store through the environment, as the program's children do.
        setenv("KLOVANTE_HOME", home.c_str(), 1);
        setenv("KLOVANTE_WINDIR", (home / "WINDOWS").c_str(), 1);
        struct Back {
            const test::TempFolders& f;
            ~Back() {
                setenv("KLOVANTE_HOME", f.home().c_str(), 1);
                setenv("KLOVANTE_WINDIR", f.windir().c_str(), 1);
            }
        } back{folders};
        auto store = Store::open(home / "WINDOWS" / "SYSTEM.DAT");
        UndoLog undo(UndoPlace{home, home / "WINDOWS", {}, store});
        ASSERT_TRUE(undo.load());
        ASSERT_FALSE(undo.entries().empty());
        ASSERT_EQ(undo.entries().front().undoFile, undoFileName);
        undo.undo(0);
        EXPECT_EQ(test::dumpStore(*store, kRootKeyCount), before);
    };
    restore(whole);

    bool restored = false;
    killedRuns(
        "undo", start, timing,
        [&](const fs::path& home, Process&) {
            const std::string store =
                storeBeforeOrAfter(home / "WINDOWS" / "SYSTEM.DAT", before, after);
            const std::string log = fileBeforeOrAfter(home / "UNDO.DAT", undoBefore, undoAfter);
            // Any undo file there is whole; the log names it only once it is; the key goes only
            // once the log names it.
            std::vector<std::string> there = leftovers(home / "UNDO", {});
            std::erase_if(there, [](const std::string& f) { return f.front() == '.'; });
            for (const std::string& f : there) {
                EXPECT_EQ(f, undoFileName);
                EXPECT_EQ(readAll(home / "UNDO" / f), undoFile) << f << " is not whole";
            }
            if (log == "new") {
                EXPECT_EQ(there.size(), 1u) << "the log names an undo file that is not there";
            }
            if (store == "after") {
                EXPECT_EQ(log, "new") << "the key went without its undo entry";
            }
            if (store == "after" && !restored) {
                restored = true;
                restore(home);
            }
            // Temporary files of a killed export go with the next export into the folder.
            const std::set<std::string> kept(there.begin(), there.end());
            const std::string left = nextWriteClears(home / "UNDO", kept, [&] {
                auto s = Store::open(home / "WINDOWS" / "SYSTEM.DAT");
                RegExporter(*s, ExportOptions{})
                    .exportToFile(home / "UNDO" / "next.reg", "HKEY_CURRENT_USER\\Software");
                fs::remove(home / "UNDO" / "next.reg");
            });
            return store + "/" + log + "/" + std::to_string(there.size()) + left;
        },
        true, true);
}

TEST_F(UndoKillTest, UndoFileOfADroppedRowGoesOnlyOnceTheLogNoLongerNamesIt) {
    // A save of UNDO.DAT that stops part way stands for a process killed before the list was
    // written: the list on disk still names the row the limit drops, so its file must stay.
    auto store = Store::open(folders.storeFile(), Store::Options{true, true});
    ASSERT_TRUE(ensureRegistryPrograms(folders.windir(), KLOVREG_PATH));
    fillTree(store, "\\Software\\Fault\\Gone", 3, "gone");
    UndoLog undo(UndoPlace{folders.home(), folders.windir(), {}, store});
    undo.setLimit(1);
    undo.deleteKey("HKEY_CURRENT_USER", "\\Software\\Fault\\Gone");
    const fs::path file = folders.home() / "UNDO" / undo.entries().at(0).undoFile;
    ASSERT_TRUE(fs::exists(file));
    // A deletion whose row cannot be saved keeps its key, and the row it would have dropped
    // keeps its file.
    fillTree(store, "\\Software\\Fault\\Kept", 2, "kept");
    {
        test::WriteFailure failure(10);
        EXPECT_THROW(undo.deleteKey("HKEY_CURRENT_USER", "\\Software\\Fault\\Kept"), ListFileError);
    }
    EXPECT_TRUE(TRegistry(store).KeyPresent("\\Software\\Fault\\Kept"));
    ASSERT_EQ(undo.entries().size(), 1u);
    EXPECT_TRUE(fs::exists(file));

    const UndoEntry later{
        {}, sj("文字列値の変更"), "HKEY_CURRENT_USER", "\\Software\\X", "v", "a", "b", {}};
    {
        test::WriteFailure failure(10);
        EXPECT_THROW(undo.add(later), ListFileError);
    }
    UndoLog onDisk(UndoPlace{folders.home(), folders.windir(), {}, store});
    ASSERT_TRUE(onDisk.load());
    ASSERT_EQ(onDisk.entries().size(), 1u);
    EXPECT_EQ(folders.home() / "UNDO" / onDisk.entries().front().undoFile, file);
    EXPECT_TRUE(fs::exists(file));
    // Once a save goes through, the file of the row that went goes as well.
    undo.add(later);
    EXPECT_FALSE(fs::exists(file));
}

// --- backup -------------------------------------------------------------------------------------

class BackupKillTest : public KillTest {};

TEST_F(BackupKillTest, BackupCopiesAreOldOrNew) {
    makeTemplate();
    const fs::path windir = templateHome() / "WINDOWS";
    const fs::path target = templateHome() / "BACKUP";
    fs::create_directories(target);
    // The old backups: the store as first seeded, other bytes for the plain file.
    ASSERT_TRUE(backup::backupFiles({{"SYSTEM.DAT", ""}}, target, windir, [](auto&) {}));
    std::mt19937 bytes(7);
    std::string user(6 << 20, '\0');
    for (char& c : user)
        c = static_cast<char>(bytes());
    writeAll(windir / "USER.DAT", user);
    std::reverse(user.begin(), user.end());
    writeAll(target / "USER.DAT", user);
    {
        auto store = Store::open(templateStore());
        for (int part = 0; part < 4; ++part)
            fillTree(store, "\\Software\\Fault\\Backup\\Part" + std::to_string(part), 2000,
                     "backup");
    }
    const std::string oldStore = readAll(target / "SYSTEM.DAT");
    const std::string oldUser = readAll(target / "USER.DAT");
    const Dump source = dumpOf(templateStore());

    const Starter start = [&](const fs::path& home) {
        return child(home, {"backup", (home / "WINDOWS").string(), (home / "BACKUP").string(),
                            "SYSTEM.DAT", "USER.DAT"});
    };
    const fs::path whole = freshRun("whole");
    const Timing timing = wholeRun(start, whole);
    const std::string newStore = readAll(whole / "BACKUP" / "SYSTEM.DAT");
    const std::string newUser = readAll(whole / "BACKUP" / "USER.DAT");
    ASSERT_EQ(dumpOf(whole / "BACKUP" / "SYSTEM.DAT"), source);

    killedRuns("backup", start, timing, [&](const fs::path& home, Process&) {
        const fs::path copy = home / "BACKUP" / "SYSTEM.DAT";
        const std::string store = fileBeforeOrAfter(copy, oldStore, newStore);
        const std::string plain = fileBeforeOrAfter(home / "BACKUP" / "USER.DAT", oldUser, newUser);
        EXPECT_EQ(backup::databaseIntegrity(copy), "ok");
        // A killed database copy may leave its temporary files; the next backup clears them.
        const std::size_t left = leftovers(home / "BACKUP", {"SYSTEM.DAT", "USER.DAT"}).size();
        EXPECT_TRUE(backup::backupFiles({{"SYSTEM.DAT", ""}, {"USER.DAT", ""}}, home / "BACKUP",
                                        home / "WINDOWS", [](auto&) {}));
        EXPECT_EQ(leftovers(home / "BACKUP", {"SYSTEM.DAT", "USER.DAT"}),
                  std::vector<std::string>{});
        EXPECT_EQ(readAll(copy), newStore);
        return store + "/" + plain + (left ? "/leftovers cleared" : "");
    });

    // A temporary copy that a running backup holds locked is not taken for a leftover.
    const fs::path busy = whole / "BACKUP" / ".SYSTEM.DAT.backup-Abc123";
    const int fd = ::open(busy.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_TRUE(backup::backupFiles({{"SYSTEM.DAT", ""}}, whole / "BACKUP", whole / "WINDOWS",
                                    [](auto&) {}));
    EXPECT_TRUE(fs::exists(busy));
    ::close(fd);
    EXPECT_TRUE(backup::backupFiles({{"SYSTEM.DAT", ""}}, whole / "BACKUP", whole / "WINDOWS",
                                    [](auto&) {}));
    EXPECT_FALSE(fs::exists(busy));
}

// --- settings and list files --------------------------------------------------------------------

class FileKillTest : public KillTest {
protected:
    // How long the child takes for `rounds` rounds.
    Timing roundsRun(const Starter& start, const fs::path& home, long rounds) {
        auto p = start(home);
        EXPECT_TRUE(p->waitFor("started", kStartTimeout)) << p->errors();
        const auto from = std::chrono::steady_clock::now();
        EXPECT_TRUE(p->waitFor(std::to_string(rounds), kStartTimeout)) << p->errors();
        const auto took =
            std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - from);
        std::cout << "  " << rounds << " rounds: " << took.count() << " ms\n";
        return {std::max(took, milliseconds(1))};
    }

    // The round an item of settingsItems() was written in: "round <n> item ...".
    static long roundOf(const std::string& item) {
        return std::atol(item.c_str() + std::string_view("round ").size());
    }

    static long lastRound(Process& p) {
        const std::string& last = p.lastLine();
        return last == "started" || last.empty() ? 0 : std::atol(last.c_str());
    }
};

TEST_F(FileKillTest, SettingsFileHoldsOneWholeWrite) {
    constexpr int kItems = 400;
    makeTemplate();
    std::string ini;
    for (int s = 0; s < 200; ++s) {
        ini += "[Section" + std::to_string(s) + "]\r\n; kept as it is\r\n";
        for (int k = 0; k < 10; ++k)
            ini += "Key" + std::to_string(k) + "=value " + std::to_string(s * k) + "\r\n";
    }
    writeAll(templateHome() / "KLOVANTE.INI", ini);

    // The file after `list` rounds of the list and `round` rounds of the counter.
    const fs::path scratch = folders.root() / "expected.ini";
    const auto expected = [&](long list, long round) {
        writeAll(scratch, ini);
        SettingsFile s(scratch);
        if (list >= 1)
            s.writeList(kSettingsSection, kSettingsList, settingsItems(1, kItems));
        if (round >= 1) {
            s.writeInt(kSettingsSection, kSettingsRound, 1);
            s.writeList(kSettingsSection, kSettingsList, settingsItems(list, kItems));
            s.writeInt(kSettingsSection, kSettingsRound, static_cast<int>(round));
        }
        return readAll(scratch);
    };

    const Starter start = [&](const fs::path& home) {
        return child(home, {"settings", (home / "KLOVANTE.INI").string(), std::to_string(kItems)});
    };
    const fs::path whole = freshRun("whole");
    const Timing timing = roundsRun(start, whole, 5);

    killedRuns("settings", start, timing, [&](const fs::path& home, Process& p) -> std::string {
        const long said = lastRound(p);
        const SettingsFile s(home / "KLOVANTE.INI");
        const long round = s.readInt(kSettingsSection, kSettingsRound, 0);
        const std::vector<std::string> items =
            s.readList(kSettingsSection, kSettingsList, {}, kItems);
        const long list = items.empty() ? 0 : roundOf(items.front());
        EXPECT_TRUE(round == said || round == said + 1) << round << " after " << said;
        EXPECT_TRUE(list == round || list == round + 1) << list << " with " << round;
        if (list > 0) {
            EXPECT_EQ(items, settingsItems(list, kItems)) << "the list is half written";
        }
        EXPECT_EQ(readAll(home / "KLOVANTE.INI"), expected(list, round))
            << "list " << list << ", round " << round;
        const std::string left = nextWriteClears(home, {"KLOVANTE.INI", "WINDOWS"}, [&] {
            SettingsFile(home / "KLOVANTE.INI").writeString("Other", "Key", "value");
        });
        return (round == 0 && list == 0 ? "old"
                : list == round         ? "whole round"
                                        : "list only") +
               left;
    });
}

TEST_F(FileKillTest, OnlyTemporariesOfWritersThatAreGoneAreCleared) {
    // A process id that is free now: a child that has ended.
    pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const fs::path home = folders.home();
    const std::vector<std::string> names{".KLOVANTE.INI.tmp" + std::to_string(gone) + "-1-2",
                                         ".UNDO.DAT.tmp" + std::to_string(gone) + "-3-4",
                                         ".KLOVANTE.INI.tmp1-5-6", // a writer that still runs
                                         ".KLOVANTE.INI.tmp" + std::to_string(::getpid()) + "-7-8",
                                         "KLOVANTE.INI.tmp99999999-1-2",
                                         "notes.tmp1-2-3"};
    for (const std::string& n : names)
        writeAll(home / n, "left");
    writeFileAtomically(home / "KLOVANTE.INI", "[A]\r\n");
    std::vector<std::string> left = leftovers(home, {"KLOVANTE.INI", "WINDOWS"});
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".KLOVANTE.INI.tmp1-5-6", names[3],
                                              "KLOVANTE.INI.tmp99999999-1-2", "notes.tmp1-2-3"}));
}

TEST_F(FileKillTest, ListFileHoldsOneWholeSave) {
    constexpr int kRows = 3000;
    makeTemplate();
    const std::string old = encodeListFile(listRows(0, 500));
    writeAll(templateHome() / "FAVORITE.DAT", old);

    const Starter start = [&](const fs::path& home) {
        return child(home, {"lists", (home / "FAVORITE.DAT").string(), std::to_string(kRows)});
    };
    const fs::path whole = freshRun("whole");
    const Timing timing = roundsRun(start, whole, 5);

    killedRuns("lists", start, timing, [&](const fs::path& home, Process& p) -> std::string {
        const long said = lastRound(p);
        const std::string now = readAll(home / "FAVORITE.DAT");
        const fs::path scratch = home / "NEXT.DAT";
        const std::string left = nextWriteClears(home, {"FAVORITE.DAT", "WINDOWS", "NEXT.DAT"},
                                                 [&] { saveListFile(scratch, {}); });
        if (now == old) {
            EXPECT_EQ(said, 0);
            return "old" + left;
        }
        const std::vector<ListRow> rows = loadListFile(home / "FAVORITE.DAT");
        const long round = rows.empty() ? -1 : std::atol(rows.front().subItems.at(1).c_str());
        EXPECT_TRUE(round == said || round == said + 1) << round << " after " << said;
        EXPECT_EQ(now, encodeListFile(listRows(round, kRows))) << "round " << round;
        return "new" + left;
    });
}

// --- Wine prefix --------------------------------------------------------------------------------

// A prefix file of `keys` keys below Software, as Wine writes it.
std::string wineFile(std::u16string relative, int keys) {
    wine::WineRegFile f;
    f.relativeTo = std::move(relative);
    f.arch = "win64";
    wine::WineKey& base = f.child(f.root(), u"Software");
    for (int k = 0; k < keys; ++k) {
        const std::string name = "Key" + std::to_string(10000 + k);
        wine::WineKey& key = f.child(base, std::u16string(name.begin(), name.end()));
        key.modified = fileTimeFromUnix(1700000000 + k);
        const std::string text = "text " + std::to_string(k);
        key.values.push_back(
            {u"s", REG_SZ, utf16leBytes(std::u16string(text.begin(), text.end())) + '\0' + '\0'});
        key.values.push_back({u"d", REG_DWORD, std::string(4, static_cast<char>(k & 0x7F))});
    }
    return f.write();
}

class WineKillTest : public KillTest {
protected:
    void SetUp() override {
        KillTest::SetUp();
        fs::create_directories(templateHome());
        const fs::path prefix = folders.root() / "template" / "prefix";
        fs::create_directories(prefix);
        files = {wineFile(u"\\Machine", 4000), wineFile(u"\\User\\S-1-5-21-0-0-0-1000", 1000),
                 wineFile(u"\\User\\.Default", 200)};
        for (std::size_t i = 0; i < files.size(); ++i)
            writeAll(prefix / std::string(wine::kWineFiles[i]), files[i]);
    }
    void TearDown() override {
        Store::resetShared();
        KillTest::TearDown();
    }

    static fs::path prefixOf(const fs::path& home) { return home.parent_path() / "prefix"; }
    Starter starter(const std::string& what) {
        return [this, what](const fs::path& home) {
            return child(home, {"wine", prefixOf(home).string(), home.string(), what});
        };
    }
    std::string fileOf(const fs::path& home, std::size_t i) const {
        return readAll(prefixOf(home) / std::string(wine::kWineFiles[i]));
    }

    std::array<std::string, 3> files;
};

TEST_F(WineKillTest, LoadingIsWholeOrAbsentAndNeverTouchesThePrefix) {
    const Starter start = starter("open");
    const Timing timing = wholeRun(start, freshRun("whole"));
    killedRuns("wine open", start, timing, [&](const fs::path& home, Process&) -> std::string {
        const fs::path store =
            wine::WinePrefix::homeFor(prefixOf(home), home) / "WINDOWS" / "SYSTEM.DAT";
        const bool made = fs::exists(store);
        {
            // Opening again finds the registry whole, whatever the killed run left.
            wine::WinePrefix p(prefixOf(home), home);
            p.open();
            EXPECT_TRUE(p.changedFiles().empty());
            EXPECT_EQ(
                wine::dumpWineTree(*p.store(), Store::rootId(2), u"\\Machine", "win64").write(),
                files[0]);
            EXPECT_TRUE(p.writeBack().empty());
        }
        Store::resetShared();
        // A store the killed run was making is recovered by the opening above, not checked
        // before it: a reader alone may not replay another process's log.
        EXPECT_EQ(backup::databaseIntegrity(store), "ok");
        for (std::size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(fileOf(home, i), files[i]) << wine::kWineFiles[i];
        return made ? "store made" : "no store";
    });
}

TEST_F(WineKillTest, WritingBackLeavesEachFileOldOrNewAndLosesNoChange) {
    const Starter start = starter("write");
    const fs::path whole = freshRun("whole");
    const Timing timing = wholeRun(start, whole);
    std::array<std::string, 3> written;
    for (std::size_t i = 0; i < files.size(); ++i) {
        written[i] = fileOf(whole, i);
        ASSERT_NE(written[i], files[i]);
    }
    killedRuns("wine write", start, timing, [&](const fs::path& home, Process&) -> std::string {
        std::string outcome;
        for (std::size_t i = 0; i < files.size(); ++i)
            outcome += (i ? "/" : "") +
                       fileBeforeOrAfter(prefixOf(home) / std::string(wine::kWineFiles[i]),
                                         files[i], written[i]);
        {
            // Opening again and writing back puts every change in the files, whichever of
            // them the killed run had written.
            wine::WinePrefix p(prefixOf(home), home);
            p.open();
            p.writeBack();
        }
        Store::resetShared();
        for (std::size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(fileOf(home, i), written[i]) << wine::kWineFiles[i];
        EXPECT_EQ(leftovers(prefixOf(home), {"system.reg", "user.reg", "userdef.reg"}),
                  std::vector<std::string>{});
        return outcome;
    });
}

} // namespace
