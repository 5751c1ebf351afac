// The runtime's hidden window and the DirectX subsystems it brings up at start-up: the screen
// (DirectDraw 7), the keyboard and the mouse (DirectInput 7), sound (DirectSound) and the
// textured-quad layer (the Direct3D 7 interface of the DirectDraw object).
//
// DDRAW.DLL, DINPUT.DLL and DSOUND.DLL are loaded from the system folder when a subsystem starts
// and their creation functions looked up by name: nothing of DirectX is linked into the program.
#pragma once

#include "runtime/memory/registry.h"

#include <windows.h>
#include <cstdint>
#include <cstdio>

struct IDirectDraw7;
struct IDirect3D7;
struct IDirectInput7A;
struct IDirectInputDevice7A;
struct IDirectSound;
struct IDirectSoundBuffer;

// ---- Libraries of the system. None of those loaded at run time is among the system's known DLLs,
// so a bare name would find a file of that name beside the program first (a game folder's ddraw
// wrapper, anything in the Downloads folder) and run its code inside ours.

// Restricts the process's own library search, and that of every system library it loads, to the
// system folder where Windows offers it (8 and later, 7 with KB2533623). The process's first step.
void LibrarySearchInit();

// Loads a system library, `name` being its file name, from the system folder only; null when it
// is not there.
HMODULE SystemLibraryLoad(const char *name);

// ---- Files.

// A C stream over an open file handle, for reading or for writing, binary; the handle then belongs
// to the stream (fclose closes it). Null when the C runtime cannot take the handle, which is then
// closed all the same.
FILE *FileStreamOf(HANDLE file, bool writing);

// ---- The runtime window: a 1 x 1 popup of class "RadorizezuZadi Class", never shown.

extern HWND RuntimeWindow;
extern int32_t RuntimeWindowCreated; // 1 once the class is registered and the window made

// 1 when the window exists (made now or by an earlier call), 0 when it could not be made.
int32_t RuntimeWindowInit();
LRESULT CALLBACK RuntimeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- The two shared DirectX root objects. An acquire counts one use even when the object could
// not be made; a release counts one less and releases the object when no use is left.

struct InputSystemState {
    IDirectInput7A *object;
    HMODULE library; // DINPUT.DLL while the object lives
    int32_t useCount;
};

struct DisplaySystemState {
    IDirectDraw7 *object;
    HMODULE library; // DDRAW.DLL while the object lives
    int32_t useCount;
};

extern InputSystemState InputSystem;
extern DisplaySystemState DisplaySystem;

IDirectInput7A *InputSystemAcquire();
void InputSystemRelease();
IDirectDraw7 *DisplaySystemAcquire();
void DisplaySystemRelease();

// ---- Subsystem state. A started flag is set as soon as a start-up step has counted its use of a
// root object, so that the matching release step gives it back even after a failure part way.

struct KeyboardState {
    int32_t started;
    int32_t ready; // device made and its data format set
    IDirectInputDevice7A *device;
};

struct MouseState {
    int32_t started;
    IDirectInputDevice7A *device; // read by RuntimeWindowProc
};

struct ScreenState {
    int32_t started;
    ObjectRegistry *registry; // ScreenObject records
    HWND returnWindow;        // the window a closed screen goes back to
};

struct SoundState {
    ObjectRegistry *registry; // SoundObject records
    IDirectSound *object;
    IDirectSoundBuffer *primary;
    HMODULE library; // DSOUND.DLL
};

struct QuadState {
    ObjectRegistry *registry; // QuadObject records
    IDirect3D7 *direct3d;
};

extern KeyboardState Keyboard;
extern MouseState Mouse;
extern ScreenState Screen;
extern SoundState Sound;
extern QuadState Quads;

// ---- Object records of the three registries. The first field is the object's handle: the
// record is live while it is non-zero.

constexpr uint16_t ScreenObjectHeapKind = 0xFFFE; // the handle is a MainHeap block, not a surface

struct ScreenObject {
    void *handle; // a MainHeap block for ScreenObjectHeapKind, else a COM object of DirectDraw
    void *extra;  // an optional second MainHeap block
    int32_t width;
    int32_t height;
    uint16_t kind;
    uint16_t flags;
    int32_t pitch;
};

// A sound stream is read through the decoder that opened it; closing goes through it too.
struct SoundDecoder {
    void (*close)(void *stream);
};

// A node of a sound object's list of duplicate buffers (payload after the two list links).
struct SoundDuplicate {
    IDirectSoundBuffer *buffer;
};

struct SoundObject {
    IDirectSoundBuffer *buffer; // the main buffer
    void *duplicates;           // object list of SoundDuplicate nodes
    void *stream;               // an open sound stream, or null
    const SoundDecoder *decoder;
    int32_t bufferBytes;
    int32_t frequency;
    int32_t volume;
    int32_t pan;
    int32_t flags;
};

// Four transformed, lit vertices (position, rhw, colour, specular, texture coordinates).
struct QuadVertex {
    float x, y, z, rhw;
    uint32_t color, specular;
    float u, v;
};

struct QuadObject {
    void *texture; // the texture surface the quad draws with
    int32_t image;
    int32_t flags;
    QuadVertex vertices[4];
};

// The free routines of the registries: each frees the object with that id if it is live.
void ScreenObjectFree(ObjectId id);
void SoundObjectFree(ObjectId id);
void QuadObjectFree(ObjectId id);

// ---- Start-up steps, in the order the entry calls them; each returns 1 on success, 0 on failure.
// ScreenInit also starts the keyboard, so the entry's own KeyboardInit finds it ready.
int32_t ScreenInit();
int32_t KeyboardInit();
int32_t MouseInit();
int32_t SoundInit();
int32_t QuadInit();

// The entry's DirectX start-up: the five steps above in that order, stopping at the first that
// fails (the later ones are not tried). 1 when all five started.
int32_t DirectXInit();

// ---- Shut-down steps, in the order the entry calls them, after a normal run and after a failed
// start-up alike: each copes with a subsystem that never started or started only in part.
void QuadFreeAll();
void SoundFreeAll();
void MouseFree();
void KeyboardFree();
void ScreenFree();

// Frees every screen object, returns DirectDraw to normal cooperation and hides the runtime window.
void ScreenClose();
