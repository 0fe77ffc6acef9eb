// Wine itself reads what the program wrote back: a prefix made by wineboot, keys added through
// the store and written back, then read by Wine's reg. Skipped where Wine is not installed.
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/RootKeys.h"
#include "core/wine/WinePrefix.h"
#include "support/TempFolders.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>

namespace klv::wine {
namespace {
namespace fs = std::filesystem;

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const fs::path dir(rest.substr(0, colon));
        if (::access((dir / program).c_str(), X_OK) == 0)
            return true;
        rest = colon == std::string_view::npos ? "" : rest.substr(colon + 1);
    }
    return false;
}

// Wine's variables for this test's prefix, restored afterwards; no display, so that nothing
// opens a window. The prefix's wineserver is waited for at the end: none is left running.
class WineEnvironment {
public:
    explicit WineEnvironment(const fs::path& prefix) {
        set("WINEPREFIX", prefix.c_str());
        set("WINEDEBUG", "-all");
        set("WINEDLLOVERRIDES", "mscoree,mshtml="); // no Mono or Gecko installer
        set("DISPLAY", nullptr);
        set("WAYLAND_DISPLAY", nullptr);
        set("KLOVANTE_WINE_SERVER_ROOT", nullptr); // the real server's folder
    }
    ~WineEnvironment() {
        [[maybe_unused]] const int waited = std::system("timeout 60 wineserver -w >/dev/null 2>&1");
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }
    WineEnvironment(const WineEnvironment&) = delete;
    WineEnvironment& operator=(const WineEnvironment&) = delete;

private:
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

struct Command {
    int status = -1;
    std::string output; // standard output and error
};

Command run(const std::string& command) {
    Command r;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return r;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        r.output.append(buf, n);
    r.status = ::pclose(pipe);
    return r;
}

// The data of `name` in reg query's listing ("    name    TYPE    data"), or "(missing)".
std::string queried(const std::string& listing, const std::string& name, const std::string& type) {
    const std::string head = "    " + name + "    " + type + "    ";
    for (std::size_t at = 0; at < listing.size();) {
        std::size_t end = listing.find('\n', at);
        if (end == std::string::npos)
            end = listing.size();
        std::string line = listing.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with(head))
            return line.substr(head.size());
        at = end + 1;
    }
    return "(missing)";
}

TEST(WineReadBack, WineReadsTheKeysAndValuesWrittenBack) {
    for (const char* program : {"wine", "wineboot", "wineserver"})
        if (!onPath(program))
            GTEST_SKIP() << program
                         << " is not on PATH (Debian: apt-get install wine): Wine's reading of "
                            "the written files is not checked";
    const auto started = std::chrono::steady_clock::now();
    test::TempFolders folders;
    const fs::path prefix = folders.root() / "prefix";
    WineEnvironment env(prefix);

    const Command boot = run("timeout 300 wineboot -i");
    run("timeout 120 wineserver -w");
    if (!fs::exists(prefix / "system.reg") || !fs::exists(prefix / "user.reg"))
        GTEST_SKIP() << "Wine could not make a prefix here (wineboot status " << boot.status
                     << "):\n"
                     << boot.output;

    const std::string text = "say \"hi\" C:\\path\\ & 100%";
    {
        WinePrefix p(prefix, folders.home());
        p.open();
        TRegistry reg(p.store());
        reg.RootKey(HKEY_CURRENT_USER_H);
        ASSERT_TRUE(reg.OpenKey("\\Software\\KlovanteReadBack", true));
        reg.WriteString("Text", text);
        reg.WriteInteger("Number", 0x12345678);
        reg.WriteString("Japanese", sj("日本語のテキスト"));
        reg.RootKey(HKEY_LOCAL_MACHINE_H);
        ASSERT_TRUE(reg.OpenKey("\\Software\\KlovanteReadBack", true));
        reg.WriteString("Text", "machine wide");
        reg.WriteInteger("Number", 0xFEDCBA98);
        EXPECT_EQ(p.writeBack(), (std::vector<std::string>{"system.reg", "user.reg"}));
    }

    const Command user = run("timeout 120 wine reg query 'HKCU\\Software\\KlovanteReadBack'");
    EXPECT_EQ(queried(user.output, "Text", "REG_SZ"), text) << user.output;
    EXPECT_EQ(queried(user.output, "Number", "REG_DWORD"), "0x12345678") << user.output;
    const Command machine = run("timeout 120 wine reg query 'HKLM\\Software\\KlovanteReadBack'");
    EXPECT_EQ(queried(machine.output, "Text", "REG_SZ"), "machine wide") << machine.output;
    EXPECT_EQ(queried(machine.output, "Number", "REG_DWORD"), "0xfedcba98") << machine.output;

    // reg's listing goes through the console's code page; its export file is UTF-16.
    const fs::path exported = folders.root() / "export.reg";
    run("timeout 120 wine reg export 'HKCU\\Software\\KlovanteReadBack' '" + exported.string() +
        "' /y");
    std::ifstream in(exported, std::ios::binary);
    const std::string utf16((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string utf8 = utf16.size() > 2 ? utf16ToUtf8(utf16.substr(2)) : "";
    EXPECT_NE(utf8.find("\"Japanese\"=\"日本語のテキスト\"\r\n"), std::string::npos) << utf8;
    EXPECT_NE(utf8.find("\"Text\"=\"say \\\"hi\\\" C:\\\\path\\\\ & 100%\"\r\n"), std::string::npos)
        << utf8;

    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    std::printf("Wine read-back: %.1f s\n", seconds.count());
}

} // namespace
} // namespace klv::wine
