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

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

namespace {

constexpr ObjectId Loaded = 5;

// The runtime as the program starts it, with the codecs registered in the program's order.
void StartRuntime() {
    static bool started;
    if (started) return;
    started = true;
    MainHeapInit();
    TempStringInit();
    ObjectHeapInit();
    DrawingInit();
    ImageDecoderListReset();
    ImageLibraryInit();
    PngDecoderRegister();
    PngEncoderRegister();
    JpegDecoderRegister();
    JpegEncoderRegister();
}

// The pixels of a loaded image, red-green-blue(-alpha), top row first: the colours as the system
// reads them back (which also settles the row order), the alpha from the section's own memory,
// whose first row is the top one.
bool LoadedPicture(ObjectId id, Picture &picture) {
    DIBSECTION section{};
    if (GetObjectA(ImageHandle(id), sizeof section, &section) != sizeof section) return false;
    const BITMAP &bitmap = section.dsBm;
    std::vector<COLORREF> colours = ReadPixels(static_cast<HBITMAP>(ImageHandle(id)));
    picture.width = bitmap.bmWidth;
    picture.height = bitmap.bmHeight;
    picture.channels = bitmap.bmBitsPixel == 32 ? 4 : 3;
    if (colours.size() != size_t(picture.width) * picture.height) return false;
    picture.samples.clear();
    for (int32_t y = 0; y < picture.height; ++y) {
        const auto *row = static_cast<const uint8_t *>(bitmap.bmBits) + y * bitmap.bmWidthBytes;
        for (int32_t x = 0; x < picture.width; ++x) {
            COLORREF c = colours[size_t(y) * picture.width + x];
            picture.samples.insert(picture.samples.end(),
                                   {GetRValue(c), GetGValue(c), GetBValue(c)});
            if (picture.channels == 4) picture.samples.push_back(row[4 * x + 3]);
        }
    }
    return true;
}

Picture WithoutAlpha(const Picture &picture) {
    if (picture.channels == 3) return picture;
    Picture rgb{picture.width, picture.height, 3, {}};
    for (size_t i = 0; i < picture.samples.size(); i += 4)
        rgb.samples.insert(rgb.samples.end(), picture.samples.begin() + i,
                           picture.samples.begin() + i + 3);
    return rgb;
}

bool Unlocked(const std::string &path) {
    // The loader opens files without sharing; a stream left open would make this fail.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

class Library : public ::testing::Test {
  protected:
    void SetUp() override {
        StartRuntime();
        ASSERT_FALSE(SamplesFolder().empty()) << "STRIPSHEET_CODEC_SAMPLES is not set";
        ASSERT_TRUE(FileExists(SamplesFolder() + "manifest.txt"));
    }
};

} // namespace

TEST_F(Library, PngAndJpegFilesLoadAsTopDownSectionsWithTheIndependentDecodersPixels) {
    int loaded = 0;
    for (const char *kind : {"png-decode", "jpeg-decode"}) {
        for (const SampleEntry &entry : SampleEntries(kind)) {
            Picture want;
            ASSERT_TRUE(ReadExpected(SamplePath(entry.argument.c_str()), want));
            ASSERT_NE(ImageLoad(Loaded, entry.file.c_str()), 0) << entry.file;
            EXPECT_EQ(ImageGetWidth(Loaded), want.width) << entry.file;
            EXPECT_EQ(ImageGetHeight(Loaded), want.height) << entry.file;
            EXPECT_EQ(ImageRecord(Loaded)->depth, want.channels == 4 ? 32 : 24) << entry.file;
            Picture got;
            ASSERT_TRUE(LoadedPicture(Loaded, got)) << entry.file;
            EXPECT_EQ(PictureDifference(got, want), "") << entry.file;
            ++loaded;
        }
    }
    printf("%d PNG and JPEG files loaded through ImageLoad\n", loaded);
    EXPECT_GE(loaded, 180);
    ImageFree(Loaded);
}

// The image's pixels, whatever its depth, go to the encoder as 24-bit rows.
TEST_F(Library, ImagesSaveAsPngExactlyAndAsJpegAtTheAskedQuality) {
    for (const char *file : {"jpeg/testorig.jpg", "png/basn6a08.png", "png/basn3p04.png"}) {
        ASSERT_NE(ImageLoad(Loaded, SamplePath(file).c_str()), 0) << file;
        Picture loaded;
        ASSERT_TRUE(LoadedPicture(Loaded, loaded));
        std::string name = std::string(file).substr(std::string(file).find('/') + 1);
        std::string path = WrittenFolder() + "saved-" + name + ".png";
        ASSERT_EQ(ImageSave(Loaded, path.c_str(), ImageFormatPng), 1) << file;
        Picture rgb = WithoutAlpha(loaded);
        WriteRaw(path + ".expected", rgb);
        DecodeOutcome back = DecodeWith(PngDecoder, path, false);
        EXPECT_EQ(back.opened, 1) << path;
        EXPECT_EQ(PictureDifference(back.picture, rgb), "") << path;
    }

    ASSERT_NE(ImageLoad(Loaded, SamplePath("jpeg/testorig.jpg").c_str()), 0);
    const struct {
        int32_t quality;
        int reference;
    } cases[] = {{12, 100}, {-3, 0}, {ImageDefaultQuality, 70}};
    for (auto c : cases) {
        std::string path = WrittenFolder() + "quality.jpg";
        ASSERT_EQ(ImageSave(Loaded, path.c_str(), ImageFormatJpeg, c.quality), 1);
        std::string reference = "jpeg/quality" + std::to_string(c.reference) + ".jpg";
        EXPECT_EQ(QuantTables(ReadWholeFile(path)),
                  QuantTables(ReadWholeFile(SamplePath(reference.c_str()))))
            << "quality " << c.quality;
    }
    std::string path = WrittenFolder() + "default.jpg";
    ASSERT_EQ(ImageSave(Loaded, path.c_str(), ImageFormatJpeg), 1);
    EXPECT_EQ(QuantTables(ReadWholeFile(path)),
              QuantTables(ReadWholeFile(SamplePath("jpeg/quality70.jpg"))));
    ImageFree(Loaded);
}

// A few hundred damaged files of each format through ImageLoad: nothing crashes, the file is
// never left open, and no bitmap, handle or memory stays behind.
TEST_F(Library, DamagedFilesGoThroughImageLoadWithoutCrashOrLeak) {
    const struct {
        const char *format;
        std::vector<const char *> sources;
        size_t cutStep, flipStep;
    } runs[] = {
        {"PNG", {"png/basn2c08.png", "png/ibasn6a16.png", "png/basn3p02.png"}, 23, 19},
        {"JPEG", {"jpeg/testorig.jpg", "jpeg/progressive.jpg", "jpeg/cmyk.jpg"}, 151, 101},
    };
    std::string path = WrittenFolder() + "damaged.img";
    ImageFree(Loaded);
    int gdiBefore = GdiObjectCount();
    long long heapBefore = HeapInUse();
    DWORD handlesBefore = 0, handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
    for (auto &run : runs) {
        int files = 0, loaded = 0;
        for (const char *source : run.sources) {
            std::string bytes = ReadWholeFile(SamplePath(source));
            ASSERT_FALSE(bytes.empty()) << source;
            for (const std::string &variant : DamagedVariants(bytes, run.cutStep, run.flipStep)) {
                ASSERT_TRUE(WriteWholeFile(path, variant.data(), variant.size()));
                if (ImageLoad(Loaded, path.c_str())) {
                    ++loaded;
                    EXPECT_GT(ImageGetWidth(Loaded), 0);
                }
                ASSERT_TRUE(Unlocked(path)) << run.format << " variant " << files << " left open";
                ++files;
            }
        }
        printf("%s: %d damaged files through ImageLoad, %d loaded, none crashed or stayed open\n",
               run.format, files, loaded);
        EXPECT_GE(files, 200) << run.format;
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

namespace {

// Frame i of a strip: a picture every pixel of which tells frame, x and y apart.
void PaintLosslessFrame(Picture &strip, int32_t left, int32_t top, int32_t w, int32_t h, int i) {
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t *p = strip.samples.data() + (size_t(top + y) * strip.width + left + x) * 3;
            p[0] = uint8_t(40 + i * 20 + x);
            p[1] = uint8_t(200 - y * 7 - i);
            p[2] = uint8_t(i * 31 + x * y);
        }
}

// JPEG frames: flat gray 16 x 16 blocks, which survive both compressions nearly unchanged (no
// chroma to blur across block edges).
void PaintFlatFrame(Picture &strip, int32_t left, int32_t top, int32_t w, int32_t h, int i) {
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t *p = strip.samples.data() + (size_t(top + y) * strip.width + left + x) * 3;
            uint8_t level = uint8_t(30 + 45 * ((i + x / 16 + 2 * (y / 16)) % 5));
            p[0] = p[1] = p[2] = level;
        }
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

} // namespace

// The batch driver's seam: ConvertStrip with PNG and JPEG strips, as the driver calls it.
TEST_F(Library, PngAndJpegStripsConvertIntoSheetsOfTheirOwnFormat) {
    std::string folder = WrittenFolder();
    const struct {
        const char *prefix, *extension, *direction;
        int count, frameWidth, frameHeight, spare;
    } strips[] = {
        {"walk", "png", "H", 8, 7, 5, 0},    {"hero", "png", "V", 10, 5, 3, 2},
        {"coin", "png", "H", 3, 9, 4, 2},    {"fire", "jpg", "H", 8, 32, 32, 0},
        {"tree", "jpg", "V", 10, 32, 16, 0},
    };
    for (auto &s : strips) {
        bool horizontal = s.direction[0] == 'H';
        bool jpeg = strcmp(s.extension, "jpg") == 0;
        Picture strip{horizontal ? s.frameWidth * s.count + s.spare : s.frameWidth,
                      horizontal ? s.frameHeight : s.frameHeight * s.count + s.spare,
                      3,
                      {}};
        strip.samples.assign(size_t(strip.width) * strip.height * 3, 255);
        for (int i = 0; i < s.count; ++i) {
            int32_t left = horizontal ? s.frameWidth * i : 0;
            int32_t top = horizontal ? 0 : s.frameHeight * i;
            (jpeg ? PaintFlatFrame : PaintLosslessFrame)(strip, left, top, s.frameWidth,
                                                         s.frameHeight, i);
        }
        std::string name = std::string(s.prefix) + "_" + s.direction + std::to_string(s.count);
        std::string stripPath = folder + name + "." + s.extension;
        PixelBlock block = BlockFromPicture(strip);
        const ImageEncoder &encoder = jpeg ? JpegEncoder : PngEncoder;
        ASSERT_EQ(encoder.Encode(stripPath.c_str(), block.bytes.data(), block.width, block.height,
                                 block.stride, 10),
                  1);
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
        DecodeOutcome sheet = DecodeWith(jpeg ? JpegDecoder : PngDecoder, sheetPath, false);
        ASSERT_EQ(sheet.decoded, 1) << sheetPath;
        ASSERT_EQ(sheet.picture.width, want.width) << sheetPath;
        ASSERT_EQ(sheet.picture.height, want.height) << sheetPath;
        if (jpeg) {
            EXPECT_LE(MaxDifference(sheet.picture, want), 4) << sheetPath;
        } else {
            EXPECT_EQ(PictureDifference(sheet.picture, want), "") << sheetPath;
        }
    }
}

// A PNG strip cut off inside its image data must not become a sheet with made-up rows.
TEST_F(Library, APngStripCutShortIsAFailedConversionAndWritesNothing) {
    std::string folder = TestFolder("cut-strip");
    Picture strip{64, 16, 3, {}};
    strip.samples.assign(size_t(strip.width) * strip.height * 3, 0);
    for (int i = 0; i < 4; ++i)
        PaintLosslessFrame(strip, 16 * i, 0, 16, 16, i);
    PixelBlock block = BlockFromPicture(strip);
    std::string whole = folder + "whole.png";
    ASSERT_EQ(PngEncoder.Encode(whole.c_str(), block.bytes.data(), block.width, block.height,
                                block.stride, 0),
              1);
    std::string bytes = ReadWholeFile(whole);
    std::string stripPath = folder + "run_H4.png";
    ASSERT_TRUE(WriteWholeFile(stripPath, bytes.data(), bytes.size() / 2));

    int32_t converted = FilesConverted, errors = FilesErrors;
    ConvertStrip(stripPath.c_str(), "run", "png", "H", 4, folder.c_str());
    EXPECT_EQ(FilesConverted, converted);
    EXPECT_EQ(FilesErrors, errors + 1);
    EXPECT_FALSE(FileExists(folder + "run_B4.png"));
}
