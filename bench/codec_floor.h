// The codec floor: a strip turned into its sheet with the codecs alone (see codec_floor.cpp).
#pragma once

#include <cstdint>
#include <string>

struct FloorTimes {
    int64_t decodeUs, layoutUs, encodeUs, wholeUs;
    bool ok;
};

// What the sheet options ask of the floor: with `alpha` a PNG sheet is RGBA (opaque frames on a
// transparent sheet), with `frameData` a data file of the frames is written beside each sheet.
struct FloorSheet {
    bool alpha;
    bool frameData;
};

// Converts the strip at PATH (DIRECTION 'H' or 'V', COUNT frames) into FOLDER\ under the name
// StripSheet gives its sheet.
FloorTimes FloorConvert(const char *path, char direction, int count, const std::string &folder,
                        FloorSheet kind = {});
