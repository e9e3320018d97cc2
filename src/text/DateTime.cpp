#include "text/DateTime.h"

#include <limits>

namespace mrvn {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Proleptic Gregorian date of a day count from 1970-01-01 (H. Hinnant's algorithm), in
// plain integers, so no time_t range and no time zone come into it.
DateTime CivilFromDays(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = FloorDiv(days, 146097);
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    DateTime result;
    result.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    result.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    std::int64_t year = yearOfEra + era * 400 + (result.month <= 2 ? 1 : 0);
    if (year > std::numeric_limits<int>::max())
        year = std::numeric_limits<int>::max();
    if (year < std::numeric_limits<int>::min())
        year = std::numeric_limits<int>::min();
    result.year = static_cast<int>(year);
    return result;
}

// The last `width` characters of `width` zeros followed by the number.
std::string Padded(int value, std::size_t width)
{
    const std::string text = std::string(width, '0') + std::to_string(value);
    return text.substr(text.size() - width);
}

DateTime FromTm(const std::tm& tm)
{
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

} // namespace

DateTime MsToLocalTime(std::int64_t count, bool inSeconds, bool utc8)
{
    const std::int64_t seconds = inSeconds ? count : count / 1000;
    // Day and second of day are split before the base hour is added, so even the extreme
    // counts cannot overflow.
    std::int64_t days = FloorDiv(seconds, kSecondsPerDay);
    std::int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0)
        secondOfDay += kSecondsPerDay;
    secondOfDay += utc8 ? 8 * 3600 : 0;
    if (secondOfDay >= kSecondsPerDay) {
        secondOfDay -= kSecondsPerDay;
        ++days;
    }
    DateTime result = CivilFromDays(days);
    result.hour = static_cast<int>(secondOfDay / 3600);
    result.minute = static_cast<int>(secondOfDay / 60 % 60);
    result.second = static_cast<int>(secondOfDay % 60);
    return result;
}

std::string FormatDateTime(const DateTime& value, std::string_view pattern)
{
    std::string year = Padded(value.year, 4);
    std::string month = Padded(value.month, 2);
    std::string day = Padded(value.day, 2);
    std::string hour = Padded(value.hour, 2);
    std::string minute = Padded(value.minute, 2);
    std::string second = Padded(value.second, 2);

    // Built back to front, then reversed once.
    std::string reversed;
    reversed.reserve(pattern.size());
    for (auto it = pattern.rbegin(); it != pattern.rend(); ++it) {
        std::string* source = nullptr;
        switch (*it) {
        case 'y':
            source = &year;
            break;
        case 'M':
            source = &month;
            break;
        case 'd':
            source = &day;
            break;
        case 'h':
            source = &hour;
            break;
        case 'm':
            source = &minute;
            break;
        case 's':
            source = &second;
            break;
        default:
            break;
        }
        if (source == nullptr) {
            reversed += *it;
        } else if (!source->empty()) {
            reversed += source->back();
            source->pop_back();
        }
    }
    return std::string(reversed.rbegin(), reversed.rend());
}

std::int64_t ToTimestampMs(const DateTime& local)
{
    std::tm tm{};
    tm.tm_year = local.year - 1900;
    tm.tm_mon = local.month - 1;
    tm.tm_mday = local.day;
    tm.tm_hour = local.hour;
    tm.tm_min = local.minute;
    tm.tm_sec = local.second;
    tm.tm_isdst = -1;
    return ToTimestampMs(std::mktime(&tm));
}

std::int64_t ToTimestampMs(std::time_t moment)
{
    return static_cast<std::int64_t>(moment) * 1000;
}

DateTime LocalNow()
{
    return ToLocalDateTime(std::time(nullptr));
}

DateTime ToLocalDateTime(std::time_t moment)
{
    // The one platform difference of this module: both calls fill the caller's tm (the
    // standard localtime shares one static tm between all callers).
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &moment);
#else
    localtime_r(&moment, &tm);
#endif
    return FromTm(tm);
}

} // namespace mrvn
