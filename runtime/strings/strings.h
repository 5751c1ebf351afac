// String values, the temporary string area, and the text and number functions.
//
// Every operation that returns a text takes, as its last argument, the position in the temporary
// area at which to write it; it writes the text and its NUL there and leaves the area's end just
// behind the text. Callers build expressions at the area's end and then take the value with
// StringAssignTemp or set the end back.
#pragma once

#include <cstdint>

// Null or a StringHeap block holding the text; null and "" are the same string everywhere.
using StringValue = char *;

struct TempStringArea {
    char *base;
    int32_t capacity;
    int32_t end; // the first free byte; the text under construction ends here
};
extern TempStringArea TempString;

// True when a character of the process's code page can take more than one byte (UTF-8 under the
// program's manifest): then only A to Z and a to z change case. Set by TempStringInit.
extern bool StringMultibyteCodePage;

// String values and the temporary area.
void TempStringInit();
void StringCopyNew(StringValue *variable, const char *text);
void StringAssign(StringValue *variable, const char *text);
void StringAssignTemp(StringValue *variable, int32_t position);
void StringFree(const char *text);
int32_t StringEqual(const char *a, const char *b);
void StringConcat(const char *text);
char *TempReserve(int32_t n, int32_t position);
void TempGiveBack(int32_t n);
uintptr_t TempOffsetOf(const char *address);
char *TempAddressOf(uintptr_t offset);
char *TempAddress(int32_t position);
void TextCopyWords(char *destination, const char *source, int32_t n);

// Functions returning a number.
int32_t StringLength(const char *text);
int32_t StringCharCode(const char *text);
int32_t StringToInteger(const char *text);
int32_t StringOccurrences(const char *text, const char *pattern);

// Functions returning a text at `position`.
void StringFromInteger(int32_t value, int32_t position);
void StringMid(const char *text, int32_t start, int32_t length, int32_t position);
void StringLeft(const char *text, int32_t n, int32_t position);
void StringRight(const char *text, int32_t n, int32_t position);
void StringLower(const char *text, int32_t position);
void StringUpper(const char *text, int32_t position);
void StringNthField(const char *text, int32_t index, const char *separator, int32_t position);
void PathExtension(const char *path, int32_t position);
void PathFileName(const char *path, int32_t position);
// Where the last part of a path begins: behind its last "\", "/" or drive ":" (C:walk_H4.png is
// walk_H4.png in drive C's current folder), never inside a character of the code page. The one
// rule of every place that splits a path.
const char *PathLastPart(const char *path);
// Whether a name put right behind `folder` needs a "\" in front: the folder is not empty and its
// last part is not (a drive "C:" ends in a separator: a name after it is in that drive's folder).
bool PathNeedsSeparator(const char *folder);

// The text of the process's code page in UTF-16, in a new MainHeap block that the caller frees
// with MemoryFree; `length` (when given) gets its characters without the NUL. Null when memory is
// short or the text cannot be converted. Any thread may call it, as the saving threads do to
// rename a finished sheet: it touches no string value, temporary area or StringHeap.
wchar_t *TextToWide(const char *text, int32_t *length = nullptr);

// Numbers and colours.
enum : int32_t { RoundDown = 0, RoundUp = 1, RoundNearest = 2 };
float FloatRound(float value, int32_t mode);
int32_t FloatToInteger(double value);
uint32_t ColorRgb(int32_t red, int32_t green, int32_t blue);
