// The process entry: brings the runtime up in a fixed order, reads the command line, runs the
// batch when every DirectX subsystem started (a run without dialogs needs none of them), shuts the
// runtime down in a fixed order and ends the process with the exit code (0 for a run with
// dialogs).
#include "app/batch.h"
#include "app/command_line.h"
#include "app/console.h"
#include "app/convert.h"
#include "runtime/dialogs/dialogs.h"
#include "runtime/drawing/drawing.h"
#include "runtime/image/codecs/jpeg_codec.h"
#include "runtime/image/codecs/png_codec.h"
#include "runtime/image/image.h"
#include "runtime/image/image_codec.h"
#include "runtime/image/image_save.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "runtime/system/system.h"

#include <windows.h>

namespace {

constexpr int32_t PlainMessage = 0;
constexpr int32_t NothingDoneExit = 2;

// On the console the program was started from, else in a message box.
void Tell(const char *title, const char *text) {
    if (!ConsoleWrite(text)) DialogMessage(title, text, PlainMessage);
}

void ReportOnConsole(const char *text) {
    Tell("Conversion Completed", text);
}

// A one-line text as a line of its own on the console.
void TellLine(const char *title, const char *line) {
    int32_t start = TempString.end;
    StringConcat(line);
    StringConcat("\r\n");
    Tell(title, TempAddress(start));
    TempString.end = start;
}

// A long batch shows its progress in a window, or on the console of a run without dialogs.
constexpr BatchProgress WindowProgress = {DialogProgressBegin, DialogProgressStep,
                                          DialogProgressEnd};
constexpr BatchProgress ConsoleProgress = {ConsoleProgressBegin, ConsoleProgressStep,
                                           ConsoleProgressEnd};

void ShowProgress(bool noDialogs) {
    BatchProgressSet(noDialogs ? &ConsoleProgress : &WindowProgress);
    // The window goes on answering while the batch waits for the sheets being written.
    if (!noDialogs) ImageSaveWhileWaiting(DialogProgressWait);
}

} // namespace

// The process-wide values (heap and module handles, the four file counters, every module's state)
// are statics, which the loader hands over zeroed.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything can load a library: none may come from the program's or the current folder.
    LibrarySearchInit();
    ConvertRuntimeInit();
    DialogInit();

    CommandRequest request;
    CommandLineRead(GetCommandLineW(), &request);
    bool noDialogs = request.kind == CommandKind::NoDialogs;
    int32_t exitCode = 0;
    if (request.kind == CommandKind::Usage) {
        int32_t start = TempString.end;
        CommandUsageConcat();
        Tell("StripSheet", TempAddress(start));
        TempString.end = start;
    } else if (request.kind == CommandKind::Refused) {
        TellLine("Error", request.error);
        exitCode = NothingDoneExit;
    } else if (noDialogs || DirectXInit()) {
        // A run without dialogs needs no display, input or sound device: it converts on a build
        // machine that has none. Decoders are tried in this order when a file is loaded.
        PngDecoderRegister();
        PngEncoderRegister();
        JpegDecoderRegister();
        JpegEncoderRegister();
        ShowProgress(noDialogs);
        ConvertSetOptions(request.options);
        // Transparency the sheets keep must reach the strips' pixels as alpha.
        PngDecoderKeepTransparency(request.options.alpha);
        exitCode = BatchConvert(request.files, request.outputFolder,
                                noDialogs ? ReportOnConsole : nullptr);
    } else {
        DialogMessage("Error", "Can't initialize system", PlainMessage);
    }
    CommandLineFree(&request);

    // Each release step copes with a subsystem that never started or started only in part.
    QuadFreeAll();
    SoundFreeAll();
    MouseFree();
    KeyboardFree();
    ScreenFree();
    ImageLibraryEnd();
    HeapDestroy(MainHeap);
    ExitProcess(UINT(exitCode));
}
