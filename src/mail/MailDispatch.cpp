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

} // namespace

MailFields SpacelessMailFields(const MailFields& fields)
{
    return MailFields{RemoveAllSpaces(fields.roleId), RemoveAllSpaces(fields.title),
                      RemoveAllSpaces(fields.content), RemoveAllSpaces(fields.copper),
                      RemoveAllSpaces(fields.yuanbao)};
}

bool MailFieldsComplete(const MailFields& fields)
{
    const MailFields spaceless = SpacelessMailFields(fields);
    for (const std::string* text : {&spaceless.roleId, &spaceless.title, &spaceless.content,
                                    &spaceless.copper, &spaceless.yuanbao}) {
        if (text->empty())
            return false;
    }
    return IsIntegerText(spaceless.copper) && IsIntegerText(spaceless.yuanbao);
}

std::string JoinAttachments(const std::vector<std::string>& codes)
{
    if (codes.empty())
        return {};
    std::string joined = "[";
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (i > 0)
            joined += ',';
        joined += codes[i];
    }
    joined += ']';
    return joined;
}

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
    sql += attachments;
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
                        const std::vector<std::string>& codes, std::time_t now)
{
    if (!MailFieldsComplete(fields))
        return SendMailResult::Incomplete;
    if (!db.IsOpen())
        return SendMailResult::Failed;
    const std::optional<std::int64_t> id = NextMailId(db);
    if (!id)
        return SendMailResult::Failed;
    const std::int64_t stamp = ToTimestampMs(now);
    const std::string sql =
        BuildMailInsert(db, *id, SpacelessMailFields(fields), JoinAttachments(codes), stamp, stamp);
    return db.ExecSql(sql) ? SendMailResult::Sent : SendMailResult::Failed;
}

} // namespace mrvn
