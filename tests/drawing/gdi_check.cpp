#include "tests/drawing/gdi_check.h"

int GdiObjectCount() {
    SetLastError(0);
    DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (count != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return static_cast<int>(count);
    // Wine looks a handle up by its low 16 bits (the table index) when the high bits are zero.
    int live = 0;
    for (uintptr_t index = 1; index < 0x10000; index++)
        live += GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0;
    return live;
}

int DisplayBitsPerPixel() {
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    int bits = GetDeviceCaps(display, BITSPIXEL);
    DeleteDC(display);
    return bits;
}

// Moves the bitmap's pixels to or from `raw` as top-down 32-bit rows (blue, green, red, unused).
static bool Transfer(HBITMAP bitmap, std::vector<DWORD> &raw, bool write) {
    BITMAP info{};
    if (!GetObjectA(bitmap, sizeof info, &info)) return false;
    BITMAPINFO header{};
    header.bmiHeader = {
        sizeof(BITMAPINFOHEADER), info.bmWidth, -info.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    size_t count = size_t(info.bmWidth) * info.bmHeight;
    if (write ? raw.size() != count : (raw.assign(count, 0), false)) return false;
    HDC screen = GetDC(nullptr);
    int lines =
        write ? SetDIBits(screen, bitmap, 0, info.bmHeight, raw.data(), &header, DIB_RGB_COLORS)
              : GetDIBits(screen, bitmap, 0, info.bmHeight, raw.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return lines == info.bmHeight;
}

Pixels ReadPixels(HBITMAP bitmap) {
    std::vector<DWORD> raw;
    Pixels pixels;
    if (!Transfer(bitmap, raw, false)) return pixels;
    for (DWORD p : raw)
        pixels.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
    return pixels;
}

bool WritePixels(HBITMAP bitmap, const Pixels &pixels) {
    std::vector<DWORD> raw;
    for (COLORREF c : pixels)
        raw.push_back(GetBValue(c) | GetGValue(c) << 8 | GetRValue(c) << 16);
    return Transfer(bitmap, raw, true);
}

HBITMAP MakeDisplayBitmap(int width, int height, COLORREF fill) {
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(display, width, height);
    DeleteDC(display);
    WritePixels(bitmap, Pixels(size_t(width) * height, fill));
    return bitmap;
}

Pixels Pattern(int width, int height) {
    Pixels pixels;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            pixels.push_back(RGB(x * 37 + 11, y * 53 + 7, (x ^ y) * 29));
    return pixels;
}

Pixels Crop(const Pixels &picture, int pictureWidth, int x, int y, int width, int height) {
    return Paste(Pixels(size_t(width) * height, 0), width, picture, pictureWidth, -x, -y);
}

Pixels Paste(Pixels picture, int pictureWidth, const Pixels &part, int partWidth, int x, int y) {
    int pictureHeight = int(picture.size()) / pictureWidth;
    for (size_t i = 0; i < part.size(); i++) {
        int px = x + int(i) % partWidth, py = y + int(i) / partWidth;
        if (px >= 0 && px < pictureWidth && py >= 0 && py < pictureHeight)
            picture[size_t(py) * pictureWidth + px] = part[i];
    }
    return picture;
}

::testing::AssertionResult SamePixels(const Pixels &actual, const Pixels &expected, int width) {
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << actual.size() << " pixels, not " << expected.size();
    auto failure = ::testing::AssertionFailure() << std::hex;
    int differing = 0;
    for (size_t i = 0; i < actual.size(); i++) {
        if (actual[i] != expected[i] && ++differing <= 8)
            failure << "(" << i % width << ", " << i / width << "): " << actual[i] << " not "
                    << expected[i] << "\n";
    }
    if (differing == 0) return ::testing::AssertionSuccess();
    return failure << std::dec << differing << " pixels differ";
}
