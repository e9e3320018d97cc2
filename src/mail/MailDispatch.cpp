#include "mail/MailDispatch.h"

#include "db/DbConnection.h"
#include "text/DateTime.h"
#include "text/TextUtil.h"

#include <algorithm>
#include <optional>

namespace mrvn {

namespace {

// One more than the highest id, so ids freed by deleted rows are never handed out again
// while a higher one still exists; one indexed statement instead of counting the table.
std::optional<std::int64_t> NextMailId(DbConnection& db)
{
    if (!db.ExecSql("SELECT COALESCE(MAX(id),0)+1 FROM system_email"))
        return std::nullopt;
    RowSet rows = db.StoreResult();
    std::int64_t id = 0;
    if (!rows.Valid() || !rows.FirstRow() || !rows.ReadField(0, id) || id <= 0)
        return std::nullopt;
    return id;
}

// How long a lost insert is waited for before its outcome is called unknown.
constexpr int kLostInsertWaitSeconds = 120;

// After an insert whose answer was lost: waits until the server has finished with the old
// connection, then looks for the row by its id. 1: there, 0: not there, nothing: unknown.
std::optional<bool> FindLostMail(DbConnection& db, unsigned long oldConnection, std::int64_t id,
                                 std::string_view roleId, std::int64_t stamp)
{
    if (!WaitUntilConnectionEnded(db, oldConnection, kLostInsertWaitSeconds, {}))
        return std::nullopt;
    if (!db.ExecSql("SELECT COUNT(*) FROM system_email WHERE id = " + std::to_string(id) +
                    " AND receiver_ids = " + db.QuoteString(roleId) +
                    " AND create_time = " + std::to_string(stamp)))
        return std::nullopt;
    RowSet rows = db.StoreResult();
    std::int64_t count = -1;
    if (!rows.Valid() || !rows.FirstRow() || !rows.ReadField(0, count) || count < 0)
        return std::nullopt;
    return count > 0;
}

// Inserts one row for `roleId`; false (with the server's reason) when it was refused or its
// outcome is unknown. The observer hears of every row handed to the server.
bool InsertMail(DbConnection& db, const MailFields& spaceless, std::string_view roleId,
                const std::string& attachments, std::time_t now, std::string& serverError,
                const MailRowObserver& observer, bool& unknown)
{
    MailRowOutcome outcome;
    outcome.roleId = roleId;
    outcome.id = NextMailId(db);
    if (outcome.id) {
        MailFields row = spaceless;
        row.roleId = roleId;
        const std::int64_t stamp = ToTimestampMs(now);
        const unsigned long connection = db.ConnectionId();
        outcome.inserted =
            db.ExecSql(BuildMailInsert(db, *outcome.id, row, attachments, stamp, stamp));
        if (!outcome.inserted && db.ConnectionLost()) {
            outcome.errorNumber = db.LastError();
            outcome.error = db.LastErrorText();
            outcome.checked = true;
            const std::optional<bool> found =
                FindLostMail(db, connection, *outcome.id, roleId, stamp);
            outcome.unknown = !found;
            outcome.inserted = found.value_or(false);
            unknown = outcome.unknown;
            if (!outcome.inserted)
                serverError = outcome.error;
            if (observer)
                observer(outcome);
            return outcome.inserted;
        }
    }
    if (!outcome.inserted) {
        outcome.errorNumber = db.LastError();
        outcome.error = db.LastErrorText();
        serverError = outcome.error;
    }
    if (observer)
        observer(outcome);
    return outcome.inserted;
}

} // namespace

std::string BuildMailInsert(const DbConnection& db, std::int64_t id, const MailFields& spaceless,
                            std::string_view attachments, std::int64_t createMs,
                            std::int64_t validMs)
{
    std::string sql = "INSERT INTO system_email (id,title,content,receiver_ids,attachments,jb,yb,"
                      "create_time,valid_time) VALUES ('";
    sql += std::to_string(id);
    sql += "', '";
    sql += db.EscapeString(spaceless.title);
    sql += "', '";
    sql += db.EscapeString(spaceless.content);
    sql += "','";
    sql += db.EscapeString(spaceless.roleId);
    sql += "','";
    sql += db.EscapeString(attachments);
    sql += "',";
    sql += spaceless.copper;
    sql += ',';
    sql += spaceless.yuanbao;
    sql += ',';
    sql += std::to_string(createMs);
    sql += ',';
    sql += std::to_string(validMs);
    sql += ')';
    return sql;
}

SendMailResult SendMail(DbConnection& db, const MailFields& fields,
                        const std::vector<std::string>& codes, std::time_t now,
                        const MailRowObserver& observer)
{
    const SendMailResult check = CheckMail(fields, codes);
    if (check != SendMailResult::Sent)
        return check;
    if (!db.IsOpen())
        return SendMailResult::Failed;
    const MailFields spaceless = SpacelessMailFields(fields);
    std::string serverError;
    bool unknown = false;
    if (InsertMail(db, spaceless, spaceless.roleId, *AttachmentsColumnText(codes), now, serverError,
                   observer, unknown))
        return SendMailResult::Sent;
    return unknown ? SendMailResult::Unknown : SendMailResult::Failed;
}

std::optional<std::vector<std::string>> QueryRoleNames(DbConnection& db,
                                                       const std::vector<std::string>& ids)
{
    std::vector<std::string> names(ids.size());
    if (ids.empty())
        return names;
    std::string list;
    for (const std::string& id : ids) {
        if (!list.empty())
            list += ',';
        list += db.QuoteString(id);
    }
    if (!db.ExecSql("SELECT CAST(id AS CHAR), name FROM user_role WHERE id IN (" + list + ")"))
        return std::nullopt;
    RowSet rows = db.StoreResult();
    if (!rows.Valid())
        return std::nullopt;
    for (bool more = rows.FirstRow(); more; more = rows.NextRow()) {
        std::string id, name;
        rows.ReadField(0, id);
        rows.ReadField(1, name);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (ids[i] == id)
                names[i] = name;
        }
    }
    return names;
}

std::optional<std::vector<std::string>> UnknownRoleIds(DbConnection& db,
                                                       const std::vector<std::string>& ids)
{
    std::vector<std::string> unknown;
    if (ids.empty())
        return unknown;
    std::string list;
    for (const std::string& id : ids)
        list += (list.empty() ? "" : ",") + db.QuoteString(id);
    // The index finds the candidates; the ids are then compared as text, as they were typed
    // and as they would be sent: "007" is not role 7, and "abc" is no role.
    if (!db.ExecSql("SELECT CAST(id AS CHAR) FROM user_role WHERE id IN (" + list + ")"))
        return std::nullopt;
    RowSet rows = db.StoreResult();
    if (!rows.Valid())
        return std::nullopt;
    std::vector<std::string> found;
    for (bool more = rows.FirstRow(); more && rows.RowCount() > 0; more = rows.NextRow()) {
        std::string id;
        rows.ReadField(0, id);
        found.push_back(std::move(id));
    }
    for (const std::string& id : ids) {
        if (std::find(found.begin(), found.end(), id) == found.end())
            unknown.push_back(id);
    }
    return unknown;
}

SendManyResult SendMailToRoles(DbConnection& db, const MailFields& fields,
                               const std::vector<std::string>& codes, std::time_t now,
                               const GoOnCallback& goOn, const MailRowObserver& observer)
{
    SendManyResult outcome;
    const std::vector<std::string> ids = SplitRoleIds(fields.roleId);
    outcome.result = CheckMailToRoles(fields, codes);
    if (outcome.result != SendMailResult::Sent) {
        outcome.notSent = ids;
        return outcome;
    }

    const MailFields spaceless = SpacelessMailFields(fields);
    const std::string attachments = *AttachmentsColumnText(codes);
    std::size_t next = 0;
    for (; next < ids.size(); ++next) {
        if (goOn && !goOn(next, ids.size())) {
            outcome.cancelled = true;
            break;
        }
        bool unknown = false;
        if (!db.IsOpen() || !InsertMail(db, spaceless, ids[next], attachments, now,
                                        outcome.serverError, observer, unknown)) {
            // A row stopped on the server (KILL QUERY) was not inserted: a cancel.
            if (!unknown && db.IsOpen() && db.QueryInterrupted())
                outcome.cancelled = true;
            else
                outcome.result = unknown ? SendMailResult::Unknown : SendMailResult::Failed;
            if (unknown)
                outcome.unknown.push_back(ids[next++]);
            break;
        }
        outcome.sent.push_back(ids[next]);
    }
    outcome.notSent.assign(ids.begin() + static_cast<std::ptrdiff_t>(next), ids.end());
    return outcome;
}

} // namespace mrvn
