#include "runtime/drawing/drawing.h"
#include "tests/drawing/gdi_check.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr COLORREF Black = RGB(0, 0, 0);
constexpr COLORREF White = RGB(255, 255, 255);
constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF Blue = RGB(0, 0, 255);

// What the output's release routine saw when the layer called it.
HDC OutputDc;
int Releases;
HGDIOBJ BrushAtRelease;
HGDIOBJ PenAtRelease;

int32_t ReleaseOutput() {
    Releases++;
    BrushAtRelease = GetCurrentObject(OutputDc, OBJ_BRUSH);
    PenAtRelease = GetCurrentObject(OutputDc, OBJ_PEN);
    DeleteDC(OutputDc);
    OutputDc = nullptr;
    return 7;
}

HDC AcquiredDc;
int Acquires;
HDC Acquire() {
    Acquires++;
    return AcquiredDc;
}

Pixels Inverted(Pixels picture) {
    for (COLORREF &c : picture)
        c = ~c & 0xFFFFFF;
    return picture;
}

// Draws into display-compatible bitmaps through outputs of kind 2 whose release is recorded.
class Draw : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { DrawingInit(); }
    void SetUp() override { Releases = 0; }
    void TearDown() override {
        DrawingEnd();
        if (OutputDc) DeleteDC(OutputDc);
        OutputDc = nullptr;
        for (HBITMAP bitmap : bitmaps)
            DeleteObject(bitmap);
    }
    HBITMAP Bitmap(int width, int height, COLORREF fill) {
        bitmaps.push_back(MakeDisplayBitmap(width, height, fill));
        return bitmaps.back();
    }
    HBITMAP Bitmap(int width, const Pixels &pixels) {
        HBITMAP bitmap = Bitmap(width, int(pixels.size()) / width, 0);
        WritePixels(bitmap, pixels);
        return bitmap;
    }
    // Begins a drawing on the bitmap; ReadPixels needs it ended (the bitmap deselected) first.
    void Begin(HBITMAP bitmap, int32_t kind = OutputKindImage,
               DrawingAcquireRoutine acquire = nullptr) {
        OutputDc = CreateCompatibleDC(nullptr);
        SelectObject(OutputDc, bitmap);
        output = DrawingOutput{kind, nullptr, OutputDc, ReleaseOutput, {{}, acquire, 0}};
        ASSERT_EQ(DrawingBegin(&output), OutputDc);
    }
    DrawingOutput output{};
    std::vector<HBITMAP> bitmaps;
};

TEST_F(Draw, EndingPutsTheDcBackBeforeReleasingAndBeginEndsAnEarlierDrawing) {
    HBITMAP first = Bitmap(4, 4, White);
    HBITMAP second = Bitmap(4, 4, White);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ originalBrush = GetCurrentObject(dc, OBJ_BRUSH);
    HGDIOBJ originalPen = GetCurrentObject(dc, OBJ_PEN);
    DeleteDC(dc);
    Begin(first);
    EXPECT_EQ(GetCurrentObject(OutputDc, OBJ_BRUSH), Drawing.defaultBrush);
    EXPECT_EQ(GetCurrentObject(OutputDc, OBJ_PEN), Drawing.defaultPen);
    DrawingSetMode(ModeTransparent); // selects the fill brush
    HBRUSH fill = Drawing.fillBrush;
    EXPECT_EQ(GetCurrentObject(OutputDc, OBJ_BRUSH), fill);
    EXPECT_EQ(GetBkMode(OutputDc), TRANSPARENT);

    // An output of no particular kind: the earlier drawing ends first; the layer deletes the
    // new output's dc at the end.
    HDC secondDc = CreateCompatibleDC(nullptr);
    SelectObject(secondDc, second);
    DrawingOutput other{3, nullptr, secondDc, nullptr, {}};
    ASSERT_EQ(DrawingBegin(&other), secondDc);
    EXPECT_EQ(Releases, 1);
    EXPECT_EQ(BrushAtRelease, originalBrush);
    EXPECT_EQ(PenAtRelease, originalPen);
    EXPECT_EQ(GetObjectType(fill), 0u) << "the fill brush is deleted";
    EXPECT_EQ(Drawing.mode, 0);
    DrawBox(0, 0, 4, 4, Blue);
    DrawingEnd();
    EXPECT_EQ(GetObjectType(secondDc), 0u) << "deleted by DrawingEnd";
    EXPECT_TRUE(SamePixels(ReadPixels(second), Pixels(16, Blue), 4));

    // A null output ends the drawing too, and nothing is drawn until the next begins.
    Begin(first);
    DrawBox(0, 0, 4, 4, Red);
    EXPECT_EQ(DrawingBegin(nullptr), nullptr);
    EXPECT_EQ(Releases, 2);
    DrawBox(0, 0, 2, 2, Blue);
    EXPECT_EQ(DrawingEnd(), 0);
    EXPECT_TRUE(SamePixels(ReadPixels(first), Pixels(16, Red), 4));

    Begin(first);
    EXPECT_EQ(DrawingEnd(), 7) << "the release routine's result";
    EXPECT_EQ(Releases, 3);

    // A window output with no window draws on the screen's dc and gives it back.
    int before = GdiObjectCount();
    DrawingOutput window{OutputKindWindow, nullptr, nullptr, nullptr, {}};
    EXPECT_NE(DrawingBegin(&window), nullptr);
    EXPECT_EQ(DrawingEnd(), 1);
    EXPECT_EQ(GdiObjectCount(), before);
}

TEST_F(Draw, FilledBoxesCoverExactlyTheirPixels) {
    constexpr int W = 20, H = 16;
    HBITMAP target = Bitmap(W, H, White);
    Begin(target);
    DrawingSetMode(ModeTransparent);
    DrawBox(0, 0, W, H, Black);
    DrawBox(3, 2, 5, 4, Red);
    DrawBox(-3, -2, 5, 4, Blue); // partly outside: 2 x 2 inside
    DrawBox(W - 2, H - 1, 10, 10, Blue);
    for (auto size : {POINT{0, 3}, POINT{-3, 3}, POINT{3, -3}}) // empty boxes draw nothing
        DrawBox(10, 10, size.x, size.y, Red);
    HGDIOBJ brush = GetCurrentObject(OutputDc, OBJ_BRUSH);
    HGDIOBJ pen = GetCurrentObject(OutputDc, OBJ_PEN);
    int before = GdiObjectCount();
    for (int i = 0; i < 50; i++)
        DrawBox(12, 8, 2, 2, RGB(0, 255, 0));
    EXPECT_EQ(GdiObjectCount(), before) << "each coloured box deletes its pen and brush";
    EXPECT_EQ(GetCurrentObject(OutputDc, OBJ_BRUSH), brush);
    EXPECT_EQ(GetCurrentObject(OutputDc, OBJ_PEN), pen);
    DrawingEnd();

    Pixels expected = Paste(Pixels(W * H, Black), W, Pixels(20, Red), 5, 3, 2);
    expected = Paste(expected, W, Pixels(20, Blue), 5, -3, -2);
    expected = Paste(expected, W, Pixels(100, Blue), 10, W - 2, H - 1);
    expected = Paste(expected, W, Pixels(4, RGB(0, 255, 0)), 2, 12, 8);
    EXPECT_TRUE(SamePixels(ReadPixels(target), expected, W));
}

TEST_F(Draw, InvertedOnePixelAndOutlinedBoxes) {
    constexpr int W = 28, H = 9;
    HBITMAP target = Bitmap(W, Pattern(W, H));
    Pixels background = ReadPixels(target);
    Begin(target);
    DrawingSetMode(ModeInvert);
    DrawBox(27, 8, 1, 1, Red); // one pixel is set, not inverted
    DrawBox(0, 0, 6, 4, Blue); // inverted whatever the colour
    DrawBox(7, 0, 6, 4, Red);
    DrawBox(7, 0, 6, 4, Red); // inverted twice: restored
    DrawingSetMode(ModeInvert | ModeOutlined);
    DrawBox(14, 0, 6, 4, Red);
    DrawingSetMode(ModeOutlined);
    DrawBox(2, 5, 5, 3, Red); // 12 red border pixels; the middle 3 x 1 stays
    DrawingEnd();

    Pixels expected = background;
    expected[8 * W + 27] = Red;
    for (int x : {0, 14})
        expected = Paste(expected, W, Inverted(Crop(background, W, x, 0, 6, 4)), 6, x, 0);
    expected = Paste(expected, W, Crop(background, W, 15, 1, 4, 2), 4, 15, 1);
    expected = Paste(expected, W, Pixels(15, Red), 5, 2, 5);
    expected = Paste(expected, W, Crop(background, W, 3, 6, 3, 1), 3, 3, 6);
    EXPECT_TRUE(SamePixels(ReadPixels(target), expected, W));
}

TEST_F(Draw, ImagesArePlacedExactlyClippedScaledAndInverted) {
    constexpr int W = 256, H = 256;
    HBITMAP image = Bitmap(32, Pattern(32, 48));
    HBITMAP red = Bitmap(3, 2, Red);
    HBITMAP black = Bitmap(4, 4, Black);
    HBITMAP white = Bitmap(4, 4, White);
    Pixels picture = ReadPixels(image);
    HBITMAP target = Bitmap(W, Paste(Pixels(W * H, White), W, Pattern(4, 4), 4, 150, 10));
    Pixels background = ReadPixels(target);
    Begin(target);
    DrawImageAt(image, 64, 96);
    DrawImageAt(image, -10, 230);
    DrawImageSized(image, 240, -20, 0, 5); // a zero width: the bitmap's own size
    DrawImageSized(red, 150, 30, 6, 4);
    EXPECT_EQ(DrawImagePart(image, 100, 20, 5, 7, 10, 12), 1);
    // The image is free for any other use at once, while the drawing goes on.
    HDC elsewhere = CreateCompatibleDC(nullptr);
    HGDIOBJ earlier = SelectObject(elsewhere, image);
    EXPECT_NE(earlier, nullptr) << "the image stays selected after a part of it is drawn";
    SelectObject(elsewhere, earlier);
    DeleteDC(elsewhere);
    DrawingSetMode(ModeInvert);
    DrawImageAt(black, 150, 10); // inverts what is below
    DrawImageAt(white, 160, 10); // sets black
    DrawingEnd();

    Pixels expected = Paste(background, W, picture, 32, 64, 96);
    expected = Paste(expected, W, picture, 32, -10, 230);
    expected = Paste(expected, W, picture, 32, 240, -20);
    expected = Paste(expected, W, Pixels(24, Red), 6, 150, 30);
    expected = Paste(expected, W, Crop(picture, 32, 5, 7, 10, 12), 10, 100, 20);
    expected = Paste(expected, W, Inverted(Crop(background, W, 150, 10, 4, 4)), 4, 150, 10);
    expected = Paste(expected, W, Pixels(16, Black), 4, 160, 10);
    EXPECT_TRUE(SamePixels(ReadPixels(target), expected, W));
}

TEST_F(Draw, DibOutputsGetA24BitCopy) {
    HBITMAP image = Bitmap(3, Pixels{Red, White, Blue, Black, RGB(0, 255, 0), White});
    BITMAPINFOHEADER *block = BitmapToPackedDib(image, nullptr);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->biSize, 40u);
    EXPECT_EQ(block->biWidth, 3);
    EXPECT_EQ(block->biHeight, 2);
    EXPECT_EQ(block->biBitCount, 24);
    EXPECT_EQ(block->biCompression, DWORD(BI_RGB));
    EXPECT_GE(GlobalSize(block), 40u + 2 * 12);
    // Rows of 12 bytes, bottom row first, blue-green-red.
    const BYTE rows[2][9] = {{0, 0, 0, 0, 255, 0, 255, 255, 255},
                             {0, 0, 255, 255, 255, 255, 255, 0, 0}};
    for (int row = 0; row < 2; row++)
        EXPECT_EQ(memcmp(reinterpret_cast<BYTE *>(block + 1) + 12 * row, rows[row], 9), 0) << row;
    GlobalFree(block);
    EXPECT_EQ(BitmapToPackedDib(nullptr, nullptr), nullptr);

    HBITMAP pattern = Bitmap(5, Pattern(5, 4));
    Pixels picture = ReadPixels(pattern);
    HBITMAP target = Bitmap(8, 8, White);
    Begin(target, OutputKindDib);
    DrawImageAt(pattern, 2, 3);
    EXPECT_EQ(DrawImagePart(pattern, 0, 0, 1, 1, 2, 2), 0) << "parts do not go to DIB outputs";
    DrawingEnd();
    EXPECT_EQ(Releases, 1);
    EXPECT_TRUE(SamePixels(ReadPixels(target), Paste(Pixels(64, White), 8, picture, 5, 2, 3), 8));
}

TEST_F(Draw, RevokedDcIsAcquiredAgainBeforeTheNextPrimitive) {
    HBITMAP first = Bitmap(4, 4, White);
    HBITMAP second = Bitmap(4, 4, White);
    Begin(first, OutputKindRevocable, Acquire);
    DrawingSetMode(ModeInvert);
    Acquires = 0;

    AcquiredDc = nullptr; // the owner cannot give one yet: nothing is drawn anywhere
    Drawing.dcState = -1;
    DrawBox(0, 0, 4, 4, Red);
    EXPECT_EQ(Acquires, 1);
    EXPECT_EQ(Drawing.dcState, -1);

    AcquiredDc = CreateCompatibleDC(nullptr);
    HGDIOBJ secondOriginal = SelectObject(AcquiredDc, second);
    DrawBox(0, 0, 4, 2, Red);
    EXPECT_EQ(Drawing.dc, AcquiredDc);
    EXPECT_EQ(Drawing.dcState, 1);
    EXPECT_EQ(GetBkColor(AcquiredDc), White);
    EXPECT_TRUE(GetTextAlign(AcquiredDc) & TA_UPDATECP);
    DrawBox(0, 2, 4, 2, Red); // no further acquire while the dc is valid
    EXPECT_EQ(Acquires, 2);
    DrawingEnd();
    EXPECT_EQ(Releases, 1);
    SelectObject(AcquiredDc, secondOriginal);
    DeleteDC(AcquiredDc);
    EXPECT_TRUE(SamePixels(ReadPixels(first), Pixels(16, White), 4));
    EXPECT_TRUE(SamePixels(ReadPixels(second), Pixels(16, Black), 4))
        << "the invert mode was applied again";
}

TEST_F(Draw, IconsAreDrawnThroughTheirMask) {
    // 4 x 4: the left half transparent (mask 1, colour black), the right half red.
    Pixels colors;
    for (int i = 0; i < 16; i++)
        colors.push_back(i % 4 < 2 ? Black : Red);
    HBITMAP color = Bitmap(4, colors);
    const WORD maskRows[4] = {0xC0, 0xC0, 0xC0, 0xC0}; // 1-bit rows padded to 16 bits
    HBITMAP mask = CreateBitmap(4, 4, 1, 1, maskRows);
    ICONINFO info{TRUE, 0, 0, mask, color};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    ASSERT_NE(icon, nullptr);
    HBITMAP target = Bitmap(6, 6, Blue);
    Begin(target);
    DrawImageAt(icon, 1, 1);
    EXPECT_EQ(DrawImagePart(icon, 0, 0, 0, 0, 2, 2), 0) << "only bitmaps are cut";
    DrawingEnd();
    DestroyIcon(icon);
    EXPECT_TRUE(
        SamePixels(ReadPixels(target), Paste(Pixels(36, Blue), 6, Pixels(8, Red), 2, 3, 1), 6));
}

} // namespace
