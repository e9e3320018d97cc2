#pragma once

#include "config/ConfigFile.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// zones.ini: the game servers ("zones") the operator works on, each with its own database.
// An INI file in UTF-8 beside config.dat, hand-editable and copied between PCs, so this is
// the one place that reads and writes it; everyone else takes a Zone. Rules it keeps:
// - "[zones]" holds order=<name>|<name>|... and current=<name>; each zone is a section
//   "[zone.<name>]" with host, port, user, db, color, password (keychain|file|ask), psw
//   (only for password=file), tls (off|required|verify), tls_fp, tls_ca, ssh_host, ssh_port,
//   ssh_user, ssh_key, ssh_fp;
// - reading never gives up on the whole file: a line it cannot read, a zone whose name is
//   not allowed or repeats an earlier one (without regard to case), a key it does not know
//   or a value it cannot use is skipped, and each such thing is named in a ZoneNote for the
//   window to tell. Keys and sections of a later version are kept and written back as
//   they were; what could not be read at all is not carried into the next write;
// - a file that is not UTF-8 (saved as ANSI by an old editor) is read as GBK, and said so;
// - a write rewrites the whole file in one form (UTF-8 with a byte-order mark, so old
//   Windows editors keep it UTF-8; CRLF line ends), atomically and under the file's lock,
//   after reading it again under that lock (AtomicFile.h, the rules of config.dat): a
//   change another copy of the tool made meanwhile is kept. A new file is readable by its
//   owner only; an unreadable file is never replaced;
// - without zones.ini (a folder of an earlier version) the list is one zone "默认区服"
//   made from config.dat's five system keys, its password kept in the file as before
//   (password=file); zones.ini is first written by the first change.
namespace mrvn {

inline constexpr char kZonesFileName[] = "zones.ini";
inline constexpr char kDefaultZoneName[] = "默认区服";
inline constexpr std::size_t kMaxZoneNameChars = 32;
inline constexpr unsigned kDefaultSshPort = 22;

// Where a zone's database password lives.
enum class PasswordPlace { Keychain, File, Ask };
enum class TlsMode {
    Off,
    // Encrypted, and the server's certificate must be the pinned one (its SHA-256).
    Required,
    // Encrypted, and the certificate must lead to a trusted CA and carry the host's name.
    Verify,
};

struct Zone
{
    std::string name;
    std::string color; // "#rrggbb", lower case
    std::string host = "127.0.0.1";
    unsigned port = 3306; // 0: the client library's default (an empty port box)
    std::string user = "root";
    std::string db = "mrvn";
    PasswordPlace password = PasswordPlace::File;
    std::string psw = "739215"; // held only for PasswordPlace::File
    TlsMode tls = TlsMode::Off;
    std::string tlsFingerprint;
    std::string tlsCaFile; // verify: the CAs to trust (PEM); empty: the system's
    std::string sshHost; // empty: no tunnel
    unsigned sshPort = kDefaultSshPort;
    std::string sshUser;
    std::string sshKey;
    std::string sshFingerprint;
    // Keys this version does not know, in file order, written back unchanged.
    std::vector<std::pair<std::string, std::string>> otherKeys;
    friend bool operator==(const Zone&, const Zone&) = default;
};

// A section that is neither [zones] nor a zone, kept for a later version.
struct OtherZonesSection
{
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
    friend bool operator==(const OtherZonesSection&, const OtherZonesSection&) = default;
};

struct ZoneList
{
    std::vector<Zone> zones; // in the operator's order
    std::string current;     // the zone chosen last; empty or unknown: the first
    std::vector<std::pair<std::string, std::string>> otherKeys; // of [zones]
    std::vector<OtherZonesSection> otherSections;
    friend bool operator==(const ZoneList&, const ZoneList&) = default;
};

// Something of zones.ini that was skipped or read otherwise than written.
struct ZoneNote
{
    enum class Kind {
        BadLine,         // neither a section, a key, a comment nor blank
        BadName,         // a zone section whose name is not allowed: the zone is skipped
        DuplicateName,   // a zone whose name an earlier one has: skipped
        UnknownKey,      // kept and written back, not used
        UnknownSection,  // kept and written back, not used
        DuplicateKey,    // the first one counts
        BadValue,        // not used; the zone keeps the default of the key
        IgnoredPassword, // psw of a zone whose password is not kept in the file: dropped
        MissingZone,     // order or current names a zone without a section
        NotUtf8,         // the file was read as GBK
        Unreadable,      // the file could not be read: config.dat's settings were used
        NoZones,         // the file holds no zone: config.dat's settings were used
    };
    Kind kind = Kind::BadLine;
    int line = 0;     // 1-based; 0: the file as a whole
    std::string text; // the line, the zone name or the key it is about
    std::string zone; // the zone the key belongs to, if any
    std::string value;
};

// Why a zone name is not allowed (None: it is).
enum class ZoneNameProblem { None, Empty, TooLong, ForbiddenCharacter, BlankAtEnd, NotUtf8 };

// 1 to kMaxZoneNameChars characters; no "|", "[", "]", control character, and no space at
// either end (the file would lose it).
ZoneNameProblem CheckZoneName(std::string_view name);
// Names compare without regard to case (Latin, Greek, Cyrillic and full-width letters).
bool SameZoneName(std::string_view a, std::string_view b);

// "#rrggbb" (either case) as stored; nothing else is a colour.
bool IsZoneColor(std::string_view text);
// The colours the tool gives new zones, one after the other.
const std::vector<std::string>& ZonePalette();
// The first palette colour no zone of the list has yet (the first when all are taken).
std::string NextZoneColor(const ZoneList& list);

Zone* FindZone(ZoneList& list, std::string_view name);
const Zone* FindZone(const ZoneList& list, std::string_view name);
// The zone `current` names, else the first; nullptr for an empty list.
const Zone* CurrentZone(const ZoneList& list);

// The file's text as a zone list, with what was skipped.
ZoneList ParseZones(std::string_view bytes, std::vector<ZoneNote>& notes);
// The list as the file holds it; ParseZones gives it back without a note.
std::string SerializeZones(const ZoneList& list);

// The zone made from config.dat's five system keys, as the first start with an old folder
// makes it: named kDefaultZoneName, its password kept in the file (password=file).
Zone ZoneFromSystemKeys(const ConnectionSettings& settings);
// What the five connection boxes show of a zone: the port empty for the default, the
// password only when it is kept in the file.
ConnectionSettings ZoneBoxes(const Zone& zone);
// Takes what the boxes hold into the zone (after a successful connect). The boxes' port is
// empty or a number from 1 to 65535 by then; the password is kept only for password=file.
void TakeZoneBoxes(Zone& zone, const ConnectionSettings& boxes);

// What a change of the list did.
enum class ZoneEdit { Done, BadName, Duplicate, NotFound, LastZone, BadColor };

// Adds `zone` at the end (a colour from the palette when it has none).
ZoneEdit AddZone(ZoneList& list, Zone zone);
// Renames; `current` follows. A change of case only is allowed.
ZoneEdit RenameZone(ZoneList& list, std::string_view name, const std::string& newName);
// The only zone is never deleted; `current` is cleared when it named the deleted zone.
ZoneEdit DeleteZone(ZoneList& list, std::string_view name);
// Moves by `delta` places, kept inside the list.
ZoneEdit MoveZone(ZoneList& list, std::string_view name, int delta);
ZoneEdit SetZoneColor(ZoneList& list, std::string_view name, const std::string& color);

enum class ZonesFileState { Loaded, Missing, Unreadable };

struct LoadedZones
{
    ZoneList list; // never empty
    std::vector<ZoneNote> notes;
    ZonesFileState state = ZonesFileState::Missing;
};

// zones.ini, with config.dat to fall back on when it is missing.
class ZonesFile
{
public:
    ZonesFile(std::filesystem::path zonesPath, std::filesystem::path configPath);

    const std::filesystem::path& Path() const { return m_path; }

    LoadedZones Load() const;

    enum class Written { Yes, Unchanged, Refused, Failed };
    // One read-modify-write under the file's lock: `change` edits the list as the file
    // holds it now and returns false to write nothing (Refused). Failed: the file could not
    // be locked, read or written, and is as it was.
    Written Update(const std::function<bool(ZoneList&)>& change);

private:
    std::filesystem::path m_path;
    std::filesystem::path m_configPath;
};

} // namespace mrvn
