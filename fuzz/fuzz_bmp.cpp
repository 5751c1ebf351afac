// The bitmap file check over the fuzzer's bytes as a whole file. A file it calls valid must have
// every byte the headers point at inside it.
#include "runtime/image/bmp_check.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Only the head is read, as ImageLoad reads it: a copy exactly that long catches over-reads.
    std::vector<uint8_t> head(data, data + (size < BmpHeadBytes ? size : BmpHeadBytes));
    BmpLayout layout{};
    BmpCheck check = BmpCheckFile(head.data(), head.size(), size, &layout);
    if (check != BmpCheck::Valid) return 0;
    if (layout.width < 1 || layout.height < 1) abort();
    // Uncompressed rows must all be in the file from where the data starts: the loader copies
    // plain rows from there itself.
    uint64_t rows = (uint64_t(layout.width) * layout.bitsPerPixel + 31) / 32 * 4 * layout.height;
    uint32_t compression = size >= 34 && data[14] != 12 ? data[30] : 0;
    if (layout.compression != compression) abort();
    if ((compression == 0 || compression == 3) && layout.dataStart + rows > size) abort();
    // The loader copies the colour table from the head into the section it makes.
    uint64_t entryBytes = layout.headerSize == 12 ? 3 : 4;
    if (layout.tableStart + uint64_t(layout.tableEntries) * entryBytes > head.size()) abort();
    if (layout.bitsPerPixel <= 8 && layout.tableEntries == 0) abort();
    return 0;
}
