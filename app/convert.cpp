// The strip-to-sheet conversion: image 0 holds the strip, image 1 the sheet, image 2 the frame
// just cut out. The numbers are reused by every conversion and never freed here.
#include "app/convert.h"

#include "app/batch.h"
#include "runtime/drawing/drawing.h"
#include "runtime/image/image.h"
#include "runtime/image/image_load.h"
#include "runtime/image/image_save.h"
#include "runtime/strings/strings.h"

namespace {

constexpr ObjectId StripImage = 0;
constexpr ObjectId SheetImage = 1;
constexpr ObjectId FrameImage = 2;
constexpr int32_t SheetColumns = 8;
// The sheet is a 24-bit section rather than a display-compatible bitmap: it keeps the strip's
// colours exactly whatever the display's depth, and saving takes its rows as they are.
constexpr int32_t SheetDepth = 24;
static_assert(ConvertSavesAtOnce <= ImageSaveSlots, "every strip Saving needs a save slot");

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
    int64_t columns = count < SheetColumns ? count : SheetColumns;
    int64_t rows = (int64_t(count) + SheetColumns - 1) / SheetColumns;
    int64_t width = columns * g->frameWidth;
    int64_t height = rows * g->frameHeight;
    // The sheet is a display-compatible bitmap: 32 bits a pixel at most.
    if (width > ImageMaxSize || height > ImageMaxSize ||
        !ImageBytesFit(int32_t(width), int32_t(height), 32))
        return ConvertOutcome::TooLarge;
    g->sheetWidth = int32_t(width);
    g->sheetHeight = int32_t(height);
    return ConvertOutcome::Converted;
}

// True when image 1 is a sheet this conversion made, of the size the next one needs.
bool SameSheet(const Geometry &g) {
    const ImageObject *sheet = ImageRecord(SheetImage);
    return sheet && sheet->bottomUpSection && sheet->depth == SheetDepth &&
           ImageGetWidth(SheetImage) == g.sheetWidth && ImageGetHeight(SheetImage) == g.sheetHeight;
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

    int32_t start = TempString.end;
    StringConcat(s.outputDirectory);
    StringConcat(s.prefix);
    StringConcat("_B");
    StringFromInteger(count, TempString.end);
    StringConcat(".");
    StringConcat(s.extension);
    StringAssignTemp(&s.outputName, start);

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
    // Image 2 holds the last frame cut out. An icon under a strip's name cannot be cut at all.
    int32_t last = count - 1;
    if (!ImageGrab(StripImage, FrameImage, g.frameWidth * (horizontal ? last : 0),
                   g.frameHeight * (vertical ? last : 0), g.frameWidth, g.frameHeight))
        everyFrame = false;

    // A frame that could not be cut (an icon file under a strip's name, or no memory for it)
    // would leave its cell black: such a sheet is a failed conversion, not one to write.
    if (!everyFrame) return Failed(ConvertOutcome::Damaged);
    if (!ImageExists(SheetImage)) return Failed(ConvertOutcome::NotWritten);
    if (background) {
        if (!ImageSaveStart(SheetImage, s.outputName, format)) return NotSaved();
        return ConvertOutcome::Saving;
    }
    if (!ImageSave(SheetImage, s.outputName, format)) return NotSaved();
    FilesConverted += 1;
    return ConvertOutcome::Converted;
}

ConvertOutcome ConvertStripFinish() {
    if (!ImageSaveFinish()) return NotSaved();
    FilesConverted += 1;
    return ConvertOutcome::Converted;
}
