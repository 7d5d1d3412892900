// The character encodings a web page can be in, and the labels that name them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Every encoding that browsers decode pages in. Labels such as "latin1" or "sjis" name one of
// these; a page is never in anything else.
enum class HtmlEncoding : uint8_t {
    Utf8,
    Ibm866,
    Iso8859_2,
    Iso8859_3,
    Iso8859_4,
    Iso8859_5,
    Iso8859_6,
    Iso8859_7,
    Iso8859_8,
    Iso8859_8I,
    Iso8859_10,
    Iso8859_13,
    Iso8859_14,
    Iso8859_15,
    Iso8859_16,
    Koi8R,
    Koi8U,
    Macintosh,
    Windows874,
    Windows1250,
    Windows1251,
    Windows1252,
    Windows1253,
    Windows1254,
    Windows1255,
    Windows1256,
    Windows1257,
    Windows1258,
    XMacCyrillic,
    Gbk,
    Gb18030,
    Big5,
    EucJp,
    Iso2022Jp,
    ShiftJis,
    EucKr,
    Replacement, // stands for encodings that are not read at all: a page in one is one U+FFFD
    Utf16BE,
    Utf16LE,
    XUserDefined, // ASCII, and bytes 0x80-0xFF as U+F780-U+F7FF
};

// The encoding's own name ("Shift_JIS", "windows-1251").
std::string_view EncodingName(HtmlEncoding encoding);

// The encoding that a label ("utf-8", " Latin1 ", "x-sjis", ...) names; surrounding ASCII white
// space and ASCII case do not matter. Unknown labels give nothing.
std::optional<HtmlEncoding> EncodingFromLabel(std::string_view label);

// The name of the system converter (glibc iconv) that comes closest to the encoding; null for
// replacement and x-user-defined, which have none.
const char* ConverterName(HtmlEncoding encoding);
