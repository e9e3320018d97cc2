#pragma once

#include <ctime>
#include <string>
#include <string_view>

// One attachment entry of a system mail: the checks of the item fields, the star list of an
// enhancement level and the entry's JSON text in the escaped form that goes straight into a
// single-quoted SQL literal.
namespace mrvn {

inline constexpr int kMaxMailItems = 6;

// The columns of the attachment table: its number, the name the operator gave, and the
// entry's code in the escaped form of a single-quoted literal (hidden).
enum class MailItemColumn : int { Tid, Name, Code };
constexpr int ColumnIndex(MailItemColumn column)
{
    return static_cast<int>(column);
}

// The entry's JSON with every JSON `"` preceded by a backslash and every JSON `\` doubled,
// so the database stores plain JSON once the literal has been read.
extern const std::string_view kEquipmentTemplate;
extern const std::string_view kPlainItemTemplate;

// The item fields of the mail page. Texts as typed; grade, bind and enhance are the
// combo boxes' indexes.
struct MailItemFields
{
    std::string days, itemId, count, useLevel;
    int grade = 0;
    int bind = 0;
    bool equipment = false;
    int enhance = 0;
};

enum class MailItemCheck {
    Ok,
    Incomplete,
    Negative,
    Forbidden,
    // Digits beyond the 32 bits the game reads, in the box named.
    CountTooLarge,
    UseLevelTooLarge,
    DaysTooLarge,
};

// Days, item id, count and use level must be non-empty once spaces are removed, and count,
// use level and days 32-bit integers (Incomplete otherwise; a *TooLarge when only digits that
// do not fit) not below zero (Negative); an item id with "|" cannot survive an archive
// (Forbidden).
MailItemCheck CheckMailItemFields(const MailItemFields& fields);

enum class ItemNameCheck { Ok, Empty, Forbidden };
// The display name typed into the name prompt.
ItemNameCheck CheckItemName(std::string_view typed);

// "[0,0]" for level 0; "[1,1],[2,1],…" up to the level but never beyond 10; "" when negative.
std::string BuildStarList(int level);

// The entry's text for fields that passed CheckMailItemFields; `now` is the moment the
// expiry counts from.
std::string AttachmentJson(const MailItemFields& fields, std::time_t now);

// The item id as it stands inside the template's quoted "goodsId" value: escaped as a JSON
// string, then for the single-quoted SQL literal.
std::string ItemIdLiteral(std::string_view itemId);

} // namespace mrvn
