#pragma once

#include <cstdint>
#include <fstream>
#include <string>

#include <sys/resource.h>

namespace pictarre::test {

// What this process has read so far, in bytes (its rchar count), for checks of how much of a
// file a piece of work reads.
inline std::uint64_t bytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return 0;
}

// The peak resident size of this process so far, in kB.
inline long peakKb()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace pictarre::test
