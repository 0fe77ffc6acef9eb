// Several processes writing and reading one store at once, for KLOVANTE_LOAD_SECONDS (default
// 20): three klovreg imports in loops, each importing its own keys round after round, reading
// them back with a klovreg export and exporting the next importer's keys while that one
// imports (the file must show one whole import); the fault child doing what the editor windows do
// (its own keys made, written, renamed and deleted, listed through the walker, the importers'
// keys read); and the program itself, started again and again with --self-test. No process may
// report an error (a locked store among them), every writer's last committed values must be
// there, and the store must pass SQLite's integrity check.
#include "FaultProcess.h"
#include "FaultWork.h"

#include "core/backup/RegistryBackup.h"
#include "core/regfiles/RegFileReader.h"
#include "core/registry/Registry.h"
#include "support/TempFolders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace klv;
using namespace klv::fault;
namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kImporters = 3;
constexpr int kImportKeys = kLoadImportKeys;
// Generous: a process that waits this long for the store is stuck, not busy.
constexpr milliseconds kProcessTimeout{120000};

double loadSeconds() {
    const char* v = std::getenv("KLOVANTE_LOAD_SECONDS");
    const double s = v ? std::atof(v) : 0;
    return s > 0 ? s : 20;
}

// Errors of all the loops, reported at the end.
class Errors {
public:
    void add(const std::string& who, const std::string& what) {
        std::lock_guard lock(m_);
        list_.push_back(who + ": " + what);
    }
    std::vector<std::string> list() const {
        std::lock_guard lock(m_);
        return list_;
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> list_;
};

// The keys and values of an exported file, by key path below the importer's key.
class ExportedKeys : public RegFileSink {
public:
    explicit ExportedKeys(std::size_t skip) : skip_(skip) {}
    std::map<std::string, std::map<std::string, RawValue>> keys;

    void openKey(const RegKeyPath& path) override {
        current_.clear();
        for (std::size_t i = skip_; i < path.components.size(); ++i)
            current_ += "\\" + path.components[i].bytes;
        keys[current_];
    }
    void deleteKey(const RegKeyPath&) override { throw std::runtime_error("[-key] in an export"); }
    void setValue(const RawValue& v) override { keys[current_][v.name.bytes] = v; }
    void deleteValue(const StoredName&) override {
        throw std::runtime_error("\"name\"=- in an export");
    }

private:
    std::size_t skip_;
    std::string current_;
};

std::uint32_t dwordOf(const RawValue& v) {
    std::uint32_t n = 0;
    if (v.type == REG_DWORD && v.data.size() == 4)
        std::memcpy(&n, v.data.data(), 4);
    return v.type == REG_DWORD && v.data.size() == 4 ? n : 0xFFFFFFFFu;
}

// What is wrong with importer j's keys as `keys` gives them after round `round`; empty when
// nothing is.
std::string checkImporterKeys(const std::map<std::string, std::map<std::string, RawValue>>& keys,
                              int j, long round) {
    const auto r = static_cast<std::uint32_t>(round);
    if (keys.size() != static_cast<std::size_t>(kImportKeys) + 2)
        return std::to_string(keys.size()) + " keys instead of " + std::to_string(kImportKeys + 2);
    for (const auto& [key, values] : keys) {
        const auto it = values.find("round");
        if (it == values.end() || dwordOf(it->second) != r)
            return "key '" + key + "' is not of round " + std::to_string(round);
    }
    if (!keys.count("\\Round" + std::to_string(round)))
        return "Round" + std::to_string(round) + " is missing";
    for (int k = 0; k < kImportKeys; ++k) {
        const auto it = keys.find("\\" + keyName(k));
        if (it == keys.end())
            return keyName(k) + " is missing";
        const auto text = it->second.find("text");
        // String data as stored ends with its NUL.
        if (text == it->second.end() || text->second.data.c_str() != importerText(j, round, k))
            return keyName(k) + " has the wrong text";
    }
    return {};
}

struct ImporterFigures {
    long imports = 0;
    long exports = 0;
    long crossExports = 0;
    std::atomic<long> lastRound{0}; // the last round whose import ended without an error
};

// An export of another importer's tree, taken while that importer goes on importing: the file
// must show one whole round of it. Empty when it does.
std::string checkExportOfOther(const fs::path& file, int other) {
    ExportedKeys keys(3);
    try {
        RegFileReader().read(readAll(file), keys);
    } catch (const std::exception& x) {
        return std::string("unreadable: ") + x.what();
    }
    const auto top = keys.keys.find("");
    if (top == keys.keys.end() || !top->second.count("round"))
        return "no round in the exported key";
    const long round = dwordOf(top->second.at("round"));
    const std::string bad = checkImporterKeys(keys.keys, other, round);
    return bad.empty() ? "" : "round " + std::to_string(round) + ": " + bad;
}

// Runs a program to its end; its error text (exit status and standard error) or empty.
std::string runToEnd(const fs::path& program, const std::vector<std::string>& args,
                     const fs::path& home, const fs::path& errorFile) {
    Process p(program, args, home, errorFile);
    // Its output is not looked at, but must not fill the pipe.
    const auto deadline = Clock::now() + kProcessTimeout;
    while (!p.outputEnded() && Clock::now() < deadline)
        p.readLine(milliseconds(1000));
    if (!p.outputEnded()) {
        p.killGroup();
        p.wait();
        return "no end after " + std::to_string(kProcessTimeout.count()) + " ms";
    }
    p.wait();
    const std::string errors = p.errors();
    if (!p.exitedCleanly())
        return p.statusText() + (errors.empty() ? "" : ": " + errors);
    return errors;
}

class LoadTest : public ::testing::Test {
protected:
    test::TempFolders folders;
};

TEST_F(LoadTest, ImportsEditsAndTheProgramShareOneStore) {
    const double seconds = loadSeconds();
    const fs::path home = folders.home();
    const fs::path store = folders.storeFile();
    Store::open(store, Store::Options{true, true}); // seeded, as at first start
    // Qt wants a runtime folder of its own; set before any thread starts a process.
    const fs::path runtime = folders.root() / "runtime";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    Errors errors;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));

    // The editor windows' stand-in.
    const fs::path model = folders.root() / "editor.model";
    Process editor(faultChildProgram(),
                   {"editor", store.string(), std::to_string(seconds), "1234", model.string(),
                    std::to_string(kImporters)},
                   home, folders.root() / "editor.err");

    // The importers.
    std::vector<ImporterFigures> figures(kImporters);
    std::vector<std::thread> loops;
    for (int j = 0; j < kImporters; ++j)
        loops.emplace_back([&, j] {
            const std::string who = "importer " + std::to_string(j);
            const fs::path in = folders.root() / ("import" + std::to_string(j) + ".reg");
            const fs::path out = folders.root() / ("export" + std::to_string(j) + ".reg");
            const fs::path err = folders.root() / ("importer" + std::to_string(j) + ".err");
            ImporterFigures& f = figures[static_cast<std::size_t>(j)];
            for (long round = 1; Clock::now() < end; ++round) {
                writeAll(in, importerFile(j, round, kImportKeys));
                std::string e = runToEnd(KLOVREG_PATH, {"/S", in.string()}, home, err);
                ++f.imports;
                if (!e.empty())
                    return errors.add(who, "import of round " + std::to_string(round) + ": " + e);
                f.lastRound = round;
                e = runToEnd(KLOVREG_PATH,
                             {"/E", out.string(), "HKEY_CURRENT_USER" + importerKey(j)}, home, err);
                ++f.exports;
                if (!e.empty())
                    return errors.add(who, "export of round " + std::to_string(round) + ": " + e);
                ExportedKeys keys(3);
                try {
                    RegFileReader().read(readAll(out), keys);
                } catch (const std::exception& x) {
                    return errors.add(who, std::string("export unreadable: ") + x.what());
                }
                if (const std::string bad = checkImporterKeys(keys.keys, j, round); !bad.empty())
                    return errors.add(who, "export of round " + std::to_string(round) + ": " + bad);
                // The next importer's tree, which it rewrites meanwhile.
                const int other = (j + 1) % kImporters;
                if (figures[static_cast<std::size_t>(other)].lastRound == 0)
                    continue;
                e = runToEnd(KLOVREG_PATH,
                             {"/E", out.string(), "HKEY_CURRENT_USER" + importerKey(other)}, home,
                             err);
                ++f.crossExports;
                if (!e.empty())
                    return errors.add(who,
                                      "export of importer " + std::to_string(other) + ": " + e);
                if (const std::string bad = checkExportOfOther(out, other); !bad.empty())
                    return errors.add(who, "export of importer " + std::to_string(other) +
                                               " shows half an import: " + bad);
            }
        });

    // The program itself, started again and again.
    long selfTests = 0;
    loops.emplace_back([&] {
        const fs::path err = folders.root() / "program.err";
        while (Clock::now() < end) {
            Process p(KLOVANTE_PATH, {"--self-test"}, home, err);
            const bool said = p.waitFor("klovante --self-test: ok", kProcessTimeout);
            if (!said)
                p.killGroup(); // stuck: a box nobody can answer, or a store that never came
            p.wait();
            ++selfTests;
            // The offscreen platform remarks on window hints; anything about the program is an
            // error.
            std::string problems;
            std::istringstream lines(p.errors());
            for (std::string line; std::getline(lines, line);)
                if (line.find("propagateSizeHints") == std::string::npos)
                    problems += line + "\n";
            if (!said || !p.exitedCleanly() || !problems.empty())
                return errors.add("program",
                                  "self-test " + std::to_string(selfTests) + ": " + problems);
        }
    });
    for (std::thread& t : loops)
        t.join();

    ASSERT_TRUE(editor.waitFor("operations", kProcessTimeout)) << editor.errors();
    const std::string editorFigures = editor.lastLine();
    editor.wait();
    if (!editor.exitedCleanly() || !editor.errors().empty())
        errors.add("editor", editor.errors());

    std::cout << "  load for " << seconds << " s:";
    for (int j = 0; j < kImporters; ++j)
        std::cout << " importer " << j << " " << figures[static_cast<std::size_t>(j)].imports
                  << " imports, " << figures[static_cast<std::size_t>(j)].exports << " + "
                  << figures[static_cast<std::size_t>(j)].crossExports << " exports;";
    std::cout << " program " << selfTests << " self-tests; editor " << editorFigures << "\n";
    for (const std::string& e : errors.list())
        ADD_FAILURE() << e;

    // Afterwards: the store sound, and every writer's last values in it.
    EXPECT_EQ(backup::databaseIntegrity(store), "ok");
    auto s = Store::open(store, Store::Options{false, false});
    TRegistry reg(s);
    for (int j = 0; j < kImporters; ++j) {
        const long round = figures[static_cast<std::size_t>(j)].lastRound;
        ASSERT_GT(round, 0) << "importer " << j << " imported nothing";
        std::map<std::string, std::map<std::string, RawValue>> found;
        ASSERT_TRUE(reg.OpenKey(importerKey(j), false));
        found[""];
        for (const RawValue& v : reg.ReadRawValues())
            found[""][v.name.bytes] = v;
        std::vector<std::string> subkeys;
        reg.ListSubKeys(subkeys);
        for (const std::string& k : subkeys) {
            ASSERT_TRUE(reg.OpenKey(importerKey(j) + "\\" + k, false));
            for (const RawValue& v : reg.ReadRawValues())
                found["\\" + k][v.name.bytes] = v;
        }
        EXPECT_EQ(checkImporterKeys(found, j, round), "") << "importer " << j;
    }
    std::map<std::string, std::map<std::string, std::string>> written;
    std::istringstream lines(readAll(model));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t a = line.find('\t'), b = line.find('\t', a + 1);
        written[line.substr(0, a)][line.substr(a + 1, b - a - 1)] = line.substr(b + 1);
    }
    std::map<std::string, std::map<std::string, std::string>> there;
    ASSERT_TRUE(reg.OpenKey(std::string(kLoadBase) + "\\Editor", false));
    std::vector<std::string> keys;
    reg.ListSubKeys(keys);
    for (const std::string& k : keys) {
        ASSERT_TRUE(reg.OpenKey(std::string(kLoadBase) + "\\Editor\\" + k, false));
        std::vector<std::string> names;
        reg.ListValues(names);
        for (const std::string& n : names)
            there[k][n] = reg.ReadText(n);
    }
    EXPECT_EQ(there, written) << "the editor's last values";
}

} // namespace
