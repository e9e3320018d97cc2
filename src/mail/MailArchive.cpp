#include "mail/MailArchive.h"

#include "config/ConfigFile.h"
#include "text/TextUtil.h"

#include <algorithm>
#include <utility>

namespace mrvn {

namespace {

// Whether a value comes back from config.dat exactly as written: one line, every character
// held by GBK, no enclosing quote pair for the reader to strip, within the read limit.
bool Storable(std::string_view value)
{
    if (value.find_first_of("\r\n") != std::string_view::npos)
        return false;
    const std::string gbk = Utf8ToGbk(value);
    if (GbkToUtf8(gbk) != value || gbk.size() > kMaxValueBytes)
        return false;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return false;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return value.empty() || (!blank(value.front()) && !blank(value.back()));
}

bool IsReservedName(std::string_view name)
{
    return EqualsAsciiNoCase(name, "system") || EqualsAsciiNoCase(name, kArchiveListSection);
}

// Whether config.dat finds the section under exactly this name: the reader drops leading
// control characters and spaces, and trailing spaces and one pair of quotes around a value
// (the list) would go as well.
bool IsSectionName(std::string_view name)
{
    if (name.empty() || name.find_first_of("|[]") != std::string_view::npos)
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return false;
    }
    auto edge = [](char c) { return c == ' ' || c == '"' || c == '\''; };
    return !edge(name.front()) && !edge(name.back());
}

// The list's pieces as they are in config.dat: names the tool did not write keep their bytes,
// also bytes GBK cannot decode.
std::vector<ValuePiece> ReadList(const ConfigEdit& edit)
{
    return edit.ReadPieces(kArchiveListSection, kArchiveListKey, '|');
}

bool WriteList(ConfigEdit& edit, const std::vector<ValuePiece>& pieces)
{
    return edit.WritePieces(kArchiveListSection, kArchiveListKey, pieces, '|');
}

} // namespace

std::vector<std::string> ReadArchiveNames(const ConfigFile& file)
{
    std::vector<std::string> names;
    for (std::string& name : SplitText(file.ReadValue(kArchiveListSection, kArchiveListKey), "|")) {
        if (!name.empty())
            names.push_back(std::move(name));
    }
    return names;
}

AddArchiveResult AddArchive(ConfigFile& file, std::string_view typedName,
                            const ArchiveContent& page)
{
    // "|" splits the list, "[" and "]" would end the section header early.
    if (typedName.find_first_of("|[]") != std::string_view::npos)
        return AddArchiveResult::Forbidden;
    const std::string name = RemoveAllSpaces(typedName);
    // Written in GBK, such a name would come back with "?" in its place, cut off from its
    // section.
    if (!name.empty() && GbkToUtf8(Utf8ToGbk(name)) != name)
        return AddArchiveResult::NotGbk;

    std::vector<std::pair<std::string, std::string>> keys = {
        {"title", RemoveAllSpaces(page.title)},     {"content", RemoveAllSpaces(page.content)},
        {"money", RemoveAllSpaces(page.money)},     {"yuanbao", RemoveAllSpaces(page.yuanbao)},
        {"num", std::to_string(page.items.size())},
    };
    for (std::size_t i = 0; i < page.items.size(); ++i) {
        const ArchiveItem& item = page.items[i];
        // Loading splits at the first two "|" and skips an entry without code.
        if (item.name.find('|') != std::string::npos || item.code.empty() ||
            item.code.find('|') != std::string::npos)
            return AddArchiveResult::Forbidden;
        keys.emplace_back("item" + std::to_string(i + 1), item.name + "|" + item.code);
    }
    for (const auto& [key, value] : keys) {
        if (!Storable(value))
            return AddArchiveResult::Forbidden;
    }
    if (!Storable(name) || (!name.empty() && !IsSectionName(name)))
        return AddArchiveResult::Forbidden;

    if (name.empty())
        return AddArchiveResult::Empty;
    // The list's own section and the connection settings are not archives.
    if (IsReservedName(name))
        return AddArchiveResult::Reserved;

    // The list is read and written back under the file's lock, with the section in the same
    // rewrite: another copy of the tool adding or deleting at the same time loses nothing.
    AddArchiveResult result = AddArchiveResult::Added;
    const bool written = file.Update([&](ConfigEdit& edit) {
        std::vector<ValuePiece> names = ReadList(edit);
        // Section names are matched without regard to ASCII case, so such names would share
        // one section.
        for (const ValuePiece& existing : names) {
            if (EqualsAsciiNoCase(existing.text, name)) {
                result = AddArchiveResult::Duplicate;
                return false;
            }
        }
        names.push_back({name, {}});
        // Beyond the read limit the list would come back cut: the new name unlisted, the
        // last one maimed, and both lost at the next save.
        std::size_t bytes = names.size() - 1;
        for (const ValuePiece& piece : names)
            bytes += GbkByteLength(piece.text);
        if (bytes > kMaxValueBytes) {
            result = AddArchiveResult::ListFull;
            return false;
        }
        // The section is replaced whole, so no stale item keys survive.
        return edit.WriteSection(name, keys) && WriteList(edit, names);
    });
    return written ? result : AddArchiveResult::WriteFailed;
}

DeleteArchiveResult DeleteArchive(ConfigFile& file, std::string_view name)
{
    DeleteArchiveResult result = DeleteArchiveResult::NotListed;
    const bool written = file.Update([&](ConfigEdit& edit) {
        std::vector<ValuePiece> names = ReadList(edit);
        // By name, not by row: another copy may have changed the list since it was shown.
        const auto piece = std::find_if(names.begin(), names.end(),
                                        [name](const ValuePiece& p) { return p.text == name; });
        if (piece == names.end())
            return false;
        names.erase(piece);
        // Empty pieces (of a hand-edited list) are no archives: the rewrite drops them.
        std::erase_if(names, [](const ValuePiece& p) { return p.text.empty(); });
        WriteList(edit, names);
        const bool shared =
            std::any_of(names.begin(), names.end(), [name](const ValuePiece& other) {
                return EqualsAsciiNoCase(other.text, name);
            });
        if (!IsSectionName(name) || IsReservedName(name) || shared) {
            result = DeleteArchiveResult::ListOnly;
            return true;
        }
        edit.DeleteSection(name);
        result = DeleteArchiveResult::Deleted;
        return true;
    });
    return written ? result : DeleteArchiveResult::WriteFailed;
}

ArchiveContent LoadArchive(const ConfigFile& file, std::string_view name)
{
    ArchiveContent archive;
    archive.title = file.ReadValue(name, "title", kDefaultArchiveTitle);
    archive.content = file.ReadValue(name, "content", kDefaultArchiveContent);
    archive.money = file.ReadValue(name, "money", "0");
    archive.yuanbao = file.ReadValue(name, "yuanbao", "0");
    const int count = std::min(TextToInt32(file.ReadValue(name, "num", "0")), kMaxArchiveItems);
    for (int i = 1; i <= count; ++i) {
        const std::string value = file.ReadValue(name, "item" + std::to_string(i));
        const std::vector<std::string> pieces = SplitText(value, "|");
        if (pieces.size() < 2 || pieces[1].empty())
            continue;
        archive.items.push_back(ArchiveItem{pieces[0], pieces[1]});
    }
    return archive;
}

} // namespace mrvn
