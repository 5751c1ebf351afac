// The sheet options a user chose in the file dialog's options area, remembered for the runs with
// dialogs that follow, per user, under HKEY_CURRENT_USER\Software\StripSheet: a value a row of
// the options table, named as the option without its "/" ("columns"). A switch (0 or 1) and a
// whole number are kept as REG_DWORD, any other value as REG_SZ, the text the command line takes.
// Deleting the key forgets them all.
#pragma once

#include "app/sheet_options.h"

#include <cstdint>

// Sets in `options` the remembered value of each row that is not in `skip` (a bit a row), and
// returns a bit for each row it set. A value that is missing, of another type or not one the row
// takes leaves its field as it is, and values that cannot go with the others leave them all:
// nothing remembered can make a run fail.
uint32_t RememberedOptionsRead(SheetOptions *options, uint32_t skip);

// Remembers the value in `options` of each row that is not in `skip`: a value a run without the
// option also has is removed, any other written. A failure leaves the earlier values.
void RememberedOptionsWrite(const SheetOptions &options, uint32_t skip);
