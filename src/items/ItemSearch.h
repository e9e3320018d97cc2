#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// The item library search. Rules this module keeps:
// - the catalogue goods.jat.json is treated as bytes, not parsed: records are the stretches
//   between consecutive "{" bytes, fields are found by fixed markers, and a record matches
//   when it holds the query's bytes anywhere (spaces of the query removed);
// - the catalogue is read once per search and scanned in one pass with a standard search
//   (no platform calls), so it behaves the same on every system and a search costs one
//   read of the file, however many records match;
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

// Searches the catalogue's bytes for the query (spaces removed) and returns one line per
// matching record, in file order, joined by CR LF. `matches` receives the line count.
std::string SearchCatalogue(std::string_view buffer, std::string_view queryUtf8,
                            std::size_t* matches = nullptr);

// The most result lines a search puts into its text.
inline constexpr std::size_t kMaxResultLines = 10000;

struct ItemSearchResult
{
    bool fileMissing = false;
    std::string text;
    std::size_t matches = 0; // every matching record
    std::size_t shown = 0;   // the lines in `text`, at most the line limit
};

// Reads the whole catalogue and searches it. A file that exists but cannot be read
// counts as empty.
ItemSearchResult SearchItemLibrary(const std::filesystem::path& catalogue,
                                   std::string_view queryUtf8,
                                   std::size_t lineLimit = kMaxResultLines);

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
