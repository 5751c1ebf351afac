// The sample images that make_samples.py prepares for the codec tests, the pixels an independent
// decoder gave for them, and helpers to decode, encode and damage files.
#pragma once

#include "runtime/image/image_codec.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

struct SampleEntry {
    std::string kind; // png-decode, png-refuse, png-hostile, png-cut, jpeg-decode, ...
    std::string file; // full path
    std::string argument;
};

// Red-green-blue(-alpha) samples, top row first.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
    std::vector<uint8_t> samples;
};

// A file below the folder of the samples (STRIPSHEET_CODEC_SAMPLES); empty when that is not set.
std::string SamplePath(const std::string &relative);
std::vector<SampleEntry> SampleEntries(const char *kind);
// The independent decoder's pixels in a sample's ".expected" file; empty when unreadable.
Picture ExpectedPicture(const std::string &relative);

// What a decoder made of one file.
struct DecodeOutcome {
    int32_t opened = 0;  // Open's result
    int32_t decoded = 0; // Decode's result (0 when not called)
    Picture picture;     // converted to red-green-blue(-alpha)
    bool paddingKept = true;
};

// Opens in file mode (stream) or memory mode (a block that ends where readable memory ends) and
// decodes into rows with spare bytes after each, checking that those bytes stay untouched.
// `oneRow` decodes every row into one row that ends where readable memory ends (stride 0), so a
// damaged header claiming a huge picture needs no huge buffer; the picture stays empty then.
DecodeOutcome DecodeWith(const ImageDecoder &decoder, const std::string &path, bool memoryMode,
                         bool oneRow = false);
// True when the sample decodes in file mode to its expected pixels.
bool SampleDecodes(const ImageDecoder &decoder, const std::string &relative);

// Largest sample difference; 999 when the sizes or channels differ or there are no samples.
int MaxDifference(const Picture &a, const Picture &b);
Picture RandomPicture(int32_t width, int32_t height, unsigned seed);
Picture SolidPicture(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b);

// Encodes a red-green-blue picture the way the library hands it over: blue-green-red, bottom row
// first, rows padded to a multiple of four bytes.
int32_t EncodePicture(const ImageEncoder &encoder, const std::string &path, const Picture &picture,
                      int32_t quality);

// The test's folder for saved files (TestFolder "written"), which check_written.py looks at
// with pngcheck, PIL and djpeg after the test program. Each NAME gets NAME.expected beside it.
const std::string &WrittenFolder();
void WriteRaw(const std::string &path, const Picture &picture);

// Bytes in use in the C runtime's heap, where the codecs take their buffers; -1 if unknown.
long long HeapInUse();

// The quantisation table segments of a JPEG file, as they stand in the file.
std::string QuantTables(const std::string &jpeg);

// Damaged variants of sample files: each cut at every `cutStep` bytes and with one byte changed
// at every `flipStep` bytes (bits inverted, or a value that walks through 0..255).
std::vector<std::string> DamagedSamples(std::initializer_list<const char *> sources, size_t cutStep,
                                        size_t flipStep);
