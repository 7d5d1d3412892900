// Deciding a page's character set and turning its bytes into the UTF-8 that the parser takes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class HtmlCharset { Utf8, Utf16LE, Utf16BE, Windows1252 };

// An encoding label ("utf-8", "ISO-8859-1", ...); surrounding ASCII white space and case do
// not matter. Unknown labels give nothing. ISO-8859-1 and US-ASCII read as Windows-1252, as
// browsers read them.
std::optional<HtmlCharset> CharsetFromLabel(std::string_view label);

// The charset parameter of an HTTP Content-Type value, when it names a known charset.
std::optional<HtmlCharset> CharsetFromContentType(std::string_view contentType);

// A byte-order mark at the start of the bytes.
std::optional<HtmlCharset> CharsetFromBom(std::string_view bytes);

// A <meta charset> or <meta http-equiv content="...charset=..."> within the first 1024 bytes,
// found the way an HTML parser prescans a page before it knows the character set.
std::optional<HtmlCharset> CharsetFromMeta(std::string_view bytes);

// True when the bytes are well-formed UTF-8 and at least one of them is not ASCII.
bool IsNonAsciiUtf8(std::string_view bytes);

// The character set a page is read in: its byte-order mark, the HTTP charset, the <meta>
// declaration (unless honourMeta is false), UTF-8 when the bytes are well-formed non-ASCII
// UTF-8, else Windows-1252.
HtmlCharset DecideCharset(std::string_view bytes, std::string_view contentType, bool honourMeta);

// The bytes in UTF-8; a byte-order mark of the charset is dropped and malformed input becomes
// U+FFFD.
std::string DecodeToUtf8(std::string_view bytes, HtmlCharset charset);
