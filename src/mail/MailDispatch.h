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
//   right before its INSERT; mails to several roles get one row each, with ids in order,
//   written as multi-row INSERTs of up to kMaxRowsPerStatement rows (and never more bytes
//   than the server takes in one packet), the ids of a statement chosen before it is sent;
// - an insert whose answer was lost (time-out, lost connection) is never taken as sent or
//   as refused: once the server has finished with the old connection, the row is looked up
//   by its id, and only what the look-up finds is reported (or that it could not tell); a
//   multi-row INSERT that failed is looked up the same way, row by row;
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

// The INSERT of one mail. `spaceless` is CheckedMail::Fields() (or fields as checked);
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
    std::int64_t createMs = 0;      // its create_time (0 when no insert was tried)
    bool inserted = false;
    // The answer was lost: `inserted` is what the look-up by id found, unless `unknown`.
    bool checked = false;
    bool unknown = false;
    unsigned errorNumber = 0; // the server's error when the row was not inserted
    std::string error;
};
using MailRowObserver = std::function<void(const MailRowOutcome&)>;

// How long the look-up after a lost insert waits for the server to finish with the old
// connection before the outcome is called unknown.
inline constexpr int kLostMailCheckSeconds = 120;

// Takes the next free id and inserts the checked mail for its one receiver; Failed when
// there is no connection or the server refuses either statement, Unknown when the insert's
// answer was lost and the look-up could not tell. `goOnChecking` is asked, while the look-up
// waits, whether to go on (false: unknown).
SendMailResult SendMail(DbConnection& db, const CheckedMail& mail, std::time_t now,
                        const MailRowObserver& observer = {},
                        const std::function<bool()>& goOnChecking = {});
// Checks the fields first (no statement is run unless they pass).
SendMailResult SendMail(DbConnection& db, const MailFields& fields,
                        const std::vector<std::string>& codes, std::time_t now,
                        const MailRowObserver& observer = {},
                        const std::function<bool()>& goOnChecking = {});

// Names of the roles with these ids, as user_role has them, in the order of `ids`; an id
// without a role gives an empty name. Nothing when the query failed.
std::optional<std::vector<std::string>> QueryRoleNames(DbConnection& db,
                                                       const std::vector<std::string>& ids);

// The ids among `ids` that are no role (one statement per kRoleIdsPerLookup ids); nothing when
// a query failed.
std::optional<std::vector<std::string>> UnknownRoleIds(DbConnection& db,
                                                       const std::vector<std::string>& ids);

// What became of a receiver's row.
enum class RowFate { Sent, NotSent, Unknown };

// What became of the rows of one multi-row INSERT (for the audit trail); the receivers a
// sending stopped before are told last, without ids.
struct MailBatchOutcome
{
    std::vector<std::string> roleIds;
    std::vector<std::int64_t> ids; // the id each row was given; empty when none could be read
    std::vector<RowFate> fates;    // one per receiver
    std::int64_t createMs = 0;     // create_time of every row: with the id, what finds a row
    bool checked = false;          // the statement failed or its answer was lost: looked up
    unsigned errorNumber = 0;      // the server's error when the statement did not go through
    std::string error;
};
using MailBatchObserver = std::function<void(const MailBatchOutcome&)>;

// The most rows one INSERT carries.
inline constexpr std::size_t kMaxRowsPerStatement = 500;
// The most role ids one look-up names.
inline constexpr std::size_t kRoleIdsPerLookup = 1000;

struct SendManyOptions
{
    std::size_t maxRows = kMaxRowsPerStatement;
    // The longest statement; 0: what the server takes (max_allowed_packet, less a margin).
    std::size_t maxStatementBytes = 0;
    // How long a lost answer is waited for before its rows are called unknown; `keepWaiting`
    // (when set) can end the wait sooner, with the same outcome.
    int lostAnswerWaitSeconds = 120;
    std::function<bool()> keepWaiting;
};

struct SendManyResult
{
    SendMailResult result = SendMailResult::Sent; // a check's refusal, Sent, Failed or Unknown
    std::vector<std::string> sent;                // role ids whose row was inserted
    std::vector<std::string> notSent;             // the others, the failed ones first
    std::vector<std::string> unknown; // rows whose answer was lost and could not be checked
    bool cancelled = false;
    std::string serverError; // the server's reason when a statement was refused
};

// Asked before each statement with the number of rows handed over so far and the total;
// false stops the sending there.
using GoOnCallback = std::function<bool(std::size_t done, std::size_t total)>;

// The checked mail to each of its receivers, in multi-row INSERTs (SendManyOptions), each
// statement's ids taken right before it as for a single mail. A statement that fails or
// whose answer is lost has its rows looked up by id; the sending stops after it, or when
// `goOn` says so. Every receiver ends in exactly one of sent, notSent and unknown.
SendManyResult SendMailToRoles(DbConnection& db, const CheckedMail& mail, std::time_t now,
                               const GoOnCallback& goOn, const MailBatchObserver& observer = {},
                               const SendManyOptions& options = {});
// Checks the fields first (the receivers of `fields.roleId`); no row is inserted unless every
// check passed.
SendManyResult SendMailToRoles(DbConnection& db, const MailFields& fields,
                               const std::vector<std::string>& codes, std::time_t now,
                               const GoOnCallback& goOn, const MailBatchObserver& observer = {},
                               const SendManyOptions& options = {});

// For a mail sent earlier: which of these rows (receiver, id, create_time) the server holds.
// Nothing when the look-up failed.
struct SentRowKey
{
    std::string roleId;
    std::int64_t id = 0;
    std::int64_t createMs = 0;
};
std::optional<std::vector<bool>> FindMailRows(DbConnection& db,
                                              const std::vector<SentRowKey>& rows);

} // namespace mrvn
