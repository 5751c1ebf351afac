// Times StripSheet's own conversion against the codec floor, in one process: the batch driver
// runs with scripted dialogs over a list of strips, exactly as the program does after start-up,
// and the floor (codec_floor.cpp) converts the same strips, once on one thread and once on a
// thread per core (whole strips, one a thread at a time), all taking turns group by group so that
// all meet the same machine. The linker redirects the conversion's calls of ConvertStrip,
// ConvertStripFinish, ImageLoad, ImageSave and ImageSaveStart through the timers below (see
// bench/CMakeLists.txt), and ConvertStripAhead for the serial way, so the code being timed is the
// shipped code, unchanged.
//
//   stripsheet_bench LIST OUTPUT [--rounds N] [--memory-every N] [--plain 1] [--serial 1]
//                    [--turns 1] [--floors 0] [--peak 1]
// LIST holds one strip a line as "GROUP PATH DIRECTION COUNT [OPTION...]"; consecutive lines of
// one group form one batch, converted with the sheet options of its first line (the floor writes
// what /alpha and /json ask for: an RGBA PNG sheet, a data file). Each round converts every group
// each way: ours into the folder OUTPUT\ours\ROUND\GROUP, the floor's into
// OUTPUT\floor\ROUND\GROUP, the floor on every core into OUTPUT\cores\ROUND\GROUP. Ours keeps the
// progress window's clock and message checks going as the program does (the window itself needs
// a display). Further ways take their turns too: with --plain 1 ours without the progress checks
// (OUTPUT\plain\...), next to ours, what the progress costs; with --serial 1 ours with every sheet
// saved on the batch's thread (OUTPUT\serial\...), what saving in the background gains; with
// --turns 1 a peer outside the process: at its place the bench prints a turn line and waits for a
// line on its standard input. With --floors 0 neither floor runs (an atlas has no floor). With
// --memory-every only ours runs, once. With --peak 1 the process's peak working set is printed at
// the end.
// Printed, one a line:
//   strip ROUND GROUP WIDTH HEIGHT LOAD_US CUT_US SAVE_US WHOLE_US OUTCOME
//   finish ROUND GROUP WAIT_US OUTCOME   (a sheet written in the background, when taken)
//   batch ROUND GROUP STRIPS WHOLE_US CONVERTED ERRORS CPU_US
//   floor ROUND GROUP DECODE_US LAYOUT_US ENCODE_US WHOLE_US OK
//   floor-cpu ROUND GROUP CPU_US   (after the group's floor lines)
//   cores ROUND GROUP THREADS STRIPS WHOLE_US OK CPU_US   (the floor on a thread per core)
//   plain ROUND GROUP STRIPS WHOLE_US ...   (ours without the progress, as batch, alone)
//   serial-strip, serial-batch   (ours saving on the batch's thread, as strip and batch)
//   turn ROUND GROUP   (the outside peer's turn: the bench goes on after a line on its input)
//   memory STRIPS COMMITTED_KB WORKING_SET_KB GDI_OBJECTS   (every N strips, and before the first)
//   peak START_KB END_KB   (the peak working set before the first batch and at the end)
//   end   (the last line: Wine's helper processes may keep the output open after the exit)
// CPU_US is the processor time of the whole process meanwhile, all its threads.
#include "app/batch.h"
#include "app/command_line.h"
#include "app/convert.h"
#include "bench/bench_clock.h"
#include "bench/codec_floor.h"
#include "runtime/dialogs/dialogs.h"
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
#include <process.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Time spent in the loader and the saver during the strip being converted.
int64_t loadTicks, saveTicks;
std::string currentGroup;
int currentRound;
int64_t stripsDone;
int64_t memoryEvery;
// Ours with every sheet saved on the batch's thread (the serial way): its lines are tagged apart.
bool savesOnBatchThread;
const char *stripTag = "strip";

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

// The lines of a batch, printed once it is over: printing costs the C runtime a round trip to
// Wine's server (a console check) a line, which would count in the batch's time.
std::string lines;

void Line(const char *format, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    lines += line;
}

void PrintLines() {
    fputs(lines.c_str(), stdout);
    fflush(stdout);
    lines.clear();
}

PROCESS_MEMORY_COUNTERS MemoryCounters() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

void SampleMemory() {
    // Committed memory: Wine reports it as PagefileUsage and leaves PrivateUsage 0.
    PROCESS_MEMORY_COUNTERS counters = MemoryCounters();
    Line("memory %lld %llu %llu %d\n", static_cast<long long>(stripsDone),
         static_cast<unsigned long long>(counters.PagefileUsage / 1024),
         static_cast<unsigned long long>(counters.WorkingSetSize / 1024), GdiObjects());
}

// A call, its time added to `ticks`.
template <typename Call> auto Timed(int64_t *ticks, Call call) {
    int64_t start = Ticks();
    auto result = call();
    *ticks += Ticks() - start;
    return result;
}

} // namespace

extern "C" {
// The originals, as the linker's --wrap names them (C++ names of the functions in the headers).
intptr_t __real__Z9ImageLoadxPKci(ObjectId id, const char *fileName, int32_t flags);
int32_t __real__Z14ImageSaveStartxPKciix(ObjectId id, const char *fileName, int32_t formatId,
                                         int32_t quality, intptr_t tag);
int32_t __real__Z9ImageSavexPKcii(ObjectId id, const char *fileName, int32_t formatId,
                                  int32_t quality);
ConvertOutcome __real__Z12ConvertStripPKcS0_S0_S0_iS0_b(const char *, const char *, const char *,
                                                        const char *, int32_t, const char *, bool);
ConvertOutcome __real__Z18ConvertStripFinishPPKc(const char **stripPath);
void __real__Z17ConvertStripAheadPKcS0_S0_S0_iS0_(const char *, const char *, const char *,
                                                  const char *, int32_t, const char *);

intptr_t __wrap__Z9ImageLoadxPKci(ObjectId id, const char *fileName, int32_t flags) {
    return Timed(&loadTicks, [&] { return __real__Z9ImageLoadxPKci(id, fileName, flags); });
}

int32_t __wrap__Z14ImageSaveStartxPKciix(ObjectId id, const char *fileName, int32_t formatId,
                                         int32_t quality, intptr_t tag) {
    return Timed(&saveTicks, [&] {
        return __real__Z14ImageSaveStartxPKciix(id, fileName, formatId, quality, tag);
    });
}

int32_t __wrap__Z9ImageSavexPKcii(ObjectId id, const char *fileName, int32_t formatId,
                                  int32_t quality) {
    return Timed(&saveTicks,
                 [&] { return __real__Z9ImageSavexPKcii(id, fileName, formatId, quality); });
}

ConvertOutcome __wrap__Z12ConvertStripPKcS0_S0_S0_iS0_b(const char *path, const char *prefix,
                                                        const char *extension,
                                                        const char *direction, int32_t count,
                                                        const char *output, bool background) {
    loadTicks = saveTicks = 0;
    int64_t start = Ticks();
    ConvertOutcome outcome = __real__Z12ConvertStripPKcS0_S0_S0_iS0_b(
        path, prefix, extension, direction, count, output, background && !savesOnBatchThread);
    int64_t whole = Ticks() - start;
    Line("%s %d %s %d %d %lld %lld %lld %lld %d\n", stripTag, currentRound, currentGroup.c_str(),
         ImageGetWidth(0), ImageGetHeight(0), static_cast<long long>(Microseconds(loadTicks)),
         static_cast<long long>(Microseconds(whole - loadTicks - saveTicks)),
         static_cast<long long>(Microseconds(saveTicks)),
         static_cast<long long>(Microseconds(whole)), static_cast<int>(outcome));
    // The script's record of calls would grow with the batch and blur the memory samples.
    Dialogs.calls.clear();
    stripsDone += 1;
    if (memoryEvery > 0 && stripsDone % memoryEvery == 0) SampleMemory();
    return outcome;
}

// With every sheet saved on the batch's thread, no sheet is made where the strip is read ahead:
// only the strip is named.
void __wrap__Z17ConvertStripAheadPKcS0_S0_S0_iS0_(const char *path, const char *prefix,
                                                  const char *extension, const char *direction,
                                                  int32_t count, const char *output) {
    if (savesOnBatchThread) prefix = nullptr;
    __real__Z17ConvertStripAheadPKcS0_S0_S0_iS0_(path, prefix, extension, direction, count, output);
}

// A sheet written in the background: how long the batch waited for it.
ConvertOutcome __wrap__Z18ConvertStripFinishPPKc(const char **stripPath) {
    int64_t start = Ticks();
    ConvertOutcome outcome = __real__Z18ConvertStripFinishPPKc(stripPath);
    Line("finish %d %s %lld %d\n", currentRound, currentGroup.c_str(),
         static_cast<long long>(Microseconds(Ticks() - start)), static_cast<int>(outcome));
    return outcome;
}
}

namespace {

struct Strip {
    std::string path;
    char direction;
    int count;
    std::string options; // as on the program's command line
    FloorSheet floor;    // what the options ask of the floor's sheet
};

// The options as the program reads them from its command line.
SheetOptions ReadOptions(const std::string &options) {
    CommandRequest request;
    std::string line = "bench " + options; // the options are plain ASCII
    CommandLineRead(std::wstring(line.begin(), line.end()).c_str(), &request);
    if (request.kind == CommandKind::Refused) {
        fprintf(stderr, "%s\n", request.error);
        exit(2);
    }
    SheetOptions read = request.options;
    CommandLineFree(&request);
    return read;
}

void UseOptions(const std::string &options) {
    SheetOptions read = ReadOptions(options);
    ConvertSetOptions(read);
    PngDecoderKeepTransparency(read.alpha);
}

std::string Folder(const std::string &output, const char *way, int round,
                   const std::string &group) {
    std::string folder = output + "\\" + way;
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\" + std::to_string(round);
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\" + group;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

const BatchProgress WindowProgress = {DialogProgressBegin, DialogProgressStep, DialogProgressEnd};

// Ours as shipped; without the progress checks (plain: only its batch line is kept); or with
// every sheet saved on the batch's thread (serial).
enum class Way { Shipped, Plain, Serial };

void RunOurs(int round, const std::string &group, const std::vector<Strip> &strips,
             const std::string &output, Way way = Way::Shipped) {
    bool progress = way != Way::Plain;
    BatchProgressSet(progress ? &WindowProgress : nullptr);
    ImageSaveWhileWaiting(progress ? DialogProgressWait : nullptr);
    savesOnBatchThread = way == Way::Serial;
    stripTag = way == Way::Serial ? "serial-strip" : "strip";
    Dialogs = DialogScript{};
    for (const Strip &strip : strips)
        Dialogs.files.push_back(strip.path);
    const char *folder = way == Way::Shipped ? "ours" : way == Way::Plain ? "plain" : "serial";
    Dialogs.folder = Folder(output, folder, round, group) + "\\";
    FilesSelected = FilesSkipped = FilesConverted = FilesErrors = 0;
    currentGroup = group;
    currentRound = round;
    UseOptions(strips.front().options);
    int64_t cpu = ProcessCpuMicroseconds();
    int64_t start = Ticks();
    BatchConvert();
    int64_t whole = Ticks() - start;
    cpu = ProcessCpuMicroseconds() - cpu;
    if (!progress) lines.clear();
    const char *tag = way == Way::Shipped ? "batch" : way == Way::Plain ? "plain" : "serial-batch";
    Line("%s %d %s %zu %lld %d %d %lld\n", tag, round, group.c_str(), strips.size(),
         static_cast<long long>(Microseconds(whole)), FilesConverted, FilesErrors,
         static_cast<long long>(cpu));
    PrintLines();
}

void RunFloor(int round, const std::string &group, const std::vector<Strip> &strips,
              const std::string &output) {
    std::string folder = Folder(output, "floor", round, group);
    int64_t cpu = ProcessCpuMicroseconds();
    for (const Strip &strip : strips) {
        FloorTimes t =
            FloorConvert(strip.path.c_str(), strip.direction, strip.count, folder, strip.floor);
        Line("floor %d %s %lld %lld %lld %lld %d\n", round, group.c_str(),
             static_cast<long long>(t.decodeUs), static_cast<long long>(t.layoutUs),
             static_cast<long long>(t.encodeUs), static_cast<long long>(t.wholeUs), t.ok ? 1 : 0);
    }
    Line("floor-cpu %d %s %lld\n", round, group.c_str(),
         static_cast<long long>(ProcessCpuMicroseconds() - cpu));
    PrintLines();
}

// The floor on a thread per core: workers made once (as ours keeps its saving threads), each
// taking the next whole strip of the batch until none is left.
struct CoreBatch {
    const std::vector<Strip> *strips;
    std::string folder;
    size_t next;    // the next strip to take
    int busy;       // workers not yet done with this batch
    int64_t number; // which batch; a worker takes each one once
    bool ok;
};

CoreBatch Cores;
int CoreThreads;
SRWLOCK CoreLock = SRWLOCK_INIT;
CONDITION_VARIABLE CoreChanged = CONDITION_VARIABLE_INIT;

unsigned __stdcall CoreWorker(void *) {
    int64_t seen = 0;
    AcquireSRWLockExclusive(&CoreLock);
    for (;;) {
        while (Cores.number == seen)
            SleepConditionVariableSRW(&CoreChanged, &CoreLock, INFINITE, 0);
        seen = Cores.number;
        while (Cores.next < Cores.strips->size()) {
            const Strip &strip = (*Cores.strips)[Cores.next++];
            ReleaseSRWLockExclusive(&CoreLock);
            bool ok = FloorConvert(strip.path.c_str(), strip.direction, strip.count, Cores.folder,
                                   strip.floor)
                          .ok;
            AcquireSRWLockExclusive(&CoreLock);
            Cores.ok = Cores.ok && ok;
        }
        if (--Cores.busy == 0) WakeAllConditionVariable(&CoreChanged);
    }
}

bool StartCoreWorkers() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    CoreThreads = system.dwNumberOfProcessors > 0 ? int(system.dwNumberOfProcessors) : 1;
    for (int i = 0; i < CoreThreads; i++)
        if (!_beginthreadex(nullptr, 0, CoreWorker, nullptr, 0, nullptr)) return false;
    return true;
}

void RunFloorOnCores(int round, const std::string &group, const std::vector<Strip> &strips,
                     const std::string &output) {
    std::string folder = Folder(output, "cores", round, group);
    int64_t cpu = ProcessCpuMicroseconds();
    int64_t start = Ticks();
    AcquireSRWLockExclusive(&CoreLock);
    Cores.strips = &strips;
    Cores.folder = folder;
    Cores.next = 0;
    Cores.busy = CoreThreads;
    Cores.ok = true;
    Cores.number += 1;
    WakeAllConditionVariable(&CoreChanged);
    while (Cores.busy > 0)
        SleepConditionVariableSRW(&CoreChanged, &CoreLock, INFINITE, 0);
    bool ok = Cores.ok;
    ReleaseSRWLockExclusive(&CoreLock);
    int64_t whole = Ticks() - start;
    cpu = ProcessCpuMicroseconds() - cpu;
    Line("cores %d %s %d %zu %lld %d %lld\n", round, group.c_str(), CoreThreads, strips.size(),
         static_cast<long long>(Microseconds(whole)), ok ? 1 : 0, static_cast<long long>(cpu));
    PrintLines();
}

// Which of `peers` ways takes place `i` of a group's turns, the group being the `row`th of the run:
// over `peers` groups each way follows every other once (a Williams square; with an odd number of
// ways every other square runs backwards). Turning one order round instead, ours ran right after
// the PIL peer's turn in three groups of four, which costs the way there time: with the floor on
// both cores in that place instead, ours / 2 cores averaged 0.89 over the medium rows against 0.97
// (two runs of 15 rounds each).
int WayAt(int64_t row, int i, int peers) {
    if (peers % 2 && (row / peers) % 2) i = peers - 1 - i;
    int64_t at = i == 0 ? 0 : i % 2 ? (i + 1) / 2 : peers - i / 2;
    return int((at + row) % peers);
}

// The outside peer's turn: it reads the group's strips from the list itself.
void RunOutside(int round, const std::string &group) {
    printf("turn %d %s\n", round, group.c_str());
    fflush(stdout);
    char answer[64];
    if (!fgets(answer, sizeof answer, stdin)) {
        fprintf(stderr, "the outside peer went away\n");
        exit(2);
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: stripsheet_bench LIST OUTPUT [--rounds N] [--memory-every N] "
                        "[--plain 1] [--turns 1] [--serial 1]\n");
        return 2;
    }
    int rounds = 1;
    bool plain = false, turns = false, serial = false, floors = true, peak = false;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--memory-every") == 0) memoryEvery = atoll(argv[i + 1]);
        if (strcmp(argv[i], "--rounds") == 0) rounds = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--plain") == 0) plain = atoi(argv[i + 1]) != 0;
        if (strcmp(argv[i], "--turns") == 0) turns = atoi(argv[i + 1]) != 0;
        if (strcmp(argv[i], "--serial") == 0) serial = atoi(argv[i + 1]) != 0;
        if (strcmp(argv[i], "--floors") == 0) floors = atoi(argv[i + 1]) != 0;
        if (strcmp(argv[i], "--peak") == 0) peak = atoi(argv[i + 1]) != 0;
    }
    size_t peakAtStart = MemoryCounters().PeakWorkingSetSize;

    // The program's own start-up, less DirectX and the real dialogs, which conversion never uses.
    ConvertRuntimeInit();
    PngDecoderRegister();
    PngEncoderRegister();
    JpegDecoderRegister();
    JpegEncoderRegister();

    FILE *list = fopen(argv[1], "r");
    if (!list) {
        fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    // Groups in the order of the list, each with its strips.
    std::vector<std::pair<std::string, std::vector<Strip>>> groups;
    char line[8192], group[256], path[4096], direction[8];
    int count = 0, used = 0;
    while (fgets(line, sizeof line, list)) {
        if (sscanf(line, "%255s %4095s %7s %d %n", group, path, direction, &count, &used) != 4)
            continue;
        std::string options = line + used;
        while (!options.empty() && (options.back() == '\n' || options.back() == '\r'))
            options.pop_back();
        if (groups.empty() || groups.back().first != group) groups.push_back({group, {}});
        SheetOptions read = ReadOptions(options);
        groups.back().second.push_back(
            {path, direction[0], count, options, {read.alpha, read.json}});
    }
    fclose(list);

    std::string output = argv[2];
    CreateDirectoryA(output.c_str(), nullptr);
    if (memoryEvery > 0) {
        SampleMemory();
        for (const auto &g : groups)
            RunOurs(0, g.first, g.second, output);
    } else {
        Microseconds(0); // its frequency read before the workers' first batch
        if (floors && !StartCoreWorkers()) {
            fprintf(stderr, "cannot start the floor's threads\n");
            return 2;
        }
        enum Peer { Ours, Floor, FloorOnCores, Serial, Outside };
        std::vector<Peer> order = {Ours};
        if (floors) order.insert(order.end(), {Floor, FloorOnCores});
        if (serial) order.push_back(Serial);
        if (turns) order.push_back(Outside);
        const int peers = int(order.size());
        for (int round = 0; round < rounds; round++) {
            for (size_t k = 0; k < groups.size(); k++) {
                // The order of the ways changes from group to group and round to round (see
                // WayAt); ours without the progress goes next to ours, before it one time and after
                // it the next.
                const auto &g = groups[k];
                const int64_t row = round + int64_t(k);
                for (int i = 0; i < peers; i++) {
                    switch (order[size_t(WayAt(row, i, peers))]) {
                    case Ours:
                        if (plain && row % 2) RunOurs(round, g.first, g.second, output, Way::Plain);
                        RunOurs(round, g.first, g.second, output);
                        if (plain && row % 2 == 0)
                            RunOurs(round, g.first, g.second, output, Way::Plain);
                        break;
                    case Serial:
                        RunOurs(round, g.first, g.second, output, Way::Serial);
                        break;
                    case Floor:
                        RunFloor(round, g.first, g.second, output);
                        break;
                    case FloorOnCores:
                        RunFloorOnCores(round, g.first, g.second, output);
                        break;
                    case Outside:
                        RunOutside(round, g.first);
                        break;
                    }
                }
            }
        }
    }
    ImageLibraryEnd();
    if (peak)
        printf("peak %llu %llu\n", static_cast<unsigned long long>(peakAtStart / 1024),
               static_cast<unsigned long long>(MemoryCounters().PeakWorkingSetSize / 1024));
    printf("end\n");
    fflush(stdout);
    return 0;
}
