#include "mail/MailCheck.h"
#include "mail/MailItem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mrvn {
namespace {

TEST(ReadLiteralText, ReadsEscapesAsTheServerDoes)
{
    struct Case
    {
        const char* literal;
        std::string text;
    };
    const Case cases[] = {
        {R"({\"a\":1})", R"({"a":1})"},
        {R"(\\)", R"(\)"},
        {R"(it\'s)", "it's"},
        {"it''s", "it's"},
        {"lone ' quote", "lone ' quote"},
        {R"(\n\r\t\b\Z)", "\n\r\t\b\x1a"},
        {R"(\0)", std::string(1, '\0')},
        {R"(\%\_)", R"(\%\_)"},
        {R"(\x\q)", "xq"},
        {R"(end\)", R"(end\)"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadLiteralText(c.literal), c.text) << c.literal;
}

TEST(AttachmentsColumnText, OnlyAJsonArrayOfObjectsPasses)
{
    const std::time_t now = 1404619200;
    const std::string plain = AttachmentJson({"0", "10001", "5", "1", 3, 1, false, 0}, now);
    const std::string equipment = AttachmentJson({"7", "a\"b\\c'", "1", "60", 5, 0, true, 11}, now);
    struct Case
    {
        const char* what;
        std::vector<std::string> codes;
        bool valid;
    };
    const Case cases[] = {
        {"no entries", {}, true},
        {"entries built by the page", {plain, equipment}, true},
        {"empty object", {"{}"}, true},
        {"breaks out of the literal", {"{}',0,0,0,0),(424242,'x',0,0)#"}, false},
        {"not JSON", {"abc"}, false},
        {"a number, not an object", {"1"}, false},
        {"an array, not an object", {"[]"}, false},
        {"empty code", {""}, false},
        {"two entries in one row", {"{},{}"}, false},
        {"unescaped JSON (read once more it loses its quotes)", {R"({"a":1})"}, true},
        {"trailing garbage", {R"({\"a\":1}x)"}, false},
        {"line feed escape in a key", {R"({\"a\n\":1})"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AttachmentsColumnText(c.codes).has_value(), c.valid);
    }
    EXPECT_EQ(AttachmentsColumnText({}), std::string());
    EXPECT_EQ(AttachmentsColumnText({R"({\"goodsId\":\"it\'s\"})", "{}"}),
              std::string(R"([{"goodsId":"it's"},{}])"));
    // The page's own entries keep the JSON they always stored.
    const std::string column = *AttachmentsColumnText({equipment});
    EXPECT_NE(column.find(R"("goodsId":"a\"b\\c'")"), std::string::npos) << column;
    EXPECT_NE(column.find(R"("attributes":"{\"fjattrstr\":\"{}\",)"), std::string::npos) << column;
}

TEST(CheckMail, RefusalsComeInOrder)
{
    const MailFields ok{"1", "t", "c", "0", "0"};
    struct Case
    {
        const char* what;
        MailFields fields;
        std::vector<std::string> codes;
        SendMailResult expected;
    };
    const Case cases[] = {
        {"all fine", ok, {"{}"}, SendMailResult::Sent},
        {"empty title before line break",
         {"1", "", "a\nb", "-1", "0"},
         {"x"},
         SendMailResult::Incomplete},
        {"line feed", {"1", "t", "a\nb", "0", "0"}, {}, SendMailResult::ControlChar},
        {"carriage return", {"1", "t", "a\rb", "0", "0"}, {}, SendMailResult::ControlChar},
        {"tab", {"1", "t", "a\tb", "0", "0"}, {}, SendMailResult::ControlChar},
        {"delete character", {"1", "t", "a\x7f", "0", "0"}, {}, SendMailResult::ControlChar},
        {"control before negative", {"1", "t\n", "c", "-1", "0"}, {}, SendMailResult::ControlChar},
        {"negative copper", {"1", "t", "c", "-5", "0"}, {}, SendMailResult::Negative},
        {"negative yuanbao", {"1", "t", "c", "0", "-5"}, {}, SendMailResult::Negative},
        {"negative before attachments",
         {"1", "t", "c", "0", "-5"},
         {"x"},
         SendMailResult::Negative},
        {"attachments", ok, {"x"}, SendMailResult::BadAttachments},
        {"23-digit copper",
         {"1", "t", "c", "12345678901234567890123", "0"},
         {},
         SendMailResult::CopperTooLarge},
        {"copper one past 64 bits",
         {"1", "t", "c", "9223372036854775808", "0"},
         {},
         SendMailResult::CopperTooLarge},
        {"copper at the 64-bit limit",
         {"1", "t", "c", "9223372036854775807", "0"},
         {},
         SendMailResult::Sent},
        {"yuanbao too large",
         {"1", "t", "c", "0", "99999999999999999999"},
         {},
         SendMailResult::YuanbaoTooLarge},
        {"an empty box before a large number",
         {"1", "", "c", "12345678901234567890123", "0"},
         {},
         SendMailResult::Incomplete},
        {"letters are no number, not a large one",
         {"1", "t", "c", "12345678901234567890123x", "0"},
         {},
         SendMailResult::Incomplete},
        {"full-width characters are no control",
         {"1", "标题", "内容！", "0", "0"},
         {},
         SendMailResult::Sent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CheckMail(c.fields, c.codes), c.expected);
    }
}

TEST(SplitRoleIds, EveryCommaSeparatesAndEmptyPiecesStay)
{
    using Ids = std::vector<std::string>;
    struct Case
    {
        const char* what;
        const char* text;
        Ids ids;
    };
    const Case cases[] = {
        {"one id", "100001", {"100001"}},
        {"spaces around commas", " 1, 2 ,3 ", {"1", "2", "3"}},
        {"two commas in a row", "1,,2", {"1", "", "2"}},
        {"comma at the end", "1,", {"1", ""}},
        {"empty text", "", {""}},
        {"full-width comma", "100004，100008", {"100004", "100008"}},
        {"full-width comma with a full-width space", "100004，　100008", {"100004", "100008"}},
        {"both commas mixed", "1，2,3", {"1", "2", "3"}},
        {"full-width comma at the end", "1，", {"1", ""}},
        {"full-width comma twice", "1，，2", {"1", "", "2"}},
        {"other full-width punctuation stays", "1、2", {"1、2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SplitRoleIds(c.text), c.ids);
    }
}

TEST(CheckMailToRoles, FullWidthCommasMakeAList)
{
    struct Case
    {
        const char* what;
        const char* receivers;
        SendMailResult expected;
    };
    const Case cases[] = {
        {"two ids", "100004，100008", SendMailResult::Sent},
        {"the same id twice", "100004，100004", SendMailResult::DuplicateRole},
        {"the same id across both commas", "1,2，1", SendMailResult::DuplicateRole},
        {"an empty piece", "100004，", SendMailResult::Incomplete},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CheckMailToRoles({c.receivers, "t", "c", "0", "0"}, {}), c.expected);
    }
}

} // namespace
} // namespace mrvn
