// The program directory: where the running program file lies, never the current folder
// (config.dat and goods.jat.json sit beside the program). The one platform-specific
// question of this module: POSIX asks /proc/self/exe, Windows asks GetModuleFileNameW.
#include "config/ConfigFile.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace mrvn {

namespace fs = std::filesystem;

#ifdef _WIN32

fs::path ProgramDirectory()
{
    // Long paths may exceed MAX_PATH: grow the buffer until the whole name fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return fs::path(buffer).parent_path();
        }
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

#else

fs::path ProgramDirectory()
{
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return program.parent_path();
}

#endif

} // namespace mrvn
