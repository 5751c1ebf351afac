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

// Builds a piece that must survive, runs one text function at the area's end, checks that the
// end lies just behind the result and hands back the result.
class TextFunctions : public Strings {
  protected:
    void SetUp() override {
        Strings::SetUp();
        StringConcat("keep");
        TempString.end += 1;
    }
    void TearDown() override { EXPECT_STREQ(TempAddress(0), "keep"); }

    std::string Run(const std::function<void(int32_t)> &call) {
        int32_t position = TempString.end;
        call(position);
        std::string result = TempAddress(position);
        EXPECT_EQ(TempString.end, position + int32_t(result.size()));
        TempString.end = position;
        return result;
    }
};

TEST_F(Strings, AreaStartsSmallAndGrowsByNeedPlusStep) {
    EXPECT_EQ(TempString.end, 0);
    EXPECT_EQ(TempString.capacity, 16);
    EXPECT_EQ(BlockSize(TempString.base), 16u);

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

TEST_F(Strings, AssignTempTakesTheExpressionAndResetsTheEnd) {
    StringValue value = nullptr;
    StringConcat("ab");
    int32_t start = TempString.end;
    StringAssignTemp(&value, start); // nothing built: the empty text, not null
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(BlockSize(value), 5u);
    EXPECT_EQ(TempString.end, start);

    StringConcat("cd");
    StringConcat(nullptr);
    StringConcat("ef");
    StringAssignTemp(&value, start);
    EXPECT_STREQ(value, "cdef");
    EXPECT_EQ(BlockSize(value), 9u);
    EXPECT_EQ(TempString.end, start);
    EXPECT_EQ(std::string(TempString.base, 2), "ab");
    StringFree(value);
}

TEST_F(Strings, VariablesOwnTheirCopies) {
    char source[] = "walk";
    StringValue a = nullptr;
    StringCopyNew(&a, nullptr);
    EXPECT_EQ(a, nullptr);
    StringCopyNew(&a, source);
    source[0] = 'X';
    EXPECT_STREQ(a, "walk");
    EXPECT_EQ(BlockSize(a), 9u);

    StringAssign(&a, "longer text");
    EXPECT_STREQ(a, "longer text");
    EXPECT_EQ(BlockSize(a), 16u);
    StringAssign(&a, a + 7); // a piece of its own text
    EXPECT_STREQ(a, "text");
    StringAssign(&a, "");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(BlockSize(a), 5u);
    StringAssign(&a, nullptr);
    EXPECT_EQ(a, nullptr);
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
    struct Case {
        const char *name;
        std::function<void(const char *, int32_t)> call;
        int32_t at; // result position
        const char *expected;
    };
    const Case cases[] = {
        {"lower", [](const char *t, int32_t p) { StringLower(t, p); }, 0, "e:\\a_h4.png"},
        {"upper", [](const char *t, int32_t p) { StringUpper(t, p); }, 0, "E:\\A_H4.PNG"},
        {"left", [](const char *t, int32_t p) { StringLeft(t, 6, p); }, 0, "E:\\a_H"},
        {"right", [](const char *t, int32_t p) { StringRight(t, 6, p); }, 0, "H4.png"},
        {"mid", [](const char *t, int32_t p) { StringMid(t, 4, 4, p); }, 0, "a_H4"},
        {"field", [](const char *t, int32_t p) { StringNthField(t, 2, "_", p); }, 0, "H4.png"},
        {"extension", [](const char *t, int32_t p) { PathExtension(t, p); }, 0, "png"},
        {"file name", [](const char *t, int32_t p) { PathFileName(t, p); }, 0, "a_H4.png"},
        {"concat", [](const char *t, int32_t) { StringConcat(t); }, 12, "E:\\a_H4.png"},
        {"beyond", [](const char *t, int32_t p) { StringUpper(t, p); }, 12, "E:\\A_H4.PNG"},
    };
    for (const Case &c : cases) {
        SetUp();
        StringValue blocker = nullptr;
        StringCopyNew(&blocker, "blocker");
        StringConcat("E:\\a_H4.png");
        TempString.end += 1;
        const char *oldBase = TempString.base;
        c.call(TempString.base, c.at == 0 ? 0 : TempString.end);
        ASSERT_NE(TempString.base, oldBase) << c.name << ": the area was meant to move";
        EXPECT_STREQ(TempAddress(c.at), c.expected) << c.name;
        EXPECT_EQ(TempString.end, c.at + StringLength(c.expected)) << c.name;
        StringFree(blocker);
    }
}

TEST_F(TextFunctions, IntegerText) {
    for (auto [value, text] : {std::pair<int32_t, const char *>{0, "0"},
                               {7, "7"},
                               {-15, "-15"},
                               {1000, "1000"},
                               {INT32_MAX, "2147483647"},
                               {INT32_MIN, "-2147483648"}}) {
        EXPECT_EQ(Run([v = value](int32_t p) { StringFromInteger(v, p); }), text);
    }
    for (auto [text, value] : {std::pair<const char *, int32_t>{" \t-12x", -12},
                               {"+7", 7},
                               {"$1F", 31},
                               {"$ff", 255},
                               {"%101", 5},
                               {"%2", 0},
                               {"- 5", 0},
                               {"", 0},
                               {"007", 7},
                               {"12\xb3", 12},
                               {"-$10", -16},
                               {"2147483648", INT32_MIN},
                               {"4294967297", 1}}) {
        EXPECT_EQ(StringToInteger(text), value) << "'" << text << "'";
    }
    EXPECT_EQ(StringToInteger(nullptr), 0);
}

TEST_F(TextFunctions, PiecesOfAText) {
    auto mid = [&](const char *t, int32_t s, int32_t n) {
        return Run([=](int32_t p) { StringMid(t, s, n, p); });
    };
    EXPECT_EQ(mid("abc", 0, 2), "ab");
    EXPECT_EQ(mid("abc", 3, 5), "c");
    EXPECT_EQ(mid("abc", 4, 1), "");
    EXPECT_EQ(mid("abc", 2, -1), "");
    EXPECT_EQ(mid(nullptr, 1, 3), "");
    EXPECT_EQ(mid("walk_H8", 2, INT32_MAX), "alk_H8");
    EXPECT_LT(TempString.capacity, 100000) << "a huge length reserves only what the text has";

    auto left = [&](const char *t, int32_t n) {
        return Run([=](int32_t p) { StringLeft(t, n, p); });
    };
    auto right = [&](const char *t, int32_t n) {
        return Run([=](int32_t p) { StringRight(t, n, p); });
    };
    EXPECT_EQ(left("walk_H4", 4), "walk");
    EXPECT_EQ(left("abc", -1), "");
    EXPECT_EQ(left("abc", 9), "abc");
    EXPECT_EQ(left(nullptr, 2), "");
    EXPECT_EQ(right("H12", 2), "12");
    EXPECT_EQ(right("H", 0), "");
    EXPECT_EQ(right("abc", 9), "abc");
    EXPECT_EQ(right(nullptr, 2), "");

    auto field = [&](const char *t, int32_t i, const char *s) {
        return Run([=](int32_t p) { StringNthField(t, i, s, p); });
    };
    EXPECT_EQ(field("a_b_H4", 3, "_"), "H4");
    EXPECT_EQ(field("a_b_H4", 0, "_"), "a");
    EXPECT_EQ(field("a_b", 5, "_"), "");
    EXPECT_EQ(field("_H4", 1, "_"), "");
    EXPECT_EQ(field("a__b", 2, "_"), "");
    EXPECT_EQ(field("a__b", 3, "_"), "b");
    EXPECT_EQ(field("a_", 2, "_"), "");
    EXPECT_EQ(field("a_b.c", 2, "_."), "b.c") << "only the first separator byte counts";
    EXPECT_EQ(field("a_b", 1, ""), "a_b");
    EXPECT_EQ(field("a_b", 2, ""), "");
    EXPECT_EQ(field(nullptr, 1, "_"), "");

    EXPECT_EQ(StringOccurrences("a_b_H4", "_"), 2);
    EXPECT_EQ(StringOccurrences("walk", "_"), 0);
    EXPECT_EQ(StringOccurrences("abc", ""), 0);
    EXPECT_EQ(StringOccurrences("", "a"), 0);
    EXPECT_EQ(StringOccurrences(nullptr, "a"), 0);
    EXPECT_EQ(StringOccurrences("aaaa", "aa"), 2);
    EXPECT_EQ(StringOccurrences("aaa", "aa"), 1);
    EXPECT_EQ(StringOccurrences("xAbab", "ab"), 1);

    EXPECT_EQ(StringLength(nullptr), 0);
    EXPECT_EQ(StringLength("walk"), 4);
    EXPECT_EQ(StringCharCode("\xe9t"), 0xe9);
    EXPECT_EQ(StringCharCode(""), 0);
    EXPECT_EQ(StringCharCode(nullptr), 0);
}

TEST_F(TextFunctions, LetterCase) {
    EXPECT_EQ(Run([](int32_t p) { StringUpper("h04", p); }), "H04");
    EXPECT_EQ(Run([](int32_t p) { StringLower("PNG", p); }), "png");
    EXPECT_EQ(Run([](int32_t p) { StringLower(nullptr, p); }), "");
    // Every byte value against the two ranges of each direction.
    std::string all;
    for (int c = 1; c < 256; c++)
        all += char(c);
    std::string lower = Run([&](int32_t p) { StringLower(all.c_str(), p); });
    std::string upper = Run([&](int32_t p) { StringUpper(all.c_str(), p); });
    ASSERT_EQ(lower.size(), 255u);
    ASSERT_EQ(upper.size(), 255u);
    for (int c = 1; c < 256; c++) {
        bool lowers = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE);
        bool uppers = (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFF);
        EXPECT_EQ(static_cast<unsigned char>(lower[c - 1]), lowers ? c + 32 : c) << c;
        EXPECT_EQ(static_cast<unsigned char>(upper[c - 1]), uppers ? c - 32 : c) << c;
    }
}

TEST_F(TextFunctions, PathParts) {
    auto extension = [&](const char *t) { return Run([=](int32_t p) { PathExtension(t, p); }); };
    auto fileName = [&](const char *t) { return Run([=](int32_t p) { PathFileName(t, p); }); };
    EXPECT_EQ(extension("E:\\art\\walk_H4.PNG"), "PNG");
    EXPECT_EQ(extension("E:\\my.art\\walk"), "");
    EXPECT_EQ(extension("E:\\art\\walk."), "");
    EXPECT_EQ(extension("E:\\art\\a.b.c"), "c");
    EXPECT_EQ(extension("E:/my.art/walk"), "");
    EXPECT_EQ(extension(".png"), "png");
    EXPECT_EQ(extension("\"E:\\art\\x.png\""), "png");
    EXPECT_EQ(extension("walk"), "");
    EXPECT_EQ(extension(nullptr), "");

    EXPECT_EQ(fileName("E:\\art\\walk_H4.png"), "walk_H4.png");
    EXPECT_EQ(fileName("E:/art/x.bmp"), "x.bmp");
    EXPECT_EQ(fileName("E:\\art\\"), "");
    EXPECT_EQ(fileName("walk.png"), "walk.png");
    EXPECT_EQ(fileName("\"E:\\art\\x.png\""), "x.png");
    EXPECT_EQ(fileName("\"x.png\" y"), "x.png");
    EXPECT_EQ(fileName(nullptr), "");
}

TEST(Numbers, RoundingTruncationAndColours) {
    struct Case {
        float value;
        int32_t mode;
        float expected;
    };
    for (const Case &c : {Case{1.125f, RoundUp, 2},
                          {1.0f, RoundUp, 1},
                          {-1.5f, RoundUp, -1},
                          {2.5f, RoundNearest, 3},
                          {-2.5f, RoundNearest, -3},
                          {2.4f, RoundNearest, 2},
                          {-0.4f, RoundNearest, 0},
                          {2.7f, RoundDown, 2},
                          {-2.2f, RoundDown, -3},
                          {-2.2f, 7, -3}}) {
        EXPECT_EQ(FloatRound(c.value, c.mode), c.expected) << c.value << " mode " << c.mode;
    }
    EXPECT_EQ(FloatToInteger(2.9), 2);
    EXPECT_EQ(FloatToInteger(-2.9), -2);
    EXPECT_EQ(FloatToInteger(2147483647.0), INT32_MAX);
    EXPECT_EQ(FloatToInteger(-2147483648.0), INT32_MIN);
    EXPECT_EQ(ColorRgb(0, 0, 0), 0u);
    EXPECT_EQ(ColorRgb(1, 2, 3), 0x00030201u);
    EXPECT_EQ(ColorRgb(256, 0, 0), 0x00000100u) << "components are not masked";
    EXPECT_EQ(ColorRgb(0, 0, 255), 0x00FF0000u);
}

} // namespace
