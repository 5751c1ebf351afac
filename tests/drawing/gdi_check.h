// Pixel and handle checks on real GDI, shared by the drawing and image tests.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>
#include <vector>

using Pixels = std::vector<COLORREF>; // top row first

// GDI objects the process holds now. Wine's GetGuiResources is a stub that returns 0, so there
// the live entries of the process's GDI handle table are counted instead.
int GdiObjectCount();

int DisplayBitsPerPixel();

// The pixels of a bitmap as COLORREF values; empty on failure. The bitmap must not be selected
// into a device context.
Pixels ReadPixels(HBITMAP bitmap);
bool WritePixels(HBITMAP bitmap, const Pixels &pixels);

// A display-compatible bitmap filled with one colour.
HBITMAP MakeDisplayBitmap(int width, int height, COLORREF fill);

// A picture in which neighbouring pixels differ, for checking where pixels went.
Pixels Pattern(int width, int height);

// The part of a picture `pictureWidth` wide from (x, y), width x height; outside pixels black.
Pixels Crop(const Pixels &picture, int pictureWidth, int x, int y, int width, int height);
// The picture with `part` (partWidth wide) laid over it at (x, y), clipped at its edges.
Pixels Paste(Pixels picture, int pictureWidth, const Pixels &part, int partWidth, int x, int y);

// Whether two pictures `width` wide agree; on failure names the first few differing pixels.
::testing::AssertionResult SamePixels(const Pixels &actual, const Pixels &expected, int width);
