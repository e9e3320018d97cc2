#pragma once

#include <string>
#include <string_view>
#include <vector>

// Named snapshots of the mail page kept in config.dat: section "itemlist", key "list" holds
// the names joined by "|"; each archive has a section of its own with title, content,
// money, yuanbao, num and item1 … itemN ("name|code").
namespace mrvn {

class ConfigFile;

inline constexpr char kArchiveListSection[] = "itemlist";

// The columns of the archive list: the row's number and the archive's name.
enum class ArchiveColumn : int { Tid, Name };
constexpr int ColumnIndex(ArchiveColumn column)
{
    return static_cast<int>(column);
}
inline constexpr char kArchiveListKey[] = "list";

// What an archive without its own title or content loads (it goes into the mail).
inline constexpr char kDefaultArchiveTitle[] = "系统邮件";
inline constexpr char kDefaultArchiveContent[] = "系统邮件请勿回复！(内容不可用回车)";

// A hand-edited "num" is believed only this far: every key read opens the file again.
inline constexpr int kMaxArchiveItems = 100;

struct ArchiveItem
{
    std::string name, code;
    friend bool operator==(const ArchiveItem&, const ArchiveItem&) = default;
};

struct ArchiveContent
{
    std::string title, content, money, yuanbao;
    std::vector<ArchiveItem> items;
    friend bool operator==(const ArchiveContent&, const ArchiveContent&) = default;
};

// The names of "list", in order; empty pieces (of a hand-edited list) are no archives and
// are left out.
std::vector<std::string> ReadArchiveNames(const ConfigFile& file);

enum class AddArchiveResult {
    Added,
    Forbidden,
    NotGbk,
    Empty,
    Reserved,
    Duplicate,
    ListFull,
    WriteFailed
};

// Saves the page under the typed name. Forbidden: "|", "[", "]" or a control character in
// the name, a quote at either end of it, or a value config.dat cannot give back as it was
// (a line break, a character GBK lacks, enclosing quotes, "|" in an item name, an item
// code that is empty or holds "|"). NotGbk: a character of the name that GBK lacks.
// Empty: no name once spaces are removed. Reserved: "system" or "itemlist" (any case).
// Duplicate: a name already listed, ignoring ASCII case. ListFull: the name list would
// pass what config.dat reads back of a value. The section and the list are written in one
// rewrite under the file's lock, against the list as it is then (another copy of the tool
// may have changed it); nothing is written unless every check passed; WriteFailed leaves
// the file as it was.
AddArchiveResult AddArchive(ConfigFile& file, std::string_view typedName,
                            const ArchiveContent& page);

enum class DeleteArchiveResult {
    Deleted,     // the list piece and the archive's section are gone
    ListOnly,    // the list piece is gone; `name` names no section of its own to delete
    NotListed,   // no piece of the list is `name` (another copy deleted it): nothing changed
    WriteFailed, // config.dat could not be written
};

// Removes the first list piece that is exactly `name` and the section `name`, in one
// rewrite under the file's lock. A name that an archive could not have been saved under
// (empty, reserved, a control character, spaces or quotes at its ends), or that another
// listed name shares a section with, leaves every section alone: config.dat would match it
// to another section.
DeleteArchiveResult DeleteArchive(ConfigFile& file, std::string_view name);

// The archive's fields (defaults only for absent keys) and its item rows. Values without
// "|" are skipped, and so are values without a code piece ("A|", "A||C"), which would put
// an empty entry into the attachments text.
ArchiveContent LoadArchive(const ConfigFile& file, std::string_view name);

} // namespace mrvn
