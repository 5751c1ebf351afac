#include "runtime/image/codecs/jpeg_codec.h"

#include "runtime/image/image_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

namespace {

constexpr size_t EndMarkerSize = 4096;

// What libjpeg may take for one picture: a progressive picture keeps all its coefficients, 3 bytes
// a pixel for the usual subsampled colour. A small file that declares a picture needing more makes
// starting fail with libjpeg's error instead of asking for gigabytes.
constexpr long JpegMemoryCeiling = long(ImageMaxBytes / 2);

// libjpeg's standard manager with a recovery point right behind it: the fatal-error routine
// reaches the point through the codec object's error-manager pointer.
struct JpegErrorManager {
    jpeg_error_mgr standard;
    jmp_buf recovery;
    void (*standardEmit)(j_common_ptr codec, int level);
    bool dataEndedEarly; // libjpeg made up the rest of the picture
};

struct JpegMemorySource {
    jpeg_source_mgr pub;
    const JOCTET *data;
    size_t remaining; // bytes of the block not yet handed to libjpeg
    JOCTET *endMarker;
};

struct JpegRowSink;
using JpegRowCopy = void (*)(const JpegRowSink *sink, JDIMENSION width);

struct JpegRowSink {
    uint8_t *row;     // the bitmap row the next scanline goes to
    JpegRowCopy copy; // null when libjpeg writes blue-green-red rows into the bitmap itself
    JSAMPROW staged;  // where libjpeg writes each row otherwise; null without `copy`
};

// libjpeg-turbo's colour conversion writes a row that starts on a multiple of 32 bytes with
// streaming stores, which go past the cache to memory; a bitmap's rows all start so when the
// picture is a multiple of 32 pixels wide. On a strip's narrow rows (64 pixels) that made
// decoding two to three times slower, and the cut then read the rows back from memory. Such
// rows are written into a row 16 bytes off that instead and copied in, unless the picture is
// larger than the caches hold: with the copy a 6 MB picture decoded in a sixth less time, a 12 MB
// one in a twentieth more.
constexpr int64_t JpegStagedMaxBytes = int64_t(8) << 20;

// The picture between Open and Decode, in a block of its own that the caller's picture record
// points to: the routines reach it through a pointer that never changes after the recovery point
// is set, so it survives the long jump.
struct JpegPicture {
    JpegErrorManager errors;
    jpeg_decompress_struct decompressor;
    uint8_t *fileBuffer; // file mode: the whole file, from the standard allocator
    const uint8_t *data; // the file buffer, or the caller's block in memory mode
    size_t size;
    int32_t width;
    int32_t height;
    JpegRowSink *sink; // null when libjpeg holds nothing for the picture
    bool started;      // decompression has begun (not for a picture too large for an image)
};

struct JpegWriteJob {
    JpegErrorManager errors;
    jpeg_compress_struct compressor;
};

// Sheets may be written on several threads at once: each has its own write job.
thread_local JpegWriteJob Job;
bool DecoderRegistered;
bool EncoderRegistered;

[[noreturn]] void JpegErrorExit(j_common_ptr codec) {
    longjmp(reinterpret_cast<JpegErrorManager *>(codec->err)->recovery, 1);
}

// Two warnings mean the picture's data ended before the picture did (the file, or the scan at a
// marker), and libjpeg filled in the rest; the others (stray bytes before a marker, say) are
// harmless and common.
void JpegEmitMessage(j_common_ptr codec, int level) {
    auto *errors = reinterpret_cast<JpegErrorManager *>(codec->err);
    int code = errors->standard.msg_code;
    if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER))
        errors->dataEndedEarly = true;
    errors->standardEmit(codec, level);
}

// Releases what libjpeg and the file buffer hold; the block itself stays, cleared.
void JpegPictureClear(JpegPicture *p) {
    // Safe on a decompressor that was never created: libjpeg only frees what it allocated.
    jpeg_destroy_decompress(&p->decompressor);
    free(p->fileBuffer);
    memset(p, 0, sizeof *p);
}

void JpegPictureRelease(ImagePicture *picture) {
    auto *p = static_cast<JpegPicture *>(picture->state);
    if (p) JpegPictureClear(p);
    free(p);
    *picture = ImagePicture{};
}

void JpegSourceInit(j_decompress_ptr) {}

void JpegSourceTerm(j_decompress_ptr) {}

// Never suspends: the whole block the first time, then an end-of-image marker after a warning,
// which lets libjpeg finish a picture whose data ends early.
boolean JpegSourceFill(j_decompress_ptr decompressor) {
    auto *source = reinterpret_cast<JpegMemorySource *>(decompressor->src);
    if (source->remaining > 0) {
        source->pub.next_input_byte = source->data;
        source->pub.bytes_in_buffer = source->remaining;
        source->remaining = 0;
    } else {
        WARNMS(decompressor, JWRN_JPEG_EOF);
        source->endMarker[0] = 0xFF;
        source->endMarker[1] = JPEG_EOI;
        source->pub.next_input_byte = source->endMarker;
        source->pub.bytes_in_buffer = 2;
    }
    return TRUE;
}

void JpegSourceSkip(j_decompress_ptr decompressor, long count) {
    if (count <= 0) return;
    jpeg_source_mgr *source = decompressor->src;
    size_t left = static_cast<size_t>(count);
    while (left > source->bytes_in_buffer) {
        left -= source->bytes_in_buffer;
        JpegSourceFill(decompressor);
    }
    source->next_input_byte += left;
    source->bytes_in_buffer -= left;
}

void JpegCopyRow(const JpegRowSink *sink, JDIMENSION width) {
    memcpy(sink->row, sink->staged, size_t(width) * 3);
}

// Other three-component pictures come out in their stored order, taken as red-green-blue.
void JpegCopyRgb(const JpegRowSink *sink, JDIMENSION width) {
    const JSAMPLE *in = sink->staged;
    uint8_t *out = sink->row;
    for (JDIMENSION x = 0; x < width; ++x, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

// Adobe's programs store CMYK inverted (255 means no ink), which is what such files hold in
// practice: each channel is then the stored colour value scaled by the stored black value.
void JpegCopyInvertedCmyk(const JpegRowSink *sink, JDIMENSION width) {
    const JSAMPLE *in = sink->staged;
    uint8_t *out = sink->row;
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        unsigned black = in[3];
        out[0] = static_cast<uint8_t>((in[2] * black + 127) / 255);
        out[1] = static_cast<uint8_t>((in[1] * black + 127) / 255);
        out[2] = static_cast<uint8_t>((in[0] * black + 127) / 255);
    }
}

// Reads the header and starts decompression of the data Open found: 1, or 0 with everything
// released. Across the recovery point only the picture's block is used, through `p`.
int32_t JpegStart(ImagePicture *picture) {
    auto *const p = static_cast<JpegPicture *>(picture->state);
    jpeg_decompress_struct &decompressor = p->decompressor;
    decompressor.err = jpeg_std_error(&p->errors.standard);
    p->errors.standard.error_exit = JpegErrorExit;
    p->errors.standardEmit = p->errors.standard.emit_message;
    p->errors.standard.emit_message = JpegEmitMessage;
    p->errors.dataEndedEarly = false;
    if (setjmp(p->errors.recovery)) {
        // A picture that starting found too big for the memory ceiling stays opened, with
        // nothing held: Decode refuses it, so it counts as a failed picture, not as no picture.
        int code = p->errors.standard.msg_code;
        bool tooBig = p->sink && (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY);
        int32_t width = p->width, height = p->height;
        if (!tooBig) {
            JpegPictureRelease(picture);
            return 0;
        }
        JpegPictureClear(p);
        p->width = width;
        p->height = height;
        return 1;
    }
    jpeg_create_decompress(&decompressor);
    decompressor.mem->max_memory_to_use = JpegMemoryCeiling;
    JpegMemorySourceSet(&decompressor, p->data, p->size);
    jpeg_read_header(&decompressor, TRUE);

    decompressor.dct_method = JDCT_ISLOW;
    // Colour and grey pictures come out of libjpeg-turbo as the bitmap's blue-green-red rows,
    // copied in from the staged row or, for a large picture, straight into the bitmap; the others
    // go through the staged row and a conversion.
    JpegRowCopy copy = nullptr;
    int components = 3;
    switch (decompressor.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
        decompressor.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        decompressor.out_color_space = JCS_CMYK;
        copy = JpegCopyInvertedCmyk;
        components = 4;
        break;
    default:
        copy = JpegCopyRgb;
        break;
    }
    jpeg_calc_output_dimensions(&decompressor);
    // Pictures of some other number of components (an unknown colour space) would be read past
    // the end of the row buffer: refuse them.
    if (decompressor.out_color_components != components) {
        JpegPictureRelease(picture);
        return 0;
    }

    if (!copy &&
        int64_t(decompressor.output_width) * decompressor.output_height * 3 <= JpegStagedMaxBytes)
        copy = JpegCopyRow;
    auto common = reinterpret_cast<j_common_ptr>(&decompressor);
    auto *sink = static_cast<JpegRowSink *>(
        (*decompressor.mem->alloc_small)(common, JPOOL_IMAGE, sizeof(JpegRowSink)));
    sink->staged = nullptr;
    if (copy) {
        size_t rowBytes = size_t(decompressor.output_width) * size_t(components);
        auto *staged = static_cast<JSAMPLE *>(
            (*decompressor.mem->alloc_large)(common, JPOOL_IMAGE, rowBytes + 32));
        sink->staged = staged + ((16 - (reinterpret_cast<uintptr_t>(staged) & 31)) & 31);
    }
    sink->copy = copy;
    sink->row = nullptr;

    p->width = static_cast<int32_t>(decompressor.output_width);
    p->height = static_cast<int32_t>(decompressor.output_height);
    p->sink = sink;
    picture->width = p->width;
    picture->height = p->height;
    // A picture larger than an image can hold is refused by the library as soon as it sees the
    // size, and Drop then releases it. Starting would first take in a progressive file
    // whole (gigabytes of coefficients for a header claiming 65500 x 65500) and decoding would
    // take minutes, all for a file of a few hundred bytes.
    if (!ImageBytesFit(p->width, p->height, 24)) return 1;
    jpeg_start_decompress(&decompressor);
    p->started = true;
    return 1;
}

int32_t JpegOpen(ImagePicture *picture, FILE *stream, const void *memory, intptr_t nameOrSize) {
    *picture = ImagePicture{};
    auto *p = static_cast<JpegPicture *>(calloc(1, sizeof(JpegPicture)));
    if (!p) return 0;
    picture->state = p;
    if (memory) {
        p->data = static_cast<const uint8_t *>(memory);
        p->size = static_cast<size_t>(nameOrSize);
        if (nameOrSize < 2 || p->data[0] != 0xFF || p->data[1] != 0xD8) {
            JpegPictureRelease(picture);
            return 0;
        }
    } else {
        // The signature before anything else: every file larger than the loader reads at once
        // that is not a PNG comes here, and must not cost an allocation of its size.
        uint8_t signature[2];
        long end = -1;
        if (stream && fread(signature, 1, 2, stream) == 2 && signature[0] == 0xFF &&
            signature[1] == 0xD8 && fseek(stream, 0, SEEK_END) == 0)
            end = ftell(stream);
        if (end < 2 || fseek(stream, 2, SEEK_SET) != 0 ||
            !(p->fileBuffer = static_cast<uint8_t *>(malloc(static_cast<size_t>(end))))) {
            JpegPictureRelease(picture);
            return 0;
        }
        memcpy(p->fileBuffer, signature, 2);
        // A short read hands libjpeg only the bytes that arrived.
        p->size = 2 + fread(p->fileBuffer + 2, 1, static_cast<size_t>(end) - 2, stream);
        p->data = p->fileBuffer;
    }
    return JpegStart(picture);
}

int32_t JpegDecode(ImagePicture *picture, uint8_t *pixels, int32_t stride) {
    auto *const p = static_cast<JpegPicture *>(picture->state);
    if (!p || !p->sink || !p->started) {
        JpegPictureRelease(picture);
        return 0;
    }
    if (setjmp(p->errors.recovery)) {
        JpegPictureRelease(picture);
        return 0;
    }
    JpegRowSink *sink = p->sink;
    for (int32_t y = 0; y < p->height; ++y) {
        sink->row = pixels + static_cast<ptrdiff_t>(y) * stride;
        JSAMPROW row = sink->copy ? sink->staged : sink->row;
        if (jpeg_read_scanlines(&p->decompressor, &row, 1) == 0) break;
        if (sink->copy) sink->copy(sink, static_cast<JDIMENSION>(p->width));
    }
    jpeg_finish_decompress(&p->decompressor);
    // Data that ends early was completed by libjpeg with made-up rows: a damaged picture.
    bool whole = !p->errors.dataEndedEarly;
    JpegPictureRelease(picture);
    return whole ? 1 : 0;
}

void JpegWriteEnd() {
    jpeg_destroy_compress(&Job.compressor);
}

// libjpeg's own error exit would end the whole process and lose the rest of the batch: every
// error long-jumps back here instead, and the encoder reports failure.
int32_t JpegEncode(FILE *stream, const uint8_t *pixels, int32_t width, int32_t height,
                   int32_t stride, int32_t quality) {
    // libjpeg's own size check misses a negative width on systems where long has 32 bits, and
    // its memory manager then divides by zero.
    if (!stream || width <= 0 || height <= 0) return 0;
    jpeg_compress_struct &compressor = Job.compressor;
    compressor.err = jpeg_std_error(&Job.errors.standard);
    Job.errors.standard.error_exit = JpegErrorExit;
    if (setjmp(Job.errors.recovery)) {
        JpegWriteEnd();
        return 0;
    }
    jpeg_create_compress(&compressor);
    jpeg_stdio_dest(&compressor, stream);
    // libjpeg checks the size when compression starts: too large ends in an error.
    compressor.image_width = static_cast<JDIMENSION>(width);
    compressor.image_height = static_cast<JDIMENSION>(height);
    compressor.input_components = 3;
    // The rows are blue-green-red: libjpeg-turbo takes them as they are, with the same colour
    // conversion it applies to red-green-blue rows.
    compressor.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&compressor);
    int32_t scale = quality < 0 ? 0 : quality > 10 ? 10 : quality;
    jpeg_set_quality(&compressor, scale * 10, FALSE);
    jpeg_start_compress(&compressor, TRUE);

    // The block is bottom-up: start from its last row so the first scanline is the top row.
    // libjpeg only reads the rows it is given.
    for (int32_t i = 0; i < height; ++i) {
        JSAMPROW row =
            const_cast<JSAMPROW>(pixels + static_cast<ptrdiff_t>(height - 1 - i) * stride);
        jpeg_write_scanlines(&compressor, &row, 1);
    }
    jpeg_finish_compress(&compressor);
    JpegWriteEnd();
    return 1;
}

} // namespace

const ImageDecoder JpegDecoder = {JpegOpen, JpegDecode, JpegPictureRelease};
const ImageEncoder JpegEncoder = {ImageFormatJpeg, JpegEncode, 24, false};

void JpegDecoderRegister() {
    if (DecoderRegistered) return;
    ImageDecoderRegister(&JpegDecoder);
    DecoderRegistered = true;
}

void JpegEncoderRegister() {
    if (EncoderRegistered) return;
    ImageEncoderRegister(&JpegEncoder);
    EncoderRegistered = true;
}

void JpegMemorySourceSet(jpeg_decompress_struct *decompressor, const unsigned char *data,
                         size_t size) {
    auto *source = reinterpret_cast<JpegMemorySource *>(decompressor->src);
    if (!source || source->pub.init_source != JpegSourceInit) {
        auto common = reinterpret_cast<j_common_ptr>(decompressor);
        source = static_cast<JpegMemorySource *>(
            (*decompressor->mem->alloc_small)(common, JPOOL_PERMANENT, sizeof(JpegMemorySource)));
        source->endMarker = static_cast<JOCTET *>(
            (*decompressor->mem->alloc_small)(common, JPOOL_PERMANENT, EndMarkerSize));
        decompressor->src = &source->pub;
    }
    source->pub.init_source = JpegSourceInit;
    source->pub.fill_input_buffer = JpegSourceFill;
    source->pub.skip_input_data = JpegSourceSkip;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = JpegSourceTerm;
    source->data = data;
    source->remaining = size;
    source->pub.bytes_in_buffer = 0;
    source->pub.next_input_byte = nullptr;
}
