#include "audit/AuditLog.h"
#include "CaseRows.h"

#include <nlohmann/json.hpp>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace mrvn {
namespace {

using nlohmann::json;

std::vector<std::string> Lines(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// 2026-12-09 02:29:15.042 UTC.
AuditClock::time_point SomeMoment()
{
    using namespace std::chrono;
    return sys_days{year{2026} / 12 / 9} + hours{2} + minutes{29} + seconds{15} + milliseconds{42};
}

class AuditLogTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }
    std::filesystem::path Log() const
    {
        return std::filesystem::path(m_folder.path().toStdString()) / kAuditLogFileName;
    }
    QTemporaryDir m_folder;
};

MailAuditRecord SomeMail()
{
    MailAuditRecord mail;
    mail.receiver = "100001";
    mail.title = "系统邮件";
    mail.content = "第一行\n\"引号\" \\ 反斜杠\t制表";
    mail.copper = 1000;
    mail.yuanbao = -5;
    mail.attachments = {R"({\"goodsId\":\"10001\",\"count\":1})", "{\"a\":\"b\"}"};
    mail.id = 424;
    mail.sent = true;
    mail.zone = {"二区", "10.0.0.5:3306", "mrvn2"};
    return mail;
}

TEST_F(AuditLogTest, AMailRecordReadsBackFieldByField)
{
    ASSERT_TRUE(AuditMailSend(Log(), SomeMail(), SomeMoment()));
    MailAuditRecord failed = SomeMail();
    failed.sent = false;
    failed.id.reset();
    failed.attachments.clear();
    failed.errorNumber = 1146;
    failed.error = "Table 'mrvn.system_email' doesn't exist";
    ASSERT_TRUE(AuditMailSend(Log(), failed, SomeMoment()));

    const std::vector<std::string> lines = Lines(Log());
    ASSERT_EQ(lines.size(), 2u);
    const json sent = json::parse(lines[0]);
    const MailAuditRecord mail = SomeMail();
    EXPECT_EQ(sent.at("time"), "2026-12-09T02:29:15.042Z");
    EXPECT_EQ(sent.at("kind"), "mail");
    EXPECT_EQ(sent.at("zone"), "二区");
    EXPECT_EQ(sent.at("server"), "10.0.0.5:3306");
    EXPECT_EQ(sent.at("database"), "mrvn2");
    EXPECT_EQ(sent.at("receiver"), mail.receiver);
    EXPECT_EQ(sent.at("title"), mail.title);
    EXPECT_EQ(sent.at("content"), mail.content);
    EXPECT_EQ(sent.at("copper"), 1000);
    EXPECT_EQ(sent.at("yuanbao"), -5);
    EXPECT_EQ(sent.at("attachments"), json(mail.attachments));
    EXPECT_EQ(sent.at("id"), 424);
    EXPECT_EQ(sent.at("ok"), true);
    EXPECT_FALSE(sent.contains("error"));

    const json refused = json::parse(lines[1]);
    EXPECT_EQ(refused.at("ok"), false);
    EXPECT_TRUE(refused.at("id").is_null());
    EXPECT_EQ(refused.at("attachments"), json::array());
    EXPECT_EQ(refused.at("errno"), 1146);
    EXPECT_EQ(refused.at("error"), failed.error);
}

TEST_F(AuditLogTest, ACleanupRecordReadsBackFieldByField)
{
    CleanupAuditRecord done{"role_email", "delete FROM `role_email`", true, 423, 0, {}, 0, {}, -1};
    CleanupAuditRecord refused{"user_role",
                               "delete FROM `user_role` where DATE_SUB(CURDATE(), INTERVAL 3 DAY) "
                               ">= date(log_update_time);",
                               false,
                               -1,
                               1054,
                               "Unknown column 'log_update_time' in 'where clause'",
                               0,
                               {},
                               -1,
                               {"一区", "127.0.0.1:3306", "mrvn"}};
    ASSERT_TRUE(AuditCleanupStatement(Log(), done, SomeMoment()));
    ASSERT_TRUE(AuditCleanupStatement(Log(), refused, SomeMoment()));

    const std::vector<std::string> lines = Lines(Log());
    ASSERT_EQ(lines.size(), 2u);
    const json first = json::parse(lines[0]);
    EXPECT_EQ(first.at("kind"), "cleanup");
    EXPECT_EQ(first.at("time"), "2026-12-09T02:29:15.042Z");
    EXPECT_EQ(first.at("table"), "role_email");
    EXPECT_EQ(first.at("statement"), done.statement);
    EXPECT_EQ(first.at("ok"), true);
    EXPECT_EQ(first.at("affected"), 423);
    const json second = json::parse(lines[1]);
    EXPECT_EQ(second.at("ok"), false);
    EXPECT_EQ(second.at("zone"), "一区");
    EXPECT_EQ(second.at("server"), "127.0.0.1:3306");
    EXPECT_EQ(second.at("database"), "mrvn");
    EXPECT_FALSE(second.contains("affected"));
    EXPECT_EQ(second.at("errno"), 1054);
    EXPECT_EQ(second.at("error"), refused.error);
}

// Whatever bytes a field holds, every line stays one valid JSON object in UTF-8.
TEST_F(AuditLogTest, AnyBytesGiveOneValidLine)
{
    struct Case
    {
        const char* what;
        std::string text;
        std::string readBack;
    };
    const Case cases[] = {
        {"plain", "abc", "abc"},
        {"chinese", "清理完成！", "清理完成！"},
        {"line ends", "a\r\nb\nc", "a\r\nb\nc"},
        {"quotes and backslashes", "\"'\\`", "\"'\\`"},
        {"control bytes", std::string("a\x01\x1f\x7f", 4), std::string("a\x01\x1f\x7f", 4)},
        {"zero byte", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"GBK bytes", "\xC7\xE5\xC0\xED", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"lone continuation", "a\x80z", "a\xEF\xBF\xBDz"},
        {"cut sequence", "ab\xE6\xB8", "ab\xEF\xBF\xBD"},
        {"overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    mrvn::test::ForEachRow(cases, &Case::what, [&](const Case& c) {
        std::filesystem::remove(Log());
        CleanupAuditRecord record{
            c.text, "delete FROM `" + c.text + "`", false, -1, 1, c.text, 0, {}, -1};
        MailAuditRecord mail = SomeMail();
        mail.title = c.text;
        mail.attachments = {c.text};
        ASSERT_TRUE(AuditCleanupStatement(Log(), record));
        ASSERT_TRUE(AuditMailSend(Log(), mail));
        const std::string bytes = Bytes(Log());
        const std::vector<std::string> lines = Lines(Log());
        ASSERT_EQ(lines.size(), 2u);
        ASSERT_EQ(bytes.back(), '\n');
        json cleanup, sent;
        ASSERT_NO_THROW(cleanup = json::parse(lines[0]));
        ASSERT_NO_THROW(sent = json::parse(lines[1]));
        EXPECT_EQ(cleanup.at("table").get<std::string>(), c.readBack);
        EXPECT_EQ(cleanup.at("error").get<std::string>(), c.readBack);
        EXPECT_EQ(sent.at("title").get<std::string>(), c.readBack);
        EXPECT_EQ(sent.at("attachments").at(0).get<std::string>(), c.readBack);
    });
}

TEST_F(AuditLogTest, AppendsAfterWhatIsThereAndKeepsIt)
{
    {
        std::ofstream out(Log(), std::ios::binary);
        out << "{\"kind\":\"earlier\"}\n";
    }
    ASSERT_TRUE(AuditCleanupStatement(Log(), {"t", "delete FROM `t`", true, 0, 0, {}, 0, {}, -1}));
    const std::vector<std::string> lines = Lines(Log());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "{\"kind\":\"earlier\"}");
    EXPECT_EQ(json::parse(lines[1]).at("table"), "t");
}

#ifndef _WIN32
TEST_F(AuditLogTest, ANewLogIsReadableByItsOwnerOnly)
{
    // Even with a permissive umask the new file is not readable by others.
    const mode_t previous = ::umask(0);
    const AuditResult result = AuditMailSend(Log(), SomeMail());
    ::umask(previous);
    ASSERT_TRUE(result);
    struct stat info
    {
    };
    ASSERT_EQ(::stat(Log().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600);
}
#endif

TEST_F(AuditLogTest, AnAppendThatCannotBeWrittenSaysSo)
{
    struct Case
    {
        const char* what;
        std::filesystem::path path;
    };
    const std::filesystem::path folder = Log().parent_path();
    std::filesystem::create_directory(folder / "a folder");
    const Case cases[] = {
        {"the path is a folder", folder / "a folder"},
        {"the folder does not exist", folder / "missing" / kAuditLogFileName},
        {"empty path", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AuditResult cleanup =
            AuditCleanupStatement(c.path, {"t", "delete FROM `t`", true, 0, 0, {}, 0, {}, -1});
        EXPECT_FALSE(cleanup);
        EXPECT_TRUE(cleanup.error);
        EXPECT_FALSE(AuditMailSend(c.path, SomeMail()));
    }
}

TEST_F(AuditLogTest, OnlyARegularFileOfItsOwnNameIsWrittenAndNothingWaits)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs POSIX FIFOs and symbolic links";
#else
    const std::filesystem::path target = Log().parent_path() / "target.log";
    struct Case
    {
        const char* what;
        std::function<void()> make;
    };
    int reader = -1;
    const Case cases[] = {
        {"a FIFO nobody reads", [&] { ASSERT_EQ(::mkfifo(Log().c_str(), 0600), 0); }},
        {"a FIFO with a reader",
         [&] {
             ASSERT_EQ(::mkfifo(Log().c_str(), 0600), 0);
             reader = ::open(Log().c_str(), O_RDONLY | O_NONBLOCK);
             ASSERT_GE(reader, 0);
         }},
        {"a link to a file",
         [&] {
             std::ofstream(target, std::ios::binary) << "{\"kind\":\"other\"}\n";
             std::filesystem::create_symlink(target, Log());
         }},
        {"a link to nowhere", [&] { std::filesystem::create_symlink(target, Log()); }},
    };
    test::ForEachRow(cases, &Case::what, [&](const Case& c) {
        std::filesystem::remove(Log());
        std::filesystem::remove(target);
        c.make();
        const std::string targetBefore = Bytes(target);
        const AuditResult result = AuditMailSend(Log(), SomeMail());
        EXPECT_FALSE(result);
        EXPECT_EQ(Bytes(target), targetBefore);
        if (reader >= 0) {
            char byte;
            EXPECT_LT(::read(reader, &byte, 1), 1);
            ::close(reader);
            reader = -1;
        }
    });
#endif
}

TEST_F(AuditLogTest, AShortWriteLeavesOnlyWholeLines)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs POSIX file size limits";
#else
    ASSERT_TRUE(AuditMailSend(Log(), SomeMail()));
    const std::string before = Bytes(Log());
    MailAuditRecord longMail = SomeMail();
    longMail.content = std::string(4000, 'x');
    // A child whose files may grow by 100 bytes only: the record is written in part, as on a
    // full disk.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(before.size() + 100),
                           static_cast<rlim_t>(before.size() + 100)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(AuditMailSend(Log(), longMail) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the short write was reported as written";
    EXPECT_EQ(Bytes(Log()), before);

    ASSERT_TRUE(AuditMailSend(Log(), SomeMail()));
    const std::vector<std::string> lines = Lines(Log());
    EXPECT_EQ(lines.size(), 2u);
    for (const std::string& line : lines)
        EXPECT_TRUE(json::accept(line)) << line;
#endif
}

TEST_F(AuditLogTest, RotatesBeforePassingTheLimit)
{
    const std::string line = MailAuditLine(SomeMail(), SomeMoment());
    const std::uint64_t record = line.size() + 1;
    struct Case
    {
        const char* what;
        std::uint64_t size;
        bool rotated;
    };
    const Case cases[] = {
        {"the record just fits", kAuditLogRotateBytes - record, false},
        {"one byte more", kAuditLogRotateBytes - record + 1, true},
    };
    const auto generation = [&](int n) {
        return std::filesystem::path(Log().string() + "." + std::to_string(n));
    };
    test::ForEachRow(cases, &Case::what, [&](const Case& c) {
        for (int n = 1; n <= kAuditLogGenerations; ++n)
            std::ofstream(generation(n), std::ios::binary) << "generation " << n << "\n";
        std::filesystem::remove(Log());
        std::ofstream(Log(), std::ios::binary) << "{}\n";
        std::filesystem::resize_file(Log(), c.size);

        ASSERT_TRUE(AuditMailSend(Log(), SomeMail(), SomeMoment()));
        if (!c.rotated) {
            EXPECT_EQ(std::filesystem::file_size(Log()), kAuditLogRotateBytes);
            EXPECT_EQ(Bytes(generation(1)), "generation 1\n");
            return;
        }
        EXPECT_EQ(Bytes(Log()), line + "\n");
        EXPECT_EQ(std::filesystem::file_size(generation(1)), c.size);
        for (int n = 2; n <= kAuditLogGenerations; ++n)
            EXPECT_EQ(Bytes(generation(n)), "generation " + std::to_string(n - 1) + "\n");
        EXPECT_FALSE(std::filesystem::exists(generation(kAuditLogGenerations + 1)));
    });
}

} // namespace
} // namespace mrvn
