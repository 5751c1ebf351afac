// The strip-to-sheet conversion: image 0 holds the strip, image 1 the sheet, image 2 the frame
// just cut out. The numbers are reused by every conversion and never freed here. With /json a
// frame data file is written beside each sheet.
#include "app/convert.h"

#include "app/batch.h"
#include "runtime/drawing/drawing.h"
#include "runtime/image/gdi_guards.h"
#include "runtime/image/image.h"
#include "runtime/image/image_codec.h"
#include "runtime/image/image_load.h"
#include "runtime/image/image_save.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr ObjectId StripImage = 0;
constexpr ObjectId SheetImage = 1;
constexpr ObjectId FrameImage = 2;
constexpr int32_t SheetColumns = 8;
// The sheet is a 24-bit section rather than a display-compatible bitmap: it keeps the strip's
// colours exactly whatever the display's depth, and saving takes its rows as they are.
constexpr int32_t SheetDepth = 24;
static_assert(ConvertSavesAtOnce <= ImageSaveSlots, "every strip Saving needs a save slot");

SheetOptions Options;

// The copies of the arguments and the output name, released when the conversion returns.
struct ConversionStrings {
    StringValue stripPath = nullptr;
    StringValue prefix = nullptr;
    StringValue extension = nullptr;
    StringValue direction = nullptr;
    StringValue outputDirectory = nullptr;
    StringValue outputName = nullptr;

    ~ConversionStrings() {
        StringFree(stripPath);
        StringFree(prefix);
        StringFree(extension);
        StringFree(direction);
        StringFree(outputDirectory);
        StringFree(outputName);
    }
};

// A file name beside the sheet, "<folder><prefix>_B<count>.<extension>", made at the end of the
// temporary area; returns where it starts there.
int32_t ConcatOutputName(const ConversionStrings &s, int32_t count, const char *extension) {
    int32_t start = TempString.end;
    StringConcat(s.outputDirectory);
    StringConcat(s.prefix);
    StringConcat("_B");
    StringFromInteger(count, TempString.end);
    StringConcat(".");
    StringConcat(extension);
    return start;
}

int32_t FormatFor(const char *extension) {
    if (StringEqual(extension, "png")) return ImageFormatPng;
    if (StringEqual(extension, "bmp")) return ImageFormatBmp;
    if (StringEqual(extension, "jpg")) return ImageFormatJpeg;
    return ImageFormatBmp;
}

struct Geometry {
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    int32_t sheetWidth = 0;
    int32_t sheetHeight = 0;
    int32_t cellWidth = 0; // the frame and its extrusion
    int32_t cellHeight = 0;
    int32_t columns = 0; // cells in a row, and rows
    int32_t rows = 0;
};

// TooManyFrames when the count does not cut the strip into frames of at least one pixel,
// TooLarge when the sheet would be larger than an image can be.
ConvertOutcome SheetGeometry(int32_t stripWidth, int32_t stripHeight, bool horizontal,
                             bool vertical, int32_t count, Geometry *g) {
    if (count < 1) return ConvertOutcome::TooManyFrames;
    if (horizontal) {
        g->frameWidth = stripWidth / count;
        g->frameHeight = stripHeight;
    } else if (vertical) {
        g->frameWidth = stripWidth;
        g->frameHeight = stripHeight / count;
    }
    if (g->frameWidth < 1 || g->frameHeight < 1) return ConvertOutcome::TooManyFrames;
    int64_t perRow = Options.columns;
    int64_t columns = count < perRow ? count : perRow;
    int64_t rows = (int64_t(count) + perRow - 1) / perRow;
    int64_t cellWidth = g->frameWidth + 2 * int64_t(Options.extrude);
    int64_t cellHeight = g->frameHeight + 2 * int64_t(Options.extrude);
    int64_t width =
        2 * int64_t(Options.margin) + columns * cellWidth + (columns - 1) * Options.spacing;
    int64_t height = 2 * int64_t(Options.margin) + rows * cellHeight + (rows - 1) * Options.spacing;
    // The sheet is a section of 24 bits a pixel (32 with alpha); either is held to its size at 32.
    if (width > ImageMaxSize || height > ImageMaxSize ||
        !ImageBytesFit(int32_t(width), int32_t(height), 32))
        return ConvertOutcome::TooLarge;
    g->sheetWidth = int32_t(width);
    g->sheetHeight = int32_t(height);
    g->cellWidth = int32_t(cellWidth);
    g->cellHeight = int32_t(cellHeight);
    g->columns = int32_t(columns);
    g->rows = int32_t(rows);
    return ConvertOutcome::Converted;
}

// The top-left pixel of frame i on the sheet.
void FramePlace(const Geometry &g, int32_t i, int32_t *x, int32_t *y) {
    *x = Options.margin + (i % Options.columns) * (g.cellWidth + Options.spacing) + Options.extrude;
    *y =
        Options.margin + (i / Options.columns) * (g.cellHeight + Options.spacing) + Options.extrude;
}

// True when image 1 is a sheet this conversion made, of the size and depth the next one needs.
bool SameSheet(const Geometry &g, int32_t depth = SheetDepth) {
    const ImageObject *sheet = ImageRecord(SheetImage);
    return sheet && sheet->bottomUpSection && sheet->depth == depth &&
           ImageGetWidth(SheetImage) == g.sheetWidth && ImageGetHeight(SheetImage) == g.sheetHeight;
}

// The strip's pixels as rows to copy frames from: its own section's rows, or a copy at 32 bits.
struct StripRows {
    const uint8_t *bits = nullptr;
    int64_t stride = 0;
    int32_t height = 0;
    int32_t bytesPerPixel = 0;
    bool topDown = false;
    bool alpha = false;       // the fourth byte is the picture's alpha
    uint8_t *block = nullptr; // the copy, when one was made

    StripRows() = default;
    StripRows(const StripRows &) = delete;
    StripRows &operator=(const StripRows &) = delete;
    ~StripRows() { MemoryFree(block); }
};

bool ReadStripRows(StripRows *rows) {
    const ImageObject *strip = ImageRecord(StripImage);
    if (!strip || GetObjectType(strip->handle) != OBJ_BITMAP) return false; // an icon
    DIBSECTION section{};
    int32_t width = ImageGetWidth(StripImage);
    rows->height = ImageGetHeight(StripImage);
    // The loader's own sections say their row order; only the decoders make 32-bit ones top-down,
    // and they give 32 bits a pixel only to pictures with alpha.
    if (strip->loadedSection &&
        GetObjectA(strip->handle, sizeof section, &section) == sizeof section &&
        section.dsBm.bmBits && section.dsBm.bmWidth == width &&
        (section.dsBm.bmBitsPixel == 24 || section.dsBm.bmBitsPixel == 32)) {
        GdiFlush();
        rows->bits = static_cast<const uint8_t *>(section.dsBm.bmBits);
        rows->stride = section.dsBm.bmWidthBytes;
        rows->bytesPerPixel = section.dsBm.bmBitsPixel / 8;
        rows->topDown = strip->loadedSection == LoadedTopDown;
        rows->alpha = rows->topDown && rows->bytesPerPixel == 4;
        return true;
    }
    // Any other bitmap (a palette picture, one the system loader made) is read back, opaque.
    if (!ImageBytesFit(width, rows->height, 32)) return false;
    rows->stride = BitmapRowBytes(width, 32);
    rows->block = static_cast<uint8_t *>(MemoryAlloc(size_t(rows->stride) * size_t(rows->height)));
    if (!rows->block) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -rows->height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    MemoryDc memory;
    if (!memory.dc ||
        GetDIBits(memory.dc, static_cast<HBITMAP>(strip->handle), 0, UINT(rows->height),
                  rows->block, &info, DIB_RGB_COLORS) != rows->height)
        return false;
    rows->bits = rows->block;
    rows->bytesPerPixel = 4;
    rows->topDown = true;
    return true;
}

// One row of a frame with its extrusion: `extrude` copies of the first pixel, the row, and as many
// of the last. An opaque source gets alpha 255 on a 32-bit sheet.
void CopyRow(uint8_t *to, int32_t toBytes, const uint8_t *from, int32_t fromBytes, bool alpha,
             int32_t width, int32_t extrude) {
    uint8_t *row = to + int64_t(extrude) * toBytes;
    if (toBytes == fromBytes && (toBytes == 3 || alpha)) {
        memcpy(row, from, size_t(width) * size_t(toBytes));
    } else {
        uint8_t *out = row;
        for (int32_t x = 0; x < width; x++, out += toBytes, from += fromBytes) {
            out[0] = from[0];
            out[1] = from[1];
            out[2] = from[2];
            if (toBytes == 4) out[3] = alpha ? from[3] : 255;
        }
    }
    const uint8_t *last = row + int64_t(width - 1) * toBytes;
    for (int32_t k = 0; k < extrude; k++) {
        memcpy(to + int64_t(k) * toBytes, row, size_t(toBytes));
        memcpy(row + int64_t(width + k) * toBytes, last, size_t(toBytes));
    }
}

// Draws the sheet the options lay out, pixel by pixel into a 24-bit section (32-bit with alpha):
// the system's blits neither keep alpha nor repeat edges. False when the strip's pixels cannot be
// read (an icon under a strip's name, or no memory for a copy of them).
bool DrawSheetRows(const Geometry &g, bool horizontal, int32_t count, bool alphaSheet) {
    int32_t depth = alphaSheet ? 32 : SheetDepth;
    if (!SameSheet(g, depth)) ImageCreate(SheetImage, g.sheetWidth, g.sheetHeight, depth);
    const ImageObject *sheet = ImageRecord(SheetImage);
    if (!sheet) return true; // no sheet could be made: nothing is drawn, and nothing written
    DIBSECTION section{};
    if (GetObjectA(sheet->handle, sizeof section, &section) != sizeof section ||
        !section.dsBm.bmBits || section.dsBm.bmBitsPixel != depth)
        return false;
    StripRows strip;
    if (!ReadStripRows(&strip)) return false;
    GdiFlush();
    auto *bits = static_cast<uint8_t *>(section.dsBm.bmBits);
    int64_t stride = section.dsBm.bmWidthBytes;
    int32_t bytes = depth / 8;
    memset(bits, 0, size_t(stride) * size_t(g.sheetHeight)); // black, or wholly transparent
    // The section is bottom-up: the sheet's row y lies `sheetHeight - 1 - y` rows into it.
    auto row = [&](int32_t y) { return bits + stride * (g.sheetHeight - 1 - y); };
    int32_t e = Options.extrude;
    size_t cellBytes = size_t(g.cellWidth) * size_t(bytes);
    for (int32_t i = 0; i < count; i++) {
        int32_t x, y;
        FramePlace(g, i, &x, &y);
        int64_t fromX = horizontal ? int64_t(g.frameWidth) * i : 0;
        int64_t fromY = horizontal ? 0 : int64_t(g.frameHeight) * i;
        for (int32_t r = 0; r < g.frameHeight; r++) {
            int64_t stripRow = strip.topDown ? fromY + r : strip.height - 1 - (fromY + r);
            CopyRow(row(y + r) + int64_t(x - e) * bytes, bytes,
                    strip.bits + stripRow * strip.stride + fromX * strip.bytesPerPixel,
                    strip.bytesPerPixel, strip.alpha, g.frameWidth, e);
        }
        for (int32_t k = 1; k <= e; k++) {
            memcpy(row(y - k) + int64_t(x - e) * bytes, row(y) + int64_t(x - e) * bytes, cellBytes);
            memcpy(row(y + g.frameHeight - 1 + k) + int64_t(x - e) * bytes,
                   row(y + g.frameHeight - 1) + int64_t(x - e) * bytes, cellBytes);
        }
    }
    return true;
}

// A growing text in a MainHeap block; `failed` once memory ran out.
struct Text {
    char *data = nullptr;
    size_t used = 0;
    size_t capacity = 0;
    bool failed = false;
};

void Put(Text *t, const char *text, size_t length) {
    if (t->failed) return;
    if (t->used + length > t->capacity) {
        size_t capacity = t->capacity ? t->capacity : 4096;
        while (t->used + length > capacity)
            capacity *= 2;
        auto *grown = static_cast<char *>(MemoryAlloc(capacity));
        if (!grown) {
            t->failed = true;
            return;
        }
        if (t->data) memcpy(grown, t->data, t->used);
        MemoryFree(t->data);
        t->data = grown;
        t->capacity = capacity;
    }
    memcpy(t->data + t->used, text, length);
    t->used += length;
}

void Put(Text *t, const char *text) {
    Put(t, text, strlen(text));
}

void PutNumber(Text *t, int64_t value) {
    char digits[24];
    int length = snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
    Put(t, digits, size_t(length));
}

// A text of the process's code page in UTF-8 as a JSON string, quotes and escapes included.
void PutString(Text *t, const char *text) {
    wchar_t *wide = TextToWide(text);
    int utf8Length =
        wide ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr) : 0;
    auto *utf8 = utf8Length > 0 ? static_cast<char *>(MemoryAlloc(size_t(utf8Length))) : nullptr;
    if (!utf8 || WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, utf8Length, nullptr, nullptr) !=
                     utf8Length) {
        t->failed = true;
    } else {
        Put(t, "\"");
        for (const char *p = utf8; *p; p++) {
            auto c = static_cast<unsigned char>(*p);
            if (c == '"' || c == '\\') {
                char escaped[2] = {'\\', char(c)};
                Put(t, escaped, 2);
            } else if (c < 0x20) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\u%04x", c);
                Put(t, escaped, 6);
            } else {
                Put(t, p, 1);
            }
        }
        Put(t, "\"");
    }
    MemoryFree(utf8);
    MemoryFree(wide);
}

void PutSize(Text *t, const char *key, int32_t w, int32_t h) {
    Put(t, key);
    Put(t, "{\"w\": ");
    PutNumber(t, w);
    Put(t, ", \"h\": ");
    PutNumber(t, h);
    Put(t, "}");
}

void PutField(Text *t, const char *key, int64_t value) {
    Put(t, key);
    PutNumber(t, value);
}

// The name of frame i: the prefix, "_" and the frame's number.
void PutFrameName(Text *t, const char *prefix, int32_t i) {
    int32_t start = TempString.end;
    StringConcat(prefix);
    StringConcat("_");
    StringFromInteger(i, TempString.end);
    PutString(t, TempAddress(start));
    TempString.end = start;
}

// The frame data file of a sheet: where each frame lies, in the layout atlas loaders read.
void PutFrameData(Text *t, const char *prefix, const char *imageName, const Geometry &g,
                  int32_t count, bool alphaSheet) {
    Put(t, "{\n  \"frames\": {\n");
    for (int32_t i = 0; i < count && !t->failed; i++) {
        int32_t x, y;
        FramePlace(g, i, &x, &y);
        Put(t, "    ");
        PutFrameName(t, prefix, i);
        PutField(t, ": {\"frame\": {\"x\": ", x);
        PutField(t, ", \"y\": ", y);
        PutField(t, ", \"w\": ", g.frameWidth);
        PutField(t, ", \"h\": ", g.frameHeight);
        Put(t, "}, \"rotated\": false, \"trimmed\": false, \"spriteSourceSize\": {\"x\": 0, "
               "\"y\": 0, ");
        PutField(t, "\"w\": ", g.frameWidth);
        PutField(t, ", \"h\": ", g.frameHeight);
        PutSize(t, "}, \"sourceSize\": ", g.frameWidth, g.frameHeight);
        Put(t, i + 1 < count ? "},\n" : "}\n");
    }
    Put(t, "  },\n  \"animations\": {\n    ");
    PutString(t, prefix);
    Put(t, ": [");
    for (int32_t i = 0; i < count && !t->failed; i++) {
        if (i) Put(t, ", ");
        PutFrameName(t, prefix, i);
    }
    Put(t, "]\n  },\n  \"meta\": {\n    \"app\": \"StripSheet\",\n    \"version\": "
           "\"" STRIPSHEET_VERSION "\",\n    \"image\": ");
    PutString(t, imageName);
    Put(t, alphaSheet ? ",\n    \"format\": \"RGBA8888\",\n" : ",\n    \"format\": \"RGB888\",\n");
    PutSize(t, "    \"size\": ", g.sheetWidth, g.sheetHeight);
    Put(t, ",\n    \"scale\": \"1\",\n");
    PutSize(t, "    \"frameSize\": ", g.frameWidth, g.frameHeight);
    PutField(t, ",\n    \"columns\": ", g.columns);
    PutField(t, ",\n    \"rows\": ", g.rows);
    PutField(t, ",\n    \"margin\": ", Options.margin);
    PutField(t, ",\n    \"spacing\": ", Options.spacing);
    PutField(t, ",\n    \"extrude\": ", Options.extrude);
    Put(t, "\n  }\n}\n");
}

// A data file waiting for its sheet: its name and text, both MainHeap blocks (null for none).
struct FrameData {
    char *fileName;
    Text text;
};

void FrameDataFree(FrameData *data) {
    MemoryFree(data->fileName);
    MemoryFree(data->text.data);
    *data = FrameData{};
}

// The data files of the strips still Saving, oldest first, one for each (empty when none is
// asked for); they are written once their sheets are.
FrameData Waiting[ConvertSavesAtOnce];
int32_t WaitingFirst;
int32_t WaitingCount;

// The data file: written only whole, and only beside a sheet that was written.
bool WriteFrameData(FrameData *data) {
    bool written =
        !data->fileName || ImageSaveBytes(data->fileName, data->text.data, data->text.used) != 0;
    FrameDataFree(data);
    return written;
}

// The data file's name (the sheet's, with .json) and text; false when memory ran out.
bool MakeFrameData(const ConversionStrings &s, const Geometry &g, int32_t count, bool alphaSheet,
                   FrameData *data) {
    *data = FrameData{};
    int32_t start = ConcatOutputName(s, count, "json");
    const char *fileName = TempAddress(start);
    size_t size = strlen(fileName) + 1;
    data->fileName = static_cast<char *>(MemoryAlloc(size));
    if (data->fileName) memcpy(data->fileName, fileName, size);
    TempString.end = start;
    const char *imageName = s.outputName + StringLength(s.outputDirectory);
    if (data->fileName) PutFrameData(&data->text, s.prefix, imageName, g, count, alphaSheet);
    if (data->fileName && !data->text.failed) return true;
    FrameDataFree(data);
    return false;
}

ConvertOutcome Failed(ConvertOutcome why) {
    if (why != ConvertOutcome::NotAPicture) FilesErrors += 1;
    return why;
}

ConvertOutcome NotSaved() {
    return Failed(ImageLastSaveFailure() == ImageSaveFailure::ReadOnly
                      ? ConvertOutcome::ReadOnly
                      : ConvertOutcome::NotWritten);
}

// A sheet written or not, then its data file (when one is asked for): the outcome, counted.
ConvertOutcome Saved(bool written, FrameData *data) {
    if (!written) {
        FrameDataFree(data);
        return NotSaved();
    }
    if (!WriteFrameData(data)) return Failed(ConvertOutcome::NotWritten);
    FilesConverted += 1;
    return ConvertOutcome::Converted;
}

// The sheet of a run without layout options: GDI copies the frames into a black 24-bit section.
// False when a frame could not be drawn.
bool DrawPlainSheet(const Geometry &g, bool horizontal, bool vertical, int32_t count) {
    // The last sheet is drawn over when it has the size of this one (batches are mostly strips
    // of one size): a new section costs fresh memory, and the box below clears it all the same.
    if (!SameSheet(g)) ImageCreate(SheetImage, g.sheetWidth, g.sheetHeight, SheetDepth);
    bool drawing = DrawingBegin(ImageDrawTarget(SheetImage)) != nullptr;
    DrawingSetMode(ModeTransparent);
    DrawBox(0, 0, g.sheetWidth, g.sheetHeight, ColorRgb(0, 0, 0));

    // Each frame is copied straight from the strip into its cell: a bitmap of its own per frame
    // would cost a bitmap and a second copy of its pixels for every frame. A horizontal strip's
    // frames lie side by side as in a row of the sheet, so each row of cells is one copy.
    HANDLE strip = ImageHandle(StripImage);
    int32_t framesPerCopy = horizontal ? SheetColumns : 1;
    bool everyFrame = true;
    for (int32_t i = 0; i < count; i += framesPerCopy) {
        int32_t frames = count - i < framesPerCopy ? count - i : framesPerCopy;
        int32_t x = g.frameWidth * (i % SheetColumns);
        int32_t y = g.frameHeight * (i / SheetColumns);
        int32_t fromX = horizontal ? g.frameWidth * i : 0;
        int32_t fromY = vertical ? g.frameHeight * i : 0;
        if (!DrawImagePart(strip, x, y, fromX, fromY, g.frameWidth * frames, g.frameHeight) &&
            drawing)
            everyFrame = false;
    }
    DrawingEnd();
    return everyFrame;
}

} // namespace

ConvertOutcome ConvertStrip(const char *stripPath, const char *prefix, const char *extension,
                            const char *direction, int32_t count, const char *outputDirectory,
                            bool background) {
    ConversionStrings s;
    StringCopyNew(&s.stripPath, stripPath);
    StringCopyNew(&s.prefix, prefix);
    StringCopyNew(&s.extension, extension);
    StringCopyNew(&s.direction, direction);
    StringCopyNew(&s.outputDirectory, outputDirectory);

    StringAssignTemp(&s.outputName, ConcatOutputName(s, count, s.extension));

    int32_t format = FormatFor(s.extension);

    if (!ImageLoad(StripImage, s.stripPath)) {
        // A strip that was read but is too large for an image or for the memory left, or whose
        // picture is damaged part way, or one that cannot be opened, is a failed conversion; one
        // that is not a picture is counted nowhere.
        ImageLoadFailure why = ImageLastLoadFailure();
        if (why == ImageLoadFailure::Unreadable) return Failed(ConvertOutcome::Unreadable);
        if (why == ImageLoadFailure::TooLarge || why == ImageLoadFailure::NoBitmap)
            return Failed(ConvertOutcome::TooLarge);
        if (why == ImageLoadFailure::Damaged) return Failed(ConvertOutcome::Damaged);
        return Failed(ConvertOutcome::NotAPicture);
    }

    bool horizontal = StringEqual(s.direction, "H");
    bool vertical = StringEqual(s.direction, "V");
    Geometry g;
    ConvertOutcome fits = SheetGeometry(ImageGetWidth(StripImage), ImageGetHeight(StripImage),
                                        horizontal, vertical, count, &g);
    // Frames of no size, or a sheet too large: nothing sensible to write.
    if (fits != ConvertOutcome::Converted) return Failed(fits);

    // Without options the sheet is drawn as it always was; with them it is laid out pixel by pixel.
    bool alphaSheet = Options.alpha && format == ImageFormatPng;
    bool plainSheet = Options.columns == SheetColumns && Options.spacing == 0 &&
                      Options.margin == 0 && Options.extrude == 0 && !alphaSheet;
    bool everyFrame = plainSheet ? DrawPlainSheet(g, horizontal, vertical, count)
                                 : DrawSheetRows(g, horizontal, count, alphaSheet);
    // Image 2 holds the last frame cut out. An icon under a strip's name cannot be cut at all.
    int32_t last = count - 1;
    if (!ImageGrab(StripImage, FrameImage, g.frameWidth * (horizontal ? last : 0),
                   g.frameHeight * (vertical ? last : 0), g.frameWidth, g.frameHeight))
        everyFrame = false;

    // A frame that could not be cut (an icon file under a strip's name, or no memory for it)
    // would leave its cell black: such a sheet is a failed conversion, not one to write.
    if (!everyFrame) return Failed(ConvertOutcome::Damaged);
    if (!ImageExists(SheetImage)) return Failed(ConvertOutcome::NotWritten);
    FrameData data{};
    if (Options.json && !MakeFrameData(s, g, count, alphaSheet, &data))
        return Failed(ConvertOutcome::NotWritten);
    int32_t saveFormat = alphaSheet ? ImageFormatPngAlpha : format;
    if (background) {
        if (!ImageSaveStart(SheetImage, s.outputName, saveFormat)) {
            FrameDataFree(&data);
            return NotSaved();
        }
        Waiting[(WaitingFirst + WaitingCount) % ConvertSavesAtOnce] = data;
        WaitingCount += 1;
        return ConvertOutcome::Saving;
    }
    return Saved(ImageSave(SheetImage, s.outputName, saveFormat) != 0, &data);
}

ConvertOutcome ConvertStripFinish() {
    FrameData data{};
    if (WaitingCount > 0) {
        data = Waiting[WaitingFirst];
        Waiting[WaitingFirst] = FrameData{};
        WaitingFirst = (WaitingFirst + 1) % ConvertSavesAtOnce;
        WaitingCount -= 1;
    }
    return Saved(ImageSaveFinish() != 0, &data);
}

void ConvertStripAhead(const char *stripPath) {
    ImageLoadAhead(stripPath);
}

void ConvertRuntimeInit() {
    ModuleHandle = GetModuleHandleA(nullptr);
    MainHeapInit();
    TempStringInit();
    ObjectHeapInit();
    DrawingInit();
    ImageDecoderListReset();
    ImageLibraryInit();
}

void ConvertSetOptions(const SheetOptions &options) {
    Options = options;
}
