#include "config/Zones.h"

#include "config/AtomicFile.h"
#include "text/TextUtil.h"

#include <algorithm>
#include <optional>

namespace mrvn {

namespace {

// ---- Characters ----------------------------------------------------------------------------

// The code points of UTF-8 text; false for bytes that are not UTF-8.
bool DecodeUtf8(std::string_view text, std::u32string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t c = 0;
        if (b < 0x80) {
            length = 1;
            c = b;
        } else if (b >= 0xC2 && b < 0xE0) {
            length = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b < 0xF0) {
            length = 3;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b < 0xF5) {
            length = 4;
            c = b & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            c = c << 6 | (t & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        out += c;
        i += length;
    }
    return true;
}

// Upper-case letters of the scripts an operator may name a zone in, as lower case.
char32_t FoldCase(char32_t c)
{
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) || (c >= 0x410 && c <= 0x42F) ||
        (c >= 0xFF21 && c <= 0xFF3A))
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    // Latin Extended-A pairs an upper-case letter with the lower-case one after it.
    if (((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) &&
        c % 2 == 0)
        return c + 1;
    if (c >= 0x139 && c <= 0x148 && c % 2 == 1)
        return c + 1;
    return c;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// A value as the file holds it: one pair of enclosing quotes is taken off, so that a value
// with blanks at its ends (a password, say) can be written.
std::string ReadValueText(std::string_view text)
{
    text = Trim(text);
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    return std::string(text);
}

std::string WriteValueText(std::string_view value)
{
    std::string out(value);
    std::replace(out.begin(), out.end(), '\n', ' ');
    const bool blankEnd = !out.empty() && (IsBlank(out.front()) || IsBlank(out.back()));
    const bool enclosed =
        out.size() >= 2 && (out.front() == '"' || out.front() == '\'') && out.back() == out.front();
    if (blankEnd || enclosed)
        return '"' + out + '"';
    return out;
}

bool ParsePort(std::string_view text, unsigned& port, bool emptyIsDefault)
{
    if (text.empty()) {
        if (!emptyIsDefault)
            return false;
        port = 0;
        return true;
    }
    if (!IsDigitText(text) || text.size() > 5)
        return false;
    const std::int64_t value = TextToInt64(text);
    if (value < 1 || value > 65535)
        return false;
    port = static_cast<unsigned>(value);
    return true;
}

// ---- Reading -------------------------------------------------------------------------------

struct RawKey
{
    std::string key; // as written
    std::string value;
    int line = 0;
};

struct RawSection
{
    enum class Type { Zones, Zone, Other, Skipped };
    Type type = Type::Other;
    std::string name;
    int line = 0;
    std::vector<RawKey> keys;
};

void Note(std::vector<ZoneNote>& notes, ZoneNote::Kind kind, int line, std::string text,
          std::string zone = {}, std::string value = {})
{
    notes.push_back({kind, line, std::move(text), std::move(zone), std::move(value)});
}

// The keys of a section, a key written twice counting once (the first).
std::vector<RawKey> FirstOfEachKey(const std::vector<RawKey>& keys, const std::string& zone,
                                   std::vector<ZoneNote>& notes)
{
    std::vector<RawKey> first;
    for (const RawKey& key : keys) {
        const bool seen = std::any_of(first.begin(), first.end(), [&](const RawKey& earlier) {
            return EqualsAsciiNoCase(earlier.key, key.key);
        });
        if (seen)
            Note(notes, ZoneNote::Kind::DuplicateKey, key.line, key.key, zone);
        else
            first.push_back(key);
    }
    return first;
}

bool TakeEnum(const RawKey& key, const std::string& zone, std::vector<ZoneNote>& notes,
              std::initializer_list<std::string_view> names, int& index)
{
    const std::string value = Lower(key.value);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (value == names.begin()[i]) {
            index = static_cast<int>(i);
            return true;
        }
    }
    Note(notes, ZoneNote::Kind::BadValue, key.line, key.key, zone, key.value);
    return false;
}

Zone MakeZone(const RawSection& section, std::vector<ZoneNote>& notes)
{
    Zone zone;
    zone.name = section.name;
    zone.color.clear();
    zone.psw.clear();
    // A zone without a password= line keeps its password in the file, as the first zones
    // of an old folder do.
    const RawKey* psw = nullptr;
    const auto badValue = [&](const RawKey& key) {
        Note(notes, ZoneNote::Kind::BadValue, key.line, key.key, zone.name, key.value);
    };
    const std::vector<RawKey> keys = FirstOfEachKey(section.keys, zone.name, notes);
    for (const RawKey& key : keys) {
        const std::string name = Lower(key.key);
        int index = 0;
        if (name == "host") {
            zone.host = key.value;
        } else if (name == "port") {
            if (!ParsePort(key.value, zone.port, true))
                badValue(key);
        } else if (name == "user") {
            zone.user = key.value;
        } else if (name == "db") {
            zone.db = key.value;
        } else if (name == "color") {
            if (IsZoneColor(key.value))
                zone.color = Lower(key.value);
            else
                badValue(key);
        } else if (name == "password") {
            // An unknown place is taken as "ask": a password is never written into the file
            // for a zone that did not say so.
            zone.password = TakeEnum(key, zone.name, notes, {"keychain", "file", "ask"}, index)
                                ? static_cast<PasswordPlace>(index)
                                : PasswordPlace::Ask;
        } else if (name == "psw") {
            psw = &key;
        } else if (name == "tls") {
            // An unknown setting is taken as the strictest: never a plain connection that
            // the file meant to be encrypted.
            zone.tls = TakeEnum(key, zone.name, notes, {"off", "required", "verify"}, index)
                           ? static_cast<TlsMode>(index)
                           : TlsMode::Verify;
        } else if (name == "tls_fp") {
            zone.tlsFingerprint = key.value;
        } else if (name == "tls_ca") {
            zone.tlsCaFile = key.value;
        } else if (name == "ssh_host") {
            zone.sshHost = key.value;
        } else if (name == "ssh_port") {
            if (!ParsePort(key.value, zone.sshPort, false))
                badValue(key);
        } else if (name == "ssh_user") {
            zone.sshUser = key.value;
        } else if (name == "ssh_key") {
            zone.sshKey = key.value;
        } else if (name == "ssh_fp") {
            zone.sshFingerprint = key.value;
        } else {
            Note(notes, ZoneNote::Kind::UnknownKey, key.line, key.key, zone.name);
            zone.otherKeys.emplace_back(key.key, key.value);
        }
    }
    if (psw) {
        if (zone.password == PasswordPlace::File)
            zone.psw = psw->value;
        else
            Note(notes, ZoneNote::Kind::IgnoredPassword, psw->line, psw->key, zone.name);
    }
    return zone;
}

std::string DecodeFile(std::string_view bytes, std::vector<ZoneNote>& notes)
{
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    // A zero byte is no reason to read the whole file otherwise: it stands for itself.
    std::string text(bytes);
    std::replace(text.begin(), text.end(), '\0', '?');
    if (IsValidUtf8(text))
        return text;
    Note(notes, ZoneNote::Kind::NotUtf8, 0, {});
    return CleanUtf8(GbkToUtf8(text));
}

std::vector<RawSection> ReadSections(const std::string& text, std::vector<ZoneNote>& notes)
{
    std::vector<RawSection> sections;
    std::vector<std::string> zoneNames;
    RawSection* open = nullptr;
    int number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++number;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#')
            continue;
        if (trimmed.front() == '[') {
            const std::string_view name = trimmed.back() == ']' && trimmed.size() > 2
                                              ? Trim(trimmed.substr(1, trimmed.size() - 2))
                                              : std::string_view();
            if (name.empty()) {
                Note(notes, ZoneNote::Kind::BadLine, number, std::string(line));
                open = nullptr;
                continue;
            }
            RawSection section;
            section.line = number;
            section.name = std::string(name);
            if (EqualsAsciiNoCase(name, "zones")) {
                section.type = RawSection::Type::Zones;
            } else if (StartsWithAsciiNoCase(name, "zone.")) {
                section.type = RawSection::Type::Zone;
                section.name = std::string(name.substr(5));
                if (CheckZoneName(section.name) != ZoneNameProblem::None) {
                    Note(notes, ZoneNote::Kind::BadName, number, section.name);
                    section.type = RawSection::Type::Skipped;
                } else if (std::any_of(zoneNames.begin(), zoneNames.end(), [&](auto& earlier) {
                               return SameZoneName(earlier, section.name);
                           })) {
                    Note(notes, ZoneNote::Kind::DuplicateName, number, section.name);
                    section.type = RawSection::Type::Skipped;
                } else {
                    zoneNames.push_back(section.name);
                }
            }
            // A second [zones] or a second section of a later version's name goes on
            // where the first one is.
            open = nullptr;
            if (section.type == RawSection::Type::Zones ||
                section.type == RawSection::Type::Other) {
                for (RawSection& earlier : sections) {
                    if (earlier.type == section.type &&
                        EqualsAsciiNoCase(earlier.name, section.name))
                        open = &earlier;
                }
            }
            if (!open) {
                if (section.type == RawSection::Type::Other)
                    Note(notes, ZoneNote::Kind::UnknownSection, number, section.name);
                sections.push_back(std::move(section));
                open = &sections.back();
            }
            continue;
        }
        const std::size_t equals = trimmed.find('=');
        const std::string_view key =
            equals == std::string_view::npos ? std::string_view() : Trim(trimmed.substr(0, equals));
        if (key.empty() || !open) {
            Note(notes, ZoneNote::Kind::BadLine, number, std::string(line));
            continue;
        }
        open->keys.push_back({std::string(key), ReadValueText(trimmed.substr(equals + 1)), number});
    }
    return sections;
}

// ---- Writing -------------------------------------------------------------------------------

void WriteKey(std::string& out, std::string_view key, std::string_view value)
{
    out += key;
    out += '=';
    out += WriteValueText(value);
    out += "\r\n";
}

const char* PlaceName(PasswordPlace place)
{
    switch (place) {
    case PasswordPlace::Keychain:
        return "keychain";
    case PasswordPlace::File:
        return "file";
    case PasswordPlace::Ask:
        return "ask";
    }
    return "ask";
}

const char* TlsName(TlsMode mode)
{
    switch (mode) {
    case TlsMode::Off:
        return "off";
    case TlsMode::Required:
        return "required";
    case TlsMode::Verify:
        return "verify";
    }
    return "verify";
}

} // namespace

// ---- Names and colours ---------------------------------------------------------------------

ZoneNameProblem CheckZoneName(std::string_view name)
{
    std::u32string chars;
    if (!DecodeUtf8(name, chars))
        return ZoneNameProblem::NotUtf8;
    if (chars.empty())
        return ZoneNameProblem::Empty;
    if (chars.size() > kMaxZoneNameChars)
        return ZoneNameProblem::TooLong;
    for (const char32_t c : chars) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == U'|' || c == U'[' || c == U']' ||
            c == 0x2028 || c == 0x2029)
            return ZoneNameProblem::ForbiddenCharacter;
    }
    const auto blank = [](char32_t c) { return c == U' ' || c == 0xA0 || c == 0x3000; };
    if (blank(chars.front()) || blank(chars.back()))
        return ZoneNameProblem::BlankAtEnd;
    return ZoneNameProblem::None;
}

bool SameZoneName(std::string_view a, std::string_view b)
{
    std::u32string left, right;
    if (!DecodeUtf8(a, left) || !DecodeUtf8(b, right))
        return a == b;
    if (left.size() != right.size())
        return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (FoldCase(left[i]) != FoldCase(right[i]))
            return false;
    }
    return true;
}

bool IsZoneColor(std::string_view text)
{
    return text.size() == 7 && text.front() == '#' &&
           std::all_of(text.begin() + 1, text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

const std::vector<std::string>& ZonePalette()
{
    // Dark enough for white text on them, apart enough to tell zones at a glance.
    static const std::vector<std::string> palette = {"#2e86c1", "#c0392b", "#27ae60", "#8e44ad",
                                                     "#d35400", "#16a085", "#b7950b", "#7f8c8d"};
    return palette;
}

std::string NextZoneColor(const ZoneList& list)
{
    for (const std::string& color : ZonePalette()) {
        const bool taken = std::any_of(list.zones.begin(), list.zones.end(),
                                       [&](const Zone& zone) { return zone.color == color; });
        if (!taken)
            return color;
    }
    return ZonePalette()[list.zones.size() % ZonePalette().size()];
}

Zone* FindZone(ZoneList& list, std::string_view name)
{
    for (Zone& zone : list.zones) {
        if (SameZoneName(zone.name, name))
            return &zone;
    }
    return nullptr;
}

const Zone* FindZone(const ZoneList& list, std::string_view name)
{
    return FindZone(const_cast<ZoneList&>(list), name);
}

const Zone* CurrentZone(const ZoneList& list)
{
    if (const Zone* zone = FindZone(list, list.current))
        return zone;
    return list.zones.empty() ? nullptr : &list.zones.front();
}

// ---- The file's text -----------------------------------------------------------------------

ZoneList ParseZones(std::string_view bytes, std::vector<ZoneNote>& notes)
{
    const std::string text = DecodeFile(bytes, notes);
    ZoneList list;
    std::vector<Zone> inFileOrder;
    std::string order;
    bool haveOrder = false;
    int orderLine = 0;
    std::optional<RawKey> current;
    for (const RawSection& section : ReadSections(text, notes)) {
        switch (section.type) {
        case RawSection::Type::Zones:
            for (const RawKey& key : FirstOfEachKey(section.keys, {}, notes)) {
                if (EqualsAsciiNoCase(key.key, "order")) {
                    haveOrder = true;
                    order = key.value;
                    orderLine = key.line;
                } else if (EqualsAsciiNoCase(key.key, "current")) {
                    current = key;
                } else {
                    Note(notes, ZoneNote::Kind::UnknownKey, key.line, key.key);
                    list.otherKeys.emplace_back(key.key, key.value);
                }
            }
            break;
        case RawSection::Type::Zone:
            inFileOrder.push_back(MakeZone(section, notes));
            break;
        case RawSection::Type::Other: {
            OtherZonesSection other{section.name, {}};
            for (const RawKey& key : FirstOfEachKey(section.keys, {}, notes))
                other.keys.emplace_back(key.key, key.value);
            list.otherSections.push_back(std::move(other));
            break;
        }
        case RawSection::Type::Skipped:
            break;
        }
    }
    // The order the file gives first, then zones it does not list, as they stand.
    std::vector<bool> placed(inFileOrder.size(), false);
    if (haveOrder) {
        for (const std::string& piece : SplitText(order, "|")) {
            const std::string name(Trim(piece));
            if (name.empty())
                continue;
            bool found = false;
            for (std::size_t i = 0; i < inFileOrder.size() && !found; ++i) {
                if (SameZoneName(inFileOrder[i].name, name)) {
                    found = true;
                    if (!placed[i])
                        list.zones.push_back(inFileOrder[i]);
                    placed[i] = true;
                }
            }
            if (!found)
                Note(notes, ZoneNote::Kind::MissingZone, orderLine, name);
        }
    }
    for (std::size_t i = 0; i < inFileOrder.size(); ++i) {
        if (!placed[i])
            list.zones.push_back(std::move(inFileOrder[i]));
    }
    for (Zone& zone : list.zones) {
        if (zone.color.empty())
            zone.color = NextZoneColor(list);
    }
    if (current && !current->value.empty()) {
        if (const Zone* zone = FindZone(list, current->value))
            list.current = zone->name;
        else
            Note(notes, ZoneNote::Kind::MissingZone, current->line, current->value);
    }
    return list;
}

std::string SerializeZones(const ZoneList& list)
{
    std::string out = "\xEF\xBB\xBF[zones]\r\n";
    std::string order;
    for (const Zone& zone : list.zones)
        order += (order.empty() ? "" : "|") + zone.name;
    WriteKey(out, "order", order);
    if (const Zone* current = FindZone(list, list.current))
        WriteKey(out, "current", current->name);
    for (const auto& [key, value] : list.otherKeys)
        WriteKey(out, key, value);
    for (const Zone& zone : list.zones) {
        out += "\r\n[zone." + zone.name + "]\r\n";
        WriteKey(out, "host", zone.host);
        WriteKey(out, "port", zone.port == 0 ? std::string() : std::to_string(zone.port));
        WriteKey(out, "user", zone.user);
        WriteKey(out, "db", zone.db);
        WriteKey(out, "color", zone.color);
        WriteKey(out, "password", PlaceName(zone.password));
        if (zone.password == PasswordPlace::File)
            WriteKey(out, "psw", zone.psw);
        if (zone.tls != TlsMode::Off)
            WriteKey(out, "tls", TlsName(zone.tls));
        if (!zone.tlsFingerprint.empty())
            WriteKey(out, "tls_fp", zone.tlsFingerprint);
        if (!zone.tlsCaFile.empty())
            WriteKey(out, "tls_ca", zone.tlsCaFile);
        if (!zone.sshHost.empty())
            WriteKey(out, "ssh_host", zone.sshHost);
        if (!zone.sshHost.empty() || zone.sshPort != kDefaultSshPort)
            WriteKey(out, "ssh_port", std::to_string(zone.sshPort));
        if (!zone.sshUser.empty())
            WriteKey(out, "ssh_user", zone.sshUser);
        if (!zone.sshKey.empty())
            WriteKey(out, "ssh_key", zone.sshKey);
        if (!zone.sshFingerprint.empty())
            WriteKey(out, "ssh_fp", zone.sshFingerprint);
        for (const auto& [key, value] : zone.otherKeys)
            WriteKey(out, key, value);
    }
    for (const OtherZonesSection& section : list.otherSections) {
        out += "\r\n[" + section.name + "]\r\n";
        for (const auto& [key, value] : section.keys)
            WriteKey(out, key, value);
    }
    return out;
}

// ---- config.dat and the connection boxes ---------------------------------------------------

Zone ZoneFromSystemKeys(const ConnectionSettings& settings)
{
    Zone zone;
    zone.name = kDefaultZoneName;
    zone.color = ZonePalette().front();
    zone.host = settings.ip;
    // The port box's text as config.dat keeps it: empty for the library's default; a text
    // that is no port (a hand edit) leaves the usual one.
    const std::string port = RemoveAllSpaces(settings.port);
    const std::int64_t number = TextToInt64(port);
    zone.port = port.empty() ? 0 : number >= 1 && number <= 65535 ? unsigned(number) : 3306;
    zone.user = settings.user;
    zone.db = settings.db;
    zone.password = PasswordPlace::File;
    zone.psw = settings.psw;
    return zone;
}

ConnectionSettings ZoneBoxes(const Zone& zone)
{
    ConnectionSettings boxes;
    boxes.ip = zone.host;
    boxes.port = zone.port == 0 ? std::string() : std::to_string(zone.port);
    boxes.user = zone.user;
    boxes.psw = zone.password == PasswordPlace::File ? zone.psw : std::string();
    boxes.db = zone.db;
    return boxes;
}

void TakeZoneBoxes(Zone& zone, const ConnectionSettings& boxes)
{
    zone.host = boxes.ip;
    const std::string port = RemoveAllSpaces(boxes.port);
    const std::int64_t number = TextToInt64(port);
    if (port.empty())
        zone.port = 0;
    else if (number >= 1 && number <= 65535)
        zone.port = static_cast<unsigned>(number);
    zone.user = boxes.user;
    zone.db = boxes.db;
    if (zone.password == PasswordPlace::File)
        zone.psw = boxes.psw;
}

// ---- Changes -------------------------------------------------------------------------------

namespace {

ZoneEdit CheckNewName(const ZoneList& list, const std::string& name, const Zone* renamed)
{
    if (CheckZoneName(name) != ZoneNameProblem::None)
        return ZoneEdit::BadName;
    for (const Zone& zone : list.zones) {
        if (&zone != renamed && SameZoneName(zone.name, name))
            return ZoneEdit::Duplicate;
    }
    return ZoneEdit::Done;
}

} // namespace

ZoneEdit AddZone(ZoneList& list, Zone zone)
{
    if (const ZoneEdit check = CheckNewName(list, zone.name, nullptr); check != ZoneEdit::Done)
        return check;
    if (!IsZoneColor(zone.color))
        zone.color = NextZoneColor(list);
    list.zones.push_back(std::move(zone));
    return ZoneEdit::Done;
}

ZoneEdit RenameZone(ZoneList& list, std::string_view name, const std::string& newName)
{
    Zone* zone = FindZone(list, name);
    if (!zone)
        return ZoneEdit::NotFound;
    if (const ZoneEdit check = CheckNewName(list, newName, zone); check != ZoneEdit::Done)
        return check;
    if (SameZoneName(list.current, zone->name))
        list.current = newName;
    zone->name = newName;
    return ZoneEdit::Done;
}

ZoneEdit DeleteZone(ZoneList& list, std::string_view name)
{
    Zone* zone = FindZone(list, name);
    if (!zone)
        return ZoneEdit::NotFound;
    if (list.zones.size() == 1)
        return ZoneEdit::LastZone;
    if (SameZoneName(list.current, zone->name))
        list.current.clear();
    list.zones.erase(list.zones.begin() + (zone - list.zones.data()));
    return ZoneEdit::Done;
}

ZoneEdit MoveZone(ZoneList& list, std::string_view name, int delta)
{
    Zone* zone = FindZone(list, name);
    if (!zone)
        return ZoneEdit::NotFound;
    const auto from = static_cast<int>(zone - list.zones.data());
    const int to = std::clamp(from + delta, 0, static_cast<int>(list.zones.size()) - 1);
    if (from < to)
        std::rotate(list.zones.begin() + from, list.zones.begin() + from + 1,
                    list.zones.begin() + to + 1);
    else if (to < from)
        std::rotate(list.zones.begin() + to, list.zones.begin() + from,
                    list.zones.begin() + from + 1);
    return ZoneEdit::Done;
}

ZoneEdit SetZoneColor(ZoneList& list, std::string_view name, const std::string& color)
{
    Zone* zone = FindZone(list, name);
    if (!zone)
        return ZoneEdit::NotFound;
    if (!IsZoneColor(color))
        return ZoneEdit::BadColor;
    zone->color = Lower(color);
    return ZoneEdit::Done;
}

// ---- The file ------------------------------------------------------------------------------

ZonesFile::ZonesFile(std::filesystem::path zonesPath, std::filesystem::path configPath)
    : m_path(std::move(zonesPath)), m_configPath(std::move(configPath))
{
}

LoadedZones ZonesFile::Load() const
{
    LoadedZones loaded;
    std::string bytes;
    switch (ReadRegularFile(m_path, bytes)) {
    case ReadResult::Loaded:
        loaded.state = ZonesFileState::Loaded;
        loaded.list = ParseZones(bytes, loaded.notes);
        break;
    case ReadResult::Missing:
        loaded.state = ZonesFileState::Missing;
        break;
    case ReadResult::NotRegular:
    case ReadResult::Unreadable:
        loaded.state = ZonesFileState::Unreadable;
        Note(loaded.notes, ZoneNote::Kind::Unreadable, 0, {});
        break;
    }
    if (loaded.list.zones.empty()) {
        if (loaded.state == ZonesFileState::Loaded)
            Note(loaded.notes, ZoneNote::Kind::NoZones, 0, {});
        const Zone zone = ZoneFromSystemKeys(LoadConnectionSettings(ConfigFile(m_configPath)));
        loaded.list.zones.push_back(zone);
        loaded.list.current = zone.name;
    }
    return loaded;
}

ZonesFile::Written ZonesFile::Update(const std::function<bool(ZoneList&)>& change)
{
    if (m_path.empty())
        return Written::Failed;
    const FileLock lock(ResolveWriteTarget(m_path));
    if (!lock.Locked())
        return Written::Failed;
    LoadedZones loaded = Load();
    // What could not be read is not replaced by what little was.
    if (loaded.state == ZonesFileState::Unreadable)
        return Written::Failed;
    if (!change(loaded.list))
        return Written::Refused;
    const std::string bytes = SerializeZones(loaded.list);
    if (loaded.state == ZonesFileState::Loaded) {
        std::string before;
        if (ReadRegularFile(m_path, before) == ReadResult::Loaded && before == bytes)
            return Written::Unchanged;
    }
    return ReplaceFileContent(m_path, bytes) ? Written::Yes : Written::Failed;
}

} // namespace mrvn
