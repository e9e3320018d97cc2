#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// Date-time helpers. Rules this module keeps: conversions from a count of seconds are pure
// integer arithmetic (no time_t range, no time zone, so dates after 2038 are right on every
// platform); only the "local" functions consult the machine's time zone, through the C
// library, thread-safely (localtime_r on POSIX, localtime_s on Windows).
namespace mrvn {

// A calendar date and wall-clock time, no time zone attached.
struct DateTime
{
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Base 1970-01-01 08:00:00 (utc8) or 00:00:00, plus `count` seconds (or count / 1000 when
// !inSeconds, truncated toward zero). The sum is 64-bit, so dates after 2038 are right.
DateTime MsToLocalTime(std::int64_t count, bool inSeconds = true, bool utc8 = true);

// Letters y M d h m s of the pattern take digits from the right of the zero-padded
// year (4), month, day, hour, minute, second (2 each), walking the pattern backwards.
std::string FormatDateTime(const DateTime& value, std::string_view pattern = "yyyy-MM-dd hh:mm:ss");

// Unix-epoch milliseconds of a local wall-clock moment of this machine (whole seconds).
std::int64_t ToTimestampMs(const DateTime& local);
// The same for a moment given as Unix seconds.
std::int64_t ToTimestampMs(std::time_t moment);

// The current local wall-clock time, whole seconds.
DateTime LocalNow();
DateTime ToLocalDateTime(std::time_t moment);

} // namespace mrvn
