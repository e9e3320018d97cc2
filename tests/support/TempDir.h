#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace mrvn::test {

// A fresh folder under the system's temporary folder, removed with everything in it when
// the object goes. Standard C++ only, so pure tests use it on every platform.
class TempDir
{
public:
    TempDir()
    {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name =
                "mrvn-test-" + std::to_string(random()) + "-" + std::to_string(counter++);
            std::error_code error;
            if (std::filesystem::create_directory(base / name, error)) {
                m_path = base / name;
                return;
            }
        }
    }
    ~TempDir()
    {
        std::error_code error;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace mrvn::test
