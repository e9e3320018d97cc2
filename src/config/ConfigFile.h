#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// config.dat: the connection settings and the mail archives, an INI file beside the program.
// Operators carry config.dat over from earlier versions of the tool, which wrote it on
// Windows through the system's profile functions; those files must read and write the same
// here, on Windows and elsewhere, so this module follows what those functions do rather than
// a general INI library. Rules it keeps:
// - text is GBK (code page 936) unless the file starts with a UTF-8 or UTF-16 byte-order
//   mark, and a rewrite keeps the file's encoding;
// - "[name]" lines open sections, "key=value" lines hold values, anything else is carried
//   along; names match without regard to ASCII case, the first section and the first key
//   of a name win; a value is read without surrounding blanks and one pair of enclosing
//   quotes, and cut to kMaxValueBytes GBK bytes (the reader's buffer), never inside a
//   character;
// - a write changes only the lines it must: every other line goes back byte for byte, also
//   lines the decoder does not understand (bad GBK, zero units, lone surrogates);
// - a value is one line: line ends inside it are written as spaces;
// - every call opens, reads or rewrites and closes the file; nothing is cached; each
//   rewrite is atomic (see AtomicFile.h: a crash leaves the old file, a symbolic link is
//   written through, a FIFO or device of the name is refused without blocking);
// - every rewrite reads the file again while it holds the file's lock (FileLock), so a
//   change another copy of the tool made in the meantime is kept, never written over;
// - an empty section or key name reads as the caller's default, as the platform does.
// All texts passed in and returned are UTF-8.
namespace mrvn {

// The longest value a read returns, in GBK bytes: the platform reader hands values to a
// 10,240-byte buffer, zero included. A value longer than this cannot come back whole, so
// writers that need it back whole (the archive list) refuse it; GbkByteLength counts.
inline constexpr std::size_t kMaxValueBytes = 10239;

// The directory that holds the running program file (not the current directory); empty
// when the system cannot tell.
std::filesystem::path ProgramDirectory();

struct ConfigDocument;

// A piece of a value that is a list (the archive names): its text, and the bytes it has in
// the file. A piece written back with its bytes comes back exactly as it was, also where the
// code page cannot decode it; a piece without bytes is written from its text.
struct ValuePiece
{
    std::string text;
    std::string bytes;
};

// The file as one Update sees it: reads and changes in memory, written back in one rewrite.
// The same rules as the calls of ConfigFile of the same names.
class ConfigEdit
{
public:
    std::string ReadValue(std::string_view section, std::string_view key,
                          std::string_view defaultValue = {}) const;
    bool WriteValue(std::string_view section, std::string_view key, std::string_view value);
    bool WriteSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& keys);
    bool DeleteSection(std::string_view section);
    // The value as ReadValue finds it, split at `separator` (an ASCII character) as SplitText
    // splits, each piece with its bytes; no pieces when the key is absent or empty.
    std::vector<ValuePiece> ReadPieces(std::string_view section, std::string_view key,
                                       char separator) const;
    // Writes the pieces joined by `separator` as the key's value.
    bool WritePieces(std::string_view section, std::string_view key,
                     const std::vector<ValuePiece>& pieces, char separator);

private:
    friend class ConfigFile;
    explicit ConfigEdit(ConfigDocument& document) : m_document(document) {}
    ConfigDocument& m_document;
};

class ConfigFile
{
public:
    explicit ConfigFile(std::filesystem::path path);
    // config.dat in ProgramDirectory().
    static ConfigFile Default();

    const std::filesystem::path& Path() const { return m_path; }

    // The key's value without surrounding spaces and one pair of enclosing quotes, cut at
    // 10,239 bytes of its GBK form; `defaultValue` when the file, section or key is absent,
    // and when the section or key name is empty.
    std::string ReadValue(std::string_view section, std::string_view key,
                          std::string_view defaultValue = {}) const;

    // Each write replaces the whole file atomically (temporary file, flush, replace) and
    // returns false when it could not be written; the old file is then left as it was.
    bool WriteValue(std::string_view section, std::string_view key, std::string_view value);
    // Several WriteValue calls on one section in one rewrite: the same bytes, one write.
    bool WriteValues(std::string_view section,
                     const std::vector<std::pair<std::string, std::string>>& keys);
    bool DeleteSection(std::string_view section);
    bool DeleteKey(std::string_view section, std::string_view key);
    // Replaces the section (or creates it at the end) with exactly these keys, in one write.
    bool WriteSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& keys);

    // One read-modify-write under the file's lock: `change` reads and edits the file as it
    // is now and returns whether to write; whatever it changed goes back in one rewrite.
    // False when the file could not be locked, read or written (it is then unchanged).
    bool Update(const std::function<bool(ConfigEdit&)>& change);

private:
    std::filesystem::path m_path;
};

struct ConnectionSettings
{
    std::string ip = "127.0.0.1";
    std::string port = "3306";
    std::string user = "root";
    std::string psw = "739215";
    std::string db = "mrvn";
    friend bool operator==(const ConnectionSettings&, const ConnectionSettings&) = default;
};

// Reads ip, port, user, psw, db of section "system", each with its default.
ConnectionSettings LoadConnectionSettings(const ConfigFile& file);
// Writes the five keys in that order, unchanged.
bool SaveConnectionSettings(ConfigFile& file, const ConnectionSettings& settings);

} // namespace mrvn
