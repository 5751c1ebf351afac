// One decoder (PNG or JPEG, chosen at build time) in memory mode over the fuzzer's bytes: Open,
// then Decode into rows exactly as long as the picture needs, or Drop.
#include "runtime/image/codecs/jpeg_codec.h"
#include "runtime/image/codecs/png_codec.h"

#include <cstdlib>
#include <cstring>
#include <vector>

// The codecs register with the image library, which is not part of this build.
void ImageDecoderRegister(const ImageDecoder *) {}
void ImageEncoderRegister(const ImageEncoder *) {}

namespace {
// Larger pictures are refused as the library would, only sooner: the fuzzer's memory is small.
constexpr int64_t FuzzMaxPixels = int64_t(1) << 22;
} // namespace

// The PNG decoder reads a transparency chunk two ways (as alpha for /alpha runs): half the inputs
// each way, by the parity of their size.
#ifdef FUZZ_PNG
static void ChooseTransparency(size_t size) {
    PngDecoderKeepTransparency(size % 2 == 1);
}
#else
static void ChooseTransparency(size_t) {}
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const ImageDecoder &decoder = FUZZ_DECODER;
    ChooseTransparency(size);
    // A copy exactly as long as the input, so that a read past its end is caught.
    std::vector<uint8_t> block(data, data + size);
    ImagePicture picture{};
    int32_t kind =
        decoder.Open(&picture, nullptr, block.empty() ? nullptr : block.data(), intptr_t(size));
    if (!kind) return 0;
    int32_t width = picture.width, height = picture.height;
    if (!ImageBytesFit(width, height, kind == 2 ? 32 : 24) ||
        int64_t(width) * height > FuzzMaxPixels) {
        decoder.Drop(&picture);
        return 0;
    }
    int32_t stride = width * (kind == 2 ? 4 : 3);
    // Each row on its own would catch more, but the decoders write whole rows at a stride:
    // exact rows back to back, the last one ending where the block ends.
    std::vector<uint8_t> pixels(size_t(stride) * height);
    decoder.Decode(&picture, pixels.data(), stride);
    return 0;
}
