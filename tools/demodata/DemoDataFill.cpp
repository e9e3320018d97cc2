#include "DemoData.h"

#include <array>
#include <chrono>
#include <random>
#include <string_view>

namespace mrvn::demo {

namespace {

// Collects rows into multi-row INSERTs of about a thousand rows: one statement per row
// would make a hundred thousand roles take minutes.
class InsertBatch
{
public:
    InsertBatch(DbConnection& db, std::string head) : m_db(db), m_head(std::move(head)) {}

    bool Add(std::string_view values)
    {
        if (m_rows == 0) {
            m_sql = m_head;
            m_sql.append(" VALUES ");
        } else {
            m_sql.push_back(',');
        }
        m_sql.push_back('(');
        m_sql.append(values);
        m_sql.push_back(')');
        return ++m_rows < kRowsPerStatement || Flush();
    }

    bool Flush()
    {
        if (m_rows == 0)
            return true;
        m_rows = 0;
        return m_db.ExecSql(m_sql);
    }

private:
    static constexpr int kRowsPerStatement = 1000;
    DbConnection& m_db;
    std::string m_head;
    std::string m_sql;
    int m_rows = 0;
};

constexpr std::array<std::string_view, 24> kSurnames = {
    "李", "王", "张", "刘", "陈", "杨", "赵", "黄", "周", "吴", "徐", "孙",
    "胡", "朱", "高", "林", "何", "郭", "马", "罗", "梁", "宋", "郑", "谢"};
constexpr std::array<std::string_view, 32> kGivenParts = {
    "逍遥", "无忌", "青云", "紫霞", "星辰", "流云", "傲天", "若雪", "清风", "明月", "灵儿",
    "子墨", "天行", "凌霄", "剑心", "梦瑶", "飞燕", "惊鸿", "长歌", "问道", "墨染", "玄机",
    "云舒", "听雨", "孤城", "浮生", "落花", "寒江", "千羽", "沧海", "朝阳", "夜白"};
// Characters GBK cannot hold: a dragon emoji and U+20000 from CJK extension B.
constexpr std::string_view kOutsideGbkName = "龙🐉𠀀王";

std::string Num(long long value)
{
    return std::to_string(value);
}

std::string Text(const DbConnection& db, std::string_view text)
{
    return db.QuoteString(text);
}

std::int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string AccountGuid(int account)
{
    return Num(20000000 + account);
}
std::string AccountName(int account)
{
    return "player" + Num(1000 + account);
}

bool FillRoles(DbConnection& db, const DemoOptions& options, std::mt19937& random,
               std::vector<int>& accountOfRole)
{
    InsertBatch roles(db, "INSERT INTO user_role (id,user_guid,name,job,sex,exp,level,vip_level,"
                          "lingqi,map_id,create_time,last_login_time,last_offline_time,pos_x,"
                          "pos_y,hp,mp,guild_id,title_id,pk_value,fight_power,login_count,"
                          "online_minutes,user_id,server_id)");
    const std::int64_t now = NowMs();
    constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
    int account = 0;
    int rolesLeftOnAccount = 0;
    accountOfRole.assign(static_cast<std::size_t>(options.roles), 0);
    for (int i = 0; i < options.roles; ++i) {
        // Accounts hold one to four roles.
        if (rolesLeftOnAccount == 0) {
            ++account;
            rolesLeftOnAccount = 1 + static_cast<int>(random() % 4);
        }
        --rolesLeftOnAccount;
        accountOfRole[static_cast<std::size_t>(i)] = account;

        const long long id = kFirstRoleId + i;
        std::string name;
        if (i == 2)
            name = kOutsideGbkName;
        else
            name = std::string(kSurnames[random() % kSurnames.size()]) +
                   std::string(kGivenParts[random() % kGivenParts.size()]);
        const char* jobs[] = {"A", "B", "C", "D"};
        const std::string job = i % 97 == 5 ? "X" : jobs[random() % 4];
        const int level = 1 + static_cast<int>(random() % 120);
        const long long exp = static_cast<long long>(level) * 1000 + random() % 1000;
        const std::int64_t login = now - static_cast<std::int64_t>(random() % (14 * kDayMs));
        std::int64_t offline;
        if (i % 20 == 3)
            offline = login - 1000 * static_cast<std::int64_t>(random() % 86400); // online
        else if (i % 211 == 7)
            offline = 0; // never went offline: online, shown as the epoch
        else
            offline = login + 1000 * static_cast<std::int64_t>(60 + random() % 20000);
        const int createDaysAgo = 14 + static_cast<int>(random() % 180);
        const std::string minutes =
            i % 199 == 11 ? std::string("NULL") : Num(static_cast<long long>(random() % 50000));

        std::string row;
        row.reserve(320);
        row.append(Num(id)).append(",").append(Text(db, AccountGuid(account))).append(",");
        row.append(Text(db, name)).append(",").append(Text(db, job)).append(",");
        row.append(Num(random() % 2)).append(",").append(Num(exp)).append(",");
        row.append(Num(level)).append(",").append(Num(random() % 10)).append(",");
        row.append(Num(random() % 100000)).append(",").append(Num(1001 + random() % 20));
        row.append(",NOW() - INTERVAL ").append(Num(createDaysAgo)).append(" DAY - INTERVAL ");
        row.append(Num(random() % 86400)).append(" SECOND,");
        row.append(Num(login)).append(",").append(Num(offline)).append(",");
        row.append(Num(random() % 500)).append(",").append(Num(random() % 500)).append(",");
        row.append(Num(level * 100)).append(",").append(Num(level * 50)).append(",");
        row.append(Num(random() % 5 == 0 ? 0 : 1 + random() % 50)).append(",");
        row.append(Num(random() % 30)).append(",").append(Num(random() % 10)).append(",");
        row.append(Num(level * 1500 + random() % 5000)).append(",");
        row.append(Num(1 + random() % 900)).append(",").append(minutes).append(",");
        row.append(Text(db, AccountName(account))).append(",1");
        if (!roles.Add(row))
            return false;
    }
    return roles.Flush();
}

bool FillAccounts(DbConnection& db, std::mt19937& random, int accounts)
{
    InsertBatch batch(db, "INSERT INTO user_account (user_guid,user_id,lingshi,total_recharge,"
                          "create_time)");
    for (int account = 1; account <= accounts; ++account) {
        // A few accounts have no row (their roles show no yuanbao); some have an older
        // row that a newer one (higher id) supersedes.
        if (account % 37 == 4)
            continue;
        const int copies = account % 9 == 2 ? 2 : 1;
        for (int copy = 0; copy < copies; ++copy) {
            std::string row = Text(db, AccountGuid(account)) + "," +
                              Text(db, AccountName(account)) + "," + Num(random() % 100000) + "," +
                              Num(random() % 500000) + ",NOW() - INTERVAL " +
                              Num(200 + random() % 100) + " DAY";
            if (!batch.Add(row))
                return false;
        }
    }
    return batch.Flush();
}

bool FillRoleAccounts(DbConnection& db, std::mt19937& random, int roles)
{
    InsertBatch batch(db, "INSERT INTO role_account (user_role_id,tongqian,bind_lingshi,"
                          "update_time)");
    for (int i = 0; i < roles; ++i) {
        if (i % 41 == 6)
            continue;
        const int copies = i % 13 == 1 ? 2 : 1;
        for (int copy = 0; copy < copies; ++copy) {
            std::string row = Num(kFirstRoleId + i) + "," + Num(random() % 10000000) + "," +
                              Num(random() % 20000) + ",NOW() - INTERVAL " + Num(random() % 1000) +
                              " MINUTE";
            if (!batch.Add(row))
                return false;
        }
    }
    return batch.Flush();
}

bool FillStatistics(DbConnection& db, std::mt19937& random, int roles)
{
    // Snapshots every ten minutes back to three days ago, in time order (ids grow with
    // time), so the newest of yesterday and today is also the highest id.
    InsertBatch batch(db, "INSERT INTO server_real_time_total_data (today_create,today_login,"
                          "online_count,log_update_time)");
    const int snapshots = 3 * 24 * 6;
    for (int k = snapshots; k >= 0; --k) {
        const int minutesAgo = k * 10;
        std::string row = Num(random() % 50) + "," + Num(random() % (roles + 1)) + "," +
                          Num(random() % (roles / 20 + 2)) + ",NOW() - INTERVAL " +
                          Num(minutesAgo) + " MINUTE";
        if (!batch.Add(row))
            return false;
    }
    return batch.Flush();
}

bool FillLogs(DbConnection& db, const DemoOptions& options, std::mt19937& random)
{
    const auto roleId = [&] { return Num(kFirstRoleId + random() % options.roles); };
    // Spread over the last two weeks; now and then a row without a time stamp.
    const auto stamp = [&](int n) {
        if (n % 101 == 50)
            return std::string("NULL");
        return "NOW() - INTERVAL " + Num(random() % (14 * 86400)) + " SECOND";
    };
    InsertBatch logins(db, "INSERT INTO log_role_login (user_role_id,login_ip,login_time,"
                           "logout_time,log_update_time)");
    InsertBatch items(db, "INSERT INTO log_item_change (user_role_id,item_id,change_count,"
                          "reason,log_update_time)");
    InsertBatch money(db, "INSERT INTO log_money_change (user_role_id,money_type,amount,remain,"
                          "reason,log_update_time)");
    InsertBatch chat(db, "INSERT INTO log_chat (user_role_id,channel,message,log_update_time)");
    InsertBatch mails(db, "INSERT INTO role_email (user_role_id,email_id,state,receive_time,"
                          "log_update_time)");
    const std::array<std::string_view, 4> reasons = {"商城购买", "任务奖励", "副本掉落",
                                                     "邮件领取"};
    const std::int64_t now = NowMs();
    for (int n = 0; n < options.logRowsPerTable; ++n) {
        const std::string reason = Text(db, reasons[random() % reasons.size()]);
        const std::int64_t login = now - static_cast<std::int64_t>(random() % 1209600000);
        bool ok = logins.Add(roleId() + ",'10.0.0." + Num(random() % 255) + "'," + Num(login) +
                             "," + Num(login + 60000) + "," + stamp(n));
        ok = ok && items.Add(roleId() + "," + Num(10000 + random() % 5000) + "," +
                             Num(static_cast<long long>(random() % 20) - 10) + "," + reason + "," +
                             stamp(n));
        ok = ok && money.Add(roleId() + "," + Num(random() % 3) + "," +
                             Num(static_cast<long long>(random() % 2000) - 1000) + "," +
                             Num(random() % 100000) + "," + reason + "," + stamp(n));
        ok = ok && chat.Add(roleId() + "," + Num(random() % 4) + "," +
                            Text(db, "组队刷副本，来人！") + "," + stamp(n));
        if (n % 4 == 0)
            ok = ok &&
                 mails.Add(roleId() + "," + Num(1 + n / 4) + ",0," + Num(login) + "," + stamp(n));
        if (!ok)
            return false;
    }
    return logins.Flush() && items.Flush() && money.Flush() && chat.Flush() && mails.Flush();
}

bool FillConfig(DbConnection& db)
{
    return db.ExecSql("INSERT INTO server_config (config_key,config_value) VALUES "
                      "('server_name','墨梵一区'),('open_time','2014-06-29 10:00:00'),"
                      "('exp_rate','2')");
}

} // namespace

bool FillDemoData(DbConnection& db, const DemoOptions& options)
{
    if (options.roles < 0 || !db.IsOpen())
        return false;
    for (const std::string& table : GameTables()) {
        if (!db.ExecSql("TRUNCATE TABLE " + DbConnection::QuoteIdentifier(table)))
            return false;
    }
    std::mt19937 random(options.seed);
    std::vector<int> accountOfRole;
    if (!db.ExecSql("START TRANSACTION"))
        return false;
    const bool ok = FillRoles(db, options, random, accountOfRole) &&
                    FillAccounts(db, random, accountOfRole.empty() ? 0 : accountOfRole.back()) &&
                    FillRoleAccounts(db, random, options.roles) &&
                    FillStatistics(db, random, options.roles) &&
                    (options.roles == 0 || FillLogs(db, options, random)) && FillConfig(db);
    if (!ok) {
        db.ExecSql("ROLLBACK");
        return false;
    }
    return db.ExecSql("COMMIT");
}

} // namespace mrvn::demo
