// klovante_bench wineprefix [folder]: a Wine prefix of 100,000 keys (most in system.reg, the rest
// in user.reg and userdef.reg, values of every type) written in Wine's format, then, each the
// best of 3 runs: a plain read of the three files, a plain write of the same bytes to new files
// with fsync (the write-back syncs its files too), the prefix loaded into a fresh program folder,
// and the write-back after one value was changed in each file through the store.
#include "BenchUtil.h"

#include "core/platform/AtomicFile.h"
#include "core/registry/Registry.h"
#include "core/registry/RootKeys.h"
#include "core/wine/WinePrefix.h"
#include "core/wine/WineRegFile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace klv::bench {
namespace {

using namespace std::string_literals;
using wine::WineKey;
using wine::WineRegFile;
using wine::WineValue;

constexpr int kRuns = 3;
constexpr std::array<std::size_t, 3> kKeysPerFile{80000, 15000, 5000};
constexpr FileTime kBaseTime = 133783736004242424ULL; // December 2024

std::string le(std::u16string_view s, bool terminated) {
    std::string b;
    b.reserve(s.size() * 2 + 2);
    for (const char16_t u : s) {
        b += static_cast<char>(u & 0xFF);
        b += static_cast<char>(u >> 8);
    }
    if (terminated)
        b.append(2, '\0');
    return b;
}

std::u16string ascii(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

// The values of the n-th key: mostly strings and numbers as real prefixes hold, with paths,
// Japanese text, expandable and multi strings, binary data long enough to wrap, 64-bit numbers
// and now and then a key with none.
void fillValues(WineKey& k, std::size_t n) {
    const std::u16string id = ascii(std::to_string(n));
    auto add = [&](std::u16string name, std::uint32_t type, std::string data) {
        k.values.push_back(WineValue{std::move(name), type, std::move(data)});
    };
    switch (n % 7) {
    case 0:
        return;
    case 1:
        add(u"", 1, le(u"Bench value " + id, true));
        add(u"InstallPath", 1, le(u"C:\\Program Files\\Bench\\" + id, true));
        add(u"Version", 4, std::string("\x01\x00\x02\x00", 4));
        break;
    case 2:
        add(u"DisplayName", 1, le(u"ベンチマーク用のキー " + id, true));
        add(u"Path", 2, le(u"%SystemRoot%\\system32;%ProgramFiles%\\Bench", true));
        add(u"Flags", 4, std::string(4, static_cast<char>(n & 0x7F)));
        break;
    case 3: {
        std::string blob;
        for (std::size_t i = 0; i < 40 + n % 160; ++i)
            blob += static_cast<char>((n + i * 31) & 0xFF);
        add(u"Data", 3, blob);
        add(u"Sources", 7, le(u"first\0second\0"s + id + u"\0"s, true));
        break;
    }
    case 4:
        add(u"Size", 11, std::string("\x88\x77\x66\x55\x44\x33\x22\x11", 8));
        add(u"Quoted", 1, le(u"say \"" + id + u"\"\ttab", true));
        add(u"Empty", 1, le(u"", true));
        break;
    case 5:
        add(u"Marker", 0, "");
        add(u"Caf\u00e9", 1, le(u"caf\u00e9 \u0101", true));
        add(u"Count", 4, std::string(4, '\0'));
        add(u"Link", 6, le(u"\\Registry\\Machine\\Software\\Bench", false));
        break;
    default:
        add(u"Text", 1, le(u"value " + id, true));
        add(u"Number", 4, std::string("\xff\xff\xff\xff", 4));
        break;
    }
}

// A file of `keys` keys (counting those on the way) below Software\Bench, in three levels of
// groups.
WineRegFile makeFile(std::u16string relativeTo, std::size_t keys, std::size_t seed) {
    WineRegFile f;
    f.relativeTo = std::move(relativeTo);
    f.arch = "win64";
    WineKey& base = f.child(f.child(f.root(), u"Software"), u"Bench");
    base.modified = kBaseTime;
    std::size_t n = 0;
    for (int a = 0; f.keyCount() - 1 < keys; ++a) {
        WineKey& group = f.child(base, u"Vendor" + ascii(std::to_string(a)));
        group.modified = kBaseTime;
        for (int b = 0; b < 20 && f.keyCount() - 1 < keys; ++b) {
            WineKey& product = f.child(group, u"Product" + ascii(std::to_string(b)));
            product.modified = kBaseTime + static_cast<FileTime>(b);
            for (int c = 0; c < 200 && f.keyCount() - 1 < keys; ++c, ++n) {
                WineKey& k = f.child(product, u"Key" + ascii(std::to_string(c)));
                k.modified = kBaseTime + static_cast<FileTime>(n) * 1234567;
                fillValues(k, n + seed);
            }
        }
    }
    return f;
}

// system.reg also holds the control set and its links, as Wine's does.
void addControlSet(WineRegFile& f) {
    WineKey& system = f.child(f.root(), u"System");
    WineKey& set = f.child(system, u"ControlSet001");
    WineKey& env = f.child(f.child(f.child(set, u"Control"), u"Session Manager"), u"Environment");
    env.modified = kBaseTime;
    env.values.push_back(WineValue{u"ComSpec", 2, le(u"%SystemRoot%\\system32\\cmd.exe", true)});
    WineKey& profile = f.child(f.child(set, u"Hardware Profiles"), u"0001");
    profile.modified = kBaseTime;
    WineKey& current = f.child(f.child(set, u"Hardware Profiles"), u"Current");
    current.modified = kBaseTime;
    current.link = true;
    current.values.push_back(WineValue{
        u"SymbolicLinkValue", 6,
        le(u"\\Registry\\Machine\\System\\ControlSet001\\Hardware Profiles\\0001", false)});
    WineKey& ccs = f.child(system, u"CurrentControlSet");
    ccs.modified = kBaseTime;
    ccs.link = true;
    ccs.values.push_back(WineValue{u"SymbolicLinkValue", 6,
                                   le(u"\\Registry\\Machine\\System\\ControlSet001", false)});
}

std::size_t valueCount(const WineKey& k) {
    std::size_t n = k.values.size();
    for (const WineKey* s : k.subkeys)
        n += valueCount(*s);
    return n;
}

struct Generated {
    std::size_t keys = 0;
    std::size_t values = 0;
    std::array<std::string, 3> text;
};

Generated generatePrefix(const fs::path& prefix) {
    Generated g;
    std::array<WineRegFile, 3> files{makeFile(u"\\Machine", kKeysPerFile[0], 0),
                                     makeFile(u"\\User\\S-1-5-21-0-0-0-1000", kKeysPerFile[1], 1),
                                     makeFile(u"\\User\\.Default", kKeysPerFile[2], 2)};
    addControlSet(files[0]);
    for (std::size_t i = 0; i < files.size(); ++i) {
        g.keys += files[i].keyCount() - 1;
        g.text[i] = files[i].write();
        writeFileAtomically(prefix / wine::kWineFiles[i], g.text[i]);
        g.values += valueCount(files[i].root());
    }
    return g;
}

std::string readAll(const fs::path& p) {
    const int fd = ::open(p.c_str(), O_RDONLY);
    if (fd < 0)
        throw std::runtime_error("cannot read " + p.string());
    std::string bytes;
    char buf[1 << 16];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        bytes.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return bytes;
}

void writeAndSync(const fs::path& p, const std::string& bytes) {
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot write " + p.string());
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw std::runtime_error("cannot write " + p.string());
        done += static_cast<std::size_t>(n);
    }
    ::fsync(fd);
    ::close(fd);
}

struct RemoveOnExit {
    fs::path path;
    ~RemoveOnExit() {
        if (path.empty())
            return;
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// One value changed in each file's tree, through the access layer as the windows change them.
void changeOneValueEach(wine::WinePrefix& p, int run) {
    TRegistry reg(p.store());
    const std::string text = "edited in run " + std::to_string(run);
    const std::pair<RootHandle, const char*> keys[] = {
        {HKEY_LOCAL_MACHINE_H, "\\Software\\Bench\\Vendor0\\Product0\\Key1"},
        {HKEY_USERS_H, "\\S-1-5-21-0-0-0-1000\\Software\\Bench\\Vendor0\\Product0\\Key1"},
        {HKEY_USERS_H, "\\.Default\\Software\\Bench\\Vendor0\\Product0\\Key1"}};
    for (const auto& [root, path] : keys) {
        reg.RootKey(root);
        if (!reg.OpenKey(path, false))
            throw std::runtime_error(std::string("the prefix has no key ") + path);
        reg.WriteString("Edited", text);
    }
}

} // namespace

int runWinePrefix(const Args& args) {
    fs::path folder;
    RemoveOnExit cleanup;
    if (!args.positional.empty()) {
        folder = fs::absolute(args.positional[0]);
    } else {
        char tmp[] = "/tmp/klovante-bench-wine-XXXXXX";
        if (!mkdtemp(tmp))
            throw std::runtime_error("cannot make a folder");
        folder = tmp;
        cleanup.path = folder;
    }
    const fs::path prefix = folder / "prefix";
    fs::remove_all(prefix);
    fs::create_directories(prefix);

    Stopwatch generateClock;
    const Generated g = generatePrefix(prefix);
    const double generateSeconds = generateClock.seconds();
    std::size_t totalBytes = 0;
    std::printf("prefix %s: %zu keys, %zu values\n", prefix.c_str(), g.keys, g.values);
    for (std::size_t i = 0; i < g.text.size(); ++i) {
        totalBytes += g.text[i].size();
        std::printf("  %s: %.1f MB\n", std::string(wine::kWineFiles[i]).c_str(),
                    static_cast<double>(g.text[i].size()) / 1e6);
    }
    std::printf("generated and written in %.2f s\n", generateSeconds);

    double readBest = 1e9, writeBest = 1e9, loadBest = 1e9, writeBackBest = 1e9, reopenBest = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        Stopwatch readClock;
        std::size_t read = 0;
        for (const std::string_view name : wine::kWineFiles)
            read += readAll(prefix / name).size();
        readBest = std::min(readBest, readClock.seconds());
        if (read < totalBytes) // the write-back of a run before may have added a few bytes
            throw std::runtime_error("the plain read came short");

        const fs::path copies = folder / ("copies" + std::to_string(run));
        fs::remove_all(copies);
        fs::create_directories(copies);
        Stopwatch writeClock;
        for (std::size_t i = 0; i < g.text.size(); ++i)
            writeAndSync(copies / wine::kWineFiles[i], g.text[i]);
        writeBest = std::min(writeBest, writeClock.seconds());
        fs::remove_all(copies);

        const fs::path home = folder / ("home" + std::to_string(run));
        fs::remove_all(home);
        fs::create_directories(home);
        Stopwatch loadClock;
        wine::WinePrefix p(prefix, home);
        p.open();
        loadBest = std::min(loadBest, loadClock.seconds());

        changeOneValueEach(p, run);
        Stopwatch writeBackClock;
        const std::vector<std::string> written = p.writeBack();
        writeBackBest = std::min(writeBackBest, writeBackClock.seconds());
        if (written.size() != wine::kWineFiles.size())
            throw std::runtime_error("the write-back wrote " + std::to_string(written.size()) +
                                     " files, not 3");
        const std::string marker = "\"Edited\"=\"edited in run " + std::to_string(run) + "\"\n";
        for (const std::string_view name : wine::kWineFiles)
            if (readAll(prefix / name).find(marker) == std::string::npos)
                throw std::runtime_error(std::string(name) + " lacks the changed value");

        // The next opening, as by a new process: the files are as the store last wrote them.
        Store::resetShared();
        Stopwatch reopenClock;
        wine::WinePrefix again(prefix, home);
        again.open();
        reopenBest = std::min(reopenBest, reopenClock.seconds());
        if (!again.changedFiles().empty())
            throw std::runtime_error("the reopened prefix has changes");
        Store::resetShared();
        fs::remove_all(home);
    }

    const double mb = static_cast<double>(totalBytes) / 1e6;
    std::printf("plain read of the 3 files: %.3f s (%.0f MB/s)\n", readBest, mb / readBest);
    std::printf("plain write + fsync of the same bytes: %.3f s (%.0f MB/s)\n", writeBest,
                mb / writeBest);
    std::printf("load (WinePrefix::open, fresh program folder): %.3f s (%.0f keys/s)\n", loadBest,
                static_cast<double>(g.keys) / loadBest);
    std::printf("write-back after one value changed in each file (a backup of each file kept "
                "first): %.3f s\n",
                writeBackBest);
    std::printf("reopen of the unchanged prefix (as a new process): %.3f s, %.2f x the plain "
                "read\n",
                reopenBest, reopenBest / readBest);
    std::printf("peak memory: %.1f MiB\n", peakMemoryMiB());
    std::printf("wine write-back ratio: %.2f\n", writeBackBest / writeBest);
    std::printf("wine load ratio: %.2f\n", loadBest / readBest);
    return 0;
}

} // namespace klv::bench
