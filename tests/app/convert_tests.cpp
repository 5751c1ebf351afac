// The strip-to-sheet conversion on real files: strips written as bitmap files, sheets read back
// byte by byte and compared with the layout the naming and grid rules give. The last test runs
// the batch driver over real files with scripted dialogs (scripted_dialogs.cpp).
#include "app/batch.h"
#include "app/console.h"
#include "app/convert.h"
#include "app/sheet_compose.h"
#include "app/sheet_layout.h"
#include "app/sheet_options.h"
#include "runtime/drawing/drawing.h"
#include "runtime/image/image.h"
#include "runtime/image/image_load.h"
#include "runtime/image/image_save.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "tests/app/scripted_dialogs.h"
#include "tests/image/bmp_files.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Every strip pixel differs from every other and from black.
Picture Strip(int width, int height) {
    Picture p{width, height, {}};
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            p.pixels.push_back(RGB(x & 0xFF, y & 0xFF, 0x80 | (x >> 8) | (y >> 8) << 3));
    return p;
}

// The sheet the rules describe: frame i of the strip at column i mod 8, row i div 8, the rest
// black; frames are the strip's length divided by the count, the remainder unused.
Picture ExpectedSheet(const Picture &strip, char direction, int count) {
    int frameWidth = direction == 'H' ? strip.width / count : strip.width;
    int frameHeight = direction == 'V' ? strip.height / count : strip.height;
    Picture sheet;
    sheet.width = frameWidth * std::min(count, 8);
    sheet.height = frameHeight * ((count + 7) / 8);
    sheet.pixels.assign(size_t(sheet.width) * sheet.height, RGB(0, 0, 0));
    for (int i = 0; i < count; i++) {
        int fromX = direction == 'H' ? i * frameWidth : 0;
        int fromY = direction == 'V' ? i * frameHeight : 0;
        int toX = i % 8 * frameWidth, toY = i / 8 * frameHeight;
        for (int y = 0; y < frameHeight; y++)
            for (int x = 0; x < frameWidth; x++)
                sheet.pixels[size_t(toY + y) * sheet.width + toX + x] =
                    strip.At(fromX + x, fromY + y);
    }
    return sheet;
}

bool WriteText(const std::string &path, const std::string &bytes) {
    return WriteWholeFile(path, bytes.data(), bytes.size());
}

::testing::AssertionResult SheetIs(const std::string &path, const Picture &expected) {
    Picture sheet;
    std::string why;
    if (!ReadBmp24(ReadWholeFile(path), &sheet, &why))
        return ::testing::AssertionFailure() << path << ": " << why;
    if (sheet.width != expected.width || sheet.height != expected.height)
        return ::testing::AssertionFailure() << "sheet " << sheet.width << "x" << sheet.height;
    auto wrong = std::mismatch(sheet.pixels.begin(), sheet.pixels.end(), expected.pixels.begin());
    if (wrong.first == sheet.pixels.end()) return ::testing::AssertionSuccess();
    size_t i = wrong.first - sheet.pixels.begin();
    return ::testing::AssertionFailure() << "pixel (" << i % sheet.width << ", " << i / sheet.width
                                         << ") is " << std::hex << *wrong.first;
}

// Encoders standing in for the PNG and JPEG ones: they record the format they were chosen for
// and the quality, and write a marker, or fail after writing part of a file.
std::vector<std::string> encoded;
bool encodersFail = false;

template <char Tag>
int32_t MarkerEncode(FILE *stream, const uint8_t *, int32_t width, int32_t height, int32_t,
                     int32_t quality) {
    encoded.push_back(Tag + std::to_string(quality));
    if (encodersFail) {
        fputs("half", stream);
        return 0;
    }
    std::string marker = Tag + std::to_string(width) + "x" + std::to_string(height);
    return fputs(marker.c_str(), stream) >= 0 ? 1 : 0;
}

const ImageEncoder PngMarker = {ImageFormatPng, MarkerEncode<'P'>, 24};
const ImageEncoder JpegMarker = {ImageFormatJpeg, MarkerEncode<'J'>, 24};

class Convert : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        MainHeapInit();
        ObjectHeapInit();
        TempStringInit();
        DrawingInit();
        ImageDecoderListReset();
        ImageLibraryInit();
        ImageEncoderRegister(&PngMarker);
        ImageEncoderRegister(&JpegMarker);
    }
    void SetUp() override {
        FilesSelected = FilesSkipped = FilesConverted = FilesErrors = 0;
        encoded.clear();
        encodersFail = false;
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        strips = TestFolder((name + "-strips").c_str());
        out = TestFolder((name + "-sheets").c_str());
    }
    // Writes the strip as a 24-bit bitmap file and converts it.
    void Run(const Picture &strip, const std::string &file, const char *prefix, const char *ext,
             const char *direction, int count, int bits = 24) {
        ASSERT_TRUE(WriteText(strips + file, MakeBmp(strip, bits, false)));
        int32_t area = TempString.end;
        ConvertStrip((strips + file).c_str(), prefix, ext, direction, count, out.c_str());
        EXPECT_EQ(TempString.end, area) << "the temporary area is left as it was";
    }
    void ExpectCounts(int converted, int errors) {
        EXPECT_EQ(FilesConverted, converted);
        EXPECT_EQ(FilesErrors, errors);
    }
    std::string strips, out;
};

TEST_F(Convert, FramesLandEightWideInReadingOrder) {
    struct Case {
        char direction;
        int count, stripWidth, stripHeight, sheetWidth, sheetHeight, bits;
    };
    // The 100-pixel strip cut into 3 frames leaves its last column out; the 8- and 4-bit strips
    // are cut from sections with a colour table. The last strip's sheet, with empty cells, is drawn
    // over the one before it, which its frames covered. The last three are bitmap sheets over 4 MB
    // in a row: made where they are read while a block kept for them is free, by the batch's thread
    // otherwise.
    const Case cases[] = {
        {'H', 4, 128, 32, 128, 32, 24},
        {'H', 3, 100, 32, 99, 32, 24},
        {'V', 3, 32, 96, 96, 32, 24},
        {'H', 8, 256, 16, 256, 16, 24},
        {'H', 9, 288, 16, 256, 32, 24},
        {'V', 16, 16, 256, 128, 32, 24},
        {'H', 17, 68, 4, 32, 12, 24},
        {'H', 24, 96, 4, 32, 12, 24},
        {'V', 25, 4, 100, 32, 16, 24},
        {'H', 4, 8, 2, 8, 2, 8},
        {'V', 2, 4, 4, 8, 2, 4},
        {'H', 10, 105, 4, 80, 8, 24},
        {'H', 16, 64, 4, 32, 8, 24},
        {'H', 12, 48, 4, 32, 8, 24},
        {'H', 8, 2048, 720, 2048, 720, 24},
        {'V', 2, 1024, 1440, 2048, 720, 24},
        {'H', 16, 4096, 360, 2048, 720, 24},
    };
    int converted = 0;
    std::string files;               // every strip, for a batch of them below
    std::vector<std::string> sheets; // their sheets' names
    for (const Case &c : cases) {
        std::string prefix = "s" + std::to_string(converted), count = std::to_string(c.count);
        SCOPED_TRACE(prefix + " " + c.direction + count);
        Picture strip = Strip(c.stripWidth, c.stripHeight);
        const char direction[] = {c.direction, 0};
        std::string file = prefix + "_" + direction + count + ".bmp";
        Run(strip, file, prefix.c_str(), "bmp", direction, c.count, c.bits);
        files += strips + file + '\0';
        sheets.push_back(prefix + "_B" + count + ".bmp");
        Picture expected = ExpectedSheet(strip, c.direction, c.count);
        ASSERT_EQ(expected.width, c.sheetWidth);
        ASSERT_EQ(expected.height, c.sheetHeight);
        EXPECT_TRUE(SheetIs(out + prefix + "_B" + count + ".bmp", expected));
        EXPECT_EQ(ImageGetWidth(2) * std::min(c.count, 8), c.sheetWidth) << "the last frame";
        EXPECT_EQ(ImageGetHeight(2) * ((c.count + 7) / 8), c.sheetHeight);
        // Image 2 holds the last frame's pixels, also when it held an earlier frame of that size.
        int lastX = c.direction == 'H' ? (c.count - 1) * ImageGetWidth(2) : 0;
        int lastY = c.direction == 'V' ? (c.count - 1) * ImageGetHeight(2) : 0;
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ earlier = SelectObject(dc, ImageHandle(2));
        int wrong = 0;
        for (int y = 0; y < ImageGetHeight(2); y++)
            for (int x = 0; x < ImageGetWidth(2); x++)
                wrong += GetPixel(dc, x, y) != strip.At(lastX + x, lastY + y);
        SelectObject(dc, earlier);
        DeleteDC(dc);
        EXPECT_EQ(wrong, 0) << "pixels of the last frame";
        ExpectCounts(++converted, 0);
    }
    // One sheet per strip and nothing else: no temporary file stays behind.
    EXPECT_EQ(FilesIn(out).size(), std::size(cases));

    // The same strips as one batch, whose sheets of 24-bit strips are made on the thread that reads
    // them ahead, from the strip's rows rather than by GDI: byte for byte the same sheets. A sheet
    // made so stays as it is when the one there is marked read-only.
    std::string again = TestFolder("frames-in-a-batch");
    ASSERT_TRUE(WriteText(again + sheets[0], "earlier sheet"));
    ASSERT_TRUE(SetFileAttributesA((again + sheets[0]).c_str(), FILE_ATTRIBUTE_READONLY));
    static std::string report;
    BatchConvert(files.c_str(), again.c_str(), [](const char *text) { report = text; });
    SetFileAttributesA((again + sheets[0]).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(report.substr(report.find("Files Errors")),
              "Files Errors: 1\r\n" + strips + "s0_H4.bmp: read-only\r\n");
    EXPECT_EQ(ReadWholeFile(again + sheets[0]), "earlier sheet");
    for (size_t i = 1; i < sheets.size(); i++)
        EXPECT_EQ(ReadWholeFile(again + sheets[i]), ReadWholeFile(out + sheets[i])) << sheets[i];
    EXPECT_EQ(FilesIn(again).size(), std::size(cases));
}

TEST_F(Convert, TheSheetIsNamedFromPrefixCountAndExtension) {
    Picture strip = Strip(8, 4);
    Run(strip, "_H2.bmp", "", "bmp", "H", 2);
    Run(strip, "walk.old_V2.bmp", "walk.old", "bmp", "V", 2);
    // Strips named like PNG and JPEG files go to the encoders of those formats; the loader goes
    // by the content, which is a bitmap here.
    Run(strip, "a_H2.png", "a", "png", "H", 2);
    Run(strip, "b_H4.jpg", "b", "jpg", "H", 4);
    EXPECT_EQ(FilesIn(out),
              (std::vector<std::string>{"_B2.bmp", "a_B2.png", "b_B4.jpg", "walk.old_B2.bmp"}));
    EXPECT_EQ(ReadWholeFile(out + "a_B2.png"), "P8x4");
    EXPECT_EQ(ReadWholeFile(out + "b_B4.jpg"), "J8x4");
    EXPECT_TRUE(SheetIs(out + "walk.old_B2.bmp", ExpectedSheet(strip, 'V', 2)));
    ExpectCounts(4, 0);

    // A packed JPEG sheet keeps JPEG's quality.
    SheetOptions packed;
    packed.dedupe = true;
    ConvertSetOptions(packed);
    Run(strip, "c_H2.jpg", "c", "jpg", "H", 2);
    ConvertSetOptions(SheetOptions());
    std::string q = std::to_string(ImageDefaultQuality);
    EXPECT_EQ(encoded, (std::vector<std::string>{"P" + q, "J" + q, "J" + q}));

    // Two strips with the same output name: the later one wins.
    Picture other = Strip(16, 4);
    Run(other, "_V2.bmp", "", "bmp", "H", 2);
    EXPECT_TRUE(SheetIs(out + "_B2.bmp", ExpectedSheet(other, 'H', 2)));
    ExpectCounts(6, 0);
}

TEST_F(Convert, FailuresToSaveAreErrorsAndKeepAnEarlierSheet) {
    Picture strip = Strip(8, 4);
    // An output folder that cannot be written to.
    std::string missing = out + "missing\\";
    ASSERT_TRUE(WriteText(strips + "a_H2.bmp", MakeBmp(strip, 24, false)));
    ConvertStrip((strips + "a_H2.bmp").c_str(), "a", "bmp", "H", 2, missing.c_str());
    ExpectCounts(0, 1);
    EXPECT_TRUE(FilesIn(out).empty());

    // An encoder that fails part-way.
    ASSERT_TRUE(WriteText(out + "a_B2.png", "earlier sheet"));
    encodersFail = true;
    Run(strip, "a_H2.png", "a", "png", "H", 2);
    ExpectCounts(0, 2);
    EXPECT_EQ(ReadWholeFile(out + "a_B2.png"), "earlier sheet");

    // A sheet held open by a viewer cannot be replaced.
    ASSERT_TRUE(WriteText(out + "a_B2.bmp", "earlier sheet"));
    HANDLE viewer = CreateFileA((out + "a_B2.bmp").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    Run(strip, "a_H2.bmp", "a", "bmp", "H", 2);
    CloseHandle(viewer);
    ExpectCounts(0, 3);
    EXPECT_EQ(ReadWholeFile(out + "a_B2.bmp"), "earlier sheet");
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"a_B2.bmp", "a_B2.png"}));

    // A sheet marked read-only stays as it is, saved in the background or not.
    encodersFail = false;
    for (const char *extension : {"bmp", "png"}) {
        SCOPED_TRACE(extension);
        std::string sheet = out + "a_B2." + extension;
        ASSERT_TRUE(SetFileAttributesA(sheet.c_str(), FILE_ATTRIBUTE_READONLY));
        bool background = extension[0] == 'p';
        ConvertOutcome outcome = ConvertStrip((strips + "a_H2." + extension).c_str(), "a",
                                              extension, "H", 2, out.c_str(), background);
        const char *file = nullptr;
        EXPECT_EQ(background ? ConvertStripFinish(&file) : outcome, ConvertOutcome::ReadOnly);
        SetFileAttributesA(sheet.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(ReadWholeFile(sheet), "earlier sheet");
    }
    ExpectCounts(0, 5);
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"a_B2.bmp", "a_B2.png"}));
}

// A strip that cannot be opened is an error; a file that is no picture is counted nowhere (the
// end-to-end tests hold strips open from another process).
TEST_F(Convert, StripsThatCannotBeReadAreErrorsAndNoPicturesAreCountedNowhere) {
    ConvertOutcome missing =
        ConvertStrip((strips + "missing_H4.bmp").c_str(), "missing", "bmp", "H", 4, out.c_str());
    ASSERT_TRUE(CreateDirectoryA((strips + "folder_H4.bmp").c_str(), nullptr));
    ConvertOutcome folder =
        ConvertStrip((strips + "folder_H4.bmp").c_str(), "folder", "bmp", "H", 4, out.c_str());
    ASSERT_TRUE(WriteText(strips + "text_H4.png", "not a picture"));
    ConvertOutcome text =
        ConvertStrip((strips + "text_H4.png").c_str(), "text", "png", "H", 4, out.c_str());
    EXPECT_EQ(missing, ConvertOutcome::Unreadable);
    EXPECT_EQ(folder, ConvertOutcome::Unreadable);
    EXPECT_EQ(text, ConvertOutcome::NotAPicture);
    ExpectCounts(0, 2);
    EXPECT_TRUE(FilesIn(out).empty());
}

TEST_F(Convert, CountsThatLeaveNoFramesAndOversizedPicturesAreErrors) {
    struct Case {
        const char *direction;
        int count, width, height;
    };
    // Frames of no size; then a sheet of eight frames 5000 wide side by side (40000), and a
    // strip that does not fit an image itself.
    const Case cases[] = {
        {"H", 129, 128, 32},    {"V", 33, 32, 32}, {"H", 0, 8, 8},     {"V", -3, 8, 8},
        {"H", INT32_MIN, 8, 8}, {"V", 8, 5000, 8}, {"H", 4, 32768, 1},
    };
    int errors = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.direction) + std::to_string(c.count));
        Run(Strip(c.width, c.height), "x_H1.bmp", "x", "bmp", c.direction, c.count);
        ExpectCounts(0, ++errors);
        EXPECT_TRUE(FilesIn(out).empty());
    }
    // A sheet just within the limit is written.
    Run(Strip(4095, 8), "z_V8.bmp", "z", "bmp", "V", 8);
    ExpectCounts(1, errors);
    EXPECT_EQ(FilesIn(out), std::vector<std::string>{"z_B8.bmp"});
    EXPECT_EQ(Field32(ReadWholeFile(out + "z_B8.bmp"), 18), 32760u);
}

// An icon file under a strip's name loads as an icon, from which no frame can be cut: an all-black
// sheet would be a failure counted as a conversion. An earlier sheet of that name stays.
TEST_F(Convert, AStripWhoseFramesCannotBeCutIsAnErrorAndWritesNothing) {
    const uint16_t directory[3] = {0, 1, 1}; // reserved, an icon, one entry
    const uint8_t size[4] = {16, 16, 0, 0};
    const uint16_t planesAndBits[2] = {1, 32};
    const uint32_t image[2] = {40 + 16 * 16 * 4 + 16 * 4, 22};         // its bytes and offset
    BITMAPINFOHEADER header{40, 16, 32, 1, 32, BI_RGB, 0, 0, 0, 0, 0}; // colour and mask halves
    std::string icon;
    AppendBytes(icon, directory);
    AppendBytes(icon, size);
    AppendBytes(icon, planesAndBits);
    AppendBytes(icon, image);
    AppendBytes(icon, header);
    icon += std::string(16 * 16 * 4, '\x7F') + std::string(16 * 4, '\0');
    ASSERT_TRUE(WriteText(strips + "i_H2.bmp", icon));
    ASSERT_TRUE(WriteText(out + "i_B2.bmp", "earlier sheet"));

    ConvertStrip((strips + "i_H2.bmp").c_str(), "i", "bmp", "H", 2, out.c_str());
    ExpectCounts(0, 1);
    EXPECT_EQ(ReadWholeFile(out + "i_B2.bmp"), "earlier sheet");
    EXPECT_EQ(FilesIn(out), std::vector<std::string>{"i_B2.bmp"});
}

TEST_F(Convert, TheDriverConvertsRealStripsAndCountsThem) {
    // Two strips give the same sheet's name: the one given last is the one that stays, though
    // the sheets may be written at the same time.
    Picture walk = Strip(128, 32), walkDown = Strip(32, 128), hero = Strip(8, 96);
    ASSERT_TRUE(WriteText(strips + "walk_H4.bmp", MakeBmp(walk, 24, false)));
    ASSERT_TRUE(WriteText(strips + "walk_V4.bmp", MakeBmp(walkDown, 24, false)));
    ASSERT_TRUE(WriteText(strips + "Hero_v012.BMP", MakeBmp(hero, 24, false)));
    ASSERT_TRUE(WriteText(strips + "notes.txt", "notes"));
    Dialogs = DialogScript();
    Dialogs.files = {strips + "walk_H4.bmp", strips + "walk_V4.bmp", strips + "notes.txt",
                     strips + "Hero_v012.BMP", strips + "gone_H2.bmp"};
    Dialogs.folder = out;
    BatchConvert();

    // gone_H2.bmp cannot be opened: an error.
    EXPECT_EQ(Dialogs.messages,
              (std::vector<std::string>{"Conversion Completed",
                                        "Files Selected: 5\r\nFiles Converted: 3\r\n"
                                        "Files Skipped: 1\r\nFiles Errors: 1\r\n",
                                        "0"}));
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"Hero_B12.bmp", "walk_B4.bmp"}));
    EXPECT_TRUE(SheetIs(out + "walk_B4.bmp", ExpectedSheet(walkDown, 'V', 4)));
    EXPECT_TRUE(SheetIs(out + "Hero_B12.bmp", ExpectedSheet(hero, 'V', 12)));
}

// The line the console's cursor is on, trailing blanks dropped, and whether the cursor is at its
// start.
std::string ConsoleLine(HANDLE screen, bool *atStart = nullptr) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    char text[512] = "";
    DWORD read = 0;
    if (!GetConsoleScreenBufferInfo(screen, &info) ||
        !ReadConsoleOutputCharacterA(screen, text, std::min<DWORD>(info.dwSize.X, sizeof text),
                                     COORD{0, info.dwCursorPosition.Y}, &read))
        return "(unreadable)";
    if (atStart) *atStart = info.dwCursorPosition.X == 0;
    std::string line(text, read);
    return line.erase(line.find_last_not_of(' ') + 1);
}

HANDLE screen;
std::string firstLine, reported;

// The console's progress step, and Ctrl+C pressed before the third file (the second one's sheet is
// still being written). The stop handler runs on a thread of its own, so the step is asked again
// until it has.
int32_t StepPressingCtrlC(int32_t number, const char *file) {
    int32_t stop = ConsoleProgressStep(number, file);
    if (number == 1) firstLine = ConsoleLine(screen);
    if (number == 3 && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        for (int i = 0; i < 1000 && !stop; i++, Sleep(10))
            stop = ConsoleProgressStep(number, file);
    return stop;
}

// A run without dialogs on a console of its own: the progress line is written over itself and
// erased at the end. Ctrl+C, raised on the console as a user's key raises it, stops the batch
// before its next strip: the sheet under way is finished whole, the exit code says "stopped"
// though a strip failed, and the report ends with the files not examined.
TEST_F(Convert, OnAConsoleTheLineIsErasedAndCtrlCStopsTheBatch) {
    FreeConsole(); // the console of our starter may be shared with other programs
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, screen);
    Picture walk = Strip(128, 32);
    ASSERT_TRUE(WriteText(strips + "walk_H4.bmp", MakeBmp(walk, 24, false)));
    std::string files = strips + "walk_H400.bmp|" + strips + "walk_H4.bmp|" + strips + "a_H1.bmp|" +
                        strips + "b_H1.bmp|";
    std::replace(files.begin(), files.end(), '|', '\0');
    CopyFileA((strips + "walk_H4.bmp").c_str(), (strips + "walk_H400.bmp").c_str(), FALSE);
    // The strip after the stop is read ahead but never examined: nothing of it shows.
    ASSERT_TRUE(WriteText(strips + "a_H1.bmp", MakeBmp(Strip(32, 32), 24, false)));
    static const BatchProgress console = {ConsoleProgressBegin, StepPressingCtrlC,
                                          ConsoleProgressEnd};
    BatchProgressSet(&console);
    int32_t exitCode =
        BatchConvert(files.c_str(), out.c_str(), [](const char *text) { reported = text; });
    BatchProgressSet(nullptr);
    bool atStart = false;
    EXPECT_EQ(ConsoleLine(screen, &atStart), "");
    EXPECT_TRUE(atStart);
    SetStdHandle(STD_ERROR_HANDLE, standardError);
    CloseHandle(screen);
    FreeConsole();

    EXPECT_EQ(firstLine, "1/4 walk_H400.bmp");
    EXPECT_EQ(exitCode, 3);
    EXPECT_EQ(reported, "Files Selected: 2\r\nFiles Converted: 1\r\nFiles Skipped: 0\r\n"
                        "Files Errors: 1\r\n" +
                            strips +
                            "walk_H400.bmp: more frames than pixels\r\n"
                            "stopped: 2 files not examined\r\n");
    EXPECT_EQ(FilesIn(out), std::vector<std::string>{"walk_B4.bmp"});
    EXPECT_TRUE(SheetIs(out + "walk_B4.bmp", ExpectedSheet(walk, 'H', 4)));
    HANDLE next = CreateFileA((strips + "a_H1.bmp").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(next, INVALID_HANDLE_VALUE) << "the strip read ahead is still open";
    if (next != INVALID_HANDLE_VALUE) CloseHandle(next);
}

// A run stopped before its last strip writes no atlas, though the strips before were taken into
// it: the report says so after the stopped line, and they count as neither converted nor failed.
TEST_F(Convert, AStoppedRunWritesNoAtlas) {
    ASSERT_TRUE(WriteText(strips + "walk_H4.bmp", MakeBmp(Strip(128, 32), 24, false)));
    std::string files = strips + "walk_H4.bmp|" + strips + "run_H4.bmp|";
    std::replace(files.begin(), files.end(), '|', '\0');
    SheetOptions options;
    strcpy(options.atlas, "hero");
    ConvertSetOptions(options);
    static const BatchProgress stopAtTheSecond = {
        [](int32_t) {}, [](int32_t number, const char *) { return number == 2 ? 1 : 0; }, [] {}};
    BatchProgressSet(&stopAtTheSecond);
    int32_t exitCode =
        BatchConvert(files.c_str(), out.c_str(), [](const char *text) { reported = text; });
    BatchProgressSet(nullptr);
    ConvertSetOptions(SheetOptions());
    EXPECT_EQ(exitCode, 3);
    EXPECT_EQ(reported, "Files Selected: 1\r\nFiles Converted: 0\r\nFiles Skipped: 0\r\n"
                        "Files Errors: 0\r\nstopped: 1 files not examined\r\n"
                        "no atlas written: the run was stopped\r\n");
    EXPECT_TRUE(FilesIn(out).empty());
}

// Each option's text as the window's fields hand it over: what a row takes, and what it refuses.
TEST(SheetOptions, EachRowTakesItsTextAndRefusesOthers) {
    if (!MainHeap) MainHeapInit();
    const struct {
        const char *name, *text;
        bool taken;
    } cases[] = {
        {"/maxsize", "16", true},          {"/maxsize", "15", false},
        {"/maxsize", "32768", false},      {"/scale", "16", true},
        {"/scale", "17", false},           {"/pot", "", true},
        {"/pivot", "0.5,1", true},         {"/pivot", ".25,0", true},
        {"/pivot", "1.0000,0", true},      {"/pivot", "1.000001,0", false},
        {"/pivot", "0.1234567,0", false},  {"/pivot", "0.5,", false},
        {"/pivot", ",0.5", false},         {"/pivot", "-0,0", false},
        {"/pivot", "0.5 ,1", false},       {"/atlas", "hero", true},
        {"/atlas", "hero sheet.v2", true}, {"/atlas", "", false},
        {"/atlas", "a/b", false},          {"/atlas", "a:b", false},
        {"/atlas", "a\x01b", false},       {"/atlas", "NUL", false},
        {"/atlas", "lpt9.png", false},     {"/atlas", "LPT0", true},
        {"/atlas", "console", true},       {"/atlas", "aux .json", false},
        {"/atlas", "hero ", false},
    };
    auto rowNamed = [](const char *name) {
        const OptionRow *row = nullptr;
        for (int32_t i = 0; i < SheetOptionCount; i++)
            if (strcmp(SheetOptionRows[i].name, name) == 0) row = &SheetOptionRows[i];
        return row;
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.name) + ":" + c.text);
        const OptionRow *row = rowNamed(c.name);
        ASSERT_NE(row, nullptr);
        SheetOptions options;
        EXPECT_EQ(SheetOptionSet(*row, c.text, &options), c.taken);
        if (c.taken && row->kind == OptionKind::Name) {
            EXPECT_STREQ(options.atlas, c.text);
        }
    }
    SheetOptions pivot;
    ASSERT_TRUE(SheetOptionSet(*rowNamed("/pivot"), ".25,1", &pivot));
    EXPECT_TRUE(pivot.pivot.given && pivot.pivot.x == PivotOne / 4 && pivot.pivot.y == PivotOne);
}

// Packed pages hold every rectangle once, apart and within the page, which keeps within the
// largest side (a power of two each way with /pot); each strip's frames are on one page.
TEST(PackedLayout, RectanglesStayApartAndWithinTheirPages) {
    if (!MainHeap) MainHeapInit();
    const char *runs[] = {"", "/pot", "/maxsize:100 /spacing:3 /margin:2 /extrude:1",
                          "/maxsize:256 /pot /scale:2"};
    uint32_t seed = 11;
    auto next = [&seed](int32_t n) {
        return int32_t((seed = seed * 1103515245u + 12345u) >> 16) % n;
    };
    std::vector<PackRect> rects(300);
    for (PackRect &r : rects)
        r = {1 + next(24), 1 + next(24), next(4), next(4)};
    std::vector<int32_t> frames;
    std::vector<PackStrip> strips;
    for (int32_t s = 0; s < 60; s++) {
        strips.push_back({int32_t(frames.size()), 1 + next(8)});
        for (int32_t i = 0; i < strips.back().count; i++)
            frames.push_back(next(300));
    }
    for (const char *run : runs) {
        SCOPED_TRACE(run);
        SheetOptions o;
        std::istringstream words(run);
        uint32_t given = 0;
        for (std::string word; words >> word;)
            ASSERT_EQ(SheetOptionRead(word.c_str(), &given, &o, TempString.end), OptionRead::Taken);
        std::vector<FramePlace> places(frames.size());
        std::vector<int32_t> pages(strips.size());
        PageSize *sizes = nullptr;
        int32_t count =
            PackLayoutMake(o, rects.data(), int32_t(rects.size()), frames.data(), strips.data(),
                           int32_t(strips.size()), places.data(), pages.data(), &sizes);
        ASSERT_GT(count, 0);
        int32_t limit = o.maxSize ? o.maxSize : 4096, e = o.extrude;
        for (int32_t p = 0; p < count; p++) {
            EXPECT_LE(std::max(sizes[p].width, sizes[p].height), limit);
            if (o.pot) {
                EXPECT_EQ(sizes[p].width & (sizes[p].width - 1), 0);
                EXPECT_EQ(sizes[p].height & (sizes[p].height - 1), 0);
            }
        }
        for (size_t s = 0; s < strips.size(); s++) {
            for (int32_t i = strips[s].first; i < strips[s].first + strips[s].count; i++) {
                const FramePlace &a = places[size_t(i)];
                const PackRect &r = rects[size_t(frames[size_t(i)])];
                EXPECT_EQ(a.page, pages[s]);
                EXPECT_TRUE(a.w == r.w * o.scale && a.h == r.h * o.scale &&
                            a.trimX == r.trimX * o.scale);
                EXPECT_TRUE(a.x - e >= o.margin && a.y - e >= o.margin &&
                            a.x + a.w + e <= sizes[a.page].width - o.margin &&
                            a.y + a.h + e <= sizes[a.page].height - o.margin);
                for (size_t j = 0; j < places.size(); j++) {
                    const FramePlace &b = places[j];
                    bool same = b.x == a.x && b.y == a.y && b.page == a.page;
                    bool apart = b.page != a.page || a.x + a.w + e + o.spacing <= b.x - e ||
                                 b.x + b.w + e + o.spacing <= a.x - e ||
                                 a.y + a.h + e + o.spacing <= b.y - e ||
                                 b.y + b.h + e + o.spacing <= a.y - e;
                    EXPECT_TRUE(same ? frames[j] == frames[size_t(i)] : apart) << i << " and " << j;
                }
            }
        }
        MemoryFree(sizes);
    }
}

// A row's pixels copied between depths and scales, the opaque widening four pixels at a time
// included: every width up to two rounds of four and a tail, each pixel where it belongs.
TEST(PixelRows, EveryPixelOfARowIsCopiedWhateverTheWidthAndDepth) {
    const struct {
        int32_t fromBytes, toBytes;
        bool alpha;
        int32_t scale;
    } ways[] = {{3, 4, false, 1}, {3, 4, false, 2}, {3, 3, false, 1}, {3, 3, false, 3},
                {4, 4, true, 1},  {4, 4, true, 2},  {4, 4, false, 1}, {4, 3, false, 1}};
    for (const auto &w : ways) {
        for (int32_t width = 1; width <= 11; width++) {
            SCOPED_TRACE(std::to_string(w.fromBytes) + " to " + std::to_string(w.toBytes) +
                         " bytes, scale " + std::to_string(w.scale) + ", width " +
                         std::to_string(width));
            std::vector<uint8_t> from(size_t(width * w.fromBytes));
            for (size_t i = 0; i < from.size(); i++)
                from[i] = uint8_t(7 + 13 * i);
            std::vector<uint8_t> expected, to(size_t(width * w.scale * w.toBytes) + 4, 0xEE);
            for (int32_t x = 0; x < width; x++)
                for (int32_t k = 0; k < w.scale; k++)
                    for (int32_t c = 0; c < w.toBytes; c++)
                        expected.push_back(c < 3     ? from[size_t(x * w.fromBytes + c)]
                                           : w.alpha ? from[size_t(x * w.fromBytes + 3)]
                                                     : 255);
            expected.insert(expected.end(), 4, 0xEE); // nothing written past the row
            PixelRowCopy(to.data(), w.toBytes, from.data(), w.fromBytes, w.alpha, width, w.scale);
            EXPECT_EQ(to, expected);
        }
    }
}

} // namespace
