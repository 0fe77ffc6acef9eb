// libFuzzer target: any text, cut into lines, runs as a QB script (install section, then the
// uninstall section) against a store of its own. Nothing may crash, and a run must end
// through its end lines whatever the script does.
#include "core/registry/Registry.h"
#include "core/registry/Store.h"
#include "core/script/ScriptHost.h"
#include "core/script/ScriptInterpreter.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Answers the choice dialog and never blocks; a value box writes nothing.
class Host final : public klv::ScriptHost {
public:
    klv::ScriptChoice answer = klv::ScriptChoice::Install;
    std::string lastLine;
    std::size_t errors = 0;

    klv::ScriptChoice choose(const klv::ScriptChoiceDialog&) override { return answer; }
    void log(const std::string& line) override { lastLine = line; }
    void showKey(const std::string&) override {}
    void valueBox(const klv::ScriptValueBoxRequest& r) override {
        if (r.kind == klv::ScriptValueBox::Binary && r.bytes.empty())
            std::abort(); // an empty binary value ends the run instead
    }
    void messageBox(const std::string&) override {}
    bool stopRequested() const override { return false; }
    void showError(const std::string&) override { ++errors; }
};

// A store of this process's own, removed with its folder when the process ends.
struct FuzzStore {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("klovante-fuzz-script-" + std::to_string(::getpid()));
    std::shared_ptr<klv::Store> store;
    FuzzStore() {
        std::filesystem::create_directories(dir);
        store = klv::Store::open(dir / "SYSTEM.DAT");
    }
    ~FuzzStore() {
        store.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

const std::shared_ptr<klv::Store>& store() {
    static FuzzStore s;
    return s.store;
}

// Back to empty roots for the next input: every key the script made goes.
void reset() {
    klv::TRegistry reg(store());
    for (const klv::RootKeyEntry& root : klv::kRootKeys) {
        reg.RootKey(root.handle);
        reg.OpenKey("", false);
        std::vector<std::string> names;
        reg.ListSubKeys(names);
        for (const std::string& n : names)
            reg.DeleteKey("\\" + n);
        reg.OpenKey("", false);
        reg.ListValues(names);
        for (const std::string& n : names)
            reg.DeleteValue(n);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::string showKeys = "0";
    for (klv::ScriptChoice choice : {klv::ScriptChoice::Install, klv::ScriptChoice::Uninstall}) {
        Host host;
        host.answer = choice;
        const klv::ScriptRunResult r = klv::runScript(lines, host, showKeys, store());
        if (host.lastLine.empty() || r.failed != (host.errors == 1) || host.errors > 1)
            std::abort(); // every run ends through the end lines, an error shown once
        if (r.failed &&
            (r.failedLine < 0 || static_cast<std::size_t>(r.failedLine) >= lines.size()))
            std::abort();
    }
    reset();
    return 0;
}
