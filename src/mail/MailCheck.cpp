#include "mail/MailCheck.h"

#include "text/TextUtil.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <unordered_set>

namespace mrvn {

namespace {

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

MailFields SpacelessMailFields(const MailFields& fields)
{
    return MailFields{RemoveAllSpaces(fields.roleId), RemoveAllSpaces(fields.title),
                      RemoveAllSpaces(fields.content), RemoveAllSpaces(fields.copper),
                      RemoveAllSpaces(fields.yuanbao)};
}

// An empty piece ("1,,2", "1,") is Incomplete, the same id twice DuplicateRole.
SendMailResult CheckReceivers(const std::vector<std::string>& ids)
{
    if (ids.empty() ||
        std::any_of(ids.begin(), ids.end(), [](const std::string& id) { return id.empty(); }))
        return SendMailResult::Incomplete;
    std::unordered_set<std::string_view> seen(ids.size());
    for (const std::string& id : ids) {
        if (!seen.insert(id).second)
            return SendMailResult::DuplicateRole;
    }
    return SendMailResult::Sent;
}

std::string JoinIds(const std::vector<std::string>& ids)
{
    std::string joined;
    for (const std::string& id : ids) {
        if (!joined.empty())
            joined += ',';
        joined += id;
    }
    return joined;
}

} // namespace

namespace {

bool SpacelessFieldsComplete(const MailFields& spaceless)
{
    for (const std::string* text : {&spaceless.roleId, &spaceless.title, &spaceless.content,
                                    &spaceless.copper, &spaceless.yuanbao}) {
        if (text->empty())
            return false;
    }
    return IsIntegerText(spaceless.copper) && IsIntegerText(spaceless.yuanbao);
}

} // namespace

bool MailFieldsComplete(const MailFields& fields)
{
    return SpacelessFieldsComplete(SpacelessMailFields(fields));
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

std::string AttachmentCodeOf(std::string_view columnText)
{
    std::string code;
    code.reserve(columnText.size() + columnText.size() / 4);
    for (const char c : columnText) {
        switch (c) {
        case '\\':
        case '\'':
        case '"':
            code += '\\';
            code += c;
            break;
        case '\0':
            code += "\\0";
            break;
        case '\n':
            code += "\\n";
            break;
        case '\r':
            code += "\\r";
            break;
        case '\x1a':
            code += "\\Z";
            break;
        default:
            code += c;
            break;
        }
    }
    return code;
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

AttachmentInfo ReadAttachmentInfo(std::string_view code)
{
    AttachmentInfo info;
    const nlohmann::json entry = nlohmann::json::parse(ReadLiteralText(code), nullptr, false);
    if (!entry.is_object())
        return info;
    const auto id = entry.find("goodsId");
    if (id != entry.end() && id->is_string())
        info.itemId = id->get<std::string>();
    else if (id != entry.end() && id->is_number_integer())
        info.itemId = std::to_string(id->get<std::int64_t>());
    const auto count = entry.find("goodsCount");
    if (count != entry.end() && count->is_number_integer())
        info.count = count->get<std::int64_t>();
    return info;
}

MailCheck CheckMailFields(const MailFields& fields, const std::vector<std::string>& codes,
                          ReceiverSource receivers)
{
    MailFields spaceless = SpacelessMailFields(fields);
    // Receivers that come later need no box; the box's text is not looked at.
    if (receivers == ReceiverSource::Later)
        spaceless.roleId = "-";
    MailCheck check;
    // Every box filled comes first; then a number is refused for its size rather than taken
    // for an empty box.
    if (!spaceless.roleId.empty() && !spaceless.title.empty() && !spaceless.content.empty() &&
        !spaceless.copper.empty() && !spaceless.yuanbao.empty()) {
        if (IsDigitText(spaceless.copper) && !IsIntegerText(spaceless.copper)) {
            check.result = SendMailResult::CopperTooLarge;
            return check;
        }
        if (IsDigitText(spaceless.yuanbao) && !IsIntegerText(spaceless.yuanbao)) {
            check.result = SendMailResult::YuanbaoTooLarge;
            return check;
        }
    }
    if (!SpacelessFieldsComplete(spaceless))
        return check;
    // The game shows the content on one line; a tab or line break arrives as garbage.
    if (HasControlChar(spaceless.title) || HasControlChar(spaceless.content)) {
        check.result = SendMailResult::ControlChar;
        return check;
    }
    // A minus sign in a money box is a typo, never a way to take money back.
    if (spaceless.copper.front() == '-' || spaceless.yuanbao.front() == '-') {
        check.result = SendMailResult::Negative;
        return check;
    }
    std::optional<std::string> attachments = AttachmentsColumnText(codes);
    if (!attachments) {
        check.result = SendMailResult::BadAttachments;
        return check;
    }
    CheckedMail mail;
    mail.m_fields = std::move(spaceless);
    mail.m_codes = codes;
    mail.m_attachments = std::move(*attachments);
    mail.m_copper = TextToInt64(mail.m_fields.copper);
    mail.m_yuanbao = TextToInt64(mail.m_fields.yuanbao);
    if (receivers == ReceiverSource::Later) {
        mail.m_fields.roleId.clear();
        check.result = SendMailResult::Sent;
        check.mail = std::move(mail);
        return check;
    }
    return mail.To(SplitRoleIds(fields.roleId));
}

MailCheck CheckedMail::To(std::vector<std::string> receivers) const
{
    MailCheck check;
    check.result = CheckReceivers(receivers);
    if (check.result != SendMailResult::Sent)
        return check;
    CheckedMail mail = *this;
    mail.m_fields.roleId = JoinIds(receivers);
    mail.m_receivers = std::move(receivers);
    check.mail = std::move(mail);
    return check;
}

SendMailResult CheckMail(const MailFields& fields, const std::vector<std::string>& codes)
{
    return CheckMailFields(fields, codes).result;
}

std::vector<std::string> SplitRoleIds(std::string_view roleIdText)
{
    // A Chinese input method types the full-width comma: it separates exactly as "," does.
    const std::string text = ReplaceAll(RemoveAllSpaces(roleIdText), "\xEF\xBC\x8C", ",");
    std::vector<std::string> ids;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        ids.push_back(text.substr(start, comma - start));
    ids.push_back(text.substr(start));
    return ids;
}

SendMailResult CheckMailToRoles(const MailFields& fields, const std::vector<std::string>& codes)
{
    return CheckMail(fields, codes);
}

} // namespace mrvn
