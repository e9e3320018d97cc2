#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

// Writes goods.jat.json item catalogues: a JSON array of item objects, pretty-printed the
// way the usual converters print it, with Chinese names and a nested object in some
// records. Deterministic for a given seed.
namespace mrvn::catalogue {

// Average size of one record in bytes, for sizing a catalogue by megabytes.
inline constexpr std::size_t kApproxRecordBytes = 170;

// The id of the record at `index` (0-based): seven digits, unique, occurs nowhere else.
std::string RecordId(std::size_t index);

// The whole catalogue text with `records` item objects.
std::string MakeCatalogue(std::size_t records, unsigned seed = 1);

// Writes the catalogue to `path` (replacing it) without holding it all in memory.
bool WriteCatalogue(const std::filesystem::path& path, std::size_t records, unsigned seed = 1);

// How many records make a catalogue of about `bytes` bytes.
std::size_t RecordsForBytes(std::size_t bytes);

} // namespace mrvn::catalogue
