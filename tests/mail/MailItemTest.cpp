#include "mail/MailItem.h"
#include "mail/MailDispatch.h"

#include "CaseRows.h"
#include "TestDb.h"
#include "text/TextUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mrvn {
namespace {

// 2014-07-06 04:00:00 UTC, i.e. 12:00 on a UTC+8 clock.
constexpr std::time_t kNow = 1404619200;

MailItemFields PlainExample()
{
    // Item 10001, count 5, "紫", "绑定", use level 1, unlimited.
    return MailItemFields{"0", "10001", "5", "1", 3, 1, false, 0};
}

TEST(MailItemTemplates, HaveTheirByteLengthsInTheSystemCodePage)
{
    EXPECT_EQ(Utf8ToGbk(kEquipmentTemplate).size(), 314u);
    EXPECT_EQ(Utf8ToGbk(kPlainItemTemplate).size(), 181u);
}

TEST(CheckMailItemFields, RefusesInTheOrderOfThePage)
{
    struct Case
    {
        const char* days;
        const char* itemId;
        const char* count;
        const char* useLevel;
        MailItemCheck expected;
    };
    const Case cases[] = {
        {"0", "10001", "5", "1", MailItemCheck::Ok},
        {"", "10001", "5", "1", MailItemCheck::Incomplete},
        {" 　", "10001", "5", "1", MailItemCheck::Incomplete},
        {"0", "  ", "5", "1", MailItemCheck::Incomplete},
        {"0", "10001", "", "1", MailItemCheck::Incomplete},
        {"0", "10001", "5", "　", MailItemCheck::Incomplete},
        // An empty field wins over a forbidden id: the fields are read first.
        {"0", "1|2", "", "1", MailItemCheck::Incomplete},
        {"0", "10001", "-", "1", MailItemCheck::Incomplete},
        {"0", "10001", "5", "abc", MailItemCheck::Incomplete},
        {"x", "10001", "5", "1", MailItemCheck::Incomplete},
        {"0", "10001", "+5", "1", MailItemCheck::Incomplete},
        {"0", "10001", "2147483648", "1", MailItemCheck::CountTooLarge},
        {"0", "10001", "5", "99999999999999999999999", MailItemCheck::UseLevelTooLarge},
        {"2147483648", "10001", "5", "1", MailItemCheck::DaysTooLarge},
        {"2147483648", "10001", "2147483648", "1", MailItemCheck::CountTooLarge},
        {"", "10001", "2147483648", "1", MailItemCheck::Incomplete},
        {"0", "10001", "5", "-2147483649", MailItemCheck::Incomplete},
        {"0", "10001", "2147483647", "0", MailItemCheck::Ok},
        {"0", "10001", "-5", "1", MailItemCheck::Negative},
        {"0", "10001", "5", "-3", MailItemCheck::Negative},
        {"-3", "10001", "5", "1", MailItemCheck::Negative},
        {" - 3", "10001", "5", "1", MailItemCheck::Negative},
        {"0", "10001", "-0", "1", MailItemCheck::Negative},
        {"0", "10001", "5", "-2147483648", MailItemCheck::Negative},
        {"0", "1|2", "-5", "1", MailItemCheck::Negative},
        {"1 0", "100 01", " 5", "1　", MailItemCheck::Ok},
        {"0", "10|001", "5", "1", MailItemCheck::Forbidden},
        {"0", "a\"b\\c'd", "5", "1", MailItemCheck::Ok},
    };
    for (const Case& c : cases) {
        MailItemFields fields{c.days, c.itemId, c.count, c.useLevel};
        EXPECT_EQ(CheckMailItemFields(fields), c.expected)
            << c.days << " / " << c.itemId << " / " << c.count << " / " << c.useLevel;
    }
}

TEST(CheckItemName, RefusesEmptyAndSeparator)
{
    const std::pair<const char*, ItemNameCheck> cases[] = {
        {"", ItemNameCheck::Empty},        {"  　 ", ItemNameCheck::Empty},
        {"a|b", ItemNameCheck::Forbidden}, {" | ", ItemNameCheck::Forbidden},
        {" 神 剑 ", ItemNameCheck::Ok},    {"10001", ItemNameCheck::Ok},
    };
    for (const auto& [typed, expected] : cases)
        EXPECT_EQ(CheckItemName(typed), expected) << typed;
}

TEST(BuildStarList, CountsUpToTenStars)
{
    const std::pair<int, const char*> cases[] = {
        {-5, ""},
        {-1, ""},
        {0, "[0,0]"},
        {1, "[1,1]"},
        {3, "[1,1],[2,1],[3,1]"},
        {10, "[1,1],[2,1],[3,1],[4,1],[5,1],[6,1],[7,1],[8,1],[9,1],[10,1]"},
        {11, "[1,1],[2,1],[3,1],[4,1],[5,1],[6,1],[7,1],[8,1],[9,1],[10,1]"},
        {1000, "[1,1],[2,1],[3,1],[4,1],[5,1],[6,1],[7,1],[8,1],[9,1],[10,1]"},
    };
    for (const auto& [level, expected] : cases)
        EXPECT_EQ(BuildStarList(level), expected) << level;
}

TEST(ItemIdLiteral, EscapesForJsonThenForTheLiteral)
{
    const std::pair<const char*, const char*> cases[] = {
        {"10001", "10001"},   {"a\"b", R"(a\\\"b)"},  {"a\\b", R"(a\\\\b)"}, {"a'b", R"(a\'b)"},
        {"\t", R"(\\u0009)"}, {"\x1f", R"(\\u001f)"}, {"剑", "剑"},
    };
    for (const auto& [id, expected] : cases)
        EXPECT_EQ(ItemIdLiteral(id), expected) << id;
}

TEST(AttachmentJson, PlainExampleFillsThePlainTemplate)
{
    EXPECT_EQ(AttachmentJson(PlainExample(), kNow),
              R"({\"bind\":1,\"expireTime\":0,\"expired\":false,\"goodsCount\":5,)"
              R"(\"goodsId\":\"10001\",\"itemLevel\":1,\"notice\":false,\"rareLevel\":3,)"
              R"(\"slotNum\":0})");
}

TEST(AttachmentJson, EquipmentAtPlusThreeFillsTheEquipmentTemplate)
{
    MailItemFields fields = PlainExample();
    fields.equipment = true;
    fields.enhance = 3;
    fields.bind = 0;
    fields.grade = 5;
    EXPECT_EQ(AttachmentJson(fields, kNow),
              R"({\"attributes\":\"{\\\"fjattrstr\\\":\\\"{}\\\",\\\"jjfailcount\\\":0,)"
              R"(\\\"qhcount\\\":3,\\\"qhxingxing\\\":\\\"[[1,1],[2,1],[3,1]]\\\"}\",)"
              R"(\"bind\":0,\"expireTime\":0,\"expired\":false,\"goodsCount\":5,)"
              R"(\"goodsId\":\"10001\",\"itemLevel\":1,\"notice\":false,\"rareLevel\":5,)"
              R"(\"slotNum\":0})");
}

TEST(AttachmentJson, ExpiryCountsWholeDaysFromNowAndOnlyZeroIsUnlimited)
{
    const std::int64_t nowMs = std::int64_t{kNow} * 1000;
    const std::pair<const char*, std::int64_t> cases[] = {
        {"0", 0},
        {" 0 ", 0},
        {"00", nowMs},
        {"-0", nowMs},
        {"7", nowMs + 7 * 86400000LL},
        {"1", nowMs + 86400000LL},
        {"-1", nowMs - 86400000LL},
        {"36500", nowMs + 36500 * 86400000LL},
    };
    for (const auto& [days, expected] : cases) {
        MailItemFields fields = PlainExample();
        fields.days = days;
        const std::string json = AttachmentJson(fields, kNow);
        EXPECT_NE(json.find(R"(\"expireTime\":)" + std::to_string(expected) + ","),
                  std::string::npos)
            << days << ": " << json;
    }
}

TEST(AttachmentJson, NumbersAreWrittenAsTheirDecimalValue)
{
    MailItemFields fields = PlainExample();
    fields.count = "0 5";
    fields.useLevel = "-007";
    const std::string json = AttachmentJson(fields, kNow);
    EXPECT_NE(json.find(R"(\"goodsCount\":5,)"), std::string::npos) << json;
    EXPECT_NE(json.find(R"(\"itemLevel\":-7,)"), std::string::npos) << json;
}

// Stored through SendMail and read back by the server's own JSON functions.
class StoredAttachment : public ::testing::Test
{
protected:
    test::ScratchDatabase m_scratch;

    // Sends one mail with these entries and returns the id of the new row.
    std::string Send(const std::vector<std::string>& codes)
    {
        const MailFields fields{"10086", "系统邮件", "内容", "0", "0"};
        EXPECT_EQ(SendMail(m_scratch.Db(), fields, codes, kNow), SendMailResult::Sent)
            << m_scratch.Db().LastErrorText();
        return m_scratch.Scalar("SELECT MAX(id) FROM system_email");
    }
    std::string Member(const std::string& id, const std::string& path)
    {
        return m_scratch.Scalar("SELECT JSON_UNQUOTE(JSON_EXTRACT(attachments, '" + path +
                                "')) FROM system_email WHERE id=" + id);
    }
    std::string Valid(const std::string& id)
    {
        return m_scratch.Scalar("SELECT JSON_VALID(attachments) FROM system_email WHERE id=" + id);
    }
};

TEST_F(StoredAttachment, PlainExampleIsValidJsonWithItsMembers)
{
    const std::string id = Send({AttachmentJson(PlainExample(), kNow)});
    EXPECT_EQ(Valid(id), "1");
    const std::pair<const char*, const char*> members[] = {
        {"$[0].bind", "1"},       {"$[0].expireTime", "0"},  {"$[0].expired", "false"},
        {"$[0].goodsCount", "5"}, {"$[0].goodsId", "10001"}, {"$[0].itemLevel", "1"},
        {"$[0].notice", "false"}, {"$[0].rareLevel", "3"},   {"$[0].slotNum", "0"},
        {"$[0].attributes", ""},
    };
    for (const auto& [path, expected] : members)
        EXPECT_EQ(Member(id, path), expected) << path;
    EXPECT_EQ(m_scratch.Scalar("SELECT JSON_LENGTH(attachments, '$[0]') FROM system_email"), "9");
}

TEST_F(StoredAttachment, EquipmentAttributesHoldTheEnhancementAndItsStars)
{
    const std::pair<int, const char*> cases[] = {
        {0, "[[0,0]]"},
        {3, "[[1,1],[2,1],[3,1]]"},
        {11, "[[1,1],[2,1],[3,1],[4,1],[5,1],[6,1],[7,1],[8,1],[9,1],[10,1]]"},
    };
    mrvn::test::ForEachPair(cases, [&](const auto& enhance, const auto& stars) {
        MailItemFields fields = PlainExample();
        fields.equipment = true;
        fields.enhance = enhance;
        const std::string id = Send({AttachmentJson(fields, kNow)});
        ASSERT_EQ(Valid(id), "1") << enhance;
        const std::string attributes = Member(id, "$[0].attributes");
        const std::string inner = "'" + EscapeSqlLiteral(attributes) + "'";
        EXPECT_EQ(m_scratch.Scalar("SELECT JSON_VALID(" + inner + ")"), "1") << attributes;
        auto attribute = [&](const char* path) {
            return m_scratch.Scalar("SELECT JSON_UNQUOTE(JSON_EXTRACT(" + inner + ", '" + path +
                                    "'))");
        };
        EXPECT_EQ(attribute("$.qhcount"), std::to_string(enhance));
        EXPECT_EQ(attribute("$.qhxingxing"), stars);
        EXPECT_EQ(attribute("$.fjattrstr"), "{}");
        EXPECT_EQ(attribute("$.jjfailcount"), "0");
        EXPECT_EQ(Member(id, "$[0].goodsId"), "10001");
        EXPECT_EQ(Member(id, "$[0].rareLevel"), "3");
    });
}

TEST_F(StoredAttachment, ExpiryIsStoredAsANumber)
{
    const std::pair<const char*, std::int64_t> cases[] = {
        {"7", (std::int64_t{kNow} + 7 * 86400) * 1000},
        {"00", std::int64_t{kNow} * 1000},
    };
    mrvn::test::ForEachPair(cases, [&](const auto& days, const auto& expected) {
        MailItemFields fields = PlainExample();
        fields.days = days;
        const std::string id = Send({AttachmentJson(fields, kNow)});
        EXPECT_EQ(Valid(id), "1");
        EXPECT_EQ(Member(id, "$[0].expireTime"), std::to_string(expected)) << days;
        EXPECT_EQ(m_scratch.Scalar("SELECT JSON_TYPE(JSON_EXTRACT(attachments, "
                                   "'$[0].expireTime')) FROM system_email WHERE id=" +
                                   id),
                  "INTEGER");
    });
}

TEST_F(StoredAttachment, ItemIdsWithQuotesAndBackslashesComeBackAsTyped)
{
    const std::pair<const char*, const char*> cases[] = {
        {"100 01", "10001"}, {"　10001　", "10001"}, {"a\"b", "a\"b"}, {"a\\b", "a\\b"},
        {"it's", "it's"},    {"\\\"'\\", "\\\"'\\"}, {"x\ty", "x\ty"}, {"神剑\\n", "神剑\\n"},
        {"@物品等级", "3"}, // substituted again by the later placeholder, as it always was
    };
    mrvn::test::ForEachPair(cases, [&](const auto& typed, const auto& stored) {
        MailItemFields fields = PlainExample();
        fields.itemId = typed;
        ASSERT_EQ(CheckMailItemFields(fields), MailItemCheck::Ok) << typed;
        const std::string id = Send({AttachmentJson(fields, kNow)});
        EXPECT_EQ(Valid(id), "1") << typed;
        EXPECT_EQ(Member(id, "$[0].goodsId"), stored) << typed;
    });
}

} // namespace
} // namespace mrvn
