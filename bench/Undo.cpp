// The undo log's key deletion (export first, then delete) and its undo (import), against plain
// runs of the registry editor program on the same key.
#include "BenchUtil.h"

#include "core/platform/ProcessRunner.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/Registry.h"
#include "core/undo/UndoLog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace klv::bench {
namespace {

constexpr const char* kKeyPath = "\\BenchUndo";
constexpr int kSubKeys = 10000;
constexpr int kValuesPerKey = 3;

// HKEY_CURRENT_USER\BenchUndo with its subkeys and values, made when missing.
void ensureUndoKey(const std::shared_ptr<Store>& store) {
    TRegistry reg(store);
    reg.RootKey(HKEY_CURRENT_USER_H);
    if (reg.KeyPresent(kKeyPath))
        return;
    Store::Transaction t(*store);
    for (int i = 0; i < kSubKeys; ++i) {
        const std::string path = std::string(kKeyPath) + "\\Sub" + std::to_string(i);
        if (!reg.OpenKey(path, true))
            throw std::runtime_error("cannot make " + path);
        reg.WriteString("Name", "Value number " + std::to_string(i));
        reg.WriteInteger("Count", static_cast<std::uint32_t>(i));
        reg.WriteBinary("Data", std::string(24, static_cast<char>(i)));
    }
    reg.CloseKey();
    t.commit();
}

double timedRun(const std::filesystem::path& program, const std::vector<std::string>& args,
                const std::filesystem::path& folder) {
    Stopwatch watch;
    const ProcessRunner::Result r = ProcessRunner::runWaited(program, args, folder, [] {});
    if (!r.succeeded())
        throw std::runtime_error("the registry editor failed: " + r.errorText);
    return watch.seconds();
}

} // namespace

int runUndo(const Args& args) {
    const BenchFolders folders = benchFolders(args, "undo");
    const std::filesystem::path& windir = folders.windir;
    const std::filesystem::path& home = folders.home;
    const auto& file = folders.store;
    // klovreg of this build: beside the benchmark's folder, in bin/.
    const auto klovreg = std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() /
                         "bin" / "klovreg";
    if (!ensureRegistryPrograms(windir, klovreg))
        throw std::runtime_error("cannot link REGEDIT.EXE to " + klovreg.string());
    const auto editor = *registryEditorPath(windir);
    auto store = Store::open(file, Store::Options{false, false});
    ensureUndoKey(store);
    const std::string key = std::string("HKEY_CURRENT_USER") + kKeyPath;
    const std::filesystem::path plainFile = home / "plain.reg";

    UndoLog log(UndoPlace{home, windir, [] {}, store});
    double plainExport = 1e9, plainImport = 1e9, logged = 1e9, undone = 1e9;
    constexpr int kRuns = 3;
    for (int run = 0; run < kRuns; ++run) {
        // Plain: export, delete (not timed), import.
        plainExport =
            std::min(plainExport, timedRun(editor, {"/E", plainFile.string(), key}, windir));
        {
            TRegistry reg(store);
            reg.RootKey(HKEY_CURRENT_USER_H);
            reg.DeleteKey(kKeyPath);
        }
        plainImport = std::min(plainImport, timedRun(editor, {"/S", plainFile.string()}, windir));
        store->refresh();
        // Through the undo log: export and delete, then undo.
        Stopwatch deleteWatch;
        log.deleteKey("HKEY_CURRENT_USER", kKeyPath);
        logged = std::min(logged, deleteWatch.seconds());
        Stopwatch undoWatch;
        log.undo(0);
        undone = std::min(undone, undoWatch.seconds());
    }
    std::filesystem::remove_all(home);
    const double deleteRatio = logged / plainExport;
    const double undoRatio = undone / plainImport;
    std::printf("key: %s, %d subkeys, %d values (best of %d)\n", key.c_str(), kSubKeys,
                kSubKeys * kValuesPerKey, kRuns);
    std::printf("plain /E: %.3f s, delete through the undo log: %.3f s (ratio %.2f)\n", plainExport,
                logged, deleteRatio);
    std::printf("plain /S: %.3f s, undo of the deletion: %.3f s (ratio %.2f)\n", plainImport,
                undone, undoRatio);
    std::printf("undo ratio: %.2f\n", std::max(deleteRatio, undoRatio));
    return 0;
}

} // namespace klv::bench
