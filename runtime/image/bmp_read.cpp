#include "runtime/image/bmp_read.h"

#include "runtime/drawing/bitmap_rows.h"

#include <algorithm>
#include <cstring>

namespace {

// Reads `size` bytes at the file's position; false when the file ends first.
bool ReadExactly(HANDLE file, uint8_t *to, uint64_t size) {
    constexpr DWORD MostAtOnce = DWORD(1) << 30;
    while (size > 0) {
        DWORD read = 0;
        DWORD want = size > MostAtOnce ? MostAtOnce : DWORD(size);
        if (!ReadFile(file, to, want, &read, nullptr) || read == 0) return false;
        to += read;
        size -= read;
    }
    return true;
}

} // namespace

bool BmpRowsReadHere(const BmpLayout &layout) {
    return layout.headerSize >= 40 && (layout.compression == 0 || layout.compression == 3);
}

const BITMAPINFO *BmpFileFormat(const BmpLayout &layout, const uint8_t *head,
                                BmpSectionFormat *format) {
    int32_t bits = layout.bitsPerPixel;
    if (bits > 8 && layout.compression == 0) return nullptr;
    *format = BmpSectionFormat{};
    BITMAPINFOHEADER &header = format->header;
    header.biSize = sizeof header;
    header.biWidth = layout.width;
    header.biHeight = layout.height; // bottom-up
    header.biPlanes = 1;
    header.biBitCount = WORD(bits);
    if (layout.compression == 3) {
        header.biCompression = BI_BITFIELDS;
        memcpy(format->colors, layout.masks, sizeof layout.masks);
    } else {
        // Every index has a colour: those beyond the file's table are black.
        uint32_t entries = uint32_t(1) << bits;
        header.biCompression = BI_RGB;
        header.biClrUsed = entries;
        if (entries > layout.tableEntries) entries = layout.tableEntries;
        memcpy(format->colors, head + layout.tableStart, entries * sizeof(RGBQUAD));
        for (uint32_t i = 0; i < entries; i++)
            format->colors[i].rgbReserved = 0;
    }
    return reinterpret_cast<const BITMAPINFO *>(format);
}

bool BmpReadRows(const BmpLayout &layout, const uint8_t *whole, HANDLE file, uint8_t *rows) {
    auto rowBytes = size_t(BitmapRowBytes(layout.width, layout.bitsPerPixel));
    size_t height = size_t(layout.height);
    if (whole) {
        const uint8_t *from = whole + layout.dataStart;
        if (!layout.topDown) {
            memcpy(rows, from, rowBytes * height);
        } else {
            for (size_t i = 0; i < height; i++)
                memcpy(rows + (height - 1 - i) * rowBytes, from + i * rowBytes, rowBytes);
        }
        return true;
    }
    LARGE_INTEGER at{};
    at.QuadPart = LONGLONG(layout.dataStart);
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !ReadExactly(file, rows, uint64_t(rowBytes) * height))
        return false;
    if (layout.topDown)
        for (size_t i = 0; i < height / 2; i++)
            std::swap_ranges(rows + i * rowBytes, rows + (i + 1) * rowBytes,
                             rows + (height - 1 - i) * rowBytes);
    return true;
}
