// The frame data file: JSON in UTF-8, written with the keys in a fixed order.
#include "app/frame_data.h"

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

void Put(Text *t, const char *text, size_t length) {
    if (t->failed) return;
    if (t->used + length > t->capacity) {
        size_t capacity = t->capacity ? t->capacity : 4096;
        while (t->used + length > capacity)
            capacity *= 2;
        auto *grown = static_cast<char *>(MemoryAlloc(capacity));
        if (!grown) {
            t->failed = true;
            return;
        }
        if (t->data) memcpy(grown, t->data, t->used);
        MemoryFree(t->data);
        t->data = grown;
        t->capacity = capacity;
    }
    memcpy(t->data + t->used, text, length);
    t->used += length;
}

void Put(Text *t, const char *text) {
    Put(t, text, strlen(text));
}

void PutNumber(Text *t, int64_t value) {
    char digits[24];
    int length = snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
    Put(t, digits, size_t(length));
}

// A fraction in millionths as the shortest decimal that is exactly it: 0, 1, 0.5, 0.125.
void PutFraction(Text *t, int32_t millionths) {
    char digits[16];
    int length =
        snprintf(digits, sizeof digits, "%d.%06d", millionths / PivotOne, millionths % PivotOne);
    while (digits[length - 1] == '0')
        length--;
    if (digits[length - 1] == '.') length--;
    Put(t, digits, size_t(length));
}

// A text of the process's code page in UTF-8 as a JSON string, quotes and escapes included.
void PutString(Text *t, const char *text) {
    wchar_t *wide = TextToWide(text);
    int utf8Length =
        wide ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr) : 0;
    auto *utf8 = utf8Length > 0 ? static_cast<char *>(MemoryAlloc(size_t(utf8Length))) : nullptr;
    if (!utf8 || WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, utf8Length, nullptr, nullptr) !=
                     utf8Length) {
        t->failed = true;
    } else {
        Put(t, "\"");
        for (const char *p = utf8; *p; p++) {
            auto c = static_cast<unsigned char>(*p);
            if (c == '"' || c == '\\') {
                char escaped[2] = {'\\', char(c)};
                Put(t, escaped, 2);
            } else if (c < 0x20) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\u%04x", c);
                Put(t, escaped, 6);
            } else {
                Put(t, p, 1);
            }
        }
        Put(t, "\"");
    }
    MemoryFree(utf8);
    MemoryFree(wide);
}

void PutSize(Text *t, const char *key, int32_t w, int32_t h) {
    Put(t, key);
    Put(t, "{\"w\": ");
    PutNumber(t, w);
    Put(t, ", \"h\": ");
    PutNumber(t, h);
    Put(t, "}");
}

void PutField(Text *t, const char *key, int64_t value) {
    Put(t, key);
    PutNumber(t, value);
}

void PutPoint(Text *t, const char *key, const PivotPoint &point) {
    Put(t, key);
    Put(t, "{\"x\": ");
    PutFraction(t, point.x);
    Put(t, ", \"y\": ");
    PutFraction(t, point.y);
    Put(t, "}");
}

// The name of frame i: the prefix, "_" and the frame's number.
void PutFrameName(Text *t, const char *prefix, int32_t i) {
    int32_t start = TempString.end;
    StringConcat(prefix);
    StringConcat("_");
    StringFromInteger(i, TempString.end);
    PutString(t, TempAddress(start));
    TempString.end = start;
}

void PutFrame(Text *t, const SheetOptions &options, const DataStrip &strip, int32_t i) {
    const FramePlace &place = strip.places[i];
    Put(t, "    ");
    PutFrameName(t, strip.prefix, i);
    PutField(t, ": {\"frame\": {\"x\": ", place.x);
    PutField(t, ", \"y\": ", place.y);
    PutField(t, ", \"w\": ", place.w);
    PutField(t, ", \"h\": ", place.h);
    Put(t, options.trim ? "}, \"rotated\": false, \"trimmed\": true, \"spriteSourceSize\": {"
                        : "}, \"rotated\": false, \"trimmed\": false, \"spriteSourceSize\": {");
    PutField(t, "\"x\": ", place.trimX);
    PutField(t, ", \"y\": ", place.trimY);
    PutField(t, ", \"w\": ", place.w);
    PutField(t, ", \"h\": ", place.h);
    PutSize(t, "}, \"sourceSize\": ", strip.frameWidth, strip.frameHeight);
    if (options.pivot.given) {
        PutPoint(t, ", \"pivot\": ", options.pivot);
        PutPoint(t, ", \"anchor\": ", options.pivot);
    }
}

} // namespace

void TextFree(Text *text) {
    MemoryFree(text->data);
    *text = Text{};
}

void FrameDataPut(Text *t, const SheetOptions &options, const DataPage &page,
                  const DataStrip *strips, int32_t stripCount) {
    Put(t, "{\n  \"frames\": {\n");
    for (int32_t s = 0; s < stripCount; s++) {
        for (int32_t i = 0; i < strips[s].count && !t->failed; i++) {
            PutFrame(t, options, strips[s], i);
            Put(t, i + 1 < strips[s].count || s + 1 < stripCount ? "},\n" : "}\n");
        }
    }
    Put(t, "  },\n  \"animations\": {\n");
    for (int32_t s = 0; s < stripCount; s++) {
        Put(t, "    ");
        PutString(t, strips[s].prefix);
        Put(t, ": [");
        for (int32_t i = 0; i < strips[s].count && !t->failed; i++) {
            if (i) Put(t, ", ");
            PutFrameName(t, strips[s].prefix, i);
        }
        Put(t, s + 1 < stripCount ? "],\n" : "]\n");
    }
    Put(t, "  },\n  \"meta\": {\n    \"app\": \"StripSheet\",\n    \"version\": "
           "\"" STRIPSHEET_VERSION "\",\n    \"image\": ");
    PutString(t, page.imageName);
    Put(t, page.alpha ? ",\n    \"format\": \"RGBA8888\",\n" : ",\n    \"format\": \"RGB888\",\n");
    PutSize(t, "    \"size\": ", page.size.width, page.size.height);
    Put(t, ",\n    \"scale\": \"1\"");
    if (page.grid) {
        const GridLayout &g = *page.grid;
        PutSize(t, ",\n    \"frameSize\": ", g.frameWidth, g.frameHeight);
        PutField(t, ",\n    \"columns\": ", g.columns);
        PutField(t, ",\n    \"rows\": ", g.rows);
        PutField(t, ",\n    \"margin\": ", options.margin);
        PutField(t, ",\n    \"spacing\": ", options.spacing);
        PutField(t, ",\n    \"extrude\": ", options.extrude);
    }
    if (page.relatedCount) {
        Put(t, ",\n    \"related_multi_packs\": [");
        const char *name = page.related;
        for (int32_t k = 0; k < page.relatedCount; k++, name += strlen(name) + 1) {
            if (k) Put(t, ", ");
            PutString(t, name);
        }
        Put(t, "]");
    }
    Put(t, "\n  }\n}\n");
}
