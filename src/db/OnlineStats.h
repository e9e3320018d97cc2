#pragma once

#include "db/DbConnection.h"

#include <optional>
#include <string>

namespace mrvn {

// The columns of the statistics line, in display order; the snapshot's id is hidden.
enum class StatsColumn : int { TodayCreate, TodayLogin, OnlineCount, UpdateTime, Id };
constexpr int ColumnIndex(StatsColumn column)
{
    return static_cast<int>(column);
}

// The newest statistics snapshot dated yesterday or today by the server's clock, each value
// as the server sends it.
struct OnlineStatsRow
{
    std::string todayCreate;
    std::string todayLogin;
    std::string onlineCount;
    std::string updateTime;
    std::string id;
};

// One statement; every text empty when there is no such snapshot, nothing when the query
// fails.
std::optional<OnlineStatsRow> QueryOnlineStats(DbConnection& db);

} // namespace mrvn
