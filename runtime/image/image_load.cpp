#include "runtime/image/image_load.h"

#include "runtime/image/bmp_check.h"
#include "runtime/image/bmp_read.h"
#include "runtime/image/gdi_guards.h"
#include "runtime/memory/memory.h"
#include "runtime/system/system.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t DecoderListSize = 100;
constexpr UINT BitmapLoadFlags = LR_LOADFROMFILE | LR_CREATEDIBSECTION;

// The decoders in registration order, and the chain's state for one load.
const ImageDecoder *Decoders[DecoderListSize];
int32_t DecoderCount;
const ImageDecoder *CurrentDecoder;
FILE *ChainFile; // the file the chain opened for the accepting decoder; null otherwise

ImageLoadFailure LastFailure;

// The section a number held from its last load, taken off it when the number is loaded again:
// a batch loads strip after strip of one size into one number, and a new section costs fresh
// memory (under Wine a page fault for every 4 KB, a third of a medium strip's load). It is filled
// again only by a picture of the same size, depth and row order, and deleted at the end of the
// load otherwise.
struct SpareSection {
    HBITMAP bitmap;
    void *bits;
    int32_t width;
    int32_t height;
    int32_t bitCount;
    uint8_t rows; // LoadedBottomUp or LoadedTopDown
};
SpareSection Spare;
uint8_t MadeSection; // what kind of section this load made, for the record

// Larger sections are freed as before: kept until the next picture's size is known, they would
// add to the most memory a load takes, which a 32-bit program needs for the largest pictures.
constexpr int64_t SpareMaxBytes = int64_t(sizeof(void *) == 8 ? 256 : 16) << 20;

void KeepSpare(ObjectId id) {
    const ImageObject *record = id == AutoNumber ? nullptr : ImageRecord(id);
    if (!record || !record->loadedSection) return;
    uint8_t rows = record->loadedSection;
    DIBSECTION section{};
    if (GetObjectA(record->handle, sizeof section, &section) != sizeof section ||
        !section.dsBm.bmBits ||
        int64_t(section.dsBm.bmWidthBytes) * std::abs(section.dsBm.bmHeight) > SpareMaxBytes)
        return;
    HBITMAP bitmap = ImageTakeBitmap(id);
    if (!bitmap) return;
    Spare = SpareSection{bitmap,
                         section.dsBm.bmBits,
                         section.dsBm.bmWidth,
                         std::abs(section.dsBm.bmHeight),
                         section.dsBm.bmBitsPixel,
                         rows};
}

void DropSpare() {
    if (Spare.bitmap) DeleteObject(Spare.bitmap);
    Spare = SpareSection{};
}

// The spare section when it fits the picture, else a new section; null when none can be made.
// `format` gives a section a colour table or bit masks of its own: such a section is made anew
// each time and never kept as the spare.
HBITMAP LoadSection(int32_t width, int32_t height, int32_t bitCount, uint8_t rows, void **pixels,
                    const BITMAPINFO *format = nullptr) {
    MadeSection = format ? 0 : rows;
    if (!format && Spare.bitmap && Spare.width == width && Spare.height == height &&
        Spare.bitCount == bitCount && Spare.rows == rows) {
        HBITMAP bitmap = Spare.bitmap;
        *pixels = Spare.bits;
        Spare = SpareSection{};
        return bitmap;
    }
    DropSpare(); // before the new section is asked for
    HDC display = ImageDisplayDc();
    if (!display) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = rows == LoadedTopDown ? -height : height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = WORD(bitCount);
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(display, format ? format : &info, DIB_RGB_COLORS, pixels, nullptr, 0);
}

// A file up to this size is read whole with its first read and decoded from memory: under Wine
// every open of a file costs tens of microseconds, as much as decoding a small strip.
constexpr size_t WholeFileBytes = 64 * 1024;
static_assert(WholeFileBytes >= BmpHeadBytes, "the start read must hold a bitmap file's headers");
uint8_t FileStart[WholeFileBytes];

void CloseOpenFile() {
    if (ChainFile) fclose(ChainFile);
    ChainFile = nullptr;
}

BITMAP Describe(HGDIOBJ bitmap) {
    BITMAP info{};
    if (!GetObjectA(bitmap, sizeof info, &info)) info = BITMAP{};
    return info;
}

bool Fits(const BITMAP &info) {
    return ImageSizeFits(info.bmWidth, std::abs(info.bmHeight));
}

// Opens the file and reads its start: all of it when it fits FileStart, else enough for a bitmap
// file's headers. Others may go on reading the file meanwhile (a preview pane, a virus scanner or
// a sync client often has it open), but nobody may write it. The handle stays open for the
// decoders; null when the file cannot be opened or read.
HANDLE OpenAndReadStart(const char *fileName, size_t *startSize, uint64_t *fileSize) {
    HANDLE file =
        CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size{};
    DWORD read = 0;
    DWORD want = DWORD(BmpHeadBytes);
    if (GetFileSizeEx(file, &size) && uint64_t(size.QuadPart) <= WholeFileBytes)
        want = DWORD(WholeFileBytes);
    if (size.QuadPart < 0 || !ReadFile(file, FileStart, want, &read, nullptr)) {
        CloseHandle(file);
        return nullptr;
    }
    *startSize = read;
    *fileSize = uint64_t(size.QuadPart) < read ? read : uint64_t(size.QuadPart);
    return file;
}

// Icon and cursor files begin with a directory (reserved 0, type 1 or 2), animated cursors with
// "RIFF". Nothing else is worth the system icon loader's time (milliseconds under Wine, for every
// PNG and JPEG strip).
bool MayBeIconFile(const uint8_t *head, size_t headSize) {
    if (headSize < 4) return false;
    if (memcmp(head, "RIFF", 4) == 0) return true;
    return head[0] == 0 && head[1] == 0 && (head[2] == 1 || head[2] == 2) && head[3] == 0;
}

// The system loader reads wherever a bitmap file's headers point: only a file whose headers and
// size agree, and whose picture fits an image, is handed to it. One it then refuses all the
// same could not be given memory.
ImageLoadFailure CheckBitmapFile(const uint8_t *head, size_t headSize, uint64_t fileSize,
                                 int32_t flags, BmpLayout *layout) {
    switch (BmpCheckFile(head, headSize, fileSize, layout)) {
    case BmpCheck::NotABitmap:
        return ImageLoadFailure::NotAnImage;
    case BmpCheck::CutShort:
        return ImageLoadFailure::Damaged;
    case BmpCheck::Valid:
        break;
    }
    // A palette picture, and one asked for as a display-compatible bitmap, is held to its size at
    // 32 bits a pixel, which such a bitmap takes.
    bool display = layout->bitsPerPixel <= 8 || (flags & ImageDisplayFormat);
    int32_t bits = display ? 32 : layout->bitsPerPixel;
    if (!ImageBytesFit(layout->width, layout->height, bits)) return ImageLoadFailure::TooLarge;
    return ImageLoadFailure::None;
}

// A display-compatible bitmap holding the section's picture; the section is deleted either way.
HBITMAP DisplayCopy(HBITMAP section, int32_t width, int32_t height) {
    HDC display = ImageDisplayDc();
    HBITMAP bitmap = display ? CreateCompatibleBitmap(display, width, height) : nullptr;
    bool copied = false;
    {
        MemoryDc from;
        MemoryDc to;
        copied = bitmap && from.dc && to.dc && SelectObject(from.dc, section) &&
                 SelectObject(to.dc, bitmap) &&
                 BitBlt(to.dc, 0, 0, width, height, from.dc, 0, 0, SRCCOPY);
    }
    DeleteObject(section);
    if (!copied && bitmap) DeleteObject(bitmap);
    return copied ? bitmap : nullptr;
}

// The section the system loader makes of an uncompressed file: bottom-up whatever the file's row
// order, with the file's depth, colour table and bit masks (bmp_read.h). The headers are in
// `head`; the rows come from `whole` when the whole file was read, else from `file`. A file that
// ends before its last row is damaged. With ImageDisplayFormat in `flags` the picture is then
// copied into a display-compatible bitmap.
HBITMAP SectionFromRows(const BmpLayout &layout, const uint8_t *head, const uint8_t *whole,
                        HANDLE file, int32_t flags, ImageLoadFailure *why) {
    void *pixels = nullptr;
    BmpSectionFormat own;
    const BITMAPINFO *format = BmpFileFormat(layout, head, &own);
    bool display = flags & ImageDisplayFormat;
    if (display) DropSpare(); // the section lives only until its copy is made
    HBITMAP bitmap = LoadSection(layout.width, layout.height, layout.bitsPerPixel, LoadedBottomUp,
                                 &pixels, format);
    if (!bitmap || !pixels) {
        if (bitmap) DeleteObject(bitmap);
        *why = ImageLoadFailure::NoBitmap;
        return nullptr;
    }
    if (!BmpReadRows(layout, whole, file, static_cast<uint8_t *>(pixels))) {
        DeleteObject(bitmap);
        *why = ImageLoadFailure::Damaged;
        return nullptr;
    }
    if (!display) return bitmap;
    MadeSection = 0;
    bitmap = DisplayCopy(bitmap, layout.width, layout.height);
    if (!bitmap) *why = ImageLoadFailure::NoBitmap;
    return bitmap;
}

HBITMAP LoadBitmapFile(const char *fileName, int32_t flags, BITMAP *info) {
    bool display = flags & ImageDisplayFormat;
    auto bitmap = static_cast<HBITMAP>(LoadImageA(ModuleHandle, fileName, IMAGE_BITMAP, 0, 0,
                                                  display ? LR_LOADFROMFILE : BitmapLoadFlags));
    if (!bitmap) return nullptr;
    *info = Describe(bitmap);
    if (!display && info->bmBitsPixel <= 8) {
        // Palette pictures are kept as display-compatible bitmaps rather than palette sections.
        DeleteObject(bitmap);
        bitmap = static_cast<HBITMAP>(
            LoadImageA(ModuleHandle, fileName, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
        if (!bitmap) return nullptr;
        *info = Describe(bitmap);
    }
    return bitmap;
}

// The icon's size and depth come from its colour bitmap; a monochrome icon has only its mask,
// which holds the AND and XOR halves one above the other.
bool DescribeIcon(HICON icon, BITMAP *info) {
    ICONINFO parts{};
    if (!GetIconInfo(icon, &parts)) return false;
    if (parts.hbmColor) {
        *info = Describe(parts.hbmColor);
    } else {
        *info = Describe(parts.hbmMask);
        info->bmHeight /= 2;
    }
    if (parts.hbmColor) DeleteObject(parts.hbmColor);
    if (parts.hbmMask) DeleteObject(parts.hbmMask);
    return info->bmWidth > 0;
}

// Offers the open file to each decoder from its start; the file is kept for the accepting one and
// closed when none accepts it.
int32_t FindForFile(FILE *file, intptr_t name) {
    ChainFile = file;
    if (!ChainFile) return 0;
    for (int32_t i = 0; i < DecoderCount; i++) {
        fseek(ChainFile, 0, SEEK_SET);
        int32_t kind = Decoders[i]->Open(ChainFile, nullptr, name);
        if (kind) {
            CurrentDecoder = Decoders[i];
            return kind;
        }
    }
    CloseOpenFile();
    return 0;
}

intptr_t LoadFailed(ObjectId id, void *record, ImageLoadFailure why) {
    // A dynamic record whose id is never handed out must not stay in the registry.
    if (id == AutoNumber && record) RegistryFree(ImageRegistry, reinterpret_cast<ObjectId>(record));
    LastFailure = why;
    return 0;
}

} // namespace

void ImageDecoderListReset() {
    DecoderCount = 0;
    CurrentDecoder = nullptr;
    CloseOpenFile();
}

void ImageDecoderRegister(const ImageDecoder *decoder) {
    if (!decoder || DecoderCount >= DecoderListSize) return;
    Decoders[DecoderCount++] = decoder;
}

int32_t ImageDecoderFind(intptr_t nameOrSize, const void *memory) {
    CloseOpenFile();
    if (memory) {
        for (int32_t i = 0; i < DecoderCount; i++) {
            int32_t kind = Decoders[i]->Open(nullptr, memory, nameOrSize);
            if (kind) {
                CurrentDecoder = Decoders[i];
                return kind;
            }
        }
        return 0;
    }
    auto *name = reinterpret_cast<const char *>(nameOrSize);
    if (!name) return 0;
    return FindForFile(fopen(name, "rb"), nameOrSize);
}

HBITMAP ImageBitmapFromDecoder(int32_t kind, int32_t flags) {
    const ImageDecoder *decoder = CurrentDecoder;
    if (!decoder) return nullptr;
    int32_t width = decoder->Width();
    int32_t height = decoder->Height();
    int32_t stride = 0;
    bool compatible = flags & ImageDisplayFormat;

    struct {
        BITMAPINFOHEADER header;
        RGBQUAD unused;
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height; // top-down, as the decoders deliver the rows
    info.header.biPlanes = 1;
    info.header.biBitCount = kind == 2 ? 32 : 24;
    info.header.biCompression = BI_RGB;
    auto *bitmapInfo = reinterpret_cast<BITMAPINFO *>(&info);

    // Whatever goes wrong is kept in `why`; the one way out below releases what was made.
    ImageLoadFailure why = ImageLoadFailure::None;
    HBITMAP bitmap = nullptr;
    void *pixels = nullptr;
    HDC display = ImageDisplayDc();
    if (!ImageBytesFit(width, height, info.header.biBitCount)) {
        why = ImageLoadFailure::TooLarge; // refused before any memory is asked for
    } else if (!display) {
        why = ImageLoadFailure::NoBitmap;
    } else {
        stride = int32_t(BitmapRowBytes(width, info.header.biBitCount));
        if (compatible) {
            DropSpare(); // before the picture's memory is asked for
            pixels = MemoryAlloc((size_t(height) + 1) * size_t(stride));
        } else {
            bitmap = LoadSection(width, height, info.header.biBitCount, LoadedTopDown, &pixels);
        }
        if (!pixels) why = ImageLoadFailure::NoBitmap;
    }

    // A picture the decoder could not finish is refused: its missing rows would hold whatever
    // the new memory held, and a sheet made from it would be reported as converted.
    if (why == ImageLoadFailure::None) {
        if (!decoder->Decode(static_cast<uint8_t *>(pixels), stride))
            why = ImageLoadFailure::Damaged;
    } else {
        decoder->Drop();
    }
    CloseOpenFile();

    if (compatible && why == ImageLoadFailure::None) {
        bitmap = CreateCompatibleBitmap(display, width, height);
        MemoryDc memory;
        if (!bitmap || !memory.dc ||
            SetDIBits(memory.dc, bitmap, 0, UINT(height), pixels, bitmapInfo, DIB_RGB_COLORS) !=
                height)
            why = ImageLoadFailure::NoBitmap;
    }
    if (compatible) MemoryFree(pixels);
    if (why != ImageLoadFailure::None) {
        if (bitmap) DeleteObject(bitmap);
        LastFailure = why;
        return nullptr;
    }
    return bitmap;
}

intptr_t ImageLoad(ObjectId id, const char *fileName, int32_t flags) {
    LastFailure = ImageLoadFailure::None;
    MadeSection = 0;
    if (!ImageRegistry) return LoadFailed(id, nullptr, ImageLoadFailure::NoBitmap);
    KeepSpare(id);
    // The spare section goes on every way out unless this load filled it.
    struct SpareDrop {
        ~SpareDrop() { DropSpare(); }
    } spareDrop;
    auto *record = static_cast<ImageObject *>(RegistryAllocate(ImageRegistry, id));
    if (!record) return LoadFailed(id, nullptr, ImageLoadFailure::NoBitmap);
    if (!fileName) return LoadFailed(id, record, ImageLoadFailure::Unreadable);

    size_t startSize = 0;
    uint64_t fileSize = 0;
    HANDLE file = OpenAndReadStart(fileName, &startSize, &fileSize);
    if (!file) return LoadFailed(id, record, ImageLoadFailure::Unreadable);
    const uint8_t *head = FileStart;

    // The system loaders open the file themselves; a small file is decoded from FileStart. A
    // larger bitmap file stays open until it is known whether its rows are read here.
    bool bitmapFile = startSize >= 2 && head[0] == 'B' && head[1] == 'M';
    bool iconFile = MayBeIconFile(head, startSize);
    bool inMemory = startSize == fileSize;
    if (iconFile || inMemory) {
        CloseHandle(file);
        file = nullptr;
    }

    HANDLE handle = nullptr;
    BITMAP info{};
    if (bitmapFile) {
        // A bitmap file is not offered to the decoders, whatever becomes of it.
        BmpLayout layout{};
        ImageLoadFailure why = CheckBitmapFile(head, startSize, fileSize, flags, &layout);
        HBITMAP bitmap = nullptr;
        if (why == ImageLoadFailure::None && BmpRowsReadHere(layout))
            bitmap =
                SectionFromRows(layout, head, inMemory ? FileStart : nullptr, file, flags, &why);
        if (file) CloseHandle(file); // the system loader opens the file itself
        if (why != ImageLoadFailure::None) return LoadFailed(id, record, why);
        if (bitmap) {
            info = Describe(bitmap);
        } else {
            DropSpare();
            bitmap = LoadBitmapFile(fileName, flags, &info);
            if (!bitmap) return LoadFailed(id, record, ImageLoadFailure::NoBitmap);
        }
        handle = bitmap;
    } else if (HANDLE icon =
                   iconFile ? LoadImageA(ModuleHandle, fileName, IMAGE_ICON, 0, 0, LR_LOADFROMFILE)
                            : nullptr) {
        handle = icon;
        if (!DescribeIcon(static_cast<HICON>(icon), &info)) {
            DestroyIcon(static_cast<HICON>(icon));
            return LoadFailed(id, record, ImageLoadFailure::NotAnImage);
        }
    } else {
        int32_t kind = 0;
        if (inMemory) {
            kind = ImageDecoderFind(intptr_t(startSize), FileStart);
        } else if (file) {
            CloseOpenFile();
            // The decoders read the file through the handle that read its start: no second open.
            kind = FindForFile(FileStreamOf(file, false), reinterpret_cast<intptr_t>(fileName));
        } else {
            kind = ImageDecoderFind(reinterpret_cast<intptr_t>(fileName), nullptr);
        }
        if (!kind) return LoadFailed(id, record, ImageLoadFailure::NotAnImage);
        HBITMAP bitmap = ImageBitmapFromDecoder(kind, flags);
        if (!bitmap) return LoadFailed(id, record, LastFailure);
        handle = bitmap;
        info = Describe(bitmap);
    }

    if (!Fits(info)) {
        if (GetObjectType(handle) == OBJ_BITMAP) {
            DeleteObject(handle);
        } else {
            DestroyIcon(static_cast<HICON>(handle));
        }
        return LoadFailed(id, record, ImageLoadFailure::TooLarge);
    }
    record->handle = handle;
    record->width = static_cast<int16_t>(info.bmWidth);
    record->height = static_cast<int16_t>(std::abs(info.bmHeight));
    record->depth = static_cast<int8_t>(info.bmBitsPixel);
    record->flags = static_cast<uint8_t>(flags & 0xFF);
    record->loadedSection = MadeSection;
    return id == AutoNumber ? reinterpret_cast<intptr_t>(record)
                            : reinterpret_cast<intptr_t>(handle);
}

ImageLoadFailure ImageLastLoadFailure() {
    return LastFailure;
}
