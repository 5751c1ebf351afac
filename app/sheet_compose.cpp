// Composing sheets and atlas pages pixel by pixel, and the plain sheet by GDI.
#include "app/sheet_compose.h"

#include "runtime/drawing/drawing.h"
#include "runtime/image/gdi_guards.h"
#include "runtime/image/image.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <cstring>

namespace {

constexpr int32_t PlainColumns = 8;

// True when image `id` is a section this library made, of that size and depth.
bool SameSection(ObjectId id, int32_t width, int32_t height, int32_t depth) {
    const ImageObject *image = ImageRecord(id);
    return image && image->bottomUpSection && image->depth == depth && ImageGetWidth(id) == width &&
           ImageGetHeight(id) == height;
}

uint32_t Word(const uint8_t *at) {
    uint32_t word;
    memcpy(&word, at, sizeof word);
    return word;
}

// Opaque 3-byte pixels into 4-byte ones, four at a time from three words: a byte at a time, the
// widening took half of a large /alpha sheet's composition.
void WidenRow(uint8_t *to, const uint8_t *from, int32_t width) {
    constexpr uint32_t Opaque = 0xFF000000;
    int32_t x = 0;
    for (; x + 4 <= width; x += 4, from += 12, to += 16) {
        uint32_t a = Word(from), b = Word(from + 4), c = Word(from + 8);
        uint32_t out[4] = {(a & 0xFFFFFF) | Opaque, (a >> 24) | ((b & 0xFFFF) << 8) | Opaque,
                           (b >> 16) | ((c & 0xFF) << 16) | Opaque, (c >> 8) | Opaque};
        memcpy(to, out, sizeof out);
    }
    for (; x < width; x++, from += 3, to += 4) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
        to[3] = 255;
    }
}

} // namespace

StripPixels::~StripPixels() {
    MemoryFree(block);
}

bool StripPixelsRead(ObjectId id, StripPixels *strip) {
    const ImageObject *image = ImageRecord(id);
    if (!image || GetObjectType(image->handle) != OBJ_BITMAP) return false; // an icon
    DIBSECTION section{};
    int32_t width = ImageGetWidth(id);
    int32_t height = ImageGetHeight(id);
    PixelRows &rows = strip->rows;
    // The loader's own sections say their row order; only the decoders make 32-bit ones top-down,
    // and they give 32 bits a pixel only to pictures with alpha.
    if (image->loadedSection &&
        GetObjectA(image->handle, sizeof section, &section) == sizeof section &&
        section.dsBm.bmBits && section.dsBm.bmWidth == width &&
        (section.dsBm.bmBitsPixel == 24 || section.dsBm.bmBitsPixel == 32)) {
        GdiFlush();
        bool topDown = image->loadedSection == LoadedTopDown;
        rows.stride = topDown ? section.dsBm.bmWidthBytes : -int64_t(section.dsBm.bmWidthBytes);
        rows.bits = static_cast<uint8_t *>(section.dsBm.bmBits) +
                    (topDown ? 0 : int64_t(section.dsBm.bmWidthBytes) * (height - 1));
        rows.bytesPerPixel = section.dsBm.bmBitsPixel / 8;
        rows.alpha = topDown && rows.bytesPerPixel == 4;
        return true;
    }
    // Any other bitmap (a palette picture, one the system loader made) is read back, opaque.
    if (!ImageBytesFit(width, height, 32)) return false;
    rows.stride = BitmapRowBytes(width, 32);
    strip->block = static_cast<uint8_t *>(MemoryAlloc(size_t(rows.stride) * size_t(height)));
    if (!strip->block) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    MemoryDc memory;
    if (!memory.dc || GetDIBits(memory.dc, static_cast<HBITMAP>(image->handle), 0, UINT(height),
                                strip->block, &info, DIB_RGB_COLORS) != height)
        return false;
    rows.bits = strip->block;
    rows.bytesPerPixel = 4;
    rows.alpha = false;
    return true;
}

void PixelRowCopy(uint8_t *to, int32_t toBytes, const uint8_t *from, int32_t fromBytes, bool alpha,
                  int32_t width, int32_t scale) {
    if (scale == 1 && toBytes == fromBytes && (toBytes == 3 || alpha)) {
        memcpy(to, from, size_t(width) * size_t(toBytes));
        return;
    }
    if (scale == 1 && toBytes == 4 && fromBytes == 3) {
        WidenRow(to, from, width);
        return;
    }
    for (int32_t x = 0; x < width; x++, from += fromBytes) {
        for (int32_t k = 0; k < scale; k++, to += toBytes) {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
            if (toBytes == 4) to[3] = alpha ? from[3] : 255;
        }
    }
}

bool PageBegin(ObjectId id, int32_t width, int32_t height, int32_t depth, PixelRows *page) {
    if (!SameSection(id, width, height, depth)) ImageCreate(id, width, height, depth);
    const ImageObject *image = ImageRecord(id);
    DIBSECTION section{};
    if (!image || GetObjectA(image->handle, sizeof section, &section) != sizeof section ||
        !section.dsBm.bmBits || section.dsBm.bmBitsPixel != depth)
        return false;
    GdiFlush();
    auto *bits = static_cast<uint8_t *>(section.dsBm.bmBits);
    int64_t stride = section.dsBm.bmWidthBytes;
    memset(bits, 0, size_t(stride) * size_t(height)); // black, or wholly transparent
    // The section is bottom-up: the page's top row is the last in memory.
    page->bits = bits + stride * (height - 1);
    page->stride = -stride;
    page->bytesPerPixel = depth / 8;
    page->alpha = depth == 32;
    return true;
}

void PageDrawFrame(const PixelRows &page, const PixelRows &from, int32_t fromX, int32_t fromY,
                   int32_t width, int32_t height, int32_t x, int32_t y, int32_t scale,
                   int32_t extrude) {
    int32_t bytes = page.bytesPerPixel;
    auto row = [&](int64_t at) {
        return page.bits + page.stride * at + int64_t(x - extrude) * bytes;
    };
    size_t cellBytes = size_t(width * scale + 2 * extrude) * size_t(bytes);
    int64_t lastX = int64_t(width) * scale + extrude - 1; // within the cell
    for (int32_t r = 0; r < height; r++) {
        uint8_t *to = row(y + int64_t(r) * scale);
        PixelRowCopy(to + int64_t(extrude) * bytes, bytes,
                     from.bits + from.stride * (fromY + r) + int64_t(fromX) * from.bytesPerPixel,
                     from.bytesPerPixel, from.alpha, width, scale);
        for (int32_t k = 0; k < extrude; k++) {
            memcpy(to + int64_t(k) * bytes, to + int64_t(extrude) * bytes, size_t(bytes));
            memcpy(to + (lastX + 1 + k) * bytes, to + lastX * bytes, size_t(bytes));
        }
        for (int32_t k = 1; k < scale; k++)
            memcpy(row(y + int64_t(r) * scale + k), to, cellBytes);
    }
    int64_t bottom = y + int64_t(height) * scale - 1;
    for (int32_t k = 1; k <= extrude; k++) {
        memcpy(row(y - k), row(y), cellBytes);
        memcpy(row(bottom + k), row(bottom), cellBytes);
    }
}

bool DrawPlainSheet(ObjectId sheet, ObjectId strip, bool horizontal, int32_t count,
                    int32_t frameWidth, int32_t frameHeight, int32_t sheetWidth,
                    int32_t sheetHeight) {
    // The last sheet is drawn over when it has the size of this one (batches are mostly strips
    // of one size): a new section costs fresh memory, and the box below clears it all the same.
    if (!SameSection(sheet, sheetWidth, sheetHeight, 24))
        ImageCreate(sheet, sheetWidth, sheetHeight, 24);
    bool drawing = DrawingBegin(ImageDrawTarget(sheet)) != nullptr;
    DrawingSetMode(ModeTransparent);
    // When the frames cover every pixel (no short last row, no room added round them), clearing
    // first would only be one more pass over a large sheet.
    int32_t columns = count < PlainColumns ? count : PlainColumns;
    int32_t rows = (count + PlainColumns - 1) / PlainColumns;
    bool covered = count % columns == 0 && int64_t(frameWidth) * columns == sheetWidth &&
                   int64_t(frameHeight) * rows == sheetHeight;
    if (!covered) DrawBox(0, 0, sheetWidth, sheetHeight, ColorRgb(0, 0, 0));

    // Each frame is copied straight from the strip into its cell: a bitmap of its own per frame
    // would cost a bitmap and a second copy of its pixels for every frame. A horizontal strip's
    // frames lie side by side as in a row of the sheet, so each row of cells is one copy.
    HANDLE from = ImageHandle(strip);
    int32_t framesPerCopy = horizontal ? PlainColumns : 1;
    bool everyFrame = true;
    for (int32_t i = 0; i < count; i += framesPerCopy) {
        int32_t frames = count - i < framesPerCopy ? count - i : framesPerCopy;
        int32_t x = frameWidth * (i % PlainColumns);
        int32_t y = frameHeight * (i / PlainColumns);
        int32_t fromX = horizontal ? frameWidth * i : 0;
        int32_t fromY = horizontal ? 0 : frameHeight * i;
        if (!DrawImagePart(from, x, y, fromX, fromY, frameWidth * frames, frameHeight) && drawing)
            everyFrame = false;
    }
    DrawingEnd();
    return everyFrame;
}

void CopyPlainSheet(const PixelRows &sheet, int32_t sheetWidth, int32_t sheetHeight,
                    const PixelRows &strip, bool horizontal, int32_t count, int32_t frameWidth,
                    int32_t frameHeight) {
    size_t frameBytes = size_t(frameWidth) * 3;
    for (int32_t y = 0; y < sheetHeight; y++) {
        uint8_t *to = sheet.bits + y * sheet.stride;
        int32_t first = y / frameHeight * PlainColumns;
        int32_t frameY = y % frameHeight;
        int32_t frames = count - first < PlainColumns ? count - first : PlainColumns;
        if (frames < 0) frames = 0;
        // A horizontal strip's frames lie side by side as in the sheet's row: one copy for them.
        if (horizontal && frames > 0)
            memcpy(to, strip.bits + frameY * strip.stride + frameBytes * size_t(first),
                   frameBytes * size_t(frames));
        for (int32_t k = 0; !horizontal && k < frames; k++)
            memcpy(to + frameBytes * size_t(k),
                   strip.bits + (int64_t(first + k) * frameHeight + frameY) * strip.stride,
                   frameBytes);
        memset(to + frameBytes * size_t(frames), 0,
               size_t(sheetWidth) * 3 - frameBytes * size_t(frames));
    }
}
