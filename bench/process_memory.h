#pragma once

#include <fstream>
#include <string>

// This process's memory as the kernel counts it, in KiB: `field` is a line
// of /proc/self/status such as "VmRSS:" (resident now) or "VmHWM:" (the
// peak resident size so far). -1 when the line is missing.
inline long long processMemoryKiB(const std::string &field)
{
    std::ifstream status("/proc/self/status");
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
