// Text for the console or pipe the program was started from.
#pragma once

// Writes `text` (in the process's code page) to the standard output the program was given (a
// console, a pipe or a file), or else to the console of the program that started it. False when
// there is neither, as for a program started from the desktop.
bool ConsoleWrite(const char *text);
