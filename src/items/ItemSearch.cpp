#include "items/ItemSearch.h"

#include "text/TextUtil.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <system_error>

namespace mrvn {

namespace {

constexpr char kIdMarker[] = "\"id\": \"";
constexpr char kNameMarker[] = "\"name\": \"";
constexpr char kRareLevelMarker[] = "\"rarelevel\": ";
constexpr char kJobMarker[] = "\"job\": ";

// Position of the first occurrence of `needle` in `haystack` at or after `from`, or npos.
std::size_t FindBytes(std::string_view haystack, std::string_view needle, std::size_t from)
{
    if (needle.empty() || from > haystack.size())
        return std::string_view::npos;
    return haystack.find(needle, from);
}

// The scan's search for the query: Boyer-Moore-Horspool skips most bytes of a large
// catalogue without looking at them, in standard C++ on every platform.
class NeedleFinder
{
public:
    explicit NeedleFinder(std::string_view needle)
        : m_needle(needle), m_searcher(needle.begin(), needle.end())
    {
    }
    std::size_t Find(std::string_view haystack, std::size_t from) const
    {
        if (m_needle.empty() || from > haystack.size())
            return std::string_view::npos;
        const auto hit = std::search(haystack.begin() + static_cast<std::ptrdiff_t>(from),
                                     haystack.end(), m_searcher);
        return hit == haystack.end() ? std::string_view::npos
                                     : static_cast<std::size_t>(hit - haystack.begin());
    }

private:
    std::string_view m_needle;
    std::boyer_moore_horspool_searcher<std::string_view::const_iterator> m_searcher;
};

// A field as shown: valid UTF-8, at most kMaxFieldBytes, cut at a character boundary with
// the cut marker at its end. Only the bytes that can be shown are cleaned, so a field of a
// gigabyte costs no more than a short one.
std::string ShownField(std::string_view value)
{
    if (value.size() <= kMaxFieldBytes)
        return CleanUtf8(value);
    constexpr std::size_t kKept = kMaxFieldBytes - (sizeof kCutMarker - 1);
    // Never inside a character: when the cut falls in one, it moves to that one's start.
    std::size_t cut = kKept;
    while (cut > 0 && kKept - cut < 3 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)
        --cut;
    return CleanUtf8(value.substr(0, cut)) + kCutMarker;
}

void AppendRecordLine(std::string& out, std::string_view slice)
{
    if (!out.empty())
        out += "\r\n";
    out += "id：";
    out += ShownField(ExtractBetween(slice, kIdMarker, "\""));
    out += '|';
    out += ShownField(ExtractBetween(slice, kNameMarker, "\""));
    out += "|颜色：";
    out += ShownField(ExtractBetween(slice, kRareLevelMarker, ","));
    out += "|职业：";
    out += ShownField(ExtractBetween(slice, kJobMarker, ","));
}

} // namespace

std::string_view ExtractBetween(std::string_view slice, std::string_view start,
                                std::string_view end)
{
    const std::size_t at = FindBytes(slice, start, 0);
    if (at == std::string_view::npos)
        return {};
    const std::size_t valueBegin = at + start.size();
    const std::size_t valueEnd = FindBytes(slice, end, valueBegin);
    if (valueEnd == std::string_view::npos)
        return {};
    return slice.substr(valueBegin, valueEnd - valueBegin);
}

std::string SearchCatalogue(std::string_view buffer, std::string_view queryUtf8,
                            std::size_t* matches)
{
    std::string result;
    std::size_t count = 0;
    const std::string needle = RemoveAllSpaces(queryUtf8);
    // Records end at every "{", so a needle holding one can never lie inside a record.
    if (!needle.empty() && needle.find('{') == std::string::npos) {
        const NeedleFinder finder(needle);
        std::size_t pos = 0;
        while (pos < buffer.size()) {
            const std::size_t hit = finder.Find(buffer, pos);
            if (hit == std::string_view::npos)
                break;
            // `pos` is 0 or sits on the "{" that opens the record after the last one
            // listed, so looking back no further than `pos` finds the hit's own "{".
            const std::size_t open = buffer.substr(pos, hit - pos).rfind('{');
            const std::size_t close = buffer.find('{', hit);
            const std::size_t end = close == std::string_view::npos ? buffer.size() : close;
            // A hit before the first "{" is in the file's head, which is never searched.
            if (open != std::string_view::npos) {
                const std::size_t begin = pos + open + 1;
                AppendRecordLine(result, buffer.substr(begin, end - begin));
                ++count;
            }
            // Each record is listed once however often it holds the needle.
            pos = end;
        }
    }
    if (matches)
        *matches = count;
    return result;
}

ItemSearchResult SearchItemLibrary(const std::filesystem::path& catalogue,
                                   std::string_view queryUtf8, std::size_t lineLimit)
{
    ItemSearchResult result;
    std::error_code error;
    if (!std::filesystem::exists(catalogue, error)) {
        result.fileMissing = true;
        return result;
    }
    std::string bytes;
    {
        std::ifstream file(catalogue, std::ios::binary);
        if (!file)
            return result;
        const auto size = std::filesystem::file_size(catalogue, error);
        if (error || size == 0)
            return result;
        // One allocation of the file's size; a file that shrank while being read is
        // searched as far as it was read.
        bytes.resize(static_cast<std::size_t>(size));
        file.read(bytes.data(), static_cast<std::streamsize>(size));
        bytes.resize(static_cast<std::size_t>(file.gcount()));
    }
    result.text = SearchCatalogue(bytes, queryUtf8, &result.matches);
    result.shown = result.matches;
    if (result.matches > lineLimit) {
        std::size_t cut = 0;
        for (std::size_t line = 0; line < lineLimit; ++line)
            cut = result.text.find("\r\n", cut) + 2;
        result.text.resize(lineLimit == 0 ? 0 : cut - 2);
        result.shown = lineLimit;
    }
    return result;
}

} // namespace mrvn
