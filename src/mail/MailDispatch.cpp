#include "mail/MailDispatch.h"

#include "db/DbConnection.h"
#include "text/DateTime.h"
#include "text/TextUtil.h"

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

// Inserts one row for `roleId`; false (with the server's reason) when it was refused. The
// observer hears of every row handed to the server, inserted or not.
bool InsertMail(DbConnection& db, const MailFields& spaceless, std::string_view roleId,
                const std::string& attachments, std::time_t now, std::string& serverError,
                const MailRowObserver& observer)
{
    MailRowOutcome outcome;
    outcome.roleId = roleId;
    outcome.id = NextMailId(db);
    if (outcome.id) {
        MailFields row = spaceless;
        row.roleId = roleId;
        const std::int64_t stamp = ToTimestampMs(now);
        outcome.inserted =
            db.ExecSql(BuildMailInsert(db, *outcome.id, row, attachments, stamp, stamp));
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
    return InsertMail(db, spaceless, spaceless.roleId, *AttachmentsColumnText(codes), now,
                      serverError, observer)
               ? SendMailResult::Sent
               : SendMailResult::Failed;
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
        if (!db.IsOpen() || !InsertMail(db, spaceless, ids[next], attachments, now,
                                        outcome.serverError, observer)) {
            outcome.result = SendMailResult::Failed;
            break;
        }
        outcome.sent.push_back(ids[next]);
    }
    outcome.notSent.assign(ids.begin() + static_cast<std::ptrdiff_t>(next), ids.end());
    return outcome;
}

} // namespace mrvn
