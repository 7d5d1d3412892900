#include "platform/text/codepage.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ToAnsi(const char16_t* text) {
    char out[64] = {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out);
    EXPECT_GT(n, 0);
    return out;
}

// Decodes with the service into a buffer of room units; the units written, or the failure.
struct Decoded {
    HRESULT hr;
    std::u16string text;
    int taken;
};

Decoded Decode(std::string_view bytes, int room = 64) {
    std::u16string out(room, u'#');
    DWORD mode = 0;
    int srcSize = static_cast<int>(bytes.size());
    int dstSize = room;
    const HRESULT hr =
        ConvertINetMultiByteToUnicode(&mode, CP_UTF8, bytes.data(), &srcSize, out.data(), &dstSize);
    return {hr, SUCCEEDED(hr) ? out.substr(0, dstSize) : u"", srcSize};
}

} // namespace

TEST(CodePage, AnsiIsWindows1252) {
    EXPECT_EQ(ToAnsi(u"Caf%C3%A9 ok"), "Caf%C3%A9 ok");
    EXPECT_EQ(ToAnsi(u"\u00C3\u00A9"), "\xC3\xA9");
    EXPECT_EQ(ToAnsi(u"\u20AC\u201A\u0192\u2122\u0178\u017E"), "\x80\x82\x83\x99\x9F\x9E");
    // The undefined bytes stand for the C1 controls of the same value; other controls of that
    // block have no form.
    EXPECT_EQ(ToAnsi(u"\u0081\u008D\u008F\u0090\u009D"), "\x81\x8D\x8F\x90\x9D");
    EXPECT_EQ(ToAnsi(u"\u0080\u009F"), "??");
    EXPECT_EQ(ToAnsi(u"\u3042\u0100\U0001F3B8!"), "???"
                                                  "!");
    for (int byte = 1; byte < 256; ++byte)
        EXPECT_FALSE(IsDBCSLeadByte(static_cast<unsigned char>(byte)));
}

TEST(CodePage, AnsiRoundTripsEveryByte) {
    for (int byte = 1; byte < 256; ++byte) {
        const char in[2] = {static_cast<char>(byte), 0};
        char16_t wide[2];
        ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, in, -1, wide, 2), 2);
        char back[2];
        ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, back, 2), 2);
        EXPECT_EQ(back[0], in[0]) << byte;
    }
}

TEST(CodePage, TooSmallABufferIsReported) {
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abcd", -1, nullptr, 0), 5);
    char out[4];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abcd", -1, out, 4), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(932, 0, u"abcd", -1, out, 4), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CodePage, Utf8ServiceDecodesWellFormedText) {
    const Decoded text = Decode("Caf\xC3\xA9 \xE3\x81\x82 \xF0\x9F\x8E\xB8");
    EXPECT_EQ(text.hr, S_OK);
    EXPECT_EQ(text.text, u"Café \u3042 \U0001F3B8");
    EXPECT_EQ(text.taken, 14);

    // Up to and including the terminator.
    char16_t out[8];
    int srcSize = -1;
    int dstSize = 8;
    DWORD mode = 0;
    ASSERT_EQ(ConvertINetMultiByteToUnicode(&mode, CP_UTF8, "\xC3\xA9", &srcSize, out, &dstSize),
              S_OK);
    EXPECT_EQ(dstSize, 2);
    EXPECT_EQ(srcSize, 3);
    EXPECT_EQ(std::u16string(out), u"é");
}

TEST(CodePage, Utf8ServiceFailsOnMalformedInput) {
    const char* malformed[] = {
        "\xC0\xAF",             // overlong '/'
        "\xE0\x80\xAE",         // overlong '.'
        "\xF0\x80\x80\xAF",     // overlong, four bytes
        "\xED\xA0\x80",         // surrogate U+D800
        "\xED\xBF\xBF",         // surrogate U+DFFF
        "\xF4\x90\x80\x80",     // above U+10FFFF
        "\xF8\x88\x80\x80\x80", // five-byte lead
        "\xFF",                 //
        "ok\xA9",               // stray continuation byte
        "\xE3\x81",             // truncated
        "\xC3\xC3\xA9",         // lead without its continuation
    };
    for (const char* bytes : malformed)
        EXPECT_EQ(Decode(bytes).hr, E_FAIL) << testing::PrintToString(bytes);
    EXPECT_EQ(Decode("\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF").hr, S_OK); // the edges around
}

TEST(CodePage, Utf8ServiceStopsAtAFullOutputOnAWholeCharacter) {
    // Measuring.
    DWORD mode = 0;
    int srcSize = 5;
    int dstSize = 0;
    ASSERT_EQ(ConvertINetMultiByteToUnicode(&mode, CP_UTF8, "a\xF0\x9F\x8E\xB8", &srcSize, nullptr,
                                            &dstSize),
              S_OK);
    EXPECT_EQ(dstSize, 3);

    const Decoded cut = Decode("ab\xC3\xA9z", 3);
    EXPECT_EQ(cut.text, u"abé");
    EXPECT_EQ(cut.taken, 4);
    // A surrogate pair is not split: only 'a' fits in two units.
    const Decoded pair = Decode("a\xF0\x9F\x8E\xB8", 2);
    EXPECT_EQ(pair.text, u"a");
    EXPECT_EQ(pair.taken, 1);
}
