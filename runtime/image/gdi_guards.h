// Device contexts the image library needs only for the length of one operation: each is deleted
// when its guard goes out of scope, on every path.
#pragma once

#include <windows.h>

// Bitmaps are made against the display device.
struct DisplayDc {
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    DisplayDc() = default;
    DisplayDc(const DisplayDc &) = delete;
    DisplayDc &operator=(const DisplayDc &) = delete;
    ~DisplayDc() {
        if (dc) DeleteDC(dc);
    }
};

// A memory dc compatible with the screen, to select a bitmap into.
struct MemoryDc {
    HDC dc = CreateCompatibleDC(nullptr);
    MemoryDc() = default;
    MemoryDc(const MemoryDc &) = delete;
    MemoryDc &operator=(const MemoryDc &) = delete;
    ~MemoryDc() {
        if (dc) DeleteDC(dc);
    }
};
