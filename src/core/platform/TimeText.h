#pragma once
// Time texts and Windows FILETIME values (100 ns ticks since 1601-01-01 UTC).
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace klv {

using FileTime = std::uint64_t;

// Seconds between 1601-01-01 and 1970-01-01.
inline constexpr std::uint64_t kFileTimeUnixEpochSeconds = 11644473600ULL;

FileTime fileTimeFromUnix(std::int64_t unixSeconds, std::uint32_t nanoseconds = 0);
std::int64_t unixFromFileTime(FileTime ft);

// Current time as a FILETIME. Tests may replace the clock; an empty function restores it.
FileTime nowFileTime();
void setClockForTesting(std::function<FileTime()> clock);

// "yyyy/mm/dd hh:nn:ss"
std::string listTimeText(const std::tm& t);
// "yyyymmddhhnnss"
std::string fileNameTimeText(const std::tm& t);
// Local time now, through the clock above: one instant for texts that must agree.
std::tm localNow();
// Local time now in either form (through the clock above).
std::string listTimeTextNow();
std::string fileNameTimeTextNow();
// A stored last write time shown as stored (UTC), "yyyy/mm/dd hh:nn:ss".
std::string fileTimeText(FileTime ft);

} // namespace klv
