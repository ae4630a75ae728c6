#pragma once

#include <fstream>
#include <string>

// A process's memory as the kernel counts it, in KiB: `field` is a line of
// its status file such as "VmRSS:" (resident now) or "VmHWM:" (the peak
// resident size so far). `statusFile` is /proc/self/status for this process,
// /proc/<pid>/status for another that is still running. -1 when the line is
// missing.
inline long long processMemoryKiB(const std::string &field,
                                  const std::string &statusFile = "/proc/self/status")
{
    std::ifstream status(statusFile);
    std::string key;
    while (status >> key) {
        if (key == field) {
            long long kib = -1;
            status >> kib;
            return kib;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}
