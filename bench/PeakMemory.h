#pragma once
// Peak resident memory and page faults of the benchmark's own process (Linux).
#include <sys/resource.h>

#include <fstream>
#include <string>

namespace peakmemory {

// A field of /proc/self/status in MB.
inline double statusMB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == field) {
            double kilobytes = 0.0;
            status >> kilobytes;
            return kilobytes / 1024.0;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0.0;
}

// Starts measuring the peak resident size; returns the resident size now.
inline double startPeakMeasure()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return statusMB("VmRSS:");
}

// How far the resident size rose above `baseline` since startPeakMeasure.
inline double peakSince(double baseline)
{
    return statusMB("VmHWM:") - baseline;
}

// Minor page faults of the process so far: pages it touched fresh, zero-filled by the kernel.
inline long minorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

}  // namespace peakmemory
