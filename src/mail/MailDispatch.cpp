#include "mail/MailDispatch.h"

#include "db/DbConnection.h"
#include "text/DateTime.h"
#include "text/TextUtil.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

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

// After an insert whose answer was lost: waits until the server has finished with the old
// connection, then looks for the row by its id. 1: there, 0: not there, nothing: unknown.
std::optional<bool> FindLostMail(DbConnection& db, unsigned long oldConnection, std::int64_t id,
                                 std::string_view roleId, std::int64_t stamp,
                                 const std::function<bool()>& goOn)
{
    if (!WaitUntilConnectionEnded(db, oldConnection, kLostMailCheckSeconds, goOn))
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
                const MailRowObserver& observer, bool& unknown,
                const std::function<bool()>& goOnChecking = {})
{
    MailRowOutcome outcome;
    outcome.roleId = roleId;
    outcome.id = NextMailId(db);
    if (outcome.id) {
        MailFields row = spaceless;
        row.roleId = roleId;
        const std::int64_t stamp = ToTimestampMs(now);
        outcome.createMs = stamp;
        outcome.inserted =
            db.ExecSql(BuildMailInsert(db, *outcome.id, row, attachments, stamp, stamp));
        if (!outcome.inserted && db.ConnectionLost()) {
            // The connection that lost the answer: a new one is made only for the next
            // statement.
            const unsigned long connection = db.ConnectionId();
            outcome.errorNumber = db.LastError();
            outcome.error = db.LastErrorText();
            outcome.checked = true;
            const std::optional<bool> found =
                FindLostMail(db, connection, *outcome.id, roleId, stamp, goOnChecking);
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

SendMailResult SendMail(DbConnection& db, const CheckedMail& mail, std::time_t now,
                        const MailRowObserver& observer, const std::function<bool()>& goOnChecking)
{
    if (mail.Receivers().size() != 1)
        return SendMailResult::Incomplete;
    if (!db.IsOpen())
        return SendMailResult::Failed;
    std::string serverError;
    bool unknown = false;
    if (InsertMail(db, mail.Fields(), mail.Receivers().front(), mail.AttachmentsColumn(), now,
                   serverError, observer, unknown, goOnChecking))
        return SendMailResult::Sent;
    return unknown ? SendMailResult::Unknown : SendMailResult::Failed;
}

SendMailResult SendMail(DbConnection& db, const MailFields& fields,
                        const std::vector<std::string>& codes, std::time_t now,
                        const MailRowObserver& observer, const std::function<bool()>& goOnChecking)
{
    const MailCheck check = CheckMailFields(fields, codes);
    if (!check.mail)
        return check.result;
    return SendMail(db, *check.mail, now, observer, goOnChecking);
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
    std::unordered_set<std::string> found;
    // A list of 100,000 ids would pass the packet limit of older servers (1 MiB).
    for (std::size_t first = 0; first < ids.size(); first += kRoleIdsPerLookup) {
        const std::size_t end = std::min(ids.size(), first + kRoleIdsPerLookup);
        std::string list;
        for (std::size_t i = first; i < end; ++i) {
            if (!list.empty())
                list += ',';
            list += db.QuoteString(ids[i]);
        }
        // The index finds the candidates; the ids are then compared as text, as they were
        // typed and as they would be sent: "007" is not role 7, and "abc" is no role.
        if (!db.ExecSql("SELECT CAST(id AS CHAR) FROM user_role WHERE id IN (" + list + ")"))
            return std::nullopt;
        RowSet rows = db.StoreResult();
        if (!rows.Valid())
            return std::nullopt;
        for (bool more = rows.FirstRow(); more && rows.RowCount() > 0; more = rows.NextRow()) {
            std::string id;
            rows.ReadField(0, id);
            found.insert(std::move(id));
        }
    }
    std::vector<std::string> unknown;
    for (const std::string& id : ids) {
        if (found.count(id) == 0)
            unknown.push_back(id);
    }
    return unknown;
}

std::optional<std::vector<bool>> FindMailRows(DbConnection& db, const std::vector<SentRowKey>& rows)
{
    std::vector<bool> found(rows.size(), false);
    for (std::size_t first = 0; first < rows.size(); first += kRoleIdsPerLookup) {
        const std::size_t end = std::min(rows.size(), first + kRoleIdsPerLookup);
        std::string list;
        std::unordered_map<std::int64_t, std::size_t> byId;
        for (std::size_t i = first; i < end; ++i) {
            list += (list.empty() ? "" : ",") + std::to_string(rows[i].id);
            byId.emplace(rows[i].id, i);
        }
        // The id alone is not enough: ids of rows that were never inserted are handed out
        // again to later mails.
        if (!db.ExecSql("SELECT id, receiver_ids, create_time FROM system_email WHERE id IN (" +
                        list + ")"))
            return std::nullopt;
        RowSet result = db.StoreResult();
        if (!result.Valid())
            return std::nullopt;
        for (bool more = result.FirstRow(); more && result.RowCount() > 0;
             more = result.NextRow()) {
            std::int64_t id = 0;
            std::int64_t createMs = 0;
            std::string roleId;
            result.ReadField(0, id);
            result.ReadField(1, roleId);
            result.ReadField(2, createMs);
            const auto at = byId.find(id);
            if (at != byId.end() && rows[at->second].roleId == roleId &&
                rows[at->second].createMs == createMs)
                found[at->second] = true;
        }
    }
    return found;
}

namespace {

// The server's packet limit less room for the protocol; 1 MiB (the oldest servers'
// default) when it cannot be read.
std::size_t StatementByteLimit(DbConnection& db)
{
    constexpr std::size_t kOldestDefault = 1024 * 1024;
    constexpr std::size_t kMargin = 4096;
    std::int64_t packet = 0;
    if (db.ExecSql("SELECT @@max_allowed_packet")) {
        RowSet rows = db.StoreResult();
        if (!rows.Valid() || !rows.FirstRow() || !rows.ReadField(0, packet))
            packet = 0;
    }
    const std::size_t limit = packet > 0 ? static_cast<std::size_t>(packet) : kOldestDefault;
    return limit > 2 * kMargin ? limit - kMargin : limit;
}

// The rows of one mail differ only in their id and receiver: the rest of a row is built once.
class BatchBuilder
{
public:
    BatchBuilder(const DbConnection& db, const CheckedMail& mail, std::int64_t stamp)
    {
        m_middle = "', '" + db.EscapeString(mail.Fields().title) + "', '" +
                   db.EscapeString(mail.Fields().content) + "','";
        m_tail = "','" + db.EscapeString(mail.AttachmentsColumn()) + "'," + mail.Fields().copper +
                 "," + mail.Fields().yuanbao + "," + std::to_string(stamp) + "," +
                 std::to_string(stamp) + ")";
    }
    static const char* Head()
    {
        return "INSERT INTO system_email (id,title,content,receiver_ids,attachments,jb,yb,"
               "create_time,valid_time) VALUES ";
    }
    // The length of a row for this receiver, its separator included (ids up to 20 digits).
    std::size_t RowBytes(const std::string& escapedRoleId) const
    {
        return 4 + 20 + m_middle.size() + escapedRoleId.size() + m_tail.size();
    }
    void AppendRow(std::string& sql, std::int64_t id, const std::string& escapedRoleId) const
    {
        sql += "('";
        sql += std::to_string(id);
        sql += m_middle;
        sql += escapedRoleId;
        sql += m_tail;
    }

private:
    std::string m_middle;
    std::string m_tail;
};

} // namespace

SendManyResult SendMailToRoles(DbConnection& db, const CheckedMail& mail, std::time_t now,
                               const GoOnCallback& goOn, const MailBatchObserver& observer,
                               const SendManyOptions& options)
{
    SendManyResult outcome;
    const std::vector<std::string>& ids = mail.Receivers();
    if (ids.empty()) {
        outcome.result = SendMailResult::Incomplete;
        return outcome;
    }
    const std::int64_t stamp = ToTimestampMs(now);
    const BatchBuilder builder(db, mail, stamp);
    const std::size_t maxRows = std::max<std::size_t>(1, options.maxRows);
    std::size_t maxBytes = options.maxStatementBytes;
    if (maxBytes == 0 && db.IsOpen())
        maxBytes = StatementByteLimit(db);

    std::size_t next = 0;
    // A statement that fails while a stop is asked was most likely ended by it (the KILL, or
    // the closing window breaking the connection), whatever the error says.
    const auto stopped = [&] { return db.QueryInterrupted() || (goOn && !goOn(next, ids.size())); };
    while (next < ids.size()) {
        if (goOn && !goOn(next, ids.size())) {
            outcome.cancelled = true;
            break;
        }
        MailBatchOutcome batch;
        batch.createMs = stamp;
        const std::optional<std::int64_t> firstId = db.IsOpen() ? NextMailId(db) : std::nullopt;
        if (!firstId) {
            if (stopped())
                outcome.cancelled = true;
            else
                outcome.result = SendMailResult::Failed;
            outcome.serverError = db.LastErrorText();
            break;
        }
        // As many rows as fit, at least one: a single row too long for the server is refused
        // by it, and said so.
        std::string sql = BatchBuilder::Head();
        for (std::size_t i = next; i < ids.size() && batch.roleIds.size() < maxRows; ++i) {
            const std::string escaped = db.EscapeString(ids[i]);
            if (!batch.roleIds.empty() && sql.size() + builder.RowBytes(escaped) > maxBytes)
                break;
            if (!batch.roleIds.empty())
                sql += ',';
            const std::int64_t id = *firstId + static_cast<std::int64_t>(batch.roleIds.size());
            builder.AppendRow(sql, id, escaped);
            batch.roleIds.push_back(ids[i]);
            batch.ids.push_back(id);
        }
        const unsigned long connection = db.ConnectionId();
        const bool inserted = db.ExecSql(sql);
        sql.clear();
        sql.shrink_to_fit();
        batch.fates.assign(batch.roleIds.size(), inserted ? RowFate::Sent : RowFate::NotSent);
        bool interrupted = false;
        if (!inserted) {
            batch.checked = true;
            batch.errorNumber = db.LastError();
            batch.error = db.LastErrorText();
            interrupted = stopped();
            // A lost answer: the statement may still be running on the server. A refused
            // one on a table without transactions may have kept the rows before the one that
            // failed. Either way only the rows found are sent.
            bool settled = true;
            if (db.ConnectionLost())
                settled = WaitUntilConnectionEnded(db, connection, options.lostAnswerWaitSeconds,
                                                   options.keepWaiting);
            std::vector<SentRowKey> keys;
            for (std::size_t i = 0; i < batch.roleIds.size(); ++i)
                keys.push_back({batch.roleIds[i], batch.ids[i], stamp});
            const std::optional<std::vector<bool>> found =
                settled ? FindMailRows(db, keys) : std::nullopt;
            for (std::size_t i = 0; i < batch.fates.size(); ++i) {
                batch.fates[i] = !found        ? RowFate::Unknown
                                 : (*found)[i] ? RowFate::Sent
                                               : RowFate::NotSent;
            }
        }
        if (observer)
            observer(batch);
        bool allSent = true;
        for (std::size_t i = 0; i < batch.fates.size(); ++i) {
            switch (batch.fates[i]) {
            case RowFate::Sent:
                outcome.sent.push_back(batch.roleIds[i]);
                break;
            case RowFate::NotSent:
                outcome.notSent.push_back(batch.roleIds[i]);
                allSent = false;
                break;
            case RowFate::Unknown:
                outcome.unknown.push_back(batch.roleIds[i]);
                allSent = false;
                break;
            }
        }
        next += batch.roleIds.size();
        if (allSent)
            continue;
        // A statement stopped (above) is a cancel; anything else that left a row behind ends
        // the sending.
        if (!outcome.unknown.empty())
            outcome.result = SendMailResult::Unknown;
        else if (interrupted)
            outcome.cancelled = true;
        else
            outcome.result = SendMailResult::Failed;
        if (outcome.serverError.empty())
            outcome.serverError = batch.error;
        break;
    }
    const auto untried = ids.begin() + static_cast<std::ptrdiff_t>(next);
    outcome.notSent.insert(outcome.notSent.end(), untried, ids.end());
    // The receivers never handed to the server are heard of too (without ids), so the record
    // of the send names every receiver.
    if (observer && untried != ids.end()) {
        MailBatchOutcome rest;
        rest.createMs = stamp;
        rest.roleIds.assign(untried, ids.end());
        rest.fates.assign(rest.roleIds.size(), RowFate::NotSent);
        observer(rest);
    }
    return outcome;
}

SendManyResult SendMailToRoles(DbConnection& db, const MailFields& fields,
                               const std::vector<std::string>& codes, std::time_t now,
                               const GoOnCallback& goOn, const MailBatchObserver& observer,
                               const SendManyOptions& options)
{
    const MailCheck check = CheckMailFields(fields, codes);
    if (!check.mail) {
        SendManyResult outcome;
        outcome.result = check.result;
        outcome.notSent = SplitRoleIds(fields.roleId);
        return outcome;
    }
    return SendMailToRoles(db, *check.mail, now, goOn, observer, options);
}

} // namespace mrvn
