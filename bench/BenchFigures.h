#pragma once

// Small figures that several benchmarks print.

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

// The middle of the values (the mean of the two middle ones for an even count).
inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// CPU time the whole process has used so far, in seconds.
inline double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Serial lock files go to a folder of the benchmark's own, for it and the programs it starts,
// never the machine's /var/lock. Removed when the benchmark ends.
inline void UsePrivateLockFolder()
{
    static const struct Folder {
        std::string path;
        Folder()
        {
            char name[] = "/tmp/tamblo-bench-locks.XXXXXX";
            path = ::mkdtemp(name) ? name : "";
            if (!path.empty())
                ::setenv("TAMBLO_LOCK_DIR", path.c_str(), 1);
        }
        ~Folder()
        {
            std::error_code ignored;
            if (!path.empty())
                std::filesystem::remove_all(path, ignored);
        }
    } folder;
}
