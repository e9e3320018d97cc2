#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mrvn {

// The directory that holds the running program file (not the current directory).
std::filesystem::path ProgramDirectory();

// Access to an INI file stored in GBK (or UTF-8/UTF-16 with a byte-order mark), with the
// semantics of the Windows profile functions. Every call opens, reads or rewrites and
// closes the file; nothing is cached. All texts passed in and returned are UTF-8.
class ConfigFile
{
public:
    explicit ConfigFile(std::filesystem::path path);
    // config.dat in ProgramDirectory().
    static ConfigFile Default();

    const std::filesystem::path& Path() const { return m_path; }

    // The key's value without surrounding spaces and one pair of enclosing quotes, cut at
    // 10,239 bytes of its GBK form; `defaultValue` when the file, section or key is absent.
    std::string ReadValue(std::string_view section, std::string_view key,
                          std::string_view defaultValue = {}) const;

    // Each write replaces the whole file atomically (temporary file + rename) and returns
    // false when it could not be written; the old file is then left as it was.
    bool WriteValue(std::string_view section, std::string_view key, std::string_view value);
    // Several WriteValue calls on one section in one rewrite: the same bytes, one write.
    bool WriteValues(std::string_view section,
                     const std::vector<std::pair<std::string, std::string>>& keys);
    bool DeleteSection(std::string_view section);
    bool DeleteKey(std::string_view section, std::string_view key);
    // Replaces the section (or creates it at the end) with exactly these keys, in one write.
    bool WriteSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& keys);

private:
    std::filesystem::path m_path;
};

struct ConnectionSettings
{
    std::string ip = "127.0.0.1";
    std::string port = "3306";
    std::string user = "root";
    std::string psw = "739215";
    std::string db = "mrvn";
    friend bool operator==(const ConnectionSettings&, const ConnectionSettings&) = default;
};

// Reads ip, port, user, psw, db of section "system", each with its default.
ConnectionSettings LoadConnectionSettings(const ConfigFile& file);
// Writes the five keys in that order, unchanged.
bool SaveConnectionSettings(ConfigFile& file, const ConnectionSettings& settings);

} // namespace mrvn
