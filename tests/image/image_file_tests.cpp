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

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

using Names = std::vector<std::string>;

Picture MakePicture(int width, int height, COLORREF (*color)(int x, int y)) {
    Picture p{width, height, {}};
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            p.pixels.push_back(color(x, y));
    return p;
}

// Distinct colours everywhere, none of them black or white.
COLORREF Distinct(int x, int y) {
    return RGB(40 + x * 23, 30 + y * 41, 200 - (x + y) * 7);
}

// An image holding the picture: display-compatible, or a section of `depth` bits.
bool ImageFrom(ObjectId id, const Picture &p, int32_t depth = ImageDisplayFormat) {
    return ImageCreate(id, p.width, p.height, depth) &&
           WritePixels(static_cast<HBITMAP>(ImageHandle(id)), p.pixels);
}

Pixels ImagePixels(ObjectId id) {
    return ReadPixels(static_cast<HBITMAP>(ImageHandle(id)));
}

std::string Bgr(COLORREF c) {
    return {char(GetBValue(c)), char(GetGValue(c)), char(GetRValue(c))};
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

std::string SizeOf(ObjectId id) {
    return std::to_string(ImageGetWidth(id)) + "x" + std::to_string(ImageGetHeight(id));
}

bool NoRecordLeft() {
    ObjectId id;
    RegistryRewind(ImageRegistry);
    return RegistryNext(ImageRegistry, &id) == nullptr;
}

// A 6 x 5 bitmap file of `bits` bits a pixel, and one with a 32-bit field changed.
std::string SmallBmp(int bits) {
    return MakeBmp(MakePicture(6, 5, [](int x, int y) { return RGB(x * 40, y * 50, 7); }), bits,
                   false);
}

std::string Patched(std::string bytes, size_t offset, uint32_t value) {
    memcpy(&bytes[offset], &value, sizeof value);
    return bytes;
}

// ---- Decoders of the test's own ---------------------------------------------------------------
//
// Their files: a 4-byte magic, width and height (32-bit), an alpha byte (1: 4 bytes a pixel),
// then the rows top row first as blue, green, red[, alpha 0x5A]. Decoder A takes the magic
// "TDEC", decoder B also "TDE2". Like a real codec each reads the rows only in Decode and releases
// its picture there, whatever the outcome.

struct TestCodec {
    int opens = 0;
    int decodes = 0;
    int drops = 0;
    bool holding = false; // a picture is open
    FILE *stream = nullptr;
    const char *memory = nullptr;
    size_t memoryLeft = 0;
    int32_t width = 0, height = 0, kind = 0;
};

TestCodec codecs[2];

std::string TestFile(const char *magic, int32_t width, int32_t height, bool alpha,
                     const Pixels &pixels) {
    std::string out(magic, 4);
    AppendBytes(out, width);
    AppendBytes(out, height);
    out += char(alpha);
    for (COLORREF c : pixels)
        out += Bgr(c) + (alpha ? "\x5A" : "");
    return out;
}

bool CodecRead(TestCodec &c, void *to, size_t n) {
    if (c.stream) return fread(to, 1, n, c.stream) == n;
    if (n > c.memoryLeft) return false;
    memcpy(to, c.memory, n);
    c.memory += n;
    c.memoryLeft -= n;
    return true;
}

template <int N>
int32_t CodecOpen(ImagePicture *picture, FILE *stream, const void *memory, intptr_t nameOrSize) {
    TestCodec &c = codecs[N];
    c.opens++;
    c.stream = stream;
    c.memory = static_cast<const char *>(memory);
    c.memoryLeft = memory ? size_t(nameOrSize) : 0;
    char header[13];
    if (!CodecRead(c, header, sizeof header)) return 0;
    if (memcmp(header, "TDEC", 4) != 0 && (N == 0 || memcmp(header, "TDE2", 4) != 0)) return 0;
    memcpy(&c.width, header + 4, 4);
    memcpy(&c.height, header + 8, 4);
    c.kind = header[12] ? 2 : 1;
    c.holding = true;
    *picture = ImagePicture{c.width, c.height, &c};
    return c.kind;
}

template <int N> int32_t CodecDecode(ImagePicture *, uint8_t *pixels, int32_t stride) {
    TestCodec &c = codecs[N];
    c.decodes++;
    bool whole = true;
    for (int32_t y = 0; y < c.height && whole; y++) // kind 1: 3 bytes a pixel, kind 2: 4
        whole = CodecRead(c, pixels + ptrdiff_t(y) * stride, size_t(c.width) * (c.kind + 2));
    c.holding = false;
    return whole;
}

template <int N> void CodecDrop(ImagePicture *) {
    codecs[N].drops++;
    codecs[N].holding = false;
}

const ImageDecoder DecoderA = {CodecOpen<0>, CodecDecode<0>, CodecDrop<0>};
const ImageDecoder DecoderB = {CodecOpen<1>, CodecDecode<1>, CodecDrop<1>};

// ---- Encoders of the test's own ---------------------------------------------------------------

constexpr int32_t FormatGood = 0x444F4F47; // writes "GOOD" and succeeds
constexpr int32_t FormatFail = 0x4C494146; // writes a little, then fails

struct EncoderCall {
    Names filesThen; // the files of savingFolder while the encoder wrote
    int32_t width, height, stride, quality;
    std::string block;
    DWORD thread; // the thread that ran the encoder
};
std::vector<EncoderCall> encoderCalls; // under callsLock: saves run on several threads at once
SRWLOCK callsLock = SRWLOCK_INIT;
std::string savingFolder;

constexpr int32_t FormatSlow = 0x574F4C53;  // writes "SLOW" once a later save began, or in 0.5 s
constexpr int32_t FormatHeavy = 0x56414548; // as FormatGood, from an encoder marked heavy
constexpr int32_t FormatHeavyFail = 0x4C494648; // as FormatFail, from an encoder marked heavy
HANDLE laterSaveBegan;                          // set by the other encoders as they begin
std::string slowTarget;                         // the file the slow encoder's save writes

int32_t EncodeSlow(FILE *stream, const uint8_t *, int32_t, int32_t, int32_t, int32_t) {
    // A later save of the same file that did not wait for this one: let it reach the file first.
    if (WaitForSingleObject(laterSaveBegan, 500) == WAIT_OBJECT_0)
        for (int i = 0; i < 200 && ReadWholeFile(slowTarget) != "GOOD"; i++)
            Sleep(10);
    return fputs("SLOW", stream) >= 0;
}

template <bool Succeed>
int32_t Encode(FILE *stream, const uint8_t *pixels, int32_t width, int32_t height, int32_t stride,
               int32_t quality) {
    if (laterSaveBegan) SetEvent(laterSaveBegan);
    AcquireSRWLockExclusive(&callsLock);
    encoderCalls.push_back(
        {savingFolder.empty() ? Names{} : FilesIn(savingFolder), width, height, stride, quality,
         std::string(reinterpret_cast<const char *>(pixels), size_t(stride) * height),
         GetCurrentThreadId()});
    ReleaseSRWLockExclusive(&callsLock);
    return fputs(Succeed ? "GOOD" : "half a pict", stream) >= 0 && Succeed;
}

// Writes the rows as they are given, through the stream in pieces of an odd size, as an encoder
// writes: the stream gathers them into pieces of its own.
constexpr int32_t FormatRows = 0x53574F52;
int32_t EncodeRows(FILE *stream, const uint8_t *pixels, int32_t, int32_t height, int32_t stride,
                   int32_t) {
    const size_t size = size_t(stride) * size_t(height);
    for (size_t at = 0; at < size; at += 1000)
        if (fwrite(pixels + at, 1, std::min<size_t>(1000, size - at), stream) == 0) return 0;
    return 1;
}

const ImageEncoder Encoders[] = {
    {FormatGood, Encode<true>, 24},        {FormatRows, EncodeRows, 24},
    {FormatFail, Encode<false>, 24},       {FormatSlow, EncodeSlow, 24},
    {FormatHeavy, Encode<true>, 24, true}, {FormatHeavyFail, Encode<false>, 24, true}};

class ImageFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        MainHeapInit();
        ObjectHeapInit();
        DrawingInit();
        ImageLibraryInit();
        // The encoder table has no reset: the test's encoders register once.
        for (const ImageEncoder &encoder : Encoders)
            ImageEncoderRegister(&encoder);
    }
    void SetUp() override {
        ImageDecoderListReset();
        codecs[0] = codecs[1] = TestCodec{};
        encoderCalls.clear();
    }
    void TearDown() override {
        ImageLibraryEnd();
        EXPECT_FALSE(codecs[0].holding || codecs[1].holding) << "a decoder still holds a picture";
    }
    int display = DisplayBitsPerPixel();
};

// Colours survive the display-compatible path exactly only on a true-colour display.
#define SKIP_UNLESS_TRUE_COLOUR()                                                                  \
    if (display < 24) GTEST_SKIP() << "the display has " << display << " bits a pixel"

// ---- Saving -----------------------------------------------------------------------------------

TEST_F(ImageFiles, BmpWriterWritesTheHeaderAndBottomUpPaddedRows) {
    std::string folder = TestFolder("bmp-writer");
    for (int width : {3, 1, 4, 2}) { // 3, 1, 0 and 2 bytes of padding a row
        SCOPED_TRACE(width);
        Picture p = MakePicture(width, 2, Distinct);
        ASSERT_TRUE(ImageFrom(1, p));
        std::string name = folder + std::to_string(width) + ".bmp";
        ASSERT_EQ(ImageSave(1, name.c_str(), ImageFormatBmp), 1);
        EXPECT_EQ(ReadWholeFile(name), MakeBmp(p, 24, false));
    }
    std::string bytes = ReadWholeFile(folder + "3.bmp");
    ASSERT_EQ(bytes.size(), 78u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    const uint32_t fields[][3] = {
        // offset, size, value: file size, reserved, pixel offset, header size, width, height
        // (positive: bottom-up), planes, bits, BI_RGB, image size, then four zeros
        {2, 4, 78},  {6, 4, 0},  {10, 4, 54}, {14, 4, 40}, {18, 4, 3}, {22, 4, 2}, {26, 2, 1},
        {28, 2, 24}, {30, 4, 0}, {34, 4, 24}, {38, 4, 0},  {42, 4, 0}, {46, 4, 0}, {50, 4, 0}};
    for (auto &f : fields)
        EXPECT_EQ(f[1] == 4 ? Field32(bytes, f[0]) : Field16(bytes, f[0]), f[2]) << f[0];
    EXPECT_EQ(bytes.substr(54, 3), Bgr(Distinct(0, 1))) << "the bottom-left pixel comes first";
    EXPECT_EQ(FilesIn(folder), (Names{"1.bmp", "2.bmp", "3.bmp", "4.bmp"}));
}

TEST_F(ImageFiles, A32BitImageIsSavedWithoutItsAlpha) {
    std::string name = TestFolder("bmp-alpha") + "a.bmp";
    Picture p = MakePicture(3, 2, Distinct);
    ASSERT_NE(ImageCreate(1, 3, 2, 32), 0);
    DIBSECTION section{};
    ASSERT_EQ(GetObjectA(ImageHandle(1), sizeof section, &section), int(sizeof section));
    memcpy(section.dsBm.bmBits, MakeBmp(p, 32, false, 0x40).data() + 54, 24); // bottom-up rows
    ASSERT_EQ(ImageSave(1, name.c_str(), ImageFormatBmp), 1);
    EXPECT_EQ(ReadWholeFile(name), MakeBmp(p, 24, false));
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
    ASSERT_TRUE(ImageFrom(1, p));
    ASSERT_TRUE(WriteText(name, "an earlier sheet"));
    ASSERT_EQ(ImageSave(1, name.c_str(), ImageFormatBmp), 1);
    EXPECT_EQ(ReadWholeFile(name), MakeBmp(p, 24, false));

    // A sheet another program holds open cannot be replaced: the save fails and leaves no file.
    HANDLE held = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ImageSave(1, name.c_str(), ImageFormatBmp), 0);
    CloseHandle(held);
    EXPECT_EQ(FilesIn(folder), Names{"sheet.bmp"});

    // An encoder that fails part-way: the file under the final name stays as it was.
    ASSERT_TRUE(WriteText(name, "an earlier sheet"));
    savingFolder = folder;
    EXPECT_EQ(ImageSave(1, name.c_str(), FormatFail), 0);
    savingFolder.clear();
    EXPECT_EQ(ReadWholeFile(name), "an earlier sheet");
    ASSERT_EQ(encoderCalls.size(), 1u);
    const Names &filesThen = encoderCalls[0].filesThen;
    EXPECT_EQ(filesThen.size(), 2u) << "the encoder writes a temporary file beside the final one";
    EXPECT_EQ(std::count(filesThen.begin(), filesThen.end(), "sheet.bmp"), 1);
    EXPECT_EQ(FilesIn(folder), Names{"sheet.bmp"});

    // An encoder that succeeds: its file becomes the sheet. It is handed the rows a bitmap file
    // holds: 24 bits, bottom row first, padded to whole words.
    EXPECT_EQ(ImageSave(1, name.c_str(), FormatGood, 3), 1);
    EXPECT_EQ(ReadWholeFile(name), "GOOD");
    EXPECT_EQ(FilesIn(folder), Names{"sheet.bmp"});
    const EncoderCall &good = encoderCalls.back();
    EXPECT_EQ(std::to_string(good.width) + "x" + std::to_string(good.height), "5x2");
    EXPECT_EQ(good.stride, 16);
    EXPECT_EQ(good.quality, 3);
    EXPECT_EQ(good.block, MakeBmp(p, 24, false).substr(54));
    EXPECT_EQ(ImageSave(1, name.c_str(), FormatGood), 1);
    EXPECT_EQ(encoderCalls.back().quality, ImageDefaultQuality);

    // A name without a folder is saved in the current folder, its temporary file too.
    char earlier[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, earlier), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    EXPECT_EQ(ImageSave(1, "bare.bmp", ImageFormatBmp), 1);
    SetCurrentDirectoryA(earlier);
    EXPECT_EQ(ReadWholeFile(folder + "bare.bmp"), MakeBmp(p, 24, false));
    EXPECT_EQ(FilesIn(folder), (Names{"bare.bmp", "sheet.bmp"}));
}

// A sheet larger than the most the program reads with one call (64 MB, 16 MB in a 32-bit program)
// is written in pieces, on the batch's thread and from a saving slot's copy, straight from its rows
// or gathered from an encoder's writes, and read back through the open file in pieces: no piece
// lost, repeated or out of place.
TEST_F(ImageFiles, ASheetLargerThanOneCallIsWrittenAndReadInPieces) {
    std::string folder = TestFolder("save-large");
    constexpr int32_t Width = 4096; // rows of whole words: no padding
    const int64_t oneCall = int64_t(sizeof(void *) == 8 ? 64 : 16) << 20;
    const int32_t height = int32_t(oneCall / (Width * 3)) + 7;
    const size_t size = size_t(Width) * 3 * size_t(height);
    ASSERT_NE(ImageCreate(1, Width, height, 24), 0);
    DIBSECTION section{};
    ASSERT_EQ(GetObjectA(ImageHandle(1), sizeof section, &section), int(sizeof section));
    auto *bits = static_cast<uint8_t *>(section.dsBm.bmBits);
    // The top byte of a product depends on every bit of the offset: no piece repeats another.
    for (size_t i = 0; i < size; i++)
        bits[i] = uint8_t((uint64_t(i) * 0x9E3779B97F4A7C15ull) >> 56);
    const std::string rows(reinterpret_cast<const char *>(bits), size);
    for (int32_t format : {ImageFormatBmp, FormatRows})
        for (bool background : {false, true}) {
            SCOPED_TRACE(background ? "from a slot's copy" : "on the batch's thread");
            bool bitmap = format == ImageFormatBmp;
            std::string name = folder + (background ? "slot" : "batch") + (bitmap ? ".bmp" : "");
            if (background) {
                ASSERT_EQ(ImageSaveStart(1, name.c_str(), format), 1);
                ASSERT_EQ(ImageSaveFinish(), 1);
            } else {
                ASSERT_EQ(ImageSave(1, name.c_str(), format), 1);
            }
            std::string file = ReadWholeFile(name);
            size_t headers = bitmap ? 54 : 0;
            ASSERT_EQ(file.size(), headers + size);
            if (bitmap) {
                EXPECT_EQ(Field32(file, 2), 54 + size);
            }
            EXPECT_TRUE(file.compare(headers, size, rows) == 0) << "the rows differ";
        }
    ASSERT_NE(ImageLoad(2, (folder + "slot.bmp").c_str()), 0);
    ASSERT_EQ(GetObjectA(ImageHandle(2), sizeof section, &section), int(sizeof section));
    ASSERT_EQ(section.dsBm.bmWidth, Width);
    ASSERT_EQ(std::abs(section.dsBm.bmHeight), height);
    EXPECT_TRUE(rows.compare(0, size, static_cast<const char *>(section.dsBm.bmBits), size) == 0)
        << "the rows read back differ";
}

// A large sheet of a heavy encoder is written on a thread of its own, never by the batch's thread
// while it waits for the sheet before it (held up here until the large one's encoder begins).
TEST_F(ImageFiles, ALargeSheetOfAHeavyEncoderIsWrittenOnAThreadOfItsOwn) {
    std::string folder = TestFolder("save-heavy");
    ASSERT_NE(ImageCreate(1, 4096, 400, 24), 0); // 4.9 MB of rows
    laterSaveBegan = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    slowTarget = folder + "large";
    ASSERT_EQ(ImageSaveStart(1, (folder + "slow").c_str(), FormatSlow), 1);
    ASSERT_EQ(ImageSaveStart(1, slowTarget.c_str(), FormatHeavy), 1);
    EXPECT_EQ(ImageSaveFinish(), 1);
    EXPECT_EQ(ImageSaveFinish(), 1);
    CloseHandle(laterSaveBegan);
    laterSaveBegan = nullptr;
    ASSERT_EQ(encoderCalls.size(), 1u);
    EXPECT_NE(encoderCalls[0].thread, GetCurrentThreadId());
    EXPECT_EQ(ReadWholeFile(slowTarget), "GOOD");
}

// Each background save's outcome comes back in the order the saves were started, wherever its
// sheet was written (a worker, the batch's thread while it waits, a large heavy sheet's own
// thread); a failed save leaves the earlier file as it was and no temporary file.
TEST_F(ImageFiles, BackgroundSaveOutcomesComeBackInOrderFromEveryThread) {
    std::string folder = TestFolder("save-outcomes");
    ASSERT_NE(ImageCreate(1, 4096, 400, 24), 0); // 4.9 MB of rows: large
    ASSERT_NE(ImageCreate(2, 4, 4, 24), 0);
    struct Row {
        int32_t format;
        ObjectId image;
        bool written;
    };
    const Row rows[] = {{FormatHeavyFail, 1, false}, {FormatGood, 2, true}, {FormatHeavy, 1, true},
                        {FormatFail, 2, false},      {FormatGood, 1, true}, {FormatHeavy, 2, true},
                        {FormatHeavyFail, 1, false}, {FormatFail, 1, false}};
    const int32_t count = int32_t(std::size(rows));
    auto name = [&](int32_t i) { return folder + "sheet" + std::to_string(i); };
    for (int32_t i = 0; i < count; i++)
        ASSERT_TRUE(WriteText(name(i), "earlier"));
    for (int32_t i = 0; i < count + ImageSaveSlots; i++) {
        // As a batch does: the oldest save is finished when every slot is taken.
        if (i >= ImageSaveSlots)
            EXPECT_EQ(ImageSaveFinish(), rows[i - ImageSaveSlots].written ? 1 : 0)
                << i - ImageSaveSlots;
        if (i < count)
            ASSERT_EQ(ImageSaveStart(rows[i].image, name(i).c_str(), rows[i].format), 1) << i;
    }
    for (int32_t i = 0; i < count; i++)
        EXPECT_EQ(ReadWholeFile(name(i)), rows[i].written ? "GOOD" : "earlier") << i;
    EXPECT_EQ(FilesIn(folder).size(), size_t(count)) << "a temporary file was left";
}

// ---- Loading bitmap and icon files ------------------------------------------------------------

// The colour a pixel of 5 bits of red and blue and `greenBits` of green shows once widened back
// to 8 bits a channel: the top bits repeated into the low ones, as the system's conversions do.
COLORREF Widened(COLORREF c, int greenBits) {
    auto widen = [](uint32_t v, int bits) {
        v >>= 8 - bits;
        return v << (8 - bits) | v >> (2 * bits - 8);
    };
    return RGB(widen(GetRValue(c), 5), widen(GetGValue(c), greenBits), widen(GetBValue(c), 5));
}

// A save started in the background writes the picture as it was when it started; two saves of
// one name land in the order asked for; a failure shows only when the save is finished.
TEST_F(ImageFiles, BackgroundSavesWriteThePictureAsItWasInTheOrderAsked) {
    std::string folder = TestFolder("save-background");
    std::string a = folder + "a.bmp", b = folder + "b.bmp";
    Picture first = MakePicture(5, 2, Distinct), second = MakePicture(3, 3, Distinct);
    EXPECT_EQ(ImageSaveFinish(), 0) << "nothing started";
    // The sheets of the conversion are 24-bit sections, whose rows the save copies.
    ASSERT_TRUE(ImageFrom(1, first, 24));
    ASSERT_EQ(ImageSaveStart(1, a.c_str(), ImageFormatBmp), 1);
    ASSERT_TRUE(ImageFrom(1, second, 24));
    ASSERT_EQ(ImageSaveStart(1, b.c_str(), ImageFormatBmp), 1);
    // The other slots write the second picture under names of their own.
    std::vector<std::string> more;
    for (int32_t i = 2; i < ImageSaveSlots; i++) {
        more.push_back(folder + "b" + std::to_string(i) + ".bmp");
        ASSERT_EQ(ImageSaveStart(1, more.back().c_str(), ImageFormatBmp), 1);
    }
    EXPECT_EQ(ImageSaveStart(1, (folder + "c.bmp").c_str(), ImageFormatBmp), 0)
        << "every slot is taken";
    for (int32_t i = 0; i < ImageSaveSlots; i++)
        EXPECT_EQ(ImageSaveFinish(), 1);
    EXPECT_EQ(ReadWholeFile(a), MakeBmp(first, 24, false));
    EXPECT_EQ(ReadWholeFile(b), MakeBmp(second, 24, false));
    for (const std::string &name : more) {
        EXPECT_EQ(ReadWholeFile(name), MakeBmp(second, 24, false));
        DeleteFileA(name.c_str());
    }

    // Each slot copies the rows into the block it kept from its last sheet, larger or smaller.
    for (int width : {9, 2, 14, 5}) {
        Picture p = MakePicture(width, 3, Distinct);
        ASSERT_TRUE(ImageFrom(1, p, 24));
        for (int32_t i = 0; i < ImageSaveSlots; i++)
            ASSERT_EQ(ImageSaveStart(1, (b + std::to_string(i)).c_str(), ImageFormatBmp), 1);
        for (int32_t i = 0; i < ImageSaveSlots; i++) {
            EXPECT_EQ(ImageSaveFinish(), 1);
            EXPECT_EQ(ReadWholeFile(b + std::to_string(i)), MakeBmp(p, 24, false)) << width;
            DeleteFileA((b + std::to_string(i)).c_str());
        }
    }

    ASSERT_EQ(ImageSaveStart(1, a.c_str(), ImageFormatBmp), 1);
    ASSERT_TRUE(ImageFrom(1, first));
    ASSERT_EQ(ImageSaveStart(1, a.c_str(), ImageFormatBmp), 1);
    ImageFree(1);
    EXPECT_EQ(ImageSaveFinish(), 1);
    EXPECT_EQ(ImageSaveFinish(), 1);
    EXPECT_EQ(ReadWholeFile(a), MakeBmp(first, 24, false));

    // Also when the first of the two is the slower to write.
    ASSERT_TRUE(ImageFrom(1, first));
    laterSaveBegan = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    slowTarget = a;
    ASSERT_EQ(ImageSaveStart(1, a.c_str(), FormatSlow), 1);
    ASSERT_EQ(ImageSaveStart(1, a.c_str(), FormatGood), 1);
    EXPECT_EQ(ImageSaveFinish(), 1);
    EXPECT_EQ(ImageSaveFinish(), 1);
    CloseHandle(laterSaveBegan);
    laterSaveBegan = nullptr;
    EXPECT_EQ(ReadWholeFile(a), "GOOD");

    ASSERT_EQ(ImageSaveStart(1, (folder + "missing\\x.bmp").c_str(), ImageFormatBmp), 1);
    EXPECT_EQ(ImageSaveFinish(), 0);
    EXPECT_EQ(FilesIn(folder), (Names{"a.bmp", "b.bmp"}));

    // The library's end finishes a save still under way (this one takes 0.5 s: the event stays
    // unset), and leaves nothing queued.
    laterSaveBegan = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(ImageSaveStart(1, a.c_str(), FormatSlow), 1);
    ImageLibraryEnd();
    CloseHandle(laterSaveBegan);
    laterSaveBegan = nullptr;
    EXPECT_EQ(ReadWholeFile(a), "SLOW");
    EXPECT_EQ(FilesIn(folder), (Names{"a.bmp", "b.bmp"})) << "no temporary file left";
    EXPECT_EQ(ImageSaveFinish(), 0) << "nothing left queued";
}

TEST_F(ImageFiles, BitmapFilesOfEveryCommonKindLoad) {
    SKIP_UNLESS_TRUE_COLOUR();
    std::string name = TestFolder("load-bitmaps") + "k.bmp";
    const struct {
        int bits;
        COLORREF (*color)(int, int);
        int width = 5, height = 3;
    } kinds[] = {
        {1, [](int x, int y) { return (x + y) % 2 ? RGB(200, 30, 40) : RGB(20, 90, 250); }},
        {1, [](int x, int y) { return (x * 3 + y) % 4 ? RGB(255, 255, 255) : RGB(0, 0, 0); }},
        {4, [](int x, int y) { return RGB(16 * ((x + y * 5) % 16), 100, 250 - x * 9); }},
        {8, Distinct},
        {16, Distinct},
        {24, Distinct},
        {32, Distinct},
        // Larger than the loader reads at once: the rows are read from the open file.
        {8, [](int x, int y) { return RGB((x + y) % 16 * 16, (x / 3 + y) % 16 * 15, 90); }, 201,
         330},
        {24, Distinct, 150, 151},
        {32, Distinct, 131, 130},
    };
    for (bool topDown : {false, true}) {
        for (auto &kind : kinds) {
            for (int32_t flags : {0, ImageDisplayFormat}) {
                SCOPED_TRACE(std::to_string(kind.bits) + " bits " + std::to_string(kind.width) +
                             (topDown ? ", top-down" : "") + (flags ? ", display format" : ""));
                Picture p = MakePicture(kind.width, kind.height, kind.color);
                std::string bytes = MakeBmp(p, kind.bits, topDown, 0x33);
                ASSERT_FALSE(bytes.empty()) << "too many colours";
                if (kind.width > 5) {
                    ASSERT_GT(bytes.size(), 64u * 1024);
                }
                ASSERT_TRUE(WriteText(name, bytes));
                ASSERT_NE(ImageLoad(0, name.c_str(), flags), 0);
                EXPECT_EQ(SizeOf(0), std::to_string(p.width) + "x" + std::to_string(p.height));
                EXPECT_EQ(ImageRecord(0)->flags, flags);
                DIBSECTION s{};
                EXPECT_EQ(GetObjectA(ImageHandle(0), sizeof s, &s),
                          int(flags ? sizeof(BITMAP) : sizeof s));
                EXPECT_EQ(ImageRecord(0)->depth, flags ? display : kind.bits);
                EXPECT_TRUE(NotHeldOpen(name));
                // A section is bottom-up, as the system loader makes it, and holds every byte of
                // the file's rows: the indices, the fourth byte of a 32-bit pixel, the padding.
                if (!flags) {
                    std::string bottomUp = MakeBmp(p, kind.bits, false, 0x33);
                    std::string rows = bottomUp.substr(Field32(bottomUp, 10));
                    EXPECT_EQ(std::string(static_cast<const char *>(s.dsBm.bmBits), rows.size()),
                              rows);
                }
                // A 5-6-5 pixel reaches 8 bits a channel by repeating its top bits.
                Pixels expected = p.pixels;
                if (kind.bits == 16)
                    for (COLORREF &c : expected)
                        c = Widened(c, 6);
                EXPECT_TRUE(SamePixels(ImagePixels(0), expected, p.width));
            }
        }
    }
}

// A 16x16 icon file with one 32-bit entry of one colour, every pixel opaque.
std::string IconFile(COLORREF color) {
    const uint16_t directory[3] = {0, 1, 1}; // reserved, an icon, one entry
    const uint8_t size[4] = {16, 16, 0, 0};  // no palette, reserved
    const uint16_t planesAndBits[2] = {1, 32};
    const uint32_t image[2] = {40 + 16 * 16 * 4 + 16 * 4, 22}; // its bytes and offset
    // The image's height covers the colour and the mask halves.
    BITMAPINFOHEADER header{40, 16, 32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::string file;
    AppendBytes(file, directory);
    AppendBytes(file, size);
    AppendBytes(file, planesAndBits);
    AppendBytes(file, image);
    AppendBytes(file, header);
    for (int i = 0; i < 16 * 16; i++)
        file += Bgr(color) + "\xFF";
    return file + std::string(16 * 4, '\0');
}

TEST_F(ImageFiles, AnIconFileLoadsAsAnIcon) {
    std::string folder = TestFolder("load-icon");
    std::string name = folder + "i.ico";
    ASSERT_TRUE(WriteText(name, IconFile(RGB(10, 200, 30))));
    ImageDecoderRegister(&DecoderA);
    // Named to be read ahead, an icon is left to the batch's thread, which loads it as before.
    for (bool ahead : {false, true}) {
        SCOPED_TRACE(ahead ? "read ahead" : "read by the batch's thread");
        if (ahead) ImageLoadAhead(name.c_str());
        intptr_t handle = ImageLoad(0, name.c_str());
        ASSERT_NE(handle, 0);
        EXPECT_EQ(reinterpret_cast<HANDLE>(handle), ImageHandle(0));
        ICONINFO info{};
        EXPECT_TRUE(GetIconInfo(static_cast<HICON>(ImageHandle(0)), &info)) << "an icon handle";
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        EXPECT_EQ(SizeOf(0), "16x16");
        EXPECT_EQ(ImageRecord(0)->depth, 32);
        EXPECT_EQ(codecs[0].opens, 0) << "the icon loader comes before the decoders";
        EXPECT_EQ(ImageSave(0, (folder + "i.bmp").c_str(), ImageFormatBmp), 0) << "not a bitmap";
        EXPECT_EQ(FilesIn(folder), Names{"i.ico"});
        EXPECT_TRUE(NotHeldOpen(name));
    }
}

TEST_F(ImageFiles, FilesThatAreNoPictureFailAndFreeTheNumber) {
    std::string folder = TestFolder("load-failures");
    ImageDecoderRegister(&DecoderA);
    const struct {
        const char *name;
        std::string bytes;
        bool exists;
        int opens; // how often the decoder is asked
        ImageLoadFailure why;
    } cases[] = {
        {"notes.txt", "Some notes\r\nabout the strips\r\n", true, 1, ImageLoadFailure::NotAnImage},
        {"missing.png", "", false, 0, ImageLoadFailure::Unreadable},
        {"empty.png", "", true, 1, ImageLoadFailure::NotAnImage},
        {"b.png", "B", true, 1, ImageLoadFailure::NotAnImage},
        // A "BM" file the system refuses is not offered to the decoders, not even one that
        // would take it.
        {"bm.bmp", "BM" + TestFile("TDEC", 1, 1, false, {0}), true, 0,
         ImageLoadFailure::NotAnImage},
        {"bm-short.bmp", std::string("BM\x10\0\0\0\0\0", 8), true, 0, ImageLoadFailure::NotAnImage},
        // Headers that do not agree with the file never reach the system loader, which would
        // read wherever they point.
        {"bad-header-size.bmp", Patched(SmallBmp(24), 14, 41), true, 0,
         ImageLoadFailure::NotAnImage},
        {"no-width.bmp", Patched(SmallBmp(24), 18, 0), true, 0, ImageLoadFailure::NotAnImage},
        {"bits-7.bmp", Patched(SmallBmp(24), 28, 7), true, 0, ImageLoadFailure::NotAnImage},
        {"rle-24.bmp", Patched(SmallBmp(24), 30, 1), true, 0, ImageLoadFailure::NotAnImage},
        {"cut-rows.bmp", SmallBmp(24).substr(0, 60), true, 0, ImageLoadFailure::Damaged},
        {"cut-rows-large.bmp", MakeBmp(MakePicture(200, 120, Distinct), 32, true).substr(0, 90000),
         true, 0, ImageLoadFailure::Damaged},
        {"cut-palette.bmp", SmallBmp(8).substr(0, 80), true, 0, ImageLoadFailure::Damaged},
        {"offset-beyond.bmp", Patched(SmallBmp(24), 10, 5000), true, 0, ImageLoadFailure::Damaged},
        {"tall.bmp", Patched(SmallBmp(24), 22, 0x10000), true, 0, ImageLoadFailure::Damaged},
        {"many-colours.bmp", Patched(SmallBmp(8), 46, 255), true, 0, ImageLoadFailure::Damaged},
    };
    // Named to be read ahead first, a file that is no picture is read again by ImageLoad, which
    // gives the same reason.
    for (bool ahead : {false, true})
        for (auto &c : cases) {
            SCOPED_TRACE(c.name + std::string(ahead ? " (read ahead)" : ""));
            std::string name = folder + c.name;
            if (c.exists) {
                ASSERT_TRUE(WriteText(name, c.bytes));
            }
            codecs[0].opens = 0;
            ASSERT_NE(ImageCreate(0, 2, 2), 0);
            if (ahead) ImageLoadAhead(name.c_str());
            EXPECT_EQ(ImageLoad(0, name.c_str()), 0);
            EXPECT_EQ(ImageExists(0), 0) << "the earlier image is gone";
            EXPECT_EQ(ImageLastLoadFailure(), c.why);
            EXPECT_EQ(codecs[0].opens, c.opens * (ahead ? 2 : 1));
            EXPECT_EQ(NotHeldOpen(name), c.exists);
            EXPECT_EQ(ImageLoad(AutoNumber, name.c_str()), 0);
        }
    EXPECT_TRUE(NoRecordLeft());
}

// A file named to be read ahead but never loaded (the batch went on without it) keeps none of the
// files named after it from being taken as read: each is opened by a decoder once, the file passed
// over once or, dropped before the reading thread came to it, not at all.
TEST_F(ImageFiles, AFileReadAheadButNeverLoadedIsPassedOver) {
    std::string folder = TestFolder("load-ahead-passed");
    ImageDecoderRegister(&DecoderA);
    std::vector<std::string> names;
    for (const char *name : {"passed", "a", "b", "c"}) {
        names.push_back(folder + name + ".tdec");
        ASSERT_TRUE(WriteText(names.back(), TestFile("TDEC", 2, 1, false, {RGB(1, 2, 3), 0})));
    }
    codecs[0].opens = 0;
    ImageLoadAhead(names[0].c_str());
    for (size_t i = 1; i < names.size(); i++) {
        ImageLoadAhead(names[i].c_str());
        Sleep(20); // time for the reading thread to come to the files, so that one read twice shows
        EXPECT_NE(ImageLoad(0, names[i].c_str()), 0) << names[i];
    }
    ImageLoadAhead(nullptr);
    EXPECT_GE(codecs[0].opens, int(names.size()) - 1);
    EXPECT_LE(codecs[0].opens, int(names.size()));
}

// A sheet made where its strip is read ahead replaces its file only when taken, and after a save
// of that name asked for before it. One that fails, is taken under another name or is never taken
// leaves nothing behind; a strip whose sheet the routines refuse is loaded as before, once.
TEST_F(ImageFiles, SheetsMadeAheadReplaceTheirFileOnlyWhenTaken) {
    std::string folder = TestFolder("sheets-ahead");
    ImageDecoderRegister(&DecoderA);
    Picture picture = MakePicture(5, 3, Distinct); // rows of 15 bytes: padded in a bitmap file
    std::string strip = folder + "strip.tdec";
    ASSERT_TRUE(WriteText(strip, TestFile("TDEC", 5, 3, false, picture.pixels)));
    // The sheet is the strip as it is; with `how` 1 the routines refuse it.
    auto size = [](intptr_t how, int32_t w, int32_t h, int32_t *width, int32_t *height) {
        *width = w;
        *height = h;
        return how == 0;
    };
    auto copy = [](intptr_t, const uint8_t *from, int64_t fromStride, int32_t, int32_t, uint8_t *to,
                   int64_t toStride, int32_t width, int32_t height) {
        for (int32_t y = 0; y < height; y++)
            memcpy(to + y * toStride, from + y * fromStride, size_t(width) * 3);
    };
    const struct {
        const char *what;
        int32_t format;
        intptr_t how;
        const char *takenAs; // null: dropped before it is taken
        int32_t taken;
        std::string after; // the sheet's file afterwards
    } rows[] = {{"made", ImageFormatBmp, 0, "sheet.bmp", 1, MakeBmp(picture, 24, false)},
                {"after a save", FormatGood, 0, "sheet.bmp", 1, "GOOD"},
                {"encoder fails", FormatFail, 0, "sheet.bmp", 0, "earlier"},
                {"another name", FormatGood, 0, "other.bmp", -1, "earlier"},
                {"refused", FormatGood, 1, "sheet.bmp", -1, "earlier"},
                {"dropped", FormatGood, 0, nullptr, 0, "earlier"}};
    std::string sheet = folder + "sheet.bmp";
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(WriteText(sheet, "earlier"));
        bool afterSave = row.what == std::string("after a save");
        if (afterSave) {
            // It lets a later save of its file finish first when that one does not wait for it.
            laterSaveBegan = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            slowTarget = sheet;
            ASSERT_TRUE(ImageFrom(1, picture, 24));
            ASSERT_EQ(ImageSaveStart(1, sheet.c_str(), FormatSlow), 1);
        }
        codecs[0].opens = 0;
        const ImageAheadSheet ahead = {size, copy, row.how, sheet.c_str(), row.format, 0};
        ImageLoadAhead(strip.c_str(), &ahead);
        if (row.takenAs) {
            EXPECT_EQ(ImageSheetAheadTake(0, strip.c_str(), (folder + row.takenAs).c_str()),
                      row.taken);
            if (row.taken == -1) EXPECT_NE(ImageLoad(0, strip.c_str()), 0);
        }
        ImageLoadAhead(nullptr);
        if (afterSave) {
            EXPECT_EQ(ImageSaveFinish(), 1);
            CloseHandle(laterSaveBegan);
            laterSaveBegan = nullptr;
        }
        EXPECT_EQ(ReadWholeFile(sheet), row.after);
        // A refused sheet's picture is taken, not read again; a dropped file may not have been
        // read.
        if (row.takenAs)
            EXPECT_EQ(codecs[0].opens, row.how == 0 && row.taken == -1 ? 2 : 1);
        else
            EXPECT_LE(codecs[0].opens, 1);
        EXPECT_EQ(FilesIn(folder), (Names{"sheet.bmp", "strip.tdec"})) << "a temporary file";
    }
}

TEST_F(ImageFiles, PicturesTooLargeForTheRecordAreRefused) {
    std::string folder = TestFolder("load-large");
    for (int width : {32768, 32767}) {
        ASSERT_TRUE(
            WriteText(folder + "wide.bmp", MakeBmp(MakePicture(width, 1, Distinct), 24, false)));
        EXPECT_EQ(ImageLoad(0, (folder + "wide.bmp").c_str()) != 0, width == 32767);
        EXPECT_EQ(ImageGetWidth(0), width == 32767 ? width : 0);
        EXPECT_EQ(ImageLastLoadFailure(),
                  width == 32767 ? ImageLoadFailure::None : ImageLoadFailure::TooLarge);
    }

    // The byte limit, as measured under Wine for the 64-bit program: copying from a 24-bit
    // section fails once a row starts beyond 2^31 bytes, and a display bitmap of more than
    // 2^31 - 1 bytes is not made. Refused by arithmetic, before the system is asked.
    if (sizeof(void *) == 8) {
        for (auto limit : {std::pair{24, 22369}, std::pair{32, 16777}}) {
            EXPECT_TRUE(ImageBytesFit(32000, limit.second, limit.first));
            EXPECT_FALSE(ImageBytesFit(32000, limit.second + 1, limit.first));
        }
    }
    EXPECT_EQ(ImageCreate(1, 32000, int32_t(ImageMaxBytes / 128000) + 1), 0);
    EXPECT_EQ(ImageBitmapCreate(32000, int32_t(ImageMaxBytes / 96000) + 1, 0, 24), nullptr);

    // A bitmap file one row past the limit (sparse: its data takes no disk) never reaches the
    // system loader.
    std::string header = Patched(Patched(SmallBmp(24), 18, 32000), 22, 22370);
    std::string huge = folder + "huge.bmp";
    ASSERT_TRUE(WriteSparseFile(huge, header.substr(0, 54), 54 + int64_t(96000) * 22370));
    EXPECT_EQ(ImageLoad(0, huge.c_str()), 0);
    EXPECT_EQ(ImageLastLoadFailure(), ImageLoadFailure::TooLarge);
    DeleteFileA(huge.c_str());

    // Through the chain the picture is released without a bitmap being made for it.
    ImageDecoderRegister(&DecoderA);
    for (int32_t width : {40000, 0}) {
        SCOPED_TRACE(width);
        std::string name = folder + "wide.tdec";
        ASSERT_TRUE(WriteText(name, TestFile("TDEC", width, 1, false, {})));
        codecs[0].decodes = codecs[0].drops = 0;
        EXPECT_EQ(ImageLoad(0, name.c_str()), 0);
        EXPECT_EQ(ImageLastLoadFailure(), ImageLoadFailure::TooLarge);
        EXPECT_EQ(codecs[0].decodes, 0);
        EXPECT_EQ(codecs[0].drops, 1) << "the opened picture is dropped, not decoded";
        EXPECT_TRUE(NotHeldOpen(name));
    }
}

// ---- The decoder chain ------------------------------------------------------------------------

TEST_F(ImageFiles, ADecodedPictureBecomesATopDownSectionOrADisplayBitmap) {
    SKIP_UNLESS_TRUE_COLOUR();
    ImageDecoderRegister(&DecoderA);
    Picture p = MakePicture(5, 3, Distinct);
    // Named like a bitmap file: only the content decides.
    std::string folder = TestFolder("chain");
    std::string name = folder + "strip_H2.bmp";
    for (bool alpha : {false, true}) {
        for (int32_t flags : {0, ImageDisplayFormat}) {
            SCOPED_TRACE(std::to_string(alpha) + " " + std::to_string(flags));
            ASSERT_TRUE(WriteText(name, TestFile("TDEC", 5, 3, alpha, p.pixels)));
            intptr_t handle = ImageLoad(0, name.c_str(), flags);
            ASSERT_NE(handle, 0);
            EXPECT_EQ(reinterpret_cast<HANDLE>(handle), ImageHandle(0));
            EXPECT_EQ(SizeOf(0), "5x3");
            EXPECT_EQ(ImageRecord(0)->flags, flags);
            EXPECT_EQ(ImageRecord(0)->depth, flags ? display : alpha ? 32 : 24);
            DIBSECTION section{};
            int described = GetObjectA(ImageHandle(0), sizeof section, &section);
            EXPECT_EQ(described, int(flags ? sizeof(BITMAP) : sizeof section));
            if (!flags) {
                EXPECT_EQ(section.dsBmih.biBitCount, alpha ? 32 : 24);
                // Top-down: the pixel memory starts with the top-left pixel, alpha as decoded.
                auto *first = static_cast<const char *>(section.dsBm.bmBits);
                EXPECT_EQ(std::string(first, alpha ? 4 : 3),
                          Bgr(p.At(0, 0)) + (alpha ? "\x5A" : ""));
            }
            EXPECT_TRUE(SamePixels(ImagePixels(0), p.pixels, 5));
            EXPECT_TRUE(NotHeldOpen(name));

            // A bitmap file of that size and depth loaded into the number next gets its rows
            // the right way up, though the number's section is filled again.
            Picture q = MakePicture(5, 3, [](int x, int y) { return Distinct(4 - x, 2 - y); });
            std::string plain = folder + "plain.bmp";
            ASSERT_TRUE(WriteText(plain, MakeBmp(q, alpha ? 32 : 24, false)));
            ASSERT_NE(ImageLoad(0, plain.c_str(), flags), 0);
            EXPECT_TRUE(SamePixels(ImagePixels(0), q.pixels, 5));
        }
    }
    intptr_t id = ImageLoad(AutoNumber, name.c_str());
    EXPECT_EQ(ImageExists(id), id);
}

TEST_F(ImageFiles, DecodersAreTriedInOrderEachFromTheStart) {
    std::string folder = TestFolder("chain-order");
    ImageDecoderRegister(&DecoderA);
    ImageDecoderRegister(&DecoderB);
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
    if (display >= 24) {
        EXPECT_TRUE(SamePixels(ImagePixels(0), p.pixels, 2));
    }

    // With no decoder registered nothing else loads.
    ImageDecoderListReset();
    EXPECT_EQ(ImageLoad(0, (folder + "a.x").c_str()), 0);
    EXPECT_EQ(codecs[0].opens, 2);
    EXPECT_TRUE(NotHeldOpen(folder + "a.x"));
}

TEST_F(ImageFiles, TheChainReadsABlockInMemoryToo) {
    SKIP_UNLESS_TRUE_COLOUR();
    ImageDecoderRegister(&DecoderA);
    ImageDecoderRegister(&DecoderB);
    Picture p = MakePicture(3, 4, Distinct);
    std::string block = TestFile("TDE2", 3, 4, false, p.pixels);
    EXPECT_EQ(ImageDecoderFind(intptr_t(5), block.data()), 0) << "too short for a header";
    EXPECT_EQ(ImageDecoderFind(intptr_t(block.size()), block.data()), 1);
    HBITMAP bitmap = ImageBitmapFromDecoder(1, 0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_TRUE(SamePixels(ReadPixels(bitmap), p.pixels, 3));
    DeleteObject(bitmap);
}

TEST_F(ImageFiles, APictureTheDecoderCannotFinishIsRefused) {
    // Rows missing from a picture must not reach a sheet as undefined pixels.
    std::string name = TestFolder("chain-fail") + "cut.x";
    ImageDecoderRegister(&DecoderA);
    std::string whole = TestFile("TDEC", 4, 6, false, MakePicture(4, 6, Distinct).pixels);
    ASSERT_TRUE(WriteText(name, whole.substr(0, whole.size() - 20)));
    for (int32_t flags : {0, ImageDisplayFormat}) {
        ASSERT_NE(ImageCreate(0, 2, 2), 0);
        EXPECT_EQ(ImageLoad(0, name.c_str(), flags), 0);
        EXPECT_EQ(ImageLastLoadFailure(), ImageLoadFailure::Damaged);
        EXPECT_EQ(ImageExists(0), 0) << "the number's earlier image is gone";
        EXPECT_TRUE(NotHeldOpen(name));
    }
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
