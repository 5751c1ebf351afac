// Saving images to files: the image's bitmap is read back as one block of 24-bit rows and written
// by the built-in BMP writer (ImageFormatBmp) or by the encoder registered for the format id.
#pragma once

#include "runtime/image/image.h"
#include "runtime/image/image_codec.h"

#include <cstdint>

constexpr int32_t ImageDefaultQuality = 7;

// Writes image `id` to the file; 1 on success, 0 on failure. The picture is written to a
// temporary file in the same folder and moved over `fileName` only once it is complete, so a
// failed save leaves an existing file of that name as it was and no temporary file behind. An
// id that no encoder has touches no file.
int32_t ImageSave(ObjectId id, const char *fileName, int32_t formatId,
                  int32_t quality = ImageDefaultQuality);

// Hands the block (`height` rows of blue-green-red, bottom row first, `stride` bytes apart) to
// the first encoder registered for the format id; its result, or 0 when there is none.
int32_t ImageEncode(const char *fileName, const uint8_t *pixels, int32_t formatId, int32_t width,
                    int32_t height, int32_t stride, int32_t quality);
