#include "tests/image/bmp_files.h"

#include <algorithm>
#include <cstring>

uint32_t Field32(const std::string &bytes, size_t offset) {
    return Field16(bytes, offset) | uint32_t(Field16(bytes, offset + 2)) << 16;
}

uint16_t Field16(const std::string &bytes, size_t offset) {
    return uint16_t(uint8_t(bytes[offset]) | uint8_t(bytes[offset + 1]) << 8);
}

std::string MakeBmp(const Picture &picture, int bits, bool topDown, uint8_t alpha) {
    std::vector<COLORREF> table;
    if (bits <= 8) {
        for (COLORREF c : picture.pixels)
            if (std::find(table.begin(), table.end(), c) == table.end()) table.push_back(c);
        if (table.size() > (size_t(1) << bits)) return {};
    }
    std::string rows;
    for (int i = 0; i < picture.height; i++) {
        int y = topDown ? i : picture.height - 1 - i;
        std::string row((size_t(picture.width) * bits + 31) / 32 * 4, '\0');
        for (int x = 0; x < picture.width; x++) {
            COLORREF c = picture.At(x, y);
            uint32_t r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            if (bits <= 8) {
                auto index = uint32_t(std::find(table.begin(), table.end(), c) - table.begin());
                // The leftmost pixel sits in the high bits of its byte.
                size_t bit = size_t(x) * bits;
                row[bit / 8] = char(uint8_t(row[bit / 8]) | index << (8 - bits - bit % 8));
            } else {
                uint32_t v = bits == 16 ? r >> 3 << 11 | g >> 2 << 5 | b >> 3
                                        : b | g << 8 | r << 16 | uint32_t(alpha) << 24;
                memcpy(&row[size_t(x) * bits / 8], &v, size_t(bits) / 8);
            }
        }
        rows += row;
    }
    const uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
    auto extra = DWORD(bits == 16 ? sizeof masks : 4 * table.size());
    BITMAPFILEHEADER file{0x4D42, DWORD(14 + 40 + extra + rows.size()), 0, 0, 14 + 40 + extra};
    LONG height = topDown ? -picture.height : picture.height;
    DWORD compression = bits == 16 ? BI_BITFIELDS : BI_RGB, size = DWORD(rows.size());
    BITMAPINFOHEADER info{40, picture.width, height, 1, WORD(bits), compression, size, 0, 0, 0, 0};
    info.biClrUsed = DWORD(table.size());
    std::string out;
    AppendBytes(out, file);
    AppendBytes(out, info);
    if (bits == 16) AppendBytes(out, masks);
    for (COLORREF c : table)
        AppendBytes(out, uint32_t(GetBValue(c) | GetGValue(c) << 8 | GetRValue(c) << 16));
    return out + rows;
}

bool ReadBmp24(const std::string &bytes, Picture *picture, std::string *why) {
    if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0 || Field32(bytes, 14) != 40 ||
        Field16(bytes, 28) != 24 || Field32(bytes, 30) != BI_RGB) {
        *why = "not a 24-bit BI_RGB bitmap file";
        return false;
    }
    uint32_t offset = Field32(bytes, 10);
    auto width = int32_t(Field32(bytes, 18)), height = int32_t(Field32(bytes, 22));
    bool topDown = height < 0;
    height = topDown ? -height : height;
    size_t rowBytes = (size_t(width) * 3 + 3) / 4 * 4;
    if (width < 1 || height == 0 || bytes.size() < offset + rowBytes * height) {
        *why = "no pixels, or pixel data cut short";
        return false;
    }
    *picture = Picture{width, height, std::vector<COLORREF>(size_t(width) * height)};
    for (int i = 0; i < height; i++) {
        const char *row = bytes.data() + offset + rowBytes * i;
        for (int x = 0; x < width; x++)
            picture->pixels[size_t(topDown ? i : height - 1 - i) * width + x] =
                RGB(uint8_t(row[x * 3 + 2]), uint8_t(row[x * 3 + 1]), uint8_t(row[x * 3]));
        for (size_t pad = size_t(width) * 3; pad < rowBytes; pad++)
            if (row[pad] != 0) {
                *why = "row " + std::to_string(i) + " is padded with non-zero bytes";
                return false;
            }
    }
    return true;
}
