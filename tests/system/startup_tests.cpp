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

#include <cstring>

namespace {

bool InScenario(const char *name) {
    char value[64] = "";
    GetEnvironmentVariableA("STRIPSHEET_SCENARIO", value, sizeof value);
    return strcmp(value, name) == 0;
}

#define SCENARIO(name)                                                                             \
    if (!InScenario(name)) GTEST_SKIP() << "another scenario: it runs as a CTest test of its own"

// Loads and unloads of the DirectX libraries, counted at this program's imports, which the
// runtime code calls through. (Whether the platform really unmaps a library is its own affair:
// Wine keeps DDRAW.DLL and DSOUND.DLL mapped after their last FreeLibrary.)
struct LibraryUse {
    const char *name;
    HMODULE module;
    int loads;
    int frees;
};
LibraryUse libraries[] = {
    {"DINPUT.DLL", nullptr, 0, 0}, {"DDRAW.DLL", nullptr, 0, 0}, {"DSOUND.DLL", nullptr, 0, 0}};
ImportPatch *loadPatch;
ImportPatch *freePatch;

HMODULE WINAPI CountingLoadLibraryA(LPCSTR name) {
    HMODULE module = reinterpret_cast<decltype(&LoadLibraryA)>(loadPatch->Original())(name);
    for (LibraryUse &use : libraries) {
        if (module && _stricmp(name, use.name) == 0) {
            use.module = module;
            use.loads++;
        }
    }
    return module;
}

BOOL WINAPI CountingFreeLibrary(HMODULE module) {
    for (LibraryUse &use : libraries) {
        if (module && module == use.module) use.frees++;
    }
    return reinterpret_cast<decltype(&FreeLibrary)>(freePatch->Original())(module);
}

// How many loads of the library the runtime still holds.
int Held(const char *name) {
    for (const LibraryUse &use : libraries) {
        if (_stricmp(name, use.name) == 0) return use.loads - use.frees;
    }
    return -1;
}

// ---- What a scenario uses.

void StartRuntime() {
    ModuleHandle = GetModuleHandleA(nullptr);
    MainHeapInit();
    ObjectHeapInit();
    loadPatch = new ImportPatch("kernel32.dll", "LoadLibraryA",
                                reinterpret_cast<void *>(CountingLoadLibraryA));
    freePatch = new ImportPatch("kernel32.dll", "FreeLibrary",
                                reinterpret_cast<void *>(CountingFreeLibrary));
    EXPECT_TRUE(loadPatch->Active() && freePatch->Active());
}

// The entry's start-up: stops at the first step that fails. Returns the number of steps that
// succeeded.
int StartUp() {
    int32_t (*const steps[])() = {ScreenInit, KeyboardInit, MouseInit, SoundInit, QuadInit};
    int succeeded = 0;
    for (auto step : steps) {
        if (!step()) break;
        succeeded++;
    }
    return succeeded;
}

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
    while (HeapWalk(heap, &entry)) {
        if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.lpData == block) found = true;
    }
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
    if (!self->givesInterfaces) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    self->references++;
    *out = self;
    return S_OK;
}
ULONG STDMETHODCALLTYPE FakeAddRef(FakeCom *self) {
    return ++self->references;
}
ULONG STDMETHODCALLTYPE FakeRelease(FakeCom *self) {
    return --self->references;
}

const void *const fakeVtable[] = {reinterpret_cast<void *>(FakeQueryInterface),
                                  reinterpret_cast<void *>(FakeAddRef),
                                  reinterpret_cast<void *>(FakeRelease)};

FakeCom MakeFake(bool givesInterfaces = false) {
    return FakeCom{fakeVtable, 1, givesInterfaces};
}

template <typename Interface> Interface *As(FakeCom &fake) {
    return reinterpret_cast<Interface *>(&fake);
}

int streamCloses;
void *closedStream;
void CloseStream(void *stream) {
    streamCloses++;
    closedStream = stream;
}
const SoundDecoder countingDecoder = {CloseStream};

// ---- The scenarios.

TEST(StartUp, FullRun) {
    SCENARIO("FullRun");
    StartRuntime();
    ASSERT_EQ(ScreenInit(), 1);
    EXPECT_EQ(Keyboard.ready, 1);
    IDirectInputDevice7A *keyboard = Keyboard.device;
    ASSERT_NE(keyboard, nullptr);
    ASSERT_EQ(KeyboardInit(), 1);
    EXPECT_EQ(Keyboard.device, keyboard) << "a second keyboard device was made";
    ASSERT_EQ(MouseInit(), 1);
    ASSERT_EQ(SoundInit(), 1);
    ASSERT_EQ(QuadInit(), 1);

    // Two keyboard starts and one mouse start share one DirectInput; the screen alone DirectDraw.
    EXPECT_EQ(InputSystem.useCount, 3);
    EXPECT_EQ(DisplaySystem.useCount, 1);
    ASSERT_NE(InputSystem.object, nullptr);
    ASSERT_NE(DisplaySystem.object, nullptr);
    ASSERT_NE(Mouse.device, nullptr);
    ASSERT_NE(Sound.object, nullptr);
    ASSERT_NE(Quads.direct3d, nullptr);
    EXPECT_EQ(Held("DINPUT.DLL"), 1);
    EXPECT_EQ(Held("DDRAW.DLL"), 1);
    EXPECT_EQ(Held("DSOUND.DLL"), 1);
    ASSERT_EQ(RuntimeWindowCreated, 1);
    EXPECT_EQ(Screen.returnWindow, RuntimeWindow);
    EXPECT_FALSE(IsWindowVisible(RuntimeWindow));

    // The platform reads devices through our data formats: 256 key bytes, a 16-byte mouse state,
    // with the objects at the offsets the formats give them.
    const DWORD background = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
    ASSERT_EQ(keyboard->SetCooperativeLevel(RuntimeWindow, background), DI_OK);
    ASSERT_EQ(keyboard->Acquire(), DI_OK);
    BYTE keys[256];
    EXPECT_EQ(keyboard->GetDeviceState(sizeof keys, keys), DI_OK);
    EXPECT_NE(keyboard->GetDeviceState(sizeof keys - 1, keys), DI_OK);
    DIDEVICEOBJECTINSTANCEA object = {};
    object.dwSize = sizeof object;
    ASSERT_EQ(keyboard->GetObjectInfo(&object, DIK_A, DIPH_BYOFFSET), DI_OK);
    EXPECT_TRUE(IsEqualGUID(object.guidType, GUID_Key));
    EXPECT_EQ(DIDFT_GETINSTANCE(object.dwType), DIK_A);

    IDirectInputDevice7A *mouse = Mouse.device;
    ASSERT_EQ(mouse->SetCooperativeLevel(RuntimeWindow, background), DI_OK);
    ASSERT_EQ(mouse->Acquire(), DI_OK);
    DIMOUSESTATE state;
    EXPECT_EQ(mouse->GetDeviceState(sizeof state, &state), DI_OK);
    EXPECT_NE(mouse->GetDeviceState(sizeof(DIMOUSESTATE2), &state), DI_OK);
    const struct {
        DWORD offset;
        const GUID &type;
    } mouseObjects[] = {{0, GUID_XAxis}, {4, GUID_YAxis}, {12, GUID_Button}, {13, GUID_Button}};
    for (const auto &expected : mouseObjects) {
        object = {};
        object.dwSize = sizeof object;
        ASSERT_EQ(mouse->GetObjectInfo(&object, expected.offset, DIPH_BYOFFSET), DI_OK)
            << "offset " << expected.offset;
        EXPECT_TRUE(IsEqualGUID(object.guidType, expected.type)) << "offset " << expected.offset;
    }

    // Objects of every kind, numbered and dynamic, for the shut-down to free.
    void *pixels = MemoryAlloc(64);
    void *palette = MemoryAlloc(32);
    void *mask = MemoryAlloc(16);
    FakeCom surface = MakeFake(), clipper = MakeFake();
    auto *heapScreen = static_cast<ScreenObject *>(RegistryAllocate(Screen.registry, 3));
    heapScreen->handle = pixels;
    heapScreen->extra = palette;
    heapScreen->kind = ScreenObjectHeapKind;
    auto *comScreen = static_cast<ScreenObject *>(RegistryAllocate(Screen.registry, 70));
    comScreen->handle = &surface;
    comScreen->extra = mask;
    auto *dynamicScreen =
        static_cast<ScreenObject *>(RegistryAllocate(Screen.registry, AutoNumber));
    dynamicScreen->handle = &clipper;

    FakeCom buffer = MakeFake(), copy1 = MakeFake(), copy2 = MakeFake(), other = MakeFake();
    int stream = 0;
    auto *sound = static_cast<SoundObject *>(RegistryAllocate(Sound.registry, 0));
    sound->buffer = As<IDirectSoundBuffer>(buffer);
    for (FakeCom *copy : {&copy1, &copy2}) {
        auto *duplicate = static_cast<SoundDuplicate *>(
            ListAdd(&sound->duplicates, ListLinkSize + sizeof(SoundDuplicate)));
        ASSERT_NE(duplicate, nullptr);
        duplicate->buffer = As<IDirectSoundBuffer>(*copy);
    }
    sound->stream = &stream;
    sound->decoder = &countingDecoder;
    auto *dynamicSound = static_cast<SoundObject *>(RegistryAllocate(Sound.registry, AutoNumber));
    dynamicSound->buffer = As<IDirectSoundBuffer>(other);

    int texture = 0;
    for (ObjectId number : {ObjectId(1), ObjectId(99), AutoNumber}) {
        static_cast<QuadObject *>(RegistryAllocate(Quads.registry, number))->texture = &texture;
    }
    ASSERT_EQ(LiveObjects(Screen.registry), 3);
    ASSERT_EQ(LiveObjects(Sound.registry), 2);
    ASSERT_EQ(LiveObjects(Quads.registry), 3);

    QuadFreeAll();
    EXPECT_EQ(LiveObjects(Quads.registry), 0);
    EXPECT_EQ(Quads.direct3d, nullptr);
    // Only the display system's own reference to DirectDraw is left.
    EXPECT_EQ(DisplaySystem.object->AddRef(), 2u);
    EXPECT_EQ(DisplaySystem.object->Release(), 1u);

    SoundFreeAll();
    EXPECT_EQ(LiveObjects(Sound.registry), 0);
    EXPECT_EQ(buffer.references, 0);
    EXPECT_EQ(copy1.references, 0);
    EXPECT_EQ(copy2.references, 0);
    EXPECT_EQ(other.references, 0);
    EXPECT_EQ(streamCloses, 1);
    EXPECT_EQ(closedStream, &stream);
    EXPECT_EQ(Sound.object, nullptr);
    EXPECT_EQ(Sound.library, nullptr);
    EXPECT_EQ(Held("DSOUND.DLL"), 0);

    MouseFree();
    EXPECT_EQ(Mouse.device, nullptr);
    EXPECT_EQ(InputSystem.useCount, 2);
    KeyboardFree();
    EXPECT_EQ(Keyboard.device, nullptr);
    EXPECT_EQ(InputSystem.useCount, 1);

    ScreenFree();
    EXPECT_EQ(LiveObjects(Screen.registry), 0);
    EXPECT_EQ(surface.references, 0);
    EXPECT_EQ(clipper.references, 0);
    EXPECT_FALSE(HeapHolds(MainHeap, pixels));
    EXPECT_FALSE(HeapHolds(MainHeap, palette));
    EXPECT_FALSE(HeapHolds(MainHeap, mask));
    EXPECT_EQ(DisplaySystem.useCount, 0);
    EXPECT_EQ(DisplaySystem.object, nullptr);
    EXPECT_EQ(Held("DDRAW.DLL"), 0);

    // DirectInput stays for the rest of the process: the entry starts the keyboard twice.
    EXPECT_EQ(InputSystem.useCount, 1);
    EXPECT_NE(InputSystem.object, nullptr);
    EXPECT_EQ(Held("DINPUT.DLL"), 1);
    EXPECT_TRUE(IsWindow(RuntimeWindow));
    EXPECT_FALSE(IsWindowVisible(RuntimeWindow));
    EXPECT_EQ(Screen.returnWindow, RuntimeWindow);

    // A second shut-down finds everything released and gives nothing back twice.
    ShutDown();
    EXPECT_EQ(InputSystem.useCount, 1);
    EXPECT_EQ(DisplaySystem.useCount, 0);
}

TEST(StartUp, NothingStarted) {
    SCENARIO("NothingStarted");
    StartRuntime();
    ShutDown();
    ShutDown();
    EXPECT_EQ(InputSystem.useCount, 0);
    EXPECT_EQ(DisplaySystem.useCount, 0);
    EXPECT_EQ(RuntimeWindow, nullptr);
    EXPECT_EQ(Screen.registry, nullptr);
    EXPECT_EQ(Sound.registry, nullptr);
    EXPECT_EQ(Quads.registry, nullptr);
    EXPECT_EQ(Held("DINPUT.DLL"), 0);
    EXPECT_EQ(Held("DDRAW.DLL"), 0);
    EXPECT_EQ(Held("DSOUND.DLL"), 0);
}

TEST(StartUp, WindowClassTaken) {
    SCENARIO("WindowClassTaken");
    StartRuntime();
    // Someone else holds the class name: registration fails, and with it the screen.
    WNDCLASSEXA taken = {};
    taken.cbSize = sizeof taken;
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = ModuleHandle;
    taken.lpszClassName = "RadorizezuZadi Class";
    ASSERT_NE(RegisterClassExA(&taken), 0);

    EXPECT_EQ(StartUp(), 0);
    EXPECT_EQ(RuntimeWindowCreated, 0);
    EXPECT_EQ(RuntimeWindow, nullptr);
    EXPECT_NE(Screen.registry, nullptr);
    EXPECT_EQ(Screen.started, 0);
    EXPECT_EQ(Keyboard.started, 0);
    EXPECT_EQ(InputSystem.useCount, 0);
    EXPECT_EQ(Sound.registry, nullptr);
    EXPECT_EQ(Quads.registry, nullptr);

    ShutDown();
    EXPECT_EQ(InputSystem.useCount, 0);
    EXPECT_EQ(DisplaySystem.useCount, 0);
    EXPECT_EQ(Held("DINPUT.DLL"), 0);
    EXPECT_EQ(Held("DDRAW.DLL"), 0);
}

// DSOUND.DLL cannot be loaded, or loads but finds no device: the fourth step fails.
void SoundFailsAfterInput(bool libraryLoads) {
    StartRuntime();

    EXPECT_EQ(StartUp(), 3);
    EXPECT_EQ(InputSystem.useCount, 3);
    EXPECT_EQ(DisplaySystem.useCount, 1);
    EXPECT_EQ(Sound.object, nullptr);
    EXPECT_NE(Sound.registry, nullptr);
    EXPECT_EQ(Quads.registry, nullptr) << "the step after the failed one ran";
    EXPECT_EQ(Sound.library != nullptr, libraryLoads);
    EXPECT_EQ(Held("DSOUND.DLL"), libraryLoads ? 1 : 0);

    ShutDown();
    EXPECT_EQ(InputSystem.useCount, 1);
    EXPECT_EQ(DisplaySystem.useCount, 0);
    EXPECT_EQ(DisplaySystem.object, nullptr);
    EXPECT_EQ(Sound.library, nullptr);
    EXPECT_EQ(Held("DSOUND.DLL"), 0);
    EXPECT_EQ(Held("DDRAW.DLL"), 0);
    EXPECT_EQ(Keyboard.device, nullptr);
    EXPECT_EQ(Mouse.device, nullptr);
}

TEST(StartUp, SoundLibraryMissing) {
    SCENARIO("SoundLibraryMissing");
    SoundFailsAfterInput(false);
}

TEST(StartUp, SoundDeviceMissing) {
    SCENARIO("SoundDeviceMissing");
    SoundFailsAfterInput(true);
}

TEST(StartUp, InputLibraryMissing) {
    SCENARIO("InputLibraryMissing");
    StartRuntime();
    EXPECT_EQ(StartUp(), 0);
    // The keyboard counted its use before failing; the screen stopped before DirectDraw.
    EXPECT_EQ(Keyboard.started, 1);
    EXPECT_EQ(Keyboard.ready, 0);
    EXPECT_EQ(InputSystem.useCount, 1);
    EXPECT_EQ(InputSystem.object, nullptr);
    EXPECT_EQ(Screen.started, 0);
    EXPECT_EQ(DisplaySystem.useCount, 0);
    EXPECT_EQ(RuntimeWindowCreated, 1);

    ShutDown();
    EXPECT_EQ(InputSystem.useCount, 0);
    EXPECT_EQ(DisplaySystem.useCount, 0);
    EXPECT_EQ(Held("DDRAW.DLL"), 0);
}

TEST(StartUp, DisplayLibraryMissing) {
    SCENARIO("DisplayLibraryMissing");
    StartRuntime();
    EXPECT_EQ(StartUp(), 0);
    EXPECT_EQ(Screen.started, 1);
    EXPECT_EQ(DisplaySystem.useCount, 1);
    EXPECT_EQ(DisplaySystem.object, nullptr);
    EXPECT_EQ(DisplaySystem.library, nullptr);
    EXPECT_EQ(Keyboard.ready, 1);
    EXPECT_EQ(InputSystem.useCount, 1);

    // Without DirectDraw there is no Direct3D: the quad layer cannot start.
    EXPECT_EQ(QuadInit(), 0);
    EXPECT_EQ(Quads.direct3d, nullptr);

    ShutDown();
    EXPECT_EQ(DisplaySystem.useCount, 0);
    EXPECT_EQ(Screen.started, 0);
    // The one keyboard start was the only use of DirectInput: it goes with the library.
    EXPECT_EQ(InputSystem.useCount, 0);
    EXPECT_EQ(InputSystem.object, nullptr);
    EXPECT_EQ(Keyboard.device, nullptr);
    EXPECT_EQ(Held("DINPUT.DLL"), 0);
    EXPECT_TRUE(IsWindow(RuntimeWindow));
    EXPECT_FALSE(IsWindowVisible(RuntimeWindow));
}

TEST(StartUp, QuadNeedsDirect3D) {
    SCENARIO("QuadNeedsDirect3D");
    StartRuntime();
    // A DirectDraw object that refuses Direct3D fails the step; one that grants it succeeds,
    // and the shut-down gives the reference back.
    FakeCom refusing = MakeFake(false);
    DisplaySystem.object = As<IDirectDraw7>(refusing);
    EXPECT_EQ(QuadInit(), 0);
    EXPECT_EQ(Quads.direct3d, nullptr);
    EXPECT_NE(Quads.registry, nullptr);

    FakeCom granting = MakeFake(true);
    DisplaySystem.object = As<IDirectDraw7>(granting);
    EXPECT_EQ(QuadInit(), 1);
    EXPECT_EQ(granting.references, 2);
    QuadFreeAll();
    EXPECT_EQ(granting.references, 1);
    EXPECT_EQ(Quads.direct3d, nullptr);
    DisplaySystem.object = nullptr;
}

} // namespace
