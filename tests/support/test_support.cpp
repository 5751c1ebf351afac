#include "tests/support/test_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

static void RemoveTree(const std::string &folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = folder + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path + "\\");
            RemoveDirectoryA(path.c_str());
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::string TestFolder(const char *name) {
    char base[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("STRIPSHEET_TEST_DATA", base, sizeof base);
    std::string root;
    if (n == 0 || n >= sizeof base) {
        GetTempPathA(sizeof base, base);
        root = std::string(base) + "stripsheet-tests";
    } else {
        root = base;
        // A Unix path from CTest: Wine maps it through the Z: drive.
        if (!root.empty() && root[0] == '/') {
            root = "Z:" + root;
            for (char &c : root)
                if (c == '/') c = '\\';
        }
    }
    CreateDirectoryA(root.c_str(), nullptr);
    std::string folder = root + "\\" + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\";
    RemoveTree(folder);
    return folder;
}

bool WriteWholeFile(const std::string &path, const void *data, size_t size) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

std::string ReadWholeFile(const std::string &path) {
    std::string bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    fclose(f);
    return bytes;
}

bool WriteSparseFile(const std::string &path, const std::string &head, long long size) {
    if (!WriteWholeFile(path, head.data(), head.size())) return false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER end{};
    end.QuadPart = size;
    bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    return CloseHandle(file) && sized;
}

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> FilesIn(const std::string &folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}
