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

namespace mrvn {

class DbConnection;

// The INSERT of one mail. `spaceless` comes from SpacelessMailFields of checked fields;
// title, content, role id and the attachments column text are escaped, jb and yb are the
// integer texts themselves.
std::string BuildMailInsert(const DbConnection& db, std::int64_t id, const MailFields& spaceless,
                            std::string_view attachments, std::int64_t createMs,
                            std::int64_t validMs);

// Checks the fields (no statement is run unless they pass), takes the next free id and
// inserts the mail; Failed when there is no connection or the server refuses either
// statement.
SendMailResult SendMail(DbConnection& db, const MailFields& fields,
                        const std::vector<std::string>& codes, std::time_t now);

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
                               const GoOnCallback& goOn);

} // namespace mrvn
