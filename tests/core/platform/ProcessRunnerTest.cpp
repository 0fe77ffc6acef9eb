// Child processes of the registry programs.
#include "core/platform/ProcessRunner.h"
#include "support/TempFolders.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>

using namespace klv;
namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

TEST(ProcessRunnerTest, ParameterTextsSplitAsTheRegistryProgramsReadThem) {
    EXPECT_EQ(
        ProcessRunner::splitParameters(
            " /E \"/home/u/klovante/Undo\\20240102030405.reg\" \"HKEY_CURRENT_USER\\My Key\\\""),
        (Args{"/E", "/home/u/klovante/Undo\\20240102030405.reg", "HKEY_CURRENT_USER\\My Key\\"}));
    EXPECT_EQ(
        ProcessRunner::splitParameters("EXPORT \"HKEY_CLASSES_ROOT\" \"C:\\a b\\0.reg\" /nt4"),
        (Args{"EXPORT", "HKEY_CLASSES_ROOT", "C:\\a b\\0.reg", "/nt4"}));
    EXPECT_EQ(ProcessRunner::splitParameters("\"\"  \t x\"y z\"w"), (Args{"", "xy zw"}));
    EXPECT_EQ(ProcessRunner::splitParameters("   "), Args{});
}

TEST(ProcessRunnerTest, AWaitedRunPumpsUntilTheChildEndsAndKeepsItsErrorText) {
    test::TempFolders folders;
    int pumps = 0;
    const auto start = std::chrono::steady_clock::now();
    const ProcessRunner::Result r = ProcessRunner::runWaited(
        "/bin/sh",
        {"-c", "sleep 0.3; pwd > where; printf '%s\\n' \"$1\" >&2; exit 3", "sh", "a b\\c"},
        folders.windir(), [&] { ++pumps; });
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_GT(pumps, 5);
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(r.errorText, "a b\\c\n");
    std::ifstream where(folders.windir() / "where");
    std::string line;
    std::getline(where, line);
    EXPECT_EQ(fs::canonical(line), fs::canonical(folders.windir()));
}

TEST(ProcessRunnerTest, StartReturnsAtOnceAndReportsEveryWayOfEnding) {
    const auto t0 = std::chrono::steady_clock::now();
    ProcessRunner::Child slow = ProcessRunner::start("/bin/sh", {"-c", "sleep 0.5"}, {});
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
    EXPECT_TRUE(slow.running());

    ProcessRunner::Child killed = ProcessRunner::start("/bin/sh", {"-c", "kill -9 $$"}, {});
    while (killed.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(killed.result().signal, 9);
    EXPECT_FALSE(killed.result().succeeded());

    ProcessRunner::Child missing = ProcessRunner::start("/nonexistent/REGEDIT.EXE", {}, {});
    EXPECT_FALSE(missing.running());
    EXPECT_FALSE(missing.result().started);
    EXPECT_NE(missing.result().errorText.find("No such file"), std::string::npos);

    ProcessRunner::Child fine = ProcessRunner::start("/bin/true", {}, {});
    while (fine.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(fine.result().succeeded());
    // `slow` is given up while it runs: it is reaped later, not waited for here.
    const auto t1 = std::chrono::steady_clock::now();
    { ProcessRunner::Child gone = std::move(slow); }
    EXPECT_LT(std::chrono::steady_clock::now() - t1, std::chrono::milliseconds(200));
}

} // namespace
