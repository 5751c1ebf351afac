// Pixel and handle checks on real GDI, shared by the drawing and image tests.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>
#include <vector>

// GDI objects the process holds now. Wine's GetGuiResources is a stub that returns 0, so there
// the live entries of the process's GDI handle table are counted instead.
int GdiObjectCount();

int DisplayBitsPerPixel();

// The pixels of a bitmap, top row first, as COLORREF values; empty on failure. The bitmap must
// not be selected into a device context.
std::vector<COLORREF> ReadPixels(HBITMAP bitmap);
bool WritePixels(HBITMAP bitmap, const std::vector<COLORREF> &pixels);

// A display-compatible bitmap filled with one colour.
HBITMAP MakeDisplayBitmap(int width, int height, COLORREF fill);

// A picture in which neighbouring pixels differ, for checking where pixels went.
std::vector<COLORREF> Pattern(int width, int height);

// The part of a picture (width wide) from (x, y), width x height, clipped: outside pixels are
// given `outside`.
std::vector<COLORREF> Crop(const std::vector<COLORREF> &picture, int pictureWidth, int x, int y,
                           int width, int height, COLORREF outside);

// Whether two pictures `width` wide agree; on failure names the first few differing pixels.
::testing::AssertionResult SamePixels(const std::vector<COLORREF> &actual,
                                      const std::vector<COLORREF> &expected, int width);
