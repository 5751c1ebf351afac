#define DIRECTINPUT_VERSION 0x0700

#include "runtime/system/system.h"

#include "runtime/memory/memory.h"

#include <mmsystem.h>
#include <ddraw.h>
#include <dinput.h>
#include <dsound.h>

InputSystemState InputSystem;
DisplaySystemState DisplaySystem;
KeyboardState Keyboard;
MouseState Mouse;
ScreenState Screen;
SoundState Sound;
QuadState Quads;

#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(ScreenObject) == 24, "screen-object record");
static_assert(sizeof(SoundObject) == 36, "sound-object record");
static_assert(sizeof(QuadObject) == 140, "quad record");
static_assert(sizeof(DIDATAFORMAT) == 24 && sizeof(DIOBJECTDATAFORMAT) == 16, "data formats");
static_assert(sizeof(DSBUFFERDESC) == 36, "sound buffer description");
#endif

namespace {

// Interface and device identifiers, our own copies: no DirectX library is linked.
constexpr GUID IidDirectInput7A = {
    0x9A4CB684, 0x236D, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
constexpr GUID IidDirectInputDevice7A = {
    0x57D7C6BC, 0x2356, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
constexpr GUID GuidSysKeyboard = {
    0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID GuidSysMouse = {
    0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID IidDirectDraw7 = {
    0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};
constexpr GUID IidDirect3D7 = {
    0xF5049E77, 0x4861, 0x11D2, {0xA4, 0x07, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0xA8}};
constexpr GUID GuidKey = {
    0x55728220, 0xD33C, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID GuidXAxis = {
    0xA36D02E0, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID GuidYAxis = {
    0xA36D02E1, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID GuidZAxis = {
    0xA36D02E2, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

using DirectInputCreateExRoutine = HRESULT(WINAPI *)(HINSTANCE, DWORD, REFIID, void **, IUnknown *);
using DirectDrawCreateExRoutine = HRESULT(WINAPI *)(GUID *, void **, REFIID, IUnknown *);
using DirectSoundCreateRoutine = HRESULT(WINAPI *)(const GUID *, IDirectSound **, IUnknown *);

template <typename Routine> Routine LookUp(HMODULE library, const char *name) {
    return reinterpret_cast<Routine>(reinterpret_cast<void *>(GetProcAddress(library, name)));
}

constexpr DWORD DirectInputVersion = 0x0700;
constexpr int KeyCount = 256;
constexpr DWORD AxisAnyInstance = 0x00FFFF03;   // DIDFT_AXIS | DIDFT_ANYINSTANCE
constexpr DWORD ButtonAnyInstance = 0x00FFFF0C; // DIDFT_BUTTON | DIDFT_ANYINSTANCE
constexpr DWORD Optional = 0x80000000;          // DIDFT_OPTIONAL

DIOBJECTDATAFORMAT MouseObjects[] = {
    {&GuidXAxis, 0, AxisAnyInstance, 0},
    {&GuidYAxis, 4, AxisAnyInstance, 0},
    {&GuidZAxis, 8, Optional | AxisAnyInstance, 0},
    {nullptr, 12, ButtonAnyInstance, 0},
    {nullptr, 13, ButtonAnyInstance, 0},
    {nullptr, 14, Optional | ButtonAnyInstance, 0},
    {nullptr, 15, Optional | ButtonAnyInstance, 0},
};

DIDATAFORMAT MouseFormat = {sizeof(DIDATAFORMAT),
                            sizeof(DIOBJECTDATAFORMAT),
                            DIDF_RELAXIS,
                            16,
                            sizeof MouseObjects / sizeof MouseObjects[0],
                            MouseObjects};

// One byte per key; built on first use in a MainHeap block.
DIOBJECTDATAFORMAT *KeyboardObjects;
DIDATAFORMAT KeyboardFormat;

bool BuildKeyboardFormat() {
    if (KeyboardObjects) return true;
    KeyboardObjects =
        static_cast<DIOBJECTDATAFORMAT *>(MemoryAlloc(KeyCount * sizeof(DIOBJECTDATAFORMAT)));
    if (!KeyboardObjects) return false;
    for (int i = 0; i < KeyCount; i++) {
        KeyboardObjects[i].pguid = &GuidKey;
        KeyboardObjects[i].dwOfs = i;
        KeyboardObjects[i].dwType = Optional | DIDFT_BUTTON | (static_cast<DWORD>(i) << 8);
        KeyboardObjects[i].dwFlags = 0;
    }
    KeyboardFormat.dwSize = sizeof(DIDATAFORMAT);
    KeyboardFormat.dwObjSize = sizeof(DIOBJECTDATAFORMAT);
    KeyboardFormat.dwFlags = DIDF_RELAXIS;
    KeyboardFormat.dwDataSize = KeyCount;
    KeyboardFormat.dwNumObjs = KeyCount;
    KeyboardFormat.rgodf = KeyboardObjects;
    return true;
}

// The enumeration steps past each object before yielding it, so each may be freed on the way.
void FreeEveryObject(ObjectRegistry *registry) {
    if (!registry) return;
    ObjectId id;
    RegistryRewind(registry);
    while (RegistryNext(registry, &id))
        registry->freeCallback(id);
}

template <typename Interface> void ReleaseAndClear(Interface *&object) {
    if (!object) return;
    reinterpret_cast<IUnknown *>(object)->Release();
    object = nullptr;
}

// The input and display systems share one shape: a root object made through a library loaded on
// first use, counted uses, and the object and library released with the last use. `create` calls
// the creation routine with the object slot; without an object the library goes again at once,
// since nothing would ever unload it later.
template <typename Routine, typename System, typename Create>
auto AcquireRoot(System &system, const char *libraryName, const char *routineName, Create create) {
    if (!system.object) {
        system.library = SystemLibraryLoad(libraryName);
        if (system.library) {
            if (auto routine = LookUp<Routine>(system.library, routineName)) {
                create(routine, reinterpret_cast<void **>(&system.object));
            }
            if (!system.object) {
                FreeLibrary(system.library);
                system.library = nullptr;
            }
        }
    }
    system.useCount++;
    return system.object;
}

template <typename System> void ReleaseRoot(System &system) {
    system.useCount--;
    if (system.object && system.useCount <= 0) {
        ReleaseAndClear(system.object);
        FreeLibrary(system.library);
        system.library = nullptr;
    }
}

// Makes a DirectInput device once and gives it its data format.
bool MakeInputDevice(IDirectInput7A *input, const GUID &kind, IDirectInputDevice7A *&device,
                     DIDATAFORMAT *format) {
    if (!device && FAILED(input->CreateDeviceEx(kind, IidDirectInputDevice7A,
                                                reinterpret_cast<void **>(&device), nullptr))) {
        device = nullptr;
        return false;
    }
    return device && SUCCEEDED(device->SetDataFormat(format));
}

} // namespace

IDirectInput7A *InputSystemAcquire() {
    return AcquireRoot<DirectInputCreateExRoutine>(
        InputSystem, "DINPUT.DLL", "DirectInputCreateEx", [](auto create, void **slot) {
            create(ModuleHandle, DirectInputVersion, IidDirectInput7A, slot, nullptr);
        });
}

void InputSystemRelease() {
    ReleaseRoot(InputSystem);
}

IDirectDraw7 *DisplaySystemAcquire() {
    return AcquireRoot<DirectDrawCreateExRoutine>(
        DisplaySystem, "DDRAW.DLL", "DirectDrawCreateEx",
        [](auto create, void **slot) { create(nullptr, slot, IidDirectDraw7, nullptr); });
}

void DisplaySystemRelease() {
    ReleaseRoot(DisplaySystem);
}

void ScreenObjectFree(ObjectId id) {
    if (!Screen.registry) return;
    auto *object = static_cast<ScreenObject *>(RegistryGet(Screen.registry, id));
    if (!object) return;
    if (object->kind == ScreenObjectHeapKind) {
        MemoryFree(object->handle);
    } else {
        static_cast<IUnknown *>(object->handle)->Release();
    }
    MemoryFree(object->extra);
    RegistryFree(Screen.registry, id);
}

void SoundObjectFree(ObjectId id) {
    if (!Sound.registry) return;
    auto *sound = static_cast<SoundObject *>(RegistryGet(Sound.registry, id));
    if (!sound) return;
    while (sound->duplicates) {
        auto *duplicate = static_cast<SoundDuplicate *>(sound->duplicates);
        ReleaseAndClear(duplicate->buffer);
        ListRemove(&sound->duplicates, duplicate);
    }
    if (sound->stream && sound->decoder && sound->decoder->close) {
        sound->decoder->close(sound->stream);
    }
    sound->stream = nullptr;
    ReleaseAndClear(sound->buffer);
    RegistryFree(Sound.registry, id);
}

void QuadObjectFree(ObjectId id) {
    if (!Quads.registry || !RegistryGet(Quads.registry, id)) return;
    RegistryFree(Quads.registry, id);
}

int32_t ScreenInit() {
    Screen.started = 0;
    Screen.returnWindow = nullptr;
    if (!Screen.registry)
        Screen.registry = RegistryCreate(sizeof(ScreenObject), 64, ScreenObjectFree);
    if (!RuntimeWindowInit()) return 0;
    if (!KeyboardInit()) return 0;
    Screen.started = 1;
    if (!DisplaySystemAcquire()) return 0;
    Screen.returnWindow = RuntimeWindow;
    return Screen.registry ? 1 : 0;
}

int32_t KeyboardInit() {
    IDirectInput7A *input = InputSystemAcquire();
    Keyboard.started = 1;
    if (!input) return 0;
    if (Keyboard.ready) return 1;
    if (!BuildKeyboardFormat()) return 0;
    if (!MakeInputDevice(input, GuidSysKeyboard, Keyboard.device, &KeyboardFormat)) return 0;
    Keyboard.ready = 1;
    return 1;
}

int32_t MouseInit() {
    IDirectInput7A *input = InputSystemAcquire();
    Mouse.started = 1;
    if (!input) return 0;
    return MakeInputDevice(input, GuidSysMouse, Mouse.device, &MouseFormat) ? 1 : 0;
}

int32_t SoundInit() {
    if (!Sound.registry) Sound.registry = RegistryCreate(sizeof(SoundObject), 64, SoundObjectFree);
    if (!RuntimeWindowInit()) return 0;
    if (!Sound.object) {
        if (!Sound.library) Sound.library = SystemLibraryLoad("DSOUND.DLL");
        if (!Sound.library) return 0;
        auto create = LookUp<DirectSoundCreateRoutine>(Sound.library, "DirectSoundCreate");
        if (!create) return 0;
        IDirectSound *object = nullptr;
        if (create(nullptr, &object, nullptr) != DS_OK) return 0;
        Sound.object = object;
    }
    if (!Sound.primary) {
        if (FAILED(Sound.object->SetCooperativeLevel(RuntimeWindow, DSSCL_PRIORITY))) return 0;
        DSBUFFERDESC description = {};
        description.dwSize = sizeof description;
        description.dwFlags = DSBCAPS_PRIMARYBUFFER;
        IDirectSoundBuffer *primary = nullptr;
        if (FAILED(Sound.object->CreateSoundBuffer(&description, &primary, nullptr))) return 0;
        Sound.primary = primary; // kept only to be released before DSOUND.DLL goes
    }
    return Sound.registry ? 1 : 0;
}

int32_t QuadInit() {
    if (!Quads.registry) Quads.registry = RegistryCreate(sizeof(QuadObject), 64, QuadObjectFree);
    if (!DisplaySystem.object) return 0;
    if (!Quads.direct3d) {
        void *direct3d = nullptr;
        if (DisplaySystem.object->QueryInterface(IidDirect3D7, &direct3d) != S_OK) return 0;
        Quads.direct3d = static_cast<IDirect3D7 *>(direct3d);
    }
    return Quads.registry ? 1 : 0;
}

int32_t DirectXInit() {
    return ScreenInit() && KeyboardInit() && MouseInit() && SoundInit() && QuadInit() ? 1 : 0;
}

void QuadFreeAll() {
    FreeEveryObject(Quads.registry);
    // The interface holds a reference to the DirectDraw object: without this release,
    // DisplaySystemRelease would unload DDRAW.DLL under a live object.
    ReleaseAndClear(Quads.direct3d);
}

void SoundFreeAll() {
    FreeEveryObject(Sound.registry);
    // DirectSound mixes on a thread of its own: it has to be gone before its code is unloaded.
    ReleaseAndClear(Sound.primary);
    ReleaseAndClear(Sound.object);
    if (Sound.library) {
        FreeLibrary(Sound.library);
        Sound.library = nullptr;
    }
}

void MouseFree() {
    if (!Mouse.started) return;
    ClipCursor(nullptr);
    ReleaseAndClear(Mouse.device);
    InputSystemRelease();
    Mouse.started = 0;
}

void KeyboardFree() {
    if (!Keyboard.started) return;
    if (Keyboard.device) {
        Keyboard.device->Unacquire();
        ReleaseAndClear(Keyboard.device);
    }
    InputSystemRelease();
    Keyboard.started = 0;
    Keyboard.ready = 0;
}

void ScreenFree() {
    if (!Screen.started) return;
    ScreenClose();
    DisplaySystemRelease();
    Screen.started = 0;
}

void ScreenClose() {
    FreeEveryObject(Screen.registry);
    if (DisplaySystem.object) DisplaySystem.object->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    if (RuntimeWindow) ShowCursor(TRUE);
    Screen.returnWindow = RuntimeWindow;
    if (RuntimeWindow) ShowWindow(RuntimeWindow, SW_HIDE);
}
