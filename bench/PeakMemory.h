#pragma once
// The process's peak resident memory, reset between the stages of a run so
// that each stage reports its own high-water mark (which includes whatever
// earlier stages still hold). Linux only: writing 5 to clear_refs resets the
// mark to the current resident size.

#include <cstdint>
#include <fstream>
#include <malloc.h>
#include <string>

inline void resetPeakResident() {
    malloc_trim(0); // hand freed pages back first, or they count for the next stage
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A field of /proc/self/status given in kB, in bytes.
inline uint64_t statusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stoull(line.substr(field.size())) * 1024;
    return 0;
}

inline uint64_t peakResidentBytes() { return statusBytes("VmHWM:"); }
inline uint64_t residentBytes() { return statusBytes("VmRSS:"); }
