#include "runtime/image/image_load.h"

#include "runtime/image/bmp_check.h"
#include "runtime/image/bmp_read.h"
#include "runtime/image/gdi_guards.h"
#include "runtime/image/load_job.h"
#include "runtime/memory/memory.h"
#include "runtime/system/system.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t DecoderListSize = 100;
constexpr UINT BitmapLoadFlags = LR_LOADFROMFILE | LR_CREATEDIBSECTION;

// The decoders in registration order; the workers read the list too.
const ImageDecoder *Decoders[DecoderListSize];
int32_t DecoderCount;

// The batch's thread's own: the last load's failure, the block its files are read into, and the
// chain ImageDecoderFind starts for ImageBitmapFromDecoder.
ImageLoadFailure LastFailure;
KeptBlock OwnBlock;
LoadJob Chain;

// Larger sections are freed as before: kept until the next picture's size is known, they would
// add to the most memory a load takes, which a 32-bit program needs for the largest pictures.
constexpr int64_t SpareMaxBytes = int64_t(sizeof(void *) == 8 ? 256 : 16) << 20;

} // namespace

// The section the number held from its last load, taken off it when the number is loaded again.
SpareSection TakeSpare(ObjectId id) {
    const ImageObject *record = id == AutoNumber ? nullptr : ImageRecord(id);
    if (!record || !record->loadedSection) return SpareSection{};
    uint8_t rows = record->loadedSection;
    DIBSECTION section{};
    if (GetObjectA(record->handle, sizeof section, &section) != sizeof section ||
        !section.dsBm.bmBits ||
        int64_t(section.dsBm.bmWidthBytes) * std::abs(section.dsBm.bmHeight) > SpareMaxBytes)
        return SpareSection{};
    HBITMAP bitmap = ImageTakeBitmap(id);
    if (!bitmap) return SpareSection{};
    return SpareSection{bitmap,
                        section.dsBm.bmBits,
                        section.dsBm.bmWidth,
                        std::abs(section.dsBm.bmHeight),
                        section.dsBm.bmBitsPixel,
                        rows};
}

namespace {

// The spare section when it fits the picture, else a new section; null when none can be made (or,
// off the batch's thread, when the picture is left to the batch's thread). `format` gives a
// section a colour table or bit masks of its own: such a section is made anew each time and never
// kept as the spare. A section needs no device context for its colours given as values: a
// reading ahead passes none.
HBITMAP LoadSection(LoadJob *job, int32_t width, int32_t height, int32_t bitCount, uint8_t rows,
                    void **pixels, const BITMAPINFO *format = nullptr) {
    job->madeSection = format ? 0 : rows;
    SpareSection &spare = job->spare;
    if (!format && spare.bitmap && spare.width == width && spare.height == height &&
        spare.bitCount == bitCount && spare.rows == rows) {
        HBITMAP bitmap = spare.bitmap;
        *pixels = spare.bits;
        spare = SpareSection{};
        return bitmap;
    }
    SpareSectionDrop(&spare); // before the new section is asked for
    if (!job->onBatchThread && BitmapRowBytes(width, bitCount) * height > LoadAheadMaxBytes) {
        job->leftToBatch = true;
        return nullptr;
    }
    HDC display = job->onBatchThread ? ImageDisplayDc() : nullptr;
    if (job->onBatchThread && !display) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = rows == LoadedTopDown ? -height : height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = WORD(bitCount);
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(display, format ? format : &info, DIB_RGB_COLORS, pixels, nullptr, 0);
}

static_assert(ImageWholeFileBytes >= BmpHeadBytes, "the first read must hold a file's headers");
// The block is kept for the next file up to this size, freed after the load beyond it.
constexpr size_t KeptBlockBytes = size_t(sizeof(void *) == 8 ? 16 : 4) << 20;

// A block of at least `size` bytes, the kept one when it is large enough; null when there is no
// memory for it.
uint8_t *BlockOf(KeptBlock *block, size_t size) {
    // A quarter more than this file, within the kept size: strips of one batch differ a little in
    // their files' sizes, and a block made anew for each larger one is fresh memory each time. One
    // byte more, so that an empty file has a block.
    size_t extra = 1;
    if (size <= KeptBlockBytes)
        extra += size / 4 < KeptBlockBytes - size ? size / 4 : KeptBlockBytes - size;
    return KeptBlockOf(block, size, extra);
}

void CloseStream(LoadJob *job) {
    if (job->stream) fclose(job->stream);
    job->stream = nullptr;
}

BITMAP Describe(HGDIOBJ bitmap) {
    BITMAP info{};
    if (!GetObjectA(bitmap, sizeof info, &info)) info = BITMAP{};
    return info;
}

bool Fits(const BITMAP &info) {
    return ImageSizeFits(info.bmWidth, std::abs(info.bmHeight));
}

// Opens the file and reads it into the job's block: all of it when it is at most
// ImageWholeFileBytes, else enough for a bitmap file's headers. Others may go on reading the file
// meanwhile (a preview pane, a virus scanner or a sync client often has it open), but nobody may
// write it. The handle stays open; null when the file cannot be opened or read, or no block can be
// had for it.
HANDLE OpenAndRead(LoadJob *job, size_t *readSize, uint64_t *fileSize) {
    HANDLE file = CreateFileA(job->fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size{};
    DWORD read = 0;
    // The file's size as the system gives it, checked before any memory is asked for it.
    size_t want = BmpHeadBytes;
    if (GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
        uint64_t(size.QuadPart) <= ImageWholeFileBytes)
        want = size_t(size.QuadPart);
    uint8_t *into = size.QuadPart < 0 ? nullptr : BlockOf(job->block, want);
    if (!into || !ReadFile(file, into, DWORD(want), &read, nullptr)) {
        CloseHandle(file);
        return nullptr;
    }
    *readSize = read;
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
// ends before its last row is damaged. With ImageDisplayFormat in the job's flags the picture is
// then copied into a display-compatible bitmap.
HBITMAP SectionFromRows(LoadJob *job, const BmpLayout &layout, const uint8_t *head,
                        const uint8_t *whole, HANDLE file) {
    void *pixels = nullptr;
    BmpSectionFormat own;
    const BITMAPINFO *format = BmpFileFormat(layout, head, &own);
    bool display = job->flags & ImageDisplayFormat;
    if (display) SpareSectionDrop(&job->spare); // the section lives only until its copy is made
    HBITMAP bitmap = LoadSection(job, layout.width, layout.height, layout.bitsPerPixel,
                                 LoadedBottomUp, &pixels, format);
    if (!bitmap || !pixels) {
        if (bitmap) DeleteObject(bitmap);
        job->why = ImageLoadFailure::NoBitmap;
        return nullptr;
    }
    if (!BmpReadRows(layout, whole, file, static_cast<uint8_t *>(pixels))) {
        DeleteObject(bitmap);
        job->why = ImageLoadFailure::Damaged;
        return nullptr;
    }
    if (!display) return bitmap;
    job->madeSection = 0;
    bitmap = DisplayCopy(bitmap, layout.width, layout.height);
    if (!bitmap) job->why = ImageLoadFailure::NoBitmap;
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

// The first decoder that accepts the data becomes the job's; its Open result (1 or 2), or 0.
int32_t FindInMemory(LoadJob *job, const void *memory, intptr_t size) {
    for (int32_t i = 0; i < DecoderCount; i++) {
        int32_t kind = Decoders[i]->Open(&job->picture, nullptr, memory, size);
        if (kind) {
            job->decoder = Decoders[i];
            return kind;
        }
    }
    return 0;
}

// Offers the open file to each decoder from its start; the file is kept for the accepting one and
// closed when none accepts it.
int32_t FindForFile(LoadJob *job, FILE *file, intptr_t name) {
    job->stream = file;
    if (!file) return 0;
    for (int32_t i = 0; i < DecoderCount; i++) {
        fseek(file, 0, SEEK_SET);
        int32_t kind = Decoders[i]->Open(&job->picture, file, nullptr, name);
        if (kind) {
            job->decoder = Decoders[i];
            return kind;
        }
    }
    CloseStream(job);
    return 0;
}

// A bitmap holding the picture the job's decoder opened: a top-down section of 24 bits (kind 1)
// or 32 bits (kind 2), or a display-compatible bitmap when the flags have ImageDisplayFormat.
// Null when none can be made (`job->why` says why); the opened picture and its file are released
// in every case.
HBITMAP BitmapFromDecoder(LoadJob *job, int32_t kind) {
    const ImageDecoder *decoder = job->decoder;
    job->decoder = nullptr;
    if (!decoder) return nullptr;
    int32_t width = job->picture.width;
    int32_t height = job->picture.height;
    int32_t stride = 0;
    bool compatible = job->flags & ImageDisplayFormat;

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
    if (!ImageBytesFit(width, height, info.header.biBitCount)) {
        why = ImageLoadFailure::TooLarge; // refused before any memory is asked for
    } else if (job->onBatchThread && !ImageDisplayDc()) {
        why = ImageLoadFailure::NoBitmap;
    } else {
        stride = int32_t(BitmapRowBytes(width, info.header.biBitCount));
        if (compatible) {
            SpareSectionDrop(&job->spare); // before the picture's memory is asked for
            pixels = MemoryAlloc((size_t(height) + 1) * size_t(stride));
        } else {
            bitmap =
                LoadSection(job, width, height, info.header.biBitCount, LoadedTopDown, &pixels);
        }
        if (!pixels) why = ImageLoadFailure::NoBitmap;
    }

    // A picture the decoder could not finish is refused: its missing rows would hold whatever
    // the new memory held, and a sheet made from it would be reported as converted.
    if (why == ImageLoadFailure::None) {
        if (!decoder->Decode(&job->picture, static_cast<uint8_t *>(pixels), stride))
            why = ImageLoadFailure::Damaged;
    } else {
        decoder->Drop(&job->picture);
    }
    CloseStream(job);

    if (compatible && why == ImageLoadFailure::None) {
        bitmap = CreateCompatibleBitmap(ImageDisplayDc(), width, height);
        MemoryDc memory;
        if (!bitmap || !memory.dc ||
            SetDIBits(memory.dc, bitmap, 0, UINT(height), pixels, bitmapInfo, DIB_RGB_COLORS) !=
                height)
            why = ImageLoadFailure::NoBitmap;
    }
    if (compatible) MemoryFree(pixels);
    if (why != ImageLoadFailure::None) {
        if (bitmap) DeleteObject(bitmap);
        job->why = why;
        return nullptr;
    }
    return bitmap;
}

// A bitmap file: its rows read here or, on the batch's thread, by the system's loader. It is not
// offered to the decoders, whatever becomes of it.
HANDLE LoadBitmapFileOf(LoadJob *job, const uint8_t *head, size_t readSize, uint64_t fileSize,
                        bool inMemory, HANDLE file) {
    BmpLayout layout{};
    job->why = CheckBitmapFile(head, readSize, fileSize, job->flags, &layout);
    bool rowsHere = job->why == ImageLoadFailure::None && BmpRowsReadHere(layout);
    HBITMAP bitmap = nullptr;
    if (rowsHere) {
        bitmap = SectionFromRows(job, layout, head, inMemory ? head : nullptr, file);
    } else if (job->why == ImageLoadFailure::None && !job->onBatchThread) {
        job->leftToBatch = true;
    }
    if (file) CloseHandle(file); // the system loader opens the file itself
    if (job->why != ImageLoadFailure::None || job->leftToBatch || bitmap) return bitmap;
    SpareSectionDrop(&job->spare);
    BITMAP info{};
    bitmap = LoadBitmapFile(job->fileName, job->flags, &info);
    if (!bitmap) job->why = ImageLoadFailure::NoBitmap;
    return bitmap;
}

intptr_t LoadFailed(ObjectId id, void *record, ImageLoadFailure why) {
    // A dynamic record whose id is never handed out must not stay in the registry.
    if (id == AutoNumber && record) RegistryFree(ImageRegistry, reinterpret_cast<ObjectId>(record));
    LastFailure = why;
    return 0;
}

} // namespace

void SpareSectionDrop(SpareSection *spare) {
    if (spare->bitmap) DeleteObject(spare->bitmap);
    *spare = SpareSection{};
}

KeptBlock *BatchBlock() {
    return &OwnBlock;
}

void BatchBlockRelease() {
    KeptBlockTrim(&OwnBlock);
}

void LoadPictureFile(LoadJob *job) {
    job->handle = nullptr;
    job->madeSection = 0;
    job->why = ImageLoadFailure::None;
    job->leftToBatch = false;
    // The spare section goes on every way out unless this load filled it, and a block larger
    // than the kept size with it.
    struct Tidy {
        LoadJob *job;
        ~Tidy() {
            SpareSectionDrop(&job->spare);
            KeptBlockTrim(job->block, KeptBlockBytes);
        }
    } tidy{job};

    size_t readSize = 0;
    uint64_t fileSize = 0;
    HANDLE file = OpenAndRead(job, &readSize, &fileSize);
    if (!file) {
        job->why = ImageLoadFailure::Unreadable;
        return;
    }
    const uint8_t *head = job->block->data;

    // The system loaders open the file themselves; a file read whole is decoded from the block. A
    // larger bitmap file stays open until it is known whether its rows are read here.
    bool bitmapFile = readSize >= 2 && head[0] == 'B' && head[1] == 'M';
    bool iconFile = MayBeIconFile(head, readSize);
    bool inMemory = readSize == fileSize;
    if (iconFile || inMemory) {
        CloseHandle(file);
        file = nullptr;
    }
    if (bitmapFile) {
        job->handle = LoadBitmapFileOf(job, head, readSize, fileSize, inMemory, file);
        return;
    }
    if (iconFile && !job->onBatchThread) {
        job->leftToBatch = true;
        return;
    }
    if (HANDLE icon =
            iconFile ? LoadImageA(ModuleHandle, job->fileName, IMAGE_ICON, 0, 0, LR_LOADFROMFILE)
                     : nullptr) {
        BITMAP info{};
        if (!DescribeIcon(static_cast<HICON>(icon), &info)) {
            DestroyIcon(static_cast<HICON>(icon));
            job->why = ImageLoadFailure::NotAnImage;
            return;
        }
        job->handle = icon;
        return;
    }
    int32_t kind = 0;
    if (inMemory) {
        kind = FindInMemory(job, head, intptr_t(readSize));
    } else if (file) {
        // The decoders read the file through the handle that read its start: no second open.
        kind =
            FindForFile(job, FileStreamOf(file, false), reinterpret_cast<intptr_t>(job->fileName));
    } else {
        kind =
            FindForFile(job, fopen(job->fileName, "rb"), reinterpret_cast<intptr_t>(job->fileName));
    }
    if (!kind) {
        job->why = ImageLoadFailure::NotAnImage;
        return;
    }
    job->handle = BitmapFromDecoder(job, kind);
}

void ImageDecoderListReset() {
    DecoderCount = 0;
    if (Chain.decoder) Chain.decoder->Drop(&Chain.picture);
    Chain.decoder = nullptr;
    CloseStream(&Chain);
}

void ImageDecoderRegister(const ImageDecoder *decoder) {
    if (!decoder || DecoderCount >= DecoderListSize) return;
    Decoders[DecoderCount++] = decoder;
}

int32_t ImageDecoderFind(intptr_t nameOrSize, const void *memory) {
    if (Chain.decoder) Chain.decoder->Drop(&Chain.picture);
    Chain = LoadJob{};
    Chain.onBatchThread = true;
    Chain.block = &OwnBlock;
    if (memory) return FindInMemory(&Chain, memory, nameOrSize);
    auto *name = reinterpret_cast<const char *>(nameOrSize);
    if (!name) return 0;
    return FindForFile(&Chain, fopen(name, "rb"), nameOrSize);
}

HBITMAP ImageBitmapFromDecoder(int32_t kind, int32_t flags) {
    Chain.flags = flags;
    Chain.why = ImageLoadFailure::None;
    HBITMAP bitmap = BitmapFromDecoder(&Chain, kind);
    if (!bitmap && Chain.why != ImageLoadFailure::None) LastFailure = Chain.why;
    return bitmap;
}

intptr_t ImageLoad(ObjectId id, const char *fileName, int32_t flags) {
    LastFailure = ImageLoadFailure::None;
    if (!ImageRegistry) return LoadFailed(id, nullptr, ImageLoadFailure::NoBitmap);
    SpareSection spare = TakeSpare(id);
    auto *record = static_cast<ImageObject *>(RegistryAllocate(ImageRegistry, id));
    if (!record || !fileName) {
        SpareSectionDrop(&spare);
        return LoadFailed(id, record,
                          record ? ImageLoadFailure::Unreadable : ImageLoadFailure::NoBitmap);
    }

    LoadJob job{};
    job.fileName = fileName;
    job.flags = flags;
    job.onBatchThread = true;
    job.block = &OwnBlock;
    if (!TakeLoadedAhead(fileName, flags, &job, &spare)) {
        job.spare = spare;
        LoadPictureFile(&job);
    }
    if (!job.handle) return LoadFailed(id, record, job.why);

    HANDLE handle = job.handle;
    BITMAP info{};
    bool bitmap = GetObjectType(handle) == OBJ_BITMAP;
    if (bitmap) {
        info = Describe(handle);
    } else {
        DescribeIcon(static_cast<HICON>(handle), &info);
    }
    if (!Fits(info)) {
        if (bitmap) {
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
    record->loadedSection = job.madeSection;
    return id == AutoNumber ? reinterpret_cast<intptr_t>(record)
                            : reinterpret_cast<intptr_t>(handle);
}

ImageLoadFailure ImageLastLoadFailure() {
    return LastFailure;
}
