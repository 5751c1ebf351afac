// Cuts one sprite strip into its frames and saves them as a sheet eight frames wide.
#pragma once

#include <cstdint>

// Counts the outcome in FilesConverted or FilesErrors (or neither when the strip cannot be read).
void ConvertStrip(const char *stripPath, const char *prefix, const char *extension,
                  const char *direction, int32_t count, const char *outputDirectory);
