// The PNG and JPEG codecs called through their records, checked against the pixels independent
// decoders (PIL, djpeg) gave for the same files.
#include "runtime/image/codecs/jpeg_codec.h"
#include "runtime/image/codecs/png_codec.h"
#include "tests/image/codecs/codec_samples.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include <jpeglib.h>
#include <zlib.h>

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

uint32_t BigEndian(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

Picture RandomPicture(int32_t width, int32_t height, unsigned seed) {
    std::mt19937 random(seed);
    Picture picture{width, height, 3, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (uint8_t &sample : picture.samples)
        sample = uint8_t(random());
    return picture;
}

Picture SolidPicture(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b) {
    Picture picture{width, height, 3, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (size_t i = 0; i < picture.samples.size(); i += 3) {
        picture.samples[i] = r;
        picture.samples[i + 1] = g;
        picture.samples[i + 2] = b;
    }
    return picture;
}

bool SampleDecodes(const ImageDecoder &decoder, const char *file, const char *expected) {
    Picture want;
    if (!ReadExpected(SamplePath(expected), want)) return false;
    DecodeOutcome got = DecodeWith(decoder, SamplePath(file), false);
    return got.decoded == 1 && PictureDifference(got.picture, want).empty();
}

// Runs one damaged file through a decoder the way the image library would, into a single row
// that ends where readable memory ends. Returns Open's result.
int32_t DecodeDamaged(const ImageDecoder &decoder, const std::string &bytes, bool memoryMode,
                      const std::string &scratch) {
    int32_t opened;
    FILE *stream = nullptr;
    GuardedBlock block(bytes.size());
    if (memoryMode) {
        memcpy(block.data(), bytes.data(), bytes.size());
        opened = decoder.Open(nullptr, block.data(), intptr_t(bytes.size()));
    } else {
        WriteWholeFile(scratch, bytes.data(), bytes.size());
        stream = fopen(scratch.c_str(), "rb");
        if (!stream) return -1;
        opened = decoder.Open(stream, nullptr, reinterpret_cast<intptr_t>(scratch.c_str()));
    }
    if (opened) {
        size_t rowBytes = size_t(decoder.Width()) * (opened == 2 ? 4 : 3);
        GuardedBlock row(rowBytes);
        // Stride 0: every row goes to the same place, so a damaged header claiming a huge
        // picture needs no huge buffer.
        decoder.Decode(row.data(), 0);
    }
    if (stream) fclose(stream);
    return opened;
}

// A YCCK file made with libjpeg itself: every pixel holds the given (stored) CMYK values.
bool WriteYcckJpeg(const std::string &path, const uint8_t cmyk[4]) {
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) return false;
    jpeg_compress_struct compressor;
    jpeg_error_mgr errors;
    compressor.err = jpeg_std_error(&errors);
    jpeg_create_compress(&compressor);
    jpeg_stdio_dest(&compressor, file);
    compressor.image_width = 16;
    compressor.image_height = 16;
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

void ExpectSolid(const Picture &picture, const uint8_t rgb[3], int tolerance,
                 const std::string &name) {
    ASSERT_EQ(picture.channels, 3) << name;
    int worst = 0;
    for (size_t i = 0; i < picture.samples.size(); ++i)
        worst = std::max(worst, std::abs(int(picture.samples[i]) - rgb[i % 3]));
    EXPECT_LE(worst, tolerance) << name << ": first pixel " << int(picture.samples[0]) << ","
                                << int(picture.samples[1]) << "," << int(picture.samples[2]);
}

class Codecs : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(SamplesFolder().empty()) << "STRIPSHEET_CODEC_SAMPLES is not set";
        ASSERT_TRUE(FileExists(SamplesFolder() + "manifest.txt"))
            << "no samples in " << SamplesFolder() << " (made by the codec_samples test)";
    }
};

} // namespace

TEST(CodecRegistration, EachRecordGoesToTheLibraryOnceWithItsFormatId) {
    PngDecoderRegister();
    PngEncoderRegister();
    JpegDecoderRegister();
    JpegEncoderRegister();
    PngDecoderRegister();
    JpegDecoderRegister();
    PngEncoderRegister();
    JpegEncoderRegister();
    ASSERT_EQ(registeredDecoders.size(), 2u);
    EXPECT_EQ(registeredDecoders[0], &PngDecoder);
    EXPECT_EQ(registeredDecoders[1], &JpegDecoder);
    ASSERT_EQ(registeredEncoders.size(), 2u);
    EXPECT_EQ(registeredEncoders[0]->FormatId, 0x00474E50);
    EXPECT_EQ(memcmp(&registeredEncoders[0]->FormatId, "PNG", 4), 0);
    EXPECT_EQ(registeredEncoders[1]->FormatId, 0x4745504A);
    EXPECT_EQ(memcmp(&registeredEncoders[1]->FormatId, "JPEG", 4), 0);
}

// Every PngSuite member and every picture of libpng's test collection, in both modes.
TEST_F(Codecs, PngFilesDecodeToThePixelsOfAnIndependentDecoder) {
    auto entries = SampleEntries("png-decode");
    EXPECT_GE(entries.size(), 150u);
    int compared = 0;
    for (const SampleEntry &entry : entries) {
        Picture want;
        ASSERT_TRUE(ReadExpected(SamplePath(entry.argument.c_str()), want)) << entry.argument;
        for (bool memoryMode : {false, true}) {
            std::string name = entry.file + (memoryMode ? " (memory)" : " (file)");
            DecodeOutcome got = DecodeWith(PngDecoder, entry.file, memoryMode);
            EXPECT_EQ(got.opened, want.channels == 4 ? 2 : 1) << name;
            EXPECT_EQ(got.decoded, 1) << name;
            EXPECT_EQ(PictureDifference(got.picture, want), "") << name;
            EXPECT_TRUE(got.paddingKept) << name << ": bytes after a row's pixels were written";
            ++compared;
        }
    }
    printf("%d PNG decodes compared with PIL\n", compared);
}

TEST_F(Codecs, InterlacedPngFilesEqualTheirPlainTwins) {
    auto entries = SampleEntries("png-twin");
    EXPECT_GE(entries.size(), 20u);
    for (const SampleEntry &entry : entries) {
        DecodeOutcome interlaced = DecodeWith(PngDecoder, entry.file, false);
        DecodeOutcome plain = DecodeWith(PngDecoder, SamplePath(entry.argument.c_str()), false);
        EXPECT_EQ(interlaced.decoded, 1) << entry.file;
        EXPECT_EQ(plain.decoded, 1) << entry.argument;
        EXPECT_EQ(PictureDifference(interlaced.picture, plain.picture), "") << entry.file;
    }
}

TEST_F(Codecs, DamagedPngFilesAreRefusedAndLeaveTheDecoderReady) {
    auto refused = SampleEntries("png-refuse");
    EXPECT_GE(refused.size(), 15u);
    for (const SampleEntry &entry : refused) {
        for (bool memoryMode : {false, true}) {
            DecodeOutcome got = DecodeWith(PngDecoder, entry.file, memoryMode);
            EXPECT_TRUE(got.opened == 0 || got.decoded == 0)
                << entry.file << (memoryMode ? " (memory)" : " (file)") << " was accepted";
        }
        EXPECT_TRUE(SampleDecodes(PngDecoder, "png/basn2c08.png", "png/basn2c08.png.expected"))
            << "after " << entry.file;
    }
    // libpng's collection of hostile files: whatever libpng makes of them, nothing breaks.
    auto hostile = SampleEntries("png-hostile");
    EXPECT_GE(hostile.size(), 20u);
    for (const SampleEntry &entry : hostile) {
        DecodeWith(PngDecoder, entry.file, false);
        DecodeWith(PngDecoder, entry.file, true);
    }
    EXPECT_TRUE(SampleDecodes(PngDecoder, "png/basn6a16.png", "png/basn6a16.png.expected"));

    // Not a PNG at all, or too short to hold a signature.
    for (const char *text : {"", "\x89PNG\r\n\x1a", "BM6\0\0\0", "\xFF\xD8\xFF\xE0 not a PNG"}) {
        size_t size = strlen(text);
        GuardedBlock block(size);
        memcpy(block.data(), text, size);
        EXPECT_EQ(PngDecoder.Open(nullptr, block.data(), intptr_t(size)), 0) << size;
    }
}

TEST_F(Codecs, PngDataEndingInsideTheImageFailsWithTheRowsReadSoFar) {
    auto entries = SampleEntries("png-cut");
    ASSERT_GE(entries.size(), 2u);
    for (const SampleEntry &entry : entries) {
        Picture want;
        ASSERT_TRUE(ReadExpected(SamplePath(entry.argument.c_str()), want));
        for (bool memoryMode : {false, true}) {
            DecodeOutcome got = DecodeWith(PngDecoder, entry.file, memoryMode);
            EXPECT_NE(got.opened, 0) << entry.file;
            EXPECT_EQ(got.decoded, 0) << entry.file;
            ASSERT_EQ(got.picture.samples.size(), want.samples.size());
            size_t rowBytes = size_t(want.width) * want.channels;
            int whole = 0;
            while (whole < want.height &&
                   memcmp(got.picture.samples.data() + whole * rowBytes,
                          want.samples.data() + whole * rowBytes, rowBytes) == 0)
                ++whole;
            EXPECT_GT(whole, 0) << entry.file;
            EXPECT_LT(whole, want.height) << entry.file;
        }
    }
    EXPECT_TRUE(SampleDecodes(PngDecoder, "png/basn2c08.png", "png/basn2c08.png.expected"));
}

TEST_F(Codecs, SavedPngFilesHoldOnlyTheCoreChunksAndComeBackExactly) {
    const int32_t sizes[][2] = {{1, 1}, {3, 2}, {4, 4}, {5, 3}, {17, 9}, {256, 32}, {301, 7}};
    for (auto size : sizes) {
        Picture saved = RandomPicture(size[0], size[1], unsigned(size[0] * 1000 + size[1]));
        PixelBlock block = BlockFromPicture(saved);
        std::string name = "saved-" + std::to_string(size[0]) + "x" + std::to_string(size[1]);
        std::string path = WrittenFolder() + name + ".png";
        ASSERT_EQ(PngEncoder.Encode(path.c_str(), block.bytes.data(), block.width, block.height,
                                    block.stride, 7),
                  1)
            << name;
        WriteRaw(path + ".expected", saved);

        std::string file = ReadWholeFile(path);
        const auto *p = reinterpret_cast<const uint8_t *>(file.data());
        ASSERT_GE(file.size(), 8u);
        EXPECT_EQ(memcmp(p, "\x89PNG\r\n\x1a\n", 8), 0) << name;
        std::vector<std::string> kinds;
        size_t pos = 8;
        while (pos + 12 <= file.size()) {
            uint32_t length = BigEndian(p + pos);
            ASSERT_LE(pos + 12 + length, file.size()) << name;
            kinds.emplace_back(file.substr(pos + 4, 4));
            uint32_t crc = uint32_t(crc32(0, p + pos + 4, length + 4));
            EXPECT_EQ(BigEndian(p + pos + 8 + length), crc) << name << " " << kinds.back();
            if (kinds.back() == "IHDR") {
                ASSERT_EQ(length, 13u);
                EXPECT_EQ(BigEndian(p + pos + 8), uint32_t(size[0]));
                EXPECT_EQ(BigEndian(p + pos + 12), uint32_t(size[1]));
                EXPECT_EQ(p[pos + 16], 8) << "bit depth";
                EXPECT_EQ(p[pos + 17], 2) << "colour type";
                EXPECT_EQ(p[pos + 20], 0) << "interlace";
            }
            pos += 12 + length;
        }
        EXPECT_EQ(pos, file.size()) << name;
        ASSERT_GE(kinds.size(), 3u) << name;
        EXPECT_EQ(kinds.front(), "IHDR") << name;
        EXPECT_EQ(kinds.back(), "IEND") << name;
        for (size_t i = 1; i + 1 < kinds.size(); ++i)
            EXPECT_EQ(kinds[i], "IDAT") << name;

        DecodeOutcome back = DecodeWith(PngDecoder, path, false);
        EXPECT_EQ(back.opened, 1) << name;
        EXPECT_EQ(back.decoded, 1) << name;
        EXPECT_EQ(PictureDifference(back.picture, saved), "") << name;
    }
}

TEST_F(Codecs, PngEncoderReplacesFilesAndReportsLibpngErrors) {
    std::string path = WrittenFolder() + "replaced.png";
    std::string old(100000, 'x');
    ASSERT_TRUE(WriteWholeFile(path, old.data(), old.size()));
    Picture small = SolidPicture(2, 2, 10, 20, 30);
    PixelBlock block = BlockFromPicture(small);
    ASSERT_EQ(PngEncoder.Encode(path.c_str(), block.bytes.data(), 2, 2, block.stride, 7), 1);
    EXPECT_LT(ReadWholeFile(path).size(), 1000u);
    WriteRaw(path + ".expected", small);

    // Sizes libpng refuses: the error comes back as 0, not as the end of the process.
    std::string bad = WrittenFolder() + "refused.bin";
    std::vector<uint8_t> wide(3 * 1000001 + 8);
    EXPECT_EQ(PngEncoder.Encode(bad.c_str(), block.bytes.data(), 0, 2, block.stride, 7), 0);
    EXPECT_EQ(PngEncoder.Encode(bad.c_str(), block.bytes.data(), 2, -1, block.stride, 7), 0);
    EXPECT_EQ(PngEncoder.Encode(bad.c_str(), wide.data(), 1000001, 1, 3 * 1000001 + 1, 7), 0);
    std::string nowhere = WrittenFolder() + "no such folder\\x.png";
    EXPECT_EQ(PngEncoder.Encode(nowhere.c_str(), block.bytes.data(), 2, 2, block.stride, 7), 0);
    EXPECT_FALSE(FileExists(nowhere));

    DeleteFileA(path.c_str());
    ASSERT_EQ(PngEncoder.Encode(path.c_str(), block.bytes.data(), 2, 2, block.stride, 7), 1);
    DecodeOutcome back = DecodeWith(PngDecoder, path, true);
    EXPECT_EQ(PictureDifference(back.picture, small), "");
}

// testimages of libjpeg-turbo and files made from them with cjpeg, jpegtran and PIL: gray,
// progressive, RGB, CMYK, restart markers and data that ends early.
TEST_F(Codecs, JpegFilesDecodeToTheSamePixelsAsDjpeg) {
    auto entries = SampleEntries("jpeg-decode");
    EXPECT_GE(entries.size(), 15u);
    for (const SampleEntry &entry : entries) {
        Picture want;
        ASSERT_TRUE(ReadExpected(SamplePath(entry.argument.c_str()), want)) << entry.argument;
        for (bool memoryMode : {false, true}) {
            std::string name = entry.file + (memoryMode ? " (memory)" : " (file)");
            DecodeOutcome got = DecodeWith(JpegDecoder, entry.file, memoryMode);
            EXPECT_EQ(got.opened, 1) << name;
            EXPECT_EQ(got.decoded, 1) << name;
            EXPECT_EQ(PictureDifference(got.picture, want), "") << name;
            EXPECT_TRUE(got.paddingKept) << name;
            if (entry.file.find("gray") != std::string::npos) {
                bool equal = true;
                for (size_t i = 0; i + 2 < got.picture.samples.size(); i += 3)
                    equal = equal && got.picture.samples[i] == got.picture.samples[i + 1] &&
                            got.picture.samples[i] == got.picture.samples[i + 2];
                EXPECT_TRUE(equal) << name << ": gray channels differ";
            }
        }
    }
}

TEST_F(Codecs, JpegFilesDjpegCannotReadAreRefused) {
    auto entries = SampleEntries("jpeg-refuse");
    ASSERT_GE(entries.size(), 1u); // the 12-bit test image
    for (const SampleEntry &entry : entries) {
        EXPECT_EQ(DecodeWith(JpegDecoder, entry.file, false).opened, 0) << entry.file;
        EXPECT_EQ(DecodeWith(JpegDecoder, entry.file, true).opened, 0) << entry.file;
    }
    for (std::string text : {std::string(), std::string("\xFF"), std::string("\xFF\xD9"),
                             std::string("\x89PNG\r\n\x1a\n"), std::string("\xFF\xD8"),
                             std::string("\xFF\xD8\xFF\xD9")}) {
        size_t size = text.size();
        GuardedBlock block(size);
        memcpy(block.data(), text.data(), size);
        EXPECT_EQ(JpegDecoder.Open(nullptr, block.data(), intptr_t(size)), 0) << size;
        std::string path = WrittenFolder() + "short.jpg";
        WriteWholeFile(path, text.data(), size);
        FILE *stream = fopen(path.c_str(), "rb");
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(JpegDecoder.Open(stream, nullptr, reinterpret_cast<intptr_t>(path.c_str())), 0);
        fclose(stream);
    }
    EXPECT_TRUE(SampleDecodes(JpegDecoder, "jpeg/testorig.jpg", "jpeg/testorig.jpg.expected"));
}

TEST_F(Codecs, ProgressiveJpegDecodesLikeItsBaselineTwin) {
    auto entries = SampleEntries("jpeg-twin");
    ASSERT_GE(entries.size(), 1u);
    for (const SampleEntry &entry : entries) {
        DecodeOutcome progressive = DecodeWith(JpegDecoder, entry.file, false);
        DecodeOutcome baseline = DecodeWith(JpegDecoder, SamplePath(entry.argument.c_str()), false);
        EXPECT_EQ(progressive.decoded, 1);
        EXPECT_EQ(baseline.decoded, 1);
        EXPECT_EQ(PictureDifference(progressive.picture, baseline.picture), "") << entry.file;
    }
}

TEST_F(Codecs, CmykAndYcckJpegFilesLoadWithTheirTrueColours) {
    auto entries = SampleEntries("jpeg-solid");
    ASSERT_GE(entries.size(), 3u);
    for (const SampleEntry &entry : entries) {
        uint8_t rgb[3];
        int r, g, b;
        ASSERT_EQ(sscanf(entry.argument.c_str(), "%d,%d,%d", &r, &g, &b), 3);
        rgb[0] = uint8_t(r), rgb[1] = uint8_t(g), rgb[2] = uint8_t(b);
        DecodeOutcome got = DecodeWith(JpegDecoder, entry.file, false);
        EXPECT_EQ(got.decoded, 1) << entry.file;
        ExpectSolid(got.picture, rgb, 3, entry.file);
    }
    // YCCK, as Adobe's programs write CMYK with a colour transform: stored values are inverted
    // inks, so (255, 0, 0, 255) is full magenta and yellow ink without black: red.
    struct {
        uint8_t stored[4];
        uint8_t rgb[3];
    } cases[] = {{{255, 0, 0, 255}, {255, 0, 0}},
                 {{0, 255, 255, 255}, {0, 255, 255}},
                 {{255, 255, 255, 127}, {127, 127, 127}},
                 {{255, 255, 255, 0}, {0, 0, 0}}};
    for (auto &c : cases) {
        std::string path = WrittenFolder() + "ycck.jpg";
        ASSERT_TRUE(WriteYcckJpeg(path, c.stored));
        DecodeOutcome got = DecodeWith(JpegDecoder, path, true);
        EXPECT_EQ(got.opened, 1);
        EXPECT_EQ(got.decoded, 1);
        ExpectSolid(got.picture, c.rgb, 3, "YCCK " + std::to_string(c.stored[3]));
    }
}

TEST_F(Codecs, JpegQualityRunsFromZeroToTenOntoLibjpegsScale) {
    Picture picture;
    ASSERT_TRUE(ReadExpected(SamplePath("jpeg/testorig.jpg.expected"), picture));
    PixelBlock block = BlockFromPicture(picture);
    // Our scale against the tables libjpeg's own cjpeg writes at the matching quality.
    const struct {
        int32_t ours;
        int reference;
    } cases[] = {{12, 100}, {10, 100}, {7, 70}, {5, 50}, {0, 0}, {-3, 0}};
    for (auto c : cases) {
        std::string path = WrittenFolder() + "quality.jpg";
        ASSERT_EQ(JpegEncoder.Encode(path.c_str(), block.bytes.data(), block.width, block.height,
                                     block.stride, c.ours),
                  1);
        std::string reference = "jpeg/quality" + std::to_string(c.reference) + ".jpg";
        auto want = QuantTables(ReadWholeFile(SamplePath(reference.c_str())));
        auto got = QuantTables(ReadWholeFile(path));
        ASSERT_EQ(want.size(), 2u) << reference;
        EXPECT_EQ(got, want) << "quality " << c.ours;
        if (c.reference == 100) {
            EXPECT_EQ(got[0], std::vector<int>(64, 1));
        }
    }
}

TEST_F(Codecs, SavedJpegFilesAreUprightAndKeepTheirColours) {
    // Top half white, bottom half black; the block boundaries fall on the edge between them.
    Picture upright = SolidPicture(16, 16, 255, 255, 255);
    std::fill(upright.samples.begin() + 8 * 16 * 3, upright.samples.end(), 0);
    const struct {
        const char *name;
        Picture picture;
        int tolerance;
    } cases[] = {{"red", SolidPicture(16, 16, 255, 0, 0), 3},
                 {"green", SolidPicture(13, 5, 0, 255, 0), 3},
                 {"blue", SolidPicture(8, 8, 0, 0, 255), 3},
                 {"upright", upright, 3}};
    for (auto &c : cases) {
        PixelBlock block = BlockFromPicture(c.picture);
        std::string path = WrittenFolder() + c.name + ".jpg";
        ASSERT_EQ(JpegEncoder.Encode(path.c_str(), block.bytes.data(), block.width, block.height,
                                     block.stride, 10),
                  1);
        WriteRaw(path + ".expected", c.picture);
        DecodeOutcome back = DecodeWith(JpegDecoder, path, false);
        ASSERT_EQ(back.decoded, 1) << c.name;
        ASSERT_EQ(back.picture.width, c.picture.width);
        ASSERT_EQ(back.picture.height, c.picture.height);
        EXPECT_LE(MaxDifference(back.picture, c.picture), c.tolerance) << c.name;
    }
}

// libjpeg's standard error exit would end the test program here.
TEST_F(Codecs, JpegEncoderErrorsFailTheSaveAndRemoveTheFile) {
    Picture small = SolidPicture(4, 4, 1, 2, 3);
    PixelBlock block = BlockFromPicture(small);
    std::vector<uint8_t> tall(size_t(4) * 70002);
    std::string path = WrittenFolder() + "failed.jpg";
    EXPECT_EQ(JpegEncoder.Encode(path.c_str(), block.bytes.data(), 0, 4, block.stride, 7), 0);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(JpegEncoder.Encode(path.c_str(), tall.data(), 1, 70000, 4, 7), 0);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(JpegEncoder.Encode(path.c_str(), block.bytes.data(), -5, 4, block.stride, 7), 0);
    EXPECT_FALSE(FileExists(path));
    std::string nowhere = WrittenFolder() + "no such folder\\x.jpg";
    EXPECT_EQ(JpegEncoder.Encode(nowhere.c_str(), block.bytes.data(), 4, 4, block.stride, 7), 0);

    // An existing file of the same name is replaced.
    std::string old(100000, 'x');
    ASSERT_TRUE(WriteWholeFile(path, old.data(), old.size()));
    ASSERT_EQ(JpegEncoder.Encode(path.c_str(), block.bytes.data(), 4, 4, block.stride, 7), 1);
    EXPECT_LT(ReadWholeFile(path).size(), 2000u);
    DecodeOutcome back = DecodeWith(JpegDecoder, path, false);
    EXPECT_EQ(back.decoded, 1);
}

// A few hundred damaged files of each format through both modes: nothing crashes, nothing
// reads past the data or writes past a row, nothing stays allocated, and the decoders work
// normally afterwards.
TEST_F(Codecs, HundredsOfDamagedFilesGoThroughBothDecodersWithoutHarm) {
    std::string scratch = WrittenFolder() + "damaged.bin";
    const struct {
        const ImageDecoder *decoder;
        const char *format;
        std::vector<const char *> sources;
        size_t cutStep, flipStep;
    } runs[] = {
        {&PngDecoder, "PNG", {"png/basn2c08.png", "png/basn3p08.png", "png/ibasn6a16.png"}, 11, 9},
        {&JpegDecoder,
         "JPEG",
         {"jpeg/testorig.jpg", "jpeg/progressive.jpg", "jpeg/gray.jpg", "jpeg/cmyk.jpg",
          "jpeg/testimgari.jpg"},
         97,
         71},
    };
    long long heapBefore = HeapInUse();
    for (auto &run : runs) {
        int files = 0, accepted = 0;
        for (const char *source : run.sources) {
            std::string bytes = ReadWholeFile(SamplePath(source));
            ASSERT_FALSE(bytes.empty()) << source;
            for (const std::string &variant : DamagedVariants(bytes, run.cutStep, run.flipStep)) {
                bool memoryMode = files % 2 == 1;
                int32_t opened = DecodeDamaged(*run.decoder, variant, memoryMode, scratch);
                ASSERT_GE(opened, 0);
                accepted += opened != 0;
                ++files;
            }
        }
        printf("%s: %d damaged files, %d opened, none crashed\n", run.format, files, accepted);
        EXPECT_GE(files, 300) << run.format;
    }
    long long heapAfter = HeapInUse();
    if (heapBefore >= 0 && heapAfter >= 0) {
        EXPECT_LT(heapAfter - heapBefore, 64 * 1024) << "the decoders kept memory";
    } else {
        printf("the C runtime heap cannot be walked here: no leak check\n");
    }
    EXPECT_TRUE(SampleDecodes(PngDecoder, "png/basn2c08.png", "png/basn2c08.png.expected"));
    EXPECT_TRUE(SampleDecodes(JpegDecoder, "jpeg/testorig.jpg", "jpeg/testorig.jpg.expected"));
}
