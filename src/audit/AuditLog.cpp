#include "audit/AuditLog.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace mrvn {

namespace {

std::string UtcTimeText(AuditClock::time_point when)
{
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(when);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss time{ms - day};
    char text[40];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

std::string Dump(const nlohmann::ordered_json& record)
{
    // Texts from the page and the server are not always UTF-8 (a role id pasted from
    // elsewhere, a server message in another code page); they are kept, readably repaired,
    // instead of losing the whole record.
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

#ifdef _WIN32
int OpenForAppend(const std::filesystem::path& path)
{
    int fd = -1;
    if (::_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _SH_DENYNO,
                    _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}
int WriteSome(int fd, const char* data, std::size_t size)
{
    return ::_write(fd, data, static_cast<unsigned>(size));
}
int CloseFile(int fd)
{
    return ::_close(fd);
}
#else
int OpenForAppend(const std::filesystem::path& path)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    return fd;
}
long WriteSome(int fd, const char* data, std::size_t size)
{
    return ::write(fd, data, size);
}
int CloseFile(int fd)
{
    return ::close(fd);
}
#endif

std::error_code LastSystemError()
{
    return {errno, std::generic_category()};
}

} // namespace

std::string MailAuditLine(const MailAuditRecord& mail, AuditClock::time_point when)
{
    nlohmann::ordered_json record;
    record["time"] = UtcTimeText(when);
    record["kind"] = "mail";
    record["receiver"] = mail.receiver;
    record["title"] = mail.title;
    record["content"] = mail.content;
    record["copper"] = mail.copper;
    record["yuanbao"] = mail.yuanbao;
    record["attachments"] = mail.attachments;
    record["id"] = mail.id ? nlohmann::ordered_json(*mail.id) : nlohmann::ordered_json();
    record["ok"] = mail.sent;
    record["outcome"] = mail.unknown ? "unknown" : mail.sent ? "sent" : "not sent";
    if (mail.checked)
        record["checked"] = true;
    if (!mail.sent) {
        record["errno"] = mail.errorNumber;
        record["error"] = mail.error;
    }
    return Dump(record);
}

std::string CleanupAuditLine(const CleanupAuditRecord& statement, AuditClock::time_point when)
{
    nlohmann::ordered_json record;
    record["time"] = UtcTimeText(when);
    record["kind"] = "cleanup";
    record["table"] = statement.table;
    record["statement"] = statement.statement;
    record["ok"] = statement.ok;
    if (statement.ok || !statement.outcome.empty())
        record["affected"] = statement.affected;
    if (!statement.outcome.empty()) {
        record["chunks"] = statement.chunks;
        record["outcome"] = statement.outcome;
    }
    if (statement.remaining >= 0)
        record["remaining"] = statement.remaining;
    if (!statement.ok && (statement.outcome.empty() || statement.errorNumber != 0)) {
        record["errno"] = statement.errorNumber;
        record["error"] = statement.error;
    }
    return Dump(record);
}

AuditResult AppendAuditLine(const std::filesystem::path& logPath, std::string_view line)
{
    std::string bytes(line);
    bytes += '\n';
    const int fd = OpenForAppend(logPath);
    if (fd < 0)
        return {LastSystemError()};
    AuditResult result;
    // One write per record: with O_APPEND a line never interleaves with another writer's.
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const auto n = WriteSome(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            result.error = n < 0 ? LastSystemError() : std::make_error_code(std::errc::io_error);
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    if (CloseFile(fd) != 0 && !result.error)
        result.error = LastSystemError();
    return result;
}

AuditResult AuditMailSend(const std::filesystem::path& logPath, const MailAuditRecord& mail,
                          AuditClock::time_point when)
{
    return AppendAuditLine(logPath, MailAuditLine(mail, when));
}

AuditResult AuditCleanupStatement(const std::filesystem::path& logPath,
                                  const CleanupAuditRecord& statement, AuditClock::time_point when)
{
    return AppendAuditLine(logPath, CleanupAuditLine(statement, when));
}

} // namespace mrvn
