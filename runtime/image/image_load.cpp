#include "runtime/image/image_load.h"

#include "runtime/memory/memory.h"

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

void CloseOpenFile() {
    if (ChainFile) fclose(ChainFile);
    ChainFile = nullptr;
}

// Bytes of one decoded row: 3 a pixel rounded up to whole 32-bit words, or 4 a pixel.
int64_t DecodedStride(int32_t kind, int32_t width) {
    return kind == 2 ? int64_t(width) * 4 : int64_t(width) * 3 + width % 4;
}

// The decoder record has no routine that drops an opened picture, and Decode is the one that
// releases it. So decode into a single scratch row that every row overwrites (stride 0), after
// moving the file to its end, so that a decoder still reading from the file stops at its first
// read instead of going through a picture nobody wants.
void DiscardOpenedPicture(int32_t kind) {
    if (!CurrentDecoder) return;
    if (ChainFile) fseek(ChainFile, 0, SEEK_END);
    constexpr int64_t ScratchLimit = int64_t(64) << 20;
    int64_t row = DecodedStride(kind, CurrentDecoder->Width());
    if (row >= 0 && row <= ScratchLimit) {
        // A spare word: a decoder may touch a few bytes beyond a row's last pixel.
        void *scratch = MemoryAlloc(size_t(row) + 16);
        if (scratch) {
            CurrentDecoder->Decode(static_cast<uint8_t *>(scratch), 0);
            MemoryFree(scratch);
        }
    }
    CloseOpenFile();
}

BITMAP Describe(HGDIOBJ bitmap) {
    BITMAP info{};
    if (!GetObjectA(bitmap, sizeof info, &info)) info = BITMAP{};
    return info;
}

bool Fits(const BITMAP &info) {
    return ImageSizeFits(info.bmWidth, std::abs(info.bmHeight));
}

// The first four bytes of the file, read without letting anyone else have it meanwhile; `read`
// says how many there were. False when the file cannot be opened.
bool ReadSignature(const char *fileName, unsigned char signature[4], DWORD *read) {
    HANDLE file = CreateFileA(fileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (!ReadFile(file, signature, 4, read, nullptr)) *read = 0;
    CloseHandle(file);
    return true;
}

// Icon and cursor files begin with a directory (reserved 0, type 1 or 2), animated cursors with
// "RIFF". Nothing else is worth the system icon loader's time (milliseconds under Wine, for every
// PNG and JPEG strip).
bool MayBeIconFile(const unsigned char signature[4], DWORD read) {
    if (read < 4) return false;
    if (memcmp(signature, "RIFF", 4) == 0) return true;
    return signature[0] == 0 && signature[1] == 0 && (signature[2] == 1 || signature[2] == 2) &&
           signature[3] == 0;
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
    ChainFile = fopen(name, "rb");
    if (!ChainFile) return 0;
    for (int32_t i = 0; i < DecoderCount; i++) {
        fseek(ChainFile, 0, SEEK_SET);
        int32_t kind = Decoders[i]->Open(ChainFile, nullptr, nameOrSize);
        if (kind) {
            CurrentDecoder = Decoders[i];
            return kind;
        }
    }
    CloseOpenFile();
    return 0;
}

HBITMAP ImageBitmapFromDecoder(int32_t kind, int32_t flags) {
    if (!CurrentDecoder) return nullptr;
    int32_t width = CurrentDecoder->Width();
    int32_t height = CurrentDecoder->Height();
    if (!ImageSizeFits(width, height)) {
        DiscardOpenedPicture(kind);
        LastFailure = ImageLoadFailure::TooLarge;
        return nullptr;
    }
    int32_t stride = int32_t(DecodedStride(kind, width));

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

    HDC display = ImageDisplayDc();
    if (!display) {
        DiscardOpenedPicture(kind);
        LastFailure = ImageLoadFailure::NoBitmap;
        return nullptr;
    }
    bool compatible = flags & ImageDisplayFormat;
    HBITMAP bitmap = nullptr;
    void *pixels = nullptr;
    if (compatible) {
        pixels = MemoryAlloc((size_t(height) + 1) * size_t(stride));
    } else {
        bitmap = CreateDIBSection(display, bitmapInfo, DIB_RGB_COLORS, &pixels, nullptr, 0);
        if (!bitmap) pixels = nullptr;
    }
    if (!pixels) {
        DiscardOpenedPicture(kind);
        LastFailure = ImageLoadFailure::NoBitmap;
        return nullptr;
    }

    // A picture the decoder could not finish is refused: its missing rows would hold whatever
    // the new memory held, and a sheet made from it would be reported as converted.
    bool decoded = CurrentDecoder->Decode(static_cast<uint8_t *>(pixels), stride) != 0;
    CloseOpenFile();
    if (!decoded) {
        if (compatible)
            MemoryFree(pixels);
        else
            DeleteObject(bitmap);
        LastFailure = ImageLoadFailure::Damaged;
        return nullptr;
    }

    if (compatible) {
        bitmap = CreateCompatibleBitmap(display, width, height);
        if (bitmap) {
            HDC memory = CreateCompatibleDC(nullptr);
            bool copied = memory && SetDIBits(memory, bitmap, 0, UINT(height), pixels, bitmapInfo,
                                              DIB_RGB_COLORS) == height;
            if (memory) DeleteDC(memory);
            if (!copied) {
                DeleteObject(bitmap);
                bitmap = nullptr;
            }
        }
        MemoryFree(pixels);
    }
    if (!bitmap) LastFailure = ImageLoadFailure::NoBitmap;
    return bitmap;
}

intptr_t ImageLoad(ObjectId id, const char *fileName, int32_t flags) {
    LastFailure = ImageLoadFailure::None;
    if (!ImageRegistry) return LoadFailed(id, nullptr, ImageLoadFailure::NoBitmap);
    auto *record = static_cast<ImageObject *>(RegistryAllocate(ImageRegistry, id));
    if (!record) return LoadFailed(id, nullptr, ImageLoadFailure::NoBitmap);
    if (!fileName) return LoadFailed(id, record, ImageLoadFailure::Unreadable);

    unsigned char signature[4] = {0, 0, 0, 0};
    DWORD read = 0;
    if (!ReadSignature(fileName, signature, &read))
        return LoadFailed(id, record, ImageLoadFailure::Unreadable);
    bool complete = read >= 2;

    HANDLE handle = nullptr;
    BITMAP info{};
    if (complete && signature[0] == 'B' && signature[1] == 'M') {
        // A bitmap file the system refuses is not offered to the decoders.
        HBITMAP bitmap = LoadBitmapFile(fileName, flags, &info);
        if (!bitmap) return LoadFailed(id, record, ImageLoadFailure::NotAnImage);
        handle = bitmap;
    } else if (HANDLE icon =
                   MayBeIconFile(signature, read)
                       ? LoadImageA(ModuleHandle, fileName, IMAGE_ICON, 0, 0, LR_LOADFROMFILE)
                       : nullptr) {
        handle = icon;
        if (!DescribeIcon(static_cast<HICON>(icon), &info)) {
            DestroyIcon(static_cast<HICON>(icon));
            return LoadFailed(id, record, ImageLoadFailure::NotAnImage);
        }
    } else {
        int32_t kind = ImageDecoderFind(reinterpret_cast<intptr_t>(fileName), nullptr);
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
    return id == AutoNumber ? reinterpret_cast<intptr_t>(record)
                            : reinterpret_cast<intptr_t>(handle);
}

ImageLoadFailure ImageLastLoadFailure() {
    return LastFailure;
}
