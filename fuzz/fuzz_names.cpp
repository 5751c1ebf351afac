// The naming rule of strips over the fuzzer's bytes as one file name. The name must be accepted
// exactly when it ends in _<H or V><digits>.<png, bmp or jpg> (letters in any case) and the digits'
// value is a count from 1 to 2147483647; an accepted name's record must describe that ending.
#include "app/strip_name.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool holds) {
    if (!holds) abort();
}

std::string Lower(std::string text) {
    for (char &c : text)
        c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

// What the name's ending says, read from its last byte backwards.
struct Ending {
    bool strip = false;
    size_t mark = 0; // where the "_" is
    char direction = 0;
    long long count = 0;
    std::string extension;
};

Ending ReadEnding(const std::string &name) {
    Ending ending;
    std::string lower = Lower(name);
    if (lower.size() < 4) return ending;
    ending.extension = lower.substr(lower.size() - 3);
    if (lower[lower.size() - 4] != '.' ||
        (ending.extension != "png" && ending.extension != "bmp" && ending.extension != "jpg"))
        return ending;
    size_t digitsEnd = lower.size() - 4, digits = digitsEnd;
    while (digits > 0 && isdigit(static_cast<unsigned char>(lower[digits - 1])))
        digits--;
    if (digits == digitsEnd || digits < 2 || lower[digits - 2] != '_') return ending;
    if (lower[digits - 1] != 'h' && lower[digits - 1] != 'v') return ending;
    // Past its leading zeros, a count of more than ten digits is out of range whatever they are.
    size_t first = lower.find_first_not_of('0', digits);
    if (first > digitsEnd) first = digitsEnd;
    if (digitsEnd - first > 10) return ending;
    ending.count = strtoll(lower.substr(first, digitsEnd - first).c_str(), nullptr, 10);
    ending.strip = ending.count >= 1 && ending.count <= 2147483647LL;
    ending.mark = digits - 2;
    ending.direction = char(toupper(static_cast<unsigned char>(lower[digits - 1])));
    return ending;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096) return 0;
    // A block exactly as long as the name, without a NUL: a read past its end is caught.
    std::vector<char> bytes(data, data + size);
    std::string name(bytes.begin(), bytes.end());
    StripName strip = {-7, 'x', -7, nullptr};
    bool accepted = StripNameParse(bytes.data(), int32_t(size), &strip);
    Ending ending = ReadEnding(name);
    Check(accepted == ending.strip);
    if (!accepted) {
        Check(strip.prefixLength == -7 && strip.direction == 'x' && strip.count == -7 &&
              !strip.extension);
        return 0;
    }
    Check(size_t(strip.prefixLength) == ending.mark);
    Check(strip.direction == ending.direction);
    Check(strip.count == ending.count);
    Check(strip.extension && ending.extension == strip.extension);
    return 0;
}
