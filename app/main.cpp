// The process entry: brings the runtime up in a fixed order, runs the batch when every DirectX
// subsystem started, shuts the runtime down in a fixed order and ends the process with code 0.
#include "app/batch.h"
#include "runtime/dialogs/dialogs.h"
#include "runtime/drawing/drawing.h"
#include "runtime/image/codecs/jpeg_codec.h"
#include "runtime/image/codecs/png_codec.h"
#include "runtime/image/image.h"
#include "runtime/image/image_codec.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "runtime/system/system.h"

#include <windows.h>

namespace {

constexpr int32_t PlainMessage = 0;

} // namespace

// The command line is not read. The process-wide values (heap and module handles, the four file
// counters, every module's state) are statics, which the loader hands over zeroed.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ModuleHandle = GetModuleHandleA(nullptr);
    MainHeapInit();
    TempStringInit();
    ObjectHeapInit();
    DrawingInit();
    ImageDecoderListReset();
    ImageLibraryInit();
    DialogInit();

    if (DirectXInit()) {
        // Decoders are tried in this order when a file is loaded.
        PngDecoderRegister();
        PngEncoderRegister();
        JpegDecoderRegister();
        JpegEncoderRegister();
        BatchConvert();
    } else {
        DialogMessage("Error", "Can't initialize system", PlainMessage);
    }

    // Each release step copes with a subsystem that never started or started only in part.
    QuadFreeAll();
    SoundFreeAll();
    MouseFree();
    KeyboardFree();
    ScreenFree();
    ImageLibraryEnd();
    HeapDestroy(MainHeap);
    ExitProcess(0);
}
