// Times StripSheet's own conversion: the batch driver runs with scripted dialogs over a list of
// strips, in one process, exactly as the program does after start-up. The linker redirects the
// conversion's calls of ConvertStrip, ImageLoad and ImageSaveStart through the timers below (see
// bench/CMakeLists.txt), so the code being timed is the shipped code, unchanged.
//
//   stripsheet_bench LIST OUTPUT [--memory-every N]
// LIST holds one strip a line as "GROUP PATH"; consecutive lines of one group form one batch,
// whose sheets go to OUTPUT\GROUP\. Printed, one a line:
//   strip GROUP WIDTH HEIGHT LOAD_US CUT_US SAVE_US WHOLE_US OUTCOME
//   finish GROUP WAIT_US OUTCOME   (a sheet written in the background, when the batch takes it)
//   batch GROUP STRIPS WHOLE_US CONVERTED ERRORS
//   memory STRIPS COMMITTED_KB WORKING_SET_KB GDI_OBJECTS   (every N strips, and before the first)
#include "app/batch.h"
#include "app/convert.h"
#include "bench/bench_clock.h"
#include "runtime/drawing/drawing.h"
#include "runtime/image/codecs/jpeg_codec.h"
#include "runtime/image/codecs/png_codec.h"
#include "runtime/image/image.h"
#include "runtime/image/image_load.h"
#include "runtime/image/image_save.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "tests/app/scripted_dialogs.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Time spent in the loader and the saver during the strip being converted.
int64_t loadTicks, saveTicks;
std::string currentGroup;
int64_t stripsDone;
int64_t memoryEvery;

// Wine's GetGuiResources is a stub that returns 0: there the live entries of the process's GDI
// handle table are counted (Wine finds a handle by its low 16 bits when the high bits are zero).
int GdiObjects() {
    SetLastError(0);
    DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (count != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return int(count);
    int live = 0;
    for (uintptr_t index = 1; index < 0x10000; index++)
        live += GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0;
    return live;
}

void SampleMemory() {
    // Committed memory: Wine reports it as PagefileUsage and leaves PrivateUsage 0.
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    printf("memory %lld %llu %llu %d\n", static_cast<long long>(stripsDone),
           static_cast<unsigned long long>(counters.PagefileUsage / 1024),
           static_cast<unsigned long long>(counters.WorkingSetSize / 1024), GdiObjects());
    fflush(stdout);
}

} // namespace

extern "C" {
// The originals, as the linker's --wrap names them (C++ names of the functions in the headers).
intptr_t __real__Z9ImageLoadxPKci(ObjectId id, const char *fileName, int32_t flags);
int32_t __real__Z14ImageSaveStartxPKcii(ObjectId id, const char *fileName, int32_t formatId,
                                        int32_t quality);
ConvertOutcome __real__Z12ConvertStripPKcS0_S0_S0_iS0_b(const char *, const char *, const char *,
                                                        const char *, int32_t, const char *, bool);
ConvertOutcome __real__Z18ConvertStripFinishv();

intptr_t __wrap__Z9ImageLoadxPKci(ObjectId id, const char *fileName, int32_t flags) {
    int64_t start = Ticks();
    intptr_t result = __real__Z9ImageLoadxPKci(id, fileName, flags);
    loadTicks += Ticks() - start;
    return result;
}

int32_t __wrap__Z14ImageSaveStartxPKcii(ObjectId id, const char *fileName, int32_t formatId,
                                        int32_t quality) {
    int64_t start = Ticks();
    int32_t result = __real__Z14ImageSaveStartxPKcii(id, fileName, formatId, quality);
    saveTicks += Ticks() - start;
    return result;
}

ConvertOutcome __wrap__Z12ConvertStripPKcS0_S0_S0_iS0_b(const char *path, const char *prefix,
                                                        const char *extension,
                                                        const char *direction, int32_t count,
                                                        const char *output, bool background) {
    loadTicks = saveTicks = 0;
    int64_t start = Ticks();
    ConvertOutcome outcome = __real__Z12ConvertStripPKcS0_S0_S0_iS0_b(
        path, prefix, extension, direction, count, output, background);
    int64_t whole = Ticks() - start;
    printf("strip %s %d %d %lld %lld %lld %lld %d\n", currentGroup.c_str(), ImageGetWidth(0),
           ImageGetHeight(0), static_cast<long long>(Microseconds(loadTicks)),
           static_cast<long long>(Microseconds(whole - loadTicks - saveTicks)),
           static_cast<long long>(Microseconds(saveTicks)),
           static_cast<long long>(Microseconds(whole)), static_cast<int>(outcome));
    // The script's record of calls would grow with the batch and blur the memory samples.
    Dialogs.calls.clear();
    stripsDone += 1;
    if (memoryEvery > 0 && stripsDone % memoryEvery == 0) SampleMemory();
    return outcome;
}

// A sheet written in the background: how long the batch waited for it.
ConvertOutcome __wrap__Z18ConvertStripFinishv() {
    int64_t start = Ticks();
    ConvertOutcome outcome = __real__Z18ConvertStripFinishv();
    printf("finish %s %lld %d\n", currentGroup.c_str(),
           static_cast<long long>(Microseconds(Ticks() - start)), static_cast<int>(outcome));
    return outcome;
}
}

namespace {

void RunBatch(const std::string &group, const std::vector<std::string> &files,
              const std::string &output) {
    std::string folder = output + "\\" + group;
    CreateDirectoryA(folder.c_str(), nullptr);
    Dialogs = DialogScript{};
    Dialogs.files = files;
    Dialogs.folder = folder + "\\";
    FilesSelected = FilesSkipped = FilesConverted = FilesErrors = 0;
    currentGroup = group;
    int64_t start = Ticks();
    BatchConvert();
    int64_t whole = Ticks() - start;
    printf("batch %s %zu %lld %d %d\n", group.c_str(), files.size(),
           static_cast<long long>(Microseconds(whole)), FilesConverted, FilesErrors);
    fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: stripsheet_bench LIST OUTPUT [--memory-every N]\n");
        return 2;
    }
    if (argc >= 5 && strcmp(argv[3], "--memory-every") == 0) memoryEvery = atoll(argv[4]);

    // The program's own start-up, less DirectX and the real dialogs, which conversion never uses.
    ModuleHandle = GetModuleHandleA(nullptr);
    MainHeapInit();
    TempStringInit();
    ObjectHeapInit();
    DrawingInit();
    ImageDecoderListReset();
    ImageLibraryInit();
    PngDecoderRegister();
    PngEncoderRegister();
    JpegDecoderRegister();
    JpegEncoderRegister();

    FILE *list = fopen(argv[1], "r");
    if (!list) {
        fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    CreateDirectoryA(argv[2], nullptr);
    if (memoryEvery > 0) SampleMemory();
    std::string group;
    std::vector<std::string> files;
    char line[4096];
    while (fgets(line, sizeof line, list)) {
        line[strcspn(line, "\r\n")] = 0;
        char *space = strchr(line, ' ');
        if (!space) continue;
        *space = 0;
        if (group != line && !files.empty()) {
            RunBatch(group, files, argv[2]);
            files.clear();
        }
        group = line;
        files.push_back(space + 1);
    }
    fclose(list);
    if (!files.empty()) RunBatch(group, files, argv[2]);
    ImageLibraryEnd();
    return 0;
}
