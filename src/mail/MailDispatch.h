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
// - an insert whose answer was lost (time-out, lost connection) is never taken as sent or
//   as refused: once the server has finished with the old connection, the row is looked up
//   by its id, and only what the look-up finds is reported (or that it could not tell);
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
    // The answer was lost: `inserted` is what the look-up by id found, unless `unknown`.
    bool checked = false;
    bool unknown = false;
    unsigned errorNumber = 0; // the server's error when the row was not inserted
    std::string error;
};
using MailRowObserver = std::function<void(const MailRowOutcome&)>;

// Checks the fields (no statement is run unless they pass), takes the next free id and
// inserts the mail; Failed when there is no connection or the server refuses either
// statement, Unknown when the insert's answer was lost and the look-up could not tell.
SendMailResult SendMail(DbConnection& db, const MailFields& fields,
                        const std::vector<std::string>& codes, std::time_t now,
                        const MailRowObserver& observer = {});

// Names of the roles with these ids, as user_role has them, in the order of `ids`; an id
// without a role gives an empty name. Nothing when the query failed.
std::optional<std::vector<std::string>> QueryRoleNames(DbConnection& db,
                                                       const std::vector<std::string>& ids);

// The ids among `ids` that are no role (one statement); nothing when the query failed.
std::optional<std::vector<std::string>> UnknownRoleIds(DbConnection& db,
                                                       const std::vector<std::string>& ids);

struct SendManyResult
{
    SendMailResult result = SendMailResult::Sent; // a check's refusal, Sent or Failed
    std::vector<std::string> sent;                // role ids whose row was inserted
    std::vector<std::string> notSent;             // the others, the failed one first
    std::vector<std::string> unknown; // the row whose answer was lost and could not be checked
    bool cancelled = false;
    std::string serverError; // the server's reason when a row was refused
};

// Asked before each row with the number of rows inserted so far and the total; false
// stops the sending there.
using GoOnCallback = std::function<bool(std::size_t done, std::size_t total)>;

// One row per receiver of `fields.roleId` (ids separated by "," or "，"), each with its own id
// taken as for a single mail; stops at the first row the server refuses or whose outcome
// stays unknown (result Unknown), or when `goOn` says so. The checks of CheckMail come first, plus
// DuplicateRole; no row is inserted unless they all pass.
SendManyResult SendMailToRoles(DbConnection& db, const MailFields& fields,
                               const std::vector<std::string>& codes, std::time_t now,
                               const GoOnCallback& goOn, const MailRowObserver& observer = {});

} // namespace mrvn
