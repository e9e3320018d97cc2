#include "audit/SentMailLog.h"
#include "audit/AuditLog.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace mrvn {
namespace {

AuditClock::time_point At(int second)
{
    return AuditClock::time_point(std::chrono::seconds(1780000000 + second));
}

MailAuditRecord Single(const std::string& role, const std::string& title, bool sent)
{
    MailAuditRecord mail;
    mail.receiver = role;
    mail.title = title;
    mail.id = 7;
    mail.createMs = 1780000000000;
    mail.sent = sent;
    mail.attachments = {R"({"goodsId":"10086","goodsCount":5})"};
    return mail;
}

MailBatchAuditRecord Batch(const std::string& send, std::vector<std::string> roles,
                           const std::string& outcome, const std::string& resendOf = {})
{
    MailBatchAuditRecord batch;
    batch.send = send;
    batch.resendOf = resendOf;
    batch.zone = {"一区", "127.0.0.1:3306", "mrvn"};
    batch.title = "礼包";
    batch.attachments = {R"({"goodsId":"20\"01","goodsCount":1})"};
    std::int64_t id = 100;
    for (std::string& role : roles)
        batch.receivers.push_back({std::move(role), id++, outcome});
    return batch;
}

// The log and three of its generations (one missing between them), written as rotation
// leaves them: the oldest records in the highest number.
TEST(SentMailLog, ReadsTheGenerationsOldestFirstAndJoinsTheStatementsOfASend)
{
    QTemporaryDir dir;
    const std::filesystem::path log =
        std::filesystem::path(dir.path().toStdString()) / "mrvn-audit.log";
    const auto write = [&](const std::string& suffix, const std::vector<std::string>& lines) {
        std::ofstream out(log.string() + suffix, std::ios::binary);
        for (const std::string& line : lines)
            out << line << '\n';
    };
    write(".3", {MailAuditLine(Single("11", "最早", true), At(1)),
                 MailBatchAuditLine(Batch("s1", {"21", "22"}, "sent"), At(2))});
    // The send goes on in the next generation, with a cleanup line and a broken one between.
    write(".1", {R"({"time":"x","kind":"cleanup","table":"t"})", "{not json",
                 MailBatchAuditLine(Batch("s1", {"23"}, "unknown"), At(3))});
    write("", {MailAuditLine(Single("12", "最新", false), At(5)),
               MailBatchAuditLine(Batch("s2", {"23"}, "sent", "s1"), At(6))});

    const SentMailLog read = ReadSentMailLog(log);
    EXPECT_EQ(read.files, 3u);
    ASSERT_EQ(read.entries.size(), 4u);
    // Newest first; a send is one entry at the time of its first statement.
    EXPECT_EQ(read.entries[0].Key(), "s2");
    EXPECT_EQ(read.entries[0].resendOf, "s1");
    EXPECT_EQ(read.entries[1].title, "最新");
    EXPECT_EQ(read.entries[1].Count(SentFate::NotSent), 1u);
    const SentMailEntry& send = read.entries[2];
    EXPECT_EQ(send.Key(), "s1");
    EXPECT_EQ(send.timeMs, 1780000002000);
    const std::vector<SentReceiver> own = ReceiversOf(send);
    ASSERT_EQ(own.size(), 3u);
    EXPECT_EQ(own[2].roleId, "23");
    EXPECT_EQ(own[2].fate, SentFate::Unknown);
    EXPECT_EQ(ItemIdsOf(send), std::vector<std::string>{"20\"01"});
    EXPECT_EQ(read.entries[3].title, "最早");
    EXPECT_EQ(ReceiversOf(read.entries[3])[0].createMs, 1780000000000);

    // The resend reached 23: the send's receivers now stand all sent.
    for (const SentReceiver& receiver : CurrentReceivers(read, send))
        EXPECT_EQ(receiver.fate, SentFate::Sent) << receiver.roleId;

    struct Case
    {
        const char* what;
        SentMailQuery query;
        std::vector<std::string> keys;
    };
    const auto keys = [&](const SentMailQuery& query) {
        std::vector<std::string> found;
        for (const SentMailEntry& entry : read.entries) {
            if (Matches(entry, query))
                found.push_back(std::string(entry.title) + "/" + entry.Key().substr(0, 2));
        }
        return found;
    };
    SentMailQuery byRole;
    byRole.roleId = "23";
    EXPECT_EQ(keys(byRole), (std::vector<std::string>{"礼包/s2", "礼包/s1"}));
    byRole.roleId = "2";
    EXPECT_TRUE(keys(byRole).empty()); // a role id is found whole, not in part
    SentMailQuery byItem;
    byItem.itemId = "10086";
    EXPECT_EQ(keys(byItem), (std::vector<std::string>{"最新/ma", "最早/ma"}));
    SentMailQuery byDate;
    byDate.fromMs = 1780000002000;
    byDate.toMs = 1780000005000;
    EXPECT_EQ(keys(byDate), (std::vector<std::string>{"礼包/s1"}));
    SentMailQuery byZone;
    byZone.zone = "一区";
    EXPECT_EQ(keys(byZone).size(), 2u);
}

// A log edited by hand: receivers in forms the tool never writes read as its own form does
// (the same receivers, counts and search); a broken array drops its line. Receivers are
// written role:id:fate (Sent, Not sent, Unknown).
TEST(SentMailLog, ReceiversInAnyFormReadAsTheToolsOwn)
{
    const std::pair<const char*, const char*> cases[] = {
        {R"([{"role":"7","id":-1,"outcome":"sent"},{"role":"8","id":null,"outcome":"x"}])",
         "7:-1:S 8::N"},
        {R"([ {"role": "7", "id": 1, "outcome": "sent"} ,{"outcome":"unknown","role":"8"}])",
         "7:1:S 8::U"},
        {R"([{"role":"\u0037","id":2,"outcome":"sen\u0074"},{"role":"8\"","outcome":"x"}])",
         "7:2:S 8\"::N"},
        {R"([5,{"role":7,"id":1.5,"outcome":"sent","x":[{}]},{"role":"8","id":1e3}])", "::S 8::N"},
        {R"([{"role":"7","id":12345678901234567890,"outcome":"sent"}])", "7::S"},
        {R"([{"role":"7","id":1,"outcome":"sent"})", ""},
        {"[{\"role\":\"7\x01\",\"id\":1,\"outcome\":\"sent\"}]", ""},
    };
    for (const auto& [receivers, expected] : cases) {
        SCOPED_TRACE(receivers);
        SentMailLog log;
        ReadSentMailRecords(R"({"time":"x","kind":"mail-batch","send":"s","receivers":)" +
                                std::string(receivers) + R"(,"create_time":5})",
                            log);
        ASSERT_EQ(log.entries.size(), *expected ? 1u : 0u);
        if (!*expected)
            continue;
        const SentMailEntry& entry = log.entries[0];
        std::string read;
        std::size_t counted[3] = {};
        bool names8 = false;
        for (const SentReceiver& receiver : ReceiversOf(entry)) {
            read += (read.empty() ? "" : " ") + receiver.roleId + ":" +
                    (receiver.id ? std::to_string(*receiver.id) : "") + ":" +
                    "SNU"[static_cast<int>(receiver.fate)];
            ++counted[static_cast<int>(receiver.fate)];
            names8 = names8 || receiver.roleId == "8";
            EXPECT_EQ(receiver.createMs, 5);
        }
        EXPECT_EQ(read, expected);
        for (const SentFate fate : {SentFate::Sent, SentFate::NotSent, SentFate::Unknown})
            EXPECT_EQ(entry.Count(fate), counted[static_cast<int>(fate)]);
        // Found by a role id it names, whether read as bytes or made.
        SentMailQuery query;
        query.roleId = "8";
        EXPECT_EQ(Matches(entry, query), names8);
        query.roleId = "9";
        EXPECT_FALSE(Matches(entry, query));
    }
}

// Escaped texts (and keys) read as their text: a surrogate pair joined, a lone one U+FFFD.
TEST(SentMailLog, EscapedTextsReadAsTheirText)
{
    SentMailLog log;
    ReadSentMailRecords(
        R"({"time":"t","kind":"mail","receiver":"1\u0032",)"
        R"("ti\u0074le":"a\nb\ud83d\ude00\ud800!","attachments":["{\"goodsId\":7}"]})",
        log);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].title, "a\nb\xF0\x9F\x98\x80\xEF\xBF\xBD!");
    EXPECT_EQ(log.entries[0].Key(), "mail:t:12");
    EXPECT_EQ(ItemIdsOf(log.entries[0]), std::vector<std::string>{"7"});
}

} // namespace
} // namespace mrvn
