// The clock the benchmark times both ways with, so that their figures compare.
#pragma once

#include <windows.h>

#include <cstdint>

inline int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// The processor time of the whole process, all threads, user and kernel: what a way costs the
// machine, whatever else runs on it (the server's work for the process is not in it).
inline int64_t ProcessCpuMicroseconds() {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
    auto value = [](const FILETIME &t) {
        return int64_t((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (value(kernel) + value(user)) / 10;
}

inline int64_t Microseconds(int64_t ticks) {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return ticks * 1000000 / frequency;
}
