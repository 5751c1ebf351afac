// The DirectX start-up and shut-down as the entry runs them. The subsystems keep process-wide
// state, so every scenario needs a fresh process: CTest runs this program once per scenario, with
// STRIPSHEET_SCENARIO naming it and, where a library or device should be missing, a Wine DLL
// override or an ALSA configuration (a Wine process cannot hand those on to a child of its own:
// the child gets the values Wine itself was started with).
#define DIRECTINPUT_VERSION 0x0700

#include "runtime/memory/memory.h"
#include "runtime/memory/registry.h"
#include "runtime/system/system.h"
#include "tests/system/import_patch.h"

#include <gtest/gtest.h>

// The expected identifiers come from the platform headers, defined here.
#include <initguid.h>
#include <mmsystem.h>
#include <ddraw.h>
#include <dinput.h>
#include <dsound.h>

#include <string>

namespace {

std::string Scenario() {
    char value[64] = "";
    GetEnvironmentVariableA("STRIPSHEET_SCENARIO", value, sizeof value);
    return value;
}

// Loads and unloads of the DirectX libraries, counted at this program's imports, which the
// runtime code calls through. (Whether the platform really unmaps a library is its own affair:
// Wine keeps DDRAW.DLL and DSOUND.DLL mapped after their last FreeLibrary.)
struct LibraryUse {
    const char *name;
    HMODULE module;
    int held; // loads less frees
} Libraries[] = {{"DINPUT.DLL", nullptr, 0}, {"DDRAW.DLL", nullptr, 0}, {"DSOUND.DLL", nullptr, 0}};
ImportPatch *LoadPatch;
ImportPatch *FreePatch;

// The libraries come from the system folder, by their full paths.
HMODULE WINAPI CountingLoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags) {
    HMODULE module =
        reinterpret_cast<decltype(&LoadLibraryExA)>(LoadPatch->Original())(path, file, flags);
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    bool fromSystem = length && _strnicmp(path, folder, length) == 0 && path[length] == '\\';
    for (LibraryUse &use : Libraries) {
        if (module && fromSystem && _stricmp(path + length + 1, use.name) == 0) {
            use.module = module;
            use.held++;
        }
    }
    return module;
}

BOOL WINAPI CountingFreeLibrary(HMODULE module) {
    for (LibraryUse &use : Libraries) {
        if (module && module == use.module) use.held--;
    }
    return reinterpret_cast<decltype(&FreeLibrary)>(FreePatch->Original())(module);
}

// How many loads of the library the runtime still holds.
int Held(const char *name) {
    for (const LibraryUse &use : Libraries) {
        if (_stricmp(name, use.name) == 0) return use.held;
    }
    return -1;
}

// ---- What a scenario uses.

void ShutDown() {
    QuadFreeAll();
    SoundFreeAll();
    MouseFree();
    KeyboardFree();
    ScreenFree();
}

int LiveObjects(ObjectRegistry *registry) {
    int count = 0;
    ObjectId id;
    RegistryRewind(registry);
    while (RegistryNext(registry, &id))
        count++;
    return count;
}

// Whether a block is still allocated in the heap.
bool HeapHolds(HANDLE heap, void *block) {
    bool found = false;
    PROCESS_HEAP_ENTRY entry = {};
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        found = found || ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.lpData == block);
    HeapUnlock(heap);
    return found;
}

// A COM object that only counts its references; QueryInterface hands out itself when allowed.
struct FakeCom {
    const void *const *vtable;
    int references;
    bool givesInterfaces;
};

HRESULT STDMETHODCALLTYPE FakeQueryInterface(FakeCom *self, REFIID, void **out) {
    *out = self->givesInterfaces ? self : nullptr;
    if (!self->givesInterfaces) return E_NOINTERFACE;
    self->references++;
    return S_OK;
}
ULONG STDMETHODCALLTYPE FakeAddRef(FakeCom *self) {
    return ++self->references;
}
ULONG STDMETHODCALLTYPE FakeRelease(FakeCom *self) {
    return --self->references;
}

const void *const FakeVtable[] = {reinterpret_cast<void *>(FakeQueryInterface),
                                  reinterpret_cast<void *>(FakeAddRef),
                                  reinterpret_cast<void *>(FakeRelease)};

FakeCom MakeFake(bool givesInterfaces = false) {
    return FakeCom{FakeVtable, 1, givesInterfaces};
}

template <typename Interface> Interface *As(FakeCom &fake) {
    return reinterpret_cast<Interface *>(&fake);
}

void *ClosedStream;
int StreamCloses;
void CloseStream(void *stream) {
    StreamCloses++;
    ClosedStream = stream;
}
const SoundDecoder CountingDecoder = {CloseStream};

// The type of the device's object at a data offset, by the data format we gave the device.
GUID ObjectType(IDirectInputDevice7A *device, DWORD offset) {
    DIDEVICEOBJECTINSTANCEA object = {};
    object.dwSize = sizeof object;
    EXPECT_EQ(device->GetObjectInfo(&object, offset, DIPH_BYOFFSET), DI_OK) << "offset " << offset;
    return object.guidType;
}

// Start-ups that stop part way, with the DirectInput and DirectDraw use counts and the loads of
// DINPUT.DLL, DDRAW.DLL and DSOUND.DLL still held after the start-up and after the shut-down.
// ScreenInit starts the keyboard (one DirectInput use) before it asks for DirectDraw; the entry's
// own KeyboardInit and MouseInit add one use each. Only the keyboard's first start is ever given
// back, so DirectInput outlives a shut-down that follows three uses.
struct Uses {
    int input, display, dinput, ddraw, dsound;
};
const struct PartWay {
    const char *scenario;
    int steps; // start-up steps that succeed; -1: the start-up is not run
    Uses started, shutDown;
} PartWayScenarios[] = {
    {"NothingStarted", -1, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},
    // Someone else holds the window class: the screen fails before it starts anything.
    {"WindowClassTaken", 0, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},
    {"InputLibraryMissing", 0, {1, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},
    {"DisplayLibraryMissing", 0, {1, 1, 1, 0, 0}, {0, 0, 0, 0, 0}},
    {"SoundLibraryMissing", 3, {3, 1, 1, 1, 0}, {1, 0, 1, 0, 0}},
    {"SoundDeviceMissing", 3, {3, 1, 1, 1, 1}, {1, 0, 1, 0, 0}},
};

void ExpectUses(const Uses &uses) {
    EXPECT_EQ(InputSystem.useCount, uses.input) << "DirectInput uses";
    EXPECT_EQ(DisplaySystem.useCount, uses.display) << "DirectDraw uses";
    EXPECT_EQ(Held("DINPUT.DLL"), uses.dinput);
    EXPECT_EQ(Held("DDRAW.DLL"), uses.ddraw);
    EXPECT_EQ(Held("DSOUND.DLL"), uses.dsound);
}

// Each test runs only in the scenarios CTest chose it for (STRIPSHEET_SCENARIO): its own name, or
// for StopsPartWay one of the table's.
class StartUp : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (const PartWay &p : PartWayScenarios)
            if (Scenario() == p.scenario) scenario = &p;
        if (test == "StopsPartWay" ? !scenario : Scenario() != test)
            GTEST_SKIP() << "another scenario: it runs as a CTest test of its own";
        ModuleHandle = GetModuleHandleA(nullptr);
        MainHeapInit();
        ObjectHeapInit();
        LoadPatch = new ImportPatch("kernel32.dll", "LoadLibraryExA",
                                    reinterpret_cast<void *>(CountingLoadLibraryExA));
        FreePatch = new ImportPatch("kernel32.dll", "FreeLibrary",
                                    reinterpret_cast<void *>(CountingFreeLibrary));
        ASSERT_TRUE(LoadPatch->Active() && FreePatch->Active());
    }
    const PartWay *scenario = nullptr;
};

// ---- The scenarios.

TEST_F(StartUp, FullRun) {
    ASSERT_EQ(DirectXInit(), 1);
    // Two keyboard starts and one mouse start share one DirectInput; the screen alone DirectDraw.
    ExpectUses({3, 1, 1, 1, 1});
    // DirectInput is held by itself and by each device: the second start made no second keyboard.
    EXPECT_EQ(InputSystem.object->AddRef(), 4u);
    EXPECT_EQ(InputSystem.object->Release(), 3u);
    IDirectInputDevice7A *keyboard = Keyboard.device;
    ASSERT_NE(keyboard, nullptr);
    EXPECT_FALSE(IsWindowVisible(RuntimeWindow));

    // The platform reads devices through our data formats: 256 key bytes, a 16-byte mouse state,
    // with the objects at the offsets the formats give them.
    IDirectInputDevice7A *mouse = Mouse.device;
    for (IDirectInputDevice7A *device : {keyboard, mouse}) {
        ASSERT_EQ(device->SetCooperativeLevel(RuntimeWindow, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND),
                  DI_OK);
        ASSERT_EQ(device->Acquire(), DI_OK);
    }
    BYTE keys[256];
    EXPECT_EQ(keyboard->GetDeviceState(sizeof keys, keys), DI_OK);
    EXPECT_NE(keyboard->GetDeviceState(sizeof keys - 1, keys), DI_OK);
    EXPECT_TRUE(IsEqualGUID(ObjectType(keyboard, DIK_A), GUID_Key));
    DIMOUSESTATE state;
    EXPECT_EQ(mouse->GetDeviceState(sizeof state, &state), DI_OK);
    EXPECT_NE(mouse->GetDeviceState(sizeof(DIMOUSESTATE2), &state), DI_OK);
    EXPECT_TRUE(IsEqualGUID(ObjectType(mouse, 0), GUID_XAxis));
    EXPECT_TRUE(IsEqualGUID(ObjectType(mouse, 4), GUID_YAxis));
    EXPECT_TRUE(IsEqualGUID(ObjectType(mouse, 12), GUID_Button));
    EXPECT_TRUE(IsEqualGUID(ObjectType(mouse, 13), GUID_Button));

    // Objects of every kind, numbered and dynamic, for the shut-down to free: a screen object of
    // heap blocks, one of a COM object and a heap block, a dynamic one; a sound with two duplicate
    // buffers and an open stream, a dynamic sound; three quads.
    void *blocks[] = {MemoryAlloc(64), MemoryAlloc(32), MemoryAlloc(16)};
    FakeCom surface = MakeFake(), clipper = MakeFake();
    auto *screen = static_cast<ScreenObject *>(RegistryAllocate(Screen.registry, 3));
    *screen = {blocks[0], blocks[1], 0, 0, ScreenObjectHeapKind, 0, 0};
    *static_cast<ScreenObject *>(RegistryAllocate(Screen.registry, 70)) = {
        &surface, blocks[2], 0, 0, 0, 0, 0};
    static_cast<ScreenObject *>(RegistryAllocate(Screen.registry, AutoNumber))->handle = &clipper;

    FakeCom buffers[4] = {MakeFake(), MakeFake(), MakeFake(), MakeFake()};
    int stream = 0;
    auto *sound = static_cast<SoundObject *>(RegistryAllocate(Sound.registry, 0));
    *sound = {
        As<IDirectSoundBuffer>(buffers[0]), nullptr, &stream, &CountingDecoder, 0, 0, 0, 0, 0};
    for (int i : {1, 2}) {
        void *node = ListAdd(&sound->duplicates, ListLinkSize + sizeof(SoundDuplicate));
        ASSERT_NE(node, nullptr);
        static_cast<SoundDuplicate *>(node)->buffer = As<IDirectSoundBuffer>(buffers[i]);
    }
    static_cast<SoundObject *>(RegistryAllocate(Sound.registry, AutoNumber))->buffer =
        As<IDirectSoundBuffer>(buffers[3]);
    int texture = 0;
    for (ObjectId number : {ObjectId(1), ObjectId(99), AutoNumber})
        static_cast<QuadObject *>(RegistryAllocate(Quads.registry, number))->texture = &texture;
    ASSERT_EQ(LiveObjects(Screen.registry), 3);
    ASSERT_EQ(LiveObjects(Sound.registry), 2);
    ASSERT_EQ(LiveObjects(Quads.registry), 3);

    QuadFreeAll();
    EXPECT_EQ(LiveObjects(Quads.registry), 0);
    // Only the display system's own reference to DirectDraw is left.
    EXPECT_EQ(DisplaySystem.object->AddRef(), 2u);
    EXPECT_EQ(DisplaySystem.object->Release(), 1u);

    SoundFreeAll();
    EXPECT_EQ(LiveObjects(Sound.registry), 0);
    for (const FakeCom &buffer : buffers)
        EXPECT_EQ(buffer.references, 0);
    EXPECT_EQ(StreamCloses, 1);
    EXPECT_EQ(ClosedStream, &stream);
    EXPECT_EQ(Sound.object, nullptr) << "DirectSound goes before its library";
    EXPECT_EQ(Held("DSOUND.DLL"), 0);

    MouseFree();
    EXPECT_EQ(InputSystem.useCount, 2);
    KeyboardFree();
    ScreenFree();
    EXPECT_EQ(LiveObjects(Screen.registry), 0);
    EXPECT_EQ(surface.references, 0);
    EXPECT_EQ(clipper.references, 0);
    for (void *block : blocks)
        EXPECT_FALSE(HeapHolds(MainHeap, block));
    // DirectInput stays for the rest of the process: the entry starts the keyboard twice.
    ExpectUses({1, 0, 1, 0, 0});
    EXPECT_NE(InputSystem.object, nullptr);
    EXPECT_TRUE(IsWindow(RuntimeWindow));
    EXPECT_FALSE(IsWindowVisible(RuntimeWindow));

    // A second shut-down finds everything released and gives nothing back twice.
    ShutDown();
    ExpectUses({1, 0, 1, 0, 0});
}

TEST_F(StartUp, StopsPartWay) {
    if (Scenario() == "WindowClassTaken") {
        WNDCLASSEXA taken = {};
        taken.cbSize = sizeof taken;
        taken.lpfnWndProc = DefWindowProcA;
        taken.hInstance = ModuleHandle;
        taken.lpszClassName = "RadorizezuZadi Class";
        ASSERT_NE(RegisterClassExA(&taken), 0);
    }
    if (scenario->steps >= 0) {
        EXPECT_EQ(DirectXInit(), 0);
        // The steps after the failed one did not run: each would have marked its start or made
        // its registry.
        EXPECT_EQ(Mouse.started, scenario->steps >= 2 ? 1 : 0);
        EXPECT_EQ(Sound.registry != nullptr, scenario->steps >= 3);
        EXPECT_EQ(Quads.registry, nullptr);
        if (!DisplaySystem.object) {
            EXPECT_EQ(QuadInit(), 0) << "no Direct3D without DirectDraw";
        }
    }
    ExpectUses(scenario->started);
    // Every shut-down step copes with what started; a second shut-down gives nothing back twice.
    ShutDown();
    ExpectUses(scenario->shutDown);
    ShutDown();
    ExpectUses(scenario->shutDown);
}

TEST_F(StartUp, QuadNeedsDirect3D) {
    // A DirectDraw object that refuses Direct3D fails the step; one that grants it succeeds,
    // and the shut-down gives the reference back.
    FakeCom refusing = MakeFake(false), granting = MakeFake(true);
    DisplaySystem.object = As<IDirectDraw7>(refusing);
    EXPECT_EQ(QuadInit(), 0);
    DisplaySystem.object = As<IDirectDraw7>(granting);
    EXPECT_EQ(QuadInit(), 1);
    EXPECT_EQ(granting.references, 2);
    QuadFreeAll();
    EXPECT_EQ(granting.references, 1);
    DisplaySystem.object = nullptr;
}

} // namespace
