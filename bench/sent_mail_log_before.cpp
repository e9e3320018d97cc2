// The sent-mail log reader as it was before it kept the log's bytes (a string per text and per
// receiver, every key parsed into strings): the benchmark's baseline, measured in the same run.
// Kept here unchanged but for its namespace; nothing in the program uses it.
#include "audit/AuditLog.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace mrvn::before {

enum class SentFate { Sent, NotSent, Unknown };

struct SentReceiver
{
    std::string roleId;
    std::optional<std::int64_t> id; // the id its row was given
    std::int64_t createMs = 0;      // create_time of its row: with the id, what finds it
    SentFate fate = SentFate::NotSent;
};

struct SentMailEntry
{
    std::string key;      // the send's name; for a single mail "mail:" + its time and receiver
    std::string resendOf; // the key of the entry this one resends, if any
    std::string time;     // of its first record, UTC ("2026-12-09T02:29:15.123Z")
    std::int64_t timeMs = 0;
    std::string zone;
    std::string title;
    std::string content;
    std::int64_t copper = 0;
    std::int64_t yuanbao = 0;
    std::vector<std::string> attachments; // as the attachments column holds each
    std::vector<std::string> itemIds;     // the goodsId of each attachment
    std::vector<SentReceiver> receivers;
    std::string error; // the server's reason when a row did not go through

    std::size_t Count(SentFate fate) const;
};

struct SentMailLog
{
    std::vector<SentMailEntry> entries; // newest first (oldest first while reading)
    std::size_t files = 0;              // log files read
    // While reading: where the entry of each send stands in `entries`.
    std::unordered_map<std::string, std::size_t> sends;
};

// The log and its generations beside it; `stop` (may be null) ends the reading early.
SentMailLog ReadSentMailLog(const std::filesystem::path& logPath,
                            const std::atomic<bool>* stop = nullptr);

// The entries of one file's text, appended to `log` in file order (oldest first).
void ReadSentMailRecords(std::string_view text, SentMailLog& log);

// Puts the entries read in file order newest first and joins the records of a send.
void FinishSentMailLog(SentMailLog& log);

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
bool Matches(const SentMailEntry& entry, const SentMailQuery& query);

// The receivers of `entry` as they stand once the resends of it in `log` are counted: a
// receiver a resend reached is sent.
std::vector<SentReceiver> CurrentReceivers(const SentMailLog& log, const SentMailEntry& entry);

// "2026-12-09T02:29:15.123Z" as milliseconds since 1970 (UTC); nothing for another form.
std::optional<std::int64_t> ParseUtcTime(std::string_view text);

namespace {

// One line of the log read as JSON without building a document: the keys the view needs are
// taken as they come, everything else is stepped over. A line that is not well-formed JSON
// is refused as a whole. The log holds up to 160 MiB: a document per line cost seconds.
class LineScanner
{
public:
    explicit LineScanner(std::string_view line) : m_text(line) {}

    bool AtEnd()
    {
        SkipBlanks();
        return m_at == m_text.size();
    }
    bool Take(char c)
    {
        SkipBlanks();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool Next(char c)
    {
        SkipBlanks();
        return m_at < m_text.size() && m_text[m_at] == c;
    }
    // A JSON string into `out` (UTF-8); false when there is none here or it is broken.
    bool String(std::string& out)
    {
        out.clear();
        if (!Take('"'))
            return false;
        while (m_at < m_text.size()) {
            // The plain run up to the next quote or backslash is copied in one piece.
            const std::size_t stop = m_text.find_first_of("\"\\", m_at);
            if (stop == std::string_view::npos)
                return false;
            for (std::size_t i = m_at; i < stop; ++i) {
                if (static_cast<unsigned char>(m_text[i]) < 0x20)
                    return false;
            }
            out.append(m_text.data() + m_at, stop - m_at);
            m_at = stop + 1;
            if (m_text[stop] == '"')
                return true;
            if (m_at >= m_text.size())
                return false;
            const char escape = m_text[m_at++];
            switch (escape) {
            case '"':
            case '\\':
            case '/':
                out += escape;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                if (!Unicode(out))
                    return false;
                break;
            default:
                return false;
            }
        }
        return false;
    }
    // A JSON number that is an integer within 64 bits; `isInteger` false for any other value
    // (which is stepped over). False when the value is broken.
    bool Integer(std::int64_t& value, bool& isInteger)
    {
        SkipBlanks();
        isInteger = false;
        const std::size_t begin = m_at;
        if (m_at < m_text.size() && m_text[m_at] == '-')
            ++m_at;
        const std::size_t digits = m_at;
        while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9')
            ++m_at;
        const bool whole =
            m_at > digits && (m_at == m_text.size() ||
                              (m_text[m_at] != '.' && m_text[m_at] != 'e' && m_text[m_at] != 'E'));
        if (whole && (m_text[digits] != '0' || m_at == digits + 1)) {
            const auto [end, error] =
                std::from_chars(m_text.data() + begin, m_text.data() + m_at, value);
            isInteger = error == std::errc() && end == m_text.data() + m_at;
            return true;
        }
        m_at = begin;
        return SkipValue(0);
    }
    // Steps over one value of any kind.
    bool SkipValue(int depth)
    {
        if (depth > 64)
            return false;
        SkipBlanks();
        if (m_at >= m_text.size())
            return false;
        const char c = m_text[m_at];
        if (c == '"') {
            std::string ignored;
            return String(ignored);
        }
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++m_at;
            if (Take(close))
                return true;
            do {
                if (c == '{') {
                    std::string key;
                    if (!String(key) || !Take(':'))
                        return false;
                }
                if (!SkipValue(depth + 1))
                    return false;
            } while (Take(','));
            return Take(close);
        }
        for (const std::string_view literal : {"true", "false", "null"}) {
            if (m_text.substr(m_at, literal.size()) == literal) {
                m_at += literal.size();
                return true;
            }
        }
        // A number, as JSON writes one.
        const std::size_t begin = m_at;
        if (m_text[m_at] == '-')
            ++m_at;
        const auto digitsFrom = [this] {
            const std::size_t from = m_at;
            while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9')
                ++m_at;
            return m_at > from;
        };
        if (!digitsFrom())
            return false;
        if (m_at < m_text.size() && m_text[m_at] == '.') {
            ++m_at;
            if (!digitsFrom())
                return false;
        }
        if (m_at < m_text.size() && (m_text[m_at] == 'e' || m_text[m_at] == 'E')) {
            ++m_at;
            if (m_at < m_text.size() && (m_text[m_at] == '+' || m_text[m_at] == '-'))
                ++m_at;
            if (!digitsFrom())
                return false;
        }
        return m_at > begin;
    }

private:
    void SkipBlanks()
    {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' ||
                                        m_text[m_at] == '\r' || m_text[m_at] == '\n'))
            ++m_at;
    }
    bool Hex4(unsigned& code)
    {
        if (m_at + 4 > m_text.size())
            return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_at++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    // After "\u": one code point (a surrogate pair joined), as UTF-8; a lone surrogate is
    // U+FFFD, as the writer's repair gives.
    bool Unicode(std::string& out)
    {
        unsigned code = 0;
        if (!Hex4(code))
            return false;
        if (code >= 0xD800 && code <= 0xDBFF && m_text.substr(m_at, 2) == "\\u") {
            const std::size_t back = m_at;
            m_at += 2;
            unsigned low = 0;
            if (Hex4(low) && low >= 0xDC00 && low <= 0xDFFF)
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            else
                m_at = back;
        }
        if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
        return true;
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

// The keys of a mail record the view reads; a key of another type than expected reads as
// absent.
struct Record
{
    std::string time, kind, send, resendOf, zone, title, content, receiver, outcome, error;
    std::int64_t copper = 0, yuanbao = 0, createMs = 0;
    std::optional<std::int64_t> id;
    std::vector<std::string> attachments;
    std::vector<SentReceiver> receivers;
    bool hasReceivers = false;
};

bool ReadText(LineScanner& in, std::string& target)
{
    if (in.Next('"'))
        return in.String(target);
    target.clear();
    return in.SkipValue(0);
}

bool ReadInteger(LineScanner& in, std::optional<std::int64_t>& target)
{
    std::int64_t value = 0;
    bool integer = false;
    if (!in.Integer(value, integer))
        return false;
    target = integer ? std::optional<std::int64_t>(value) : std::nullopt;
    return true;
}

bool ReadInteger(LineScanner& in, std::int64_t& target)
{
    std::optional<std::int64_t> value;
    if (!ReadInteger(in, value))
        return false;
    target = value.value_or(0);
    return true;
}

// ["…", …]: the strings, other values stepped over.
bool ReadTexts(LineScanner& in, std::vector<std::string>& target)
{
    if (!in.Next('['))
        return in.SkipValue(0);
    in.Take('[');
    if (in.Take(']'))
        return true;
    do {
        if (in.Next('"')) {
            target.emplace_back();
            if (!in.String(target.back()))
                return false;
        } else if (!in.SkipValue(1)) {
            return false;
        }
    } while (in.Take(','));
    return in.Take(']');
}

SentFate FateOf(const std::string& outcome)
{
    if (outcome == "sent")
        return SentFate::Sent;
    if (outcome == "unknown")
        return SentFate::Unknown;
    return SentFate::NotSent;
}

// [{"role":…,"id":…,"outcome":…}, …]
bool ReadReceivers(LineScanner& in, Record& record)
{
    if (!in.Next('['))
        return in.SkipValue(0);
    record.hasReceivers = true;
    in.Take('[');
    if (in.Take(']'))
        return true;
    std::string key, outcome;
    do {
        if (!in.Next('{')) {
            if (!in.SkipValue(1))
                return false;
            continue;
        }
        in.Take('{');
        SentReceiver receiver;
        outcome.clear();
        if (!in.Take('}')) {
            do {
                if (!in.String(key) || !in.Take(':'))
                    return false;
                bool ok = true;
                if (key == "role")
                    ok = ReadText(in, receiver.roleId);
                else if (key == "id")
                    ok = ReadInteger(in, receiver.id);
                else if (key == "outcome")
                    ok = ReadText(in, outcome);
                else
                    ok = in.SkipValue(2);
                if (!ok)
                    return false;
            } while (in.Take(','));
            if (!in.Take('}'))
                return false;
        }
        receiver.fate = FateOf(outcome);
        record.receivers.push_back(std::move(receiver));
    } while (in.Take(','));
    return in.Take(']');
}

// The record of one line; nothing when the line is no JSON object.
std::optional<Record> ReadRecord(std::string_view line)
{
    LineScanner in(line);
    Record record;
    if (!in.Take('{'))
        return std::nullopt;
    if (!in.Take('}')) {
        std::string key;
        do {
            if (!in.String(key) || !in.Take(':'))
                return std::nullopt;
            bool ok = true;
            if (key == "time")
                ok = ReadText(in, record.time);
            else if (key == "kind")
                ok = ReadText(in, record.kind);
            else if (key == "send")
                ok = ReadText(in, record.send);
            else if (key == "resend_of")
                ok = ReadText(in, record.resendOf);
            else if (key == "zone")
                ok = ReadText(in, record.zone);
            else if (key == "title")
                ok = ReadText(in, record.title);
            else if (key == "content")
                ok = ReadText(in, record.content);
            else if (key == "receiver")
                ok = ReadText(in, record.receiver);
            else if (key == "outcome")
                ok = ReadText(in, record.outcome);
            else if (key == "error")
                ok = ReadText(in, record.error);
            else if (key == "copper")
                ok = ReadInteger(in, record.copper);
            else if (key == "yuanbao")
                ok = ReadInteger(in, record.yuanbao);
            else if (key == "create_time")
                ok = ReadInteger(in, record.createMs);
            else if (key == "id")
                ok = ReadInteger(in, record.id);
            else if (key == "attachments")
                ok = ReadTexts(in, record.attachments);
            else if (key == "receivers")
                ok = ReadReceivers(in, record);
            else
                ok = in.SkipValue(1);
            if (!ok)
                return std::nullopt;
        } while (in.Take(','));
        if (!in.Take('}'))
            return std::nullopt;
    }
    if (!in.AtEnd())
        return std::nullopt;
    return record;
}

// The goodsId of an attachment's JSON text, read without parsing the whole entry.
std::string ItemIdOf(std::string_view attachment)
{
    constexpr std::string_view kKey = "\"goodsId\":";
    std::size_t at = attachment.find(kKey);
    if (at == std::string_view::npos)
        return {};
    LineScanner in(attachment.substr(at + kKey.size()));
    std::string id;
    if (in.Next('"'))
        return in.String(id) ? id : std::string();
    std::int64_t number = 0;
    bool integer = false;
    return in.Integer(number, integer) && integer ? std::to_string(number) : std::string();
}

void TakeMailFields(Record& record, SentMailEntry& entry)
{
    entry.time = std::move(record.time);
    entry.timeMs = ParseUtcTime(entry.time).value_or(0);
    entry.zone = std::move(record.zone);
    entry.title = std::move(record.title);
    entry.content = std::move(record.content);
    entry.copper = record.copper;
    entry.yuanbao = record.yuanbao;
    entry.attachments = std::move(record.attachments);
    for (const std::string& attachment : entry.attachments)
        entry.itemIds.push_back(ItemIdOf(attachment));
}

void AddSingle(Record& record, SentMailLog& log)
{
    SentMailEntry entry;
    SentReceiver receiver;
    receiver.roleId = std::move(record.receiver);
    receiver.id = record.id;
    receiver.createMs = record.createMs;
    receiver.fate = FateOf(record.outcome);
    entry.error = std::move(record.error);
    TakeMailFields(record, entry);
    entry.key = "mail:" + entry.time + ":" + receiver.roleId;
    entry.receivers.push_back(std::move(receiver));
    log.entries.push_back(std::move(entry));
}

void AddBatch(Record& record, SentMailLog& log)
{
    // A record whose receivers are all unreadable makes no entry.
    if (record.send.empty() || record.receivers.empty())
        return;
    const auto [at, added] = log.sends.emplace(record.send, log.entries.size());
    if (added) {
        SentMailEntry entry;
        entry.key = record.send;
        entry.resendOf = record.resendOf;
        TakeMailFields(record, entry);
        log.entries.push_back(std::move(entry));
    }
    SentMailEntry& entry = log.entries[at->second];
    for (SentReceiver& receiver : record.receivers) {
        receiver.createMs = record.createMs;
        entry.receivers.push_back(std::move(receiver));
    }
    if (entry.error.empty())
        entry.error = std::move(record.error);
}

std::filesystem::path Generation(const std::filesystem::path& log, int number)
{
    if (number == 0)
        return log;
    return std::filesystem::path(log.native() +
                                 std::filesystem::path("." + std::to_string(number)).native());
}

} // namespace

std::size_t SentMailEntry::Count(SentFate fate) const
{
    return static_cast<std::size_t>(
        std::count_if(receivers.begin(), receivers.end(),
                      [fate](const SentReceiver& receiver) { return receiver.fate == fate; }));
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text)
{
    int year = 0;
    unsigned month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    char zulu = 0;
    const std::string copy(text.substr(0, 40));
    if (std::sscanf(copy.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d.%3d%c", &year, &month, &day, &hour,
                    &minute, &second, &millisecond, &zulu) != 8 ||
        zulu != 'Z')
        return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(month),
                              std::chrono::day(day)};
    if (!date.ok() || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    const auto moment = sys_days(date) + hours(hour) + minutes(minute) + seconds(second) +
                        milliseconds(millisecond);
    return duration_cast<milliseconds>(moment.time_since_epoch()).count();
}

void ReadSentMailRecords(std::string_view text, SentMailLog& log)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        // Only mail records are parsed; a cleanup line is passed over by its kind.
        if (line.find("\"kind\":\"mail") == std::string_view::npos)
            continue;
        std::optional<Record> record = ReadRecord(line);
        if (!record)
            continue;
        if (record->kind == "mail")
            AddSingle(*record, log);
        else if (record->kind == "mail-batch")
            AddBatch(*record, log);
    }
}

void FinishSentMailLog(SentMailLog& log)
{
    std::reverse(log.entries.begin(), log.entries.end());
    log.sends.clear();
}

namespace {

// The text of one file, read in one piece: 16 MiB a character at a time took a second.
std::optional<std::string> ReadWhole(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(std::max<std::streamoff>(file.tellg(), 0)), '\0');
    file.seekg(0);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return text;
}

// Appends the entries of `part` (one file, in file order) to `log`: a send whose statements
// went on into this file continues its entry.
void Join(SentMailLog& log, SentMailLog& part)
{
    for (SentMailEntry& entry : part.entries) {
        const bool batch = part.sends.count(entry.key) > 0;
        if (batch) {
            const auto [at, added] = log.sends.emplace(entry.key, log.entries.size());
            if (!added) {
                SentMailEntry& earlier = log.entries[at->second];
                earlier.receivers.insert(earlier.receivers.end(),
                                         std::make_move_iterator(entry.receivers.begin()),
                                         std::make_move_iterator(entry.receivers.end()));
                if (earlier.error.empty())
                    earlier.error = std::move(entry.error);
                continue;
            }
        }
        log.entries.push_back(std::move(entry));
    }
}

} // namespace

SentMailLog ReadSentMailLog(const std::filesystem::path& logPath, const std::atomic<bool>* stop)
{
    // Oldest generation first. The files are read and parsed on two threads (the machines
    // the tool runs on have at least two cores), then joined in order.
    std::vector<std::filesystem::path> files;
    for (int number = kAuditLogGenerations; number >= 0; --number)
        files.push_back(Generation(logPath, number));
    std::vector<std::optional<SentMailLog>> parts(files.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next++) < files.size();) {
            if (stop && stop->load())
                return;
            std::optional<std::string> text = ReadWhole(files[i]);
            if (!text)
                continue;
            parts[i].emplace();
            ReadSentMailRecords(*text, *parts[i]);
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    SentMailLog log;
    for (std::optional<SentMailLog>& part : parts) {
        if (!part)
            continue;
        ++log.files;
        Join(log, *part);
    }
    FinishSentMailLog(log);
    return log;
}

bool Matches(const SentMailEntry& entry, const SentMailQuery& query)
{
    if (query.fromMs && entry.timeMs < *query.fromMs)
        return false;
    if (query.toMs && entry.timeMs >= *query.toMs)
        return false;
    if (!query.title.empty() && entry.title.find(query.title) == std::string::npos)
        return false;
    if (!query.zone.empty() && entry.zone.find(query.zone) == std::string::npos)
        return false;
    if (!query.itemId.empty() &&
        std::find(entry.itemIds.begin(), entry.itemIds.end(), query.itemId) == entry.itemIds.end())
        return false;
    if (!query.roleId.empty() &&
        std::none_of(entry.receivers.begin(), entry.receivers.end(),
                     [&](const SentReceiver& receiver) { return receiver.roleId == query.roleId; }))
        return false;
    return true;
}

std::vector<SentReceiver> CurrentReceivers(const SentMailLog& log, const SentMailEntry& entry)
{
    std::vector<SentReceiver> current = entry.receivers;
    std::unordered_map<std::string, std::size_t> byRole;
    for (std::size_t i = 0; i < current.size(); ++i)
        byRole.emplace(current[i].roleId, i);
    // Entries are newest first: the resends are applied oldest first, so the last word on a
    // receiver is its newest.
    for (auto it = log.entries.rbegin(); it != log.entries.rend(); ++it) {
        if (it->resendOf != entry.key)
            continue;
        for (const SentReceiver& receiver : it->receivers) {
            const auto at = byRole.find(receiver.roleId);
            if (at == byRole.end() || current[at->second].fate == SentFate::Sent)
                continue;
            current[at->second] = receiver;
        }
    }
    return current;
}

// What the benchmark calls: the whole log read, its entries counted.
std::size_t ReadAndCount(const std::filesystem::path& log)
{
    return ReadSentMailLog(log).entries.size();
}

} // namespace mrvn::before
