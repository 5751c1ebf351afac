// The naming rule of strips: a file named prefix_<H|V><frames>.<png|bmp|jpg> (letters in any case)
// is a strip of that many frames side by side (H) or one above the other (V). The rule reads the
// bytes of a name alone (a UTF-8 or ANSI name, the same in every code page): it takes no memory
// and asks the system nothing.
#pragma once

#include <cstdint>

struct StripName {
    int32_t prefixLength;  // the prefix is the name's first prefixLength bytes (maybe none)
    char direction;        // 'H' or 'V'
    int32_t count;         // the frames, 1 to 2147483647 (leading zeros allowed in the name)
    const char *extension; // "png", "bmp" or "jpg", in lower case
};

// `name` is a file's name without its folder, `length` bytes long. True when it names a strip, and
// then `strip` describes it; false otherwise, with `strip` left as it was.
bool StripNameParse(const char *name, int32_t length, StripName *strip);
