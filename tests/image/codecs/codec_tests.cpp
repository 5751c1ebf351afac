// The PNG and JPEG codecs called through their records, checked against the pixels independent
// decoders (PIL, djpeg) gave for the same files.
#include "runtime/image/codecs/jpeg_codec.h"
#include "runtime/image/codecs/png_codec.h"
#include "tests/image/codecs/codec_samples.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <jpeglib.h>

// The image library's registration lists, recorded instead.
std::vector<const ImageDecoder *> registeredDecoders;
std::vector<const ImageEncoder *> registeredEncoders;
void ImageDecoderListReset() {
    registeredDecoders.clear();
}
void ImageDecoderRegister(const ImageDecoder *decoder) {
    registeredDecoders.push_back(decoder);
}
void ImageEncoderRegister(const ImageEncoder *encoder) {
    registeredEncoders.push_back(encoder);
}

namespace {

// A YCCK file made with libjpeg itself: every pixel holds the given (stored) CMYK values.
bool WriteYcckJpeg(const std::string &path, const uint8_t cmyk[4]) {
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) return false;
    jpeg_compress_struct compressor;
    jpeg_error_mgr errors;
    compressor.err = jpeg_std_error(&errors);
    jpeg_create_compress(&compressor);
    jpeg_stdio_dest(&compressor, file);
    compressor.image_width = compressor.image_height = 16;
    compressor.input_components = 4;
    compressor.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&compressor);
    jpeg_set_colorspace(&compressor, JCS_YCCK);
    jpeg_set_quality(&compressor, 95, TRUE);
    jpeg_start_compress(&compressor, TRUE);
    JSAMPLE row[16 * 4];
    for (int x = 0; x < 16; ++x)
        memcpy(row + 4 * x, cmyk, 4);
    JSAMPROW rows[1] = {row};
    while (compressor.next_scanline < compressor.image_height)
        jpeg_write_scanlines(&compressor, rows, 1);
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    return fclose(file) == 0;
}

class Codecs : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FileExists(SamplePath("manifest.txt")))
            << "no samples at STRIPSHEET_CODEC_SAMPLES (made by the codec_samples test)";
    }
};

} // namespace

TEST(CodecRegistration, EachRecordGoesToTheLibraryOnceWithItsFormatId) {
    for (int twice = 0; twice < 2; ++twice) {
        PngDecoderRegister();
        PngEncoderRegister();
        JpegDecoderRegister();
        JpegEncoderRegister();
    }
    EXPECT_EQ(registeredDecoders, (std::vector<const ImageDecoder *>{&PngDecoder, &JpegDecoder}));
    ASSERT_EQ(registeredEncoders.size(), 3u);
    EXPECT_EQ(memcmp(&registeredEncoders[0]->FormatId, "PNG", 4), 0);
    EXPECT_EQ(memcmp(&registeredEncoders[1]->FormatId, "PNGA", 4), 0);
    EXPECT_EQ(registeredEncoders[1]->BitsPerPixel, 32);
    EXPECT_EQ(memcmp(&registeredEncoders[2]->FormatId, "JPEG", 4), 0);
}

// Every PngSuite member and picture of libpng's test collection against PIL; libjpeg-turbo's
// testimages and files made from them (gray, progressive, RGB, CMYK, restart markers, stray
// bytes before a marker) against djpeg. Interlaced and progressive files have the same expected
// pixels as their plain twins (make_samples.py makes sure), so they decode alike. The memory mode
// runs on a second thread while this one decodes the files, as a batch reads strips ahead: each
// picture's state is its own.
TEST_F(Codecs, FilesDecodeInBothModesToThePixelsOfAnIndependentDecoder) {
    const struct {
        const char *kind;
        const ImageDecoder *decoder;
        size_t least;
    } runs[] = {{"png-decode", &PngDecoder, 150},
                {"jpeg-decode", &JpegDecoder, 10},
                {"png-alpha", &PngDecoder, 40}}; // transparency kept, as /alpha reads strips
    for (auto &run : runs) {
        PngDecoderKeepTransparency(strcmp(run.kind, "png-alpha") == 0);
        auto entries = SampleEntries(run.kind);
        EXPECT_GE(entries.size(), run.least) << run.kind;
        std::vector<DecodeOutcome> inMemory(entries.size()), inFile(entries.size());
        std::thread other([&] {
            for (size_t i = 0; i < entries.size(); i++)
                inMemory[i] = DecodeWith(*run.decoder, entries[i].file, true);
        });
        for (size_t i = 0; i < entries.size(); i++)
            inFile[i] = DecodeWith(*run.decoder, entries[i].file, false);
        other.join();
        for (size_t i = 0; i < entries.size(); i++) {
            Picture want = ExpectedPicture(entries[i].argument);
            for (bool memoryMode : {false, true}) {
                std::string name = entries[i].file + (memoryMode ? " (memory)" : " (file)");
                const DecodeOutcome &got = memoryMode ? inMemory[i] : inFile[i];
                EXPECT_EQ(got.opened, want.channels == 4 ? 2 : 1) << name;
                EXPECT_EQ(got.decoded, 1) << name;
                EXPECT_EQ(MaxDifference(got.picture, want), 0) << name;
                EXPECT_TRUE(got.paddingKept) << name << ": bytes after a row's pixels were written";
            }
        }
    }
    PngDecoderKeepTransparency(false);
}

// Damaged PNG members (refused when opened or when decoded), the 12-bit JPEG djpeg refuses (a
// header fault: refused when opened), JPEG data that ends early, libpng's hostile files
// (whatever libpng makes of them, nothing breaks) and files too short or of the other format.
TEST_F(Codecs, FilesTheDecodersCannotReadAreRefusedAndLeaveThemReady) {
    enum class Refused { NotNeeded, OnOpenOrDecode, OnOpen };
    const struct {
        const char *kind;
        const ImageDecoder *decoder;
        Refused refused;
        size_t least;
    } runs[] = {{"png-refuse", &PngDecoder, Refused::OnOpenOrDecode, 15},
                {"jpeg-refuse", &JpegDecoder, Refused::OnOpen, 1},
                {"jpeg-cut", &JpegDecoder, Refused::OnOpenOrDecode, 7},
                {"png-hostile", &PngDecoder, Refused::NotNeeded, 20}};
    for (auto &run : runs) {
        auto entries = SampleEntries(run.kind);
        EXPECT_GE(entries.size(), run.least) << run.kind;
        for (const SampleEntry &entry : entries)
            for (bool memoryMode : {false, true}) {
                DecodeOutcome got = DecodeWith(*run.decoder, entry.file, memoryMode);
                bool refused =
                    got.opened == 0 || (run.refused == Refused::OnOpenOrDecode && got.decoded == 0);
                EXPECT_TRUE(refused || run.refused == Refused::NotNeeded)
                    << entry.file << (memoryMode ? " (memory)" : " (file)") << " was accepted";
            }
    }
    std::string path = WrittenFolder() + "short.bin";
    for (const char *text : {"", "\xFF", "\xFF\xD8", "\xFF\xD9", "\xFF\xD8\xFF\xD9",
                             "\x89PNG\r\n\x1a", "\x89PNG\r\n\x1a\n", "BM6"}) {
        ASSERT_TRUE(WriteWholeFile(path, text, strlen(text)));
        for (const ImageDecoder *decoder : {&PngDecoder, &JpegDecoder})
            for (bool memoryMode : {false, true})
                EXPECT_EQ(DecodeWith(*decoder, path, memoryMode).opened, 0)
                    << strlen(text) << " bytes, memory " << memoryMode;
    }
    EXPECT_TRUE(SampleDecodes(PngDecoder, "png/basn6a16.png"));
    EXPECT_TRUE(SampleDecodes(JpegDecoder, "jpeg/testorig.jpg"));
}

TEST_F(Codecs, PngDataEndingInsideTheImageFailsWithTheRowsReadSoFar) {
    auto entries = SampleEntries("png-cut");
    ASSERT_GE(entries.size(), 2u);
    for (const SampleEntry &entry : entries) {
        Picture want = ExpectedPicture(entry.argument);
        size_t rowBytes = size_t(want.width) * want.channels;
        for (bool memoryMode : {false, true}) {
            DecodeOutcome got = DecodeWith(PngDecoder, entry.file, memoryMode);
            EXPECT_NE(got.opened, 0) << entry.file;
            EXPECT_EQ(got.decoded, 0) << entry.file;
            ASSERT_EQ(got.picture.samples.size(), want.samples.size());
            int whole = 0;
            while (whole < want.height &&
                   memcmp(got.picture.samples.data() + whole * rowBytes,
                          want.samples.data() + whole * rowBytes, rowBytes) == 0)
                ++whole;
            EXPECT_GT(whole, 0) << entry.file;
            EXPECT_LT(whole, want.height) << entry.file;
        }
    }
    EXPECT_TRUE(SampleDecodes(PngDecoder, "png/basn2c08.png"));
}

// PNG files of random pixels come back exactly; in JPEG files pure red stays red (not blue) and
// white above black does not come out flipped. check_written.py reads them with pngcheck, PIL
// and djpeg as well.
TEST_F(Codecs, SavedFilesComeBackUprightWithTheirColours) {
    Picture upright = SolidPicture(16, 16, 255, 255, 255);
    std::fill(upright.samples.begin() + 8 * 16 * 3, upright.samples.end(), 0);
    std::vector<std::pair<std::string, Picture>> cases = {
        {"red.jpg", SolidPicture(13, 5, 255, 0, 0)}, {"upright.jpg", upright}};
    for (int32_t size : {1001, 3002, 4004, 5003, 17009, 256032, 301007})
        cases.push_back({"saved-" + std::to_string(size) + ".png",
                         RandomPicture(size / 1000, size % 1000, unsigned(size))});
    for (auto &c : cases) {
        bool jpeg = c.first.find(".jpg") != std::string::npos;
        std::string path = WrittenFolder() + c.first;
        ASSERT_EQ(EncodePicture(jpeg ? JpegEncoder : PngEncoder, path, c.second, 10), 1) << path;
        WriteRaw(path + ".expected", c.second);
        DecodeOutcome back = DecodeWith(jpeg ? JpegDecoder : PngDecoder, path, false);
        EXPECT_EQ(back.opened, 1) << path;
        EXPECT_LE(MaxDifference(back.picture, c.second), jpeg ? 3 : 0) << path;
    }
}

// Sizes the libraries refuse (zero, negative, too wide for both, too tall for JPEG) and a folder
// that does not exist fail the save instead of ending the process (what was written is the
// saver's to remove). Afterwards an existing file of the same name is replaced.
TEST_F(Codecs, EncodersReportLibraryErrorsAsFailuresAndReplaceFiles) {
    Picture small = SolidPicture(4, 4, 10, 20, 30);
    std::vector<uint8_t> block(3 * 1000001 + 8);
    const int32_t refused[][3] = {
        {0, 4, 12}, {4, -1, 12}, {-5, 4, 12}, {1000001, 1, 3000003}, {1, 70000, 4}};
    for (std::string name : {"replaced.png", "replaced.jpg"}) {
        bool jpeg = name.find("jpg") != std::string::npos;
        const ImageEncoder &encoder = jpeg ? JpegEncoder : PngEncoder;
        std::string failed = WrittenFolder() + "failed-" + name;
        for (auto size : refused) {
            if (!jpeg && size[1] == 70000) continue;
            FILE *stream = fopen(failed.c_str(), "wb");
            ASSERT_NE(stream, nullptr);
            EXPECT_EQ(encoder.Encode(stream, block.data(), size[0], size[1], size[2], 7), 0)
                << name << " " << size[0] << "x" << size[1];
            fclose(stream);
        }
        EXPECT_EQ(EncodePicture(encoder, WrittenFolder() + "no such folder\\" + name, small, 7), 0);
        std::string path = WrittenFolder() + name;
        ASSERT_TRUE(WriteWholeFile(path, std::string(100000, 'x').data(), 100000));
        ASSERT_EQ(EncodePicture(encoder, path, small, 10), 1) << name;
        DecodeOutcome back = DecodeWith(jpeg ? JpegDecoder : PngDecoder, path, true);
        EXPECT_LE(MaxDifference(back.picture, small), jpeg ? 3 : 0) << name;
        WriteRaw(path + ".expected", small);
    }
}

// PIL's CMYK files (Adobe-style inverted) and YCCK files as Adobe's programs write them: stored
// values are inverted inks, so (255, 0, 0, 255) is full magenta and yellow without black: red.
TEST_F(Codecs, CmykAndYcckJpegFilesLoadWithTheirTrueColours) {
    auto expectSolid = [](const std::string &file, int r, int g, int b) {
        DecodeOutcome got = DecodeWith(JpegDecoder, file, true);
        EXPECT_EQ(got.decoded, 1) << file;
        EXPECT_LE(MaxDifference(got.picture, SolidPicture(16, 16, r, g, b)), 3) << file;
    };
    auto entries = SampleEntries("jpeg-solid");
    EXPECT_GE(entries.size(), 3u);
    for (const SampleEntry &entry : entries) {
        int r = -1, g = -1, b = -1;
        sscanf(entry.argument.c_str(), "%d,%d,%d", &r, &g, &b);
        expectSolid(entry.file, r, g, b);
    }
    const uint8_t red[4] = {255, 0, 0, 255}, gray[4] = {255, 255, 255, 127};
    std::string path = WrittenFolder() + "ycck.jpg";
    ASSERT_TRUE(WriteYcckJpeg(path, red));
    expectSolid(path, 255, 0, 0);
    ASSERT_TRUE(WriteYcckJpeg(path, gray));
    expectSolid(path, 127, 127, 127);
}

// Our scale against the tables libjpeg's own cjpeg writes at the matching quality.
TEST_F(Codecs, JpegQualityRunsFromZeroToTenOntoLibjpegsScale) {
    Picture picture = SolidPicture(16, 16, 90, 120, 200);
    const int32_t cases[][2] = {{12, 100}, {7, 70}, {5, 50}, {0, 0}, {-3, 0}};
    for (auto c : cases) {
        std::string path = WrittenFolder() + "quality.jpg";
        ASSERT_EQ(EncodePicture(JpegEncoder, path, picture, c[0]), 1);
        auto want =
            QuantTables(ReadWholeFile(SamplePath("jpeg/quality" + std::to_string(c[1]) + ".jpg")));
        ASSERT_GE(want.size(), 2u * (4 + 1 + 64)) << c[1]; // luminance and chrominance
        EXPECT_EQ(QuantTables(ReadWholeFile(path)), want) << "quality " << c[0];
    }
}

// A few hundred damaged files of each format in both modes: nothing crashes, nothing reads past
// the data or writes past a row, nothing stays allocated, and the decoders work afterwards.
TEST_F(Codecs, HundredsOfDamagedFilesGoThroughBothDecodersWithoutHarm) {
    std::string scratch = WrittenFolder() + "damaged.bin";
    const struct {
        const ImageDecoder *decoder;
        std::vector<std::string> variants;
    } runs[] = {
        {&PngDecoder,
         DamagedSamples({"png/basn2c08.png", "png/basn3p08.png", "png/ibasn6a16.png"}, 11, 9)},
        {&JpegDecoder, DamagedSamples({"jpeg/testorig.jpg", "jpeg/progressive.jpg", "jpeg/gray.jpg",
                                       "jpeg/cmyk.jpg", "jpeg/testimgari.jpg"},
                                      97, 71)},
    };
    long long heapBefore = HeapInUse();
    for (auto &run : runs) {
        EXPECT_GE(run.variants.size(), 300u);
        for (size_t i = 0; i < run.variants.size(); ++i) {
            ASSERT_TRUE(WriteWholeFile(scratch, run.variants[i].data(), run.variants[i].size()));
            DecodeWith(*run.decoder, scratch, i % 2 == 1, true);
        }
    }
    long long heapAfter = HeapInUse();
    if (heapBefore >= 0 && heapAfter >= 0) {
        EXPECT_LT(heapAfter - heapBefore, 64 * 1024) << "the decoders kept memory";
    }
    EXPECT_TRUE(SampleDecodes(PngDecoder, "png/basn2c08.png"));
    EXPECT_TRUE(SampleDecodes(JpegDecoder, "jpeg/testorig.jpg"));
}
