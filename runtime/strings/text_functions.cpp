// The text and number functions. The text functions write their result into the temporary
// area at the given position; an argument may itself be an earlier result in the area.
#include "runtime/strings/strings.h"

#include <windows.h>

#include <cmath>
#include <cstring>

namespace {

// The decimal digits of the most negative integer, whose magnitude has no 32-bit form.
constexpr char MostNegativeDigits[] = "2147483648";
constexpr int32_t IntegerTextRoom = 32;

// Reserves size bytes at position for a result computed from text, and finds text again if it
// lay in the area and the area moved while growing.
char *ReserveFor(const char *&text, int32_t size, int32_t position) {
    uintptr_t offset = TempOffsetOf(text);
    char *destination = TempReserve(size, position);
    if (offset) text = TempAddressOf(offset);
    return destination;
}

// Writes the n bytes at source (which may be in the area) as the result at position.
void PutResult(const char *source, int32_t n, int32_t position) {
    char *destination = ReserveFor(source, n, position);
    TextCopyWords(destination, source, n);
}

int32_t ClampToLength(int32_t n, int32_t length) {
    if (n < 0) return 0;
    return n < length ? n : length;
}

// The high range holds the accented letters of the Western code page; in a code page of
// multibyte characters (UTF-8) those bytes are pieces of characters and stay as they are.
template <unsigned char From, unsigned char To, unsigned char HighFrom, unsigned char HighTo,
          int Shift>
void MapCase(const char *text, int32_t position) {
    if (!text) text = "";
    int32_t n = StringLength(text);
    char *destination = ReserveFor(text, n, position);
    // Front to back, so the result may replace its own argument.
    for (int32_t i = 0; i < n; i++) {
        auto c = static_cast<unsigned char>(text[i]);
        bool high = !StringMultibyteCodePage && c >= HighFrom && c <= HighTo;
        if ((c >= From && c <= To) || high) c = c + Shift;
        destination[i] = static_cast<char>(c);
    }
    destination[n] = 0;
}

int32_t DigitValue(unsigned char c, int32_t radix) {
    int32_t value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (radix == 16 && c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    else if (radix == 16 && c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    return value < radix ? value : -1;
}

} // namespace

int32_t StringLength(const char *text) {
    return text ? int32_t(std::strlen(text)) : 0;
}

int32_t StringCharCode(const char *text) {
    return text ? static_cast<unsigned char>(text[0]) : 0;
}

int32_t StringToInteger(const char *text) {
    if (!text) return 0;
    auto *p = reinterpret_cast<const unsigned char *>(text);
    while (*p == ' ' || *p == '\t')
        p++;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    int32_t radix = 10;
    if (*p == '$')
        radix = 16, p++;
    else if (*p == '%')
        radix = 2, p++;
    // Wraps modulo 2^32, as the runtime's integers do.
    uint32_t value = 0;
    for (int32_t digit; (digit = DigitValue(*p, radix)) >= 0; p++)
        value = value * uint32_t(radix) + uint32_t(digit);
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

int32_t StringOccurrences(const char *text, const char *pattern) {
    int32_t patternLength = StringLength(pattern);
    if (StringLength(text) == 0 || patternLength == 0) return 0;
    int32_t count = 0;
    for (const char *p = text; *p;) {
        if (std::strncmp(p, pattern, size_t(patternLength)) == 0) {
            count++;
            p += patternLength;
        } else {
            p++;
        }
    }
    return count;
}

void StringFromInteger(int32_t value, int32_t position) {
    char *destination = TempReserve(IntegerTextRoom, position);
    char digits[IntegerTextRoom];
    int32_t count = 0;
    if (value == INT32_MIN) {
        count = sizeof MostNegativeDigits - 1;
        for (int32_t i = 0; i < count; i++)
            digits[i] = MostNegativeDigits[count - 1 - i];
    } else {
        int32_t magnitude = value < 0 ? -value : value;
        do {
            digits[count++] = char('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude);
    }
    int32_t length = 0;
    if (value < 0) destination[length++] = '-';
    while (count)
        destination[length++] = digits[--count];
    destination[length] = 0;
    TempGiveBack(IntegerTextRoom - length);
}

void StringMid(const char *text, int32_t start, int32_t length, int32_t position) {
    if (length < 0) length = 0;
    if (start < 1) start = 1;
    int32_t textLength = StringLength(text);
    // Reserve only what the text can supply: a caller may ask for "the rest" with a huge length.
    int32_t available = textLength - (start - 1);
    int32_t n = ClampToLength(length, available > 0 ? available : 0);
    PutResult(n ? text + (start - 1) : "", n, position);
}

void StringLeft(const char *text, int32_t n, int32_t position) {
    n = ClampToLength(n, StringLength(text));
    PutResult(n ? text : "", n, position);
}

void StringRight(const char *text, int32_t n, int32_t position) {
    int32_t length = StringLength(text);
    n = ClampToLength(n, length);
    PutResult(n ? text + (length - n) : "", n, position);
}

void StringLower(const char *text, int32_t position) {
    MapCase<0x41, 0x5A, 0xC0, 0xDE, 0x20>(text, position);
}

void StringUpper(const char *text, int32_t position) {
    MapCase<0x61, 0x7A, 0xE0, 0xFF, -0x20>(text, position);
}

void StringNthField(const char *text, int32_t index, const char *separator, int32_t position) {
    if (!text) text = "";
    char mark = separator ? separator[0] : 0;
    if (index < 1) index = 1;
    const char *field = text;
    // An empty separator leaves the whole text as field 1.
    for (int32_t number = 1; number < index && field; number++) {
        const char *next = mark ? std::strchr(field, mark) : nullptr;
        field = next ? next + 1 : nullptr;
    }
    if (!field) {
        PutResult("", 0, position);
        return;
    }
    const char *fieldEnd = mark ? std::strchr(field, mark) : nullptr;
    int32_t n = fieldEnd ? int32_t(fieldEnd - field) : StringLength(field);
    PutResult(field, n, position);
}

const char *PathLastPart(const char *path) {
    const char *start = path;
    for (const char *p = path; *p; p++) {
        // A double-byte character (code page 932 and its kin) may end in the byte of "\".
        if (IsDBCSLeadByte(static_cast<unsigned char>(*p)) && p[1])
            p++;
        else if (*p == '\\' || *p == '/' || *p == ':')
            start = p + 1;
    }
    return start;
}

bool PathNeedsSeparator(const char *folder) {
    return folder && *folder && *PathLastPart(folder);
}

void PathExtension(const char *path, int32_t position) {
    const char *dot = path ? std::strrchr(PathLastPart(path), '.') : nullptr;
    if (!dot) {
        PutResult("", 0, position);
        return;
    }
    const char *extension = dot + 1;
    const char *quote = std::strchr(extension, '"');
    PutResult(extension, quote ? int32_t(quote - extension) : StringLength(extension), position);
}

void PathFileName(const char *path, int32_t position) {
    if (!path) path = "";
    const char *start = PathLastPart(path[0] == '"' ? path + 1 : path);
    const char *quote = std::strchr(start, '"');
    PutResult(start, quote ? int32_t(quote - start) : StringLength(start), position);
}

float FloatRound(float value, int32_t mode) {
    double v = value;
    double rounded;
    if (mode == RoundUp)
        rounded = std::ceil(v);
    else if (mode == RoundNearest)
        rounded = v > 0 ? std::floor(v + 0.5) : std::ceil(v - 0.5);
    else
        rounded = std::floor(v);
    return float(rounded);
}

int32_t FloatToInteger(double value) {
    // Out-of-range values saturate (and NaN gives 0) instead of being undefined.
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(value);
}

uint32_t ColorRgb(int32_t red, int32_t green, int32_t blue) {
    return uint32_t(red) + uint32_t(green) * 256u + uint32_t(blue) * 65536u;
}
