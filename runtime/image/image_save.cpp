// Writing a sheet's file: its rows taken from the image, the built-in BMP writer or an encoder,
// and the temporary file renamed over the final name once complete.
#include "runtime/image/image_save.h"

#include "runtime/image/gdi_guards.h"
#include "runtime/image/sheet_rows.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "runtime/system/system.h"

#include <io.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t EncoderTableSize = 100;

const ImageEncoder *Encoders[EncoderTableSize];
int32_t EncoderCount;

const ImageEncoder *EncoderFor(int32_t formatId) {
    for (int32_t i = 0; i < EncoderCount; i++)
        if (Encoders[i]->FormatId == formatId) return Encoders[i];
    return nullptr;
}

bool WriteAll(FILE *stream, const void *data, size_t size) {
    return fwrite(data, 1, size, stream) == size;
}

// Files go to the system in pieces of this size, gathered by the stream from the encoders' small
// writes: one call for every 4 KB (the C runtime's own buffer) costs a trip into the system each,
// thousands for a large sheet under Wine. Larger calls can cost more still: on the bench's machine,
// natively and under Wine alike, there were stretches where writing 12 MB took 40 to 200 ms with
// one call and 37 ms in pieces of 256 KB or 1 MB, but 4 to 6 ms in pieces of 64 KB.
constexpr size_t WritePieceBytes = size_t(64) << 10;

// Writes the bytes through the stream's file handle in pieces, bypassing its buffer, which holds
// nothing yet: gathering them first would copy them once more.
bool WriteDirect(FILE *stream, const void *data, size_t size) {
    if (fflush(stream) != 0) return false;
    auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    auto *at = static_cast<const char *>(data);
    while (size > 0) {
        DWORD want = DWORD(size > WritePieceBytes ? WritePieceBytes : size);
        DWORD written = 0;
        if (!WriteFile(file, at, want, &written, nullptr) || written != want) return false;
        at += want;
        size -= want;
    }
    return true;
}

// The built-in writer: a 14-byte file header, the 40-byte info header and the rows as they are
// in the block (bottom row first, each padded to whole 32-bit words). With room for the headers
// right before the rows, they are put there and the file written from there, nothing gathered.
int32_t BmpWrite(FILE *stream, const BITMAPINFOHEADER &header, const uint8_t *pixels,
                 uint8_t *headRoom) {
    static_assert(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) == SheetHeadRoom,
                  "the headers fill the room before the rows");
    DWORD headerBytes = header.biSize + 4 * header.biClrUsed;
    BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = 0x4D42; // "BM"
    fileHeader.bfSize = sizeof fileHeader + headerBytes + header.biSizeImage;
    fileHeader.bfOffBits = sizeof fileHeader + headerBytes;
    if (headRoom && headerBytes == sizeof header) {
        memcpy(headRoom, &fileHeader, sizeof fileHeader);
        memcpy(headRoom + sizeof fileHeader, &header, sizeof header);
        return WriteDirect(stream, headRoom, fileHeader.bfSize) ? 1 : 0;
    }
    return WriteAll(stream, &fileHeader, sizeof fileHeader) &&
                   WriteAll(stream, &header, headerBytes) &&
                   WriteDirect(stream, pixels, header.biSizeImage)
               ? 1
               : 0;
}

// The folder part of a file name, for a temporary file beside it: up to and including the last
// separator, or nothing for a name in the current folder (the temporary's name is put after it).
void FolderOf(const char *fileName, char *folder, size_t size) {
    size_t n = size_t(PathLastPart(fileName) - fileName);
    if (n >= size) n = size - 1;
    memcpy(folder, fileName, n);
    folder[n] = 0;
}

// The pixel rows of an image the library made as a bottom-up section of `bits` bits a pixel and of
// exactly that size and row length, or null for any other image. The padding at the end of each
// row, which no drawing touches, is cleared so that a file written from the rows holds zeros there.
uint8_t *SectionRows(const ImageObject &image, int32_t width, int32_t height, int64_t stride,
                     int32_t bits) {
    DIBSECTION section{};
    if (!image.bottomUpSection) return nullptr;
    if (GetObjectA(image.handle, sizeof section, &section) != sizeof section) return nullptr;
    const BITMAPINFOHEADER &h = section.dsBmih;
    if (!section.dsBm.bmBits || h.biBitCount != bits || h.biCompression != BI_RGB ||
        h.biWidth != width || std::abs(h.biHeight) != height || section.dsBm.bmWidthBytes != stride)
        return nullptr;
    GdiFlush(); // drawing the system still holds back must reach the pixels first
    auto *rows = static_cast<uint8_t *>(section.dsBm.bmBits);
    ClearRowEnds(rows, width, height, stride, bits);
    return rows;
}

// A file of the thread's own in the folder, "~sht<thread>-<n>.tmp", made new (never one that is
// there already) and opened for writing through the handle that made it: under Wine every open
// of a name costs a look through the folder. Null when none can be made; `temporary` gets its name.
FILE *CreateTemporary(const char *folder, char *temporary, size_t size) {
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        int length = snprintf(temporary, size, "%s~sht%lx-%x.tmp", folder,
                              static_cast<unsigned long>(GetCurrentThreadId()), attempt);
        if (length < 0 || size_t(length) >= size) return nullptr;
        // DELETE: the finished file is renamed through this same handle.
        HANDLE file = CreateFileA(temporary, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return nullptr;
        }
        if (FILE *stream = FileStreamOf(file, true)) return stream;
        DeleteFileA(temporary);
        return nullptr;
    }
    return nullptr;
}

// Gives the open file `file` the name `target`, replacing a file of that name when `replace`;
// ERROR_SUCCESS or why not. Through the handle rather than by name: under Wine a rename by name
// opens the file again and closes it, two more calls to its server for every sheet.
DWORD RenameOpenFile(HANDLE file, const char *target, bool replace) {
    int32_t characters = 0;
    wchar_t *wide = TextToWide(target, &characters);
    size_t size = offsetof(FILE_RENAME_INFO, FileName) + sizeof(WCHAR) * size_t(characters + 1);
    auto *info = wide && characters >= 1 && characters < 32767
                     ? static_cast<FILE_RENAME_INFO *>(MemoryAlloc(size))
                     : nullptr;
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    if (info) {
        info->ReplaceIfExists = replace;
        info->FileNameLength = DWORD(sizeof(WCHAR) * size_t(characters));
        memcpy(info->FileName, wide, sizeof(WCHAR) * size_t(characters + 1));
        error = SetFileInformationByHandle(file, FileRenameInfo, info, DWORD(size))
                    ? ERROR_SUCCESS
                    : GetLastError();
    }
    MemoryFree(info);
    MemoryFree(wide);
    return error;
}

ImageSaveFailure LastSaveFailure;

// A file marked read-only (version control systems mark the files checked in so) is not replaced.
bool ReadOnlyFile(const char *fileName) {
    DWORD attributes = GetFileAttributesA(fileName);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
           !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Writes the contents of a file to the open stream; 0 on failure.
using ContentsRoutine = int32_t (*)(FILE *stream, const void *contents);

KeptBlock BatchGather;

// The first half of writing a file whole: the contents go to a temporary file beside the final
// one, left open for RenameTemporary, so that a failed write neither destroys an existing file nor
// leaves a half-written one under the final name. `bytes` is about what `write` will write through
// the stream, 0 when it writes straight to the file (WriteDirect) and needs no gathering block,
// which stays the stream's until the file is closed. Any thread may run it: it touches its
// arguments, the file system, MainHeap (`gather`) and runs `write`. Returns None with the file
// open, or why not, with nothing left open.
ImageSaveFailure WriteTemporary(const char *fileName, ContentsRoutine write, const void *contents,
                                size_t bytes, KeptBlock *gather, TemporaryFile *made) {
    made->stream = nullptr;
    char folder[MAX_PATH];
    FolderOf(fileName, folder, sizeof folder);
    FILE *stream = CreateTemporary(folder, made->name, sizeof made->name);
    if (!stream) return ImageSaveFailure::NotWritten;
    // Without memory for the block the stream keeps its own buffer.
    size_t size = bytes < 2 ? 2 : bytes > WritePieceBytes ? WritePieceBytes : bytes;
    if (bytes > 0 && gather)
        if (uint8_t *block = KeptBlockOf(gather, size))
            setvbuf(stream, reinterpret_cast<char *>(block), _IOFBF, size);
    int32_t result = write(stream, contents);
    // Data still buffered may fail to reach the disk only now. The flush is asked for on its own:
    // the C runtime under Wine reports a full disk from fflush but not from fclose.
    bool flushed = fflush(stream) == 0 && !ferror(stream);
    made->stream = stream;
    if (result && flushed) return ImageSaveFailure::None;
    DropTemporary(made);
    // A read-only file of that name would have refused the rename anyway: it is the reason given.
    return ReadOnlyFile(fileName) ? ImageSaveFailure::ReadOnly : ImageSaveFailure::NotWritten;
}

// The file goes to a temporary file and replaces the final one only when complete.
ImageSaveFailure WriteWholeFile(const char *fileName, ContentsRoutine write, const void *contents,
                                size_t bytes, KeptBlock *gather) {
    TemporaryFile temporary;
    ImageSaveFailure written = WriteTemporary(fileName, write, contents, bytes, gather, &temporary);
    return written == ImageSaveFailure::None ? RenameTemporary(&temporary, fileName) : written;
}

int32_t WriteSheetRows(FILE *stream, const void *contents) {
    const SheetRows &sheet = *static_cast<const SheetRows *>(contents);
    return sheet.formatId == ImageFormatBmp
               ? BmpWrite(stream, sheet.header, sheet.rows, sheet.headRoom)
               : ImageEncode(stream, sheet.rows, sheet.formatId, sheet.header.biWidth,
                             sheet.header.biHeight, sheet.stride, sheet.quality);
}

struct Bytes {
    const void *data;
    size_t size;
};

int32_t WriteBytes(FILE *stream, const void *contents) {
    const Bytes &bytes = *static_cast<const Bytes *>(contents);
    return WriteDirect(stream, bytes.data, bytes.size) ? 1 : 0;
}

} // namespace

void ClearRowEnds(uint8_t *rows, int32_t width, int32_t height, int64_t stride, int32_t bits) {
    int64_t used = int64_t(width) * (bits / 8);
    if (used != stride)
        for (int32_t y = 0; y < height; y++)
            memset(rows + y * stride + used, 0, size_t(stride - used));
}

ImageSaveFailure RenameTemporary(TemporaryFile *file, const char *fileName) {
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file->stream)));
    // A name not taken yet is taken at once; a file already there is replaced unless read-only.
    // In that order because under Wine asking after a name that is not there costs a look
    // through the folder, and Wine's rename replaces a read-only file where Windows' refuses.
    DWORD error = RenameOpenFile(handle, fileName, false);
    bool readOnly = false;
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        readOnly = ReadOnlyFile(fileName);
        if (!readOnly) error = RenameOpenFile(handle, fileName, true);
    }
    bool renamed = error == ERROR_SUCCESS;
    // Once renamed, the file is whole on disk: a failed close is counted but must not remove it.
    bool closed = fclose(file->stream) == 0;
    file->stream = nullptr;
    // A system that will not rename an open file by this name still may once it is closed.
    if (closed && !renamed && !readOnly) {
        readOnly = ReadOnlyFile(fileName);
        if (!readOnly) renamed = MoveFileExA(file->name, fileName, MOVEFILE_REPLACE_EXISTING) != 0;
    }
    if (!renamed) DeleteFileA(file->name);
    if (renamed && closed) return ImageSaveFailure::None;
    // The answer kept from the rename, when the file was found read-only there.
    return readOnly || ReadOnlyFile(fileName) ? ImageSaveFailure::ReadOnly
                                              : ImageSaveFailure::NotWritten;
}

void DropTemporary(TemporaryFile *file) {
    if (!file->stream) return;
    fclose(file->stream);
    file->stream = nullptr;
    DeleteFileA(file->name);
}

bool SheetRowsDescribe(int32_t width, int32_t height, int32_t formatId, int32_t quality,
                       int32_t bits, SheetRows *sheet) {
    const ImageEncoder *encoder = EncoderFor(formatId);
    if (formatId != ImageFormatBmp && !encoder) return false;
    int32_t wanted = formatId != ImageFormatBmp && encoder->BitsPerPixel == 32 ? 32 : 24;
    if (width < 1 || height < 1 || (bits && bits != wanted)) return false;
    int64_t stride = BitmapRowBytes(width, wanted);
    uint64_t blockSize = uint64_t(height + 1) * uint64_t(stride);
    if (blockSize > UINT32_MAX || blockSize > SIZE_MAX) return false;

    BITMAPINFOHEADER &header = sheet->header;
    header = BITMAPINFOHEADER{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height; // bottom-up
    header.biPlanes = 1;
    header.biBitCount = WORD(wanted);
    header.biCompression = BI_RGB;
    header.biSizeImage = DWORD(stride * height);
    sheet->rows = nullptr;
    sheet->block = nullptr;
    sheet->headRoom = nullptr;
    sheet->gather = nullptr;
    sheet->formatId = formatId;
    sheet->quality = quality;
    sheet->stride = int32_t(stride);
    sheet->heavy = encoder && encoder->Heavy;
    return true;
}

bool TakeSheetRows(ObjectId id, const char *fileName, int32_t formatId, int32_t quality,
                   SheetRows *sheet) {
    ImageObject *record = ImageRecord(id);
    if (!record || !fileName) return false;

    // The system's own size, not the record's 16-bit copy.
    BITMAP bitmap{};
    if (GetObjectType(record->handle) != OBJ_BITMAP ||
        !GetObjectA(record->handle, sizeof bitmap, &bitmap))
        return false;
    int32_t width = bitmap.bmWidth;
    int32_t height = std::abs(bitmap.bmHeight);
    if (!SheetRowsDescribe(width, height, formatId, quality, 0, sheet)) return false;
    BITMAPINFOHEADER &header = sheet->header;
    header.biPlanes = bitmap.bmPlanes;
    int32_t bits = header.biBitCount;
    int64_t stride = sheet->stride;
    uint64_t blockSize = uint64_t(height + 1) * uint64_t(stride);

    // A bottom-up section of that depth already holds the rows as they are written: no copy.
    sheet->rows = SectionRows(*record, width, height, stride, bits);
    // Otherwise a zero-filled block, so the padding at the end of each row is written as zeros.
    sheet->gather = &BatchGather;
    if (!sheet->rows) {
        sheet->block = static_cast<uint8_t *>(MemoryAlloc(size_t(blockSize)));
        if (!sheet->block) return false;
        MemoryDc memory;
        if (memory.dc && GetDIBits(memory.dc, static_cast<HBITMAP>(record->handle), 0, UINT(height),
                                   sheet->block, reinterpret_cast<BITMAPINFO *>(&header),
                                   DIB_RGB_COLORS) == height)
            sheet->rows = sheet->block;
    }
    if (!sheet->rows) {
        MemoryFree(sheet->block);
        sheet->block = nullptr;
        return false;
    }
    // The system may have rewritten fields of the header; the file gets the plain ones.
    header.biSize = sizeof header;
    header.biCompression = BI_RGB;
    header.biSizeImage = DWORD(stride * height);
    header.biXPelsPerMeter = header.biYPelsPerMeter = 0;
    header.biClrUsed = header.biClrImportant = 0;
    sheet->fileName = fileName;
    return true;
}

ImageSaveFailure WriteSheetFile(const SheetRows &sheet) {
    TemporaryFile temporary;
    ImageSaveFailure written = WriteSheetTemporary(sheet, &temporary);
    return written == ImageSaveFailure::None ? RenameTemporary(&temporary, sheet.fileName)
                                             : written;
}

ImageSaveFailure WriteSheetTemporary(const SheetRows &sheet, TemporaryFile *made) {
    // The rows and headers as a bitmap file; a PNG file holds a little more for rows that do not
    // compress (a filter byte a row, block and chunk headers), a JPEG file far less.
    size_t rows = sheet.header.biSizeImage;
    size_t bytes = rows + rows / 256 + size_t(sheet.header.biHeight) + 4096;
    bool direct = sheet.formatId == ImageFormatBmp && sheet.headRoom;
    return WriteTemporary(sheet.fileName, WriteSheetRows, &sheet, direct ? 0 : bytes, sheet.gather,
                          made);
}

void BatchGatherRelease() {
    KeptBlockTrim(&BatchGather);
}

int32_t SaveResult(ImageSaveFailure result) {
    LastSaveFailure = result;
    return result == ImageSaveFailure::None ? 1 : 0;
}

void ImageEncoderRegister(const ImageEncoder *encoder) {
    if (!encoder || EncoderCount >= EncoderTableSize) return;
    Encoders[EncoderCount++] = encoder;
}

int32_t ImageEncode(FILE *stream, const uint8_t *pixels, int32_t formatId, int32_t width,
                    int32_t height, int32_t stride, int32_t quality) {
    const ImageEncoder *encoder = EncoderFor(formatId);
    if (!encoder) return 0;
    return encoder->Encode(stream, pixels, width, height, stride, quality);
}

int32_t ImageSave(ObjectId id, const char *fileName, int32_t formatId, int32_t quality) {
    SheetRows sheet{};
    if (!TakeSheetRows(id, fileName, formatId, quality, &sheet))
        return SaveResult(ImageSaveFailure::NotWritten);
    WaitForQueuedSaves(fileName);
    ImageSaveFailure result = WriteSheetFile(sheet);
    MemoryFree(sheet.block);
    return SaveResult(result);
}

int32_t ImageSaveBytes(const char *fileName, const void *data, size_t size) {
    if (!fileName || (!data && size)) return 0;
    WaitForQueuedSaves(fileName);
    Bytes bytes{data, size};
    ImageSaveFailure result = WriteWholeFile(fileName, WriteBytes, &bytes, 0, nullptr);
    return result == ImageSaveFailure::None ? 1 : 0;
}

ImageSaveFailure ImageLastSaveFailure() {
    return LastSaveFailure;
}
