// The 2D drawing layer: one global drawing state bound to one output at a time, and the
// primitives that draw on it (mode, box, image).
#pragma once

#include "runtime/drawing/bitmap_rows.h"

#include <windows.h>
#include <cstdint>

// Output kinds a DrawingOutput may declare. Any other value is an output whose device context
// DrawingEnd deletes.
constexpr int32_t OutputKindWindow = 1;    // GetDC(window) at the start, ReleaseDC at the end
constexpr int32_t OutputKindImage = 2;     // the descriptor's dc, handed back through `release`
constexpr int32_t OutputKindDib = 5;       // like an image, but images reach it as 24-bit copies
constexpr int32_t OutputKindRevocable = 7; // its owner may revoke the dc; `acquire` gives a new one

// Drawing mode flags.
constexpr int32_t ModeTransparent = 1; // transparent background for text, hatches and dashes
constexpr int32_t ModeInvert = 2;      // pens and brushes invert; images drawn with NOTSRCERASE
constexpr int32_t ModeOutlined = 4;    // boxes are drawn as their one-pixel border only

using DrawingReleaseRoutine = int32_t (*)();
using DrawingAcquireRoutine = HDC (*)();

// The eight values a revocable output hands over; only `acquire` means anything to the layer.
struct DrawingKindValues {
    intptr_t owner[6];
    DrawingAcquireRoutine acquire;
    intptr_t ownerLast;
};

// Handed to DrawingBegin by whatever owns an output; the layer only reads it.
struct DrawingOutput {
    int32_t kind;
    HWND window;                   // kind 1
    HDC dc;                        // every kind but 1
    DrawingReleaseRoutine release; // kinds 2, 5 and 7
    DrawingKindValues kindValues;  // kind 7
};

struct DrawingState {
    HDC dc; // null while no drawing is active
    COLORREF drawColor;
    int32_t mode;
    int32_t dcState; // 1 while the dc is usable; -1 once the owner of a kind-7 output revoked it
    COLORREF backColor;
    HBRUSH fillBrush;    // made by DrawingBegin, deleted by DrawingEnd
    HBRUSH defaultBrush; // made once by DrawingInit
    HPEN defaultPen;     // made once by DrawingInit
    HGDIOBJ savedBrush;  // what the dc had selected before DrawingBegin
    HGDIOBJ savedPen;
    HDC sourceDc; // the images drawn from are selected here in turn; deleted by DrawingEnd
    int32_t kind;
    HWND window;
    DrawingReleaseRoutine release;
    DrawingKindValues kindValues;
};

// The one drawing state. The owner of a kind-7 output sets dcState to -1 when it takes the
// device context away.
extern DrawingState Drawing;

void DrawingInit();

// Ends any active drawing, then makes the output current. Returns the device context drawn on,
// or null (no output, or no device context), in which case every primitive does nothing.
HDC DrawingBegin(const DrawingOutput *output);

// Puts the saved pen and brush back and releases the device context as the kind asks. Returns
// what the release step returned; 0 when no drawing was active.
int32_t DrawingEnd();

// Re-acquires a revoked kind-7 device context. Returns 1 when there is a device context to draw
// on, 0 otherwise (no drawing, or the owner could not supply one; it is asked again next time).
int32_t DrawingRevalidate();

void DrawingSetMode(int32_t flags);

// Covers the pixels from (x, y) to (x + width - 1, y + height - 1); a 1x1 box sets one pixel to
// the colour whatever the mode.
void DrawBox(int32_t x, int32_t y, int32_t width, int32_t height, COLORREF color);

// Draws a bitmap, icon or cursor at its own size.
void DrawImageAt(HANDLE image, int32_t x, int32_t y);

// Draws scaled to width x height. A bitmap with a zero width or height is drawn at its own size;
// for an icon a zero means the icon's own width or height.
void DrawImageSized(HANDLE image, int32_t x, int32_t y, int32_t width, int32_t height);

// Draws the part of a bitmap from (fromX, fromY), width x height, unscaled with its top-left
// corner at (x, y): one copy, no bitmap of its own for the part. 1 when it was copied; 0 when no
// drawing is active, the image is not a bitmap, or the output is of kind 5.
int32_t DrawImagePart(HANDLE image, int32_t x, int32_t y, int32_t fromX, int32_t fromY,
                      int32_t width, int32_t height);

// A 24-bit bottom-up packed DIB copy of the bitmap: the BITMAPINFOHEADER followed by the rows.
// The caller frees it with GlobalFree. Null on failure.
BITMAPINFOHEADER *BitmapToPackedDib(HBITMAP bitmap, HPALETTE palette);
