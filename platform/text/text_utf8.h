// One UTF-8 code point at a time, shared by the lenient edge conversions and the strict
// decoding service, and the halves of a UTF-16 surrogate pair.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace utf8 {

// Decodes the well-formed sequence at text[pos] into *codePoint and advances pos past it.
// Returns false, leaving pos unchanged, for an overlong form, a surrogate, a value above
// U+10FFFF, a stray continuation byte, a lead byte 0xF8-0xFF or a truncated sequence.
bool DecodeOne(std::string_view text, size_t& pos, char32_t* codePoint);

// Bytes in the UTF-8 form of codePoint.
constexpr size_t EncodedSize(char32_t codePoint) {
    return codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
}

// Writes the UTF-8 form of codePoint at out, which has room for it, and returns the end of what
// it wrote. Inline: decoders write a page's characters one at a time through it.
inline char* WriteUtf8(char* out, char32_t codePoint) {
    const auto put = [&](char32_t byte) { *out++ = static_cast<char>(byte); };
    if (codePoint < 0x80) {
        put(codePoint);
    } else if (codePoint < 0x800) {
        put(0xC0 | codePoint >> 6);
        put(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        put(0xE0 | codePoint >> 12);
        put(0x80 | (codePoint >> 6 & 0x3F));
        put(0x80 | (codePoint & 0x3F));
    } else {
        put(0xF0 | codePoint >> 18);
        put(0x80 | (codePoint >> 12 & 0x3F));
        put(0x80 | (codePoint >> 6 & 0x3F));
        put(0x80 | (codePoint & 0x3F));
    }
    return out;
}

// Appends the UTF-8 form of codePoint to out.
void AppendUtf8(std::string& out, char32_t codePoint);

// Appends the UTF-16 form of codePoint (a scalar value) to out.
void AppendUtf16(std::u16string& out, char32_t codePoint);

} // namespace utf8

namespace utf16 {

constexpr bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
constexpr bool IsSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}
// The code point that a high and a low surrogate stand for together.
constexpr char32_t Combine(char32_t high, char32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// The code point at text[pos], advancing pos past it: a surrogate pair is one code point, and
// a surrogate without its other half stands as U+FFFD, in every conversion out of UTF-16.
constexpr char32_t NextCodePoint(std::u16string_view text, size_t& pos) {
    const char32_t unit = text[pos++];
    if (IsHighSurrogate(unit) && pos < text.size() && IsLowSurrogate(text[pos]))
        return Combine(unit, text[pos++]);
    return IsSurrogate(unit) ? 0xFFFD : unit;
}

} // namespace utf16
