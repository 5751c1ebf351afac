// C streams over file handles: a file opened with the system's own sharing and creation rules is
// read and written through the C runtime without being opened a second time.
#include "runtime/system/system.h"

#include <fcntl.h>
#include <io.h>

FILE *FileStreamOf(HANDLE file, bool writing) {
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file),
                                     (writing ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
    if (descriptor == -1) {
        CloseHandle(file);
        return nullptr;
    }
    FILE *stream = _fdopen(descriptor, writing ? "wb" : "rb");
    if (!stream) _close(descriptor); // closes the handle with it
    return stream;
}
