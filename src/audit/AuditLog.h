#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// The audit trail of the tool: every mail sent and every cleanup statement, one JSON object
// per line in UTF-8, appended to mrvn-audit.log beside config.dat. The file is opened,
// appended to and closed for every record, so nothing stays open between records and a
// record is on its way to disk when the call returns. Rules this module keeps:
// - one record is one line, written in a single append: a valid JSON object whatever bytes
//   its texts hold (invalid UTF-8 becomes U+FFFD), so the file can be read line by line;
// - the log is only ever appended to; what is in it stays, until it passes
//   kAuditLogRotateBytes: then it is renamed mrvn-audit.log.1 (an older .1 becomes .2, and
//   so on; the oldest, .9, is dropped) and a new log begins;
// - only a regular file of that very name is written: a symbolic link, a FIFO or a device
//   is refused without waiting (as a failed append), never followed or blocked on;
// - a record that could be written only in part (a full disk) is cut off again, so the
//   file always ends with a whole line;
// - the file is created readable and writable by its owner only (0600), as it names the
//   roles mailed and the tables emptied;
// - a failed append is reported to the caller, which tells the operator after the mail or
//   the cleanup it records; it never stops them.
namespace mrvn {

inline constexpr char kAuditLogFileName[] = "mrvn-audit.log";
// A record that would take the log past this size goes to a new log.
inline constexpr std::uint64_t kAuditLogRotateBytes = 16 * 1024 * 1024;
// mrvn-audit.log.1 … .9 are kept.
inline constexpr int kAuditLogGenerations = 9;

using AuditClock = std::chrono::system_clock;

// What an append did: no error, or the reason the line could not be written whole.
struct AuditResult
{
    std::error_code error;
    explicit operator bool() const { return !error; }
};

// The zone (game server) a record's work went to, as it was connected: its name, the server
// as "host:port" and the database. Every record names it.
struct AuditZone
{
    std::string name;
    std::string server;
    std::string database;
};

// One mail handed to the server, successful or not.
struct MailAuditRecord
{
    std::string receiver; // the receiving role id as sent
    std::string title;
    std::string content;
    std::int64_t copper = 0;
    std::int64_t yuanbao = 0;
    std::vector<std::string> attachments; // the attachment texts as they went into the mail
    std::optional<std::int64_t> id;       // the id the mail got, or was to get
    std::int64_t createMs = 0;            // its create_time: with the id, what finds the row
    bool sent = false;
    // The answer to the insert was lost: `sent` is what a look-up by id found afterwards,
    // unless `unknown` (the look-up could not tell either).
    bool checked = false;
    bool unknown = false;
    unsigned errorNumber = 0; // the server's error number and text when !sent
    std::string error;
    AuditZone zone = {};
};

// One multi-row INSERT of a mail to many roles: every receiver with its id and what became
// of its row. All statements of one send share `send`; a resend names the send it completes.
struct MailBatchAuditRecord
{
    std::string send;
    std::string resendOf;
    AuditZone zone = {};
    std::string title;
    std::string content;
    std::int64_t copper = 0;
    std::int64_t yuanbao = 0;
    std::vector<std::string> attachments;
    std::int64_t createMs = 0;
    struct Receiver
    {
        std::string roleId;
        std::optional<std::int64_t> id;
        std::string outcome; // "sent", "not sent" or "unknown"
    };
    std::vector<Receiver> receivers;
    // The statement failed or its answer was lost, and its rows were looked up by id.
    bool checked = false;
    unsigned errorNumber = 0;
    std::string error;
};

// One cleanup statement sent to the server.
struct CleanupAuditRecord
{
    std::string table; // as the server lists it
    std::string statement;
    bool ok = false;
    std::int64_t affected = -1; // rows deleted when ok
    unsigned errorNumber = 0;   // the server's error number and text when !ok
    std::string error;
    // A statement run in chunks: how many chunks answered, how the run ended ("done",
    // "cancelled", "failed", "unknown"), and `affected` the rows they deleted, also when
    // !ok; after a lost answer the rows still matching, counted again (-1: not counted).
    int chunks = 0;
    std::string outcome;
    std::int64_t remaining = -1;
    AuditZone zone = {};
};

// The line of a record, without its line end. Every text goes in as a JSON string; bytes
// that are not UTF-8 become U+FFFD, so the line is valid JSON whatever the texts hold.
// The time is UTC, ISO 8601 with milliseconds ("2026-12-09T02:29:15.123Z").
std::string MailAuditLine(const MailAuditRecord& mail, AuditClock::time_point when);
std::string MailBatchAuditLine(const MailBatchAuditRecord& batch, AuditClock::time_point when);
std::string CleanupAuditLine(const CleanupAuditRecord& statement, AuditClock::time_point when);

// A name for one send that no other send of this or another copy of the tool shares.
std::string NewSendId(AuditClock::time_point when = AuditClock::now());

// Appends the record's line to the log at `logPath`. A file that does not exist yet is
// created readable and writable by its owner only (0600 on POSIX).
AuditResult AuditMailSend(const std::filesystem::path& logPath, const MailAuditRecord& mail,
                          AuditClock::time_point when = AuditClock::now());
AuditResult AuditMailBatch(const std::filesystem::path& logPath, const MailBatchAuditRecord& batch,
                           AuditClock::time_point when = AuditClock::now());
AuditResult AuditCleanupStatement(const std::filesystem::path& logPath,
                                  const CleanupAuditRecord& statement,
                                  AuditClock::time_point when = AuditClock::now());

// Appends `line` and a line end in one write.
AuditResult AppendAuditLine(const std::filesystem::path& logPath, std::string_view line);

} // namespace mrvn
