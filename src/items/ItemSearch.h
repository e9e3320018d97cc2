#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

// The item library search: the catalogue goods.jat.json is treated as bytes, not parsed.
// Records are the stretches between consecutive "{" bytes, fields are found by fixed
// markers, and a record matches when it holds the query's bytes anywhere.
namespace mrvn {

inline constexpr char kCatalogueFileName[] = "goods.jat.json";
inline constexpr char kCatalogueMissingText[] =
    "goods.jat.json 物品库不存在，请手动转换goods.jat文件后，放入本程序目录下即可！";
inline constexpr char kCatalogueErrorTitle[] = "物品库错误";
inline constexpr char kSearchStatusWaiting[] = "查询状态：等待";
inline constexpr char kSearchStatusRunning[] = "查询状态：检索中";
inline constexpr char kSearchStatusDone[] = "查询状态：完成";

// The bytes after the first `start` up to, not including, the first `end` after it.
// Empty when either is missing (an empty marker is never found).
std::string_view ExtractBetween(std::string_view slice, std::string_view start,
                                std::string_view end);

// Searches the catalogue's bytes for the query (spaces removed) and returns one line per
// matching record, in file order, joined by CR LF. `matches` receives the line count.
std::string SearchCatalogue(std::string_view buffer, std::string_view queryUtf8,
                            std::size_t* matches = nullptr);

struct ItemSearchResult
{
    bool fileMissing = false;
    std::string text;
    std::size_t matches = 0;
};

// Reads the whole catalogue and searches it. A file that exists but cannot be read
// counts as empty.
ItemSearchResult SearchItemLibrary(const std::filesystem::path& catalogue,
                                   std::string_view queryUtf8);

} // namespace mrvn
