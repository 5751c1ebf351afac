#include "runtime/image/bmp_check.h"

#include "runtime/drawing/bitmap_rows.h"

namespace {

constexpr uint32_t FileHeaderBytes = 14;
constexpr uint32_t CoreHeaderBytes = 12;
constexpr uint32_t BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3;

uint32_t Read16(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}

uint32_t Read32(const uint8_t *p) {
    return Read16(p) | Read16(p + 2) << 16;
}

bool KnownHeaderSize(uint32_t size) {
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

bool KnownBitCount(uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Masks a section can be made with: each a run of set bits inside the pixel, apart from the others.
bool ValidMasks(const uint32_t masks[3], uint32_t bits) {
    uint32_t taken = 0;
    for (int i = 0; i < 3; i++) {
        uint32_t mask = masks[i];
        if (mask == 0 || (bits == 16 && mask > 0xFFFF) || (mask & taken)) return false;
        uint32_t run = mask / (mask & (0 - mask)); // shifted down to bit 0
        if (run & (run + 1)) return false;
        taken |= mask;
    }
    return true;
}

} // namespace

BmpCheck BmpCheckFile(const uint8_t *head, size_t headSize, uint64_t fileSize, BmpLayout *layout) {
    if (!head || headSize > fileSize || headSize < FileHeaderBytes + 4) return BmpCheck::NotABitmap;
    if (head[0] != 'B' || head[1] != 'M') return BmpCheck::NotABitmap;
    uint32_t pixelOffset = Read32(head + 10);
    uint32_t headerSize = Read32(head + FileHeaderBytes);
    if (!KnownHeaderSize(headerSize) || FileHeaderBytes + headerSize > headSize)
        return BmpCheck::NotABitmap;
    const uint8_t *info = head + FileHeaderBytes;

    int64_t width, height;
    uint32_t planes, bits, compression = BiRgb, colorsUsed = 0, imageSize = 0, entryBytes = 4;
    if (headerSize == CoreHeaderBytes) {
        width = Read16(info + 4);
        height = Read16(info + 6);
        planes = Read16(info + 8);
        bits = Read16(info + 10);
        entryBytes = 3;
        if (bits == 16 || bits == 32) return BmpCheck::NotABitmap;
    } else {
        width = int32_t(Read32(info + 4));
        height = int32_t(Read32(info + 8));
        planes = Read16(info + 12);
        bits = Read16(info + 14);
        compression = Read32(info + 16);
        imageSize = Read32(info + 20);
        colorsUsed = Read32(info + 32);
    }
    bool topDown = height < 0;
    if (topDown) height = -height;
    if (width < 1 || height < 1 || height > INT32_MAX || planes != 1 || !KnownBitCount(bits))
        return BmpCheck::NotABitmap;

    // Run-length data is bottom-up and sized by its header; bit fields only for 16 and 32 bits.
    // Anything else (embedded JPEG or PNG, alpha bit fields) is not for the bitmap loader.
    bool runLength = compression == BiRle8 || compression == BiRle4;
    if (compression == BiRle8 && bits != 8) return BmpCheck::NotABitmap;
    if (compression == BiRle4 && bits != 4) return BmpCheck::NotABitmap;
    if (compression == BiBitfields && bits != 16 && bits != 32) return BmpCheck::NotABitmap;
    if (compression > BiBitfields) return BmpCheck::NotABitmap;
    if (runLength && (topDown || imageSize == 0)) return BmpCheck::NotABitmap;

    // The loader reads the masks after a 40-byte header, and at most 256 colour entries.
    uint64_t masks = compression == BiBitfields && headerSize == 40 ? 12 : 0;
    uint64_t colors = colorsUsed > 256 ? 256 : colorsUsed;
    if (colors == 0 && bits <= 8) colors = uint64_t(1) << bits;
    uint64_t tableStart = FileHeaderBytes + headerSize + masks;
    uint64_t tableEnd = tableStart + colors * entryBytes;
    if (tableEnd > fileSize) return BmpCheck::CutShort;
    if (tableEnd > headSize) return BmpCheck::NotABitmap; // less than the file's headers given

    // After a 40-byte header the masks follow it; the larger headers hold them at the same place.
    uint32_t fields[3] = {0, 0, 0};
    if (compression == BiBitfields) {
        for (int i = 0; i < 3; i++)
            fields[i] = Read32(info + 40 + 4 * i);
        if (!ValidMasks(fields, bits)) return BmpCheck::NotABitmap;
    }

    // An offset of 0 means the rows follow the colour table.
    uint64_t dataStart = pixelOffset ? pixelOffset : tableEnd;
    uint64_t rowBytes = uint64_t(BitmapRowBytes(width, int32_t(bits)));
    uint64_t dataSize = runLength ? imageSize : rowBytes * uint64_t(height);
    if (dataStart > fileSize || dataSize > fileSize - dataStart) return BmpCheck::CutShort;

    if (layout)
        *layout = BmpLayout{int32_t(width),
                            int32_t(height),
                            int32_t(bits),
                            topDown,
                            headerSize,
                            compression,
                            colorsUsed,
                            dataStart,
                            uint32_t(tableStart),
                            uint32_t(colors),
                            {fields[0], fields[1], fields[2]}};
    return BmpCheck::Valid;
}
