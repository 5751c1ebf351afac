#include "runtime/drawing/drawing.h"
#include "runtime/image/image.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/registry.h"
#include "tests/drawing/gdi_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr COLORREF Black = RGB(0, 0, 0);
constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF Blue = RGB(0, 0, 255);

using Pixels = std::vector<COLORREF>;

Pixels ImagePixels(ObjectId id) {
    return ReadPixels(static_cast<HBITMAP>(ImageHandle(id)));
}

// An image holding a pattern; returns the pixels as they read back from the bitmap.
Pixels PatternImage(ObjectId id, int width, int height, int32_t depth = ImageDisplayFormat) {
    if (!ImageCreate(id, width, height, depth)) return {};
    WritePixels(static_cast<HBITMAP>(ImageHandle(id)), Pattern(width, height));
    return ImagePixels(id);
}

// Puts an icon into the registry the way the loader records icon files.
HICON IconImage(ObjectId id) {
    HBITMAP color = MakeDisplayBitmap(4, 4, Red);
    HBITMAP mask = CreateBitmap(4, 4, 1, 1, nullptr);
    ICONINFO info{TRUE, 0, 0, mask, color};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(color);
    auto *record = static_cast<ImageObject *>(RegistryAllocate(ImageRegistry, id));
    record->handle = icon;
    record->width = record->height = 4;
    record->depth = 32;
    return icon;
}

// One round of what the conversion does with images, plus dynamic ids.
void Cycle(int i) {
    ImageCreate(0, 32, 32);
    ImageGrab(0, 2, i % 7, i % 5, 16, 16);
    ImageCreate(1, 64, 64, i % 2 ? 24 : 128);
    DrawingBegin(ImageDrawTarget(1));
    DrawingSetMode(ModeTransparent);
    DrawBox(0, 0, 64, 64, Black);
    DrawBox(i % 60, 3, 4, 4, RGB(i, 255 - i, 0));
    DrawImageAt(ImageHandle(2), i % 48, 10);
    DrawImageSized(ImageHandle(2), 0, 0, 20, 30);
    DrawingEnd();
    intptr_t id = ImageCreate(AutoNumber, 8, 8, 32);
    intptr_t copy = ImageGrab(id, AutoNumber, 0, 0, 4, 4);
    ImageFree(copy);
    ImageFree(id);
    ImageFree(2);
}

class Images : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        MainHeapInit();
        ObjectHeapInit();
        DrawingInit();
        ImageLibraryInit();
        // The first use of the display and of memory dcs leaves objects the system keeps for
        // later calls; counts are taken after it.
        Cycle(0);
        ImageLibraryEnd();
    }
    void TearDown() override {
        DrawingEnd();
        ImageLibraryEnd();
    }
};

TEST_F(Images, CreateMakesABlackDisplayCompatibleImage) {
    intptr_t handle = ImageCreate(1, 37, 21);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(reinterpret_cast<HANDLE>(handle), ImageHandle(1));
    EXPECT_EQ(ImageGetWidth(1), 37);
    EXPECT_EQ(ImageGetHeight(1), 21);
    EXPECT_TRUE(SamePixels(ImagePixels(1), Pixels(37 * 21, Black), 37));
    ImageObject *record = ImageRecord(1);
    EXPECT_EQ(record->depth, DisplayBitsPerPixel());
    EXPECT_TRUE(record->flags & ImageDisplayFormat);
    DIBSECTION section{};
    EXPECT_EQ(GetObjectA(ImageHandle(1), sizeof section, &section), sizeof(BITMAP))
        << "not a section";

    intptr_t id = ImageCreate(AutoNumber, 5, 6);
    ASSERT_NE(id, 0);
    EXPECT_EQ(ImageExists(id), id);
    EXPECT_EQ(ImageGetHeight(id), 6);
    ImageFree(id);
    EXPECT_EQ(ImageExists(id), 0);
}

TEST_F(Images, CreateWithADepthMakesABlackBottomUpSection) {
    for (int32_t depth : {8, 16, 24, 32}) {
        SCOPED_TRACE(depth);
        ASSERT_NE(ImageCreate(1, 9, 7, depth), 0);
        DIBSECTION section{};
        ASSERT_EQ(GetObjectA(ImageHandle(1), sizeof section, &section), sizeof section);
        EXPECT_EQ(section.dsBmih.biHeight, 7) << "bottom-up";
        EXPECT_EQ(section.dsBmih.biBitCount, depth);
        EXPECT_EQ(ImageRecord(1)->depth, depth);
        EXPECT_EQ(ImageRecord(1)->flags, 0);
        EXPECT_TRUE(SamePixels(ImagePixels(1), Pixels(9 * 7, Black), 9));
    }
}

TEST_F(Images, CreateRefusesWhatTheRecordCannotHoldAndLeavesTheNumberFree) {
    const int32_t sizes[][2] = {{0, 5},     {5, 0},     {-1, 5},   {5, -1},
                                {32768, 1}, {1, 32768}, {70000, 3}};
    for (auto &size : sizes) {
        SCOPED_TRACE(size[0]);
        ASSERT_NE(ImageCreate(1, 2, 2), 0);
        EXPECT_EQ(ImageCreate(1, size[0], size[1]), 0);
        EXPECT_EQ(ImageExists(1), 0);
        EXPECT_EQ(ImageCreate(1, size[1], size[0], 24), 0);
    }
    EXPECT_EQ(ImageCreate(1, 4, 4, 7), 0) << "no such bit count";
    EXPECT_EQ(ImageCreate(-5, 4, 4), 0);

    EXPECT_EQ(ImageCreate(AutoNumber, 0, 4), 0);
    ObjectId id;
    RegistryRewind(ImageRegistry);
    EXPECT_EQ(RegistryNext(ImageRegistry, &id), nullptr) << "no record left behind";

    ASSERT_NE(ImageCreate(1, 32767, 1), 0);
    EXPECT_EQ(ImageGetWidth(1), 32767);
    ASSERT_NE(ImageCreate(1, 1, 32767), 0);
    EXPECT_EQ(ImageGetHeight(1), 32767);
}

TEST_F(Images, QueriesOfMissingImagesAreZero) {
    ASSERT_NE(ImageCreate(2, 3, 3), 0);
    for (ObjectId id : {0, 15, 16, 1000, -5, -1}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(ImageExists(id), 0);
        EXPECT_EQ(ImageGetWidth(id), 0);
        EXPECT_EQ(ImageGetHeight(id), 0);
        EXPECT_EQ(ImageHandle(id), nullptr);
        EXPECT_EQ(ImageDrawTarget(id), nullptr);
        ImageFree(id);
    }
    EXPECT_NE(ImageExists(2), 0);
}

TEST_F(Images, GrabCopiesExactlyItsRectangle) {
    Pixels source = PatternImage(0, 40, 30);
    ASSERT_FALSE(source.empty());
    intptr_t handle = ImageGrab(0, 2, 5, 7, 16, 9);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(reinterpret_cast<HANDLE>(handle), ImageHandle(2));
    EXPECT_EQ(ImageGetWidth(2), 16);
    EXPECT_EQ(ImageGetHeight(2), 9);
    EXPECT_EQ(ImageRecord(2)->depth, ImageRecord(0)->depth);
    EXPECT_EQ(ImageRecord(2)->flags, ImageRecord(0)->flags);
    EXPECT_TRUE(SamePixels(ImagePixels(2), Crop(source, 40, 5, 7, 16, 9, 0), 16));

    // Partly outside: the overlap is copied, the rest is whatever a new bitmap holds.
    ASSERT_NE(ImageGrab(0, 2, 30, 25, 16, 9), 0);
    Pixels grabbed = ImagePixels(2);
    EXPECT_EQ(Crop(grabbed, 16, 0, 0, 10, 5, 0), Crop(source, 40, 30, 25, 10, 5, 0));
    ASSERT_NE(ImageGrab(0, 2, -4, -3, 8, 6), 0);
    EXPECT_EQ(Crop(ImagePixels(2), 8, 4, 3, 4, 3, 0), Crop(source, 40, 0, 0, 4, 3, 0));

    // From a section: a section of the same bit count.
    Pixels section = PatternImage(3, 10, 10, 24);
    intptr_t id = ImageGrab(3, AutoNumber, 2, 1, 5, 4);
    ASSERT_NE(id, 0);
    EXPECT_EQ(ImageRecord(id)->depth, 24);
    EXPECT_EQ(ImageRecord(id)->flags, 0);
    EXPECT_TRUE(SamePixels(ImagePixels(id), Crop(section, 10, 2, 1, 5, 4, 0), 5));
}

TEST_F(Images, GrabFromAPaletteSectionKeepsItsColours) {
    ASSERT_NE(ImageCreate(0, 4, 2, 8), 0);
    auto *bitmap = static_cast<HBITMAP>(ImageHandle(0));
    const RGBQUAD table[4] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}};
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ original = SelectObject(dc, bitmap);
    SetDIBColorTable(dc, 0, 4, table);
    SelectObject(dc, original);
    DeleteDC(dc);
    DIBSECTION section{};
    GetObjectA(bitmap, sizeof section, &section);
    auto *indices = static_cast<BYTE *>(section.dsBm.bmBits); // bottom-up rows of 4 bytes
    const BYTE bottom[4] = {3, 2, 1, 0}, top[4] = {0, 1, 2, 3};
    memcpy(indices, bottom, 4);
    memcpy(indices + 4, top, 4);
    GdiFlush();

    ASSERT_NE(ImageGrab(0, 2, 1, 0, 3, 2), 0);
    const COLORREF white = RGB(255, 255, 255), green = RGB(0, 255, 0);
    EXPECT_TRUE(SamePixels(ImagePixels(2), Pixels{green, Blue, white, Blue, green, Red}, 3));
}

TEST_F(Images, GrabIntoTheSourceNumberFreesTheSource) {
    Pixels source = PatternImage(0, 20, 20);
    ASSERT_NE(ImageGrab(0, 0, 0, 0, 20, 20), 0); // the first round makes what a grab keeps
    int before = GdiObjectCount();
    for (int i = 0; i < 5; i++)
        ASSERT_NE(ImageGrab(0, 0, 1, 1, 20 - 2 * i, 20 - 2 * i), 0);
    EXPECT_EQ(GdiObjectCount(), before);
    EXPECT_EQ(ImageGetWidth(0), 12);
    EXPECT_TRUE(SamePixels(ImagePixels(0), Crop(source, 20, 5, 5, 12, 12, 0), 12));
}

TEST_F(Images, FailedGrabLeavesTheTargetUntouched) {
    PatternImage(0, 8, 8);
    ASSERT_NE(ImageCreate(2, 3, 3), 0);
    HANDLE target = ImageHandle(2);
    IconImage(4);
    int before = GdiObjectCount();
    EXPECT_EQ(ImageGrab(5, 2, 0, 0, 2, 2), 0) << "no source";
    EXPECT_EQ(ImageGrab(1000, 2, 0, 0, 2, 2), 0) << "a number beyond the table";
    EXPECT_EQ(ImageGrab(4, 2, 0, 0, 2, 2), 0) << "an icon cannot be copied through a dc";
    EXPECT_EQ(ImageGrab(0, 2, 0, 0, 0, 2), 0);
    EXPECT_EQ(ImageGrab(0, 2, 0, 0, 2, -1), 0);
    EXPECT_EQ(ImageGrab(0, 2, 0, 0, 32768, 1), 0);
    EXPECT_EQ(ImageGrab(0, 2, 0, 0, 1, 40000), 0);
    EXPECT_EQ(ImageHandle(2), target);
    EXPECT_EQ(ImageGetWidth(2), 3);
    EXPECT_TRUE(SamePixels(ImagePixels(2), Pixels(9, Black), 3));
    EXPECT_EQ(GdiObjectCount(), before);
}

TEST_F(Images, RecreatingANumberFreesTheOldBitmap) {
    ASSERT_NE(ImageCreate(1, 10, 10), 0);
    int before = GdiObjectCount();
    for (int i = 0; i < 10; i++) {
        HANDLE old = ImageHandle(1);
        HANDLE made = reinterpret_cast<HANDLE>(ImageCreate(1, 10 + i, 10, i % 2 ? 24 : 128));
        ASSERT_NE(made, nullptr);
        if (made != old) {
            EXPECT_EQ(GetObjectType(old), 0u);
        }
    }
    EXPECT_EQ(GdiObjectCount(), before);
}

TEST_F(Images, DrawTargetsHoldOneMemoryDcAtATime) {
    ASSERT_NE(ImageCreate(1, 4, 4), 0);
    ASSERT_NE(ImageCreate(2, 4, 4), 0);
    IconImage(4);
    int closed = GdiObjectCount();
    const DrawingOutput *output = ImageDrawTarget(1);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->kind, OutputKindImage);
    EXPECT_EQ(output->window, nullptr);
    EXPECT_EQ(output->release, &ImageDrawTargetRelease);
    EXPECT_EQ(GetCurrentObject(output->dc, OBJ_BITMAP), ImageHandle(1));
    EXPECT_EQ(GdiObjectCount(), closed + 1);
    EXPECT_EQ(ImageDrawTarget(2), output) << "the one descriptor";
    EXPECT_EQ(GetCurrentObject(output->dc, OBJ_BITMAP), ImageHandle(2));
    EXPECT_EQ(GdiObjectCount(), closed + 1) << "the first dc was deleted";
    EXPECT_EQ(ImageDrawTarget(4), nullptr) << "an icon cannot be selected";
    EXPECT_EQ(GdiObjectCount(), closed);
    EXPECT_EQ(ImageDrawTargetRelease(), 0);
}

TEST_F(Images, DrawingIntoAnImageLaysFramesOut) {
    // A vertical strip of four 8 x 6 frames becomes one row of four.
    Pixels strip = PatternImage(0, 8, 24);
    ASSERT_NE(ImageCreate(1, 32, 6), 0);
    ASSERT_NE(DrawingBegin(ImageDrawTarget(1)), nullptr);
    DrawingSetMode(ModeTransparent);
    DrawBox(0, 0, 32, 6, Black);
    Pixels expected(32 * 6, Black);
    for (int frame = 0; frame < 4; frame++) {
        ASSERT_NE(ImageGrab(0, 2, 0, frame * 6, 8, 6), 0);
        DrawImageAt(ImageHandle(2), frame * 8, 0);
        Pixels part = Crop(strip, 8, 0, frame * 6, 8, 6, 0);
        for (int i = 0; i < 48; i++)
            expected[(i / 8) * 32 + frame * 8 + i % 8] = part[i];
    }
    DrawingEnd();
    EXPECT_TRUE(SamePixels(ImagePixels(1), expected, 32));
}

TEST_F(Images, ANewTargetOrFreeingTheImageEndsTheDrawingOnIt) {
    ASSERT_NE(ImageCreate(1, 4, 4), 0);
    ASSERT_NE(ImageCreate(2, 4, 4), 0);
    int before = GdiObjectCount();
    ASSERT_NE(DrawingBegin(ImageDrawTarget(1)), nullptr);
    DrawBox(0, 0, 4, 4, Red);
    const DrawingOutput *second = ImageDrawTarget(2);
    EXPECT_EQ(Drawing.dc, nullptr) << "the drawing on image 1 ended with its output";
    ASSERT_NE(DrawingBegin(second), nullptr);
    DrawBox(0, 0, 4, 4, Blue);
    DrawingEnd();
    EXPECT_TRUE(SamePixels(ImagePixels(1), Pixels(16, Red), 4));
    EXPECT_TRUE(SamePixels(ImagePixels(2), Pixels(16, Blue), 4));
    EXPECT_EQ(DrawingBegin(second), nullptr) << "a used descriptor gives no dc";

    ASSERT_NE(DrawingBegin(ImageDrawTarget(1)), nullptr);
    HANDLE old = ImageHandle(1);
    ASSERT_NE(ImageCreate(1, 4, 4), 0);
    EXPECT_EQ(Drawing.dc, nullptr);
    if (ImageHandle(1) != old) {
        EXPECT_EQ(GetObjectType(old), 0u);
    }
    EXPECT_EQ(GdiObjectCount(), before);
}

TEST_F(Images, LibraryEndLeavesNoGdiObjectBehind) {
    int before = GdiObjectCount();
    PatternImage(0, 16, 16);
    ASSERT_NE(ImageCreate(20, 4, 4, 24), 0); // grows the table
    intptr_t first = ImageCreate(AutoNumber, 4, 4);
    intptr_t second = ImageGrab(0, AutoNumber, 2, 2, 4, 4);
    ASSERT_NE(ImageGrab(0, 2, 0, 0, 8, 8), 0);
    HICON icon = IconImage(4);
    ASSERT_NE(DrawingBegin(ImageDrawTarget(2)), nullptr);
    DrawBox(0, 0, 3, 3, Red);
    ImageLibraryEnd();
    EXPECT_EQ(GdiObjectCount(), before);
    EXPECT_EQ(Drawing.dc, nullptr);
    ICONINFO info{};
    EXPECT_FALSE(GetIconInfo(icon, &info)) << "the icon was destroyed";
    for (ObjectId id : {ObjectId{0}, ObjectId{2}, ObjectId{4}, ObjectId{20}, first, second}) {
        EXPECT_EQ(ImageExists(id), 0);
    }
}

TEST_F(Images, AThousandCyclesLeakNoGdiObject) {
    Cycle(0); // images 0 and 1 stay between cycles
    int before = GdiObjectCount();
    for (int i = 1; i <= 1000; i++)
        Cycle(i);
    EXPECT_EQ(GdiObjectCount(), before);
    EXPECT_NE(ImageExists(0), 0);
    EXPECT_EQ(ImageExists(2), 0);
}

} // namespace
