#include "audit/AuditLog.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

std::error_code NotARegularFile()
{
    return std::make_error_code(std::errc::not_supported);
}

// The one platform-specific piece: the log opened for appending, only as a regular file of
// its own name (never through a symbolic link, never a FIFO or device, never waiting), held
// under an exclusive lock while a record goes in.
#ifdef _WIN32

class LogFile
{
public:
    explicit LogFile(const std::filesystem::path& path)
    {
        // Opened on the name itself, not what a reparse point (a link) leads to.
        m_handle = CreateFileW(
            path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) {
            m_error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
            return;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileType(m_handle) != FILE_TYPE_DISK ||
            !GetFileInformationByHandle(m_handle, &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
            m_error = NotARegularFile();
            return;
        }
        OVERLAPPED at{};
        if (!LockFileEx(m_handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at)) {
            m_error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
            return;
        }
        m_locked = true;
    }
    ~LogFile()
    {
        if (m_handle == INVALID_HANDLE_VALUE)
            return;
        if (m_locked) {
            OVERLAPPED at{};
            UnlockFileEx(m_handle, 0, MAXDWORD, MAXDWORD, &at);
        }
        CloseHandle(m_handle);
    }
    const std::error_code& Error() const { return m_error; }
    // Whether the name still leads to this file (another copy may have rotated it away).
    bool IsStillNamed(const std::filesystem::path&) const { return true; }
    std::uint64_t Size() const
    {
        LARGE_INTEGER size{};
        return GetFileSizeEx(m_handle, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    }
    // Writes at the end; the bytes written, or -1.
    long long Append(std::string_view bytes)
    {
        OVERLAPPED atEnd{};
        atEnd.Offset = 0xFFFFFFFF;
        atEnd.OffsetHigh = 0xFFFFFFFF;
        DWORD written = 0;
        if (!WriteFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       &atEnd)) {
            m_error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
            return written > 0 ? static_cast<long long>(written) : -1;
        }
        return written;
    }
    void CutBackTo(std::uint64_t size)
    {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(size);
        if (SetFilePointerEx(m_handle, at, nullptr, FILE_BEGIN))
            SetEndOfFile(m_handle);
    }
    std::error_code LastError() const { return m_error; }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    bool m_locked = false;
    std::error_code m_error;
};

#else

std::error_code LastSystemError()
{
    return {errno, std::generic_category()};
}

class LogFile
{
public:
    explicit LogFile(const std::filesystem::path& path)
    {
        // O_NONBLOCK: a FIFO of the name fails at once (or is refused below) instead of
        // waiting for a reader; O_NOFOLLOW: a symbolic link of the name is refused.
        do
            m_fd =
                ::open(path.c_str(),
                       O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        while (m_fd < 0 && errno == EINTR);
        if (m_fd < 0) {
            m_error = LastSystemError();
            return;
        }
        if (::fstat(m_fd, &m_info) != 0 || !S_ISREG(m_info.st_mode)) {
            m_error = NotARegularFile();
            return;
        }
        int locked;
        do
            locked = ::flock(m_fd, LOCK_EX);
        while (locked != 0 && errno == EINTR);
        if (locked != 0)
            m_error = LastSystemError();
    }
    ~LogFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    const std::error_code& Error() const { return m_error; }
    bool IsStillNamed(const std::filesystem::path& path) const
    {
        struct stat named
        {
        };
        return ::lstat(path.c_str(), &named) == 0 && named.st_dev == m_info.st_dev &&
               named.st_ino == m_info.st_ino;
    }
    std::uint64_t Size() const
    {
        struct stat info
        {
        };
        return ::fstat(m_fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    }
    long long Append(std::string_view bytes)
    {
        for (;;) {
            const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                m_error = LastSystemError();
            return n;
        }
    }
    void CutBackTo(std::uint64_t size)
    {
        while (::ftruncate(m_fd, static_cast<off_t>(size)) != 0 && errno == EINTR) {
        }
    }
    std::error_code LastError() const { return m_error; }

private:
    int m_fd = -1;
    struct stat m_info
    {
    };
    std::error_code m_error;
};

#endif

std::filesystem::path RotatedName(const std::filesystem::path& log, int number)
{
    return std::filesystem::path(log.native() +
                                 std::filesystem::path("." + std::to_string(number)).native());
}

// log.8 becomes log.9 (the old log.9 is dropped), …, log becomes log.1.
std::error_code Rotate(const std::filesystem::path& log)
{
    std::error_code error;
    std::filesystem::remove(RotatedName(log, kAuditLogGenerations), error);
    if (error)
        return error;
    for (int number = kAuditLogGenerations - 1; number >= 1; --number) {
        // A generation that is missing leaves a gap; the others move on all the same.
        std::error_code missing;
        std::filesystem::rename(RotatedName(log, number), RotatedName(log, number + 1), missing);
    }
    std::filesystem::rename(log, RotatedName(log, 1), error);
    return error;
}

void PutZone(nlohmann::ordered_json& record, const AuditZone& zone)
{
    record["zone"] = zone.name;
    record["server"] = zone.server;
    record["database"] = zone.database;
}

} // namespace

std::string MailAuditLine(const MailAuditRecord& mail, AuditClock::time_point when)
{
    nlohmann::ordered_json record;
    record["time"] = UtcTimeText(when);
    record["kind"] = "mail";
    PutZone(record, mail.zone);
    record["receiver"] = mail.receiver;
    record["title"] = mail.title;
    record["content"] = mail.content;
    record["copper"] = mail.copper;
    record["yuanbao"] = mail.yuanbao;
    record["attachments"] = mail.attachments;
    record["id"] = mail.id ? nlohmann::ordered_json(*mail.id) : nlohmann::ordered_json();
    if (mail.createMs != 0)
        record["create_time"] = mail.createMs;
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

std::string MailBatchAuditLine(const MailBatchAuditRecord& batch, AuditClock::time_point when)
{
    nlohmann::ordered_json record;
    record["time"] = UtcTimeText(when);
    record["kind"] = "mail-batch";
    record["send"] = batch.send;
    if (!batch.resendOf.empty())
        record["resend_of"] = batch.resendOf;
    PutZone(record, batch.zone);
    record["title"] = batch.title;
    record["content"] = batch.content;
    record["copper"] = batch.copper;
    record["yuanbao"] = batch.yuanbao;
    record["attachments"] = batch.attachments;
    record["create_time"] = batch.createMs;
    nlohmann::ordered_json receivers = nlohmann::ordered_json::array();
    std::size_t sent = 0;
    std::size_t unknown = 0;
    for (const MailBatchAuditRecord::Receiver& receiver : batch.receivers) {
        nlohmann::ordered_json entry;
        entry["role"] = receiver.roleId;
        entry["id"] = receiver.id ? nlohmann::ordered_json(*receiver.id) : nlohmann::ordered_json();
        entry["outcome"] = receiver.outcome;
        receivers.push_back(std::move(entry));
        sent += receiver.outcome == "sent";
        unknown += receiver.outcome == "unknown";
    }
    record["receivers"] = std::move(receivers);
    const std::size_t count = batch.receivers.size();
    record["ok"] = sent == count;
    record["outcome"] = sent == count         ? "sent"
                        : unknown == count    ? "unknown"
                        : sent + unknown == 0 ? "not sent"
                                              : "mixed";
    if (batch.checked)
        record["checked"] = true;
    if (sent != count) {
        record["errno"] = batch.errorNumber;
        record["error"] = batch.error;
    }
    return Dump(record);
}

std::string NewSendId(AuditClock::time_point when)
{
    // The moment to the millisecond and 64 random bits: two copies of the tool sending in
    // the same millisecond still differ.
    std::random_device device;
    const std::uint64_t random =
        (static_cast<std::uint64_t>(device()) << 32) ^ static_cast<std::uint64_t>(device());
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random));
    std::string id = UtcTimeText(when);
    id.erase(std::remove_if(id.begin(), id.end(), [](char c) { return c == '-' || c == ':'; }),
             id.end());
    return id + "-" + text;
}

std::string CleanupAuditLine(const CleanupAuditRecord& statement, AuditClock::time_point when)
{
    nlohmann::ordered_json record;
    record["time"] = UtcTimeText(when);
    record["kind"] = "cleanup";
    PutZone(record, statement.zone);
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
    // A second and third round only after a rotation (ours or another copy's).
    for (int round = 0; round < 3; ++round) {
        LogFile file(logPath);
        if (file.Error())
            return {file.Error()};
        // Another copy rotated the log between our open and our lock: the record goes to
        // the new file of the name.
        if (round < 2 && !file.IsStillNamed(logPath))
            continue;
        const std::uint64_t start = file.Size();
        if (round < 2 && start > 0 && start + bytes.size() > kAuditLogRotateBytes) {
            // Still under the lock, so no other copy appends to or rotates the old file.
            if (const std::error_code error = Rotate(logPath))
                return {error};
            continue;
        }
        // One write per record: with O_APPEND a line never interleaves with another writer's.
        const long long written = file.Append(bytes);
        if (written == static_cast<long long>(bytes.size()))
            return {};
        // Half a record would glue the next one to it: the file goes back to where it began.
        if (written > 0)
            file.CutBackTo(start);
        const std::error_code error = file.LastError();
        return {error ? error : std::make_error_code(std::errc::io_error)};
    }
    return {std::make_error_code(std::errc::resource_unavailable_try_again)};
}

AuditResult AuditMailSend(const std::filesystem::path& logPath, const MailAuditRecord& mail,
                          AuditClock::time_point when)
{
    return AppendAuditLine(logPath, MailAuditLine(mail, when));
}

AuditResult AuditMailBatch(const std::filesystem::path& logPath, const MailBatchAuditRecord& batch,
                           AuditClock::time_point when)
{
    return AppendAuditLine(logPath, MailBatchAuditLine(batch, when));
}

AuditResult AuditCleanupStatement(const std::filesystem::path& logPath,
                                  const CleanupAuditRecord& statement, AuditClock::time_point when)
{
    return AppendAuditLine(logPath, CleanupAuditLine(statement, when));
}

} // namespace mrvn
