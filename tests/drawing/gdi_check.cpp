#include "tests/drawing/gdi_check.h"

int GdiObjectCount() {
    SetLastError(0);
    DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (count != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return static_cast<int>(count);
    // Wine looks a handle up by its low 16 bits (the table index) when the high bits are zero.
    int live = 0;
    for (uintptr_t index = 1; index < 0x10000; index++) {
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index))) live++;
    }
    return live;
}

int DisplayBitsPerPixel() {
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    int bits = GetDeviceCaps(display, BITSPIXEL);
    DeleteDC(display);
    return bits;
}

namespace {

BITMAPINFO TopDown32(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// 32-bit DIB pixels are blue, green, red, unused; COLORREF is red in the low byte.
COLORREF FromDib(DWORD pixel) {
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

} // namespace

std::vector<COLORREF> ReadPixels(HBITMAP bitmap) {
    BITMAP info{};
    if (!GetObjectA(bitmap, sizeof info, &info)) return {};
    BITMAPINFO header = TopDown32(info.bmWidth, info.bmHeight);
    std::vector<DWORD> raw(static_cast<size_t>(info.bmWidth) * info.bmHeight);
    HDC screen = GetDC(nullptr);
    int lines = GetDIBits(screen, bitmap, 0, info.bmHeight, raw.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (lines != info.bmHeight) return {};
    std::vector<COLORREF> pixels;
    for (DWORD pixel : raw)
        pixels.push_back(FromDib(pixel));
    return pixels;
}

bool WritePixels(HBITMAP bitmap, const std::vector<COLORREF> &pixels) {
    BITMAP info{};
    if (!GetObjectA(bitmap, sizeof info, &info)) return false;
    if (pixels.size() != static_cast<size_t>(info.bmWidth) * info.bmHeight) return false;
    BITMAPINFO header = TopDown32(info.bmWidth, info.bmHeight);
    std::vector<DWORD> raw;
    for (COLORREF c : pixels)
        raw.push_back(GetBValue(c) | GetGValue(c) << 8 | GetRValue(c) << 16);
    HDC screen = GetDC(nullptr);
    int lines = SetDIBits(screen, bitmap, 0, info.bmHeight, raw.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return lines == info.bmHeight;
}

HBITMAP MakeDisplayBitmap(int width, int height, COLORREF fill) {
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(display, width, height);
    DeleteDC(display);
    WritePixels(bitmap, std::vector<COLORREF>(static_cast<size_t>(width) * height, fill));
    return bitmap;
}

std::vector<COLORREF> Pattern(int width, int height) {
    std::vector<COLORREF> pixels;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++)
            pixels.push_back(RGB(x * 37 + 11, y * 53 + 7, (x ^ y) * 29));
    }
    return pixels;
}

std::vector<COLORREF> Crop(const std::vector<COLORREF> &picture, int pictureWidth, int x, int y,
                           int width, int height, COLORREF outside) {
    int pictureHeight = static_cast<int>(picture.size()) / pictureWidth;
    std::vector<COLORREF> part;
    for (int row = y; row < y + height; row++) {
        for (int column = x; column < x + width; column++) {
            bool inside = row >= 0 && row < pictureHeight && column >= 0 && column < pictureWidth;
            part.push_back(inside ? picture[static_cast<size_t>(row) * pictureWidth + column]
                                  : outside);
        }
    }
    return part;
}

::testing::AssertionResult SamePixels(const std::vector<COLORREF> &actual,
                                      const std::vector<COLORREF> &expected, int width) {
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << actual.size() << " pixels where " << expected.size() << " were expected";
    }
    auto failure = ::testing::AssertionFailure();
    int differing = 0;
    for (size_t i = 0; i < actual.size(); i++) {
        if (actual[i] == expected[i]) continue;
        if (++differing <= 8) {
            failure << "(" << i % width << ", " << i / width << "): " << std::hex << actual[i]
                    << " where " << expected[i] << " was expected" << std::dec << "\n";
        }
    }
    if (differing == 0) return ::testing::AssertionSuccess();
    return failure << differing << " pixels differ";
}
