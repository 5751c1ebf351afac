#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

namespace {

size_t BlockSize(const void *block) {
    return HeapSize(StringHeap, HEAP_NO_SERIALIZE, block);
}

// Every test starts from the area as start-up leaves it.
class Strings : public ::testing::Test {
  protected:
    void SetUp() override {
        if (StringHeap) HeapDestroy(StringHeap);
        TempStringInit();
    }
};

// A piece that must survive lies before each call; Text runs one text function at the area's end,
// checks that the end lies just behind the result and hands back the result.
class TextFunctions : public Strings {
  protected:
    void SetUp() override {
        Strings::SetUp();
        StringConcat("keep");
        TempString.end += 1;
    }
    void TearDown() override { EXPECT_STREQ(TempAddress(0), "keep"); }

    template <typename... Parameters, typename... Arguments>
    std::string Text(void (*function)(Parameters...), Arguments... arguments) {
        int32_t position = TempString.end;
        function(arguments..., position);
        std::string result = TempAddress(position);
        EXPECT_EQ(TempString.end, position + int32_t(result.size()));
        TempString.end = position;
        return result;
    }
};

TEST_F(Strings, AreaStartsSmallAndGrowsByNeedPlusStep) {
    EXPECT_EQ(TempString.capacity, 16);
    StringConcat("Files Selected: ");
    EXPECT_EQ(TempString.capacity, 16400);
    EXPECT_EQ(BlockSize(TempString.base), 16405u);
    EXPECT_EQ(TempString.end, 16);
    EXPECT_STREQ(TempString.base, "Files Selected: ");

    SetUp();
    StringConcat("eleven byte");
    EXPECT_EQ(TempString.capacity, 16) << "need 11 stays below capacity - 4";
    EXPECT_EQ(TempString.end, 11);
    StringConcat("!");
    EXPECT_EQ(TempString.capacity, 16396);
    EXPECT_STREQ(TempString.base, "eleven byte!");
}

TEST_F(Strings, VariablesOwnTheirCopiesAndTakeExpressions) {
    char source[] = "walk";
    StringValue a = nullptr;
    StringCopyNew(&a, nullptr);
    EXPECT_EQ(a, nullptr);
    StringCopyNew(&a, source);
    source[0] = 'X';
    EXPECT_STREQ(a, "walk");
    EXPECT_EQ(BlockSize(a), 9u);
    StringAssign(&a, "longer text");
    StringAssign(&a, a + 7); // a piece of its own text
    EXPECT_STREQ(a, "text");
    StringAssign(&a, nullptr);
    EXPECT_EQ(a, nullptr);

    // An expression built in the area; an empty one still gives a 5-byte block, not null.
    StringConcat("ab");
    int32_t start = TempString.end;
    StringAssignTemp(&a, start);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(BlockSize(a), 5u);
    StringConcat("cd");
    StringConcat(nullptr);
    StringConcat("ef");
    StringAssignTemp(&a, start);
    EXPECT_STREQ(a, "cdef");
    EXPECT_EQ(TempString.end, start);
    EXPECT_EQ(std::string(TempString.base, 2), "ab");
    StringFree(a);
    StringFree(nullptr);

    EXPECT_EQ(StringEqual(nullptr, ""), 1);
    EXPECT_EQ(StringEqual("", nullptr), 1);
    EXPECT_EQ(StringEqual("png", "PNG"), 0);
    EXPECT_EQ(StringEqual("png", "pn"), 0);
    EXPECT_EQ(StringEqual("png", "png"), 1);
}

// An argument that is an earlier result in the area stays valid when the call grows the area:
// the 11-byte argument at position 0 leaves the end at 12, so every call below has to grow, and
// a second block on the heap keeps the area from growing in place.
TEST_F(Strings, ArgumentsInTheAreaSurviveGrowth) {
    const struct {
        std::function<void(const char *, int32_t)> call;
        int32_t at; // result position
        const char *expected;
    } cases[] = {
        {[](const char *t, int32_t p) { StringLower(t, p); }, 0, "e:\\a_h4.png"},
        {[](const char *t, int32_t p) { StringLeft(t, 6, p); }, 0, "E:\\a_H"},
        {[](const char *t, int32_t p) { StringRight(t, 6, p); }, 0, "H4.png"},
        {[](const char *t, int32_t p) { StringMid(t, 4, 4, p); }, 0, "a_H4"},
        {[](const char *t, int32_t p) { StringNthField(t, 2, "_", p); }, 0, "H4.png"},
        {[](const char *t, int32_t p) { PathExtension(t, p); }, 0, "png"},
        {[](const char *t, int32_t p) { PathFileName(t, p); }, 0, "a_H4.png"},
        {[](const char *t, int32_t) { StringConcat(t); }, 12, "E:\\a_H4.png"},
        {[](const char *t, int32_t p) { StringUpper(t, p); }, 12, "E:\\A_H4.PNG"},
    };
    for (const auto &c : cases) {
        SetUp();
        StringValue blocker = nullptr;
        StringCopyNew(&blocker, "blocker");
        StringConcat("E:\\a_H4.png");
        TempString.end += 1;
        const char *oldBase = TempString.base;
        c.call(TempString.base, c.at == 0 ? 0 : TempString.end);
        ASSERT_NE(TempString.base, oldBase) << c.expected << ": the area was meant to move";
        EXPECT_STREQ(TempAddress(c.at), c.expected);
        EXPECT_EQ(TempString.end, c.at + StringLength(c.expected)) << c.expected;
        StringFree(blocker);
    }
}

TEST_F(TextFunctions, IntegerText) {
    for (int32_t value : {0, -15, INT32_MAX, INT32_MIN})
        EXPECT_EQ(Text(StringFromInteger, value), std::to_string(value));
    const struct {
        const char *text;
        int32_t value;
    } cases[] = {{" \t-12x", -12}, {"+7", 7},      {"$1F", 31},   {"$ff", 255},
                 {"%101", 5},      {"%2", 0},      {"- 5", 0},    {"", 0},
                 {"007", 7},       {"12\xb3", 12}, {"-$10", -16}, {"2147483648", INT32_MIN},
                 {"4294967297", 1}};
    for (const auto &c : cases)
        EXPECT_EQ(StringToInteger(c.text), c.value) << "'" << c.text << "'";
    EXPECT_EQ(StringToInteger(nullptr), 0);
}

TEST_F(TextFunctions, PiecesOfAText) {
    EXPECT_EQ(Text(StringMid, "abc", 0, 2), "ab");
    EXPECT_EQ(Text(StringMid, "abc", 3, 5), "c");
    EXPECT_EQ(Text(StringMid, "abc", 4, 1), "");
    EXPECT_EQ(Text(StringMid, "abc", 2, -1), "");
    EXPECT_EQ(Text(StringMid, nullptr, 1, 3), "");
    EXPECT_EQ(Text(StringMid, "walk_H8", 2, INT32_MAX), "alk_H8");
    EXPECT_LT(TempString.capacity, 100000) << "a huge length reserves only what the text has";
    EXPECT_EQ(Text(StringLeft, "walk_H4", 4), "walk");
    EXPECT_EQ(Text(StringLeft, "abc", -1), "");
    EXPECT_EQ(Text(StringLeft, "abc", 9), "abc");
    EXPECT_EQ(Text(StringRight, "H12", 2), "12");
    EXPECT_EQ(Text(StringRight, "H", 0), "");
    EXPECT_EQ(Text(StringRight, "abc", 9), "abc");
    EXPECT_EQ(Text(StringRight, nullptr, 2), "");

    EXPECT_EQ(Text(StringNthField, "a_b_H4", 3, "_"), "H4");
    EXPECT_EQ(Text(StringNthField, "a_b_H4", 0, "_"), "a");
    EXPECT_EQ(Text(StringNthField, "a_b", 5, "_"), "");
    EXPECT_EQ(Text(StringNthField, "_H4", 1, "_"), "");
    EXPECT_EQ(Text(StringNthField, "a__b", 3, "_"), "b");
    EXPECT_EQ(Text(StringNthField, "a_b.c", 2, "_."), "b.c") << "only the first separator counts";
    EXPECT_EQ(Text(StringNthField, "a_b", 1, ""), "a_b");
    EXPECT_EQ(Text(StringNthField, nullptr, 1, "_"), "");

    EXPECT_EQ(StringOccurrences("a_b_H4", "_"), 2);
    EXPECT_EQ(StringOccurrences("walk", "_"), 0);
    EXPECT_EQ(StringOccurrences("abc", ""), 0);
    EXPECT_EQ(StringOccurrences(nullptr, "a"), 0);
    EXPECT_EQ(StringOccurrences("aaaa", "aa"), 2);
    EXPECT_EQ(StringOccurrences("aaa", "aa"), 1);
    EXPECT_EQ(StringOccurrences("xAbab", "ab"), 1);

    EXPECT_EQ(StringLength(nullptr), 0);
    EXPECT_EQ(StringCharCode("\xe9t"), 0xe9);
    EXPECT_EQ(StringCharCode(nullptr), 0);
}

TEST_F(TextFunctions, LetterCase) {
    EXPECT_EQ(Text(StringUpper, "h04"), "H04");
    EXPECT_EQ(Text(StringLower, "PNG"), "png");
    EXPECT_EQ(Text(StringLower, nullptr), "");
    // Every byte value against the two ranges of each direction; in a multibyte code page
    // (UTF-8) the high bytes are pieces of characters and keep their value.
    std::string all;
    for (int c = 1; c < 256; c++)
        all += char(c);
    for (bool multibyte : {false, true}) {
        StringMultibyteCodePage = multibyte;
        std::string lower = Text(StringLower, all.c_str()), upper = Text(StringUpper, all.c_str());
        ASSERT_EQ(lower.size(), 255u);
        ASSERT_EQ(upper.size(), 255u);
        for (int c = 1; c < 256; c++) {
            bool lowers = (c >= 'A' && c <= 'Z') || (!multibyte && c >= 0xC0 && c <= 0xDE);
            bool uppers = (c >= 'a' && c <= 'z') || (!multibyte && c >= 0xE0 && c <= 0xFF);
            EXPECT_EQ(static_cast<unsigned char>(lower[c - 1]), lowers ? c + 32 : c) << c;
            EXPECT_EQ(static_cast<unsigned char>(upper[c - 1]), uppers ? c - 32 : c) << c;
        }
    }
    EXPECT_EQ(Text(StringUpper, u8"\u52c7\u8005_h4"), u8"\u52c7\u8005_H4");
    StringMultibyteCodePage = false;
}

TEST_F(TextFunctions, PathParts) {
    EXPECT_EQ(Text(PathExtension, "E:\\art\\walk_H4.PNG"), "PNG");
    EXPECT_EQ(Text(PathExtension, "E:\\my.art\\walk"), "");
    EXPECT_EQ(Text(PathExtension, "E:/my.art/walk"), "");
    EXPECT_EQ(Text(PathExtension, "E:\\art\\walk."), "");
    EXPECT_EQ(Text(PathExtension, "E:\\art\\a.b.c"), "c");
    EXPECT_EQ(Text(PathExtension, "\"E:\\art\\x.png\""), "png");
    EXPECT_EQ(Text(PathExtension, nullptr), "");

    EXPECT_EQ(Text(PathFileName, "E:\\art\\walk_H4.png"), "walk_H4.png");
    EXPECT_EQ(Text(PathFileName, "E:/art/x.bmp"), "x.bmp");
    EXPECT_EQ(Text(PathFileName, "E:\\art\\"), "");
    EXPECT_EQ(Text(PathFileName, "walk.png"), "walk.png");
    EXPECT_EQ(Text(PathFileName, "\"x.png\" y"), "x.png");
    EXPECT_EQ(Text(PathFileName, nullptr), "");
    EXPECT_EQ(Text(PathFileName, "C:walk_H4.png"), "walk_H4.png");
    EXPECT_EQ(Text(PathFileName, "\"C:x.png\""), "x.png");
    // The second byte of a character of code page 932 may be "\" (strings_tests_cp932 runs it).
    EXPECT_EQ(Text(PathFileName, "E:\\\x95\x5c_H4.png"),
              GetACP() == 932 ? "\x95\x5c_H4.png" : "_H4.png");

    // A name put behind a folder gets a "\" unless the folder ends in a separator or a drive.
    EXPECT_TRUE(PathNeedsSeparator("E:\\art"));
    EXPECT_FALSE(PathNeedsSeparator("E:\\art\\"));
    EXPECT_FALSE(PathNeedsSeparator("E:/art/"));
    EXPECT_FALSE(PathNeedsSeparator("E:"));
    EXPECT_FALSE(PathNeedsSeparator(""));
    EXPECT_EQ(PathNeedsSeparator("E:\\\x95\x5c"), GetACP() == 932);
}

TEST(Numbers, RoundingTruncationAndColours) {
    const struct {
        float value;
        int32_t mode;
        float expected;
    } cases[] = {{1.125f, RoundUp, 2},    {1.0f, RoundUp, 1},        {-1.5f, RoundUp, -1},
                 {2.5f, RoundNearest, 3}, {-2.5f, RoundNearest, -3}, {-0.4f, RoundNearest, 0},
                 {2.7f, RoundDown, 2},    {-2.2f, RoundDown, -3},    {-2.2f, 7, -3}};
    for (const auto &c : cases)
        EXPECT_EQ(FloatRound(c.value, c.mode), c.expected) << c.value << " mode " << c.mode;
    EXPECT_EQ(FloatToInteger(2.9), 2);
    EXPECT_EQ(FloatToInteger(-2.9), -2);
    EXPECT_EQ(FloatToInteger(-2147483648.0), INT32_MIN);
    EXPECT_EQ(ColorRgb(1, 2, 3), 0x00030201u);
    EXPECT_EQ(ColorRgb(256, 0, 0), 0x00000100u) << "components are not masked";
}

} // namespace
