#include "tests/image/codecs/codec_samples.h"

#include "tests/support/test_support.h"

#include <windows.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>

namespace {

// A block whose last byte is the last readable byte before an inaccessible page.
struct GuardedBlock {
    static constexpr size_t Page = 4096;
    uint8_t *base = nullptr;
    uint8_t *data = nullptr;
    explicit GuardedBlock(size_t size) {
        size_t committed = (size + Page - 1) / Page * Page;
        base = static_cast<uint8_t *>(
            VirtualAlloc(nullptr, committed + Page, MEM_RESERVE, PAGE_NOACCESS));
        // An empty block still has an address: the inaccessible page itself.
        if (base && (!committed || VirtualAlloc(base, committed, MEM_COMMIT, PAGE_READWRITE)))
            data = base + committed - size;
    }
    ~GuardedBlock() {
        if (base) VirtualFree(base, 0, MEM_RELEASE);
    }
};

} // namespace

std::string SamplePath(const std::string &relative) {
    char folder[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("STRIPSHEET_CODEC_SAMPLES", folder, sizeof folder);
    if (n == 0 || n >= sizeof folder) return std::string();
    // A Unix path from CTest: Wine maps it through the Z: drive.
    std::string path = std::string(folder[0] == '/' ? "Z:" : "") + folder + "/" + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::vector<SampleEntry> SampleEntries(const char *kind) {
    std::vector<SampleEntry> entries;
    std::istringstream lines(ReadWholeFile(SamplePath("manifest.txt")));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        SampleEntry entry;
        fields >> entry.kind >> entry.file >> entry.argument;
        entry.file = SamplePath(entry.file);
        if (entry.kind == kind) entries.push_back(entry);
    }
    return entries;
}

Picture ExpectedPicture(const std::string &relative) {
    Picture picture;
    std::string bytes = ReadWholeFile(SamplePath(relative));
    size_t end = bytes.find('\n');
    if (end == std::string::npos ||
        sscanf(bytes.c_str(), "%d %d %d", &picture.width, &picture.height, &picture.channels) !=
            3 ||
        bytes.size() - end - 1 != size_t(picture.width) * picture.height * picture.channels)
        return Picture{};
    picture.samples.assign(bytes.begin() + end + 1, bytes.end());
    return picture;
}

DecodeOutcome DecodeWith(const ImageDecoder &decoder, const std::string &path, bool memoryMode,
                         bool oneRow) {
    DecodeOutcome outcome;
    std::string bytes = ReadWholeFile(path);
    GuardedBlock block(bytes.size());
    FILE *stream = nullptr;
    ImagePicture opened{};
    if (memoryMode) {
        memcpy(block.data, bytes.data(), bytes.size());
        outcome.opened = decoder.Open(&opened, nullptr, block.data, intptr_t(bytes.size()));
    } else {
        stream = fopen(path.c_str(), "rb");
        if (!stream) return outcome;
        outcome.opened =
            decoder.Open(&opened, stream, nullptr, reinterpret_cast<intptr_t>(path.c_str()));
    }
    Picture &picture = outcome.picture;
    int32_t channels = outcome.opened == 2 ? 4 : 3;
    if (outcome.opened && oneRow) {
        GuardedBlock row(size_t(opened.width) * channels);
        outcome.decoded = decoder.Decode(&opened, row.data, 0);
    } else if (outcome.opened) {
        picture = Picture{opened.width, opened.height, channels, {}};
        constexpr int32_t Spare = 5;
        constexpr uint8_t Fill = 0xA5;
        int32_t stride = picture.width * channels + Spare;
        std::vector<uint8_t> rows(size_t(stride) * picture.height, Fill);
        outcome.decoded = decoder.Decode(&opened, rows.data(), stride);
        for (int32_t y = 0; y < picture.height; ++y) {
            const uint8_t *row = rows.data() + size_t(y) * stride;
            for (int32_t x = 0; x < picture.width; ++x, row += channels) {
                picture.samples.insert(picture.samples.end(), {row[2], row[1], row[0]});
                if (channels == 4) picture.samples.push_back(row[3]);
            }
            outcome.paddingKept =
                outcome.paddingKept && std::count(row, row + Spare, Fill) == Spare;
        }
    }
    if (stream) fclose(stream);
    return outcome;
}

bool SampleDecodes(const ImageDecoder &decoder, const std::string &relative) {
    DecodeOutcome got = DecodeWith(decoder, SamplePath(relative), false);
    return got.decoded == 1 &&
           MaxDifference(got.picture, ExpectedPicture(relative + ".expected")) == 0;
}

int MaxDifference(const Picture &a, const Picture &b) {
    if (a.samples.empty() || a.width != b.width || a.height != b.height ||
        a.channels != b.channels || a.samples.size() != b.samples.size())
        return 999;
    int worst = 0;
    for (size_t i = 0; i < a.samples.size(); ++i)
        worst = std::max(worst, std::abs(a.samples[i] - b.samples[i]));
    return worst;
}

Picture RandomPicture(int32_t width, int32_t height, unsigned seed) {
    std::mt19937 random(seed);
    Picture picture{width, height, 3, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (uint8_t &sample : picture.samples)
        sample = uint8_t(random());
    return picture;
}

Picture SolidPicture(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b) {
    Picture picture{width, height, 3, {}};
    for (int32_t i = 0; i < width * height; ++i)
        picture.samples.insert(picture.samples.end(), {r, g, b});
    return picture;
}

int32_t EncodePicture(const ImageEncoder &encoder, const std::string &path, const Picture &picture,
                      int32_t quality) {
    int32_t stride = 3 * picture.width + picture.width % 4;
    // One spare row after the block: an encoder must not read it.
    std::vector<uint8_t> block(size_t(stride) * (picture.height + 1), 0xEE);
    for (int32_t y = 0; y < picture.height; ++y) {
        uint8_t *row = block.data() + size_t(picture.height - 1 - y) * stride;
        const uint8_t *in = picture.samples.data() + size_t(y) * picture.width * 3;
        for (int32_t x = 0; x < 3 * picture.width; x += 3) {
            row[x] = in[x + 2];
            row[x + 1] = in[x + 1];
            row[x + 2] = in[x];
        }
    }
    FILE *stream = fopen(path.c_str(), "wb");
    if (!stream) return 0;
    int32_t result =
        encoder.Encode(stream, block.data(), picture.width, picture.height, stride, quality);
    return fclose(stream) == 0 ? result : 0;
}

const std::string &WrittenFolder() {
    static const std::string folder = TestFolder("written");
    return folder;
}

void WriteRaw(const std::string &path, const Picture &picture) {
    std::string bytes = std::to_string(picture.width) + " " + std::to_string(picture.height) + " " +
                        std::to_string(picture.channels) + "\n";
    bytes.append(picture.samples.begin(), picture.samples.end());
    WriteWholeFile(path, bytes.data(), bytes.size());
}

long long HeapInUse() {
    _HEAPINFO entry{};
    long long used = 0;
    int status;
    while ((status = _heapwalk(&entry)) == _HEAPOK)
        if (entry._useflag == _USEDENTRY) used += entry._size;
    return status == _HEAPEND ? used : -1;
}

std::string QuantTables(const std::string &jpeg) {
    std::string tables;
    const auto *p = reinterpret_cast<const uint8_t *>(jpeg.data());
    // Marker segments up to the first scan, whose data follows.
    for (size_t pos = 2; pos + 4 <= jpeg.size() && p[pos] == 0xFF && p[pos + 1] != 0xDA;) {
        size_t length = size_t(p[pos + 2]) << 8 | p[pos + 3];
        if (p[pos + 1] == 0xDB) tables += jpeg.substr(pos, 2 + length);
        pos += 2 + length;
    }
    return tables;
}

std::vector<std::string> DamagedSamples(std::initializer_list<const char *> sources, size_t cutStep,
                                        size_t flipStep) {
    std::vector<std::string> variants;
    unsigned walk = 0;
    for (const char *source : sources) {
        std::string bytes = ReadWholeFile(SamplePath(source));
        for (size_t cut = 0; cut < bytes.size(); cut += cutStep)
            variants.push_back(bytes.substr(0, cut));
        for (size_t at = 0; at < bytes.size(); at += flipStep) {
            std::string changed = bytes;
            changed[at] = char(changed[at] ^ 0xFF);
            variants.push_back(changed);
            walk = (walk + 97) & 0xFF;
            changed[at] = char(walk);
            if (changed != bytes) variants.push_back(changed);
        }
    }
    return variants;
}
