// Texts of the process's code page in UTF-16, for the system's wide routines.
#include "runtime/strings/strings.h"

#include "runtime/memory/memory.h"

wchar_t *TextToWide(const char *text, int32_t *length) {
    if (length) *length = 0;
    if (!text) text = "";
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return nullptr;
    auto *wide = static_cast<wchar_t *>(MemoryAlloc(size_t(n) * sizeof(wchar_t)));
    if (wide && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, n) != n) {
        MemoryFree(wide);
        return nullptr;
    }
    if (wide && length) *length = n - 1;
    return wide;
}
