#include "runtime/image/image.h"

#include "runtime/image/gdi_guards.h"
#include "runtime/image/image_load.h"
#include "runtime/image/image_save.h"
#include "runtime/image/load_job.h"
#include "runtime/memory/memory.h"

#include <cstring>

ObjectRegistry *ImageRegistry;

namespace {

constexpr int32_t ImageRegistryGrowth = 16;

// The library's single drawing output.
struct ImageDrawTargetState {
    HDC dc; // the memory dc holding the output image's bitmap, or null
    DrawingOutput output;
};
ImageDrawTargetState *TargetState;

// The display dc ImageDisplayDc opened, kept until ImageLibraryEnd.
HDC DisplayDcHeld;

void DisplayDcRelease() {
    if (DisplayDcHeld) DeleteDC(DisplayDcHeld);
    DisplayDcHeld = nullptr;
}

// The image output's dc when it holds this bitmap (a bitmap can be selected in one dc only).
HDC OutputDcHolding(HANDLE bitmap) {
    if (!TargetState || !TargetState->dc) return nullptr;
    return GetCurrentObject(TargetState->dc, OBJ_BITMAP) == bitmap ? TargetState->dc : nullptr;
}

// Closes the image output. A drawing still active on it is ended through the drawing layer, so
// that its pen and brush are put back before the dc goes.
void CloseImageOutput() {
    if (!TargetState || !TargetState->dc) return;
    if (Drawing.dc == TargetState->dc) {
        DrawingEnd(); // releases through ImageDrawTargetRelease
    } else {
        ImageDrawTargetRelease();
    }
}

// A failed creation must not leave a zeroed dynamic record behind: its id was never handed out.
void ForgetFailedRecord(ObjectId id, ImageObject *record) {
    if (id == AutoNumber) RegistryFree(ImageRegistry, reinterpret_cast<ObjectId>(record));
}

intptr_t CreationResult(ObjectId id, ImageObject *record) {
    return id == AutoNumber ? reinterpret_cast<intptr_t>(record)
                            : reinterpret_cast<intptr_t>(record->handle);
}

// True when the bitmap is a bit-field section; `masks` then gets its red, green and blue masks.
bool SectionBitFields(HANDLE bitmap, DWORD masks[3]) {
    DIBSECTION section{};
    if (GetObjectA(bitmap, sizeof section, &section) != sizeof section ||
        section.dsBmih.biCompression != BI_BITFIELDS)
        return false;
    memcpy(masks, section.dsBitfields, 3 * sizeof(DWORD));
    return true;
}

bool SameBitFields(HANDLE bitmap, bool fields, const DWORD masks[3]) {
    DWORD own[3];
    bool ownFields = SectionBitFields(bitmap, own);
    return ownFields == fields && (!fields || memcmp(own, masks, sizeof own) == 0);
}

} // namespace

HDC ImageDisplayDc() {
    if (!DisplayDcHeld) DisplayDcHeld = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    return DisplayDcHeld;
}

void ImageLibraryInit() {
    DisplayDcRelease();
    ImageRegistry = RegistryCreate(ImageRecordSize, ImageRegistryGrowth, ImageFree);
    TargetState = static_cast<ImageDrawTargetState *>(MemoryAlloc(sizeof(ImageDrawTargetState)));
}

void ImageLibraryEnd() {
    ImageSaveFinishAll();
    LoadAheadEnd();
    if (!ImageRegistry) return;
    ObjectId id = 0;
    RegistryRewind(ImageRegistry);
    while (RegistryNext(ImageRegistry, &id))
        ImageFree(id);
    CloseImageOutput();
    DisplayDcRelease();
}

bool ImageSizeFits(int32_t width, int32_t height) {
    return width >= 1 && width <= ImageMaxSize && height >= 1 && height <= ImageMaxSize;
}

ImageObject *ImageRecord(ObjectId id) {
    if (!ImageRegistry) return nullptr;
    // RegistryGet alone would take any id beyond the table as an address.
    if (!RegistryValidate(ImageRegistry, id)) return nullptr;
    return static_cast<ImageObject *>(RegistryGet(ImageRegistry, id));
}

HBITMAP ImageBitmapCreate(int32_t width, int32_t height, int32_t flags, int32_t depth,
                          const DWORD *masks) {
    // Refused before the system is asked: a display bitmap is taken at 32 bits a pixel.
    if (!ImageBytesFit(width, height, flags & ImageDisplayFormat ? 32 : depth & 0xFFFF))
        return nullptr;
    HDC display = ImageDisplayDc();
    if (!display) return nullptr;
    if (flags & ImageDisplayFormat) return CreateCompatibleBitmap(display, width, height);

    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = height; // bottom-up
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(depth & 0xFFFF);
    info.header.biCompression = masks ? BI_BITFIELDS : BI_RGB;
    if (masks) memcpy(info.colors, masks, 3 * sizeof(DWORD));
    // A palette section reads its colour table after the header: give it a grey ramp rather
    // than let the system read past the header. Entry 0 is black, so a new image is black.
    int bits = info.header.biBitCount;
    if (bits >= 1 && bits <= 8) {
        int entries = 1 << bits;
        for (int i = 0; i < entries; i++) {
            auto level = static_cast<BYTE>(i * 255 / (entries - 1));
            info.colors[i] = RGBQUAD{level, level, level, 0};
        }
    }
    void *pixels = nullptr;
    return CreateDIBSection(display, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, &pixels,
                            nullptr, 0);
}

intptr_t ImageCreate(ObjectId id, int32_t width, int32_t height, int32_t depth) {
    if (!ImageRegistry) return 0;
    auto *record = static_cast<ImageObject *>(RegistryAllocate(ImageRegistry, id));
    if (!record) return 0;
    int32_t flags = depth == ImageDisplayFormat ? ImageDisplayFormat : 0;
    HBITMAP bitmap = ImageBitmapCreate(width, height, flags, depth);
    if (!bitmap) {
        ForgetFailedRecord(id, record);
        return 0;
    }
    {
        MemoryDc memory;
        if (memory.dc) {
            SelectObject(memory.dc, bitmap);
            RECT whole{0, 0, width, height};
            FillRect(memory.dc, &whole, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        }
    }
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    record->handle = bitmap;
    record->width = static_cast<int16_t>(info.bmWidth);
    record->height = static_cast<int16_t>(info.bmHeight);
    record->depth = static_cast<int8_t>(info.bmBitsPixel);
    record->flags = static_cast<uint8_t>(flags);
    record->bottomUpSection = !(flags & ImageDisplayFormat);
    return CreationResult(id, record);
}

intptr_t ImageGrab(ObjectId sourceId, ObjectId id, int32_t x, int32_t y, int32_t width,
                   int32_t height) {
    ImageObject *source = ImageRecord(sourceId);
    if (!source) return 0;
    HANDLE sourceHandle = source->handle;
    int8_t depth = source->depth;
    uint8_t flags = source->flags;
    // An icon cannot be selected into a dc; copying through one would yield garbage.
    if (GetObjectType(sourceHandle) != OBJ_BITMAP) return 0;
    // A bit-field section's copy keeps its masks: a plain section of 16 bits is 5-5-5.
    DWORD masks[3] = {};
    bool fields = SectionBitFields(sourceHandle, masks);

    // A number holding a bitmap of this very size and kind that the library made is drawn over
    // when the rectangle lies inside the source, so that every pixel is copied anew: a batch grabs
    // frame after frame of one size into one number, and under Wine a new section costs fresh
    // memory and a page fault for every 4 KB of it.
    ImageObject *target = id == sourceId || id == AutoNumber ? nullptr : ImageRecord(id);
    bool inside = x >= 0 && y >= 0 && int64_t(x) + width <= source->width &&
                  int64_t(y) + height <= source->height;
    bool same = inside && target && target->width == width && target->height == height &&
                target->depth == depth && target->flags == flags && !target->loadedSection &&
                target->bottomUpSection == !(flags & ImageDisplayFormat) &&
                GetObjectType(target->handle) == OBJ_BITMAP && !OutputDcHolding(target->handle) &&
                SameBitFields(target->handle, fields, masks);
    HBITMAP bitmap = same
                         ? static_cast<HBITMAP>(target->handle)
                         : ImageBitmapCreate(width, height, flags, depth, fields ? masks : nullptr);
    if (!bitmap) return 0;
    bool copied = false;
    {
        // The dcs go before the target number is allocated: grabbing into the source's own
        // number frees the source, which must not be selected anywhere by then.
        MemoryDc from;
        MemoryDc to;
        HDC fromDc = OutputDcHolding(sourceHandle);
        if (!fromDc && from.dc && SelectObject(from.dc, sourceHandle)) fromDc = from.dc;
        if (fromDc && to.dc && SelectObject(to.dc, bitmap)) {
            // Palette sections: copy the indices' meaning too, not a mapping onto grey.
            RGBQUAD colors[256];
            UINT count = depth <= 8 ? GetDIBColorTable(fromDc, 0, 256, colors) : 0;
            if (count) SetDIBColorTable(to.dc, 0, count, colors);
            copied = BitBlt(to.dc, 0, 0, width, height, fromDc, x, y, SRCCOPY) != 0;
        }
    }
    if (same) return copied ? CreationResult(id, target) : 0;
    intptr_t result = 0;
    if (copied) {
        auto *record = static_cast<ImageObject *>(RegistryAllocate(ImageRegistry, id));
        if (record) {
            record->handle = bitmap;
            record->width = static_cast<int16_t>(width);
            record->height = static_cast<int16_t>(height);
            record->depth = depth;
            record->flags = flags;
            record->bottomUpSection = !(flags & ImageDisplayFormat);
            result = CreationResult(id, record);
        }
    }
    if (!result) DeleteObject(bitmap);
    return result;
}

HBITMAP ImageTakeBitmap(ObjectId id) {
    if (id == AutoNumber) return nullptr;
    ImageObject *record = ImageRecord(id);
    if (!record) return nullptr;
    HANDLE handle = record->handle;
    // A bitmap still selected in the output's dc could not be deleted, nor used elsewhere.
    if (OutputDcHolding(handle)) CloseImageOutput();
    HBITMAP bitmap = nullptr;
    if (GetObjectType(handle) == OBJ_BITMAP) {
        bitmap = static_cast<HBITMAP>(handle);
    } else {
        DestroyIcon(static_cast<HICON>(handle));
    }
    RegistryFree(ImageRegistry, id);
    return bitmap;
}

void ImageFree(ObjectId id) {
    if (HBITMAP bitmap = ImageTakeBitmap(id)) DeleteObject(bitmap);
}

intptr_t ImageExists(ObjectId id) {
    return ImageRegistry ? reinterpret_cast<intptr_t>(RegistryValidate(ImageRegistry, id)) : 0;
}

int32_t ImageGetWidth(ObjectId id) {
    ImageObject *record = ImageRecord(id);
    return record ? record->width : 0;
}

int32_t ImageGetHeight(ObjectId id) {
    ImageObject *record = ImageRecord(id);
    return record ? record->height : 0;
}

HANDLE ImageHandle(ObjectId id) {
    ImageObject *record = ImageRecord(id);
    return record ? record->handle : nullptr;
}

const DrawingOutput *ImageDrawTarget(ObjectId id) {
    if (!TargetState) return nullptr;
    CloseImageOutput();
    ImageObject *record = ImageRecord(id);
    if (!record) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
    if (!SelectObject(dc, record->handle)) { // an icon image, for example
        DeleteDC(dc);
        return nullptr;
    }
    TargetState->dc = dc;
    TargetState->output.kind = OutputKindImage;
    TargetState->output.dc = dc;
    TargetState->output.release = ImageDrawTargetRelease;
    return &TargetState->output;
}

int32_t ImageDrawTargetRelease() {
    if (!TargetState || !TargetState->dc) return 0;
    DeleteDC(TargetState->dc);
    TargetState->dc = nullptr;
    // A descriptor handed to DrawingBegin again after its drawing then gives no dc instead of a
    // deleted one.
    TargetState->output.dc = nullptr;
    return 1;
}
