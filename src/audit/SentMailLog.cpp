#include "audit/SentMailLog.h"

#include "audit/AuditLog.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <new>
#include <thread>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace mrvn {

namespace {

// JSON read in place, without building a document and without allocating: strings come back
// as their bytes between the quotes, numbers and other values are stepped over. What it
// accepts is what a JSON reader accepts, so that a line that is not well-formed is refused as
// a whole.
class Cursor
{
public:
    Cursor(const char* begin, const char* end) : m_at(begin), m_end(end) {}
    explicit Cursor(std::string_view text) : Cursor(text.data(), text.data() + text.size()) {}

    const char* At() const { return m_at; }
    // The next byte as it is, blanks not skipped ('\0' at the end).
    char Raw() const { return m_at < m_end ? *m_at : '\0'; }

    bool AtEnd()
    {
        SkipBlanks();
        return m_at == m_end;
    }
    bool Take(char c)
    {
        SkipBlanks();
        if (m_at < m_end && *m_at == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool Next(char c)
    {
        SkipBlanks();
        return m_at < m_end && *m_at == c;
    }
    // A JSON string: `raw` is what stands between its quotes, `escaped` whether an escape is
    // in it (see Unescape). False when there is none here or it is broken.
    bool String(std::string_view& raw, bool& escaped)
    {
        if (!Take('"'))
            return false;
        const char* begin = m_at;
        escaped = false;
        while (m_at < m_end) {
            const auto c = static_cast<unsigned char>(*m_at);
            if (c == '"') {
                raw = std::string_view(begin, static_cast<std::size_t>(m_at - begin));
                ++m_at;
                return true;
            }
            if (c < 0x20)
                return false;
            ++m_at;
            if (c != '\\')
                continue;
            escaped = true;
            if (m_at == m_end)
                return false;
            const char kind = *m_at++;
            if (kind == 'u') {
                if (m_end - m_at < 4 || !std::all_of(m_at, m_at + 4, IsHex))
                    return false;
                m_at += 4;
            } else if (std::string_view(R"("\/bfnrt)").find(kind) == std::string_view::npos) {
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
        const char* begin = m_at;
        if (m_at < m_end && *m_at == '-')
            ++m_at;
        const char* digits = m_at;
        while (m_at < m_end && IsDigit(*m_at))
            ++m_at;
        const bool whole =
            m_at > digits && (m_at == m_end || (*m_at != '.' && *m_at != 'e' && *m_at != 'E'));
        if (whole && (*digits != '0' || m_at == digits + 1)) {
            const auto [end, error] = std::from_chars(begin, m_at, value);
            isInteger = error == std::errc() && end == m_at;
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
        if (m_at >= m_end)
            return false;
        const char c = *m_at;
        if (c == '"') {
            std::string_view ignored;
            bool escaped = false;
            return String(ignored, escaped);
        }
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++m_at;
            if (Take(close))
                return true;
            do {
                if (c == '{') {
                    std::string_view key;
                    bool escaped = false;
                    if (!String(key, escaped) || !Take(':'))
                        return false;
                }
                if (!SkipValue(depth + 1))
                    return false;
            } while (Take(','));
            return Take(close);
        }
        for (const std::string_view literal : {"true", "false", "null"}) {
            if (Ahead(literal)) {
                m_at += literal.size();
                return true;
            }
        }
        // A number, as JSON writes one.
        const char* begin = m_at;
        if (*m_at == '-')
            ++m_at;
        const auto digitsFrom = [this] {
            const char* from = m_at;
            while (m_at < m_end && IsDigit(*m_at))
                ++m_at;
            return m_at > from;
        };
        if (!digitsFrom())
            return false;
        if (m_at < m_end && *m_at == '.') {
            ++m_at;
            if (!digitsFrom())
                return false;
        }
        if (m_at < m_end && (*m_at == 'e' || *m_at == 'E')) {
            ++m_at;
            if (m_at < m_end && (*m_at == '+' || *m_at == '-'))
                ++m_at;
            if (!digitsFrom())
                return false;
        }
        return m_at > begin;
    }

    // The form the tool writes each receiver in, read at full speed:
    // {"role":"…","id":123|null,"outcome":"…"} with no blanks and no escape in either text.
    // False (nothing moved) for any other form, which the general path then reads.
    bool PlainReceiver(std::string_view& role, std::optional<std::int64_t>& id,
                       std::string_view& outcome)
    {
        const char* p = m_at;
        if (!Literal(p, R"({"role":")") || !PlainText(p, role) || !Literal(p, R"(","id":)"))
            return false;
        if (Literal(p, "null")) {
            id.reset();
        } else {
            const char* begin = p;
            if (p < m_end && *p == '-')
                ++p;
            const char* digits = p;
            while (p < m_end && IsDigit(*p) && p - digits < 19)
                ++p;
            // Up to 18 digits always fit; a leading zero is not JSON's way to write one.
            if (p == digits || p - digits > 18 || (*digits == '0' && p > digits + 1))
                return false;
            std::int64_t value = 0;
            for (const char* digit = digits; digit < p; ++digit)
                value = value * 10 + (*digit - '0');
            id = *begin == '-' ? -value : value;
        }
        if (!Literal(p, R"(,"outcome":")") || !PlainText(p, outcome) || !Literal(p, R"("})"))
            return false;
        m_at = p;
        return true;
    }

private:
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static bool IsHex(char c)
    {
        return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }
    bool Ahead(std::string_view literal) const
    {
        return static_cast<std::size_t>(m_end - m_at) >= literal.size() &&
               std::memcmp(m_at, literal.data(), literal.size()) == 0;
    }
    bool Literal(const char*& p, std::string_view literal) const
    {
        if (static_cast<std::size_t>(m_end - p) < literal.size() ||
            std::memcmp(p, literal.data(), literal.size()) != 0)
            return false;
        p += literal.size();
        return true;
    }
    // The bytes up to the next quote (left at it), when none of them needs an escape.
    bool PlainText(const char*& p, std::string_view& text) const
    {
        const char* begin = p;
        while (p < m_end && *p != '"') {
            if (*p == '\\' || static_cast<unsigned char>(*p) < 0x20)
                return false;
            ++p;
        }
        text = std::string_view(begin, static_cast<std::size_t>(p - begin));
        return p < m_end;
    }
    void SkipBlanks()
    {
        while (m_at < m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\r' || *m_at == '\n'))
            ++m_at;
    }

    const char* m_at;
    const char* m_end;
};

unsigned HexValue(const char* at)
{
    unsigned code = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = at[i];
        code <<= 4;
        if (c >= '0' && c <= '9')
            code |= static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            code |= static_cast<unsigned>(c - 'a' + 10);
        else
            code |= static_cast<unsigned>(c - 'A' + 10);
    }
    return code;
}

// The text of a string Cursor::String accepted, its escapes undone, handed to `put` a byte at
// a time. "\u" escapes become UTF-8, a surrogate pair joined; a lone surrogate is U+FFFD, as
// the writer's repair gives. Never more bytes than `raw` holds, and each is handed on only
// after the bytes it comes from were read: `put` may write over `raw` itself.
template <typename Put> void Unescape(std::string_view raw, Put put)
{
    const char* at = raw.data();
    const char* end = at + raw.size();
    while (at < end) {
        if (*at != '\\') {
            put(*at++);
            continue;
        }
        const char kind = at[1];
        at += 2;
        switch (kind) {
        case 'b':
            put('\b');
            continue;
        case 'f':
            put('\f');
            continue;
        case 'n':
            put('\n');
            continue;
        case 'r':
            put('\r');
            continue;
        case 't':
            put('\t');
            continue;
        case 'u':
            break;
        default:
            put(kind);
            continue;
        }
        unsigned code = HexValue(at);
        at += 4;
        if (code >= 0xD800 && code <= 0xDBFF && end - at >= 6 && at[0] == '\\' && at[1] == 'u') {
            const unsigned low = HexValue(at + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                at += 6;
            }
        }
        if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            put(static_cast<char>(code));
        } else if (code < 0x800) {
            put(static_cast<char>(0xC0 | (code >> 6)));
            put(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            put(static_cast<char>(0xE0 | (code >> 12)));
            put(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            put(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            put(static_cast<char>(0xF0 | (code >> 18)));
            put(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            put(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            put(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
}

std::string Unescaped(std::string_view raw, bool escaped)
{
    if (!escaped)
        return std::string(raw);
    std::string text;
    Unescape(raw, [&text](char c) { text += c; });
    return text;
}

// In the log's own bytes: the text takes the front of its escaped form.
std::string_view UnescapedInPlace(std::string_view raw)
{
    char* out = const_cast<char*>(raw.data());
    char* const begin = out;
    Unescape(raw, [&out](char c) { *out++ = c; });
    return std::string_view(begin, static_cast<std::size_t>(out - begin));
}

// A key, compared as its text (escaped keys are rare enough to be unescaped into `scratch`).
bool ReadKey(Cursor& in, std::string_view& key, std::string& scratch)
{
    bool escaped = false;
    if (!in.String(key, escaped))
        return false;
    if (escaped) {
        scratch = Unescaped(key, true);
        key = scratch;
    }
    return true;
}

// A text value as it stands; a value of another type reads as an absent (empty) text.
bool ReadRawText(Cursor& in, std::string_view& target, bool& escaped)
{
    escaped = false;
    if (in.Next('"'))
        return in.String(target, escaped);
    target = {};
    return in.SkipValue(0);
}

bool ReadText(Cursor& in, std::string_view& target)
{
    bool escaped = false;
    if (!ReadRawText(in, target, escaped))
        return false;
    if (escaped)
        target = UnescapedInPlace(target);
    return true;
}

bool ReadInteger(Cursor& in, std::optional<std::int64_t>& target)
{
    std::int64_t value = 0;
    bool integer = false;
    if (!in.Integer(value, integer))
        return false;
    target = integer ? std::optional<std::int64_t>(value) : std::nullopt;
    return true;
}

bool ReadInteger(Cursor& in, std::int64_t& target)
{
    std::optional<std::int64_t> value;
    if (!ReadInteger(in, value))
        return false;
    target = value.value_or(0);
    return true;
}

SentFate FateOf(std::string_view outcome)
{
    if (outcome == "sent")
        return SentFate::Sent;
    if (outcome == "unknown")
        return SentFate::Unknown;
    return SentFate::NotSent;
}

// One receiver as an array holds it: its role id as written (escaped or not).
struct ReceiverText
{
    std::string_view role;
    bool escaped = false;
    std::optional<std::int64_t> id;
    SentFate fate = SentFate::NotSent;
};

// One element of a receivers array in any form: an object's "role", "id" and "outcome" (other
// keys stepped over), handed to `take`; an element that is no object is passed over.
template <typename Take> bool ReadAnyReceiver(Cursor& in, Take& take)
{
    if (!in.Next('{'))
        return in.SkipValue(1);
    in.Take('{');
    ReceiverText receiver;
    std::string_view outcome;
    bool outcomeEscaped = false;
    if (!in.Take('}')) {
        std::string scratch;
        do {
            std::string_view key;
            if (!ReadKey(in, key, scratch) || !in.Take(':'))
                return false;
            bool ok = true;
            if (key == "role")
                ok = ReadRawText(in, receiver.role, receiver.escaped);
            else if (key == "id")
                ok = ReadInteger(in, receiver.id);
            else if (key == "outcome")
                ok = ReadRawText(in, outcome, outcomeEscaped);
            else
                ok = in.SkipValue(2);
            if (!ok)
                return false;
        } while (in.Take(','));
        if (!in.Take('}'))
            return false;
    }
    receiver.fate = outcomeEscaped ? FateOf(Unescaped(outcome, true)) : FateOf(outcome);
    take(receiver);
    return true;
}

// [{"role":…,"id":…,"outcome":…}, …] at `in`: every receiver handed to `take`. `plain` tells
// whether the whole array had the tool's own form (see SentReceiverRun).
template <typename Take> bool ReadReceivers(Cursor& in, bool& plain, Take take)
{
    plain = in.Raw() == '[';
    in.Take('[');
    if (in.Raw() == ']') {
        in.Take(']');
        return true;
    }
    if (in.Take(']')) {
        plain = false;
        return true;
    }
    do {
        ReceiverText receiver;
        std::string_view outcome;
        if (in.PlainReceiver(receiver.role, receiver.id, outcome)) {
            receiver.fate = FateOf(outcome);
            take(receiver);
        } else {
            plain = false;
            if (!ReadAnyReceiver(in, take))
                return false;
        }
        if (in.Raw() != ',' && in.Raw() != ']')
            plain = false;
    } while (in.Take(','));
    return in.Take(']');
}

// The keys of a mail record the view reads; a key of another type than expected reads as
// absent.
struct Record
{
    std::string_view time, kind, send, resendOf, zone, title, content, receiver, outcome, error;
    std::string_view attachments;
    std::int64_t copper = 0, yuanbao = 0, createMs = 0;
    std::optional<std::int64_t> id;
    std::vector<SentReceiverRun> runs;
    std::size_t receivers = 0, sent = 0, unknown = 0;
};

bool ReadRuns(Cursor& in, Record& record)
{
    if (!in.Next('['))
        return in.SkipValue(0);
    const char* begin = in.At();
    std::size_t count = 0;
    bool plain = false;
    const bool ok = ReadReceivers(in, plain, [&](const ReceiverText& receiver) {
        ++count;
        record.sent += receiver.fate == SentFate::Sent;
        record.unknown += receiver.fate == SentFate::Unknown;
    });
    if (!ok)
        return false;
    if (count > 0) {
        record.runs.push_back(
            {std::string_view(begin, static_cast<std::size_t>(in.At() - begin)), 0, plain});
        record.receivers += count;
    }
    return true;
}

// The attachments array's text, its strings read when asked for (AttachmentsOf).
bool ReadArrayText(Cursor& in, std::string_view& target)
{
    if (!in.Next('['))
        return in.SkipValue(0);
    const char* begin = in.At();
    if (!in.SkipValue(0))
        return false;
    target = std::string_view(begin, static_cast<std::size_t>(in.At() - begin));
    return true;
}

// The record of one line; false when the line is no JSON object. Its escaped texts are
// unescaped where they stand.
bool ReadRecord(std::string_view line, Record& record)
{
    Cursor in(line);
    if (!in.Take('{'))
        return false;
    if (!in.Take('}')) {
        std::string scratch;
        do {
            std::string_view key;
            if (!ReadKey(in, key, scratch) || !in.Take(':'))
                return false;
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
                ok = ReadArrayText(in, record.attachments);
            else if (key == "receivers")
                ok = ReadRuns(in, record);
            else
                ok = in.SkipValue(1);
            if (!ok)
                return false;
        } while (in.Take(','));
        if (!in.Take('}'))
            return false;
    }
    if (!in.AtEnd())
        return false;
    for (SentReceiverRun& run : record.runs)
        run.createMs = record.createMs;
    return true;
}

void TakeMailFields(const Record& record, SentMailEntry& entry)
{
    entry.time = record.time;
    entry.timeMs = ParseUtcTime(entry.time).value_or(0);
    entry.zone = record.zone;
    entry.title = record.title;
    entry.content = record.content;
    entry.copper = record.copper;
    entry.yuanbao = record.yuanbao;
    entry.attachments = record.attachments;
}

void AddSingle(const Record& record, SentMailLog& log)
{
    SentMailEntry& entry = log.entries.emplace_back();
    TakeMailFields(record, entry);
    entry.single = {record.receiver, record.id, record.createMs, FateOf(record.outcome)};
    entry.receivers = 1;
    entry.sent = entry.single.fate == SentFate::Sent;
    entry.unknown = entry.single.fate == SentFate::Unknown;
    entry.error = record.error;
}

// A send's receivers from one more of its statements.
void AddRuns(SentMailEntry& entry, std::vector<SentReceiverRun>& runs, std::size_t receivers,
             std::size_t sent, std::size_t unknown, std::string_view error)
{
    if (entry.runs.empty())
        entry.runs = std::move(runs);
    else
        entry.runs.insert(entry.runs.end(), runs.begin(), runs.end());
    entry.receivers += receivers;
    entry.sent += sent;
    entry.unknown += unknown;
    if (entry.error.empty())
        entry.error = error;
}

void AddBatch(Record& record, SentMailLog& log)
{
    // A record whose receivers are all unreadable makes no entry.
    if (record.send.empty() || record.receivers == 0)
        return;
    const auto [at, added] = log.sends.emplace(record.send, log.entries.size());
    if (added) {
        SentMailEntry& entry = log.entries.emplace_back();
        entry.send = record.send;
        entry.resendOf = record.resendOf;
        TakeMailFields(record, entry);
    }
    AddRuns(log.entries[at->second], record.runs, record.receivers, record.sent, record.unknown,
            record.error);
}

// No mail record the tool writes is shorter.
constexpr std::size_t kShortestRecord = 128;

// The entries of `size` bytes at `text`, which stay as long as the log (it may hold them).
void ReadRecords(const char* text, std::size_t size, SentMailLog& log)
{
    const char* at = text;
    const char* const end = at + size;
    // Room for as many entries as the text could hold, so that the list is not grown (and
    // copied again) while reading it.
    std::vector<SentMailEntry>& entries = log.entries;
    const std::size_t most = size / kShortestRecord + 1;
    if (entries.capacity() - entries.size() < most)
        entries.reserve(std::max(2 * entries.capacity(), entries.size() + most));
    constexpr std::string_view kMailKind = R"("kind":"mail)";
    while (at < end) {
        const auto* newline =
            static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        const char* lineEnd = newline ? newline : end;
        const std::string_view line(at, static_cast<std::size_t>(lineEnd - at));
        at = lineEnd + 1;
        // Only mail records are read; a cleanup line is passed over by its kind.
        if (line.find(kMailKind) == std::string_view::npos)
            continue;
        Record record;
        if (!ReadRecord(line, record))
            continue;
        if (record.kind == "mail")
            AddSingle(record, log);
        else if (record.kind == "mail-batch")
            AddBatch(record, log);
    }
}

// The receivers of one run, made.
void AppendReceivers(const SentReceiverRun& run, std::vector<SentReceiver>& out)
{
    Cursor in(run.text);
    bool plain = false;
    ReadReceivers(in, plain, [&](const ReceiverText& receiver) {
        out.push_back(
            {Unescaped(receiver.role, receiver.escaped), receiver.id, run.createMs, receiver.fate});
    });
}

// The goodsId of an attachment's JSON text, read without parsing the whole entry.
std::string ItemIdOf(std::string_view attachment)
{
    constexpr std::string_view kKey = "\"goodsId\":";
    const std::size_t at = attachment.find(kKey);
    if (at == std::string_view::npos)
        return {};
    Cursor in(attachment.substr(at + kKey.size()));
    if (in.Next('"')) {
        std::string_view id;
        bool escaped = false;
        return in.String(id, escaped) ? Unescaped(id, escaped) : std::string();
    }
    std::int64_t number = 0;
    bool integer = false;
    return in.Integer(number, integer) && integer ? std::to_string(number) : std::string();
}

std::filesystem::path Generation(const std::filesystem::path& log, int number)
{
    if (number == 0)
        return log;
    return std::filesystem::path(log.native() +
                                 std::filesystem::path("." + std::to_string(number)).native());
}

// A block for `size` bytes of the log's files, its pages not yet touched. Linux hands such a
// block out in 4-KiB pages, and the first touch of each costs a page fault: for 160 MiB on a
// virtual machine that was half a second, more than reading and parsing the bytes. Asked for
// in huge pages (2 MiB) it is a few hundred faults.
LogBytes AllocateLogBytes(std::size_t size)
{
#ifdef __linux__
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (size >= kHugePage) {
        const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
        if (void* block = std::aligned_alloc(kHugePage, rounded)) {
            ::madvise(block, rounded, MADV_HUGEPAGE);
            return LogBytes(static_cast<char*>(block));
        }
    }
#endif
    return LogBytes(static_cast<char*>(std::malloc(std::max<std::size_t>(size, 1))));
}

int Digits(std::string_view text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

std::string SentMailEntry::Key() const
{
    if (!IsSingle())
        return std::string(send);
    std::string key = "mail:";
    key.append(time).append(":").append(single.roleId);
    return key;
}

std::size_t SentMailEntry::Count(SentFate fate) const
{
    switch (fate) {
    case SentFate::Sent:
        return sent;
    case SentFate::Unknown:
        return unknown;
    case SentFate::NotSent:
        break;
    }
    return receivers - sent - unknown;
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text)
{
    int year = 0;
    unsigned month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    // The form the log is written in is read directly: sscanf for each of 100,000 entries
    // was a tenth of the whole read. Any other form still goes through sscanf, as before.
    const bool written = text.size() >= 24 && text[4] == '-' && text[7] == '-' && text[10] == 'T' &&
                         text[13] == ':' && text[16] == ':' && text[19] == '.' && text[23] == 'Z';
    int fields[7] = {written ? Digits(text, 0, 4) : -1, 0, 0, 0, 0, 0, 0};
    if (written) {
        const std::size_t at[6] = {5, 8, 11, 14, 17, 20};
        for (int i = 0; i < 6; ++i)
            fields[i + 1] = Digits(text, at[i], i == 5 ? 3 : 2);
    }
    if (std::all_of(std::begin(fields), std::end(fields), [](int field) { return field >= 0; })) {
        year = fields[0];
        month = static_cast<unsigned>(fields[1]);
        day = static_cast<unsigned>(fields[2]);
        hour = fields[3];
        minute = fields[4];
        second = fields[5];
        millisecond = fields[6];
    } else {
        char zulu = 0;
        const std::string copy(text.substr(0, 40));
        if (std::sscanf(copy.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d.%3d%c", &year, &month, &day, &hour,
                        &minute, &second, &millisecond, &zulu) != 8 ||
            zulu != 'Z')
            return std::nullopt;
    }
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(month),
                              std::chrono::day(day)};
    if (!date.ok() || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    const auto moment = sys_days(date) + hours(hour) + minutes(minute) + seconds(second) +
                        milliseconds(millisecond);
    return duration_cast<milliseconds>(moment.time_since_epoch()).count();
}

void FreeLogBytes::operator()(char* bytes) const
{
    std::free(bytes);
}

void ReadSentMailRecords(std::string_view text, SentMailLog& log)
{
    LogBytes copy = AllocateLogBytes(text.size());
    if (!copy)
        throw std::bad_alloc();
    std::copy(text.begin(), text.end(), copy.get());
    ReadRecords(copy.get(), text.size(), log);
    log.texts.push_back(std::move(copy));
}

void FinishSentMailLog(SentMailLog& log)
{
    std::reverse(log.entries.begin(), log.entries.end());
    log.sends.clear();
}

std::vector<SentReceiver> ReceiversOf(const SentMailEntry& entry)
{
    std::vector<SentReceiver> receivers;
    receivers.reserve(entry.receivers);
    if (entry.IsSingle()) {
        receivers.push_back({std::string(entry.single.roleId), entry.single.id,
                             entry.single.createMs, entry.single.fate});
    }
    for (const SentReceiverRun& run : entry.runs)
        AppendReceivers(run, receivers);
    return receivers;
}

std::vector<std::string> AttachmentsOf(const SentMailEntry& entry)
{
    std::vector<std::string> attachments;
    if (entry.attachments.empty())
        return attachments;
    // Read whole when the line was: every value in it is well-formed.
    Cursor in(entry.attachments);
    in.Take('[');
    if (in.Take(']'))
        return attachments;
    do {
        std::string_view text;
        bool escaped = false;
        if (in.Next('"') && in.String(text, escaped))
            attachments.push_back(Unescaped(text, escaped));
        else
            in.SkipValue(1);
    } while (in.Take(','));
    return attachments;
}

std::vector<std::string> ItemIdsOf(const SentMailEntry& entry)
{
    std::vector<std::string> ids;
    for (const std::string& attachment : AttachmentsOf(entry))
        ids.push_back(ItemIdOf(attachment));
    return ids;
}

namespace {

// Up to `size` bytes of the file at `path` into `into`; how many it held, nothing when it
// cannot be opened.
std::optional<std::size_t> ReadFile(const std::filesystem::path& path, char* into, std::size_t size)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    file.read(into, static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0));
}

} // namespace

SentMailLog ReadSentMailLog(const std::filesystem::path& logPath, const std::atomic<bool>* stop)
{
    // Oldest generation first, every file into one block. A second thread reads the files
    // ahead while this one parses them in order straight into the log's list (made once: lists
    // made per file and joined cost more than the second thread gained).
    struct File
    {
        std::filesystem::path path;
        std::size_t at = 0;
        std::size_t size = 0;
        std::promise<std::optional<std::size_t>> read;
    };
    std::vector<File> files;
    std::size_t total = 0;
    for (int number = kAuditLogGenerations; number >= 0; --number) {
        File file;
        file.path = Generation(logPath, number);
        std::error_code error;
        const auto size = std::filesystem::file_size(file.path, error);
        if (error)
            continue;
        file.at = total;
        file.size = static_cast<std::size_t>(size);
        total += file.size;
        files.push_back(std::move(file));
    }
    LogBytes bytes = AllocateLogBytes(total);
    if (!bytes)
        throw std::bad_alloc();
    std::thread reader([&] {
        for (File& file : files) {
            // A file that shrank since is read as far as it goes; one that grew, as far as it
            // went then (its last line may be cut: it is passed over).
            file.read.set_value(stop && stop->load()
                                    ? std::nullopt
                                    : ReadFile(file.path, bytes.get() + file.at, file.size));
        }
    });
    // The reader is waited for however the parsing ends (it writes into `bytes`).
    const std::unique_ptr<std::thread, void (*)(std::thread*)> joined(
        &reader, [](std::thread* thread) { thread->join(); });
    SentMailLog log;
    for (File& file : files) {
        const std::optional<std::size_t> read = file.read.get_future().get();
        if (!read || (stop && stop->load()))
            continue;
        ++log.files;
        ReadRecords(bytes.get() + file.at, *read, log);
    }
    log.texts.push_back(std::move(bytes));
    FinishSentMailLog(log);
    return log;
}

SentMailSearch::SentMailSearch(SentMailQuery query) : m_query(std::move(query))
{
    // A plain run holds no role id that needs an escape.
    const bool plain = std::none_of(m_query.roleId.begin(), m_query.roleId.end(), [](char c) {
        return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
    });
    if (!m_query.roleId.empty() && plain)
        m_plainRole = R"({"role":")" + m_query.roleId + '"';
}

bool SentMailSearch::NamesRole(const SentMailEntry& entry) const
{
    if (entry.IsSingle())
        return entry.single.roleId == m_query.roleId;
    std::vector<SentReceiver> others;
    for (const SentReceiverRun& run : entry.runs) {
        // In the tool's own form "{"role":"<id>"" can stand only at the start of a receiver
        // (a text in it holds no quote), so finding the bytes finds the receiver.
        if (run.plain) {
            if (!m_plainRole.empty() && run.text.find(m_plainRole) != std::string_view::npos)
                return true;
            continue;
        }
        others.clear();
        AppendReceivers(run, others);
        for (const SentReceiver& receiver : others) {
            if (receiver.roleId == m_query.roleId)
                return true;
        }
    }
    return false;
}

bool SentMailSearch::Matches(const SentMailEntry& entry) const
{
    if (m_query.fromMs && entry.timeMs < *m_query.fromMs)
        return false;
    if (m_query.toMs && entry.timeMs >= *m_query.toMs)
        return false;
    if (!m_query.title.empty() && entry.title.find(m_query.title) == std::string_view::npos)
        return false;
    if (!m_query.zone.empty() && entry.zone.find(m_query.zone) == std::string_view::npos)
        return false;
    if (!m_query.itemId.empty()) {
        const std::vector<std::string> ids = ItemIdsOf(entry);
        if (std::find(ids.begin(), ids.end(), m_query.itemId) == ids.end())
            return false;
    }
    return m_query.roleId.empty() || NamesRole(entry);
}

bool Matches(const SentMailEntry& entry, const SentMailQuery& query)
{
    return SentMailSearch(query).Matches(entry);
}

std::vector<SentReceiver> CurrentReceivers(const SentMailLog& log, const SentMailEntry& entry)
{
    std::vector<SentReceiver> current = ReceiversOf(entry);
    const std::string key = entry.Key();
    // Entries are newest first: the resends are applied oldest first, so the last word on a
    // receiver is its newest.
    std::vector<const SentMailEntry*> resends;
    for (auto it = log.entries.rbegin(); it != log.entries.rend(); ++it) {
        if (it->resendOf == key)
            resends.push_back(&*it);
    }
    if (resends.empty())
        return current;
    std::unordered_map<std::string_view, std::size_t> byRole;
    for (std::size_t i = 0; i < current.size(); ++i)
        byRole.emplace(current[i].roleId, i);
    for (const SentMailEntry* resend : resends) {
        for (SentReceiver& receiver : ReceiversOf(*resend)) {
            const auto at = byRole.find(receiver.roleId);
            if (at == byRole.end() || current[at->second].fate == SentFate::Sent)
                continue;
            // The receiver keeps its role id (and so the key byRole holds) while it is updated.
            SentReceiver& standing = current[at->second];
            standing.id = receiver.id;
            standing.createMs = receiver.createMs;
            standing.fate = receiver.fate;
        }
    }
    return current;
}

} // namespace mrvn
