#pragma once

#include "mail/MailCheck.h"
#include "mail/MailItem.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// System mails: the attachment entries (MailItem.h), the checks before sending
// (MailCheck.h), the rows of system_email (here) and the archives in config.dat
// (MailArchive.h). Rules this module keeps:
// - an attachment entry is kept in the form that goes straight into a single-quoted SQL
//   literal: the JSON's quotes and backslashes are escaped once more, and the item id typed
//   by the operator is escaped as a JSON string first; before any statement, the whole
//   attachments text is read back as the server would read the literal and must then be a
//   JSON array with one object per entry, so no entry (an archive edited by hand included)
//   can leave its literal or store something the game cannot parse;
// - a new mail's id is the highest id in system_email plus one (1 in an empty table), taken
//   right before its INSERT; mails to several roles get one row each, with ids in order;
// - nothing is inserted unless every check passed; create_time and valid_time are both the
//   moment of sending in milliseconds, an item's expiry whole days from the moment it was
//   added ("0" days: unlimited);
// - archives live in config.dat: a name is refused when config.dat could not give it or
//   its values back as written (a separator or INI bracket, a line break, a character GBK
//   lacks), or when it would share a section with a listed name (ASCII case is ignored
//   there); nothing is written unless all checks passed, and deleting touches only the
//   archive's own section.
namespace mrvn {

class DbConnection;

inline constexpr char kMailTitle[] = "邮件消息";
inline constexpr char kMailSentText[] = "邮件发送成功！";
inline constexpr char kMailFailedText[] = "邮件发送失败！";
inline constexpr char kMailIncompleteText[] = "请填写完整后再发送！";
inline constexpr char kMailControlCharText[] = "邮件标题和内容不可含有回车或制表符，请返回修改！";
inline constexpr char kMailBadAttachmentsText[] = "邮件物品表的数据有误，请清空物品表后重新加入！";
inline constexpr char kMailDuplicateRoleText[] = "收件角色ID有重复，请返回修改！";
// Several receivers: the question before, the progress while and the outcome after.
inline constexpr char kManyConfirmTitle[] = "发送确认";
inline constexpr char kManyConfirmText[] = "确定要给以下%1个角色发送这封邮件吗？";
inline constexpr char kManyUnknownRole[] = "（无此角色）";
inline constexpr char kManyProgressText[] = "正在发送邮件……";
inline constexpr char kManyCancelButton[] = "取消";
inline constexpr char kManySentText[] = "%1个角色的邮件全部发送成功！";
inline constexpr char kManyCancelledText[] = "发送已取消：%1个角色已发送，%2个角色未发送！";
inline constexpr char kManyFailedText[] = "邮件发送失败：%1个角色已发送，%2个角色未发送！";
inline constexpr char kManySentList[] = "已发送：";
inline constexpr char kManyNotSentList[] = "未发送：";
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

// The INSERT of one mail. `spaceless` comes from SpacelessMailFields of checked fields;
// title, content, role id and the attachments column text are escaped, jb and yb are the
// integer texts themselves.
std::string BuildMailInsert(const DbConnection& db, std::int64_t id, const MailFields& spaceless,
                            std::string_view attachments, std::int64_t createMs,
                            std::int64_t validMs);

// What became of one row handed to the server (for the audit trail).
struct MailRowOutcome
{
    std::string roleId;
    std::optional<std::int64_t> id; // the id the row was given, when it could be read
    bool inserted = false;
    unsigned errorNumber = 0; // the server's error when the row was not inserted
    std::string error;
};
using MailRowObserver = std::function<void(const MailRowOutcome&)>;

// Checks the fields (no statement is run unless they pass), takes the next free id and
// inserts the mail; Failed when there is no connection or the server refuses either
// statement.
SendMailResult SendMail(DbConnection& db, const MailFields& fields,
                        const std::vector<std::string>& codes, std::time_t now,
                        const MailRowObserver& observer = {});

// Names of the roles with these ids, as user_role has them, in the order of `ids`; an id
// without a role gives an empty name. Nothing when the query failed.
std::optional<std::vector<std::string>> QueryRoleNames(DbConnection& db,
                                                       const std::vector<std::string>& ids);

struct SendManyResult
{
    SendMailResult result = SendMailResult::Sent; // a check's refusal, Sent or Failed
    std::vector<std::string> sent;                // role ids whose row was inserted
    std::vector<std::string> notSent;             // the others, the failed one first
    bool cancelled = false;
    std::string serverError; // the server's reason when a row was refused
};

// Asked before each row with the number of rows inserted so far and the total; false
// stops the sending there.
using GoOnCallback = std::function<bool(std::size_t done, std::size_t total)>;

// One row per receiver of `fields.roleId` (ids separated by ","), each with its own id
// taken as for a single mail; stops at the first row the server refuses or when `goOn`
// says so. The checks of CheckMail come first, plus DuplicateRole; no row is inserted
// unless they all pass.
SendManyResult SendMailToRoles(DbConnection& db, const MailFields& fields,
                               const std::vector<std::string>& codes, std::time_t now,
                               const GoOnCallback& goOn, const MailRowObserver& observer = {});

} // namespace mrvn
