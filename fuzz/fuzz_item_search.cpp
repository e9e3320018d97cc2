// The catalogue search on any bytes. The first input byte gives the query length (0-31),
// then the query, then the catalogue. Checks against a plain record-by-record search:
// - the same items match (records with an id or a name), in the same number, and the lines
//   shown are the first of them up to the line limit (a small one from the first byte's top
//   bits, or the default);
// - the result is valid UTF-8 and no line is longer than four cut fields allow;
// - the result's chunks for the text box cover it exactly, each within the chunk size.
#include "items/ItemSearch.h"
#include "text/TextUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// An item: its id or its name shows a value (a value ends at a zero byte); the members of a
// nested object have neither and are not searched.
bool IsItem(std::string_view record)
{
    for (const std::string_view marker : {"\"id\": \"", "\"name\": \""}) {
        const std::size_t at = record.find(marker);
        if (at == record.npos)
            continue;
        const std::size_t begin = at + marker.size();
        const std::size_t end = record.find('"', begin);
        if (end != record.npos && end > begin && record[begin] != '\0')
            return true;
    }
    return false;
}

std::size_t PlainMatchCount(std::string_view buffer, const std::string& needle)
{
    if (needle.empty())
        return 0;
    std::size_t count = 0;
    std::size_t open = buffer.find('{');
    while (open != buffer.npos) {
        const std::size_t next = buffer.find('{', open + 1);
        const std::string_view record =
            buffer.substr(open + 1, next == buffer.npos ? buffer.npos : next - open - 1);
        if (record.find(needle) != record.npos && IsItem(record))
            ++count;
        open = next;
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t queryLength = std::min<std::size_t>(data[0] % 32, size - 1);
    const std::string_view query(reinterpret_cast<const char*>(data) + 1, queryLength);
    const std::string_view buffer(reinterpret_cast<const char*>(data) + 1 + queryLength,
                                  size - 1 - queryLength);
    const std::size_t limitBits = data[0] >> 5;
    const std::size_t maxLines = limitBits == 7 ? mrvn::kMaxResultLines : limitBits;
    const mrvn::ItemSearchResult found = mrvn::SearchCatalogue(buffer, query, maxLines);
    const std::string& result = found.text;
    const std::size_t matches = found.shown;
    Check(found.matches == PlainMatchCount(buffer, mrvn::RemoveAllSpaces(query)), "match count");
    Check(found.shown == std::min(found.matches, maxLines), "lines shown");
    Check(mrvn::CleanUtf8(result) == result, "valid UTF-8");
    std::size_t lines = result.empty() ? 0 : 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i <= result.size(); ++i) {
        if (i == result.size() ||
            (result[i] == '\r' && i + 1 < result.size() && result[i + 1] == '\n' &&
             i + 2 < result.size() && result.compare(i + 2, 5, "id\xEF\xBC\x9A") == 0)) {
            Check(i - lineStart <= 4 * mrvn::kMaxFieldBytes + 40, "line length");
            lineStart = i + 2;
            if (i < result.size())
                ++lines;
        }
    }
    Check(lines >= matches, "one line per match");

    const std::size_t chunk = 1 + data[0] % 64;
    std::size_t offset = 0;
    while (offset < result.size()) {
        const std::size_t end = mrvn::NextChunkEnd(std::string_view(result), offset, chunk);
        Check(end > offset && end - offset <= chunk && end <= result.size(), "chunk bounds");
        offset = end;
    }
    return 0;
}
