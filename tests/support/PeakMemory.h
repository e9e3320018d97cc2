#pragma once

#include <cstddef>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace mrvn::test {

// The most memory this process has held so far, in bytes; 0 where the platform does not
// tell, or where a thread sanitizer's shadow of every byte touched counts in it (checks on
// it are then left out).
inline std::size_t PeakMemoryBytes()
{
#if defined(_WIN32) || defined(__SANITIZE_THREAD__)
    return 0;
#else
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024; // Linux counts kilobytes
#endif
}

} // namespace mrvn::test
