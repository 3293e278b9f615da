// Resident set size of this process, for the soak and the memory benchmark.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <fstream>
#include <unistd.h>
#endif

namespace kvx::test {

// In KiB: the working set on Windows, /proc/self/statm on Linux.
inline long residentKiB()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return long(counters.WorkingSetSize / 1024);
#else
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
#endif
}

} // namespace kvx::test
