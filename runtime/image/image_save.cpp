#include "runtime/image/image_save.h"

#include "runtime/image/gdi_guards.h"
#include "runtime/memory/memory.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t EncoderTableSize = 100;

const ImageEncoder *Encoders[EncoderTableSize];
int32_t EncoderCount;

const ImageEncoder *EncoderFor(int32_t formatId) {
    for (int32_t i = 0; i < EncoderCount; i++)
        if (Encoders[i]->FormatId == formatId) return Encoders[i];
    return nullptr;
}

bool WriteAll(HANDLE file, const void *data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// The built-in writer: a 14-byte file header, the 40-byte info header and the rows as they are
// in the block (bottom row first, each padded to whole 32-bit words).
int32_t BmpWrite(const char *fileName, const BITMAPINFOHEADER &header, const uint8_t *pixels) {
    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD headerBytes = header.biSize + 4 * header.biClrUsed;
    BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = 0x4D42; // "BM"
    fileHeader.bfSize = sizeof fileHeader + headerBytes + header.biSizeImage;
    fileHeader.bfOffBits = sizeof fileHeader + headerBytes;
    bool written = WriteAll(file, &fileHeader, sizeof fileHeader) &&
                   WriteAll(file, &header, headerBytes) &&
                   WriteAll(file, pixels, header.biSizeImage);
    // Data the system still holds may fail to reach the disk only at the close.
    bool closed = CloseHandle(file) != 0;
    return written && closed ? 1 : 0;
}

// The folder part of a file name, for a temporary file beside it: up to and including the last
// separator, or the current folder.
void FolderOf(const char *fileName, char *folder, size_t size) {
    const char *end = nullptr;
    for (const char *p = fileName; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':') end = p + 1;
    if (!end) {
        strncpy(folder, ".", size);
        return;
    }
    size_t n = size_t(end - fileName);
    if (n >= size) n = size - 1;
    memcpy(folder, fileName, n);
    folder[n] = 0;
}

// The pixel rows of an image the library made as a 24-bit bottom-up section of exactly that size
// and row length, or null for any other image. The padding at the end of each row, which no drawing
// touches, is cleared so that a file written from the rows holds zeros there.
uint8_t *SectionRows24(const ImageObject &image, int32_t width, int32_t height, int64_t stride) {
    DIBSECTION section{};
    if (!image.bottomUpSection) return nullptr;
    if (GetObjectA(image.handle, sizeof section, &section) != sizeof section) return nullptr;
    const BITMAPINFOHEADER &h = section.dsBmih;
    if (!section.dsBm.bmBits || h.biBitCount != 24 || h.biCompression != BI_RGB ||
        h.biWidth != width || std::abs(h.biHeight) != height || section.dsBm.bmWidthBytes != stride)
        return nullptr;
    GdiFlush(); // drawing the system still holds back must reach the pixels first
    auto *rows = static_cast<uint8_t *>(section.dsBm.bmBits);
    int64_t used = int64_t(width) * 3;
    if (used != stride)
        for (int32_t y = 0; y < height; y++)
            memset(rows + y * stride + used, 0, size_t(stride - used));
    return rows;
}

} // namespace

void ImageEncoderRegister(const ImageEncoder *encoder) {
    if (!encoder || EncoderCount >= EncoderTableSize) return;
    Encoders[EncoderCount++] = encoder;
}

int32_t ImageEncode(const char *fileName, const uint8_t *pixels, int32_t formatId, int32_t width,
                    int32_t height, int32_t stride, int32_t quality) {
    const ImageEncoder *encoder = EncoderFor(formatId);
    if (!encoder) return 0;
    return encoder->Encode(fileName, pixels, width, height, stride, quality);
}

int32_t ImageSave(ObjectId id, const char *fileName, int32_t formatId, int32_t quality) {
    ImageObject *record = ImageRecord(id);
    if (!record || !fileName) return 0;
    if (formatId != ImageFormatBmp && !EncoderFor(formatId)) return 0;

    // The system's own size, not the record's 16-bit copy.
    BITMAP bitmap{};
    if (GetObjectType(record->handle) != OBJ_BITMAP ||
        !GetObjectA(record->handle, sizeof bitmap, &bitmap))
        return 0;
    int32_t width = bitmap.bmWidth;
    int32_t height = std::abs(bitmap.bmHeight);
    if (width < 1 || height < 1) return 0;
    int64_t stride = int64_t(width) * 3 + width % 4;
    uint64_t blockSize = uint64_t(height + 1) * uint64_t(stride);
    if (blockSize > UINT32_MAX || blockSize > SIZE_MAX) return 0;

    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height; // bottom-up
    header.biPlanes = bitmap.bmPlanes;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = DWORD(stride * height);

    // A 24-bit bottom-up section already holds the rows as they are written: no copy is made.
    uint8_t *rows = SectionRows24(*record, width, height, stride);
    // Otherwise a zero-filled block, so the padding at the end of each row is written as zeros.
    uint8_t *block = nullptr;
    if (!rows) {
        block = static_cast<uint8_t *>(MemoryAlloc(size_t(blockSize)));
        if (!block) return 0;
        MemoryDc memory;
        if (memory.dc &&
            GetDIBits(memory.dc, static_cast<HBITMAP>(record->handle), 0, UINT(height), block,
                      reinterpret_cast<BITMAPINFO *>(&header), DIB_RGB_COLORS) == height)
            rows = block;
    }
    int32_t result = 0;
    if (rows) {
        // The system may have rewritten fields of the header; the file gets the plain ones.
        header.biSize = sizeof header;
        header.biCompression = BI_RGB;
        header.biSizeImage = DWORD(stride * height);
        header.biXPelsPerMeter = header.biYPelsPerMeter = 0;
        header.biClrUsed = header.biClrImportant = 0;

        // The picture goes to a temporary file beside the final one and replaces it only when
        // complete: a failed write must neither destroy an existing file nor leave a
        // half-written one under the final name.
        char folder[MAX_PATH];
        char temporary[MAX_PATH];
        FolderOf(fileName, folder, sizeof folder);
        if (GetTempFileNameA(folder, "sht", 0, temporary)) {
            result = formatId == ImageFormatBmp ? BmpWrite(temporary, header, rows)
                                                : ImageEncode(temporary, rows, formatId, width,
                                                              height, int32_t(stride), quality);
            result = result ? 1 : 0;
            if (result && !MoveFileExA(temporary, fileName, MOVEFILE_REPLACE_EXISTING)) result = 0;
            if (!result) DeleteFileA(temporary);
        }
    }
    if (block) MemoryFree(block);
    return result;
}
