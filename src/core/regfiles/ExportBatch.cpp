#include "core/regfiles/ExportBatch.h"

#include "core/platform/Encoding.h"
#include "core/regfiles/ExportMerge.h"
#include "core/regfiles/ExportTarget.h"
#include "core/regfiles/RegistryPrograms.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace fs = std::filesystem;

namespace klv {
namespace {

// How long a stopped exporter is given to end before it is left to be reaped later.
constexpr auto kStopGrace = std::chrono::seconds(2);

// The key as the exporter takes its arguments (UTF-8).
std::string exporterKey(const std::string& key, std::size_t index) {
    const std::string entry = sj("書き出しリストの ") + std::to_string(index + 1) + sj(" 番目");
    if (key.empty())
        throw ExportBatchError(entry + sj("のキーが空です。"));
    const auto utf8 = key.find('\0') == std::string::npos ? tryCp932ToUtf8(key) : std::nullopt;
    if (!utf8)
        throw ExportBatchError(entry + sj("のキーに CP932 として読めない文字があります。"));
    return *utf8;
}

} // namespace

RegFileForm exportedForm(bool unicodeEnabled, bool regedit4Chosen) {
    return unicodeEnabled && !regedit4Chosen ? RegFileForm::Unicode : RegFileForm::Regedit4;
}

ExportBatch::ExportBatch(std::vector<std::string> keys, bool unicodeEnabled, bool regedit4Chosen,
                         fs::path programFolder, fs::path systemFolder)
    : keys_(std::move(keys)), programFolder_(std::move(programFolder)),
      form_(exportedForm(unicodeEnabled, regedit4Chosen)) {
    if (keys_.empty())
        throw ExportBatchError(sj("書き出しリストにキーがありません。"));
    std::vector<std::string> utf8Keys;
    utf8Keys.reserve(keys_.size());
    for (std::size_t i = 0; i < keys_.size(); ++i)
        utf8Keys.push_back(exporterKey(keys_[i], i));

    // A file left by an earlier run would pass for this run's output of an exporter that
    // writes nothing.
    removePerKeyFiles(programFolder_, 0, keys_.size());

    children_.reserve(keys_.size());
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        const ExporterCommand c =
            exporterCommand(unicodeEnabled, regedit4Chosen, ExportScope::Key, utf8Keys[i],
                            perKeyFile(programFolder_, i).string());
        consoleTool_ = c.consoleTool;
        const auto found =
            c.consoleTool ? registryToolPath(systemFolder) : registryEditorPath(systemFolder);
        // A missing program is reported by the child that cannot start.
        const fs::path program =
            found.value_or(systemFolder / (c.consoleTool ? "REG.EXE" : "REGEDIT.EXE"));
        children_.push_back(ProcessRunner::start(program, c.arguments, {}));
    }
}

ExportBatch::~ExportBatch() = default;

const ExportPoll& ExportBatch::poll() {
    if (state_.state != ExportPoll::State::Waiting)
        return state_;
    bool running = false;
    for (std::size_t i = 0; i < children_.size(); ++i) {
        ProcessRunner::Child& child = children_[i];
        if (child.running()) {
            running = true;
            continue;
        }
        const ProcessRunner::Result& r = child.result();
        const bool missing = r.succeeded() && existingPerKeyFile(programFolder_, i).empty();
        if (!r.succeeded() || missing) {
            state_.state = ExportPoll::State::Failed;
            state_.index = i;
            state_.key = keys_[i];
            state_.result = r;
            state_.fileMissing = missing;
            return state_;
        }
    }
    if (!running)
        state_.state = ExportPoll::State::Ready;
    return state_;
}

void ExportBatch::abandon() {
    for (ProcessRunner::Child& child : children_)
        if (child.running())
            ::kill(child.pid(), SIGKILL); // not reaped yet, so the id is still this child's
    const auto until = std::chrono::steady_clock::now() + kStopGrace;
    for (ProcessRunner::Child& child : children_)
        while (child.running() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    removePerKeyFiles(programFolder_, 0, keys_.size());
}

} // namespace klv
