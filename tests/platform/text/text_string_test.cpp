#include "platform/text/text.h"
#include "platform/text/text_ascii.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Trimmed(std::u16string text) {
    TrimWhiteSpace(text.data());
    return text.c_str();
}

std::u16string Unescaped(const char16_t* url, DWORD flags) {
    std::u16string buffer = url;
    EXPECT_EQ(UrlUnescape(buffer.data(), nullptr, nullptr, flags), S_OK);
    return buffer.c_str();
}

std::string UnescapedA(const char* url) {
    std::string in = url;
    char out[MAX_PATH];
    DWORD size = MAX_PATH;
    EXPECT_EQ(UrlUnescapeA(in.data(), out, &size, 0), S_OK);
    EXPECT_EQ(size, std::string(out).size());
    return out;
}

} // namespace

TEST(TextString, WhiteSpaceClassification) {
    for (char16_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0xA0, 0x1680, 0x2000, 0x2005, 0x200A,
                       0x2028, 0x2029, 0x202F, 0x205F, 0x3000})
        EXPECT_TRUE(rt::iswspace(c)) << std::hex << int(c);
    for (char16_t c :
         {0x00, 0x08, 0x0E, 0x1F, 0x41, 0x85, 0x9F, 0xA1, 0x180E, 0x200B, 0x2027, 0x2030, 0xFEFF})
        EXPECT_FALSE(rt::iswspace(c)) << std::hex << int(c);
}

TEST(TextString, TrimRemovesWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(Trimmed(u" \t http://x/library.html \r\n"), u"http://x/library.html");
    EXPECT_EQ(Trimmed(u"\u3000a b\u00A0"), u"a b");
    EXPECT_EQ(Trimmed(u"\u200Bx\uFEFF"), u"\u200Bx\uFEFF");
    EXPECT_EQ(Trimmed(u" \r\n "), u"");
    EXPECT_EQ(Trimmed(u""), u"");
}

TEST(TextString, BoundedCopyAndAppendKeepRoomForTheTerminator) {
    char16_t buffer[8];
    StrCpyN(buffer, u"abcdefghij", 8);
    EXPECT_EQ(std::u16string(buffer), u"abcdefg");
    StrCpyN(buffer, u"ab", 8);
    StrCatBuff(buffer, u"cdefghij", 8);
    EXPECT_EQ(std::u16string(buffer), u"abcdefg");
    StrCatBuff(buffer, u"more", 8); // already full
    EXPECT_EQ(std::u16string(buffer), u"abcdefg");

    char bytes[4];
    lstrcpynA(bytes, "wxyz", 4);
    EXPECT_STREQ(bytes, "wxy");
    EXPECT_EQ(lstrlen(nullptr), 0);
    EXPECT_EQ(lstrlenA("wxy"), 3);
}

TEST(TextString, CaseInsensitiveComparisonFoldsBeyondAscii) {
    EXPECT_EQ(StrCmpI(u"abc", u"ABC"), 0);
    EXPECT_EQ(StrCmpI(u"é", u"É"), 0);
    EXPECT_EQ(StrCmpI(u"ĀŁŽ", u"āłž"), 0);       // Latin Extended-A
    EXPECT_EQ(StrCmpI(u"ΣΟΦΊΑ", u"σοφία"), 0);   // Greek
    EXPECT_EQ(StrCmpI(u"ЖЁЛТЫЙ", u"жёлтый"), 0); // Cyrillic
    EXPECT_EQ(StrCmpI(u"ＡＢＣ", u"ａｂｃ"), 0); // full width
    EXPECT_NE(StrCmpI(u"abc", u"abd"), 0);
    EXPECT_LT(StrCmpI(u"ab", u"abc"), 0);
    EXPECT_GT(StrCmpI(u"abc", u"AB"), 0);
    EXPECT_NE(StrCmpI(u"e", u"é"), 0);
}

TEST(TextString, CaseInsensitiveSearch) {
    const char16_t* url = u"http://x/Get?id=1&PMW_FileName=Foo.l6t";
    EXPECT_EQ(StrStrI(url, u"pmw_filename="), url + 18);
    const char16_t* tone = u"http://x/L6File?id=7";
    EXPECT_EQ(StrStrI(tone, u"l6file"), tone + 9);
    EXPECT_EQ(StrStrI(u"http://x/l6fil", u"l6file"), nullptr);
    EXPECT_EQ(StrStrI(u"abc", u""), nullptr);
}

TEST(TextString, FormatConversionsFlagsAndWidths) {
    char16_t buffer[64];
    EXPECT_EQ(wnsprintf(buffer, 64, u"BindToStorage returned 0x%08x", 0x401E8u), 33);
    EXPECT_EQ(std::u16string(buffer), u"BindToStorage returned 0x000401e8");
    wnsprintf(buffer, 64, u"%X|%d|%u|%02d:%02d", 0x800C0005u, -42, 4000000000u, 7, 123);
    EXPECT_EQ(std::u16string(buffer), u"800C0005|-42|4000000000|07:123");
    wnsprintf(buffer, 64, u"[%5d][%-5d][%05d][%-05d]", 42, 42, -42, 42);
    EXPECT_EQ(std::u16string(buffer), u"[   42][42   ][-0042][42   ]");
    wnsprintf(buffer, 64, u"%s and %s, 100%%", u"Foo", static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(std::u16string(buffer), u"Foo and (null), 100%");
    wnsprintf(buffer, 64, u"[%6s][%-6s]", u"ab", u"cd");
    EXPECT_EQ(std::u16string(buffer), u"[    ab][cd    ]");
    wnsprintf(buffer, 64, u"%.5d|%.3x|x%dy|%u", 42, 0xAu, 0, 0u);
    EXPECT_EQ(std::u16string(buffer), u"00042|00a|x0y|0");
    wnsprintf(buffer, 64, u"no conversions at all");
    EXPECT_EQ(std::u16string(buffer), u"no conversions at all");
    wnsprintf(buffer, 64, u"ends in a lone %");
    EXPECT_EQ(std::u16string(buffer), u"ends in a lone ");
}

TEST(TextString, FormatCutsAtTheBufferSize) {
    char16_t buffer[16];
    EXPECT_EQ(wnsprintf(buffer, 16, u"%s", u"abcdefghijklmnopqrstuvwxyz"), -1);
    EXPECT_EQ(std::u16string(buffer), u"abcdefghijklmno");
    EXPECT_EQ(wnsprintf(buffer, 16, u"%s", u"abcdefghijklmno"), 15); // exactly fits
    EXPECT_EQ(wnsprintf(buffer, 16, u"%s", u"abcdefghijklmnop"), -1);
    EXPECT_EQ(lstrlen(buffer), 15);
}

TEST(TextString, UrlUnescapeInPlaceStopsAtTheExtraInfo) {
    const DWORD flags = URL_UNESCAPE_INPLACE | URL_DONT_UNESCAPE_EXTRA_INFO;
    EXPECT_EQ(Unescaped(u"My%20Tone.l6t", flags), u"My Tone.l6t");
    EXPECT_EQ(Unescaped(u"a%20b?c%20d", flags), u"a b?c%20d");
    EXPECT_EQ(Unescaped(u"a%20b#c%20d", flags), u"a b#c%20d");
    EXPECT_EQ(Unescaped(u"%zz%2", flags), u"%zz%2");
    EXPECT_EQ(Unescaped(u"%41%4", flags), u"A%4");
    EXPECT_EQ(Unescaped(u"%c3%a9", flags), u"\u00C3\u00A9"); // one unit per escape
    EXPECT_EQ(Unescaped(u"a%00b", flags), u"a%00b");         // would end the text early
    EXPECT_EQ(Unescaped(u"a%20b?c%20d", URL_UNESCAPE_INPLACE), u"a b?c d");
}

TEST(TextString, UrlUnescapeBytesIntoABuffer) {
    EXPECT_EQ(UnescapedA("a%20b?c%20d"), "a b?c d");
    EXPECT_EQ(UnescapedA("%E3%81%82"), "\xE3\x81\x82");

    char in[] = "abc%41";
    char out[4];
    DWORD size = 4; // needs 5 with the terminator
    EXPECT_EQ(UrlUnescapeA(in, out, &size, 0), E_POINTER);
    EXPECT_EQ(size, 5u);
}

TEST(TextString, Utf8AtTheEdges) {
    EXPECT_EQ(ToUtf8(u"Café \U0001F3B8"), "Caf\xC3\xA9 \xF0\x9F\x8E\xB8");
    EXPECT_EQ(FromUtf8("Caf\xC3\xA9 \xF0\x9F\x8E\xB8"), u"Café \U0001F3B8");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(ToUtf8(lone), "a\xEF\xBF\xBD"
                            "b\xEF\xBF\xBD");
    EXPECT_EQ(FromUtf8("a\xC3(\xFF"), u"a\uFFFD(\uFFFD");

    // Names are cut to a byte budget by the length: it must count what the encoder writes.
    const char16_t highAtEnd[] = {u'\u00E9', 0xDBFF, 0};
    const char16_t lowThenHigh[] = {0xDC00, 0xD800, u'x', 0};
    for (std::u16string_view text :
         {std::u16string_view(u"Caf\u00E9 \u20AC\U0001F3B8"), std::u16string_view(lone),
          std::u16string_view(highAtEnd), std::u16string_view(lowThenHigh)})
        EXPECT_EQ(Utf8Length(text), ToUtf8(text).size());
}

TEST(TextString, AsciiCaseComparisonFoldsOnlyAToZ) {
    EXPECT_TRUE(EqualsIgnoreAsciiCase("Content-TYPE", "content-type"));
    EXPECT_TRUE(EqualsIgnoreAsciiCase(u"HRef", u"href"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("@[", "`{"));      // the neighbours of A and Z
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"\u212A", u"k")); // KELVIN SIGN
    EXPECT_FALSE(EqualsIgnoreAsciiCase("\xC3\x84", "\xC3\xA4"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("gzip", "gzi"));
    EXPECT_TRUE(StartsWithIgnoreAsciiCase("CHARSET=utf-8", "charset"));
    EXPECT_FALSE(StartsWithIgnoreAsciiCase("chars", "charset"));
}
