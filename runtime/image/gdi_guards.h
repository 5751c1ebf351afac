// Device contexts the image library needs only for the length of one operation: each is deleted
// when its guard goes out of scope, on every path. The display dc is kept open instead
// (ImageDisplayDc): opening one costs milliseconds under Wine.
#pragma once

#include <windows.h>

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
