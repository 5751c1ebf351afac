// The sheet options in the file dialog's options area: a control for each row of the options
// table, a switch as a check box and any other value in an edit box, showing the values the run
// starts with. Those the command line gave are greyed and marked as given. Open takes the values
// only when every row takes its box's text; it then remembers the ones the user chose and hands
// them all to the run.
#pragma once

#include "app/sheet_options.h"

#include <cstdint>

using OptionsUseRoutine = void (*)(const SheetOptions &options);

// Shows the options area in the file dialogs that follow, with the values of `options`, of which
// the rows in `given` (a bit a row) came from the command line. Open hands the values to `use`.
// A box whose text its row does not take keeps the dialog open: a message names the box and what
// it takes, and the focus goes back to it.
void OptionsPaneShow(const SheetOptions &options, uint32_t given, OptionsUseRoutine use);
