#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The item library search. Rules this module keeps:
// - the catalogue goods.jat.json is treated as bytes, not parsed: records are the stretches
//   between consecutive "{" bytes, fields are found by fixed markers, and a record matches
//   when it holds the query's bytes anywhere (spaces of the query removed); a record with
//   neither an id nor a name (a nested object's members) is no item and is neither listed
//   nor counted;
// - the catalogue's bytes are kept between searches and read again only when the file's
//   size or modification time changed; the scan is one pass with the C library's vectorised
//   byte search (memmem where the platform has it, std::string_view::find elsewhere, both
//   in one place), so a search costs about one pass over memory, however many records match;
// - every matching record is counted, but only the first lines up to a limit are built:
//   a catalogue where every record matches gives a bounded result text;
// - a catalogue is outside input: any bytes give a result, and no field, however long in
//   the file, makes a line longer than four fields of kMaxFieldBytes (a longer field is cut
//   at a character boundary and ends with kCutMarker);
// - the result is handed to a text box in chunks of bounded size (NextChunkEnd), cut at a
//   line break when the chunk holds one and inside the line otherwise.
namespace mrvn {

// The most bytes of one field shown in a result line, its cut marker included.
inline constexpr std::size_t kMaxFieldBytes = 256;
inline constexpr char kCutMarker[] = "…";

// The bytes after the first `start` up to, not including, the first `end` after it.
// Empty when either is missing (an empty marker is never found).
std::string_view ExtractBetween(std::string_view slice, std::string_view start,
                                std::string_view end);

// The most result lines a search builds; the records after them are counted only.
inline constexpr std::size_t kMaxResultLines = 10000;

struct ItemSearchResult
{
    bool fileMissing = false;
    // One line per matching record, in file order, joined by CR LF, for the first `shown`
    // matching records.
    std::string text;
    // Every matching record, also those past the line limit.
    std::size_t matches = 0;
    // The lines in `text`: min(matches, the line limit).
    std::size_t shown = 0;
};

// Searches the catalogue's bytes for the query (spaces removed).
ItemSearchResult SearchCatalogue(std::string_view buffer, std::string_view queryUtf8,
                                 std::size_t maxLines = kMaxResultLines);

// Searches the catalogue file. Its bytes are kept after the first search and read again
// when its size or modification time changed, so repeated searches cost a scan only. A file
// that exists but cannot be read counts as empty. Safe to call from any thread, also from
// several at once.
ItemSearchResult SearchItemLibrary(const std::filesystem::path& catalogue,
                                   std::string_view queryUtf8,
                                   std::size_t maxLines = kMaxResultLines);

// The name of the record whose "id" is exactly `itemId` (the first such record), as the
// catalogue's bytes hold it; nothing when no record has that id.
std::optional<std::string> CatalogueItemName(std::string_view buffer, std::string_view itemId);

// The names of these item ids in the catalogue file (read and kept as for a search), one per
// id, nothing for an id the catalogue does not hold; nothing at all when there is no
// catalogue to ask (no file, or one that cannot be read).
std::optional<std::vector<std::optional<std::string>>>
CatalogueItemNames(const std::filesystem::path& catalogue, const std::vector<std::string>& ids);

// The item id and the name of a result line ("id：" id "|" name "|颜色：" …); nothing for a
// line of another form (the last line of a cut result, say).
struct ResultLineItem
{
    std::string id;
    std::string name;
};
std::optional<ResultLineItem> ParseResultLine(std::string_view line);

// Lets go of the kept catalogue bytes (the next search reads the file again).
void ForgetCatalogue();

// The first occurrence of `needle` in `haystack` at or after `from`, or npos; an empty needle
// is never found. The library's vectorised search on every platform.
std::size_t FindBytes(std::string_view haystack, std::string_view needle, std::size_t from = 0);

// Where the chunk of `text` that starts at `offset` ends: after the last "\n" within
// `maxChunk` units, or, when there is none, after `maxChunk` units (one fewer when that would
// split a UTF-16 surrogate pair or a UTF-8 sequence). Always past `offset` while text is
// left, and never past its end.
template <typename Char>
std::size_t NextChunkEnd(std::basic_string_view<Char> text, std::size_t offset,
                         std::size_t maxChunk)
{
    if (maxChunk == 0)
        maxChunk = 1;
    if (offset >= text.size())
        return text.size();
    if (text.size() - offset <= maxChunk)
        return text.size();
    const std::size_t limit = offset + maxChunk;
    const std::size_t newline = text.substr(offset, maxChunk).rfind(Char('\n'));
    if (newline != std::basic_string_view<Char>::npos)
        return offset + newline + 1;
    std::size_t end = limit;
    const auto unit = [&](std::size_t i) { return static_cast<std::uint32_t>(text[i]); };
    if constexpr (sizeof(Char) == 2) {
        if (unit(end - 1) >= 0xD800 && unit(end - 1) <= 0xDBFF && end - 1 > offset)
            --end;
    } else if constexpr (sizeof(Char) == 1) {
        // Back up over continuation bytes to the lead byte, and cut before it.
        std::size_t lead = end;
        while (lead > offset && (unit(lead) & 0xC0) == 0x80 && limit - lead < 4)
            --lead;
        if (lead > offset && lead != end)
            end = lead;
    }
    return end;
}

} // namespace mrvn
