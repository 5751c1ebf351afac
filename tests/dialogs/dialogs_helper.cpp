// Shows windows and dialogs in a process of its own, for the tests that need another program:
//   dialogs_helper front <caption>    a message box that takes the foreground until OK is pressed
//   dialogs_helper com                two folder browsers on a thread without COM, then a message
//                                     "Results" with their answers and how often COM was
//                                     initialised for the thread
#include "runtime/dialogs/dialogs.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <objbase.h>

#include <cstring>
#include <string>

namespace {

std::string ChooseFolder() {
    int32_t position = TempString.end;
    DialogChooseFolder("Select Output Directory", "C:\\", position);
    std::string text = TempAddress(position);
    TempString.end = position;
    return text;
}

// DialogInit is left out on purpose: the folder browser must initialise COM by itself.
int Com() {
    MainHeapInit();
    TempStringInit();
    ObjectHeapInit();
    std::string lines = "first: " + ChooseFolder() + "\r\n";
    lines += "second: " + ChooseFolder() + "\r\n";
    // Initialised once: one more CoInitialize finds it done, and two releases undo it all.
    HRESULT again = CoInitialize(nullptr);
    CoUninitialize();
    CoUninitialize();
    HRESULT fresh = CoInitialize(nullptr);
    CoUninitialize();
    lines += again == S_FALSE && fresh == S_OK ? "COM: once" : "COM: not once";
    return DialogMessage("Results", lines.c_str(), 0);
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "front") == 0)
        return MessageBoxA(nullptr, argv[2], argv[2], MB_SETFOREGROUND);
    if (argc == 2 && strcmp(argv[1], "com") == 0) return Com();
    return 100;
}
