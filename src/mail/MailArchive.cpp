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
    return EqualsAsciiNoCase(name, "system") ||
           EqualsAsciiNoCase(name, kArchiveListSection);
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

std::string JoinNames(const std::vector<std::string>& names)
{
    std::string joined;
    for (const std::string& name : names) {
        // An empty result takes the next piece as it is, so empty pieces melt away.
        if (joined.empty())
            joined = name;
        else
            joined += "|" + name;
    }
    return joined;
}

} // namespace

std::vector<std::string> ReadArchiveNames(const ConfigFile& file)
{
    return SplitText(file.ReadValue(kArchiveListSection, kArchiveListKey), "|");
}

AddArchiveResult AddArchive(ConfigFile& file, std::string_view typedName,
                            const ArchiveContent& page)
{
    const std::string list = file.ReadValue(kArchiveListSection, kArchiveListKey);
    const std::vector<std::string> names = SplitText(list, "|");

    // "|" splits the list, "[" and "]" would end the section header early.
    if (typedName.find_first_of("|[]") != std::string_view::npos)
        return AddArchiveResult::Forbidden;
    const std::string name = RemoveAllSpaces(typedName);

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

    // Section names are matched without regard to ASCII case, so such names would share one
    // section; the list's own section and the connection settings are not archives.
    if (IsReservedName(name))
        return AddArchiveResult::Duplicate;
    for (const std::string& existing : names) {
        if (EqualsAsciiNoCase(existing, name))
            return AddArchiveResult::Duplicate;
    }
    // Beyond the read limit the list would come back cut: the new name unlisted, the last
    // one maimed, and both lost at the next save.
    const std::string newList = names.empty() ? name : list + "|" + name;
    if (GbkByteLength(newList) > kMaxValueBytes)
        return AddArchiveResult::ListFull;

    // The section first, replaced whole so no stale item keys survive; the list last, so a
    // failure leaves at worst an unlisted section that a later save replaces.
    if (!file.WriteSection(name, keys))
        return AddArchiveResult::WriteFailed;
    if (!file.WriteValue(kArchiveListSection, kArchiveListKey, newList)) {
        file.DeleteSection(name);
        return AddArchiveResult::WriteFailed;
    }
    return AddArchiveResult::Added;
}

DeleteArchiveResult DeleteArchive(ConfigFile& file, int selectedRow, std::string_view name)
{
    std::vector<std::string> names = ReadArchiveNames(file);
    if (selectedRow >= 0 && static_cast<std::size_t>(selectedRow) < names.size())
        names.erase(names.begin() + selectedRow);
    if (!file.WriteValue(kArchiveListSection, kArchiveListKey, JoinNames(names)))
        return DeleteArchiveResult::WriteFailed;
    const bool shared = std::any_of(names.begin(), names.end(), [name](const std::string& other) {
        return EqualsAsciiNoCase(other, name);
    });
    if (!IsSectionName(name) || IsReservedName(name) || shared)
        return DeleteArchiveResult::ListOnly;
    return file.DeleteSection(name) ? DeleteArchiveResult::Deleted
                                    : DeleteArchiveResult::WriteFailed;
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
