#pragma once

#include "TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace mrvn {

inline std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// Every test starts in a fresh folder of its own.
class ConfigFileTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(m_temp.Path().empty()); }

    std::filesystem::path Fixture(std::string_view name)
    {
        const std::filesystem::path target = m_dir / "config.dat";
        std::filesystem::copy_file(std::filesystem::path(MRVN_TEST_DATA_DIR) / name, target);
        return target;
    }

    // The folder's files but the lock file a rewrite leaves beside config.dat.
    std::vector<std::string> DirectoryEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
            if (entry.path().filename() != "config.dat.lock")
                names.push_back(entry.path().filename().string());
        }
        return names;
    }

    test::TempDir m_temp;
    std::filesystem::path m_dir = m_temp.Path();
};

} // namespace mrvn
