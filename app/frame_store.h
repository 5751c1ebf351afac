// The frames of packed sheets, each kept as compact rows of its own: trimmed to the box of its
// visible pixels when asked, and stored once when an earlier frame has the same pixels at the same
// place. Only these pixels stay in memory until the pages are drawn, not the strips.
#pragma once

#include "app/sheet_compose.h"
#include "app/sheet_layout.h"

#include <cstdint>

// Empties the store, which from now on keeps `bytesPerPixel` bytes a pixel (3, or 4 with alpha).
void FrameStoreStart(int32_t bytesPerPixel);
// Frees everything the store holds.
void FrameStoreEnd();

// Stores the `width` x `height` frame at (fromX, fromY) of `strip`: with `trim`, only the box of
// its pixels whose alpha is not 0 (one transparent pixel at its top left when it has none); with
// `dedupe`, not at all when an equal one is stored. Returns the id of its rectangle, or -1 when
// memory runs out.
int32_t FrameStoreAdd(const PixelRows &strip, int32_t fromX, int32_t fromY, int32_t width,
                      int32_t height, bool trim, bool dedupe);

// How many rectangles are stored, and the rectangles themselves, by id.
int32_t FrameStoreCount();
const PackRect *FrameStoreRects();

// The pixels of a stored rectangle, top row first.
PixelRows FrameStorePixels(int32_t id);

// Forgets the rectangles from `id` on (those of a strip that is not kept after all).
void FrameStoreDropFrom(int32_t id);
