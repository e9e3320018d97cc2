#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The mails the tool sent, read back from the audit log (mrvn-audit.log and its rotated
// generations .1 to .9) for the sent-mail view. Records are read oldest generation first and
// each file in order; a mail to many roles is one entry made of the records of all its
// statements (they share a send name), a single mail's record is an entry of its own, and a
// resend is an entry of its own that names the entry it completes. Lines that are no mail
// record (cleanup records, lines another program wrote) are passed over, and so is a line that
// is not one well-formed JSON object.
//
// A full log is 160 MiB naming millions of receivers. The log keeps the bytes of its files and
// an entry's texts point into them (unescaped in place where they had escapes); a send's
// receivers stay the text of their statements' arrays, counted while reading and made into
// SentReceivers only when that send is opened (ReceiversOf).
namespace mrvn {

enum class SentFate { Sent, NotSent, Unknown };

struct SentReceiver
{
    std::string roleId;
    std::optional<std::int64_t> id; // the id its row was given
    std::int64_t createMs = 0;      // create_time of its row: with the id, what finds it
    SentFate fate = SentFate::NotSent;
};

// The receivers of one statement as the log holds them: its "receivers" array.
struct SentReceiverRun
{
    std::string_view text; // from "[" to "]"
    std::int64_t createMs = 0;
    // Written as the tool writes it (no blanks, no escape in a role id), so that a role id is
    // found in it by its bytes.
    bool plain = false;
};

struct SentMailEntry
{
    // Every text points into the SentMailLog that holds the entry.
    std::string_view send;     // the send's name; empty for a single mail
    std::string_view resendOf; // the key of the entry this one resends, if any
    std::string_view time;     // of its first record, UTC ("2026-12-09T02:29:15.123Z")
    std::int64_t timeMs = 0;
    std::string_view zone;
    std::string_view title;
    std::string_view content;
    std::int64_t copper = 0;
    std::int64_t yuanbao = 0;
    std::string_view attachments; // the JSON array of attachment texts; see AttachmentsOf
    std::string_view error;       // the server's reason when a row did not go through
    // A single mail's receiver (its role id too points into the log).
    struct Single
    {
        std::string_view roleId;
        std::optional<std::int64_t> id;
        std::int64_t createMs = 0;
        SentFate fate = SentFate::NotSent;
    } single;
    std::vector<SentReceiverRun> runs; // a send's receivers, statement by statement
    std::size_t receivers = 0;         // how many, of either kind
    std::size_t sent = 0;
    std::size_t unknown = 0;

    bool IsSingle() const { return send.empty(); }
    // The send's name; for a single mail "mail:" + its time and receiver.
    std::string Key() const;
    std::size_t Count(SentFate fate) const;
};

// The block the files' bytes are read into (see SentMailLog.cpp).
struct FreeLogBytes
{
    void operator()(char* bytes) const;
};
using LogBytes = std::unique_ptr<char[], FreeLogBytes>;

struct SentMailLog
{
    std::vector<SentMailEntry> entries; // newest first (oldest first while reading)
    std::size_t files = 0;              // log files read
    // While reading: where the entry of each send stands in `entries`.
    std::unordered_map<std::string_view, std::size_t> sends;
    // The bytes the entries point into.
    std::vector<LogBytes> texts;
};

// The log and its generations beside it; `stop` (may be null) ends the reading early.
SentMailLog ReadSentMailLog(const std::filesystem::path& logPath,
                            const std::atomic<bool>* stop = nullptr);

// The entries of one file's text (the log keeps a copy), appended to `log` in file order
// (oldest first).
void ReadSentMailRecords(std::string_view text, SentMailLog& log);

// Puts the entries read in file order newest first and joins the records of a send.
void FinishSentMailLog(SentMailLog& log);

// The entry's receivers in the order the log names them.
std::vector<SentReceiver> ReceiversOf(const SentMailEntry& entry);
// Its attachments as the attachments column holds each, and the goodsId of each.
std::vector<std::string> AttachmentsOf(const SentMailEntry& entry);
std::vector<std::string> ItemIdsOf(const SentMailEntry& entry);

// What the operator searches by; empty texts and absent dates match everything.
struct SentMailQuery
{
    std::string roleId;                 // a receiver's id, exactly
    std::string title;                  // part of the title
    std::string itemId;                 // an attachment's item id, exactly
    std::string zone;                   // part of the zone
    std::optional<std::int64_t> fromMs; // sent at or after
    std::optional<std::int64_t> toMs;   // sent before
};

// A query made ready for the entries of a whole log (a role id is looked for as the bytes
// a plain run holds it in, rather than by making every receiver).
class SentMailSearch
{
public:
    explicit SentMailSearch(SentMailQuery query);
    bool Matches(const SentMailEntry& entry) const;

private:
    bool NamesRole(const SentMailEntry& entry) const;

    SentMailQuery m_query;
    std::string m_plainRole; // {"role":"<id>" when the id could stand in a plain run
};
bool Matches(const SentMailEntry& entry, const SentMailQuery& query);

// The receivers of `entry` as they stand once the resends of it in `log` are counted: a
// receiver a resend reached is sent.
std::vector<SentReceiver> CurrentReceivers(const SentMailLog& log, const SentMailEntry& entry);

// "2026-12-09T02:29:15.123Z" as milliseconds since 1970 (UTC); nothing for another form.
std::optional<std::int64_t> ParseUtcTime(std::string_view text);

} // namespace mrvn
