#include "mail/MailDispatch.h"

#include "db/DbConnection.h"
#include "text/DateTime.h"
#include "text/TextUtil.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <set>

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

bool HasControlChar(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// One object per row of the table: an empty code, or one holding two entries, is a row
// the operator cannot see for what it is.
bool IsJsonArrayOfObjects(const std::string& text, std::size_t entries)
{
    const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_array() || parsed.size() != entries)
        return false;
    return std::all_of(parsed.begin(), parsed.end(),
                       [](const nlohmann::json& entry) { return entry.is_object(); });
}

// Inserts one row for `roleId`; false (with the server's reason) when it was refused.
bool InsertMail(DbConnection& db, const MailFields& spaceless, std::string_view roleId,
                const std::string& attachments, std::time_t now, std::string& serverError)
{
    const std::optional<std::int64_t> id = NextMailId(db);
    if (!id) {
        serverError = db.LastErrorText();
        return false;
    }
    MailFields row = spaceless;
    row.roleId = roleId;
    const std::int64_t stamp = ToTimestampMs(now);
    if (db.ExecSql(BuildMailInsert(db, *id, row, attachments, stamp, stamp)))
        return true;
    serverError = db.LastErrorText();
    return false;
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

std::string ReadLiteralText(std::string_view literal)
{
    std::string text;
    text.reserve(literal.size());
    for (std::size_t i = 0; i < literal.size(); ++i) {
        const char c = literal[i];
        if (c == '\'' && i + 1 < literal.size() && literal[i + 1] == '\'') {
            text += '\'';
            ++i;
            continue;
        }
        if (c != '\\' || i + 1 == literal.size()) {
            text += c;
            continue;
        }
        const char next = literal[++i];
        switch (next) {
        case '0':
            text += '\0';
            break;
        case 'b':
            text += '\b';
            break;
        case 'n':
            text += '\n';
            break;
        case 'r':
            text += '\r';
            break;
        case 't':
            text += '\t';
            break;
        case 'Z':
            text += '\x1a';
            break;
        case '%':
        case '_':
            // The server keeps the backslash of these two (they are LIKE wildcards).
            text += '\\';
            text += next;
            break;
        default:
            text += next;
            break;
        }
    }
    return text;
}

std::optional<std::string> AttachmentsColumnText(const std::vector<std::string>& codes)
{
    if (codes.empty())
        return std::string();
    std::string text = ReadLiteralText(JoinAttachments(codes));
    // Checked here rather than by the server: old servers have no JSON_VALID.
    if (!IsJsonArrayOfObjects(text, codes.size()))
        return std::nullopt;
    return text;
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

SendMailResult CheckMail(const MailFields& fields, const std::vector<std::string>& codes)
{
    if (!MailFieldsComplete(fields))
        return SendMailResult::Incomplete;
    const MailFields spaceless = SpacelessMailFields(fields);
    // The game shows the content on one line; a tab or line break arrives as garbage.
    if (HasControlChar(spaceless.title) || HasControlChar(spaceless.content))
        return SendMailResult::ControlChar;
    // A minus sign in a money box is a typo, never a way to take money back.
    if (spaceless.copper.front() == '-' || spaceless.yuanbao.front() == '-')
        return SendMailResult::Negative;
    if (!AttachmentsColumnText(codes))
        return SendMailResult::BadAttachments;
    return SendMailResult::Sent;
}

SendMailResult SendMail(DbConnection& db, const MailFields& fields,
                        const std::vector<std::string>& codes, std::time_t now)
{
    const SendMailResult check = CheckMail(fields, codes);
    if (check != SendMailResult::Sent)
        return check;
    if (!db.IsOpen())
        return SendMailResult::Failed;
    const MailFields spaceless = SpacelessMailFields(fields);
    std::string serverError;
    return InsertMail(db, spaceless, spaceless.roleId, *AttachmentsColumnText(codes), now,
                      serverError)
               ? SendMailResult::Sent
               : SendMailResult::Failed;
}

std::vector<std::string> SplitRoleIds(std::string_view roleIdText)
{
    const std::string text = RemoveAllSpaces(roleIdText);
    std::vector<std::string> ids;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        ids.push_back(text.substr(start, comma - start));
    ids.push_back(text.substr(start));
    return ids;
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

SendMailResult CheckMailToRoles(const MailFields& fields, const std::vector<std::string>& codes)
{
    const SendMailResult check = CheckMail(fields, codes);
    if (check != SendMailResult::Sent)
        return check;
    const std::vector<std::string> ids = SplitRoleIds(fields.roleId);
    if (std::any_of(ids.begin(), ids.end(), [](const std::string& id) { return id.empty(); }))
        return SendMailResult::Incomplete;
    if (std::set<std::string>(ids.begin(), ids.end()).size() != ids.size())
        return SendMailResult::DuplicateRole;
    return SendMailResult::Sent;
}

SendManyResult SendMailToRoles(DbConnection& db, const MailFields& fields,
                               const std::vector<std::string>& codes, std::time_t now,
                               const GoOnCallback& goOn)
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
        if (!db.IsOpen() ||
            !InsertMail(db, spaceless, ids[next], attachments, now, outcome.serverError)) {
            outcome.result = SendMailResult::Failed;
            break;
        }
        outcome.sent.push_back(ids[next]);
    }
    outcome.notSent.assign(ids.begin() + static_cast<std::ptrdiff_t>(next), ids.end());
    return outcome;
}

} // namespace mrvn
