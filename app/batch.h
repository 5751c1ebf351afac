// The batch driver: asks for strips and an output folder, sorts the files by name, converts the
// ones that qualify and reports the four counts.
#pragma once

#include <cstdint>

// Process-wide counts of one run, zero at start.
extern int32_t FilesSelected;
extern int32_t FilesSkipped;
extern int32_t FilesConverted;
extern int32_t FilesErrors;

void BatchConvert();
int32_t TextIsNumber(const char *text, int32_t minusAllowed, int32_t dotAllowed);
