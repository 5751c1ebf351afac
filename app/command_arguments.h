// The arguments of a command line as GetCommandLineW gives it, split by the system's quoting
// rules. Text in, text out: no memory is taken and the system is asked nothing.
#pragma once

// Where the arguments begin: behind the program's own name, which follows simpler rules (up to
// the closing quote when it starts with one, or else to the first blank).
const wchar_t *CommandLineSkipProgram(const wchar_t *line);

// Copies the argument at `p` into `argument`, which has room for the rest of the line, and returns
// the position after it, or null when none is left. 2n backslashes before a quote give n and the
// quote opens or closes a quoted part; 2n + 1 give n and a literal quote; other backslashes stay;
// "" inside quotes is one literal quote. A folder's name holds no quote: the value of /out: quoted
// with its trailing backslash, as batch files write /out:"%~dp0", ends in the backslash and the
// quote closes it.
const wchar_t *CommandLineNextArgument(const wchar_t *p, wchar_t *argument);
