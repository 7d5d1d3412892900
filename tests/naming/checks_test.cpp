#include "naming/Naming.h"

#include <gtest/gtest.h>

#include <string>

TEST(LooksLikeUtf8, FindsOneCompleteSequence) {
    EXPECT_TRUE(LooksLikeUtf8("Caf\xC3\xA9"));
    EXPECT_TRUE(LooksLikeUtf8("\xE3\x81\x82"));
    EXPECT_TRUE(LooksLikeUtf8("\xF0\x9F\x8E\xB8 x"));
    // The lead byte's one bits decide the count, far beyond what UTF-8 allows.
    EXPECT_TRUE(LooksLikeUtf8("\xF8\x80\x80\x80\x80"));
    EXPECT_TRUE(LooksLikeUtf8("\xFE\x80\x80\x80\x80\x80\x80"));
    EXPECT_TRUE(LooksLikeUtf8("\xFF\x80\x80\x80\x80\x80\x80\x80"));
    EXPECT_TRUE(LooksLikeUtf8("\xC0\xAF")); // overlong, still the pattern
    EXPECT_TRUE(LooksLikeUtf8("\xC3\xA9\xFF"));

    EXPECT_FALSE(LooksLikeUtf8(""));
    EXPECT_FALSE(LooksLikeUtf8(nullptr));
    EXPECT_FALSE(LooksLikeUtf8("My Tone"));
    EXPECT_FALSE(LooksLikeUtf8("\xA9\xA9\xA9"));
    EXPECT_FALSE(LooksLikeUtf8("\xC3"
                               "A9"));
    EXPECT_FALSE(LooksLikeUtf8("\xF0\x9F\x8E")); // the terminator comes too soon
    EXPECT_FALSE(LooksLikeUtf8("\xFF\x80\x80\x80\x80\x80\x80"));
}

TEST(LooksLikeUtf8, ResumesAtTheLastByteExamined) {
    // 0xE3 examines 0xC3 and 0xA9 and fails; the scan goes on at 0xA9, so the pair C3 A9 is
    // never tried.
    EXPECT_FALSE(LooksLikeUtf8("\xE3\xC3\xA9"));
    EXPECT_FALSE(LooksLikeUtf8("\xF0\xC3\xA9\xA9"));
    // 0xC3 examines the next 0xC3 and fails; that last byte is tested again and leads a pair.
    EXPECT_TRUE(LooksLikeUtf8("\xC3\xC3\xA9"));
    // 0xE3 examines 'A' and 0xC3; the scan goes on at 0xC3, which leads C3 A9.
    EXPECT_TRUE(LooksLikeUtf8("\xE3"
                              "A\xC3\xA9"));
    // A failed lead in the middle of the examined bytes is passed over.
    EXPECT_FALSE(LooksLikeUtf8("\xE3\xC3"
                               "AB\xA9"));
}

TEST(IsBlank, OnlyTheFiveBlankCharacters) {
    EXPECT_TRUE(IsBlank(u""));
    EXPECT_TRUE(IsBlank(nullptr));
    EXPECT_TRUE(IsBlank(u" \t\u00A0\u3000\uFEFF"));
    EXPECT_FALSE(IsBlank(u"\u2003"));
    EXPECT_FALSE(IsBlank(u"\n"));
    EXPECT_FALSE(IsBlank(u"  a"));
}

TEST(ConvertToAnsi, WritesWhatFitsWithTheTerminator) {
    char out[8];
    EXPECT_EQ(ConvertToAnsi(u"Caf\u00E9", out, 8), 5);
    EXPECT_STREQ(out, "Caf\xE9");
    EXPECT_EQ(ConvertToAnsi(u"abcdefghij", out, 8), 8);
    EXPECT_STREQ(out, "abcdefg");
    EXPECT_EQ(ConvertToAnsi(nullptr, out, 8), 1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(ConvertToAnsi(u"a", nullptr, 8), 0);
    EXPECT_EQ(ConvertToAnsi(u"a", out, 0), 0);
}

TEST(ConvertToUnicode, DecodesUtf8AndCutsWhatDoesNotFit) {
    char16_t out[8];
    EXPECT_EQ(ConvertToUnicode(65001, "Caf\xC3\xA9", out, 8), 5);
    EXPECT_EQ(std::u16string(out), u"Café");
    EXPECT_EQ(ConvertToUnicode(65001, "abcdefghij", out, 8), 8);
    EXPECT_EQ(std::u16string(out), u"abcdefg");
    EXPECT_EQ(ConvertToUnicode(65001, "abcdefgh", out, 8), 8); // one too many for the terminator
    EXPECT_EQ(std::u16string(out), u"abcdefg");
    EXPECT_EQ(ConvertToUnicode(65001, "abcdefg", out, 8), 8);
    // A surrogate pair is not split by the cut.
    EXPECT_EQ(ConvertToUnicode(65001, "abcdef\xF0\x9F\x8E\xB8", out, 8), 7);
    EXPECT_EQ(std::u16string(out), u"abcdef");

    EXPECT_EQ(ConvertToUnicode(65001, "bad\xC3", out, 8), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(ConvertToUnicode(65001, nullptr, out, 8), 1);
    EXPECT_EQ(ConvertToUnicode(65001, "a", nullptr, 8), 0);
    EXPECT_EQ(ConvertToUnicode(1252, "\xC3\xA9\x80", out, 8), 4);
    EXPECT_EQ(std::u16string(out), u"\u00C3\u00A9\u20AC");
}
