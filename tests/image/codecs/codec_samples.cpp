#include "tests/image/codecs/codec_samples.h"

#include "tests/support/test_support.h"

#include <windows.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

std::string SamplesFolder() {
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("STRIPSHEET_CODEC_SAMPLES", value, sizeof value);
    if (n == 0 || n >= sizeof value) return std::string();
    std::string folder = value;
    // A Unix path from CTest: Wine maps it through the Z: drive.
    if (folder[0] == '/') folder = "Z:" + folder;
    for (char &c : folder)
        if (c == '/') c = '\\';
    if (folder.back() != '\\') folder += '\\';
    return folder;
}

std::string SamplePath(const char *relative) {
    std::string path = SamplesFolder() + relative;
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

std::vector<SampleEntry> SampleEntries(const char *kind) {
    std::vector<SampleEntry> entries;
    std::istringstream lines(ReadWholeFile(SamplesFolder() + "manifest.txt"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        SampleEntry entry;
        std::string file;
        fields >> entry.kind >> file >> entry.argument;
        if (entry.kind != kind) continue;
        entry.file = SamplePath(file.c_str());
        entries.push_back(entry);
    }
    return entries;
}

bool ReadExpected(const std::string &path, Picture &picture) {
    std::string bytes = ReadWholeFile(path);
    size_t end = bytes.find('\n');
    if (end == std::string::npos) return false;
    if (sscanf(bytes.c_str(), "%d %d %d", &picture.width, &picture.height, &picture.channels) != 3)
        return false;
    size_t size = size_t(picture.width) * picture.height * picture.channels;
    if (bytes.size() - end - 1 != size) return false;
    picture.samples.assign(bytes.begin() + end + 1, bytes.end());
    return true;
}

GuardedBlock::GuardedBlock(size_t size) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    size_t page = system.dwPageSize;
    size_t committed = (size + page - 1) / page * page;
    base_ = static_cast<uint8_t *>(
        VirtualAlloc(nullptr, committed + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base_) return;
    DWORD old;
    VirtualProtect(base_ + committed, page, PAGE_NOACCESS, &old);
    data_ = base_ + committed - size;
}

GuardedBlock::~GuardedBlock() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}

DecodeOutcome DecodeWith(const ImageDecoder &decoder, const std::string &path, bool memoryMode) {
    DecodeOutcome outcome;
    std::string bytes = ReadWholeFile(path);
    GuardedBlock block(bytes.size());
    FILE *stream = nullptr;
    if (memoryMode) {
        memcpy(block.data(), bytes.data(), bytes.size());
        outcome.opened = decoder.Open(nullptr, block.data(), intptr_t(bytes.size()));
    } else {
        stream = fopen(path.c_str(), "rb");
        if (!stream) return outcome;
        outcome.opened = decoder.Open(stream, nullptr, reinterpret_cast<intptr_t>(path.c_str()));
    }
    if (outcome.opened) {
        Picture &picture = outcome.picture;
        picture.width = decoder.Width();
        picture.height = decoder.Height();
        picture.channels = outcome.opened == 2 ? 4 : 3;
        constexpr int32_t Spare = 5;
        constexpr uint8_t Fill = 0xA5;
        int32_t stride = picture.width * picture.channels + Spare;
        std::vector<uint8_t> rows(size_t(stride) * picture.height, Fill);
        outcome.decoded = decoder.Decode(rows.data(), stride);
        picture.samples.resize(size_t(picture.width) * picture.height * picture.channels);
        uint8_t *out = picture.samples.data();
        for (int32_t y = 0; y < picture.height; ++y) {
            const uint8_t *row = rows.data() + size_t(y) * stride;
            for (int32_t x = 0; x < picture.width; ++x, row += picture.channels) {
                *out++ = row[2];
                *out++ = row[1];
                *out++ = row[0];
                if (picture.channels == 4) *out++ = row[3];
            }
            for (int32_t i = 0; i < Spare; ++i)
                if (row[i] != Fill) outcome.paddingKept = false;
        }
    }
    if (stream) fclose(stream);
    return outcome;
}

std::string PictureDifference(const Picture &actual, const Picture &expected) {
    std::ostringstream text;
    if (actual.width != expected.width || actual.height != expected.height ||
        actual.channels != expected.channels) {
        text << "size " << actual.width << "x" << actual.height << "x" << actual.channels
             << ", expected " << expected.width << "x" << expected.height << "x"
             << expected.channels;
        return text.str();
    }
    for (size_t i = 0; i < actual.samples.size(); ++i) {
        if (actual.samples[i] == expected.samples[i]) continue;
        size_t pixel = i / actual.channels;
        text << "pixel (" << pixel % actual.width << ", " << pixel / actual.width << ") channel "
             << i % actual.channels << " is " << int(actual.samples[i]) << ", expected "
             << int(expected.samples[i]);
        return text.str();
    }
    return std::string();
}

std::vector<std::string> DamagedVariants(const std::string &bytes, size_t cutStep,
                                         size_t flipStep) {
    std::vector<std::string> variants;
    for (size_t cut = 0; cut < bytes.size(); cut += cutStep)
        variants.push_back(bytes.substr(0, cut));
    unsigned walk = 0;
    for (size_t at = 0; at < bytes.size(); at += flipStep) {
        std::string changed = bytes;
        changed[at] = char(changed[at] ^ 0xFF);
        variants.push_back(changed);
        changed = bytes;
        walk = (walk + 97) & 0xFF;
        changed[at] = char(walk);
        if (changed != bytes) variants.push_back(changed);
    }
    return variants;
}

int MaxDifference(const Picture &a, const Picture &b) {
    int worst = 0;
    for (size_t i = 0; i < a.samples.size() && i < b.samples.size(); ++i)
        worst = std::max(worst, std::abs(a.samples[i] - b.samples[i]));
    return worst;
}

PixelBlock BlockFromPicture(const Picture &picture) {
    PixelBlock block{picture.width, picture.height, 3 * picture.width + picture.width % 4, {}};
    block.bytes.assign(size_t(block.stride) * (picture.height + 1), 0xEE);
    for (int32_t y = 0; y < picture.height; ++y) {
        uint8_t *row = block.bytes.data() + size_t(picture.height - 1 - y) * block.stride;
        for (int32_t x = 0; x < picture.width; ++x) {
            const uint8_t *in = picture.samples.data() + (size_t(y) * picture.width + x) * 3;
            row[3 * x] = in[2];
            row[3 * x + 1] = in[1];
            row[3 * x + 2] = in[0];
        }
    }
    return block;
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

std::map<int, std::vector<int>> QuantTables(const std::string &jpeg) {
    std::map<int, std::vector<int>> tables;
    const auto *p = reinterpret_cast<const uint8_t *>(jpeg.data());
    size_t pos = 2;
    // Marker segments up to the first scan, whose data follows.
    while (pos + 4 <= jpeg.size() && p[pos] == 0xFF && p[pos + 1] != 0xDA) {
        size_t length = size_t(p[pos + 2]) << 8 | p[pos + 3];
        if (p[pos + 1] == 0xDB) {
            for (size_t at = pos + 4; at < pos + 2 + length;) {
                int precision = p[at] >> 4, id = p[at] & 15;
                ++at;
                std::vector<int> values;
                for (int i = 0; i < 64; ++i, at += precision ? 2 : 1)
                    values.push_back(precision ? p[at] << 8 | p[at + 1] : p[at]);
                tables[id] = values;
            }
        }
        pos += 2 + length;
    }
    return tables;
}
