#pragma once

#include "db/DbConnection.h"

#include <string>
#include <string_view>
#include <vector>

namespace mrvn {

// "A" 灵猴, "B" 九尾, "C" 牛魔, "D" 罗刹, anything else 未知 (exact, case-sensitive).
std::string JobName(std::string_view code);

// Cells of a role row: 在线, 名称, 等级, 铜钱, 元宝, 礼金, 经验, 职业, 灵气, 战力, 登陆次数,
// 登陆时长, 创建时间, 离线时间, roleid (hidden).
constexpr int kRoleListColumns = 15;
constexpr int kRoleListIdColumn = 14;

// Every role of user_role as display rows, online roles first in ascending id, then the
// others in descending id. user_role is read by column position; each role's yuanbao comes
// from the user_account row with the highest id for its account key, its copper and bound
// yuanbao from the role_account row with the highest id for its role id, matched as the
// server compares the key with a string literal. Four statements whatever the number of
// roles (the columns' definitions, the roles, the account rows, the currency rows). Empty
// when the role query fails.
std::vector<std::vector<std::string>> QueryRoleList(DbConnection& db);

} // namespace mrvn
