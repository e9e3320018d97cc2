#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The checks a mail passes before any statement is sent: no database, no window. The
// attachment table holds each entry in the escaped form of a single-quoted literal; what
// the column finally holds is that text as the server reads it, which must be a JSON array
// with one object per entry, so a hand-edited archive can never leave its literal.
namespace mrvn {

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

// "" without entries, otherwise "[" + codes joined by "," + "]"; the codes are in the
// escaped literal form of the attachment table.
std::string JoinAttachments(const std::vector<std::string>& codes);

// What the server reads from the body of a single-quoted literal written with backslash
// escapes: the text the column ends up holding. A lone quote stays a quote.
std::string ReadLiteralText(std::string_view literal);

// The attachments column for these table codes: "" without entries, otherwise the joined
// codes as the server would read them, provided that is a JSON array of objects; nothing
// when it is not (a hand-edited archive, or a code that would break out of its literal).
std::optional<std::string> AttachmentsColumnText(const std::vector<std::string>& codes);

enum class SendMailResult {
    Incomplete,     // an empty field, or money that is not an integer
    CopperTooLarge, // digits beyond what the copper column holds (64 bits)
    YuanbaoTooLarge,
    ControlChar,    // a line break or tab in the title or content
    Negative,       // copper or yuanbao below zero
    BadAttachments, // the attachment table is not a JSON array of objects
    DuplicateRole,  // the same role id twice in a list of receivers
    Sent,
    Failed,
    Unknown, // the answer to an insert was lost, and a look-up afterwards could not tell
};

// The checks SendMail makes before any statement, in the order the page reports them;
// Sent when all passed.
SendMailResult CheckMail(const MailFields& fields, const std::vector<std::string>& codes);

// The receivers in a role-id text: the pieces between "," or the full-width "，" once
// spaces are removed (a single id gives one piece; empty pieces stay, so the check can
// refuse them).
std::vector<std::string> SplitRoleIds(std::string_view roleIdText);

// CheckMail for a list of receivers: an empty piece ("1,,2", "1,") is Incomplete, the
// same id twice DuplicateRole.
SendMailResult CheckMailToRoles(const MailFields& fields, const std::vector<std::string>& codes);

} // namespace mrvn
