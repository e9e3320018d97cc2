#include "mail/MailItem.h"

#include "text/DateTime.h"
#include "text/TextUtil.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>

namespace mrvn {

const std::string_view kEquipmentTemplate =
    R"({\"attributes\":\"{\\\"fjattrstr\\\":\\\"{}\\\",\\\"jjfailcount\\\":0,)"
    R"(\\\"qhcount\\\":@强化等级,\\\"qhxingxing\\\":\\\"[@星星]\\\"}\",\"bind\":@绑定,)"
    R"(\"expireTime\":@期限,\"expired\":false,\"goodsCount\":@数量,\"goodsId\":\"@物品代码\",)"
    R"(\"itemLevel\":@使用等级,\"notice\":false,\"rareLevel\":@物品等级,\"slotNum\":0})";

const std::string_view kPlainItemTemplate =
    R"({\"bind\":@绑定,\"expireTime\":@期限,\"expired\":false,\"goodsCount\":@数量,)"
    R"(\"goodsId\":\"@物品代码\",\"itemLevel\":@使用等级,\"notice\":false,)"
    R"(\"rareLevel\":@物品等级,\"slotNum\":0})";

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// The value of an integer text when it fits 32 bits. IsIntegerText has vouched for the
// form; the range is checked here because the game reads these members as 32-bit ints.
std::optional<std::int32_t> Int32Value(std::string_view text)
{
    if (!IsIntegerText(text))
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

// JSON numbers may not carry leading zeros ("05"), so the decimal value is written, not
// the text as typed.
std::string CanonicalNumber(std::string_view text)
{
    const auto value = Int32Value(text);
    return std::to_string(value ? *value : TextToInt32(text));
}

} // namespace

MailItemCheck CheckMailItemFields(const MailItemFields& fields)
{
    const std::string days = RemoveAllSpaces(fields.days);
    const std::string itemId = RemoveAllSpaces(fields.itemId);
    const std::string count = RemoveAllSpaces(fields.count);
    const std::string useLevel = RemoveAllSpaces(fields.useLevel);
    for (const std::string* text : {&days, &itemId, &count, &useLevel}) {
        if (text->empty())
            return MailItemCheck::Incomplete;
    }
    const auto tooLarge = [](const std::string& text) {
        return IsDigitText(text) && !Int32Value(text);
    };
    if (tooLarge(count))
        return MailItemCheck::CountTooLarge;
    if (tooLarge(useLevel))
        return MailItemCheck::UseLevelTooLarge;
    if (tooLarge(days))
        return MailItemCheck::DaysTooLarge;
    // A lone "-" or an edited value would otherwise reach the JSON as an invalid number.
    if (!Int32Value(count) || !Int32Value(useLevel) || !Int32Value(days))
        return MailItemCheck::Incomplete;
    // A minus sign is a typo: a negative count, or an expiry already in the past.
    for (const std::string* text : {&days, &count, &useLevel}) {
        if (text->front() == '-')
            return MailItemCheck::Negative;
    }
    // Archives store an entry as "name|code"; a "|" in the id would cut the code on load.
    if (itemId.find('|') != std::string::npos)
        return MailItemCheck::Forbidden;
    return MailItemCheck::Ok;
}

ItemNameCheck CheckItemName(std::string_view typed)
{
    if (typed.find('|') != std::string_view::npos)
        return ItemNameCheck::Forbidden;
    if (RemoveAllSpaces(typed).empty())
        return ItemNameCheck::Empty;
    return ItemNameCheck::Ok;
}

std::string BuildStarList(int level)
{
    if (level == 0)
        return "[0,0]";
    std::string stars;
    for (int i = 1; i <= level && i <= 10; ++i) {
        if (!stars.empty())
            stars += ',';
        stars += '[' + std::to_string(i) + ",1]";
    }
    return stars;
}

std::string ItemIdLiteral(std::string_view itemId)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string json;
    for (const char c : itemId) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            json += "\\u00";
            json += kHex[byte >> 4];
            json += kHex[byte & 0x0f];
        } else {
            json += c;
        }
    }
    // The template's own convention for the SQL literal, plus the single quote that ends it.
    std::string literal;
    for (const char c : json) {
        if (c == '\\' || c == '"' || c == '\'')
            literal += '\\';
        literal += c;
    }
    return literal;
}

std::string AttachmentJson(const MailItemFields& fields, std::time_t now)
{
    const std::string days = RemoveAllSpaces(fields.days);
    std::string expiry = "0";
    // Only the text "0" means unlimited; "00" counts from now like any other number.
    if (days != "0") {
        const std::int64_t moment =
            static_cast<std::int64_t>(now) + std::int64_t{TextToInt32(days)} * kSecondsPerDay;
        expiry = std::to_string(ToTimestampMs(static_cast<std::time_t>(moment)));
    }

    std::string text;
    if (fields.equipment) {
        text = ReplaceAll(kEquipmentTemplate, "@强化等级", std::to_string(fields.enhance));
        text = ReplaceAll(text, "@星星", BuildStarList(fields.enhance));
    } else {
        text = std::string(kPlainItemTemplate);
    }
    // Each step works on the result of the one before, as the placeholders always have.
    text = ReplaceAll(text, "@绑定", std::to_string(fields.bind));
    text = ReplaceAll(text, "@期限", expiry);
    text = ReplaceAll(text, "@数量", CanonicalNumber(RemoveAllSpaces(fields.count)));
    text = ReplaceAll(text, "@物品代码", ItemIdLiteral(RemoveAllSpaces(fields.itemId)));
    text = ReplaceAll(text, "@使用等级", CanonicalNumber(RemoveAllSpaces(fields.useLevel)));
    text = ReplaceAll(text, "@物品等级", std::to_string(fields.grade));
    return text;
}

} // namespace mrvn
