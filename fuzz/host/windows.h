// The few Windows types, heap calls and the code page query that the string runtime and the batch
// driver use, for the host build of the fuzzers only: private heaps become blocks from the C
// allocator.
#pragma once

#include <cstddef>
#include <cstdint>

using DWORD = uint32_t;
using BOOL = int;
using SIZE_T = size_t;
using HANDLE = void *;
using HINSTANCE = void *;
using HWND = void *;
using LPVOID = void *;

constexpr DWORD HEAP_NO_SERIALIZE = 0x1;
constexpr DWORD HEAP_ZERO_MEMORY = 0x8;
constexpr int IDOK = 1;
constexpr unsigned CP_ACP = 0;

struct CPINFO {
    unsigned MaxCharSize;
    unsigned char DefaultChar[2];
    unsigned char LeadByte[12];
};

HANDLE HeapCreate(DWORD options, SIZE_T initial, SIZE_T maximum);
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T size);
SIZE_T HeapSize(HANDLE heap, DWORD flags, const void *block);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);
[[noreturn]] void ExitProcess(unsigned code);
// Reports the program's own code page, UTF-8, whose characters take up to four bytes.
BOOL GetCPInfo(unsigned codePage, CPINFO *info);
// UTF-8 has no lead bytes of double-byte characters.
BOOL IsDBCSLeadByte(unsigned char byte);
