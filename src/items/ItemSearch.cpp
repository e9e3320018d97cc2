#include "items/ItemSearch.h"

#include "text/TextUtil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>

#include <sys/mman.h>

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
    const void* hit =
        memmem(haystack.data() + from, haystack.size() - from, needle.data(), needle.size());
    if (!hit)
        return std::string_view::npos;
    return static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data());
}

void AppendRecordLine(std::string& out, std::string_view slice)
{
    if (!out.empty())
        out += "\r\n";
    out += "id：";
    out += CleanUtf8(ExtractBetween(slice, kIdMarker, "\""));
    out += '|';
    out += CleanUtf8(ExtractBetween(slice, kNameMarker, "\""));
    out += "|颜色：";
    out += CleanUtf8(ExtractBetween(slice, kRareLevelMarker, ","));
    out += "|职业：";
    out += CleanUtf8(ExtractBetween(slice, kJobMarker, ","));
}

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct FreeDeleter
{
    void operator()(char* bytes) const { std::free(bytes); }
};

// A catalogue of 100 MB takes 25,000 small pages, and faulting them in one by one costs
// many times the scan itself; large pages bring it down to a few dozen faults. The buffer
// grows by less than one large page.
std::unique_ptr<char, FreeDeleter> AllocateScanBuffer(std::size_t size)
{
    constexpr std::size_t kLargePage = std::size_t(2) << 20;
    if (size < kLargePage)
        return std::unique_ptr<char, FreeDeleter>(static_cast<char*>(std::malloc(size)));
    const std::size_t capacity = (size + kLargePage - 1) / kLargePage * kLargePage;
    auto* bytes = static_cast<char*>(std::aligned_alloc(kLargePage, capacity));
    if (bytes)
        madvise(bytes, capacity, MADV_HUGEPAGE);
    return std::unique_ptr<char, FreeDeleter>(bytes);
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
        const char* const base = buffer.data();
        std::size_t pos = 0;
        while (pos < buffer.size()) {
            const std::size_t hit = FindBytes(buffer, needle, pos);
            if (hit == std::string_view::npos)
                break;
            // `pos` is 0 or sits on the "{" that opens the record after the last one
            // listed, so looking back no further than `pos` finds the hit's own "{".
            const void* open = memrchr(base + pos, '{', hit - pos);
            const void* close = std::memchr(base + hit, '{', buffer.size() - hit);
            const std::size_t end =
                close ? static_cast<std::size_t>(static_cast<const char*>(close) - base)
                      : buffer.size();
            // A hit before the first "{" is in the file's head, which is never searched.
            if (open) {
                const std::size_t begin =
                    static_cast<std::size_t>(static_cast<const char*>(open) - base) + 1;
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
                                   std::string_view queryUtf8)
{
    ItemSearchResult result;
    std::error_code error;
    if (!std::filesystem::exists(catalogue, error)) {
        result.fileMissing = true;
        return result;
    }
    std::unique_ptr<char, FreeDeleter> bytes;
    std::size_t got = 0;
    {
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(catalogue.c_str(), "rb"));
        if (!file)
            return result;
        const auto size = std::filesystem::file_size(catalogue, error);
        if (error || size == 0)
            return result;
        bytes = AllocateScanBuffer(static_cast<std::size_t>(size));
        if (!bytes)
            return result;
        // A file that shrank while being read is searched as far as it was read.
        got = std::fread(bytes.get(), 1, static_cast<std::size_t>(size), file.get());
    }
    result.text = SearchCatalogue(std::string_view(bytes.get(), got), queryUtf8, &result.matches);
    return result;
}

} // namespace mrvn
