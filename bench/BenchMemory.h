#pragma once
// The memory figures the benchmark programs print (Linux).

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// The high-water mark of this program's own memory in MB (VmHWM starts afresh
// at exec, unlike ru_maxrss, which keeps the parent's figure).
inline double PeakRssMb() {
    double kb = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atof(line + 6);
        std::fclose(f);
    }
    if (kb == 0) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        kb = static_cast<double>(usage.ru_maxrss);
    }
    return kb / 1024.0;
}
