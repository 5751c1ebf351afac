#include "runtime/drawing/drawing.h"
#include "tests/drawing/gdi_check.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr COLORREF Black = RGB(0, 0, 0);
constexpr COLORREF White = RGB(255, 255, 255);
constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF Blue = RGB(0, 0, 255);

using Pixels = std::vector<COLORREF>;

// What the output's release routine saw when the layer called it.
HDC outputDc;
int releases;
HGDIOBJ brushAtRelease;
HGDIOBJ penAtRelease;

int32_t ReleaseOutput() {
    releases++;
    brushAtRelease = GetCurrentObject(outputDc, OBJ_BRUSH);
    penAtRelease = GetCurrentObject(outputDc, OBJ_PEN);
    DeleteDC(outputDc);
    outputDc = nullptr;
    return 7;
}

HDC acquiredDc;
int acquires;
HDC Acquire() {
    acquires++;
    return acquiredDc;
}

// Pixels of `picture` (width `pictureWidth`) with `part` laid over it at (x, y), clipped.
Pixels Paste(Pixels picture, int pictureWidth, const Pixels &part, int partWidth, int x, int y) {
    int pictureHeight = static_cast<int>(picture.size()) / pictureWidth;
    int partHeight = static_cast<int>(part.size()) / partWidth;
    for (int row = 0; row < partHeight; row++) {
        for (int column = 0; column < partWidth; column++) {
            int px = x + column, py = y + row;
            if (px >= 0 && px < pictureWidth && py >= 0 && py < pictureHeight) {
                picture[static_cast<size_t>(py) * pictureWidth + px] =
                    part[row * partWidth + column];
            }
        }
    }
    return picture;
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
    void SetUp() override { releases = 0; }
    void TearDown() override {
        DrawingEnd();
        if (outputDc) DeleteDC(outputDc);
        outputDc = nullptr;
        for (HBITMAP bitmap : bitmaps)
            DeleteObject(bitmap);
    }
    HBITMAP Bitmap(int width, int height, COLORREF fill) {
        bitmaps.push_back(MakeDisplayBitmap(width, height, fill));
        return bitmaps.back();
    }
    HBITMAP Bitmap(int width, const Pixels &pixels) {
        HBITMAP bitmap = Bitmap(width, static_cast<int>(pixels.size()) / width, 0);
        WritePixels(bitmap, pixels);
        return bitmap;
    }
    // Begins a drawing on the bitmap; ReadPixels needs it ended (the bitmap deselected) first.
    void Begin(HBITMAP bitmap, int32_t kind = OutputKindImage,
               DrawingAcquireRoutine acquire = nullptr) {
        outputDc = CreateCompatibleDC(nullptr);
        SelectObject(outputDc, bitmap);
        output = DrawingOutput{};
        output.kind = kind;
        output.dc = outputDc;
        output.release = ReleaseOutput;
        output.kindValues.acquire = acquire;
        ASSERT_EQ(DrawingBegin(&output), outputDc);
    }
    DrawingOutput output{};
    std::vector<HBITMAP> bitmaps;
};

TEST_F(Draw, BeginPreparesTheDcAndEndPutsItBackBeforeReleasing) {
    HBITMAP target = Bitmap(4, 4, White);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ originalBrush = GetCurrentObject(dc, OBJ_BRUSH);
    HGDIOBJ originalPen = GetCurrentObject(dc, OBJ_PEN);
    DeleteDC(dc);
    Begin(target);
    EXPECT_EQ(GetCurrentObject(outputDc, OBJ_BRUSH), Drawing.defaultBrush);
    EXPECT_EQ(GetCurrentObject(outputDc, OBJ_PEN), Drawing.defaultPen);
    DrawingSetMode(ModeTransparent); // selects the fill brush
    HBRUSH fill = Drawing.fillBrush;
    EXPECT_EQ(GetCurrentObject(outputDc, OBJ_BRUSH), fill);
    EXPECT_EQ(GetBkMode(outputDc), TRANSPARENT);

    EXPECT_EQ(DrawingEnd(), 7);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(brushAtRelease, originalBrush);
    EXPECT_EQ(penAtRelease, originalPen);
    EXPECT_EQ(GetObjectType(fill), 0u) << "the fill brush is deleted";
    EXPECT_EQ(Drawing.dc, nullptr);
    EXPECT_EQ(DrawingEnd(), 0);
    EXPECT_EQ(releases, 1);
}

TEST_F(Draw, NullOutputLeavesTheLayerIdle) {
    EXPECT_EQ(DrawingBegin(nullptr), nullptr);
    DrawBox(0, 0, 4, 4, Red);
    EXPECT_EQ(DrawingEnd(), 0);

    HBITMAP target = Bitmap(4, 4, White);
    Begin(target);
    DrawBox(0, 0, 4, 4, Red);
    EXPECT_EQ(DrawingBegin(nullptr), nullptr);
    EXPECT_EQ(releases, 1) << "the earlier drawing was ended";
    DrawBox(0, 0, 2, 2, Blue);
    EXPECT_TRUE(SamePixels(ReadPixels(target), Pixels(16, Red), 4));
}

TEST_F(Draw, BeginWhileDrawingEndsTheEarlierDrawingFirst) {
    HBITMAP first = Bitmap(4, 4, White);
    HBITMAP second = Bitmap(4, 4, White);
    Begin(first);
    HGDIOBJ originalBrush = Drawing.savedBrush;
    DrawingSetMode(ModeTransparent);
    HBRUSH firstFill = Drawing.fillBrush;

    // An output of no particular kind: the layer deletes its dc at the end.
    HDC secondDc = CreateCompatibleDC(nullptr);
    SelectObject(secondDc, second);
    DrawingOutput other{};
    other.kind = 3;
    other.dc = secondDc;
    ASSERT_EQ(DrawingBegin(&other), secondDc);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(brushAtRelease, originalBrush);
    EXPECT_EQ(GetObjectType(firstFill), 0u);
    EXPECT_EQ(Drawing.mode, 0);
    DrawBox(0, 0, 4, 4, Blue);
    DrawingEnd();
    EXPECT_EQ(GetObjectType(secondDc), 0u) << "deleted by DrawingEnd";
    EXPECT_TRUE(SamePixels(ReadPixels(first), Pixels(16, White), 4));
    EXPECT_TRUE(SamePixels(ReadPixels(second), Pixels(16, Blue), 4));

    // A window output with no window draws on the screen's dc and gives it back.
    int before = GdiObjectCount();
    DrawingOutput window{};
    window.kind = OutputKindWindow;
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
    DrawBox(10, 10, 0, 3, Red); // empty boxes draw nothing
    DrawBox(10, 10, -3, 3, Red);
    DrawBox(10, 10, 3, -3, Red);
    HGDIOBJ brush = GetCurrentObject(outputDc, OBJ_BRUSH);
    HGDIOBJ pen = GetCurrentObject(outputDc, OBJ_PEN);
    int before = GdiObjectCount();
    for (int i = 0; i < 50; i++)
        DrawBox(12, 8, 2, 2, RGB(0, 255, 0));
    EXPECT_EQ(GdiObjectCount(), before) << "each coloured box deletes its pen and brush";
    EXPECT_EQ(GetCurrentObject(outputDc, OBJ_BRUSH), brush);
    EXPECT_EQ(GetCurrentObject(outputDc, OBJ_PEN), pen);
    DrawingEnd();

    Pixels expected(W * H, Black);
    expected = Paste(expected, W, Pixels(20, Red), 5, 3, 2);
    expected = Paste(expected, W, Pixels(20, Blue), 5, -3, -2);
    expected = Paste(expected, W, Pixels(100, Blue), 10, W - 2, H - 1);
    expected = Paste(expected, W, Pixels(4, RGB(0, 255, 0)), 2, 12, 8);
    EXPECT_TRUE(SamePixels(ReadPixels(target), expected, W));
}

TEST_F(Draw, OnePixelAndOutlinedBoxes) {
    constexpr int W = 9, H = 7;
    Pixels background = Pattern(W, H);
    HBITMAP target = Bitmap(W, background);
    background = ReadPixels(target);
    Begin(target);
    DrawingSetMode(ModeInvert);
    DrawBox(8, 6, 1, 1, Red); // set, not inverted
    DrawingSetMode(ModeOutlined);
    DrawBox(2, 3, 5, 3, Red);
    DrawingEnd();

    Pixels expected = background;
    expected[6 * W + 8] = Red;
    for (int x = 2; x <= 6; x++)
        expected[3 * W + x] = expected[5 * W + x] = Red;
    expected[4 * W + 2] = expected[4 * W + 6] = Red; // 12 border pixels; the middle 3 x 1 stays
    EXPECT_TRUE(SamePixels(ReadPixels(target), expected, W));
}

TEST_F(Draw, InvertModeIgnoresTheColourAndTwiceRestores) {
    constexpr int W = 9, H = 7;
    Pixels background = Pattern(W, H);
    HBITMAP red = Bitmap(W, background);
    HBITMAP blue = Bitmap(W, background);
    HBITMAP twice = Bitmap(W, background);
    HBITMAP outline = Bitmap(W, background);
    background = ReadPixels(red);
    auto box = [&](HBITMAP target, int32_t mode, COLORREF color, int times) {
        Begin(target);
        DrawingSetMode(mode);
        for (int i = 0; i < times; i++)
            DrawBox(1, 2, 6, 4, color);
        DrawingEnd();
    };
    box(red, ModeInvert, Red, 1);
    box(blue, ModeInvert, Blue, 1);
    box(twice, ModeInvert, Red, 2);
    box(outline, ModeInvert | ModeOutlined, Red, 1);

    Pixels expected = Paste(background, W, Inverted(Crop(background, W, 1, 2, 6, 4, 0)), 6, 1, 2);
    EXPECT_TRUE(SamePixels(ReadPixels(red), expected, W));
    EXPECT_TRUE(SamePixels(ReadPixels(blue), expected, W));
    EXPECT_TRUE(SamePixels(ReadPixels(twice), background, W));
    Pixels outlined = Paste(expected, W, Crop(background, W, 2, 3, 4, 2, 0), 4, 2, 3);
    EXPECT_TRUE(SamePixels(ReadPixels(outline), outlined, W));
}

TEST_F(Draw, ImagesArePlacedExactlyAndClipped) {
    constexpr int W = 256, H = 256;
    HBITMAP image = Bitmap(32, Pattern(32, 48));
    Pixels picture = ReadPixels(image);
    HBITMAP target = Bitmap(W, H, White);
    Begin(target);
    DrawImageAt(image, 64, 96);
    DrawImageAt(image, -10, 230);
    DrawImageSized(image, 240, -20, 0, 5); // a zero width: the bitmap's own size
    DrawingEnd();

    Pixels expected = Paste(Pixels(W * H, White), W, picture, 32, 64, 96);
    expected = Paste(expected, W, picture, 32, -10, 230);
    expected = Paste(expected, W, picture, 32, 240, -20);
    EXPECT_TRUE(SamePixels(ReadPixels(target), expected, W));
}

TEST_F(Draw, ScaledAndInvertedImages) {
    constexpr int W = 12, H = 10;
    HBITMAP red = Bitmap(3, 2, Red);
    HBITMAP black = Bitmap(4, 4, Black);
    HBITMAP white = Bitmap(4, 4, White);
    Pixels background = Pattern(W, H);
    HBITMAP target = Bitmap(W, background);
    background = ReadPixels(target);
    Begin(target);
    DrawImageSized(red, 1, 1, 6, 4);
    DrawingSetMode(ModeInvert);
    DrawImageAt(black, 8, 0);
    DrawImageAt(white, 8, 5);
    DrawingEnd();

    Pixels expected = Paste(background, W, Pixels(24, Red), 6, 1, 1);
    expected = Paste(expected, W, Inverted(Crop(background, W, 8, 0, 4, 4, 0)), 4, 8, 0);
    expected = Paste(expected, W, Pixels(16, Black), 4, 8, 5);
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
    EXPECT_EQ(block->biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_GE(GlobalSize(block), 40u + 2 * 12);
    // Rows of 12 bytes, bottom row first, blue-green-red.
    auto *rows = reinterpret_cast<const BYTE *>(block + 1);
    const BYTE bottom[9] = {0, 0, 0, 0, 255, 0, 255, 255, 255};
    const BYTE top[9] = {0, 0, 255, 255, 255, 255, 255, 0, 0};
    using Bytes = std::vector<BYTE>;
    EXPECT_EQ(Bytes(rows, rows + 9), Bytes(bottom, bottom + 9));
    EXPECT_EQ(Bytes(rows + 12, rows + 21), Bytes(top, top + 9));
    GlobalFree(block);
    EXPECT_EQ(BitmapToPackedDib(nullptr, nullptr), nullptr);

    HBITMAP pattern = Bitmap(5, Pattern(5, 4));
    Pixels picture = ReadPixels(pattern);
    HBITMAP target = Bitmap(8, 8, White);
    Begin(target, OutputKindDib);
    DrawImageAt(pattern, 2, 3);
    DrawingEnd();
    EXPECT_EQ(releases, 1);
    EXPECT_TRUE(SamePixels(ReadPixels(target), Paste(Pixels(64, White), 8, picture, 5, 2, 3), 8));
}

TEST_F(Draw, RevokedDcIsAcquiredAgainBeforeTheNextPrimitive) {
    HBITMAP first = Bitmap(4, 4, White);
    HBITMAP second = Bitmap(4, 4, White);
    Begin(first, OutputKindRevocable, Acquire);
    DrawingSetMode(ModeInvert);
    acquires = 0;

    acquiredDc = nullptr; // the owner cannot give one yet: nothing is drawn anywhere
    Drawing.dcState = -1;
    DrawBox(0, 0, 4, 4, Red);
    EXPECT_EQ(acquires, 1);
    EXPECT_EQ(Drawing.dcState, -1);

    acquiredDc = CreateCompatibleDC(nullptr);
    HGDIOBJ secondOriginal = SelectObject(acquiredDc, second);
    DrawBox(0, 0, 4, 2, Red);
    EXPECT_EQ(acquires, 2);
    EXPECT_EQ(Drawing.dc, acquiredDc);
    EXPECT_EQ(Drawing.dcState, 1);
    EXPECT_EQ(GetBkColor(acquiredDc), White);
    EXPECT_TRUE(GetTextAlign(acquiredDc) & TA_UPDATECP);
    DrawBox(0, 2, 4, 2, Red); // no further acquire while the dc is valid
    EXPECT_EQ(acquires, 2);
    DrawingEnd();
    EXPECT_EQ(releases, 1);
    SelectObject(acquiredDc, secondOriginal);
    DeleteDC(acquiredDc);
    EXPECT_TRUE(SamePixels(ReadPixels(first), Pixels(16, White), 4));
    EXPECT_TRUE(SamePixels(ReadPixels(second), Pixels(16, Black), 4))
        << "the invert mode was applied again";
}

TEST_F(Draw, IconsAreDrawnThroughTheirMask) {
    // 4 x 4: the left half transparent (mask 1, colour black), the right half red.
    HBITMAP color = Bitmap(4, Pixels{Black, Black, Red, Red, Black, Black, Red, Red, Black, Black,
                                     Red, Red, Black, Black, Red, Red});
    const WORD maskRows[4] = {0xC0, 0xC0, 0xC0, 0xC0}; // 1-bit rows padded to 16 bits
    HBITMAP mask = CreateBitmap(4, 4, 1, 1, maskRows);
    ICONINFO info{TRUE, 0, 0, mask, color};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    ASSERT_NE(icon, nullptr);
    HBITMAP target = Bitmap(6, 6, Blue);
    Begin(target);
    DrawImageAt(icon, 1, 1);
    DrawingEnd();
    DestroyIcon(icon);
    Pixels right(8, Red);
    EXPECT_TRUE(SamePixels(ReadPixels(target), Paste(Pixels(36, Blue), 6, right, 2, 3, 1), 6));
}

} // namespace
