// The codec floor: a strip turned into its sheet with the codecs alone (see codec_floor.cpp).
#pragma once

#include <cstdint>
#include <string>

struct FloorTimes {
    int64_t decodeUs, layoutUs, encodeUs, wholeUs;
    bool ok;
};

// Converts the strip at PATH (DIRECTION 'H' or 'V', COUNT frames) into FOLDER\ under the name
// StripSheet gives its sheet.
FloorTimes FloorConvert(const char *path, char direction, int count, const std::string &folder);
