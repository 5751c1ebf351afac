// Image objects: numbered runtime objects that each own one GDI bitmap (or, for an image loaded
// from an icon file, one icon), and the drawing output through which the drawing layer draws
// into an image.
#pragma once

#include "runtime/drawing/drawing.h"
#include "runtime/image/image_codec.h"
#include "runtime/memory/registry.h"

#include <windows.h>
#include <cstdint>

// As flags or depth: a device-dependent bitmap compatible with the display rather than a
// device-independent section.
constexpr int32_t ImageDisplayFormat = 0x80;

// One record of the image registry (16 bytes). Live while `handle` is non-zero.
struct ImageObject {
    HANDLE handle; // HBITMAP, or HICON for an image loaded from an icon file
    int16_t width;
    int16_t height;
    int8_t depth; // bits per pixel as the system reports them (of the colour bitmap for an icon)
    uint8_t flags;
    // Set when the library made the bitmap as a bottom-up section (ImageCreate or ImageGrab of a
    // section): its memory holds the picture's rows bottom row first. The system's description
    // of a section does not tell its row order.
    uint8_t bottomUpSection;
    // ImageLoad's own section (LoadedBottomUp or LoadedTopDown), which the next load of the
    // number may fill again rather than make anew; 0 for every other bitmap.
    uint8_t loadedSection;
};
constexpr uint8_t LoadedBottomUp = 1;
constexpr uint8_t LoadedTopDown = 2;
constexpr int32_t ImageRecordSize = 16;
static_assert(sizeof(ImageObject) <= ImageRecordSize, "an image record must fit 16 bytes");

// The image registry, made by ImageLibraryInit. The loading and saving code fills and reads its
// records through ImageRecord and RegistryAllocate.
extern ObjectRegistry *ImageRegistry;

void ImageLibraryInit();
// Finishes the saves still queued (ImageSaveFinishAll), drops the files named to be read ahead
// (ImageLoadAhead) and frees every image; the library can be used again afterwards.
void ImageLibraryEnd();

// True when a picture of that size can be held by an image (1 to ImageMaxSize both ways).
bool ImageSizeFits(int32_t width, int32_t height);

// The live record of an image, or null. Numbers beyond the table and ids the registry never
// handed out are rejected rather than read.
ImageObject *ImageRecord(ObjectId id);

// The display device's dc, against which every bitmap is made. Opening it costs more than making
// a small bitmap (milliseconds under Wine), so it is opened once and kept until ImageLibraryEnd.
// Null when there is no display device. Not to be deleted by the caller.
HDC ImageDisplayDc();

// Makes a bitmap on the display device: display-compatible when `flags` has ImageDisplayFormat,
// else a bottom-up section of `depth` bits (with a grey colour table for 8 bits or less, with
// the red, green and blue `masks` as bit fields when given). 0 when refused.
HBITMAP ImageBitmapCreate(int32_t width, int32_t height, int32_t flags, int32_t depth,
                          const DWORD *masks = nullptr);

// Creating operations return the record address for AutoNumber, the new bitmap handle for a
// number, 0 on failure. A failed create leaves the number free (its old image is already gone);
// a failed grab leaves the target number as it was.

// A black image; `depth` ImageDisplayFormat asks for a display-compatible bitmap, anything else
// is the bit count of a section.
intptr_t ImageCreate(ObjectId id, int32_t width, int32_t height,
                     int32_t depth = ImageDisplayFormat);

// A new image `id` holding the rectangle (x, y, width, height) of the source, with the source's
// depth and flags. Only the part inside the source is copied; the rest is whatever a new bitmap
// holds. The source may be the target number.
intptr_t ImageGrab(ObjectId sourceId, ObjectId id, int32_t x, int32_t y, int32_t width,
                   int32_t height);

// Releases the image if it exists (also the registry's free callback). An image that is the
// current drawing output stops being one first.
void ImageFree(ObjectId id);

// Releases the image as ImageFree does but hands its bitmap to the caller instead of deleting
// it; null (and the image released all the same) when it holds an icon.
HBITMAP ImageTakeBitmap(ObjectId id);

intptr_t ImageExists(ObjectId id);
int32_t ImageGetWidth(ObjectId id);
int32_t ImageGetHeight(ObjectId id);
HANDLE ImageHandle(ObjectId id);

// The library's one drawing output, directed at the image, or null. A drawing still active on an
// earlier image output is ended first.
const DrawingOutput *ImageDrawTarget(ObjectId id);

// The output's release routine: deletes the memory device context the library holds.
int32_t ImageDrawTargetRelease();
