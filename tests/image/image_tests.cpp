#include "runtime/drawing/drawing.h"
#include "runtime/image/image.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/registry.h"
#include "tests/drawing/gdi_check.h"

#include <gtest/gtest.h>

namespace {

constexpr COLORREF Black = RGB(0, 0, 0);
constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF Blue = RGB(0, 0, 255);

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
    *record = ImageObject{icon, 4, 4, 32, 0, 0, 0};
    return icon;
}

bool NoRecordLeft() {
    ObjectId id;
    RegistryRewind(ImageRegistry);
    return RegistryNext(ImageRegistry, &id) == nullptr;
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
    ImageFree(ImageGrab(id, AutoNumber, 0, 0, 4, 4));
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

TEST_F(Images, CreateMakesABlackImageOfTheAskedKind) {
    for (int32_t depth : {ImageDisplayFormat, 8, 16, 24, 32}) {
        SCOPED_TRACE(depth);
        bool display = depth == ImageDisplayFormat;
        intptr_t handle = ImageCreate(1, 37, 21, depth);
        ASSERT_NE(handle, 0);
        EXPECT_EQ(reinterpret_cast<HANDLE>(handle), ImageHandle(1));
        EXPECT_EQ(ImageGetWidth(1), 37);
        EXPECT_EQ(ImageGetHeight(1), 21);
        EXPECT_EQ(ImageRecord(1)->depth, display ? DisplayBitsPerPixel() : depth);
        EXPECT_EQ(ImageRecord(1)->flags, display ? ImageDisplayFormat : 0);
        DIBSECTION section{};
        int described = GetObjectA(ImageHandle(1), sizeof section, &section);
        EXPECT_EQ(described, int(display ? sizeof(BITMAP) : sizeof section));
        if (!display) {
            EXPECT_EQ(section.dsBmih.biHeight, 21) << "bottom-up";
            EXPECT_EQ(section.dsBmih.biBitCount, depth);
        }
        EXPECT_TRUE(SamePixels(ImagePixels(1), Pixels(37 * 21, Black), 37));
    }
    intptr_t id = ImageCreate(AutoNumber, 5, 6);
    ASSERT_NE(id, 0);
    EXPECT_EQ(ImageExists(id), id);
    ImageFree(id);
    EXPECT_EQ(ImageExists(id), 0);
}

TEST_F(Images, CreateRefusesWhatTheRecordCannotHoldAndLeavesTheNumberFree) {
    const int32_t sizes[][2] = {{0, 5}, {-1, 5}, {32768, 1}, {70000, 3}};
    for (auto &size : sizes) {
        SCOPED_TRACE(size[0]);
        for (int32_t depth : {ImageDisplayFormat, 24}) {
            ASSERT_NE(ImageCreate(1, 2, 2), 0);
            EXPECT_EQ(ImageCreate(1, size[0], size[1], depth), 0);
            EXPECT_EQ(ImageExists(1), 0);
            EXPECT_EQ(ImageCreate(1, size[1], size[0], depth), 0);
        }
    }
    EXPECT_EQ(ImageCreate(1, 4, 4, 7), 0) << "no such bit count";
    EXPECT_EQ(ImageCreate(-5, 4, 4), 0);
    EXPECT_EQ(ImageCreate(AutoNumber, 0, 4), 0);
    EXPECT_TRUE(NoRecordLeft());

    ASSERT_NE(ImageCreate(1, 32767, 1), 0);
    EXPECT_EQ(ImageGetWidth(1), 32767);
    ASSERT_NE(ImageCreate(1, 1, 32767), 0);
    EXPECT_EQ(ImageGetHeight(1), 32767);

    // Queries of numbers that hold nothing, or never could, are zero.
    for (ObjectId id : {0, 15, 16, 1000, -5, -1}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(ImageExists(id) | ImageGetWidth(id) | ImageGetHeight(id), 0);
        EXPECT_EQ(ImageHandle(id), nullptr);
        EXPECT_EQ(ImageDrawTarget(id), nullptr);
        ImageFree(id);
    }
    EXPECT_NE(ImageExists(1), 0);
}

TEST_F(Images, GrabCopiesExactlyItsRectangle) {
    Pixels source = PatternImage(0, 40, 30);
    ASSERT_FALSE(source.empty());
    intptr_t handle = ImageGrab(0, 2, 5, 7, 16, 9);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(reinterpret_cast<HANDLE>(handle), ImageHandle(2));
    EXPECT_EQ(ImageGetWidth(2), 16);
    EXPECT_EQ(ImageGetHeight(2), 9);
    EXPECT_EQ(ImageRecord(2)->flags, ImageDisplayFormat);
    EXPECT_TRUE(SamePixels(ImagePixels(2), Crop(source, 40, 5, 7, 16, 9), 16));
    // Another rectangle of that size is copied over the same bitmap.
    ASSERT_EQ(ImageGrab(0, 2, 24, 21, 16, 9), handle);
    EXPECT_TRUE(SamePixels(ImagePixels(2), Crop(source, 40, 24, 21, 16, 9), 16));

    // Partly outside: the overlap is copied, the rest is whatever a new bitmap holds, not what
    // the number held before.
    Pixels before = Crop(ImagePixels(2), 16, 10, 5, 6, 4);
    ASSERT_NE(ImageGrab(0, 2, 30, 25, 16, 9), 0);
    EXPECT_EQ(Crop(ImagePixels(2), 16, 0, 0, 10, 5), Crop(source, 40, 30, 25, 10, 5));
    EXPECT_NE(Crop(ImagePixels(2), 16, 10, 5, 6, 4), before);
    ASSERT_NE(ImageGrab(0, 2, -4, -3, 8, 6), 0);
    EXPECT_EQ(Crop(ImagePixels(2), 8, 4, 3, 4, 3), Crop(source, 40, 0, 0, 4, 3));

    // From a section: a section of the same bit count.
    Pixels section = PatternImage(3, 10, 10, 24);
    intptr_t id = ImageGrab(3, AutoNumber, 2, 1, 5, 4);
    ASSERT_NE(id, 0);
    EXPECT_EQ(ImageRecord(id)->depth, 24);
    EXPECT_EQ(ImageRecord(id)->flags, 0);
    EXPECT_TRUE(SamePixels(ImagePixels(id), Crop(section, 10, 2, 1, 5, 4), 5));
}

TEST_F(Images, FailedGrabLeavesTheTargetUntouched) {
    PatternImage(0, 8, 8);
    ASSERT_NE(ImageCreate(2, 3, 3), 0);
    HANDLE target = ImageHandle(2);
    IconImage(4);
    int before = GdiObjectCount();
    // No source, a number beyond the table, an icon (not copied through a dc), refused sizes.
    const int32_t grabs[][3] = {{5, 2, 2},  {1000, 2, 2},  {4, 2, 2},    {0, 0, 2},
                                {0, 2, -1}, {0, 32768, 1}, {0, 1, 40000}};
    for (auto &grab : grabs)
        EXPECT_EQ(ImageGrab(grab[0], 2, 0, 0, grab[1], grab[2]), 0) << grab[0] << " " << grab[1];
    EXPECT_EQ(ImageHandle(2), target);
    EXPECT_EQ(ImageGetWidth(2), 3);
    EXPECT_TRUE(SamePixels(ImagePixels(2), Pixels(9, Black), 3));
    EXPECT_EQ(GdiObjectCount(), before);
}

TEST_F(Images, ReusingANumberFreesItsOldBitmap) {
    Pixels source = PatternImage(0, 20, 20);
    ASSERT_NE(ImageGrab(0, 0, 0, 0, 20, 20), 0); // the first round makes what a grab keeps
    int before = GdiObjectCount();
    for (int i = 0; i < 10; i++) {
        HANDLE old = ImageHandle(1);
        auto made = reinterpret_cast<HANDLE>(ImageCreate(1, 10 + i, 10, i % 2 ? 24 : 128));
        ASSERT_NE(made, nullptr);
        if (old && made != old) {
            EXPECT_EQ(GetObjectType(old), 0u);
        }
    }
    // Grabbing into the source's own number.
    for (int i = 0; i < 5; i++)
        ASSERT_NE(ImageGrab(0, 0, 1, 1, 20 - 2 * i, 20 - 2 * i), 0);
    ImageFree(1);
    EXPECT_EQ(GdiObjectCount(), before);
    EXPECT_EQ(ImageGetWidth(0), 12);
    EXPECT_TRUE(SamePixels(ImagePixels(0), Crop(source, 20, 5, 5, 12, 12), 12));
}

TEST_F(Images, DrawTargetsHoldOneMemoryDcAndANewOneEndsTheDrawing) {
    ASSERT_NE(ImageCreate(1, 4, 4), 0);
    ASSERT_NE(ImageCreate(2, 4, 4), 0);
    IconImage(4);
    int closed = GdiObjectCount();
    const DrawingOutput *output = ImageDrawTarget(1);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->kind, OutputKindImage);
    EXPECT_EQ(output->release, &ImageDrawTargetRelease);
    EXPECT_EQ(GetCurrentObject(output->dc, OBJ_BITMAP), ImageHandle(1));
    EXPECT_EQ(GdiObjectCount(), closed + 1);
    ASSERT_NE(DrawingBegin(output), nullptr);
    DrawBox(0, 0, 4, 4, Red);
    EXPECT_EQ(ImageDrawTarget(2), output) << "the one descriptor";
    EXPECT_EQ(Drawing.dc, nullptr) << "the drawing on image 1 ended with its output";
    EXPECT_EQ(GetCurrentObject(output->dc, OBJ_BITMAP), ImageHandle(2));
    EXPECT_EQ(GdiObjectCount(), closed + 1) << "the first dc was deleted";
    ASSERT_NE(DrawingBegin(output), nullptr);
    DrawBox(0, 0, 4, 4, Blue);
    DrawingEnd();
    EXPECT_EQ(DrawingBegin(output), nullptr) << "a used descriptor gives no dc";
    EXPECT_TRUE(SamePixels(ImagePixels(1), Pixels(16, Red), 4));
    EXPECT_TRUE(SamePixels(ImagePixels(2), Pixels(16, Blue), 4));

    // Re-creating the image being drawn on ends the drawing; an icon cannot be selected.
    ASSERT_NE(DrawingBegin(ImageDrawTarget(1)), nullptr);
    ASSERT_NE(ImageCreate(1, 4, 4), 0);
    EXPECT_EQ(Drawing.dc, nullptr);
    EXPECT_EQ(ImageDrawTarget(4), nullptr);
    EXPECT_EQ(GdiObjectCount(), closed);
}

TEST_F(Images, LibraryEndLeavesNoGdiObjectBehind) {
    int before = GdiObjectCount();
    PatternImage(0, 16, 16);
    ASSERT_NE(ImageCreate(20, 4, 4, 24), 0); // grows the table
    ASSERT_NE(ImageCreate(AutoNumber, 4, 4), 0);
    ASSERT_NE(ImageGrab(0, AutoNumber, 2, 2, 4, 4), 0);
    ASSERT_NE(ImageGrab(0, 2, 0, 0, 8, 8), 0);
    HICON icon = IconImage(4);
    ASSERT_NE(DrawingBegin(ImageDrawTarget(2)), nullptr);
    DrawBox(0, 0, 3, 3, Red);
    ImageLibraryEnd();
    EXPECT_EQ(GdiObjectCount(), before);
    EXPECT_EQ(Drawing.dc, nullptr);
    ICONINFO info{};
    EXPECT_FALSE(GetIconInfo(icon, &info)) << "the icon was destroyed";
    EXPECT_TRUE(NoRecordLeft());
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
