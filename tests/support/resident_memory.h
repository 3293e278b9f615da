// Resident set size of this process, for the soak and the memory benchmark.
#pragma once

#include <fstream>
#include <unistd.h>

namespace kvx::test {

// In KiB, from /proc/self/statm (Linux).
inline long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace kvx::test
