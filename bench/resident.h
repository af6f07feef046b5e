#pragma once

// The memory a benchmark's work takes, as the growth of the process's resident set.

#include <cstdio>
#include <unistd.h>

namespace bench {

/// The process's resident set in bytes (from /proc/self/statm); 0 when it cannot be read.
inline long ResidentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace bench
