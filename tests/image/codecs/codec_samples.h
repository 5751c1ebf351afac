// The sample images that make_samples.py prepares for the codec tests, the pixels an independent
// decoder gave for them, and helpers to damage files and to catch reads past a block.
#pragma once

#include "runtime/image/image_codec.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct SampleEntry {
    std::string kind; // png-decode, png-twin, png-refuse, jpeg-decode, jpeg-quality, ...
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

// The folder of the samples (STRIPSHEET_CODEC_SAMPLES), ending in a backslash.
std::string SamplesFolder();
std::vector<SampleEntry> SampleEntries(const char *kind);
std::string SamplePath(const char *relative);
bool ReadExpected(const std::string &path, Picture &picture);

// What a decoder made of one file.
struct DecodeOutcome {
    int32_t opened = 0;  // Open's result
    int32_t decoded = 0; // Decode's result (0 when not called)
    Picture picture;     // converted to red-green-blue(-alpha)
    bool paddingKept = true;
};

// Opens in file mode (stream) or memory mode (a block that ends where readable memory ends) and
// decodes into rows with spare bytes after each, checking that those bytes stay untouched.
DecodeOutcome DecodeWith(const ImageDecoder &decoder, const std::string &path, bool memoryMode);

// First difference between two pictures, or success.
std::string PictureDifference(const Picture &actual, const Picture &expected);
int MaxDifference(const Picture &a, const Picture &b);

// The library's pixel block for a picture: blue-green-red, bottom row first, rows padded to a
// multiple of four bytes, one spare row.
struct PixelBlock {
    int32_t width, height, stride;
    std::vector<uint8_t> bytes;
};
PixelBlock BlockFromPicture(const Picture &picture);

// The test's folder for saved files (TestFolder "written"), which check_written.py looks at
// with pngcheck, PIL and djpeg after the test program. Each NAME gets NAME.expected beside it.
const std::string &WrittenFolder();
void WriteRaw(const std::string &path, const Picture &picture);

// Bytes in use in the C runtime's heap, where the codecs take their buffers; -1 if unknown.
long long HeapInUse();

// The quantisation tables of a JPEG file by table id.
std::map<int, std::vector<int>> QuantTables(const std::string &jpeg);

// A block whose last byte is the last readable byte before an inaccessible page.
class GuardedBlock {
  public:
    explicit GuardedBlock(size_t size);
    ~GuardedBlock();
    GuardedBlock(const GuardedBlock &) = delete;
    GuardedBlock &operator=(const GuardedBlock &) = delete;
    uint8_t *data() const { return data_; }

  private:
    uint8_t *base_ = nullptr;
    uint8_t *data_ = nullptr;
};

// Damaged variants of one file: cut at every `cutStep` bytes and one byte changed at every
// `flipStep` bytes (bits inverted, or a value that walks through 0..255).
std::vector<std::string> DamagedVariants(const std::string &bytes, size_t cutStep, size_t flipStep);
