// The child process of the kill and load tests: runs one of the program's long writes through
// the core, as the windows run it, and says when it starts so that the test can kill it part
// way. Texts are CP932; paths as they stand on disk.
//
//   klovante_fault_child import <store> <reg file>
//   klovante_fault_child replace <store> <home> <start key> <search text> <replacement>
//   klovante_fault_child script <store> <script file>
//   klovante_fault_child snapshot <store> <root name> <database file>
//   klovante_fault_child undo <store> <home> <system folder> <root name> <key path>
//   klovante_fault_child backup <system folder> <backup folder> <file name>...
//   klovante_fault_child settings <ini file> <items>
//   klovante_fault_child lists <list file> <rows>
//   klovante_fault_child editor <store> <seconds> <seed> <model file> <importers>
//   klovante_fault_child wine <prefix> <home> open|write
//
// Each prints "started" when its long write begins and "done" once it has ended. settings and
// lists save rounds 1, 2, ... without end and print each round's number once it is on disk.
// editor is the load test's stand-in for the editor windows (see runEditor). wine open loads a
// prefix into its store; wine write opens it, changes one value in each of its files and
// writes them back.
//
// Exit codes: 0 done, 1 error (on stderr), 2 bad command line.
#include "FaultWork.h"

#include "core/backup/RegistryBackup.h"
#include "core/lists/ListFile.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/RegImporter.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryError.h"
#include "core/registry/RegistryWalker.h"
#include "core/script/ScriptHost.h"
#include "core/script/ScriptInterpreter.h"
#include "core/search/HitActions.h"
#include "core/search/SearchEngine.h"
#include "core/settings/SettingsFile.h"
#include "core/snapshot/ChangeTracking.h"
#include "core/undo/UndoLog.h"
#include "core/wine/WinePrefix.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace klv;
namespace fs = std::filesystem;

namespace {

void say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// A check of the load run that failed: the run ends with the text on stderr.
[[noreturn]] void mismatch(const std::string& what) {
    throw std::runtime_error("mismatch: " + what);
}

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out.push_back(line);
    }
    return out;
}

UndoLog undoLogAt(const fs::path& home, const fs::path& windir, std::shared_ptr<Store> store) {
    UndoLog log(UndoPlace{home, windir, {}, std::move(store)});
    log.load();
    return log;
}

// --- the long writes ----------------------------------------------------------------------------

int runImport(Store& store, const fs::path& file) {
    say("started");
    RegImporter(store, ImportOptions{}).importFile(file);
    say("done");
    return 0;
}

// The results window's replace run: every hit below the start key ticked, the substitution
// written, the undo log told.
int runReplace(const std::shared_ptr<Store>& store, const fs::path& home, const std::string& start,
               const std::string& text, const std::string& replacement) {
    SearchRequest request;
    request.text = text;
    request.replacement = replacement;
    request.replaceMode = true;
    request.scope = SearchScope::OneKey;
    request.startKey = start;
    std::vector<SearchHit> rows;
    SearchCallbacks callbacks;
    callbacks.hit = [&](SearchHit&& h) { rows.push_back(std::move(h)); };
    SearchEngine(request, store).run(callbacks);
    for (SearchHit& h : rows)
        h.checked = true;
    UndoLog undo = undoLogAt(home, home / "WINDOWS", store);
    say("started");
    const ReplaceOutcome out =
        HitActions(store, text, replacement).replace(rows, ReplaceChoice::Substitution, undo);
    if (!out.succeeded() || !out.undoError.empty())
        throw std::runtime_error("replace failed: " + cp932ToUtf8(out.error + out.undoError));
    say("done " + std::to_string(out.replaced));
    return 0;
}

// A script editor window that runs the install section without asking anything.
class QuietHost : public ScriptHost {
public:
    ScriptChoice choose(const ScriptChoiceDialog&) override {
        say("started");
        return ScriptChoice::Install;
    }
    void log(const std::string&) override {}
    void showKey(const std::string&) override {}
    void valueBox(const ScriptValueBoxRequest&) override {}
    void messageBox(const std::string&) override {}
    bool stopRequested() const override { return false; }
    void showError(const std::string& message) override { error = message; }
    std::string error;
};

int runScriptFile(const std::shared_ptr<Store>& store, const fs::path& file) {
    QuietHost host;
    std::string showKeys = "1";
    const ScriptRunResult r = runScript(lines(readText(file)), host, showKeys, store);
    if (r.failed || r.stopped || r.cancelled)
        throw std::runtime_error("script failed: " + cp932ToUtf8(host.error));
    say("done " + std::to_string(r.commandsApplied));
    return 0;
}

int runSnapshot(const std::shared_ptr<Store>& store, const std::string& root,
                const fs::path& file) {
    say("started");
    const BuildOutcome out = buildSnapshot(root, file, TrackingCallbacks{}, store);
    if (out.error || out.stopped)
        throw std::runtime_error("snapshot failed: " + cp932ToUtf8(out.error.value_or("")));
    say("done " + std::to_string(out.keys));
    return 0;
}

int runUndoDelete(const std::shared_ptr<Store>& store, const fs::path& home, const fs::path& windir,
                  const std::string& root, const std::string& key) {
    UndoLog undo = undoLogAt(home, windir, store);
    say("started");
    undo.deleteKey(root, key);
    say("done");
    return 0;
}

int runBackup(const fs::path& windir, const fs::path& target,
              const std::vector<std::string>& names) {
    std::vector<backup::BackupItem> items;
    for (const std::string& n : names)
        items.push_back({n, ""});
    say("started");
    std::string failed;
    if (!backup::backupFiles(items, target, windir,
                             [&](const std::string& name) { failed += name + " "; }))
        throw std::runtime_error("backup failed: " + failed);
    say("done");
    return 0;
}

// Two writes a round, each replacing the whole file: the list, then the round's number.
int runSettings(const fs::path& file, int items) {
    SettingsFile settings(file);
    say("started");
    for (long round = 1;; ++round) {
        settings.writeList(fault::kSettingsSection, fault::kSettingsList,
                           fault::settingsItems(round, items));
        settings.writeInt(fault::kSettingsSection, fault::kSettingsRound, static_cast<int>(round));
        say(std::to_string(round));
    }
}

int runLists(const fs::path& file, int rows) {
    say("started");
    for (long round = 1;; ++round) {
        saveListFile(file, fault::listRows(round, rows));
        say(std::to_string(round));
    }
}

// --- the editor windows under load --------------------------------------------------------------

// What the editor windows do to their own keys below Software\Load\Editor, chosen at random,
// checked against a model of what should be there: keys made with values, values written and
// renamed, keys renamed and deleted, the tree listed through the walker. Between them it reads
// the importers' trees, each in one walk, and checks that every import is seen whole and that
// no importer's round goes back.
class Editor {
public:
    Editor(std::shared_ptr<Store> store, unsigned seed, int importers)
        : reg_(std::move(store)), random_(seed), seen_(static_cast<std::size_t>(importers), 0) {
        reg_.RootKey(HKEY_CURRENT_USER_H);
    }

    void step() {
        const int pick = draw(100);
        if (model_.empty() || (pick < 30 && model_.size() < 150))
            createKey();
        else if (pick < 55)
            writeValue();
        else if (pick < 63)
            renameValue();
        else if (pick < 71)
            renameKey();
        else if (pick < 82 || model_.size() >= 150)
            deleteKey();
        else if (pick < 90)
            compareTree();
        else
            readImporters();
        ++operations_;
    }

    void finish(const fs::path& modelFile) {
        compareTree();
        std::ofstream out(modelFile, std::ios::binary);
        for (const auto& [key, values] : model_)
            for (const auto& [name, data] : values)
                out << key << '\t' << name << '\t' << data << '\n';
        if (!out.flush())
            throw std::runtime_error("cannot write " + modelFile.string());
        std::string rounds;
        for (long r : seen_)
            rounds += " " + std::to_string(r);
        say("operations " + std::to_string(operations_) + " walks " + std::to_string(walks_) +
            " keys " + std::to_string(model_.size()) + " rounds" + rounds);
    }

private:
    using Values = std::map<std::string, std::string>;

    int draw(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::string path(const std::string& key) const {
        return std::string(fault::kLoadBase) + "\\Editor\\" + key;
    }

    std::string data() {
        return "data " + std::to_string(draw(1000000)) + " " + std::string(draw(200), 'x');
    }

    // A key of the model and its values, at random.
    std::map<std::string, Values>::iterator anyKey() {
        auto it = model_.begin();
        std::advance(it, draw(static_cast<int>(model_.size())));
        return it;
    }

    void open(const std::string& key) {
        if (!reg_.OpenKey(path(key), false))
            mismatch("key " + key + " cannot be opened");
    }

    void createKey() {
        const std::string key = "E" + std::to_string(next_++);
        if (!reg_.OpenKey(path(key), true))
            mismatch("key " + key + " cannot be created");
        Values& values = model_[key];
        for (int i = draw(4) + 1; i > 0; --i) {
            const std::string name = "v" + std::to_string(next_++);
            values[name] = data();
            reg_.WriteString(name, values[name]);
        }
    }

    void writeValue() {
        auto it = anyKey();
        open(it->first);
        std::string name = "v" + std::to_string(next_++);
        if (!it->second.empty() && draw(2) == 0) {
            auto v = it->second.begin();
            std::advance(v, draw(static_cast<int>(it->second.size())));
            name = v->first;
        }
        it->second[name] = data();
        reg_.WriteString(name, it->second[name]);
    }

    void renameValue() {
        auto it = anyKey();
        if (it->second.empty())
            return writeValue();
        auto v = it->second.begin();
        std::advance(v, draw(static_cast<int>(it->second.size())));
        const std::string name = "r" + std::to_string(next_++);
        open(it->first);
        reg_.RenameValue(v->first, name);
        it->second[name] = v->second;
        it->second.erase(v);
    }

    void renameKey() {
        auto it = anyKey();
        const std::string key = "E" + std::to_string(next_++);
        reg_.CloseKey();
        reg_.MoveKey(path(it->first), path(key), true);
        if (reg_.KeyPresent(path(it->first)) || !reg_.KeyPresent(path(key)))
            mismatch("key " + it->first + " was not renamed to " + key);
        model_[key] = std::move(it->second);
        model_.erase(it);
    }

    void deleteKey() {
        auto it = anyKey();
        reg_.CloseKey();
        if (!reg_.DeleteKey(path(it->first)))
            mismatch("key " + it->first + " was not deleted");
        model_.erase(it);
    }

    // The editor's tree as the walker lists it, against the model.
    void compareTree() {
        ++walks_;
        if (!reg_.OpenKey(std::string(fault::kLoadBase) + "\\Editor", true))
            mismatch("the editor's key cannot be opened");
        std::map<std::string, Values> found;
        const WalkResult r = walkRegistry(reg_, std::string(fault::kLoadBase) + "\\Editor",
                                          [&](const std::string&, const std::string& name) {
                                              Values& values = found[name];
                                              std::vector<std::string> names;
                                              reg_.ListValues(names);
                                              for (const std::string& n : names)
                                                  values[n] = reg_.ReadText(n);
                                          });
        if (r.reopenFailed || r.stopped)
            mismatch("the walk of the editor's key ended early");
        if (found != model_)
            mismatch("the editor's keys differ from what was written (" +
                     std::to_string(found.size()) + " keys listed, " +
                     std::to_string(model_.size()) + " written)");
    }

    // One importer's tree in one walk: every "round" alike, one Round key of that round.
    void readImporter(int j) {
        const std::string base = fault::importerKey(j);
        Store::ReadSnapshot snapshot(reg_.store());
        if (!reg_.OpenKey(base, false))
            return; // not imported yet
        const long round = reg_.ReadDword("round");
        std::vector<std::string> problems;
        int keys = 0;
        const WalkResult r =
            walkRegistry(reg_, base, [&](const std::string&, const std::string& n) {
                ++keys;
                if (static_cast<long>(reg_.ReadDword("round")) != round)
                    problems.push_back(n + " has round " + std::to_string(reg_.ReadDword("round")));
                if (n.rfind("Round", 0) == 0 && n != "Round" + std::to_string(round))
                    problems.push_back(n + " beside round " + std::to_string(round));
            });
        if (r.reopenFailed || r.stopped)
            mismatch("the walk of " + base + " ended early");
        if (keys != fault::kLoadImportKeys + 1)
            problems.push_back(std::to_string(keys) + " keys");
        if (!problems.empty())
            mismatch(base + " is seen half imported (round " + std::to_string(round) +
                     "): " + problems.front());
        auto& seen = seen_[static_cast<std::size_t>(j)];
        if (round < seen)
            mismatch(base + " went back from round " + std::to_string(seen) + " to " +
                     std::to_string(round));
        seen = round;
    }

    void readImporters() {
        for (std::size_t j = 0; j < seen_.size(); ++j)
            readImporter(static_cast<int>(j));
    }

    TRegistry reg_;
    std::mt19937 random_;
    std::map<std::string, Values> model_;
    std::vector<long> seen_;
    long next_ = 0;
    long operations_ = 0;
    long walks_ = 0;
};

int runEditor(std::shared_ptr<Store> store, double seconds, unsigned seed, const fs::path& model,
              int importers) {
    Editor editor(std::move(store), seed, importers);
    say("started");
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end)
        editor.step();
    editor.finish(model);
    return 0;
}

int runWine(const fs::path& prefix, const fs::path& home, const std::string& what) {
    wine::WinePrefix p(prefix, home);
    if (what == "open") {
        say("started");
        p.open();
        say("done");
        return 0;
    }
    if (what != "write")
        return 2;
    p.open();
    for (const RootHandle root : {HKEY_LOCAL_MACHINE_H, HKEY_CURRENT_USER_H}) {
        TRegistry reg(p.store());
        reg.RootKey(root);
        if (!reg.OpenKey(fault::kWineEditKey, true))
            throw std::runtime_error("cannot make the key to change");
        reg.WriteString(fault::kWineEditValue, "yes");
    }
    TRegistry reg(p.store());
    reg.RootKey(HKEY_USERS_H);
    if (!reg.OpenKey(std::string(".Default\\") + fault::kWineEditKey, true))
        throw std::runtime_error("cannot make the key to change");
    reg.WriteString(fault::kWineEditValue, "yes");
    say("started");
    p.writeBack();
    say("done");
    return 0;
}

std::shared_ptr<Store> openStore(const std::string& file) {
    return Store::open(file, Store::Options{false, false});
}

int run(const std::vector<std::string>& a) {
    if (a.size() < 3)
        return 2;
    const std::string& cmd = a[1];
    // Files stamped with the time come out alike in every run.
    setClockForTesting([] { return fileTimeFromUnix(fault::kFixedUnixTime); });
    if (cmd == "import" && a.size() == 4)
        return runImport(*openStore(a[2]), a[3]);
    if (cmd == "replace" && a.size() == 7)
        return runReplace(openStore(a[2]), a[3], a[4], a[5], a[6]);
    if (cmd == "script" && a.size() == 4)
        return runScriptFile(openStore(a[2]), a[3]);
    if (cmd == "snapshot" && a.size() == 5)
        return runSnapshot(openStore(a[2]), a[3], a[4]);
    if (cmd == "undo" && a.size() == 7)
        return runUndoDelete(openStore(a[2]), a[3], a[4], a[5], a[6]);
    if (cmd == "backup" && a.size() >= 5)
        return runBackup(a[2], a[3], std::vector<std::string>(a.begin() + 4, a.end()));
    if (cmd == "settings" && a.size() == 4)
        return runSettings(a[2], std::atoi(a[3].c_str()));
    if (cmd == "lists" && a.size() == 4)
        return runLists(a[2], std::atoi(a[3].c_str()));
    if (cmd == "wine" && a.size() == 5)
        return runWine(a[2], a[3], a[4]);
    if (cmd == "editor" && a.size() == 7) {
        setClockForTesting({}); // the store's own times, as the windows write them
        return runEditor(openStore(a[2]), std::atof(a[3].c_str()),
                         static_cast<unsigned>(std::strtoul(a[4].c_str(), nullptr, 10)), a[5],
                         std::atoi(a[6].c_str()));
    }
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    try {
        const int rc = run(args);
        if (rc == 2)
            std::fputs(
                "usage: klovante_fault_child "
                "import|replace|script|snapshot|undo|backup|settings|lists|editor|wine ...\n",
                stderr);
        return rc;
    } catch (const RegistryError& e) {
        std::fprintf(stderr, "klovante_fault_child: %s\n", cp932ToUtf8(e.fullText()).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "klovante_fault_child: %s\n", cp932ToUtf8(e.what()).c_str());
    }
    return 1;
}
