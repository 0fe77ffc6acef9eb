#include "core/platform/PlatformFamily.h"
#include "core/platform/TimeText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

using namespace klv;

namespace {

constexpr FileTime kUnixEpoch = 116444736000000000ULL;

// Sets or clears one environment variable for a test and restores it afterwards.
class EnvOverride {
public:
    EnvOverride(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
        tzset();
    }
    ~EnvOverride() {
        old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_);
        tzset();
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

struct ClockReset {
    ~ClockReset() { setClockForTesting({}); }
};

} // namespace

TEST(TimeText, FileTimeCountsTicksFrom1601) {
    EXPECT_EQ(fileTimeFromUnix(0), kUnixEpoch);
    EXPECT_EQ(fileTimeFromUnix(1, 999), kUnixEpoch + 10'000'009);
    EXPECT_EQ(fileTimeFromUnix(-11644473600LL), 0u);
    EXPECT_EQ(fileTimeFromUnix(-11644473601LL), 0u);
    EXPECT_EQ(unixFromFileTime(kUnixEpoch + 9'999'999), 0);
    EXPECT_EQ(unixFromFileTime(0), -11644473600LL);
    EXPECT_EQ(unixFromFileTime(fileTimeFromUnix(1700000000, 5)), 1700000000);
}

TEST(TimeText, TextsArePaddedToFixedWidth) {
    std::tm t{};
    t.tm_year = 99, t.tm_mon = 0, t.tm_mday = 2, t.tm_hour = 3, t.tm_min = 4, t.tm_sec = 5;
    EXPECT_EQ(listTimeText(t), "1999/01/02 03:04:05");
    EXPECT_EQ(fileNameTimeText(t), "19990102030405");
    EXPECT_EQ(fileTimeText(kUnixEpoch), "1970/01/01 00:00:00");
    EXPECT_EQ(fileTimeText(fileTimeFromUnix(951827696)), "2000/02/29 12:34:56");
}

TEST(TimeText, NowFormsUseTheClockInLocalTime) {
    EnvOverride tz("TZ", "JST-9");
    ClockReset reset;
    setClockForTesting([] { return fileTimeFromUnix(86399); });
    EXPECT_EQ(nowFileTime(), fileTimeFromUnix(86399));
    EXPECT_EQ(listTimeTextNow(), "1970/01/02 08:59:59");
    EXPECT_EQ(fileNameTimeTextNow(), "19700102085959");
    EXPECT_EQ(fileTimeText(nowFileTime()), "1970/01/01 23:59:59"); // stored times stay UTC

    setClockForTesting({});
    const auto now = unixFromFileTime(nowFileTime());
    EXPECT_LE(std::abs(now - static_cast<std::int64_t>(std::time(nullptr))), 2);
}

TEST(PlatformFamily, NtByDefaultAnd95OnRequest) {
    {
        EnvOverride family("KLOVANTE_PLATFORM", nullptr);
        const PlatformVersion v = platformVersion();
        EXPECT_EQ((std::tuple{v.platformId, v.major, v.minor}), std::tuple(2, 5, 1));
        EXPECT_TRUE(isNtFamily());
        EXPECT_EQ(rootCount(), 5);
    }
    {
        EnvOverride family("KLOVANTE_PLATFORM", "95");
        const PlatformVersion v = platformVersion();
        EXPECT_EQ((std::tuple{v.platformId, v.major, v.minor}), std::tuple(1, 4, 0));
        EXPECT_FALSE(isNtFamily());
        EXPECT_EQ(rootCount(), 6);
    }
    EnvOverride other("KLOVANTE_PLATFORM", "98");
    EXPECT_TRUE(isNtFamily());
}
