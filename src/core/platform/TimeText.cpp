#include "core/platform/TimeText.h"

#include <chrono>
#include <cstdio>
#include <mutex>

namespace klv {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;

std::mutex& clockMutex() {
    static std::mutex m;
    return m;
}

std::function<FileTime()>& clockFunction() {
    static std::function<FileTime()> clock;
    return clock;
}

FileTime systemNow() {
    using namespace std::chrono;
    const auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    const auto seconds = ns / 1'000'000'000;
    const auto rest = ns % 1'000'000'000;
    return fileTimeFromUnix(seconds, static_cast<std::uint32_t>(rest < 0 ? 0 : rest));
}

} // namespace

std::tm localNow() {
    const auto seconds = static_cast<std::time_t>(unixFromFileTime(nowFileTime()));
    std::tm t{};
    localtime_r(&seconds, &t);
    return t;
}

FileTime fileTimeFromUnix(std::int64_t unixSeconds, std::uint32_t nanoseconds) {
    // Times before 1601 have no FILETIME; they clamp to its start.
    if (unixSeconds < -static_cast<std::int64_t>(kFileTimeUnixEpochSeconds))
        return 0;
    const auto seconds = static_cast<std::uint64_t>(
        unixSeconds + static_cast<std::int64_t>(kFileTimeUnixEpochSeconds));
    return seconds * kTicksPerSecond + nanoseconds / 100;
}

std::int64_t unixFromFileTime(FileTime ft) {
    return static_cast<std::int64_t>(ft / kTicksPerSecond) -
           static_cast<std::int64_t>(kFileTimeUnixEpochSeconds);
}

FileTime nowFileTime() {
    std::function<FileTime()> clock;
    {
        std::lock_guard lock(clockMutex());
        clock = clockFunction();
    }
    return clock ? clock() : systemNow();
}

void setClockForTesting(std::function<FileTime()> clock) {
    std::lock_guard lock(clockMutex());
    clockFunction() = std::move(clock);
}

std::string listTimeText(const std::tm& t) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string fileNameTimeText(const std::tm& t) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string listTimeTextNow() {
    return listTimeText(localNow());
}

std::string fileNameTimeTextNow() {
    return fileNameTimeText(localNow());
}

std::string fileTimeText(FileTime ft) {
    const auto seconds = static_cast<std::time_t>(unixFromFileTime(ft));
    std::tm t{};
    gmtime_r(&seconds, &t);
    return listTimeText(t);
}

} // namespace klv
