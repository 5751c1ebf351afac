// The strips of a packed layout: their frames go into the frame store as they come, and once the
// last one is in, the rectangles are packed into pages, and each page is drawn and described.
// A run with /atlas keeps every strip in one such layout; /trim or /dedupe without it make one
// for each strip.
#pragma once

#include "app/frame_data.h"
#include "app/sheet_compose.h"
#include "app/sheet_layout.h"
#include "app/sheet_options.h"

#include <cstdint>

// Empties the layout, which packs with the options given and keeps transparency with `alpha`.
void AtlasStart(const SheetOptions &options, bool alpha);
// Frees everything the layout holds.
void AtlasEnd();

enum class AtlasAdd {
    Added,
    TooLarge, // its frames alone do not fit one page
    NoMemory,
};

// Adds the `count` frames of `frameWidth` x `frameHeight` of the strip (side by side, or stacked)
// under its prefix; `stripPath` is kept to report on it.
AtlasAdd AtlasAddStrip(const char *stripPath, const char *prefix, const PixelRows &strip,
                       bool horizontal, int32_t count, int32_t frameWidth, int32_t frameHeight);

int32_t AtlasStripCount();
const char *AtlasStripPath(int32_t strip);
int32_t AtlasStripPage(int32_t strip); // once laid out

// Packs the strips' frames into pages; the number of pages, or 0 when memory runs out.
int32_t AtlasLayout();
PageSize AtlasPageSize(int32_t page);

// Draws the page into image `id`; false when no section of its size can be made.
bool AtlasDrawPage(int32_t page, ObjectId id);
// Frees the frames' pixels, once the last page is drawn: the data files need only the layout.
void AtlasPixelsFree();

// Appends the page's data file to `text`: its picture is `imageName`, and `related` holds the
// other pages' data files (`relatedCount` names, each ending in a NUL).
void AtlasPutData(int32_t page, const char *imageName, const char *related, int32_t relatedCount,
                  Text *text);
