#include "items/ItemSearch.h"

#include "text/TextUtil.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>

namespace mrvn {

std::size_t FindBytes(std::string_view haystack, std::string_view needle, std::size_t from)
{
    if (needle.empty() || from > haystack.size())
        return std::string_view::npos;
#ifdef _WIN32
    // The C runtime has no memmem; the standard search runs memchr and memcmp there.
    return haystack.find(needle, from);
#else
    const void* hit =
        memmem(haystack.data() + from, haystack.size() - from, needle.data(), needle.size());
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data())
               : std::string_view::npos;
#endif
}

namespace {

constexpr char kIdMarker[] = "\"id\": \"";
constexpr char kNameMarker[] = "\"name\": \"";
constexpr char kRareLevelMarker[] = "\"rarelevel\": ";
constexpr char kJobMarker[] = "\"job\": ";

// True when the bytes are valid UTF-8 without a zero byte: exactly the texts CleanUtf8 gives
// back unchanged, so they can be appended as they stand.
bool IsCleanUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const unsigned lead = *p;
        if (lead != 0 && lead < 0x80) {
            ++p;
            continue;
        }
        std::size_t need = 0;
        unsigned lo = 0x80, hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            lo = lead == 0xE0 ? 0xA0 : 0x80;
            hi = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            lo = lead == 0xF0 ? 0x90 : 0x80;
            hi = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false; // a zero byte, a stray continuation byte or an invalid lead byte
        }
        if (static_cast<std::size_t>(end - p) <= need || p[1] < lo || p[1] > hi)
            return false;
        for (std::size_t i = 2; i <= need; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
        }
        p += need + 1;
    }
    return true;
}

// Appends a field as shown: valid UTF-8, at most kMaxFieldBytes, cut at a character boundary
// with the cut marker at its end. Only the bytes that can be shown are looked at, so a field
// of a gigabyte costs no more than a short one; a clean field is appended without a copy of
// its own.
void AppendShownField(std::string& out, std::string_view value)
{
    bool cut = false;
    if (value.size() > kMaxFieldBytes) {
        constexpr std::size_t kKept = kMaxFieldBytes - (sizeof kCutMarker - 1);
        // Never inside a character: when the cut falls in one, it moves to that one's start.
        std::size_t at = kKept;
        while (at > 0 && kKept - at < 3 && (static_cast<unsigned char>(value[at]) & 0xC0) == 0x80)
            --at;
        value = value.substr(0, at);
        cut = true;
    }
    if (IsCleanUtf8(value))
        out += value;
    else
        out += CleanUtf8(value);
    if (cut)
        out += kCutMarker;
}

// A slice with neither an id nor a name is no item: the members of a nested object, or what
// follows one inside its item. Listing it would show "id：||颜色：|职业：" and count it as found.
bool IsItemRecord(std::string_view slice)
{
    // As shown: a value ends at its first zero byte.
    const auto shown = [](std::string_view value) { return !value.empty() && value[0] != '\0'; };
    return shown(ExtractBetween(slice, kIdMarker, "\"")) ||
           shown(ExtractBetween(slice, kNameMarker, "\""));
}

void AppendRecordLine(std::string& out, std::string_view slice)
{
    if (!out.empty())
        out += "\r\n";
    out += "id：";
    AppendShownField(out, ExtractBetween(slice, kIdMarker, "\""));
    out += '|';
    AppendShownField(out, ExtractBetween(slice, kNameMarker, "\""));
    out += "|颜色：";
    AppendShownField(out, ExtractBetween(slice, kRareLevelMarker, ","));
    out += "|职业：";
    AppendShownField(out, ExtractBetween(slice, kJobMarker, ","));
}

// The catalogue's bytes as last read, without the zero fill a std::string would cost.
struct CatalogueBytes
{
    std::unique_ptr<char[]> data;
    std::size_t capacity = 0;
    std::size_t size = 0;
    std::string_view View() const { return {data.get(), size}; }
};

struct KeptCatalogue
{
    std::filesystem::path path;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified;
    std::shared_ptr<CatalogueBytes> bytes;
};

// One catalogue is kept. A search holds its own reference to the bytes while it scans, so a
// search on another thread may replace them meanwhile.
std::mutex g_keptMutex;
KeptCatalogue g_kept;

// Reads the file into `bytes`, into its memory when it is large enough (pages already in use
// cost no faults), else into new memory. False when the file cannot be read or is empty.
bool ReadCatalogue(const std::filesystem::path& path, std::uintmax_t size, CatalogueBytes& bytes)
{
    std::FILE* file = nullptr;
#ifdef _WIN32
    file = _wfopen(path.c_str(), L"rb");
#else
    file = std::fopen(path.c_str(), "rb");
#endif
    if (!file)
        return false;
    const auto wanted = static_cast<std::size_t>(size);
    // Memory far larger than the file is given back rather than kept.
    if (bytes.capacity < wanted || bytes.capacity / 2 > wanted) {
        bytes.data.reset();
        bytes.data.reset(new (std::nothrow) char[wanted]);
        bytes.capacity = bytes.data ? wanted : 0;
    }
    // A file that shrank while being read is searched as far as it was read.
    bytes.size = bytes.data ? std::fread(bytes.data.get(), 1, wanted, file) : 0;
    std::fclose(file);
    return bytes.size > 0;
}

std::shared_ptr<const CatalogueBytes> CatalogueFor(const std::filesystem::path& path)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size == 0 || size > SIZE_MAX) {
        ForgetCatalogue();
        return nullptr;
    }
    // Taken before the read: a change while reading shows at the next search.
    const auto modified = std::filesystem::last_write_time(path, error);
    const bool datable = !error;
    const std::lock_guard lock(g_keptMutex);
    if (datable && g_kept.bytes && g_kept.path == path && g_kept.size == size &&
        g_kept.modified == modified)
        return g_kept.bytes;
    // The kept bytes are read over when no search holds them (no other reference can appear
    // while the lock is held); otherwise they go to the searches that hold them, and the new
    // ones come in new memory. Either way two catalogues are never kept.
    std::shared_ptr<CatalogueBytes> bytes = std::move(g_kept.bytes);
    g_kept = {};
    if (!bytes || bytes.use_count() > 1)
        bytes = std::make_shared<CatalogueBytes>();
    if (!ReadCatalogue(path, size, *bytes))
        return nullptr;
    if (datable)
        g_kept = {path, size, modified, bytes};
    return bytes;
}

} // namespace

std::string_view ExtractBetween(std::string_view slice, std::string_view start,
                                std::string_view end)
{
    // A record is short: the plain search beats memmem's set-up there.
    if (start.empty() || end.empty())
        return {};
    const std::size_t at = slice.find(start);
    if (at == std::string_view::npos)
        return {};
    const std::size_t valueBegin = at + start.size();
    const std::size_t valueEnd = slice.find(end, valueBegin);
    if (valueEnd == std::string_view::npos)
        return {};
    return slice.substr(valueBegin, valueEnd - valueBegin);
}

ItemSearchResult SearchCatalogue(std::string_view buffer, std::string_view queryUtf8,
                                 std::size_t maxLines)
{
    ItemSearchResult result;
    const std::string needle = RemoveAllSpaces(queryUtf8);
    // Records end at every "{", so a needle holding one can never lie inside a record.
    if (needle.empty() || needle.find('{') != std::string::npos)
        return result;
    std::size_t pos = 0;
    while (pos < buffer.size()) {
        const std::size_t hit = FindBytes(buffer, needle, pos);
        if (hit == std::string_view::npos)
            break;
        // `pos` is 0 or sits on the "{" that opens the record after the last one listed, so
        // looking back no further than `pos` finds the hit's own "{".
        const std::size_t open = buffer.substr(pos, hit - pos).rfind('{');
        const std::size_t close = buffer.find('{', hit);
        const std::size_t end = close == std::string_view::npos ? buffer.size() : close;
        // A hit before the first "{" is in the file's head, which is never searched.
        if (open != std::string_view::npos) {
            const std::size_t begin = pos + open + 1;
            const std::string_view slice = buffer.substr(begin, end - begin);
            if (IsItemRecord(slice)) {
                ++result.matches;
                if (result.shown < maxLines) {
                    AppendRecordLine(result.text, slice);
                    ++result.shown;
                }
            }
        }
        // Each record is listed once however often it holds the needle.
        pos = end;
    }
    return result;
}

ItemSearchResult SearchItemLibrary(const std::filesystem::path& catalogue,
                                   std::string_view queryUtf8, std::size_t maxLines)
{
    std::error_code error;
    if (!std::filesystem::exists(catalogue, error)) {
        ForgetCatalogue();
        ItemSearchResult missing;
        missing.fileMissing = true;
        return missing;
    }
    const std::shared_ptr<const CatalogueBytes> bytes = CatalogueFor(catalogue);
    if (!bytes)
        return {};
    return SearchCatalogue(bytes->View(), queryUtf8, maxLines);
}

std::optional<std::string> CatalogueItemName(std::string_view buffer, std::string_view itemId)
{
    if (itemId.empty() || itemId.find('"') != std::string_view::npos ||
        itemId.find('{') != std::string_view::npos)
        return std::nullopt;
    const std::string needle = kIdMarker + std::string(itemId) + '"';
    // The file's head, before the first "{", holds no record.
    const std::size_t first = buffer.find('{');
    if (first == std::string_view::npos)
        return std::nullopt;
    const std::size_t hit = FindBytes(buffer, needle, first);
    if (hit == std::string_view::npos)
        return std::nullopt;
    const std::size_t open = buffer.substr(0, hit).rfind('{');
    const std::size_t close = buffer.find('{', hit);
    const std::size_t end = close == std::string_view::npos ? buffer.size() : close;
    const std::string_view record = buffer.substr(open + 1, end - open - 1);
    // Cut and repaired as a result line's field is, so the name reads as the search shows it.
    std::string name;
    AppendShownField(name, ExtractBetween(record, kNameMarker, "\""));
    return name;
}

std::optional<std::vector<std::optional<std::string>>>
CatalogueItemNames(const std::filesystem::path& catalogue, const std::vector<std::string>& ids)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(catalogue, error))
        return std::nullopt;
    const std::shared_ptr<const CatalogueBytes> bytes = CatalogueFor(catalogue);
    if (!bytes)
        return std::nullopt;
    std::vector<std::optional<std::string>> names;
    names.reserve(ids.size());
    for (const std::string& id : ids)
        names.push_back(CatalogueItemName(bytes->View(), id));
    return names;
}

std::optional<ResultLineItem> ParseResultLine(std::string_view line)
{
    constexpr std::string_view kIdPrefix = "id：";
    constexpr std::string_view kColour = "|颜色：";
    if (line.substr(0, kIdPrefix.size()) != kIdPrefix)
        return std::nullopt;
    line.remove_prefix(kIdPrefix.size());
    const std::size_t bar = line.find('|');
    const std::size_t colour = line.rfind(kColour);
    if (bar == std::string_view::npos || colour == std::string_view::npos || colour < bar)
        return std::nullopt;
    ResultLineItem item{std::string(line.substr(0, bar)),
                        std::string(line.substr(bar + 1, colour - bar - 1))};
    if (item.id.empty())
        return std::nullopt;
    return item;
}

void ForgetCatalogue()
{
    std::shared_ptr<const CatalogueBytes> released;
    {
        const std::lock_guard lock(g_keptMutex);
        released = std::move(g_kept.bytes);
        g_kept = {};
    }
}

} // namespace mrvn
