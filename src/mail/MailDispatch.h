#pragma once

#include "mail/MailItem.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace mrvn {

class DbConnection;

inline constexpr char kMailTitle[] = "邮件消息";
inline constexpr char kMailSentText[] = "邮件发送成功！";
inline constexpr char kMailFailedText[] = "邮件发送失败！";
inline constexpr char kMailIncompleteText[] = "请填写完整后再发送！";
inline constexpr char kMailHelpTitle[] = "使用帮助";
inline constexpr char kMailHelpText[] =
    "帮助说明：\r\n"
    "1.发送邮件失败？\r\n"
    "  请清空“role_email”和“system_email”的全部数据即可。\r\n"
    "\r\n"
    "2.发送邮件后收不到？\r\n"
    "  我们已经尽力通过封闭的代码环境解决此问题，如果还有，\r\n"
    "  请清空指定角色的“role_email”和“system_email”的全部数据即可。\r\n"
    "\r\n"
    "3.物品库查出来的ID不能使用？\r\n"
    "  可能是由于程序自带的goods.jat.json物品库与您游戏版本不符合，请\r\n"
    "  将您自己Server\\config\\game\\sys_config\\goods.jat 手动解开\r\n"
    "  并将解开的goods.jat.json 覆盖程序目录下原件即可。";

// The mail fields of the page, as typed.
struct MailFields
{
    std::string roleId, title, content, copper, yuanbao;
};

// All five fields hold something once spaces are removed, and copper and yuanbao are
// integers (an edited archive can bring back "abc", which would break the statement).
bool MailFieldsComplete(const MailFields& fields);

// The fields with every ASCII and ideographic space removed.
MailFields SpacelessMailFields(const MailFields& fields);

// "" without entries, otherwise "[" + codes joined by "," + "]"; the codes are already in
// literal form and go in unchanged.
std::string JoinAttachments(const std::vector<std::string>& codes);

// The INSERT of one mail. `spaceless` comes from SpacelessMailFields of complete fields;
// title, content and role id are escaped, jb and yb are the integer texts themselves.
std::string BuildMailInsert(const DbConnection& db, std::int64_t id, const MailFields& spaceless,
                            std::string_view attachments, std::int64_t createMs,
                            std::int64_t validMs);

enum class SendMailResult { Incomplete, Sent, Failed };

// Checks the fields (Incomplete: no statement is run), takes the next free id and inserts
// the mail; Failed when there is no connection or the server refuses either statement.
SendMailResult SendMail(DbConnection& db, const MailFields& fields,
                        const std::vector<std::string>& codes, std::time_t now);

} // namespace mrvn
