// QB script runs: a script of 100,000 writes over 1,000 keys through the interpreter, against
// the same writes made directly through the access layer, each into a fresh store.
#include "BenchUtil.h"

#include "core/registry/Registry.h"
#include "core/script/ScriptHost.h"
#include "core/script/ScriptInterpreter.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace klv::bench {
namespace {

constexpr int kKeys = 1000;
constexpr int kWritesPerKey = 100;

std::string keyPath(int k) {
    return "\\Software\\BenchScript\\Key" + std::to_string(k);
}

std::string binaryText(int i) {
    std::string s;
    static const char* digits = "0123456789ABCDEF";
    for (int b = 0; b < 8; ++b) {
        const int v = (i + b * 37) & 0xFF;
        s += digits[v >> 4];
        s += digits[v & 15];
        s += ' ';
    }
    return s;
}

std::vector<std::string> makeScript() {
    std::vector<std::string> lines{"<INSTDATA>YES", "<BACKGROUND>YES", "INSTBEGIN"};
    for (int k = 0; k < kKeys; ++k) {
        lines.push_back("OpenKey(HKEY_CURRENT_USER" + keyPath(k) + ",True)");
        for (int w = 0; w < kWritesPerKey; ++w) {
            const std::string n = std::to_string(w);
            switch (w % 3) {
            case 0:
                lines.push_back("WriteString(Text" + n + ",value " + n + " of key " +
                                std::to_string(k) + ")");
                break;
            case 1:
                lines.push_back("WriteInteger(Number" + n + "," + std::to_string(k * 1000 + w) +
                                ")");
                break;
            default:
                lines.push_back("WriteBinary(Bytes" + n + "," + binaryText(k + w) + ")");
                break;
            }
        }
    }
    lines.push_back("INSTEND");
    return lines;
}

// The same writes through one access object, one transaction per write as the layer makes.
void writeDirect(const std::shared_ptr<Store>& store) {
    TRegistry reg(store);
    for (int k = 0; k < kKeys; ++k) {
        if (!reg.OpenKey(keyPath(k), true))
            throw std::runtime_error("cannot open " + keyPath(k));
        for (int w = 0; w < kWritesPerKey; ++w) {
            const std::string n = std::to_string(w);
            switch (w % 3) {
            case 0:
                reg.WriteString("Text" + n, "value " + n + " of key " + std::to_string(k));
                break;
            case 1:
                reg.WriteInteger("Number" + n, static_cast<std::uint32_t>(k * 1000 + w));
                break;
            default: {
                std::string bytes;
                for (int b = 0; b < 8; ++b)
                    bytes += static_cast<char>((k + w + b * 37) & 0xFF);
                reg.WriteBinary("Bytes" + n, bytes);
                break;
            }
            }
        }
    }
}

class QuietHost final : public ScriptHost {
public:
    std::size_t lines = 0;
    std::string error;
    ScriptChoice choose(const ScriptChoiceDialog&) override { return ScriptChoice::Install; }
    void log(const std::string&) override { ++lines; }
    void showKey(const std::string&) override {}
    void valueBox(const ScriptValueBoxRequest&) override {}
    void messageBox(const std::string&) override {}
    bool stopRequested() const override { return false; }
    void showError(const std::string& message) override { error = message; }
};

std::shared_ptr<Store> freshStore(const std::filesystem::path& file) {
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(file.string() + suffix);
    return Store::open(file);
}

} // namespace

int runScript(const Args& args) {
    if (args.positional.empty())
        throw std::runtime_error("script needs a folder");
    const std::filesystem::path folder = std::filesystem::absolute(args.positional[0]);
    std::filesystem::create_directories(folder);

    const std::vector<std::string> script = makeScript();
    const auto scriptStore = freshStore(folder / "SCRIPT.DAT");
    QuietHost host;
    std::string showKeys = "1";
    Stopwatch scriptWatch;
    const ScriptRunResult r = klv::runScript(script, host, showKeys, scriptStore);
    const double scriptSeconds = scriptWatch.seconds();
    if (r.failed)
        throw std::runtime_error("the script failed: " + host.error);

    const auto directStore = freshStore(folder / "DIRECT.DAT");
    Stopwatch directWatch;
    writeDirect(directStore);
    const double directSeconds = directWatch.seconds();

    // Both ways must have written the same values.
    TRegistry a(scriptStore), b(directStore);
    for (int k = 0; k < kKeys; ++k) {
        if (!a.OpenKey(keyPath(k), false) || !b.OpenKey(keyPath(k), false) ||
            a.ReadRawValues() != b.ReadRawValues())
            throw std::runtime_error("the script wrote other values under " + keyPath(k));
    }

    std::printf("script: %zu lines, %zu commands applied, %zu log lines\n", script.size(),
                r.commandsApplied, host.lines);
    std::printf("script run: %.3f s (%.0f lines/s)\n", scriptSeconds,
                static_cast<double>(script.size()) / scriptSeconds);
    std::printf("direct writes: %.3f s (%.0f writes/s)\n", directSeconds,
                static_cast<double>(kKeys * (kWritesPerKey + 1)) / directSeconds);
    std::printf("peak memory: %.1f MiB\n", peakMemoryMiB());
    std::printf("script/direct ratio: %.2f\n", scriptSeconds / directSeconds);
    return 0;
}

} // namespace klv::bench
