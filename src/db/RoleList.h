#pragma once

#include "db/DbConnection.h"
#include "text/TextRow.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mrvn {

// "A" 灵猴, "B" 九尾, "C" 牛魔, "D" 罗刹, anything else 未知 (exact, case-sensitive).
std::string_view JobName(std::string_view code);

// The cells of a role row, in display order; the role id is the hidden last column.
enum class RoleColumn : int {
    Online,       // 在线
    Name,         // 名称
    Level,        // 等级
    Copper,       // 铜钱
    Yuanbao,      // 元宝
    BoundYuanbao, // 礼金
    Experience,   // 经验
    Job,          // 职业
    Spirit,       // 灵气
    BattlePower,  // 战力
    Logins,       // 登陆次数
    OnlineTime,   // 登陆时长
    Created,      // 创建时间
    LastOffline,  // 离线时间
    RoleId,       // roleid (hidden)
    Account,      // the account the role belongs to (user_role.user_id), hidden
    Count
};
constexpr int kRoleListColumns = static_cast<int>(RoleColumn::Count);
constexpr int ColumnIndex(RoleColumn column)
{
    return static_cast<int>(column);
}

using RoleRow = TextRow;
using RoleRows = std::vector<RoleRow>;

// How QueryRoleList reads the lists.
enum class RoleListMethod {
    // The bounded statements; when the server does not understand them, the batched
    // per-role statements, and the connection remembers that until the next Connect.
    Automatic,
    // Only the bounded statements: nothing when the server refuses them.
    Bounded,
    // One statement for the roles, then two per role (its account row, its currency row).
    PerRole,
    // The per-role method's comparisons for up to 500 roles per statement: the same cells
    // with about 1 + 2N/500 statements (a few more where keys the server holds equal meet).
    Batched,
};

struct RoleListOptions
{
    RoleListMethod method = RoleListMethod::Automatic;
    // Applied to the text of each bounded statement before it is sent: tests make a server
    // refuse one.
    std::function<std::string(std::string)> rewriteBounded;
    // The bounded method asks the server which table key a role key equals when the table
    // has no key of its bytes, for up to this many distinct role keys or a tenth of the
    // table's rows, whichever is more; more, and it groups both tables' keys in one statement
    // (tests set 0 to take that road). A statement of 500 keys costs about what grouping
    // 5,000 rows of both tables does, and the grouping grows faster than the tables (a sort,
    // on disk beyond the server's temporary-table size), so the share keeps a refresh linear.
    std::size_t maxAskedRoleKeys = 2000;
};

// Every role of user_role as display rows, online roles first in ascending id, then the
// others in descending id. user_role is read by column position; each role's yuanbao comes
// from the user_account row with the highest id for its account key, its copper and bound
// yuanbao from the role_account row with the highest id for its role id, matched as the
// server compares the key with a string literal. The bounded method needs a fixed number of
// statements whatever the number of roles (the columns' definitions, the roles, and for each
// lookup table its rows and, for a text key, which key texts the key's collation holds equal);
// the per-role method gives the same cells with 1 + 2N plain statements, and the batched method
// with the same comparisons for many roles at once. Nothing when the
// role query fails or the server stops answering on the way (an empty list is a valid answer:
// no roles).
std::optional<RoleRows> QueryRoleList(DbConnection& db, const RoleListOptions& options = {});

} // namespace mrvn
