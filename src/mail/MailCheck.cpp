#include "mail/MailCheck.h"

#include "text/TextUtil.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

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

SendMailResult CheckMail(const MailFields& fields, const std::vector<std::string>& codes)
{
    const MailFields spaceless = SpacelessMailFields(fields);
    // Every box filled comes first; then a number is refused for its size rather than taken
    // for an empty box.
    if (!spaceless.roleId.empty() && !spaceless.title.empty() && !spaceless.content.empty() &&
        !spaceless.copper.empty() && !spaceless.yuanbao.empty()) {
        if (IsDigitText(spaceless.copper) && !IsIntegerText(spaceless.copper))
            return SendMailResult::CopperTooLarge;
        if (IsDigitText(spaceless.yuanbao) && !IsIntegerText(spaceless.yuanbao))
            return SendMailResult::YuanbaoTooLarge;
    }
    if (!MailFieldsComplete(fields))
        return SendMailResult::Incomplete;
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

} // namespace mrvn
