#include "tests/image/bmp_files.h"

#include <algorithm>

namespace {

void Put16(std::string &out, uint32_t v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

void Put32(std::string &out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

} // namespace

uint32_t Field32(const std::string &bytes, size_t offset) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--)
        v = v << 8 | uint8_t(bytes[offset + i]);
    return v;
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
    uint32_t rowBytes = (uint32_t(picture.width) * bits + 31) / 32 * 4;
    std::string rows;
    for (int i = 0; i < picture.height; i++) {
        int y = topDown ? i : picture.height - 1 - i;
        std::string row(rowBytes, '\0');
        for (int x = 0; x < picture.width; x++) {
            COLORREF c = picture.At(x, y);
            uint8_t r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            if (bits <= 8) {
                uint32_t index = uint32_t(std::find(table.begin(), table.end(), c) - table.begin());
                uint32_t bit = uint32_t(x) * bits;
                // The leftmost pixel sits in the high bits of its byte.
                row[bit / 8] = char(uint8_t(row[bit / 8]) | index << (8 - bits - bit % 8));
            } else if (bits == 16) {
                uint32_t v = uint32_t(r >> 3) << 11 | uint32_t(g >> 2) << 5 | uint32_t(b >> 3);
                row[x * 2] = char(v & 0xFF);
                row[x * 2 + 1] = char(v >> 8);
            } else {
                size_t at = size_t(x) * (bits / 8);
                row[at] = char(b);
                row[at + 1] = char(g);
                row[at + 2] = char(r);
                if (bits == 32) row[at + 3] = char(alpha);
            }
        }
        rows += row;
    }
    uint32_t colors = bits <= 8 ? uint32_t(table.size()) : 0;
    uint32_t masks = bits == 16 ? 12 : 0;
    uint32_t offset = 14 + 40 + masks + 4 * colors;
    std::string out = "BM";
    Put32(out, offset + uint32_t(rows.size()));
    Put32(out, 0);
    Put32(out, offset);
    Put32(out, 40);
    Put32(out, uint32_t(picture.width));
    Put32(out, uint32_t(topDown ? -picture.height : picture.height));
    Put16(out, 1);
    Put16(out, uint32_t(bits));
    Put32(out, bits == 16 ? BI_BITFIELDS : BI_RGB);
    Put32(out, uint32_t(rows.size()));
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, colors);
    Put32(out, 0);
    if (bits == 16) {
        Put32(out, 0xF800);
        Put32(out, 0x07E0);
        Put32(out, 0x001F);
    }
    for (COLORREF c : table) {
        out += char(GetBValue(c));
        out += char(GetGValue(c));
        out += char(GetRValue(c));
        out += '\0';
    }
    return out + rows;
}

COLORREF Through565(COLORREF color) {
    uint32_t r = GetRValue(color) >> 3, g = GetGValue(color) >> 2, b = GetBValue(color) >> 3;
    return RGB(r << 3 | r >> 2, g << 2 | g >> 4, b << 3 | b >> 2);
}

COLORREF Through555(COLORREF color) {
    uint32_t r = GetRValue(color) >> 3, g = GetGValue(color) >> 3, b = GetBValue(color) >> 3;
    return RGB(r << 3 | r >> 2, g << 3 | g >> 2, b << 3 | b >> 2);
}

bool ReadBmp24(const std::string &bytes, Picture *picture, std::string *why) {
    if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0) {
        *why = "not a bitmap file";
        return false;
    }
    uint32_t offset = Field32(bytes, 10);
    auto width = int32_t(Field32(bytes, 18));
    auto height = int32_t(Field32(bytes, 22));
    if (Field32(bytes, 14) != 40 || Field16(bytes, 28) != 24 || Field32(bytes, 30) != BI_RGB ||
        width < 1 || height == 0) {
        *why = "not a 24-bit BI_RGB file";
        return false;
    }
    bool topDown = height < 0;
    height = topDown ? -height : height;
    size_t rowBytes = (size_t(width) * 3 + 3) / 4 * 4;
    if (bytes.size() < offset + rowBytes * height) {
        *why = "pixel data cut short";
        return false;
    }
    picture->width = width;
    picture->height = height;
    picture->pixels.assign(size_t(width) * height, 0);
    for (int i = 0; i < height; i++) {
        int y = topDown ? i : height - 1 - i;
        const char *row = bytes.data() + offset + rowBytes * i;
        for (int x = 0; x < width; x++)
            picture->pixels[size_t(y) * width + x] =
                RGB(uint8_t(row[x * 3 + 2]), uint8_t(row[x * 3 + 1]), uint8_t(row[x * 3]));
    }
    return true;
}
