// The naming rule of strips, over the bytes of a name.
#include "app/strip_name.h"

namespace {

constexpr const char *Extensions[] = {"png", "bmp", "jpg"};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The position of the last `mark` among the first `end` bytes, or -1.
int32_t LastOf(const char *name, int32_t end, char mark) {
    for (int32_t i = end - 1; i >= 0; i--)
        if (name[i] == mark) return i;
    return -1;
}

// The extension's text when the bytes are one of ours in any case, null otherwise.
const char *KnownExtension(const char *text, int32_t length) {
    for (const char *known : Extensions) {
        int32_t i = 0;
        while (i < length && known[i] && Lower(text[i]) == known[i])
            i++;
        if (i == length && !known[i]) return known;
    }
    return nullptr;
}

} // namespace

bool StripNameParse(const char *name, int32_t length, StripName *strip) {
    if (!name || length < 0) return false;
    // The extension follows the last dot; the frames follow the last "_" in front of it.
    int32_t dot = LastOf(name, length, '.');
    if (dot < 0) return false;
    const char *extension = KnownExtension(name + dot + 1, length - dot - 1);
    int32_t mark = LastOf(name, dot, '_');
    if (!extension || mark < 0 || dot - mark < 3) return false;
    char direction = name[mark + 1];
    if (direction == 'h' || direction == 'v') direction = char(direction - 'a' + 'A');
    if (direction != 'H' && direction != 'V') return false;
    // A frame count must be a positive 32-bit value: 0 would divide the strip by zero, and a
    // longer text would wrap around to some unrelated count.
    int64_t count = 0;
    for (int32_t i = mark + 2; i < dot; i++) {
        if (name[i] < '0' || name[i] > '9') return false;
        count = count * 10 + (name[i] - '0');
        if (count > INT32_MAX) return false;
    }
    if (count == 0) return false;
    *strip = StripName{mark, direction, int32_t(count), extension};
    return true;
}
