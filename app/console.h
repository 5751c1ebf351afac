// Text for the console or pipe the program was started from.
#pragma once

#include <cstdint>

// Writes `text` (in the process's code page) to the standard output the program was given (a
// console, a pipe or a file), or else to the console of the program that started it. False when
// there is neither, as for a program started from the desktop.
bool ConsoleWrite(const char *text);

// The progress of a run without dialogs: one line "12/300 walk_H8.png" written over itself on the
// standard error when that is a console (at most every 50 ms), erased by End, so the report on
// the standard output stays as it was; nothing when it is redirected. From Begin to End, Ctrl+C,
// Ctrl+Break and the console closing make Step return 1: the batch stops before its next strip.
void ConsoleProgressBegin(int32_t total);
int32_t ConsoleProgressStep(int32_t number, const char *file);
void ConsoleProgressEnd();
