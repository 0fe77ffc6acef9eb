#pragma once
// The exports of a several-keys export: one exporter per list entry, each writing its per-key
// file ("0.reg", "1.reg", ...) in the program folder. They are started as shell runs (not
// waited, one after the other) and then polled. A per-key file counts only once its exporter
// has ended successfully, so a file that is still being written is never merged, and an
// exporter that fails is reported at once instead of being waited for forever.
#include "core/platform/ProcessRunner.h"
#include "core/regfiles/ExportTarget.h"
#include "core/regfiles/RegFileForm.h"

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace klv {

// what() is the CP932 message for the user; nothing has been started when it is thrown.
class ExportBatchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The form the exporters write for the format choice.
RegFileForm exportedForm(bool unicodeEnabled, bool regedit4Chosen);

struct ExportPoll {
    enum class State { Waiting, Ready, Failed };
    State state = State::Waiting;
    // Failed: the entry whose exporter failed, its key path text (CP932), how the exporter
    // ended, and whether it ended well but left no file.
    std::size_t index = 0;
    std::string key;
    ProcessRunner::Result result;
    bool fileMissing = false;
};

class ExportBatch {
public:
    // Validates every key (not empty, CP932 that the exporter can be given), removes per-key
    // files left by an earlier run, and starts the exporters. The programs are REG.EXE with
    // "EXPORT key file /nt4" when the Unicode choice is enabled but REGEDIT4 chosen, else
    // REGEDIT.EXE with "/E file key", both from the system folder.
    ExportBatch(std::vector<std::string> keys, bool unicodeEnabled, bool regedit4Chosen,
                std::filesystem::path programFolder, std::filesystem::path systemFolder);
    // Exporters still running are left to finish and are reaped later (no zombies).
    ~ExportBatch();
    ExportBatch(const ExportBatch&) = delete;
    ExportBatch& operator=(const ExportBatch&) = delete;

    // Looks without waiting. Ready once every exporter has ended successfully and left its
    // file; Failed as soon as one has not (the first such entry in list order). Once Ready or
    // Failed, the answer stays.
    const ExportPoll& poll();

    // Gives the run up: exporters still running are stopped (they only read the registry) and
    // the per-key files of this run are removed.
    void abandon();

    std::size_t size() const { return keys_.size(); }
    RegFileForm form() const { return form_; }
    // The exporter is the console tool (REG.EXE) rather than the registry editor.
    bool consoleTool() const { return consoleTool_; }
    const std::filesystem::path& programFolder() const { return programFolder_; }

private:
    std::vector<std::string> keys_;
    std::filesystem::path programFolder_;
    RegFileForm form_;
    bool consoleTool_ = false;
    std::vector<ProcessRunner::Child> children_;
    ExportPoll state_;
};

} // namespace klv
