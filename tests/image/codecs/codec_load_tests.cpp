// The PNG and JPEG codecs registered with the image library: files loaded with ImageLoad, images
// saved with ImageSave, strips converted through ConvertStrip, and damaged files thrown at the
// whole loading chain.
#include "app/batch.h"
#include "app/convert.h"
#include "runtime/drawing/drawing.h"
#include "runtime/image/codecs/jpeg_codec.h"
#include "runtime/image/codecs/png_codec.h"
#include "runtime/image/image.h"
#include "runtime/image/image_load.h"
#include "runtime/image/image_save.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "tests/drawing/gdi_check.h"
#include "tests/image/codecs/codec_samples.h"
#include "tests/support/test_support.h"
#include "tests/system/import_patch.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr ObjectId Loaded = 5;

// The pixels of a loaded image, red-green-blue(-alpha), top row first: the colours as the system
// reads them back (which also settles the row order), the alpha from the section's own memory,
// whose first row is the top one.
Picture LoadedPicture(ObjectId id, bool keepAlpha = true) {
    DIBSECTION section{};
    if (GetObjectA(ImageHandle(id), sizeof section, &section) != sizeof section) return Picture{};
    const BITMAP &bitmap = section.dsBm;
    std::vector<COLORREF> colours = ReadPixels(static_cast<HBITMAP>(ImageHandle(id)));
    Picture picture{
        bitmap.bmWidth, bitmap.bmHeight, bitmap.bmBitsPixel == 32 && keepAlpha ? 4 : 3, {}};
    if (colours.size() != size_t(picture.width) * picture.height) return Picture{};
    for (int32_t y = 0; y < picture.height; ++y) {
        const auto *row = static_cast<const uint8_t *>(bitmap.bmBits) + y * bitmap.bmWidthBytes;
        for (int32_t x = 0; x < picture.width; ++x) {
            COLORREF c = colours[size_t(y) * picture.width + x];
            picture.samples.insert(picture.samples.end(),
                                   {GetRValue(c), GetGValue(c), GetBValue(c)});
            if (picture.channels == 4) picture.samples.push_back(row[4 * x + 3]);
        }
    }
    return picture;
}

// The sheet the layout rules give: frame i of `strip` (cut at i * frame size along the
// direction) at column i mod 8, row i div 8, on black.
Picture ExpectedSheet(const Picture &strip, bool horizontal, int count) {
    int32_t fw = horizontal ? strip.width / count : strip.width;
    int32_t fh = horizontal ? strip.height : strip.height / count;
    Picture sheet{fw * std::min(count, 8), fh * ((count + 7) / 8), 3, {}};
    sheet.samples.assign(size_t(sheet.width) * sheet.height * 3, 0);
    for (int i = 0; i < count; ++i) {
        int32_t sx = horizontal ? fw * i : 0, sy = horizontal ? 0 : fh * i;
        int32_t dx = fw * (i % 8), dy = fh * (i / 8);
        for (int32_t y = 0; y < fh; ++y)
            memcpy(sheet.samples.data() + (size_t(dy + y) * sheet.width + dx) * 3,
                   strip.samples.data() + (size_t(sy + y) * strip.width + sx) * 3, size_t(fw) * 3);
    }
    return sheet;
}

class Library : public ::testing::Test {
  protected:
    void SetUp() override {
        // The runtime as the program starts it, with the codecs registered in the program's order.
        static bool started;
        if (!started) {
            started = true;
            ConvertRuntimeInit();
            PngDecoderRegister();
            PngEncoderRegister();
            JpegDecoderRegister();
            JpegEncoderRegister();
        }
        ASSERT_TRUE(FileExists(SamplePath("manifest.txt"))) << "no samples";
    }
};

} // namespace

// The bytes of MainHeap's blocks in use.
long long MainHeapInUse() {
    PROCESS_HEAP_ENTRY entry{};
    long long used = 0;
    HeapLock(MainHeap);
    while (HeapWalk(MainHeap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) used += entry.cbData;
    HeapUnlock(MainHeap);
    return used;
}

// What a batch keeps for its next strips and sheets (each saving slot's copy of the rows and the
// block it gathers a file in, the blocks the workers and the batch's thread read files into, the
// block the batch's thread gathers its own saves in) goes back when the library ends.
// First in the file: a block an earlier test left kept would already count in `before`, and one
// the library's end forgot to free would go unseen.
TEST_F(Library, TheBlocksKeptForTheNextStripsAndSheetsGoBackWhenTheLibraryEnds) {
    std::vector<SampleEntry> entries = SampleEntries("jpeg-decode");
    ASSERT_GE(entries.size(), 3u);
    ImageLibraryEnd();
    long long before = MainHeapInUse();
    // Time for a worker to read the first file, which the batch's thread would otherwise read.
    ImageLoadAhead(entries[0].file.c_str());
    Sleep(50);
    for (size_t i = 0; i < 3; i++) {
        if (i + 1 < 3) ImageLoadAhead(entries[i + 1].file.c_str());
        ASSERT_NE(ImageLoad(Loaded, entries[i].file.c_str()), 0) << entries[i].file;
    }
    // A sheet made where its strip is read ahead: its rows and gathering block are kept too.
    static const auto size = [](intptr_t, int32_t w, int32_t h, int32_t *width, int32_t *height) {
        *width = w;
        *height = h;
        return true;
    };
    static const auto copy = [](intptr_t, const uint8_t *strip, int64_t stripStride, int32_t,
                                int32_t, uint8_t *sheet, int64_t sheetStride, int32_t width,
                                int32_t height) {
        for (int32_t y = 0; y < height; y++)
            memcpy(sheet + y * sheetStride, strip + y * stripStride, size_t(width) * 3);
    };
    std::string ahead = WrittenFolder() + "ahead.bmp";
    const ImageAheadSheet sheet = {size, copy, 0, ahead.c_str(), ImageFormatBmp, 0};
    ImageLoadAhead(entries[0].file.c_str(), &sheet);
    EXPECT_EQ(ImageSheetAheadTake(Loaded, entries[0].file.c_str(), ahead.c_str()), 1);
    ASSERT_NE(ImageLoad(Loaded, ahead.c_str()), 0);
    EXPECT_EQ(MaxDifference(LoadedPicture(Loaded), ExpectedPicture(entries[0].argument)), 0);
    // A bitmap sheet over 4 MB is made there too, in a block kept apart (its bytes are the
    // conversion tests'); the 32-bit program leaves it to the batch's thread.
    constexpr bool wide = sizeof(void *) == 8;
    constexpr int32_t Side = 1200;
    static const auto large = [](intptr_t, int32_t, int32_t, int32_t *width, int32_t *height) {
        *width = *height = Side;
        return true;
    };
    static const auto fill = [](intptr_t, const uint8_t *, int64_t, int32_t, int32_t,
                                uint8_t *sheet, int64_t sheetStride, int32_t width,
                                int32_t height) {
        for (int32_t y = 0; y < height; y++)
            memset(sheet + y * sheetStride, y % 251, size_t(width) * 3);
    };
    std::string big = WrittenFolder() + "large.bmp";
    const ImageAheadSheet bigSheet = {large, fill, 0, big.c_str(), ImageFormatBmp, 0};
    ImageLoadAhead(entries[1].file.c_str(), &bigSheet);
    EXPECT_EQ(ImageSheetAheadTake(Loaded, entries[1].file.c_str(), big.c_str()), wide ? 1 : -1);
    if (wide) EXPECT_GE(MainHeapInUse() - before, Side * Side * 3);
    // A sheet as the conversion makes it, a bottom-up section, saved through every slot.
    constexpr int32_t Width = 300, Height = 200;
    ASSERT_NE(ImageCreate(Loaded + 1, Width, Height, 24), 0);
    for (const char *extension : {".bmp", ".png"}) {
        int32_t format = extension[1] == 'b' ? ImageFormatBmp : ImageFormatPng;
        for (int32_t i = 0; i < ImageSaveSlots; i++) {
            std::string name = WrittenFolder() + "kept" + std::to_string(i) + extension;
            ASSERT_EQ(ImageSaveStart(Loaded + 1, name.c_str(), format), 1);
        }
        for (int32_t i = 0; i < ImageSaveSlots; i++)
            EXPECT_EQ(ImageSaveFinish(), 1);
        EXPECT_EQ(ImageSave(Loaded + 1, (WrittenFolder() + "kept" + extension).c_str(), format), 1);
    }
    EXPECT_GE(MainHeapInUse() - before, ImageSaveSlots * Width * Height * 3);
    ImageLibraryEnd();
    EXPECT_LT(MainHeapInUse() - before, 4096);
}

// Each file but the first is read ahead while the one before it is loaded, as a batch does.
TEST_F(Library, PngAndJpegFilesLoadAsTopDownSectionsWithTheIndependentDecodersPixels) {
    std::vector<SampleEntry> entries = SampleEntries("png-decode");
    for (const SampleEntry &entry : SampleEntries("jpeg-decode"))
        entries.push_back(entry);
    EXPECT_GE(entries.size(), 170u);
    for (size_t i = 0; i < entries.size(); i++) {
        const std::string &file = entries[i].file;
        Picture want = ExpectedPicture(entries[i].argument);
        if (i + 1 < entries.size()) ImageLoadAhead(entries[i + 1].file.c_str());
        ASSERT_NE(ImageLoad(Loaded, file.c_str()), 0) << file;
        EXPECT_EQ(ImageRecord(Loaded)->depth, want.channels == 4 ? 32 : 24) << file;
        EXPECT_EQ(ImageRecord(Loaded)->loadedSection, LoadedTopDown) << file;
        EXPECT_EQ(MaxDifference(LoadedPicture(Loaded), want), 0) << file;
    }
    // Two named at once: ImageLoad of the first reads it, or the second while the reading thread
    // reads the first, so that two pictures are decoded at once.
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        ImageLoadAhead(entries[i].file.c_str());
        ImageLoadAhead(entries[i + 1].file.c_str());
        for (size_t k = i; k < i + 2; k++) {
            ASSERT_NE(ImageLoad(Loaded, entries[k].file.c_str()), 0) << entries[k].file;
            EXPECT_EQ(MaxDifference(LoadedPicture(Loaded), ExpectedPicture(entries[k].argument)), 0)
                << entries[k].file;
        }
    }
    // One file more than are kept, named before any is loaded, drops the oldest, which ImageLoad
    // then reads itself.
    constexpr size_t named = ImageFilesAhead + 1;
    for (size_t i = 0; i < named; i++)
        ImageLoadAhead(entries[i].file.c_str());
    for (size_t i = 0; i < named; i++) {
        ASSERT_NE(ImageLoad(Loaded, entries[i].file.c_str()), 0) << entries[i].file;
        EXPECT_EQ(MaxDifference(LoadedPicture(Loaded), ExpectedPicture(entries[i].argument)), 0)
            << entries[i].file;
    }
    ImageLoadAhead(nullptr);
    ImageFree(Loaded);
}

// The colours of any image, as the system reads them back.
Picture Colours(ObjectId id) {
    Picture picture{ImageGetWidth(id), ImageGetHeight(id), 3, {}};
    for (COLORREF c : ReadPixels(static_cast<HBITMAP>(ImageHandle(id))))
        picture.samples.insert(picture.samples.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
    return picture;
}

// Bitmap files of every kind (make_samples.py): the image's pixels and the sheet cut from it into
// three frames are the independent decoder's, whatever the file's depth, colour table, bit masks
// or row order; twins with the same pixels in either row order give the same sheet, byte for
// byte. The kinds the loader reads itself keep their own depth.
TEST_F(Library, BitmapFilesOfEveryKindLoadAndCutIntoTheIndependentDecodersPixels) {
    std::map<std::string, std::string> sheets; // the sheet of each expected picture
    std::string folder = WrittenFolder();
    size_t own = 0;
    for (const SampleEntry &entry : SampleEntries("bmp-decode")) {
        SCOPED_TRACE(entry.file);
        Picture want = ExpectedPicture(entry.argument);
        std::string bytes = ReadWholeFile(entry.file);
        ASSERT_GT(bytes.size(), 34u);
        auto field = [&](size_t at) { return uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8; };
        bool core = field(14) == 12;
        int bits = field(core ? 24 : 28), compression = core ? 0 : field(30);
        ASSERT_NE(ImageLoad(Loaded, entry.file.c_str()), 0);
        if (!core && (compression == 0 || compression == 3)) {
            EXPECT_EQ(ImageRecord(Loaded)->depth, bits);
            ++own;
        }
        EXPECT_EQ(MaxDifference(Colours(Loaded), want), 0);

        std::string prefix = entry.file.substr(entry.file.find_last_of("\\/") + 1);
        prefix.resize(prefix.size() - 4);
        ASSERT_EQ(ConvertStrip(entry.file.c_str(), prefix.c_str(), "bmp", "H", 3, folder.c_str()),
                  ConvertOutcome::Converted);
        std::string sheetPath = folder + prefix + "_B3.bmp";
        Picture sheet = ExpectedSheet(want, true, 3);
        // Image 2 holds the last frame in the strip's own format.
        Picture frame{want.width / 3, want.height, 3, {}};
        for (int32_t y = 0; y < want.height; ++y) {
            auto row = sheet.samples.begin() + (size_t(y) * sheet.width + 2 * frame.width) * 3;
            frame.samples.insert(frame.samples.end(), row, row + frame.width * 3);
        }
        EXPECT_EQ(MaxDifference(Colours(2), frame), 0) << "the last frame";
        std::string &first = sheets[entry.argument];
        if (first.empty()) {
            first = ReadWholeFile(sheetPath);
        } else {
            EXPECT_TRUE(first == ReadWholeFile(sheetPath)) << "its twin gave another sheet";
        }
        ASSERT_NE(ImageLoad(Loaded, sheetPath.c_str()), 0);
        EXPECT_EQ(MaxDifference(LoadedPicture(Loaded), sheet), 0) << "the sheet";
    }
    EXPECT_EQ(own, 60u);
    EXPECT_EQ(sheets.size(), 33u);
    ImageFree(Loaded);
}

// The image's pixels, whatever its depth, go to the encoder as 24-bit rows; check_written.py
// reads the PNG files back with PIL.
TEST_F(Library, ImagesSaveAsPngExactlyAndAsJpegAtTheAskedQuality) {
    for (std::string file : {"jpeg/testorig.jpg", "png/basn6a08.png", "png/basn3p04.png"}) {
        ASSERT_NE(ImageLoad(Loaded, SamplePath(file).c_str()), 0) << file;
        std::string path = WrittenFolder() + "saved-" + file.substr(file.find('/') + 1) + ".png";
        ASSERT_EQ(ImageSave(Loaded, path.c_str(), ImageFormatPng), 1) << file;
        Picture rgb = LoadedPicture(Loaded, false);
        WriteRaw(path + ".expected", rgb);
        EXPECT_EQ(MaxDifference(DecodeWith(PngDecoder, path, false).picture, rgb), 0) << path;
    }
    // Quality 12 is our top (libjpeg's 100); without a quality the default, 70.
    std::string path = WrittenFolder() + "quality.jpg";
    ASSERT_EQ(ImageSave(Loaded, path.c_str(), ImageFormatJpeg, 12), 1);
    EXPECT_EQ(QuantTables(ReadWholeFile(path)),
              QuantTables(ReadWholeFile(SamplePath("jpeg/quality100.jpg"))));
    ASSERT_EQ(ImageSave(Loaded, path.c_str(), ImageFormatJpeg), 1);
    EXPECT_EQ(QuantTables(ReadWholeFile(path)),
              QuantTables(ReadWholeFile(SamplePath("jpeg/quality70.jpg"))));
    ImageFree(Loaded);
}

const char *Kind(const std::string &bytes) {
    return bytes.compare(0, 2, "BM") == 0         ? "bitmap"
           : bytes.compare(0, 2, "\xFF\xD8") == 0 ? "JPEG"
                                                  : "PNG";
}

// A few hundred damaged files of each format through ImageLoad (bitmap files go to the system's
// loader, which would read wherever a damaged header points), every other one read ahead first:
// nothing crashes, the file is never left open (an open without sharing fails while a stream is
// still open), and no bitmap, handle or memory stays behind.
TEST_F(Library, DamagedFilesGoThroughImageLoadWithoutCrashOrLeak) {
    const std::vector<std::string> runs[] = {
        DamagedSamples({"png/basn2c08.png", "png/ibasn6a16.png", "png/basn3p02.png"}, 23, 19),
        DamagedSamples({"jpeg/testorig.jpg", "jpeg/progressive.jpg", "jpeg/cmyk.jpg"}, 151, 101),
        DamagedSamples({"bmp/mono1.bmp", "bmp/palette8.bmp", "bmp/rgb24.bmp"}, 11, 7)};
    std::string path = WrittenFolder() + "damaged.img";
    ImageFree(Loaded);
    int gdiBefore = GdiObjectCount();
    long long heapBefore = HeapInUse();
    DWORD handlesBefore = 0, handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
    for (auto &variants : runs) {
        EXPECT_GE(variants.size(), 200u);
        printf("damaged %s files: %zu\n", variants.empty() ? "" : Kind(variants.back()),
               variants.size());
        bool ahead = false;
        for (const std::string &variant : variants) {
            ASSERT_TRUE(WriteWholeFile(path, variant.data(), variant.size()));
            if ((ahead = !ahead)) ImageLoadAhead(path.c_str());
            if (ImageLoad(Loaded, path.c_str())) {
                EXPECT_GT(ImageGetWidth(Loaded), 0);
            }
            HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE) << "a damaged file was left open";
            CloseHandle(file);
        }
    }
    ImageFree(Loaded);
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    EXPECT_EQ(GdiObjectCount(), gdiBefore);
    EXPECT_LE(handlesAfter, handlesBefore + 2);
    long long heapAfter = HeapInUse();
    if (heapBefore >= 0 && heapAfter >= 0) {
        EXPECT_LT(heapAfter - heapBefore, 64 * 1024);
    }
    ASSERT_NE(ImageLoad(Loaded, SamplePath("png/basn2c08.png").c_str()), 0);
    ImageFree(Loaded);
}

// A JPEG of a few kilobytes whose frame header claims 65500 x 65500 pixels, the most the
// format allows: too large for an image, so it must be refused at once, not decompressed first
// (gigabytes of coefficients for a progressive file, and minutes of work either way). Opened, it
// holds its headers and one row, no more: starting to decompress takes buffers of many rows.
TEST_F(Library, JpegHeadersClaimingHugePicturesAreRefusedWithoutDecompressing) {
    std::string path = WrittenFolder() + "huge.jpg";
    for (const char *sample : {"jpeg/testorig.jpg", "jpeg/progressive.jpg"}) {
        std::string bytes = ReadWholeFile(SamplePath(sample));
        size_t at = 2;
        // Walk the marker segments to the start-of-frame (baseline, extended or progressive).
        while (at + 9 <= bytes.size() && uint8_t(bytes[at]) == 0xFF &&
               (uint8_t(bytes[at + 1]) < 0xC0 || uint8_t(bytes[at + 1]) > 0xC2))
            at += 2 + (uint8_t(bytes[at + 2]) << 8 | uint8_t(bytes[at + 3]));
        ASSERT_LE(at + 9, bytes.size()) << sample;
        bytes.replace(at + 5, 4, "\xFF\xDC\xFF\xDC"); // height, width: 65500 each, big-endian
        ASSERT_TRUE(WriteWholeFile(path, bytes.data(), bytes.size()));

        EXPECT_EQ(ImageLoad(Loaded, path.c_str()), 0) << sample;
        EXPECT_EQ(ImageLastLoadFailure(), ImageLoadFailure::TooLarge) << sample;

        long long heapBefore = HeapInUse();
        ImagePicture picture{};
        EXPECT_NE(JpegDecoder.Open(&picture, nullptr, bytes.data(), intptr_t(bytes.size())), 0)
            << sample;
        long long heapOpen = HeapInUse();
        JpegDecoder.Drop(&picture);
        ASSERT_TRUE(heapBefore >= 0 && heapOpen >= 0) << "the heap could not be walked";
        EXPECT_LT(heapOpen - heapBefore, 65500 * 4 + 64 * 1024) << sample << " was started";
    }
    EXPECT_TRUE(SampleDecodes(JpegDecoder, "jpeg/progressive.jpg"));
}

// The batch driver's seam: ConvertStrip with PNG and JPEG strips, as the driver calls it.
TEST_F(Library, PngAndJpegStripsConvertIntoSheetsOfTheirOwnFormat) {
    std::string folder = WrittenFolder();
    const struct {
        const char *prefix, *extension, *direction;
        int count, frameWidth, frameHeight, spare;
    } strips[] = {
        {"hero", "png", "V", 10, 5, 3, 2},
        {"coin", "png", "H", 3, 9, 4, 2},
        {"fire", "jpg", "H", 8, 32, 32, 0},
        {"tree", "jpg", "V", 10, 32, 16, 0},
    };
    for (auto &s : strips) {
        bool horizontal = s.direction[0] == 'H';
        bool jpeg = strcmp(s.extension, "jpg") == 0;
        // PNG frames of random pixels; JPEG frames flat gray, a level for each frame, in 16 x 16
        // blocks that survive both compressions nearly unchanged.
        Picture strip = RandomPicture(
            horizontal ? s.frameWidth * s.count + s.spare : s.frameWidth,
            horizontal ? s.frameHeight : s.frameHeight * s.count + s.spare, unsigned(s.count));
        for (size_t i = 0; jpeg && i < strip.samples.size(); ++i) {
            size_t pixel = i / 3, x = pixel % strip.width, y = pixel / strip.width;
            strip.samples[i] =
                uint8_t(30 + 20 * (horizontal ? x / s.frameWidth : y / s.frameHeight));
        }
        std::string name = std::string(s.prefix) + "_" + s.direction + std::to_string(s.count);
        std::string stripPath = folder + name + "." + s.extension;
        ASSERT_EQ(EncodePicture(jpeg ? JpegEncoder : PngEncoder, stripPath, strip, 10), 1);
        // What the loader makes of the strip is what the sheet is made of.
        Picture loaded = jpeg ? DecodeWith(JpegDecoder, stripPath, false).picture : strip;

        int32_t converted = FilesConverted, errors = FilesErrors;
        ConvertStrip(stripPath.c_str(), s.prefix, s.extension, s.direction, s.count,
                     folder.c_str());
        EXPECT_EQ(FilesConverted, converted + 1) << name;
        EXPECT_EQ(FilesErrors, errors) << name;

        std::string sheetPath =
            folder + s.prefix + "_B" + std::to_string(s.count) + "." + s.extension;
        Picture want = ExpectedSheet(loaded, horizontal, s.count);
        WriteRaw(sheetPath + ".expected", want);
        Picture sheet = DecodeWith(jpeg ? JpegDecoder : PngDecoder, sheetPath, false).picture;
        EXPECT_LE(MaxDifference(sheet, want), jpeg ? 4 : 0) << sheetPath;
    }
}

// A routine of a system library, for a replacement of this program's import of it to call.
template <typename Routine> Routine Exported(const char *dll, const char *name) {
    return reinterpret_cast<Routine>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA(dll), name)));
}

// The largest block the C runtime's malloc was asked for through this program's import of it,
// which the codecs and their libraries call. Under Wine the process's memory counters show only
// the pages written, not a block asked for and never touched.
size_t LargestMalloc;
void *__cdecl RecordingMalloc(size_t size) {
    static auto *const original = Exported<decltype(&malloc)>("msvcrt.dll", "malloc");
    LargestMalloc = std::max(LargestMalloc, size);
    return original(size);
}

// Valid pictures too large for the platform in files of a few megabytes: a failed conversion,
// refused before the picture's memory is asked for. The progressive JPEG's coefficients would
// pass the decoder's memory ceiling; in a 32-bit program its pixels already pass the byte limit.
// A file of 1.5 GB named like a strip that is no picture (zeros, sparse) is refused without a
// block of its size: the decoders look at its signature first.
TEST_F(Library, PicturesTooLargeForThePlatformAreFailedConversions) {
    std::string folder = TestFolder("huge");
    std::string zeros = folder + "zeros_H1.jpg";
    ASSERT_TRUE(WriteSparseFile(zeros, "", 1536LL << 20));
    bool wide = sizeof(void *) == 8;
    const struct {
        std::string strip;
        const char *extension;
        ConvertOutcome outcome;
    } cases[] = {{SamplePath("png/black_H1.png"), "png", ConvertOutcome::TooLarge},
                 {SamplePath("jpeg/huge_H1.jpg"), "jpg",
                  wide ? ConvertOutcome::Damaged : ConvertOutcome::TooLarge},
                 {zeros, "jpg", ConvertOutcome::NotAPicture}};
    ImportPatch recorder("msvcrt.dll", "malloc", reinterpret_cast<void *>(RecordingMalloc));
    ASSERT_TRUE(recorder.Active());
    for (auto &c : cases) {
        SCOPED_TRACE(c.strip);
        int32_t errors = FilesErrors;
        LargestMalloc = 0;
        EXPECT_EQ(ConvertStrip(c.strip.c_str(), "huge", c.extension, "H", 1, folder.c_str()),
                  c.outcome);
        EXPECT_EQ(FilesErrors, errors + (c.outcome == ConvertOutcome::NotAPicture ? 0 : 1));
        EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"zeros_H1.jpg"});
        PROCESS_MEMORY_COUNTERS memory{};
        ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory));
        if (c.outcome != ConvertOutcome::Damaged) {
            EXPECT_LT(memory.PeakPagefileUsage, size_t(1) << 30);
            EXPECT_LT(LargestMalloc, size_t(64) << 20);
        }
    }
    DeleteFileA(zeros.c_str());
}

// Calls of the heap routines on the string heap from a thread other than the batch's, seen through
// this program's imports of them, through which the string routines call.
DWORD BatchThread;
volatile LONG ForeignStringHeapCalls;
void NoteHeapCall(HANDLE heap) {
    if (heap == StringHeap && GetCurrentThreadId() != BatchThread)
        InterlockedIncrement(&ForeignStringHeapCalls);
}
LPVOID WINAPI NotedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    NoteHeapCall(heap);
    return Exported<decltype(&HeapAlloc)>("kernel32.dll", "HeapAlloc")(heap, flags, size);
}
LPVOID WINAPI NotedHeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T size) {
    NoteHeapCall(heap);
    auto original = Exported<decltype(&HeapReAlloc)>("kernel32.dll", "HeapReAlloc");
    return original(heap, flags, block, size);
}
BOOL WINAPI NotedHeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    NoteHeapCall(heap);
    return Exported<decltype(&HeapFree)>("kernel32.dll", "HeapFree")(heap, flags, block);
}
SIZE_T WINAPI NotedHeapSize(HANDLE heap, DWORD flags, LPCVOID block) {
    NoteHeapCall(heap);
    return Exported<decltype(&HeapSize)>("kernel32.dll", "HeapSize")(heap, flags, block);
}

// The string heap is not serialised and belongs to the batch's thread (strings.cpp): the saving
// threads, writing sheets of every format, never call the heap routines on it.
TEST_F(Library, TheSavingThreadsLeaveTheStringHeapAlone) {
    ASSERT_NE(ImageLoad(Loaded, SamplePath("png/basn6a08.png").c_str()), 0);
    std::string folder = TestFolder("threads");
    BatchThread = GetCurrentThreadId();
    ForeignStringHeapCalls = 0;
    {
        ImportPatch patches[] = {
            {"kernel32.dll", "HeapAlloc", reinterpret_cast<void *>(NotedHeapAlloc)},
            {"kernel32.dll", "HeapReAlloc", reinterpret_cast<void *>(NotedHeapReAlloc)},
            {"kernel32.dll", "HeapFree", reinterpret_cast<void *>(NotedHeapFree)},
            {"kernel32.dll", "HeapSize", reinterpret_cast<void *>(NotedHeapSize)}};
        for (const ImportPatch &patch : patches)
            ASSERT_TRUE(patch.Active());
        for (int32_t format :
             {ImageFormatBmp, ImageFormatPng, ImageFormatPngAlpha, ImageFormatJpeg}) {
            std::string name = folder + std::to_string(format);
            EXPECT_EQ(ImageSaveStart(Loaded, name.c_str(), format), 1);
            EXPECT_EQ(ImageSaveFinish(), 1);
            EXPECT_TRUE(FileExists(name));
        }
    }
    EXPECT_EQ(ForeignStringHeapCalls, 0);
    ImageFree(Loaded);
}

// Sheets that cannot be written, to a full file system and to a read-only one (full_disk.sh):
// an error each, no partial or temporary file left, the earlier sheet of that name unchanged.
TEST_F(Library, SheetsThatCannotBeWrittenAreErrorsAndKeepTheEarlierSheet) {
    const char *mounts = getenv("STRIPSHEET_FULL_DISK");
    ASSERT_TRUE(mounts);
    std::string root = std::string("Z:") + mounts;
    std::replace(root.begin(), root.end(), '/', '\\');
    if (FileExists(root + "\\unavailable"))
        GTEST_SKIP() << "no tmpfs could be mounted (needs root)";
    std::string folder = TestFolder("unwritten");
    ASSERT_EQ(EncodePicture(PngEncoder, folder + "run_H2.png", RandomPicture(16, 8, 2), 0), 1);
    ASSERT_EQ(EncodePicture(JpegEncoder, folder + "run_H2.jpg", RandomPicture(16, 8, 2), 7), 1);
    ASSERT_NE(ImageLoad(Loaded, (folder + "run_H2.png").c_str()), 0);
    ASSERT_EQ(ImageSave(Loaded, (folder + "run_H2.bmp").c_str(), ImageFormatBmp), 1);
    for (const char *output : {"\\full\\", "\\readonly\\"}) {
        std::string out = root + output;
        std::vector<std::string> before = FilesIn(out);
        for (const char *extension : {"png", "bmp", "jpg"}) {
            SCOPED_TRACE(out + extension);
            int32_t errors = FilesErrors;
            EXPECT_EQ(ConvertStrip((folder + "run_H2." + extension).c_str(), "run", extension, "H",
                                   2, out.c_str()),
                      ConvertOutcome::NotWritten);
            EXPECT_EQ(FilesErrors, errors + 1);
            EXPECT_EQ(FilesIn(out), before);
            EXPECT_EQ(ReadWholeFile(out + "run_B2." + extension), "an earlier sheet");
        }
    }
}

// Bytes the decoders skip, put before a file's image data until the file is larger than the loader
// reads whole: a private chunk after a PNG file's header, comment segments after a JPEG file's
// start.
std::string PaddedBeyondWholeRead(const std::string &bytes, bool jpeg) {
    std::string padding;
    if (jpeg) {
        while (padding.size() < ImageWholeFileBytes)
            padding += std::string("\xFF\xFE\xFF\xFF", 4) + std::string(65533, ' ');
        return bytes.substr(0, 2) + padding + bytes.substr(2);
    }
    uint32_t length = uint32_t(ImageWholeFileBytes);
    for (int shift = 24; shift >= 0; shift -= 8)
        padding += char(length >> shift);
    padding += "prVt" + std::string(length, '\0') + "CRC."; // skipped, so never checked
    constexpr size_t HeaderEnd = 8 + 25;                    // the signature and IHDR
    return bytes.substr(0, HeaderEnd) + padding + bytes.substr(HeaderEnd);
}

// A strip cut off inside its image data must not become a sheet with made-up rows, whether the
// loader reads the file whole at once or the decoder reads it from the open file (a file larger
// than ImageWholeFileBytes).
TEST_F(Library, AStripCutShortIsAFailedConversionAndWritesNothing) {
    std::string folder = TestFolder("cut-strip");
    struct Size {
        int32_t width, height, quality;
        bool padded;
    };
    for (const char *extension : {"png", "jpg"})
        for (Size size :
             {Size{64, 16, 7, false}, Size{1024, 64, 95, false}, Size{64, 16, 7, true}}) {
            bool jpeg = extension[0] == 'j';
            std::string whole = folder + "whole." + extension;
            ASSERT_EQ(EncodePicture(jpeg ? JpegEncoder : PngEncoder, whole,
                                    RandomPicture(size.width, size.height, 4), size.quality),
                      1);
            std::string bytes = ReadWholeFile(whole);
            std::string file = size.padded ? PaddedBeyondWholeRead(bytes, jpeg) : bytes;
            // The last quarter of the picture's own bytes goes: image data in both formats.
            size_t kept = file.size() - (bytes.size() - bytes.size() * 3 / 4);
            if (size.padded) {
                ASSERT_GT(kept, ImageWholeFileBytes) << extension;
            }
            std::string stripPath = folder + "run_H4." + extension;
            ASSERT_TRUE(WriteWholeFile(stripPath, file.data(), kept));

            int32_t converted = FilesConverted, errors = FilesErrors;
            EXPECT_EQ(ConvertStrip(stripPath.c_str(), "run", extension, "H", 4, folder.c_str()),
                      ConvertOutcome::Damaged);
            EXPECT_EQ(FilesConverted, converted);
            EXPECT_EQ(FilesErrors, errors + 1);
            EXPECT_FALSE(FileExists(folder + "run_B4." + extension));
        }
}
