#include "config/ConfigFile.h"

#include "config/AtomicFile.h"
#include "text/TextUtil.h"

#include <algorithm>
#include <type_traits>

namespace mrvn {

namespace {

enum class Encoding { Gbk, Utf8Bom, Utf16Le, Utf16Be };

struct Line
{
    std::string text; // UTF-8, without its line end
    // The line's original bytes on disk, kept so that an untouched line is written back
    // exactly as read, even when it holds bytes the code page cannot decode.
    std::string raw;
    bool hasRaw = false;
};

} // namespace

struct ConfigDocument
{
    Encoding encoding = Encoding::Gbk;
    std::vector<Line> lines;
    bool endsWithNewline = true;
    // An odd last byte of a UTF-16 file: kept at the very end, after any line a write adds,
    // so the lines stay aligned to code units.
    std::string oddTail;
    bool existed = false;
    std::string original;
};

namespace {

using Document = ConfigDocument;

enum class LoadResult { Loaded, Missing, Unreadable };

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// One pair of quotes around the whole value, which a reader takes off.
bool InQuotes(std::string_view value)
{
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front();
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Section and key names as the platform takes them: leading control characters and spaces
// dropped, trailing blanks dropped.
std::string_view NormalizeName(std::string_view name)
{
    while (!name.empty() && static_cast<unsigned char>(name.front()) <= 0x20)
        name.remove_prefix(1);
    return Trim(name);
}

// An empty key name is no key: a write that names one changes nothing.
bool EveryKeyNamed(const std::vector<std::pair<std::string, std::string>>& keys)
{
    return std::all_of(keys.begin(), keys.end(),
                       [](const auto& key) { return !NormalizeName(key.first).empty(); });
}

bool ParseSection(std::string_view text, std::string_view& name)
{
    text = Trim(text);
    if (text.empty() || text.front() != '[')
        return false;
    const std::size_t close = text.rfind(']');
    if (close == std::string_view::npos)
        return false;
    name = Trim(text.substr(1, close - 1));
    return true;
}

bool ParseKey(std::string_view text, std::string_view& key, std::string_view& value)
{
    text = Trim(text);
    if (text.empty() || text.front() == ';')
        return false;
    std::string_view ignored;
    if (ParseSection(text, ignored))
        return false;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return false;
    key = Trim(text.substr(0, equals));
    value = Trim(text.substr(equals + 1));
    return true;
}

std::string DecodeUtf16(std::string_view bytes, bool bigEndian)
{
    const auto unit = [&](std::size_t i) -> char32_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    std::string out;
    std::size_t i = 0;
    const auto append = [&](char32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    for (; i + 1 < bytes.size(); i += 2) {
        const char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size()) {
            const char32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                append(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        append(c >= 0xD800 && c <= 0xDFFF ? U'?' : c);
    }
    if (i < bytes.size())
        out += '?';
    return out;
}

std::string EncodeUtf16(std::string_view utf8, bool bigEndian)
{
    const std::string clean = CleanUtf8(utf8);
    std::string out;
    const auto put = [&](char16_t u) {
        const char hi = static_cast<char>(u >> 8);
        const char lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    for (std::size_t i = 0; i < clean.size();) {
        const auto b = static_cast<unsigned char>(clean[i]);
        const std::size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = length == 1   ? b
                     : length == 2 ? (b & 0x1F)
                     : length == 3 ? (b & 0x0F)
                                   : (b & 0x07);
        for (std::size_t k = 1; k < length; ++k)
            c = c << 6 | (static_cast<unsigned char>(clean[i + k]) & 0x3F);
        i += length;
        if (c >= 0x10000) {
            c -= 0x10000;
            put(static_cast<char16_t>(0xD800 + (c >> 10)));
            put(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            put(static_cast<char16_t>(c));
        }
    }
    return out;
}

// A line's text in the file's encoding, and back.
std::string EncodeText(Encoding encoding, std::string_view utf8)
{
    switch (encoding) {
    case Encoding::Gbk:
        return Utf8ToGbk(utf8);
    case Encoding::Utf8Bom:
        return CleanUtf8(utf8);
    case Encoding::Utf16Le:
    case Encoding::Utf16Be:
        break;
    }
    return EncodeUtf16(utf8, encoding == Encoding::Utf16Be);
}

std::string DecodeBytes(Encoding encoding, std::string_view raw)
{
    switch (encoding) {
    case Encoding::Gbk:
        return GbkToUtf8(raw);
    case Encoding::Utf8Bom:
        return CleanUtf8(raw);
    case Encoding::Utf16Le:
    case Encoding::Utf16Be:
        break;
    }
    return DecodeUtf16(raw, encoding == Encoding::Utf16Be);
}

// One character of a line's bytes, as the decoder takes it: its byte count, and the
// character when it is ASCII (-1 otherwise).
struct Unit
{
    std::size_t size = 1;
    int ascii = -1;
};

Unit UnitAt(Encoding encoding, std::string_view raw, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(raw[k]); };
    switch (encoding) {
    case Encoding::Utf16Le:
    case Encoding::Utf16Be: {
        if (i + 1 >= raw.size())
            return {raw.size() - i, -1};
        const unsigned u = encoding == Encoding::Utf16Be ? (byte(i) << 8 | byte(i + 1))
                                                         : (byte(i + 1) << 8 | byte(i));
        return {2, u < 0x80 ? static_cast<int>(u) : -1};
    }
    case Encoding::Gbk:
        // As GbkToUtf8 cuts: a lead byte with a byte of the trail range after it is one
        // character (the trail may be the byte of "|").
        if (byte(i) >= 0x81 && byte(i) <= 0xFE && i + 1 < raw.size() && byte(i + 1) >= 0x40 &&
            byte(i + 1) <= 0xFE && byte(i + 1) != 0x7F)
            return {2, -1};
        break;
    case Encoding::Utf8Bom:
        break;
    }
    return {1, byte(i) < 0x80 ? static_cast<int>(byte(i)) : -1};
}

// Splits at CR LF, CR or LF. `endsWithNewline` tells whether the last line had an end.
std::vector<std::string> SplitLines(std::string_view text, bool& endsWithNewline)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    endsWithNewline = true;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            endsWithNewline = false;
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

// The same split on the raw bytes of a UTF-16 body (of even length), at code units CR and
// LF, so that every line keeps its exact bytes: a zero unit or a lone surrogate stays in its
// line as it was.
std::vector<std::string> SplitUtf16Lines(std::string_view body, bool bigEndian,
                                         bool& endsWithNewline)
{
    const auto unit = [&](std::size_t i) -> unsigned {
        const auto a = static_cast<unsigned char>(body[i]);
        const auto b = static_cast<unsigned char>(body[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    std::vector<std::string> lines;
    endsWithNewline = true;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i + 1 < body.size()) {
        const unsigned u = unit(i);
        if (u != '\r' && u != '\n') {
            i += 2;
            continue;
        }
        lines.emplace_back(body.substr(start, i - start));
        i += 2;
        if (u == '\r' && i + 1 < body.size() && unit(i) == '\n')
            i += 2;
        start = i;
    }
    if (start < body.size()) {
        lines.emplace_back(body.substr(start));
        endsWithNewline = false;
    }
    return lines;
}

LoadResult Load(const std::filesystem::path& path, Document& doc)
{
    std::string bytes;
    switch (ReadRegularFile(path, bytes)) {
    case ReadResult::Loaded:
        break;
    case ReadResult::Missing:
        return LoadResult::Missing;
    case ReadResult::NotRegular:
    case ReadResult::Unreadable:
        return LoadResult::Unreadable;
    }
    doc.existed = true;
    doc.original = bytes;
    std::string_view body = bytes;
    if (body.starts_with("\xEF\xBB\xBF")) {
        doc.encoding = Encoding::Utf8Bom;
        body.remove_prefix(3);
    } else if (body.starts_with("\xFF\xFE")) {
        doc.encoding = Encoding::Utf16Le;
        body.remove_prefix(2);
    } else if (body.starts_with("\xFE\xFF")) {
        doc.encoding = Encoding::Utf16Be;
        body.remove_prefix(2);
    }
    if (doc.encoding == Encoding::Utf16Le || doc.encoding == Encoding::Utf16Be) {
        const bool bigEndian = doc.encoding == Encoding::Utf16Be;
        if (body.size() % 2 != 0) {
            doc.oddTail = body.substr(body.size() - 1);
            body.remove_suffix(1);
        }
        for (std::string& raw : SplitUtf16Lines(body, bigEndian, doc.endsWithNewline)) {
            std::string text = DecodeUtf16(raw, bigEndian);
            doc.lines.push_back({std::move(text), std::move(raw), true});
        }
        return LoadResult::Loaded;
    }
    // CR and LF never occur inside a double-byte character (trail bytes start at 0x40), so
    // the raw bytes split into the same lines as the decoded text.
    for (std::string& raw : SplitLines(body, doc.endsWithNewline)) {
        std::string text = DecodeBytes(doc.encoding, raw);
        doc.lines.push_back({std::move(text), std::move(raw), true});
    }
    return LoadResult::Loaded;
}

std::string Serialize(const Document& doc)
{
    std::string out;
    switch (doc.encoding) {
    case Encoding::Gbk:
        break;
    case Encoding::Utf8Bom:
        out = "\xEF\xBB\xBF";
        break;
    case Encoding::Utf16Le:
        out = "\xFF\xFE";
        break;
    case Encoding::Utf16Be:
        out = "\xFE\xFF";
        break;
    }
    const std::string newline = EncodeText(doc.encoding, "\r\n");
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        const Line& line = doc.lines[i];
        // An untouched line goes back byte for byte as read.
        out += line.hasRaw ? line.raw : EncodeText(doc.encoding, line.text);
        if (i + 1 < doc.lines.size() || doc.endsWithNewline)
            out += newline;
    }
    out += doc.oddTail;
    return out;
}

// A value is one line: a line end inside it would make the following text a line of its
// own (a forged section header, say) at the next read.
std::string SingleLine(std::string_view value)
{
    std::string out(value);
    for (char& c : out) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

struct SectionRange
{
    std::size_t header = 0;
    std::size_t end = 0; // one past the section's last line
    bool found = false;
};

SectionRange FindSection(const Document& doc, std::string_view name)
{
    SectionRange range;
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        std::string_view lineName;
        if (!ParseSection(doc.lines[i].text, lineName))
            continue;
        if (range.found) {
            range.end = i;
            return range;
        }
        if (EqualsAsciiNoCase(lineName, name)) {
            range.header = i;
            range.found = true;
        }
    }
    range.end = doc.lines.size();
    return range;
}

std::size_t FindKey(const Document& doc, const SectionRange& range, std::string_view key)
{
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        std::string_view lineKey, value;
        if (ParseKey(doc.lines[i].text, lineKey, value) && EqualsAsciiNoCase(lineKey, key))
            return i;
    }
    return std::string::npos;
}

// One past the last non-blank line of the section, so that blank lines that separate it
// from the next section stay after it.
std::size_t EndOfContent(const Document& doc, const SectionRange& range)
{
    std::size_t position = range.header + 1;
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        if (!Trim(doc.lines[i].text).empty())
            position = i + 1;
    }
    return position;
}

void InsertLines(Document& doc, std::size_t position, std::vector<Line> lines)
{
    if (position >= doc.lines.size())
        doc.endsWithNewline = true;
    doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(position),
                     std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
}

Line MakeLine(std::string text)
{
    return {std::move(text), {}, false};
}

// Puts the line `make(key as the file spells it)` in the key's place: over the key's line,
// at the end of the section, or in a new section at the end of the file.
template <typename Make>
void SetLine(Document& doc, std::string_view section, std::string_view key, Make make)
{
    const SectionRange range = FindSection(doc, section);
    if (!range.found) {
        InsertLines(doc, doc.lines.size(),
                    {MakeLine("[" + std::string(section) + "]"), make(std::string(key))});
        return;
    }
    const std::size_t existing = FindKey(doc, range, key);
    if (existing != std::string::npos) {
        std::string_view lineKey, oldValue;
        ParseKey(doc.lines[existing].text, lineKey, oldValue);
        doc.lines[existing] = make(std::string(lineKey));
        return;
    }
    InsertLines(doc, EndOfContent(doc, range), {make(std::string(key))});
}

void SetValue(Document& doc, std::string_view section, std::string_view key, std::string_view value)
{
    SetLine(doc, section, key,
            [&](const std::string& name) { return MakeLine(name + "=" + SingleLine(value)); });
}

// Runs `change` on the file as it is now and writes the result back when it changed
// anything, all under the file's lock: a change another copy made since our last read is in
// what `change` sees, and no other copy writes in between.
template <typename Change> bool Modify(const std::filesystem::path& path, Change change)
{
    if (path.empty())
        return false;
    const FileLock lock(ResolveWriteTarget(path));
    if (!lock.Locked())
        return false;
    Document doc;
    const LoadResult loaded = Load(path, doc);
    // An unreadable file is not replaced: rewriting it would lose what it holds.
    if (loaded == LoadResult::Unreadable)
        return false;
    if (!change(doc))
        return true;
    const std::string bytes = Serialize(doc);
    if (doc.existed && bytes == doc.original)
        return true;
    return ReplaceFileContent(path, bytes);
}

// A value cut to the reader's buffer, counted in GBK bytes and never inside a character.
std::string CutToBuffer(std::string_view value)
{
    // The reader's buffer holds a C string: a zero byte in the file ends the value there.
    value = value.substr(0, value.find('\0'));
    // No character takes more bytes in GBK than in UTF-8, so short values need no count.
    if (value.size() <= kMaxValueBytes)
        return std::string(value);
    std::size_t gbkBytes = 0;
    std::size_t i = 0;
    while (i < value.size()) {
        const auto b = static_cast<unsigned char>(value[i]);
        const std::size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        const std::size_t width = length == 1 ? 1 : Utf8ToGbk(value.substr(i, length)).size();
        if (gbkBytes + width > kMaxValueBytes)
            break;
        gbkBytes += width;
        i += length;
    }
    return std::string(value.substr(0, i));
}

} // namespace

ConfigFile::ConfigFile(std::filesystem::path path) : m_path(std::move(path)) {}

ConfigFile ConfigFile::Default()
{
    return ConfigFile(ProgramDirectory() / "config.dat");
}

std::string ConfigFile::ReadValue(std::string_view section, std::string_view key,
                                  std::string_view defaultValue) const
{
    // Leading spaces and control characters of the path are dropped, as the platform reader
    // does; the path stays in its native form (wide on Windows) all the way to the open.
    auto native = m_path.native();
    std::size_t skip = 0;
    const auto code = [](auto c) { return static_cast<std::make_unsigned_t<decltype(c)>>(c); };
    while (skip < native.size() && code(native[skip]) <= 0x20)
        ++skip;
    const std::filesystem::path path(native.substr(skip));
    if (path.empty())
        return {};
    Document doc;
    if (Load(path, doc) != LoadResult::Loaded)
        return std::string(defaultValue);
    return ConfigEdit(doc).ReadValue(section, key, defaultValue);
}

std::string ConfigEdit::ReadValue(std::string_view section, std::string_view key,
                                  std::string_view defaultValue) const
{
    const Document& doc = m_document;
    section = NormalizeName(section);
    key = NormalizeName(key);
    // The platform reader answers a question about no name with the caller's default.
    if (section.empty() || key.empty())
        return std::string(defaultValue);
    const SectionRange range = FindSection(doc, section);
    if (!range.found)
        return std::string(defaultValue);
    const std::size_t line = FindKey(doc, range, key);
    if (line == std::string::npos)
        return std::string(defaultValue);
    std::string_view lineKey, value;
    ParseKey(doc.lines[line].text, lineKey, value);
    if (InQuotes(value))
        value = value.substr(1, value.size() - 2);
    return CutToBuffer(value);
}

bool ConfigEdit::WriteValue(std::string_view section, std::string_view key, std::string_view value)
{
    section = NormalizeName(section);
    key = NormalizeName(key);
    if (section.empty() || key.empty())
        return false;
    SetValue(m_document, section, key, value);
    return true;
}

bool ConfigEdit::WriteSection(std::string_view section,
                              const std::vector<std::pair<std::string, std::string>>& keys)
{
    section = NormalizeName(section);
    if (section.empty())
        return false;
    if (!EveryKeyNamed(keys))
        return false;
    Document& doc = m_document;
    std::vector<Line> body;
    for (const auto& [key, value] : keys)
        body.push_back(MakeLine(std::string(NormalizeName(key)) + "=" + SingleLine(value)));
    const SectionRange range = FindSection(doc, section);
    if (!range.found) {
        body.insert(body.begin(), MakeLine("[" + std::string(section) + "]"));
        InsertLines(doc, doc.lines.size(), std::move(body));
        return true;
    }
    const std::size_t end = EndOfContent(doc, range);
    doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(range.header + 1),
                    doc.lines.begin() + static_cast<std::ptrdiff_t>(end));
    InsertLines(doc, range.header + 1, std::move(body));
    return true;
}

bool ConfigEdit::DeleteSection(std::string_view section)
{
    section = NormalizeName(section);
    if (section.empty())
        return false;
    Document& doc = m_document;
    const SectionRange range = FindSection(doc, section);
    if (!range.found)
        return false;
    doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(range.header),
                    doc.lines.begin() + static_cast<std::ptrdiff_t>(range.end));
    return true;
}

std::vector<ValuePiece> ConfigEdit::ReadPieces(std::string_view section, std::string_view key,
                                               char separator) const
{
    const Document& doc = m_document;
    section = NormalizeName(section);
    key = NormalizeName(key);
    if (section.empty() || key.empty())
        return {};
    const SectionRange range = FindSection(doc, section);
    const std::size_t at = range.found ? FindKey(doc, range, key) : std::string::npos;
    if (at == std::string::npos)
        return {};
    const Line& line = doc.lines[at];
    const std::string raw = line.hasRaw ? line.raw : EncodeText(doc.encoding, line.text);
    // The value's characters: after the first "=", without surrounding blanks and one pair of
    // enclosing quotes, up to a zero (as ReadValue reads it).
    std::vector<std::pair<std::size_t, Unit>> units;
    bool inValue = false;
    for (std::size_t i = 0; i < raw.size();) {
        const Unit unit = UnitAt(doc.encoding, raw, i);
        // A UTF-8 line's text ends at a zero byte (the decoder stops there), so blanks
        // before it are the value's end and are taken off like any other.
        if (doc.encoding == Encoding::Utf8Bom && unit.ascii == 0)
            break;
        if (inValue)
            units.emplace_back(i, unit);
        inValue = inValue || unit.ascii == '=';
        i += unit.size;
    }
    const auto blank = [](const auto& unit) {
        return unit.second.ascii == ' ' || unit.second.ascii == '\t';
    };
    auto first = std::find_if_not(units.begin(), units.end(), blank);
    auto last = std::find_if_not(units.rbegin(), std::make_reverse_iterator(first), blank).base();
    if (last - first >= 2 && (first->second.ascii == '"' || first->second.ascii == '\'') &&
        (last - 1)->second.ascii == first->second.ascii) {
        ++first;
        --last;
    }
    last = std::find_if(first, last, [](const auto& unit) { return unit.second.ascii == 0; });
    std::vector<ValuePiece> pieces;
    std::string bytes;
    for (auto unit = first; unit != last; ++unit) {
        if (unit->second.ascii == separator) {
            pieces.push_back({DecodeBytes(doc.encoding, bytes), bytes});
            bytes.clear();
        } else {
            bytes.append(raw, unit->first, unit->second.size);
        }
    }
    if (!bytes.empty())
        pieces.push_back({DecodeBytes(doc.encoding, bytes), bytes});
    return pieces;
}

bool ConfigEdit::WritePieces(std::string_view section, std::string_view key,
                             const std::vector<ValuePiece>& pieces, char separator)
{
    section = NormalizeName(section);
    key = NormalizeName(key);
    if (section.empty() || key.empty())
        return false;
    const Encoding encoding = m_document.encoding;
    std::string value;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            value += EncodeText(encoding, std::string(1, separator));
        value += pieces[i].bytes.empty() ? EncodeText(encoding, SingleLine(pieces[i].text))
                                         : pieces[i].bytes;
    }
    // A reader takes off blanks at either end and one pair of enclosing quotes: a value that
    // has them of its own is put in quotes, so that every piece reads back with its bytes.
    const std::string shown = DecodeBytes(encoding, value); // its ends as a reader sees them
    if (!shown.empty() && (IsBlank(shown.front()) || IsBlank(shown.back()) || InQuotes(shown)))
        value = EncodeText(encoding, "\"") + value + EncodeText(encoding, "\"");
    SetLine(m_document, section, key, [&](const std::string& name) {
        std::string raw = EncodeText(encoding, name + "=") + value;
        std::string text = DecodeBytes(encoding, raw);
        return Line{std::move(text), std::move(raw), true};
    });
    return true;
}

bool ConfigFile::Update(const std::function<bool(ConfigEdit&)>& change)
{
    return Modify(m_path, [&](Document& doc) {
        ConfigEdit edit(doc);
        return change(edit);
    });
}

bool ConfigFile::WriteValue(std::string_view section, std::string_view key, std::string_view value)
{
    return WriteValues(section, {{std::string(key), std::string(value)}});
}

bool ConfigFile::WriteValues(std::string_view section,
                             const std::vector<std::pair<std::string, std::string>>& keys)
{
    section = NormalizeName(section);
    if (section.empty())
        return false;
    if (!EveryKeyNamed(keys))
        return false;
    return Modify(m_path, [&](Document& doc) {
        for (const auto& [key, value] : keys)
            SetValue(doc, section, NormalizeName(key), value);
        return !keys.empty();
    });
}

bool ConfigFile::DeleteSection(std::string_view section)
{
    if (NormalizeName(section).empty())
        return false;
    return Modify(m_path, [&](Document& doc) { return ConfigEdit(doc).DeleteSection(section); });
}

bool ConfigFile::DeleteKey(std::string_view section, std::string_view key)
{
    section = NormalizeName(section);
    key = NormalizeName(key);
    if (section.empty() || key.empty())
        return false;
    return Modify(m_path, [&](Document& doc) {
        const SectionRange range = FindSection(doc, section);
        if (!range.found)
            return false;
        const std::size_t line = FindKey(doc, range, key);
        if (line == std::string::npos)
            return false;
        doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(line));
        return true;
    });
}

bool ConfigFile::WriteSection(std::string_view section,
                              const std::vector<std::pair<std::string, std::string>>& keys)
{
    if (NormalizeName(section).empty())
        return false;
    if (!EveryKeyNamed(keys))
        return false;
    return Modify(m_path,
                  [&](Document& doc) { return ConfigEdit(doc).WriteSection(section, keys); });
}

ConnectionSettings LoadConnectionSettings(const ConfigFile& file)
{
    const ConnectionSettings defaults;
    ConnectionSettings settings;
    settings.ip = file.ReadValue("system", "ip", defaults.ip);
    settings.port = file.ReadValue("system", "port", defaults.port);
    settings.user = file.ReadValue("system", "user", defaults.user);
    settings.psw = file.ReadValue("system", "psw", defaults.psw);
    settings.db = file.ReadValue("system", "db", defaults.db);
    return settings;
}

bool SaveConnectionSettings(ConfigFile& file, const ConnectionSettings& settings)
{
    // One rewrite that ends with the same bytes as five single writes in this order.
    return file.WriteValues("system", {{"ip", settings.ip},
                                       {"port", settings.port},
                                       {"user", settings.user},
                                       {"psw", settings.psw},
                                       {"db", settings.db}});
}

} // namespace mrvn
