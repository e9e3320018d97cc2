#include "db/OnlineStats.h"

namespace mrvn {

std::optional<OnlineStatsRow> QueryOnlineStats(DbConnection& db)
{
    OnlineStatsRow stats;
    // Dates, not a 24-hour window: a snapshot from late yesterday still counts.
    RowSet rows = db.SelectRows(
        "server_real_time_total_data", "id,today_create,today_login,online_count,log_update_time",
        "DATE_SUB(CURDATE(), INTERVAL 1 DAY) <= date(log_update_time)", "id DESC");
    if (!rows.Valid())
        return std::nullopt;
    rows.FirstRow();
    rows.ReadField(0, stats.id);
    rows.ReadField(1, stats.todayCreate);
    rows.ReadField(2, stats.todayLogin);
    rows.ReadField(3, stats.onlineCount);
    rows.ReadField(4, stats.updateTime);
    FreeRowSet(rows);
    return stats;
}

} // namespace mrvn
