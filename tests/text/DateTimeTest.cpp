#include "text/DateTime.h"
#include "CaseRows.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace mrvn {
namespace {

TEST(MsToLocalTime, FixedBaseWithoutTimeZone)
{
    const struct
    {
        std::int64_t count;
        bool inSeconds, utc8;
        DateTime expected;
    } cases[] = {
        {0, false, true, {1970, 1, 1, 8, 0, 0}},
        {0, true, false, {1970, 1, 1, 0, 0, 0}},
        {999, false, true, {1970, 1, 1, 8, 0, 0}},
        {-999, false, true, {1970, 1, 1, 8, 0, 0}}, // truncated toward zero
        {-1000, false, true, {1970, 1, 1, 7, 59, 59}},
        {-28801, true, true, {1969, 12, 31, 23, 59, 59}},
        {1404619200000, false, true, {2014, 7, 6, 12, 0, 0}},
        {1404619200000, false, false, {2014, 7, 6, 4, 0, 0}},
        {2147483647, true, false, {2038, 1, 19, 3, 14, 7}},
        {2147483648, true, false, {2038, 1, 19, 3, 14, 8}},
        {4102444800000, false, true, {2100, 1, 1, 8, 0, 0}},
        {4107542400, true, false, {2100, 3, 1, 0, 0, 0}}, // 2100 is no leap year
        {951782400, true, false, {2000, 2, 29, 0, 0, 0}}, // 2000 is one
        {57600, true, true, {1970, 1, 2, 0, 0, 0}},       // 16:00 UTC is midnight at +8
        {253402300799, true, false, {9999, 12, 31, 23, 59, 59}},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.count; },
        [&](const auto& c) {
            EXPECT_EQ(MsToLocalTime(c.count, c.inSeconds, c.utc8), c.expected) << c.count;
        });
}

TEST(MsToLocalTime, ExtremeCountsDoNotOverflow)
{
    // Only the absence of undefined behaviour matters here (sanitizer builds check it);
    // the fields must still be in their ranges.
    for (const std::int64_t count :
         {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}) {
        const DateTime t = MsToLocalTime(count, true, true);
        EXPECT_GE(t.month, 1);
        EXPECT_LE(t.month, 12);
        EXPECT_GE(t.hour, 0);
        EXPECT_LE(t.hour, 23);
    }
}

TEST(FormatDateTime, TakesDigitsFromTheRightWalkingBackwards)
{
    const DateTime sample{2014, 6, 29, 8, 5, 9};
    const struct
    {
        DateTime value;
        std::string_view pattern;
        std::string_view expected;
    } cases[] = {
        {sample, "yyyy-MM-dd hh:mm:ss", "2014-06-29 08:05:09"},
        {sample, "yy/M/d", "14/6/9"},
        {sample, "yyyyyy", "2014"},
        {sample, "y-y", "1-4"},
        {sample, "hh时mm分", "08时05分"},
        {sample, "", ""},
        {sample, "YYYY D H S", "YYYY D H S"},
        {{5, 1, 2, 0, 0, 0}, "yyyy.MM.dd", "0005.01.02"},
        {{12345, 12, 31, 23, 59, 59}, "yyyy-MM-dd hh:mm:ss", "2345-12-31 23:59:59"},
        {{1970, 1, 1, 8, 0, 0}, "yyyy-MM-dd hh:mm:ss", "1970-01-01 08:00:00"},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.pattern; },
        [&](const auto& c) {
            EXPECT_EQ(FormatDateTime(c.value, c.pattern), c.expected) << c.pattern;
        });
    EXPECT_EQ(FormatDateTime(sample), "2014-06-29 08:05:09");
}

// Sets the process time zone for one test and puts the old one back. The zones are given
// in the POSIX "name offset" form, which both the POSIX and the Windows C library read.
void SetTimeZoneVariable(const std::optional<std::string>& zone)
{
#ifdef _WIN32
    _putenv_s("TZ", zone ? zone->c_str() : "");
    _tzset();
#else
    if (zone)
        setenv("TZ", zone->c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
#endif
}

class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        SetTimeZoneVariable(std::string(zone));
    }
    ~ScopedTimeZone() { SetTimeZoneVariable(m_old); }

private:
    std::optional<std::string> m_old;
};

TEST(ToTimestampMs, LocalWallClockToEpochMilliseconds)
{
    const struct
    {
        const char* zone;
        DateTime local;
        std::int64_t expected;
    } cases[] = {
        {"CST-8", {2014, 7, 6, 12, 0, 0}, 1404619200000},
        {"CST-8", {1970, 1, 1, 8, 0, 0}, 0},
        {"CST-8", {2100, 1, 1, 8, 0, 0}, 4102444800000},
        {"UTC0", {2014, 7, 6, 12, 0, 0}, 1404648000000},
        {"CST-8", {2014, 7, 36, 12, 0, 0}, 1404619200000 + 30LL * 86400000},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.zone; },
        [&](const auto& c) {
            ScopedTimeZone zone(c.zone);
            EXPECT_EQ(ToTimestampMs(c.local), c.expected) << c.zone;
        });
    EXPECT_EQ(ToTimestampMs(std::time_t{1404619200}), 1404619200000);
}

TEST(ToLocalDateTime, UsesTheMachineTimeZone)
{
    ScopedTimeZone zone("CST-8");
    EXPECT_EQ(ToLocalDateTime(0), (DateTime{1970, 1, 1, 8, 0, 0}));
    const DateTime now = LocalNow();
    const std::int64_t clock = std::time(nullptr);
    EXPECT_LE(clock - ToTimestampMs(now) / 1000, 1); // the clock may tick in between
    EXPECT_GE(clock - ToTimestampMs(now) / 1000, 0);
}

} // namespace
} // namespace mrvn
