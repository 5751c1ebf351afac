// Helpers shared by the test programs.
#pragma once

#include <string>
#include <vector>

// True when the tests run under Wine (ntdll exports wine_get_version there).
bool RunningUnderWine();

// A fresh, empty folder for one test's files, below the test's data folder; ends in a backslash.
std::string TestFolder(const char *name);

// Whole-file helpers for fixtures.
bool WriteWholeFile(const std::string &path, const void *data, size_t size);
std::string ReadWholeFile(const std::string &path);
bool FileExists(const std::string &path);
// A file of `size` bytes: `head`, then zeros that are never written, so that a file of gigabytes
// takes no room on a file system that keeps sparse files.
bool WriteSparseFile(const std::string &path, const std::string &head, long long size);

// The names of the files (not folders) in a folder, sorted.
std::vector<std::string> FilesIn(const std::string &folder);
