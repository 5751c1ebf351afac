// The strip-to-sheet conversion: image 0 holds the strip, image 1 the sheet (or an atlas page),
// image 2 the last frame cut out. The numbers are reused by every conversion and never freed
// here. The layout, the pixels and the data file are made by their own modules; this is the flow
// from a strip to the files written, and what is counted.
#include "app/convert.h"

#include "app/atlas.h"
#include "app/batch.h"
#include "app/frame_data.h"
#include "app/name_set.h"
#include "app/sheet_compose.h"
#include "app/sheet_layout.h"
#include "runtime/drawing/drawing.h"
#include "runtime/image/image.h"
#include "runtime/image/image_codec.h"
#include "runtime/image/image_load.h"
#include "runtime/image/image_save.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <cstring>

namespace {

constexpr ObjectId StripImage = 0;
constexpr ObjectId SheetImage = 1;
constexpr ObjectId FrameImage = 2;
constexpr int32_t SheetColumns = 8;
// The packer's pages in PNG (an atlas's, or a strip's own packed sheet) are compressed at zlib's
// level 6, a grid sheet's at 9 (the PNG encoders' quality scale). On 195 strips of game art, level
// 9 took four times as long on the atlas's one page, which the run waits for at its end, and the
// strips' packed sheets twice the batch's time, for files a tenth and a sixth smaller.
constexpr int32_t PackedPageQuality = 4;

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
int32_t ConcatOutputName(const char *outputDirectory, const char *prefix, int32_t count,
                         const char *extension) {
    int32_t start = TempString.end;
    StringConcat(outputDirectory);
    StringConcat(prefix);
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

// A sheet on its way to its file, and what follows once it is written: its data file (none when
// `dataName` is null). A MainHeap record; one being saved in the background is its save's tag.
struct PendingSheet {
    char *stripPath;
    char *dataName;
    Text data;
};

void PendingFree(PendingSheet *pending) {
    if (!pending) return;
    MemoryFree(pending->stripPath);
    MemoryFree(pending->dataName);
    TextFree(&pending->data);
    MemoryFree(pending);
}

// The record of the save ConvertStripFinish took last: its strip's path is the caller's until
// the next call.
PendingSheet *Finished;

ConvertOutcome Failed(ConvertOutcome why) {
    if (why != ConvertOutcome::NotAPicture) FilesErrors += 1;
    return why;
}

// Why the last save failed.
ConvertOutcome SaveFailure() {
    return ImageLastSaveFailure() == ImageSaveFailure::ReadOnly ? ConvertOutcome::ReadOnly
                                                                : ConvertOutcome::NotWritten;
}

ConvertOutcome NotSaved() {
    return Failed(SaveFailure());
}

// A sheet written or not, then its data file (written only whole, and only beside a sheet that
// was written): the outcome, counted.
ConvertOutcome Saved(bool written, PendingSheet *pending) {
    if (!written) return NotSaved();
    if (pending->dataName &&
        !ImageSaveBytes(pending->dataName, pending->data.data, pending->data.used))
        return Failed(ConvertOutcome::NotWritten);
    FilesConverted += 1;
    return ConvertOutcome::Converted;
}

// A strip that could not be loaded: one that was read but is too large for an image or for the
// memory left, whose picture is damaged part way, or that cannot be opened, is a failed
// conversion; one that is not a picture is counted nowhere.
ConvertOutcome LoadFailed() {
    ImageLoadFailure why = ImageLastLoadFailure();
    if (why == ImageLoadFailure::Unreadable) return Failed(ConvertOutcome::Unreadable);
    if (why == ImageLoadFailure::TooLarge || why == ImageLoadFailure::NoBitmap)
        return Failed(ConvertOutcome::TooLarge);
    if (why == ImageLoadFailure::Damaged) return Failed(ConvertOutcome::Damaged);
    return Failed(ConvertOutcome::NotAPicture);
}

// The record of a sheet to save, with its data file's name and text when /json asks for one
// (`describe` puts the text); SameName when an earlier strip of the run took that name, and
// NotWritten when memory runs out.
template <typename Describe>
ConvertOutcome Pending(const ConversionStrings &s, int32_t count, PendingSheet **pending,
                       Describe describe) {
    *pending = static_cast<PendingSheet *>(MemoryAlloc(sizeof(PendingSheet)));
    if (!*pending || !((*pending)->stripPath = MemoryTextCopy(s.stripPath))) {
        PendingFree(*pending);
        return ConvertOutcome::NotWritten;
    }
    if (!Options.json) return ConvertOutcome::Converted;
    int32_t start = ConcatOutputName(s.outputDirectory, s.prefix, count, "json");
    (*pending)->dataName = MemoryTextCopy(TempAddress(start));
    TempString.end = start;
    ConvertOutcome outcome = ConvertOutcome::Converted;
    const char *dataName = (*pending)->dataName;
    if (!dataName)
        outcome = ConvertOutcome::NotWritten;
    else if (!NameSetAdd(dataName + StringLength(s.outputDirectory), true))
        outcome = ConvertOutcome::SameName;
    else
        describe(&(*pending)->data, s.outputName + StringLength(s.outputDirectory));
    if (outcome == ConvertOutcome::Converted && (*pending)->data.failed)
        outcome = ConvertOutcome::NotWritten;
    if (outcome != ConvertOutcome::Converted) {
        PendingFree(*pending);
        *pending = nullptr;
    }
    return outcome;
}

// Saves image 1 as the sheet, at once or in the background (then the record goes with the save).
ConvertOutcome SaveSheet(const ConversionStrings &s, int32_t format, int32_t quality,
                         PendingSheet *pending, bool background) {
    if (background) {
        if (ImageSaveStart(SheetImage, s.outputName, format, quality,
                           reinterpret_cast<intptr_t>(pending)))
            return ConvertOutcome::Saving;
        PendingFree(pending);
        return NotSaved();
    }
    ConvertOutcome outcome =
        Saved(ImageSave(SheetImage, s.outputName, format, quality) != 0, pending);
    PendingFree(pending);
    return outcome;
}

// The strip's frames drawn pixel by pixel onto the grid; false when the strip's pixels cannot be
// read (an icon under a strip's name, or no memory for a copy of them) or no sheet can be made.
bool DrawGridRows(const GridLayout &g, bool horizontal, int32_t count, bool alphaSheet,
                  int32_t frameWidth, int32_t frameHeight) {
    StripPixels strip;
    PixelRows page;
    if (!StripPixelsRead(StripImage, &strip) ||
        !PageBegin(SheetImage, g.page.width, g.page.height, alphaSheet ? 32 : 24, &page))
        return false;
    for (int32_t i = 0; i < count; i++) {
        FramePlace place = GridPlace(Options, g, i);
        PageDrawFrame(page, strip.rows, horizontal ? frameWidth * i : 0,
                      horizontal ? 0 : frameHeight * i, frameWidth, frameHeight, place.x, place.y,
                      Options.scale, Options.extrude);
    }
    return true;
}

// Eight frames a row, side by side, each its own size: the grid a sheet without options has.
bool PlainGrid() {
    return Options.columns == SheetColumns && Options.spacing == 0 && Options.margin == 0 &&
           Options.extrude == 0 && Options.scale == 1;
}

ConvertOutcome GridSheet(const ConversionStrings &s, int32_t format, bool horizontal, int32_t count,
                         int32_t frameWidth, int32_t frameHeight, bool background) {
    GridLayout g;
    // A sheet too large: nothing sensible to write.
    if (GridLayoutMake(Options, frameWidth, frameHeight, count, &g) != LayoutFit::Fits)
        return Failed(ConvertOutcome::TooLarge);

    // Without options the sheet is drawn as it always was; with them it is laid out pixel by pixel.
    bool alphaSheet = Options.alpha && format == ImageFormatPng;
    bool plainSheet = PlainGrid() && !alphaSheet;
    bool everyFrame = plainSheet
                          ? DrawPlainSheet(SheetImage, StripImage, horizontal, count, frameWidth,
                                           frameHeight, g.page.width, g.page.height)
                          : DrawGridRows(g, horizontal, count, alphaSheet, frameWidth, frameHeight);
    // Image 2 holds the last frame cut out. An icon under a strip's name cannot be cut at all.
    int32_t last = count - 1;
    if (!ImageGrab(StripImage, FrameImage, horizontal ? frameWidth * last : 0,
                   horizontal ? 0 : frameHeight * last, frameWidth, frameHeight))
        everyFrame = false;

    // A frame that could not be cut (an icon file under a strip's name, or no memory for it)
    // would leave its cell black: such a sheet is a failed conversion, not one to write.
    if (!everyFrame) return Failed(ConvertOutcome::Damaged);
    if (!ImageExists(SheetImage)) return Failed(ConvertOutcome::NotWritten);
    PendingSheet *pending = nullptr;
    ConvertOutcome described = Pending(s, count, &pending, [&](Text *text, const char *image) {
        auto *places = static_cast<FramePlace *>(MemoryAlloc(sizeof(FramePlace) * size_t(count)));
        if (!places) {
            text->failed = true;
            return;
        }
        for (int32_t i = 0; i < count; i++)
            places[i] = GridPlace(Options, g, i);
        DataStrip strip = {s.prefix, count, g.frameWidth, g.frameHeight, places};
        DataPage page = {image, g.page, alphaSheet, &g, nullptr, 0};
        FrameDataPut(text, Options, page, &strip, 1);
        MemoryFree(places);
    });
    if (described != ConvertOutcome::Converted) return Failed(described);
    return SaveSheet(s, alphaSheet ? ImageFormatPngAlpha : format, ImageDefaultQuality, pending,
                     background);
}

// The strip's frames into the packed layout; the outcome when they cannot go there.
ConvertOutcome AddToLayout(const ConversionStrings &s, bool horizontal, int32_t count,
                           int32_t frameWidth, int32_t frameHeight) {
    StripPixels strip;
    if (!StripPixelsRead(StripImage, &strip)) return ConvertOutcome::Damaged;
    // Frames the memory left cannot hold make the strip too large, as a strip it cannot load.
    if (AtlasAddStrip(s.stripPath, s.prefix, strip.rows, horizontal, count, frameWidth,
                      frameHeight) != AtlasAdd::Added)
        return ConvertOutcome::TooLarge;
    return ConvertOutcome::Converted;
}

// A sheet of its own strip's frames, packed.
ConvertOutcome PackedSheet(const ConversionStrings &s, int32_t format, bool horizontal,
                           int32_t count, int32_t frameWidth, int32_t frameHeight,
                           bool background) {
    bool alphaSheet = Options.alpha && format == ImageFormatPng;
    AtlasStart(Options, alphaSheet);
    ConvertOutcome outcome = AddToLayout(s, horizontal, count, frameWidth, frameHeight);
    if (outcome == ConvertOutcome::Converted && !AtlasLayout()) outcome = ConvertOutcome::TooLarge;
    if (outcome == ConvertOutcome::Converted && !AtlasDrawPage(0, SheetImage))
        outcome = ConvertOutcome::NotWritten;
    PendingSheet *pending = nullptr;
    if (outcome == ConvertOutcome::Converted)
        outcome = Pending(s, count, &pending, [](Text *text, const char *image) {
            AtlasPutData(0, image, nullptr, 0, text);
        });
    AtlasEnd();
    if (outcome != ConvertOutcome::Converted) return Failed(outcome);
    // A JPEG sheet keeps its quality: for PNG alone the quality is how hard to compress.
    return SaveSheet(s, alphaSheet ? ImageFormatPngAlpha : format,
                     format == ImageFormatPng ? PackedPageQuality : ImageDefaultQuality, pending,
                     background);
}

// The strip's frames into the run's atlas, under its prefix.
ConvertOutcome IntoAtlas(const ConversionStrings &s, bool horizontal, int32_t count,
                         int32_t frameWidth, int32_t frameHeight) {
    if (NameSetHas(s.prefix, false)) return Failed(ConvertOutcome::SameName);
    ConvertOutcome outcome = AddToLayout(s, horizontal, count, frameWidth, frameHeight);
    if (outcome != ConvertOutcome::Converted) return Failed(outcome);
    if (!NameSetAdd(s.prefix, false)) return Failed(ConvertOutcome::TooLarge);
    return ConvertOutcome::InAtlas;
}

// The file name of an atlas page's picture or data: "<folder><name>.<extension>" for a single
// page, else "<folder><name>-<page>.<extension>". A MainHeap copy; null when memory runs out.
char *PageFileName(const char *folder, int32_t page, int32_t pages, const char *extension) {
    int32_t start = TempString.end;
    StringConcat(folder);
    StringConcat(Options.atlas);
    if (pages > 1) {
        StringConcat("-");
        StringFromInteger(page, TempString.end);
    }
    StringConcat(".");
    StringConcat(extension);
    char *name = MemoryTextCopy(TempAddress(start));
    TempString.end = start;
    return name;
}

// A sheet without options, eight frames a row and nothing written beside it, is made on the
// thread that reads its strip ahead (ConvertStripAhead), as DrawPlainSheet would draw it.
bool SheetMadeAhead() {
    return !Options.atlas[0] && !SheetOptionsPacked(Options) && PlainGrid() && !Options.alpha &&
           !Options.json && !Options.pot && Options.maxSize == 0;
}

// What the reading thread is told of a strip: its count, negative for a vertical strip (a count
// is at least 1 and fits 31 bits, as does an intptr_t of the 32-bit program).
intptr_t AheadHow(int32_t count, bool horizontal) {
    return horizontal ? intptr_t(count) : -intptr_t(count);
}

int32_t AheadCount(intptr_t how) {
    return int32_t(how < 0 ? -how : how);
}

bool AheadSheetSize(intptr_t how, int32_t stripWidth, int32_t stripHeight, int32_t *width,
                    int32_t *height) {
    int32_t frameWidth = 0, frameHeight = 0;
    GridLayout g;
    if (StripFrameSize(stripWidth, stripHeight, how > 0, AheadCount(how), &frameWidth,
                       &frameHeight) != LayoutFit::Fits ||
        GridLayoutMake(SheetOptions(), frameWidth, frameHeight, AheadCount(how), &g) !=
            LayoutFit::Fits)
        return false;
    *width = g.page.width;
    *height = g.page.height;
    return true;
}

void AheadSheetDraw(intptr_t how, const uint8_t *strip, int64_t stripStride, int32_t stripWidth,
                    int32_t stripHeight, uint8_t *sheet, int64_t sheetStride, int32_t width,
                    int32_t height) {
    int32_t frameWidth = 0, frameHeight = 0;
    StripFrameSize(stripWidth, stripHeight, how > 0, AheadCount(how), &frameWidth, &frameHeight);
    PixelRows from{const_cast<uint8_t *>(strip), stripStride, 3, false};
    PixelRows to{sheet, sheetStride, 3, false};
    CopyPlainSheet(to, width, height, from, how > 0, AheadCount(how), frameWidth, frameHeight);
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

    StringAssignTemp(&s.outputName,
                     ConcatOutputName(s.outputDirectory, s.prefix, count, s.extension));

    int32_t format = FormatFor(s.extension);

    // A sheet made as its strip was read ahead is only renamed here; a strip it was not made of
    // (one of the failures below among them) is loaded and cut as always.
    if (background && SheetMadeAhead()) {
        int32_t written = ImageSheetAheadTake(StripImage, s.stripPath, s.outputName);
        if (written == 1) {
            FilesConverted += 1;
            return ConvertOutcome::Converted;
        }
        if (written == 0) return NotSaved();
    }

    if (!ImageLoad(StripImage, s.stripPath)) return LoadFailed();

    bool horizontal = StringEqual(s.direction, "H");
    int32_t frameWidth = 0, frameHeight = 0;
    // Frames of no size: nothing sensible to write.
    if (StripFrameSize(ImageGetWidth(StripImage), ImageGetHeight(StripImage), horizontal, count,
                       &frameWidth, &frameHeight) != LayoutFit::Fits)
        return Failed(ConvertOutcome::TooManyFrames);
    if (Options.atlas[0]) return IntoAtlas(s, horizontal, count, frameWidth, frameHeight);
    if (SheetOptionsPacked(Options))
        return PackedSheet(s, format, horizontal, count, frameWidth, frameHeight, background);
    return GridSheet(s, format, horizontal, count, frameWidth, frameHeight, background);
}

int32_t ConvertStripsSaving() {
    return ImageSavesQueued();
}

ConvertOutcome ConvertStripFinish(const char **stripPath) {
    PendingFree(Finished);
    intptr_t tag = 0;
    bool written = ImageSaveFinish(&tag) != 0;
    Finished = reinterpret_cast<PendingSheet *>(tag);
    if (!Finished) {
        *stripPath = "";
        return Failed(ConvertOutcome::NotWritten);
    }
    *stripPath = Finished->stripPath;
    return Saved(written, Finished);
}

void ConvertBatchBegin() {
    PendingFree(Finished);
    Finished = nullptr;
    NameSetClear();
    if (Options.atlas[0]) AtlasStart(Options, Options.alpha);
}

void ConvertBatchEnd(bool stopped, const char *outputDirectory, const ConvertEndReport &report) {
    if (!Options.atlas[0]) return;
    int32_t strips = AtlasStripCount();
    if (stopped || !strips) {
        report.Line(stopped ? "no atlas written: the run was stopped"
                            : "no atlas written: no strip was converted");
        AtlasEnd();
        return;
    }
    int32_t pages = AtlasLayout();
    // Each page's outcome and file names; without memory for them, no page is written.
    auto *outcomes =
        static_cast<ConvertOutcome *>(MemoryAlloc(sizeof(ConvertOutcome) * size_t(pages) + 1));
    auto **names = static_cast<char **>(MemoryAlloc(2 * sizeof(char *) * size_t(pages) + 1));
    bool named = outcomes && names;
    int32_t laidOut = names ? pages : 0;
    for (int32_t page = 0; named && page < pages; page++) {
        names[2 * page] = PageFileName(outputDirectory, page, pages, "png");
        names[2 * page + 1] = PageFileName(outputDirectory, page, pages, "json");
        named = names[2 * page] && names[2 * page + 1];
    }
    if (!named) pages = 0;
    size_t folderLength = strlen(outputDirectory);
    auto finishOldest = [&] {
        intptr_t page = 0;
        if (!ImageSaveFinish(&page)) outcomes[page] = SaveFailure();
    };
    int32_t format = Options.alpha ? ImageFormatPngAlpha : ImageFormatPng;
    // Each page but the last is written on a saving thread from a copy of its rows while the next
    // is drawn; the last, once the frames' pixels are let go, from its own rows on this thread.
    for (int32_t page = 0; page < pages; page++) {
        if (ImageSavesQueued() == ImageSaveSlots) finishOldest();
        outcomes[page] = ConvertOutcome::NotWritten;
        if (!AtlasDrawPage(page, SheetImage)) continue;
        if (page < pages - 1) {
            if (ImageSaveStart(SheetImage, names[2 * page], format, PackedPageQuality, page))
                outcomes[page] = ConvertOutcome::Converted;
            continue;
        }
        AtlasPixelsFree();
        outcomes[page] = ImageSave(SheetImage, names[2 * page], format, PackedPageQuality)
                             ? ConvertOutcome::Converted
                             : SaveFailure();
    }
    while (ImageSavesQueued() > 0)
        finishOldest();

    // The data files, each beside a page that was written, naming the others that were.
    size_t nameRoom = strlen(Options.atlas) + 16;
    auto *related = Options.json && pages
                        ? static_cast<char *>(MemoryAlloc(nameRoom * size_t(pages)))
                        : nullptr;
    for (int32_t page = 0; Options.json && page < pages; page++) {
        if (outcomes[page] != ConvertOutcome::Converted) continue;
        int32_t count = 0;
        char *at = related;
        for (int32_t other = 0; related && other < pages; other++) {
            if (other == page || outcomes[other] != ConvertOutcome::Converted) continue;
            strcpy(at, names[2 * other + 1] + folderLength);
            at += strlen(at) + 1;
            count += 1;
        }
        Text text;
        if (related) AtlasPutData(page, names[2 * page] + folderLength, related, count, &text);
        if (!related || text.failed || !ImageSaveBytes(names[2 * page + 1], text.data, text.used))
            outcomes[page] = ConvertOutcome::NotWritten;
        TextFree(&text);
    }
    MemoryFree(related);

    for (int32_t strip = 0; strip < strips; strip++) {
        ConvertOutcome outcome =
            pages ? outcomes[AtlasStripPage(strip)] : ConvertOutcome::NotWritten;
        if (outcome == ConvertOutcome::Converted) {
            FilesConverted += 1;
        } else {
            FilesErrors += 1;
            report.Strip(AtlasStripPath(strip), outcome);
        }
    }
    for (int32_t page = 0; page < pages; page++) {
        if (outcomes[page] != ConvertOutcome::Converted) continue;
        int32_t start = TempString.end;
        StringConcat("written: ");
        StringConcat(names[2 * page]);
        char *line = MemoryTextCopy(TempAddress(start));
        TempString.end = start;
        if (line) report.Line(line);
        MemoryFree(line);
    }
    for (int32_t k = 0; k < 2 * laidOut; k++)
        MemoryFree(names[k]);
    MemoryFree(names);
    MemoryFree(outcomes);
    AtlasEnd();
}

void ConvertStripAhead(const char *stripPath, const char *prefix, const char *extension,
                       const char *direction, int32_t count, const char *outputDirectory) {
    if (!stripPath || !prefix || !SheetMadeAhead()) {
        ImageLoadAhead(stripPath);
        return;
    }
    int32_t start = ConcatOutputName(outputDirectory, prefix, count, extension);
    ImageAheadSheet sheet = {
        AheadSheetSize,     AheadSheetDraw,       AheadHow(count, StringEqual(direction, "H")),
        TempAddress(start), FormatFor(extension), ImageDefaultQuality};
    ImageLoadAhead(stripPath, &sheet);
    TempString.end = start;
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
