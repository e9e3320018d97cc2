#pragma once

#include <cstdint>
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

// "" without entries, otherwise "[" + codes joined by "," + "]"; the codes are in the
// escaped literal form of the attachment table.
std::string JoinAttachments(const std::vector<std::string>& codes);

// The attachment code (escaped literal form) that the server reads as `columnText`: the
// inverse of ReadLiteralText, for a mail sent again from the audit trail.
std::string AttachmentCodeOf(std::string_view columnText);

// What the server reads from the body of a single-quoted literal written with backslash
// escapes: the text the column ends up holding. A lone quote stays a quote.
std::string ReadLiteralText(std::string_view literal);

// The attachments column for these table codes: "" without entries, otherwise the joined
// codes as the server would read them, provided that is a JSON array of objects; nothing
// when it is not (a hand-edited archive, or a code that would break out of its literal).
std::optional<std::string> AttachmentsColumnText(const std::vector<std::string>& codes);

// The item id and count of an attachment code (escaped literal form), for the operator to
// read; an empty id and count 0 for what they cannot be read from.
struct AttachmentInfo
{
    std::string itemId;
    std::int64_t count = 0;
};
AttachmentInfo ReadAttachmentInfo(std::string_view code);

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

struct MailCheck;

// Where the receivers of a mail come from.
enum class ReceiverSource {
    RoleIdText, // the Role ID box: one id, or ids separated by "," or "，"
    Later,      // the role list or a filter gives them afterwards (CheckedMail::To)
};

// A mail whose fields have passed every check, spaces removed: the only way to one is
// CheckMailFields (and To for other receivers), so what the dispatch and the audit trail take
// has been checked exactly once.
class CheckedMail
{
public:
    // The fields without spaces; roleId holds the receivers joined by ",".
    const MailFields& Fields() const { return m_fields; }
    const std::vector<std::string>& Receivers() const { return m_receivers; }
    // The attachment table's codes, as the page holds them (escaped literal form).
    const std::vector<std::string>& Codes() const { return m_codes; }
    // The attachments column: the codes as the server reads them ("" without entries).
    const std::string& AttachmentsColumn() const { return m_attachments; }
    std::int64_t Copper() const { return m_copper; }
    std::int64_t Yuanbao() const { return m_yuanbao; }

    // The same mail to other receivers, refused as a typed list would be (an empty id, an id
    // twice, no id at all).
    MailCheck To(std::vector<std::string> receivers) const;

private:
    CheckedMail() = default;
    friend MailCheck CheckMailFields(const MailFields&, const std::vector<std::string>&,
                                     ReceiverSource);

    MailFields m_fields;
    std::vector<std::string> m_receivers;
    std::vector<std::string> m_codes;
    std::string m_attachments;
    std::int64_t m_copper = 0;
    std::int64_t m_yuanbao = 0;
};

// What the checks made of the page's fields: a refusal, or the mail ready to be sent.
struct MailCheck
{
    SendMailResult result = SendMailResult::Incomplete; // Sent when every check passed
    std::optional<CheckedMail> mail;                    // there exactly when result is Sent
};

// Every check a mail passes before any statement, in the order the page reports them; the
// receivers are checked as a list (an empty piece is Incomplete, the same id twice
// DuplicateRole) unless they come Later.
MailCheck CheckMailFields(const MailFields& fields, const std::vector<std::string>& codes,
                          ReceiverSource receivers = ReceiverSource::RoleIdText);

// The refusal of CheckMailFields alone (Sent when every check passed).
SendMailResult CheckMail(const MailFields& fields, const std::vector<std::string>& codes);

// The receivers in a role-id text: the pieces between "," or the full-width "，" once
// spaces are removed (a single id gives one piece; empty pieces stay, so the check can
// refuse them).
std::vector<std::string> SplitRoleIds(std::string_view roleIdText);

// The same as CheckMail (kept for callers that name the list of receivers).
SendMailResult CheckMailToRoles(const MailFields& fields, const std::vector<std::string>& codes);

} // namespace mrvn
