#include "runtime/drawing/drawing.h"

#include <cstring>

DrawingState Drawing;

namespace {

constexpr COLORREF White = 0xFFFFFF;

// Clamps a coordinate sum that may leave the int32 range (a box far outside the output).
int32_t ClampedSum(int32_t a, int32_t b) {
    int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(sum);
}

} // namespace

void DrawingInit() {
    DrawingEnd();
    // A second start-up must not leave the first one's pen and brush behind.
    if (Drawing.defaultBrush) DeleteObject(Drawing.defaultBrush);
    if (Drawing.defaultPen) DeleteObject(Drawing.defaultPen);
    Drawing = DrawingState{};
    Drawing.defaultBrush = CreateSolidBrush(0);
    Drawing.defaultPen = CreatePen(PS_SOLID, 0, 0);
}

HDC DrawingBegin(const DrawingOutput *output) {
    DrawingEnd();
    if (!output) return nullptr;
    Drawing.kind = output->kind;
    Drawing.window = output->window;
    Drawing.release = output->release;
    Drawing.mode = 0;
    HDC dc = output->kind == OutputKindWindow ? GetDC(output->window) : output->dc;
    Drawing.dc = dc;
    if (output->kind == OutputKindRevocable) Drawing.kindValues = output->kindValues;
    Drawing.dcState = 1;
    if (dc) {
        SetTextAlign(dc, TA_UPDATECP);
        Drawing.savedBrush = SelectObject(dc, Drawing.defaultBrush);
        Drawing.savedPen = SelectObject(dc, Drawing.defaultPen);
        Drawing.drawColor = 0;
        Drawing.backColor = White;
        Drawing.fillBrush = CreateSolidBrush(0);
        SetTextColor(dc, 0);
    }
    return dc;
}

int32_t DrawingEnd() {
    HDC dc = Drawing.dc;
    if (!dc) return 0;
    // Put the saved objects back first: the fill brush may be selected and must not be in use
    // when it is deleted.
    SelectObject(dc, Drawing.savedBrush);
    SelectObject(dc, Drawing.savedPen);
    if (Drawing.fillBrush) {
        DeleteObject(Drawing.fillBrush);
        Drawing.fillBrush = nullptr;
    }
    if (Drawing.sourceDc) {
        DeleteDC(Drawing.sourceDc);
        Drawing.sourceDc = nullptr;
    }
    // Idle before the release routine runs, so that a routine which looks at the layer sees the
    // drawing already over.
    Drawing.dc = nullptr;
    switch (Drawing.kind) {
    case OutputKindWindow:
        return ReleaseDC(Drawing.window, dc);
    case OutputKindImage:
    case OutputKindDib:
    case OutputKindRevocable:
        return Drawing.release ? Drawing.release() : 0;
    default:
        return DeleteDC(dc);
    }
}

int32_t DrawingRevalidate() {
    if (!Drawing.dc) return 0;
    if (Drawing.kind != OutputKindRevocable || Drawing.dcState != -1) return 1;
    HDC dc = Drawing.kindValues.acquire ? Drawing.kindValues.acquire() : nullptr;
    if (!dc) return 0; // the revoked dc must not be drawn on; the owner is asked again next time
    Drawing.dcState = 1;
    Drawing.dc = dc;
    SetTextColor(dc, Drawing.drawColor);
    SetTextAlign(dc, TA_UPDATECP);
    SetBkColor(dc, Drawing.backColor);
    if (Drawing.mode != 0) {
        DrawingSetMode(Drawing.mode);
    } else {
        SelectObject(dc, Drawing.fillBrush);
    }
    return 1;
}

void DrawingSetMode(int32_t flags) {
    if (!DrawingRevalidate()) return;
    HDC dc = Drawing.dc;
    Drawing.mode = flags;
    SetROP2(dc, (flags & ModeInvert) ? R2_NOT : R2_COPYPEN);
    SelectObject(dc, (flags & ModeOutlined) ? GetStockObject(NULL_BRUSH) : Drawing.fillBrush);
    SetBkMode(dc, (flags & ModeTransparent) ? TRANSPARENT : OPAQUE);
}

void DrawBox(int32_t x, int32_t y, int32_t width, int32_t height, COLORREF color) {
    if (!DrawingRevalidate()) return;
    HDC dc = Drawing.dc;
    if (width == 1 && height == 1) {
        // A single pixel takes the colour whatever the mode, but Wine's SetPixelV goes through
        // the mix mode, so copy mode is put in for the call.
        bool invert = (Drawing.mode & ModeInvert) != 0;
        if (invert) SetROP2(dc, R2_COPYPEN);
        SetPixelV(dc, x, y, color);
        if (invert) SetROP2(dc, R2_NOT);
        return;
    }
    // Rectangle would normalise a reversed box and draw it anyway; an empty box draws nothing.
    if (width <= 0 || height <= 0) return;
    HPEN pen = nullptr;
    HBRUSH brush = nullptr;
    HGDIOBJ keptPen = nullptr;
    HGDIOBJ keptBrush = nullptr;
    if (color != Drawing.drawColor) {
        pen = CreatePen(PS_SOLID, 0, color);
        if (pen) keptPen = SelectObject(dc, pen);
        if (!(Drawing.mode & ModeOutlined)) {
            brush = CreateSolidBrush(color);
            if (brush) keptBrush = SelectObject(dc, brush);
        }
    }
    Rectangle(dc, x, y, ClampedSum(x, width), ClampedSum(y, height));
    if (brush) {
        SelectObject(dc, keptBrush);
        DeleteObject(brush);
    }
    if (pen) {
        SelectObject(dc, keptPen);
        DeleteObject(pen);
    }
}

void DrawImageAt(HANDLE image, int32_t x, int32_t y) {
    DrawImageSized(image, x, y, 0, 0);
}

void DrawImageSized(HANDLE image, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!DrawingRevalidate()) return;
    HDC dc = Drawing.dc;
    if (GetObjectType(image) != OBJ_BITMAP) {
        // Icons and cursors go through their mask: their transparent parts leave the picture.
        DrawIconEx(dc, x, y, static_cast<HICON>(image), width, height, 0, nullptr, DI_NORMAL);
        return;
    }
    auto *bitmap = static_cast<HBITMAP>(image);
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    DWORD rop = (Drawing.mode & ModeInvert) ? NOTSRCERASE : SRCCOPY;
    bool ownSize = width == 0 || height == 0;
    int32_t toWidth = ownSize ? info.bmWidth : width;
    int32_t toHeight = ownSize ? info.bmHeight : height;

    if (Drawing.kind == OutputKindDib) {
        BITMAPINFOHEADER *block = BitmapToPackedDib(bitmap, nullptr);
        if (!block) return;
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchDIBits(dc, x, y, toWidth, toHeight, 0, 0, info.bmWidth, info.bmHeight, block + 1,
                      reinterpret_cast<BITMAPINFO *>(block), DIB_RGB_COLORS, rop);
        GlobalFree(block);
        return;
    }

    HDC memory = CreateCompatibleDC(dc);
    if (!memory) return;
    // A bitmap already selected elsewhere (for example the output's own bitmap) cannot be
    // selected here; drawing it through the memory dc's placeholder would paint garbage.
    if (SelectObject(memory, bitmap)) {
        if (toWidth == info.bmWidth && toHeight == info.bmHeight) {
            BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, rop);
        } else {
            SetStretchBltMode(dc, HALFTONE);
            StretchBlt(dc, x, y, toWidth, toHeight, memory, 0, 0, info.bmWidth, info.bmHeight, rop);
        }
    }
    DeleteDC(memory);
}

int32_t DrawImagePart(HANDLE image, int32_t x, int32_t y, int32_t fromX, int32_t fromY,
                      int32_t width, int32_t height) {
    if (!DrawingRevalidate()) return 0;
    if (Drawing.kind == OutputKindDib || GetObjectType(image) != OBJ_BITMAP) return 0;
    HDC dc = Drawing.dc;
    // One dc for the whole drawing: a sheet's frames are drawn one after the other from the same
    // strip, and making a dc for each costs more than the copy under Wine.
    if (!Drawing.sourceDc) Drawing.sourceDc = CreateCompatibleDC(dc);
    HDC memory = Drawing.sourceDc;
    if (!memory) return 0;
    BOOL copied = FALSE;
    if (HGDIOBJ earlier = SelectObject(memory, image)) {
        DWORD rop = (Drawing.mode & ModeInvert) ? NOTSRCERASE : SRCCOPY;
        copied = BitBlt(dc, x, y, width, height, memory, fromX, fromY, rop);
        // The image does not stay selected: it may be freed, or drawn into, before the next copy.
        SelectObject(memory, earlier);
    }
    return copied ? 1 : 0;
}

BITMAPINFOHEADER *BitmapToPackedDib(HBITMAP bitmap, HPALETTE palette) {
    BITMAP info{};
    if (GetObjectA(bitmap, sizeof info, &info) != sizeof info) return nullptr;
    if (info.bmWidth <= 0 || info.bmHeight <= 0) return nullptr;
    auto rowSize = static_cast<size_t>(BitmapRowBytes(info.bmWidth, 24));
    size_t size = rowSize * static_cast<size_t>(info.bmHeight) + sizeof(BITMAPINFOHEADER);
    auto *block = static_cast<BITMAPINFOHEADER *>(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size));
    if (!block) return nullptr;
    block->biSize = sizeof(BITMAPINFOHEADER);
    block->biWidth = info.bmWidth;
    block->biHeight = info.bmHeight;
    block->biPlanes = 1;
    block->biBitCount = 24;
    block->biCompression = BI_RGB;

    HDC screen = GetDC(nullptr);
    HPALETTE earlierPalette = nullptr;
    if (screen && palette) {
        earlierPalette = SelectPalette(screen, palette, TRUE);
        RealizePalette(screen);
    }
    int lines = screen ? GetDIBits(screen, bitmap, 0, info.bmHeight, block + 1,
                                   reinterpret_cast<BITMAPINFO *>(block), DIB_RGB_COLORS)
                       : 0;
    if (earlierPalette) SelectPalette(screen, earlierPalette, TRUE);
    if (screen) ReleaseDC(nullptr, screen);
    if (lines == 0) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}
