// One UTF-8 code point at a time, shared by the lenient edge conversions and the strict
// decoding service, and the halves of a UTF-16 surrogate pair.
#pragma once

#include <cstddef>
#include <string>

namespace utf8 {

// Decodes the well-formed sequence at text[pos] into *codePoint and advances pos past it.
// Returns false, leaving pos unchanged, for an overlong form, a surrogate, a value above
// U+10FFFF, a stray continuation byte, a lead byte 0xF8-0xFF or a truncated sequence.
bool DecodeOne(std::string_view text, size_t& pos, char32_t* codePoint);

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

} // namespace utf16
