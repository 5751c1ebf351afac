// Loading and saving images: bitmap files of every common kind through the system loader, icon
// files, the decoder chain with decoders of the test's own, the BMP writer's bytes, and saving
// through a temporary file.
#include "runtime/drawing/drawing.h"
#include "runtime/image/image.h"
#include "runtime/image/image_load.h"
#include "runtime/image/image_save.h"
#include "runtime/memory/memory.h"
#include "tests/drawing/gdi_check.h"
#include "tests/image/bmp_files.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

using Pixels = std::vector<COLORREF>;

Picture MakePicture(int width, int height, COLORREF (*color)(int x, int y)) {
    Picture p;
    p.width = width;
    p.height = height;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            p.pixels.push_back(color(x, y));
    return p;
}

// Distinct colours everywhere, none of them black or white.
COLORREF Distinct(int x, int y) {
    return RGB(40 + x * 23, 30 + y * 41, 200 - (x + y) * 7);
}

Pixels ImagePixels(ObjectId id) {
    return ReadPixels(static_cast<HBITMAP>(ImageHandle(id)));
}

// True when nobody holds the file open: an open without sharing succeeds only then.
bool NotHeldOpen(const std::string &path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool WriteText(const std::string &path, const std::string &bytes) {
    return WriteWholeFile(path, bytes.data(), bytes.size());
}

// ---- A decoder of the test's own -------------------------------------------------------------
//
// Its files: a 4-byte magic, width and height (32-bit), an alpha byte (1: 4 bytes a pixel),
// the number of rows after which decoding fails (0: none), then the rows top row first as blue,
// green, red[, alpha]. Like a real codec it reads the rows from the stream only in Decode and
// releases its picture in Decode, whatever the outcome.

struct TestCodec {
    char magic[2][5]; // the magics it accepts
    int opens = 0;
    int decodes = 0;
    bool holding = false; // a picture is open
    bool sawStream = false;
    bool sawMemory = false;
    FILE *stream = nullptr;
    const uint8_t *memory = nullptr;
    size_t memoryLeft = 0;
    int32_t width = 0, height = 0, kind = 0, failAfter = 0;
};

TestCodec codecs[2];

std::string TestFile(const char *magic, int32_t width, int32_t height, bool alpha,
                     const Pixels &pixels, int32_t failAfter = 0, uint8_t alphaValue = 0x80) {
    std::string out(magic, 4);
    out.append(reinterpret_cast<const char *>(&width), 4);
    out.append(reinterpret_cast<const char *>(&height), 4);
    out += char(alpha ? 1 : 0);
    out.append(reinterpret_cast<const char *>(&failAfter), 4);
    for (COLORREF c : pixels) {
        out += char(GetBValue(c));
        out += char(GetGValue(c));
        out += char(GetRValue(c));
        if (alpha) out += char(alphaValue);
    }
    return out;
}

constexpr size_t TestHeaderSize = 17;

bool CodecRead(TestCodec &c, void *to, size_t n) {
    if (c.stream) return fread(to, 1, n, c.stream) == n;
    if (n > c.memoryLeft) return false;
    memcpy(to, c.memory, n);
    c.memory += n;
    c.memoryLeft -= n;
    return true;
}

template <int N> int32_t CodecOpen(FILE *stream, const void *memory, intptr_t nameOrSize) {
    TestCodec &c = codecs[N];
    c.opens++;
    c.holding = false;
    c.stream = stream;
    c.memory = static_cast<const uint8_t *>(memory);
    c.memoryLeft = memory ? size_t(nameOrSize) : 0;
    (stream ? c.sawStream : c.sawMemory) = true;
    char header[TestHeaderSize];
    if (!CodecRead(c, header, sizeof header)) return 0;
    if (memcmp(header, c.magic[0], 4) != 0 && memcmp(header, c.magic[1], 4) != 0) return 0;
    memcpy(&c.width, header + 4, 4);
    memcpy(&c.height, header + 8, 4);
    c.kind = header[12] ? 2 : 1;
    memcpy(&c.failAfter, header + 13, 4);
    c.holding = true;
    return c.kind;
}

template <int N> int32_t CodecDecode(uint8_t *pixels, int32_t stride) {
    TestCodec &c = codecs[N];
    c.decodes++;
    int32_t result = 1;
    size_t rowBytes = size_t(c.width) * (c.kind == 2 ? 4 : 3);
    for (int32_t y = 0; y < c.height && result; y++) {
        if (c.failAfter && y == c.failAfter)
            result = 0;
        else if (!CodecRead(c, pixels + ptrdiff_t(y) * stride, rowBytes))
            result = 0;
    }
    c.holding = false;
    c.stream = nullptr;
    return result;
}

template <int N> int32_t CodecWidth() {
    return codecs[N].width;
}
template <int N> int32_t CodecHeight() {
    return codecs[N].height;
}

const ImageDecoder DecoderA = {CodecOpen<0>, CodecDecode<0>, CodecWidth<0>, CodecHeight<0>};
const ImageDecoder DecoderB = {CodecOpen<1>, CodecDecode<1>, CodecWidth<1>, CodecHeight<1>};

// ---- Encoders of the test's own ---------------------------------------------------------------

constexpr int32_t FormatGood = 0x444F4F47; // writes what it was given and succeeds
constexpr int32_t FormatFail = 0x4C494146; // writes a little, then fails
constexpr int32_t FormatSecond = 0x444E4553;

struct EncoderCall {
    std::string fileName;
    int32_t width, height, stride, quality;
    std::string firstRow; // the first row of the block: the picture's bottom row
    std::string lastRow;  // the picture's top row
};
std::vector<EncoderCall> encoderCalls;

int32_t RecordCall(const char *fileName, const uint8_t *pixels, int32_t width, int32_t height,
                   int32_t stride, int32_t quality) {
    const char *bytes = reinterpret_cast<const char *>(pixels);
    encoderCalls.push_back({fileName, width, height, stride, quality,
                            std::string(bytes, size_t(stride)),
                            std::string(bytes + ptrdiff_t(height - 1) * stride, size_t(stride))});
    return 1;
}

int32_t EncodeGood(const char *fileName, const uint8_t *pixels, int32_t width, int32_t height,
                   int32_t stride, int32_t quality) {
    RecordCall(fileName, pixels, width, height, stride, quality);
    return WriteText(fileName, "GOOD " + std::to_string(width) + "x" + std::to_string(height)) ? 1
                                                                                               : 0;
}

int32_t EncodeFail(const char *fileName, const uint8_t *pixels, int32_t width, int32_t height,
                   int32_t stride, int32_t quality) {
    RecordCall(fileName, pixels, width, height, stride, quality);
    WriteText(fileName, "half a pict");
    return 0;
}

int32_t EncodeSecond(const char *fileName, const uint8_t *, int32_t, int32_t, int32_t, int32_t) {
    return WriteText(fileName, "first") ? 2 : 0;
}

int32_t EncodeSecondLater(const char *fileName, const uint8_t *, int32_t, int32_t, int32_t,
                          int32_t) {
    return WriteText(fileName, "later") ? 1 : 0;
}

const ImageEncoder GoodEncoder = {FormatGood, EncodeGood};
const ImageEncoder FailEncoder = {FormatFail, EncodeFail};
const ImageEncoder SecondEncoder = {FormatSecond, EncodeSecond};
const ImageEncoder SecondEncoderLater = {FormatSecond, EncodeSecondLater};

class ImageFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        MainHeapInit();
        ObjectHeapInit();
        DrawingInit();
        ImageDecoderListReset();
        ImageLibraryInit();
        // The encoder table has no reset: the test's encoders register once.
        ImageEncoderRegister(&GoodEncoder);
        ImageEncoderRegister(&FailEncoder);
        ImageEncoderRegister(&SecondEncoder);
        ImageEncoderRegister(&SecondEncoderLater);
    }
    void SetUp() override {
        ImageDecoderListReset();
        codecs[0] = TestCodec{{"TDEC", "TDEC"}};
        codecs[1] = TestCodec{{"TDEC", "TDE2"}};
        encoderCalls.clear();
        display = DisplayBitsPerPixel();
    }
    void TearDown() override {
        ImageLibraryEnd();
        EXPECT_FALSE(codecs[0].holding) << "decoder A still holds a picture";
        EXPECT_FALSE(codecs[1].holding) << "decoder B still holds a picture";
    }
    // Colours survive the display-compatible path exactly only on a true-colour display.
    bool TrueColour() const { return display >= 24; }
    int display = 0;
};

// ---- Saving
// --------------------------------------------------------------------------------------

TEST_F(ImageFiles, BmpWriterWritesTheHeaderAndBottomUpPaddedRows) {
    std::string folder = TestFolder("bmp-writer");
    Picture p = MakePicture(3, 2, Distinct);
    ASSERT_NE(ImageCreate(1, 3, 2), 0);
    ASSERT_TRUE(WritePixels(static_cast<HBITMAP>(ImageHandle(1)), p.pixels));
    ASSERT_EQ(ImageSave(1, (folder + "s.bmp").c_str(), ImageFormatBmp), 1);
    std::string bytes = ReadWholeFile(folder + "s.bmp");

    ASSERT_EQ(bytes.size(), 78u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(Field32(bytes, 2), 78u) << "file size";
    EXPECT_EQ(Field32(bytes, 6), 0u) << "reserved";
    EXPECT_EQ(Field32(bytes, 10), 54u) << "pixel offset";
    EXPECT_EQ(Field32(bytes, 14), 40u) << "header size";
    EXPECT_EQ(Field32(bytes, 18), 3u);
    EXPECT_EQ(Field32(bytes, 22), 2u) << "positive height: bottom-up";
    EXPECT_EQ(Field16(bytes, 26), 1u) << "planes";
    EXPECT_EQ(Field16(bytes, 28), 24u);
    EXPECT_EQ(Field32(bytes, 30), 0u) << "BI_RGB";
    EXPECT_EQ(Field32(bytes, 34), 24u) << "image size";
    for (size_t offset : {38u, 42u, 46u, 50u})
        EXPECT_EQ(Field32(bytes, offset), 0u) << offset;

    // The first row in the file is the picture's bottom row, pixels blue, green, red.
    std::string expected;
    for (int y : {1, 0}) {
        for (int x = 0; x < 3; x++) {
            COLORREF c = p.At(x, y);
            expected += {char(GetBValue(c)), char(GetGValue(c)), char(GetRValue(c))};
        }
        expected += std::string(3, '\0');
    }
    EXPECT_EQ(bytes.substr(54), expected);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"s.bmp"});
}

TEST_F(ImageFiles, BmpRowsArePaddedToWholeWords) {
    std::string folder = TestFolder("bmp-padding");
    for (int width : {1, 2, 3, 4, 5}) {
        SCOPED_TRACE(width);
        Picture p = MakePicture(width, 3, Distinct);
        ASSERT_NE(ImageCreate(1, width, 3, 24), 0);
        ASSERT_TRUE(WritePixels(static_cast<HBITMAP>(ImageHandle(1)), p.pixels));
        std::string name = folder + "w" + std::to_string(width) + ".bmp";
        ASSERT_EQ(ImageSave(1, name.c_str(), ImageFormatBmp), 1);
        std::string bytes = ReadWholeFile(name);
        size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
        EXPECT_EQ(bytes.size(), 54 + stride * 3);
        EXPECT_EQ(Field32(bytes, 34), stride * 3);
        Picture read;
        std::string why;
        ASSERT_TRUE(ReadBmp24(bytes, &read, &why)) << why;
        EXPECT_TRUE(SamePixels(read.pixels, p.pixels, width));
    }
    EXPECT_EQ(ReadWholeFile(folder + "w1.bmp").size(), 54u + 4 * 3);
    EXPECT_EQ(ReadWholeFile(folder + "w4.bmp").size(), 54u + 12 * 3);
}

TEST_F(ImageFiles, A32BitImageIsSavedWithoutItsAlpha) {
    std::string folder = TestFolder("bmp-alpha");
    ASSERT_NE(ImageCreate(1, 3, 2, 32), 0);
    DIBSECTION section{};
    ASSERT_EQ(GetObjectA(ImageHandle(1), sizeof section, &section), int(sizeof section));
    auto *bits = static_cast<uint8_t *>(section.dsBm.bmBits); // bottom-up rows of 12 bytes
    Picture p = MakePicture(3, 2, Distinct);
    for (int y = 0; y < 2; y++) {
        for (int x = 0; x < 3; x++) {
            uint8_t *px = bits + (1 - y) * 12 + x * 4;
            COLORREF c = p.At(x, y);
            px[0] = GetBValue(c), px[1] = GetGValue(c), px[2] = GetRValue(c), px[3] = 0x40;
        }
    }
    ASSERT_EQ(ImageSave(1, (folder + "a.bmp").c_str(), ImageFormatBmp), 1);
    std::string bytes = ReadWholeFile(folder + "a.bmp");
    EXPECT_EQ(bytes.size(), 78u);
    Picture read;
    std::string why;
    ASSERT_TRUE(ReadBmp24(bytes, &read, &why)) << why;
    EXPECT_TRUE(SamePixels(read.pixels, p.pixels, 3));
}

TEST_F(ImageFiles, SaveFailuresTouchNoFile) {
    std::string folder = TestFolder("save-failures");
    std::string name = folder + "x.bmp";
    EXPECT_EQ(ImageSave(1, name.c_str(), ImageFormatBmp), 0) << "no such image";
    ASSERT_NE(ImageCreate(1, 4, 4), 0);
    EXPECT_EQ(ImageSave(1, nullptr, ImageFormatBmp), 0);
    EXPECT_EQ(ImageSave(1, name.c_str(), 1), 0) << "no encoder has id 1";
    EXPECT_EQ(ImageSave(1, name.c_str(), ImageFormatPng), 0) << "no PNG encoder here";
    EXPECT_EQ(ImageSave(1, (folder + "missing\\x.bmp").c_str(), ImageFormatBmp), 0);
    EXPECT_EQ(ImageSave(1, (folder + "missing\\x.bmp").c_str(), FormatGood), 0);
    EXPECT_TRUE(encoderCalls.empty());
    EXPECT_TRUE(FilesIn(folder).empty());
}

TEST_F(ImageFiles, SavingReplacesAFileOnlyWhenTheNewOneIsComplete) {
    std::string folder = TestFolder("save-replace");
    std::string name = folder + "sheet.bmp";
    Picture p = MakePicture(5, 2, Distinct);
    ASSERT_NE(ImageCreate(1, 5, 2), 0);
    ASSERT_TRUE(WritePixels(static_cast<HBITMAP>(ImageHandle(1)), p.pixels));

    ASSERT_TRUE(WriteText(name, "an earlier sheet"));
    ASSERT_EQ(ImageSave(1, name.c_str(), ImageFormatBmp), 1);
    Picture read;
    std::string why;
    ASSERT_TRUE(ReadBmp24(ReadWholeFile(name), &read, &why)) << why;
    EXPECT_TRUE(SamePixels(read.pixels, p.pixels, 5));

    // An encoder that fails part-way: the file under the final name stays as it was.
    ASSERT_TRUE(WriteText(name, "an earlier sheet"));
    EXPECT_EQ(ImageSave(1, name.c_str(), FormatFail), 0);
    EXPECT_EQ(ReadWholeFile(name), "an earlier sheet");
    ASSERT_EQ(encoderCalls.size(), 1u);
    const EncoderCall &call = encoderCalls[0];
    EXPECT_NE(call.fileName, name) << "the encoder writes a temporary file";
    EXPECT_EQ(call.fileName.substr(0, folder.size()), folder) << "beside the final one";
    EXPECT_EQ(call.fileName.find('\\', folder.size()), std::string::npos);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"sheet.bmp"});

    // An encoder that succeeds: its file becomes the sheet; it got the 24-bit bottom-up block.
    EXPECT_EQ(ImageSave(1, name.c_str(), FormatGood, 3), 1);
    EXPECT_EQ(ReadWholeFile(name), "GOOD 5x2");
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"sheet.bmp"});
    ASSERT_EQ(encoderCalls.size(), 2u);
    const EncoderCall &good = encoderCalls[1];
    EXPECT_EQ(good.width, 5);
    EXPECT_EQ(good.height, 2);
    EXPECT_EQ(good.stride, 16);
    EXPECT_EQ(good.quality, 3);
    COLORREF bottomLeft = p.At(0, 1), topRight = p.At(4, 0);
    EXPECT_EQ(good.firstRow.substr(0, 3),
              std::string({char(GetBValue(bottomLeft)), char(GetGValue(bottomLeft)),
                           char(GetRValue(bottomLeft))}));
    EXPECT_EQ(good.lastRow.substr(12, 3),
              std::string({char(GetBValue(topRight)), char(GetGValue(topRight)),
                           char(GetRValue(topRight))}));
    EXPECT_EQ(ImageSave(1, name.c_str(), FormatGood), 1);
    EXPECT_EQ(encoderCalls.back().quality, ImageDefaultQuality);

    // A new file, with no earlier one.
    EXPECT_EQ(ImageSave(1, (folder + "new.bmp").c_str(), ImageFormatBmp), 1);
    EXPECT_EQ(FilesIn(folder).size(), 2u);
}

TEST_F(ImageFiles, ASheetThatCannotBeReplacedStaysAndNoTemporaryFileIsLeft) {
    std::string folder = TestFolder("save-held");
    std::string name = folder + "sheet.bmp";
    ASSERT_NE(ImageCreate(1, 4, 4), 0);
    ASSERT_TRUE(WriteText(name, "kept"));
    // A viewer has the old sheet open and lets others only read it.
    HANDLE viewer = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ImageSave(1, name.c_str(), ImageFormatBmp), 0);
    EXPECT_EQ(ImageSave(1, name.c_str(), FormatGood), 0);
    CloseHandle(viewer);
    EXPECT_EQ(ReadWholeFile(name), "kept");
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"sheet.bmp"});

    // A folder in the way of the name.
    ASSERT_TRUE(CreateDirectoryA((folder + "dir.bmp").c_str(), nullptr));
    EXPECT_EQ(ImageSave(1, (folder + "dir.bmp").c_str(), ImageFormatBmp), 0);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"sheet.bmp"}) << "no temporary file left";
    EXPECT_TRUE(GetFileAttributesA((folder + "dir.bmp").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(ImageFiles, EncodeCallsTheFirstEncoderOfTheFormat) {
    std::string folder = TestFolder("encode");
    uint8_t block[32] = {};
    EXPECT_EQ(ImageEncode((folder + "a").c_str(), block, FormatSecond, 1, 1, 4, 7), 2)
        << "the encoder's own result";
    EXPECT_EQ(ReadWholeFile(folder + "a"), "first");
    EXPECT_EQ(ImageEncode((folder + "b").c_str(), block, 0x12345678, 1, 1, 4, 7), 0);
    EXPECT_FALSE(FileExists(folder + "b"));
    // Through ImageSave any non-zero result of the encoder is a plain success.
    ASSERT_NE(ImageCreate(1, 1, 1), 0);
    EXPECT_EQ(ImageSave(1, (folder + "c").c_str(), FormatSecond), 1);
    EXPECT_EQ(ReadWholeFile(folder + "c"), "first");
}

// ---- Loading bitmap and icon files -------------------------------------------------------------

// Loads a 5x3 bitmap file of each common bit count, as a section and in display format.
void CheckBitmapKinds(bool topDown, bool checkPixels, int display) {
    std::string folder = TestFolder(topDown ? "load-top-down" : "load-bottom-up");
    struct Kind {
        int bits;
        COLORREF (*color)(int, int);
    };
    const Kind kinds[] = {
        {1, [](int x, int y) { return (x + y) % 2 ? RGB(200, 30, 40) : RGB(20, 90, 250); }},
        {4, [](int x, int y) { return RGB(16 * ((x + y * 5) % 16), 100, 250 - x * 9); }},
        {8, Distinct},
        {16, Distinct},
        {24, Distinct},
        {32, Distinct},
    };
    for (const Kind &kind : kinds) {
        for (int32_t flags : {0, ImageDisplayFormat}) {
            SCOPED_TRACE(std::to_string(kind.bits) + " bits" + (flags ? ", display format" : ""));
            Picture p = MakePicture(5, 3, kind.color);
            std::string bytes = MakeBmp(p, kind.bits, topDown, 0x33);
            ASSERT_FALSE(bytes.empty());
            std::string name = folder + "k.bmp";
            ASSERT_TRUE(WriteText(name, bytes));
            ASSERT_NE(ImageLoad(0, name.c_str(), flags), 0);
            EXPECT_EQ(ImageGetWidth(0), 5);
            EXPECT_EQ(ImageGetHeight(0), 3);
            ImageObject *record = ImageRecord(0);
            EXPECT_EQ(record->flags, flags);
            DIBSECTION section{};
            int described = GetObjectA(ImageHandle(0), sizeof section, &section);
            if (kind.bits > 8 && !flags) {
                EXPECT_EQ(described, int(sizeof section)) << "a section";
                EXPECT_EQ(record->depth, kind.bits);
            } else {
                EXPECT_EQ(described, int(sizeof(BITMAP))) << "display-compatible";
                EXPECT_EQ(record->depth, display);
            }
            EXPECT_TRUE(NotHeldOpen(name));
            if (!checkPixels) continue;
            Pixels expected = p.pixels;
            // Wine's loader makes a 5-5-5 section of a 5-6-5 file: green loses a bit there.
            if (kind.bits == 16)
                for (COLORREF &c : expected)
                    c = RunningUnderWine() && !flags ? Through555(c) : Through565(c);
            EXPECT_TRUE(SamePixels(ImagePixels(0), expected, 5));
        }
    }
}

TEST_F(ImageFiles, BottomUpBitmapFilesOfEveryCommonKindLoad) {
    if (!TrueColour()) GTEST_SKIP() << "the display has " << display << " bits a pixel";
    CheckBitmapKinds(false, true, display);
}

TEST_F(ImageFiles, TopDownBitmapFilesOfEveryCommonKindLoad) {
    if (!TrueColour()) GTEST_SKIP() << "the display has " << display << " bits a pixel";
    bool wine = RunningUnderWine();
    CheckBitmapKinds(true, !wine, display);
    if (wine)
        GTEST_SKIP() << "pixels not compared: Wine's bitmap loader reads top-down files at the "
                        "right size but leaves every pixel black (Windows reads them)";
}

TEST_F(ImageFiles, ABlackAndWhiteBitmapKeepsItsPixels) {
    std::string folder = TestFolder("load-mono");
    Picture p = MakePicture(
        9, 2, [](int x, int y) { return (x * 3 + y) % 4 ? RGB(255, 255, 255) : RGB(0, 0, 0); });
    ASSERT_TRUE(WriteText(folder + "m.bmp", MakeBmp(p, 1, false)));
    ASSERT_NE(ImageLoad(0, (folder + "m.bmp").c_str()), 0);
    EXPECT_TRUE(SamePixels(ImagePixels(0), p.pixels, 9));
}

// A 16x16 icon file with one 32-bit entry.
std::string IconFile(COLORREF color) {
    std::string xorRows, andRows(16 * 4, '\0');
    for (int i = 0; i < 16 * 16; i++)
        xorRows +=
            {char(GetBValue(color)), char(GetGValue(color)), char(GetRValue(color)), char(0xFF)};
    std::string image;
    auto put32 = [](std::string &s, uint32_t v) { s.append(reinterpret_cast<char *>(&v), 4); };
    auto put16 = [](std::string &s, uint16_t v) { s.append(reinterpret_cast<char *>(&v), 2); };
    put32(image, 40);
    put32(image, 16);
    put32(image, 32); // the colour and the mask halves
    put16(image, 1);
    put16(image, 32);
    for (int i = 0; i < 6; i++)
        put32(image, 0);
    image += xorRows + andRows;
    std::string file;
    put16(file, 0);
    put16(file, 1); // an icon
    put16(file, 1);
    file += {char(16), char(16), char(0), char(0)};
    put16(file, 1);
    put16(file, 32);
    put32(file, uint32_t(image.size()));
    put32(file, 22);
    return file + image;
}

TEST_F(ImageFiles, AnIconFileLoadsAsAnIcon) {
    std::string folder = TestFolder("load-icon");
    std::string name = folder + "i.ico";
    ASSERT_TRUE(WriteText(name, IconFile(RGB(10, 200, 30))));
    ImageDecoderRegister(&DecoderA);
    intptr_t handle = ImageLoad(0, name.c_str());
    ASSERT_NE(handle, 0);
    EXPECT_EQ(reinterpret_cast<HANDLE>(handle), ImageHandle(0));
    EXPECT_NE(GetObjectType(ImageHandle(0)), DWORD(OBJ_BITMAP));
    ICONINFO info{};
    EXPECT_TRUE(GetIconInfo(static_cast<HICON>(ImageHandle(0)), &info)) << "an icon handle";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(ImageGetWidth(0), 16);
    EXPECT_EQ(ImageGetHeight(0), 16);
    EXPECT_EQ(ImageRecord(0)->depth, 32);
    EXPECT_EQ(codecs[0].opens, 0) << "the icon loader comes before the decoders";
    EXPECT_EQ(ImageSave(0, (folder + "i.bmp").c_str(), ImageFormatBmp), 0) << "not a bitmap";
    EXPECT_FALSE(FileExists(folder + "i.bmp"));
    EXPECT_TRUE(NotHeldOpen(name));
}

TEST_F(ImageFiles, FilesThatAreNoPictureFailAndFreeTheNumber) {
    std::string folder = TestFolder("load-failures");
    ImageDecoderRegister(&DecoderA);
    struct Case {
        const char *name;
        std::string bytes; // absent: the file does not exist
        bool exists;
        int opens; // how often the decoder is asked
        ImageLoadFailure why;
    };
    const Case cases[] = {
        {"notes.txt", "Some notes\r\nabout the strips\r\n", true, 1, ImageLoadFailure::NotAnImage},
        {"missing.png", "", false, 0, ImageLoadFailure::Unreadable},
        {"empty.png", "", true, 1, ImageLoadFailure::NotAnImage},
        {"b.png", "B", true, 1, ImageLoadFailure::NotAnImage},
        // A "BM" file the system refuses is not offered to the decoders, not even one that
        // would take it.
        {"bm.bmp", "BM" + TestFile("TDEC", 1, 1, false, {0}), true, 0,
         ImageLoadFailure::NotAnImage},
        {"bm-short.bmp", std::string("BM\x10\0\0\0\0\0", 8), true, 0, ImageLoadFailure::NotAnImage},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string name = folder + c.name;
        if (c.exists) {
            ASSERT_TRUE(WriteText(name, c.bytes));
        }
        codecs[0].opens = 0;
        ASSERT_NE(ImageCreate(0, 2, 2), 0);
        EXPECT_EQ(ImageLoad(0, name.c_str()), 0);
        EXPECT_EQ(ImageExists(0), 0) << "the earlier image is gone";
        EXPECT_EQ(ImageLastLoadFailure(), c.why);
        EXPECT_EQ(codecs[0].opens, c.opens);
        if (c.exists) {
            EXPECT_TRUE(NotHeldOpen(name));
        }
        EXPECT_EQ(ImageLoad(AutoNumber, name.c_str()), 0);
    }
    ObjectId id;
    RegistryRewind(ImageRegistry);
    EXPECT_EQ(RegistryNext(ImageRegistry, &id), nullptr) << "no dynamic record left behind";

    // A file opened elsewhere without sharing cannot be read.
    std::string name = folder + "locked.bmp";
    ASSERT_TRUE(WriteText(name, MakeBmp(MakePicture(2, 2, Distinct), 24, false)));
    HANDLE lock = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ImageLoad(0, name.c_str()), 0);
    CloseHandle(lock);
    EXPECT_NE(ImageLoad(0, name.c_str()), 0);
}

TEST_F(ImageFiles, PicturesTooLargeForTheRecordAreRefused) {
    std::string folder = TestFolder("load-large");
    Picture wide = MakePicture(32768, 1, [](int x, int) { return RGB(x & 0xFF, 0, 0); });
    ASSERT_TRUE(WriteText(folder + "wide.bmp", MakeBmp(wide, 24, false)));
    EXPECT_EQ(ImageLoad(0, (folder + "wide.bmp").c_str()), 0);
    EXPECT_EQ(ImageLastLoadFailure(), ImageLoadFailure::TooLarge);
    EXPECT_EQ(ImageExists(0), 0);

    Picture widest = MakePicture(32767, 1, [](int x, int) { return RGB(x & 0xFF, 0, 0); });
    ASSERT_TRUE(WriteText(folder + "widest.bmp", MakeBmp(widest, 24, false)));
    ASSERT_NE(ImageLoad(0, (folder + "widest.bmp").c_str()), 0);
    EXPECT_EQ(ImageGetWidth(0), 32767);
    EXPECT_EQ(ImageLastLoadFailure(), ImageLoadFailure::None);

    // Through the chain the picture is released without a bitmap being made for it.
    ImageDecoderRegister(&DecoderA);
    for (int32_t width : {40000, 0}) {
        SCOPED_TRACE(width);
        std::string name = folder + "wide.tdec";
        ASSERT_TRUE(WriteText(name, TestFile("TDEC", width, 1, false, {})));
        codecs[0].decodes = 0;
        EXPECT_EQ(ImageLoad(0, name.c_str()), 0);
        EXPECT_EQ(ImageLastLoadFailure(), ImageLoadFailure::TooLarge);
        EXPECT_FALSE(codecs[0].holding);
        EXPECT_EQ(codecs[0].decodes, 1) << "Decode is what releases a decoder's picture";
        EXPECT_TRUE(NotHeldOpen(name));
    }
}

// ---- The decoder chain
// ---------------------------------------------------------------------------

TEST_F(ImageFiles, ADecodedPictureBecomesATopDownSection) {
    if (!TrueColour()) GTEST_SKIP() << "the display has " << display << " bits a pixel";
    std::string folder = TestFolder("chain");
    ImageDecoderRegister(&DecoderA);
    Picture p = MakePicture(5, 3, Distinct);
    // Named like a bitmap file: only the content decides.
    std::string name = folder + "strip_H2.bmp";
    ASSERT_TRUE(WriteText(name, TestFile("TDEC", 5, 3, false, p.pixels)));
    intptr_t handle = ImageLoad(0, name.c_str());
    ASSERT_NE(handle, 0);
    EXPECT_EQ(reinterpret_cast<HANDLE>(handle), ImageHandle(0));
    EXPECT_TRUE(codecs[0].sawStream);
    EXPECT_FALSE(codecs[0].sawMemory);
    DIBSECTION section{};
    ASSERT_EQ(GetObjectA(ImageHandle(0), sizeof section, &section), int(sizeof section));
    EXPECT_EQ(section.dsBmih.biBitCount, 24);
    // Top-down: the first bytes of the pixel memory are the top-left pixel.
    auto *first = static_cast<uint8_t *>(section.dsBm.bmBits);
    EXPECT_EQ(RGB(first[2], first[1], first[0]), p.At(0, 0));
    EXPECT_EQ(ImageRecord(0)->depth, 24);
    EXPECT_EQ(ImageRecord(0)->flags, 0);
    EXPECT_EQ(ImageGetWidth(0), 5);
    EXPECT_EQ(ImageGetHeight(0), 3);
    EXPECT_TRUE(SamePixels(ImagePixels(0), p.pixels, 5));
    EXPECT_TRUE(NotHeldOpen(name));

    // With alpha: a 32-bit section that keeps the alpha bytes as decoded.
    ASSERT_TRUE(WriteText(name, TestFile("TDEC", 5, 3, true, p.pixels, 0, 0x5A)));
    intptr_t id = ImageLoad(AutoNumber, name.c_str());
    ASSERT_NE(id, 0);
    EXPECT_EQ(ImageExists(id), id);
    ASSERT_EQ(GetObjectA(ImageHandle(id), sizeof section, &section), int(sizeof section));
    EXPECT_EQ(section.dsBmih.biBitCount, 32);
    EXPECT_EQ(ImageRecord(id)->depth, 32);
    EXPECT_EQ(static_cast<uint8_t *>(section.dsBm.bmBits)[3], 0x5A);
    EXPECT_TRUE(SamePixels(ImagePixels(id), p.pixels, 5));

    // Display format: a display-compatible bitmap filled from the decoded rows.
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha);
        ASSERT_TRUE(WriteText(name, TestFile("TDEC", 5, 3, alpha, p.pixels)));
        ASSERT_NE(ImageLoad(2, name.c_str(), ImageDisplayFormat), 0);
        EXPECT_EQ(GetObjectA(ImageHandle(2), sizeof section, &section), int(sizeof(BITMAP)));
        EXPECT_EQ(ImageRecord(2)->depth, display);
        EXPECT_EQ(ImageRecord(2)->flags, ImageDisplayFormat);
        EXPECT_TRUE(SamePixels(ImagePixels(2), p.pixels, 5));
        EXPECT_TRUE(NotHeldOpen(name));
    }
}

TEST_F(ImageFiles, DecodersAreTriedInOrderEachFromTheStart) {
    std::string folder = TestFolder("chain-order");
    ImageDecoderRegister(&DecoderA); // takes TDEC
    ImageDecoderRegister(&DecoderB); // takes TDEC and TDE2
    Picture p = MakePicture(2, 2, Distinct);
    ASSERT_TRUE(WriteText(folder + "a.x", TestFile("TDEC", 2, 2, false, p.pixels)));
    ASSERT_TRUE(WriteText(folder + "b.x", TestFile("TDE2", 2, 2, false, p.pixels)));

    ASSERT_NE(ImageLoad(0, (folder + "a.x").c_str()), 0);
    EXPECT_EQ(codecs[0].decodes, 1);
    EXPECT_EQ(codecs[1].opens, 0) << "the first decoder that accepts wins";

    // A read the whole header before refusing; B must still see the file from its start.
    ASSERT_NE(ImageLoad(0, (folder + "b.x").c_str()), 0);
    EXPECT_EQ(codecs[0].opens, 2);
    EXPECT_EQ(codecs[1].decodes, 1);
    if (TrueColour()) {
        EXPECT_TRUE(SamePixels(ImagePixels(0), p.pixels, 2));
    }

    // With no decoder registered only bitmap and icon files load.
    ImageDecoderListReset();
    EXPECT_EQ(ImageLoad(0, (folder + "a.x").c_str()), 0);
    EXPECT_EQ(codecs[0].opens, 2);
    EXPECT_TRUE(NotHeldOpen(folder + "a.x"));
    ASSERT_TRUE(WriteText(folder + "c.bmp", MakeBmp(p, 24, false)));
    EXPECT_NE(ImageLoad(0, (folder + "c.bmp").c_str()), 0);
}

TEST_F(ImageFiles, TheChainReadsABlockInMemoryToo) {
    if (!TrueColour()) GTEST_SKIP() << "the display has " << display << " bits a pixel";
    ImageDecoderRegister(&DecoderA);
    ImageDecoderRegister(&DecoderB);
    Picture p = MakePicture(3, 4, Distinct);
    std::string block = TestFile("TDE2", 3, 4, false, p.pixels);
    EXPECT_EQ(ImageDecoderFind(intptr_t(5), block.data()), 0) << "too short for a header";
    EXPECT_EQ(ImageDecoderFind(intptr_t(block.size()), block.data()), 1);
    EXPECT_TRUE(codecs[1].sawMemory);
    EXPECT_FALSE(codecs[1].sawStream);
    HBITMAP bitmap = ImageBitmapFromDecoder(1, 0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_FALSE(codecs[1].holding);
    EXPECT_TRUE(SamePixels(ReadPixels(bitmap), p.pixels, 3));
    DeleteObject(bitmap);
}

TEST_F(ImageFiles, APictureTheDecoderCannotFinishIsRefused) {
    std::string folder = TestFolder("chain-fail");
    ImageDecoderRegister(&DecoderA);
    Picture p = MakePicture(4, 6, Distinct);
    ASSERT_TRUE(WriteText(folder + "ok.x", TestFile("TDEC", 4, 6, false, p.pixels)));
    ASSERT_NE(ImageLoad(0, (folder + "ok.x").c_str()), 0);
    // Rows missing from a picture must not reach a sheet as undefined pixels.
    ASSERT_TRUE(WriteText(folder + "f.x", TestFile("TDEC", 4, 6, false, p.pixels, 2)));
    EXPECT_EQ(ImageLoad(0, (folder + "f.x").c_str()), 0);
    EXPECT_EQ(ImageLastLoadFailure(), ImageLoadFailure::Damaged);
    EXPECT_EQ(ImageExists(0), 0) << "the number's earlier image is gone as with any failed load";
    EXPECT_FALSE(codecs[0].holding);
    EXPECT_TRUE(NotHeldOpen(folder + "f.x"));

    // A file cut short in its rows, also into a display-compatible bitmap.
    std::string cut = TestFile("TDEC", 4, 6, false, p.pixels);
    ASSERT_TRUE(WriteText(folder + "g.x", cut.substr(0, cut.size() - 20)));
    EXPECT_EQ(ImageLoad(0, (folder + "g.x").c_str(), ImageDisplayFormat), 0);
    EXPECT_EQ(ImageLastLoadFailure(), ImageLoadFailure::Damaged);
    EXPECT_TRUE(NotHeldOpen(folder + "g.x"));
}

TEST_F(ImageFiles, LoadingAndSavingLeaveNoGdiObjectsBehind) {
    std::string folder = TestFolder("leaks");
    ImageDecoderRegister(&DecoderA);
    Picture p = MakePicture(6, 5, Distinct);
    ASSERT_TRUE(WriteText(folder + "a.bmp", MakeBmp(p, 24, false)));
    ASSERT_TRUE(WriteText(folder + "b.bmp", MakeBmp(p, 8, false)));
    ASSERT_TRUE(WriteText(folder + "c.ico", IconFile(RGB(1, 2, 3))));
    ASSERT_TRUE(WriteText(folder + "d.x", TestFile("TDEC", 6, 5, false, p.pixels)));
    ASSERT_TRUE(WriteText(folder + "e.txt", "text"));
    auto cycle = [&] {
        for (const char *name : {"a.bmp", "b.bmp", "c.ico", "d.x", "e.txt"}) {
            ImageLoad(0, (folder + name).c_str());
            ImageLoad(1, (folder + name).c_str(), ImageDisplayFormat);
            ImageSave(1, (folder + "out.bmp").c_str(), ImageFormatBmp);
            ImageSave(0, (folder + "out.good").c_str(), FormatGood);
        }
        ImageLibraryEnd();
    };
    cycle();
    int before = GdiObjectCount();
    for (int i = 0; i < 5; i++)
        cycle();
    EXPECT_EQ(GdiObjectCount(), before);
}

} // namespace
