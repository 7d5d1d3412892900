// Deciding a page's character encoding and turning its bytes into the UTF-8 that the parser
// takes. The passes over a whole page let the window be heard as they go (KeepResponsive);
// abandoned, they end early with a result that is to be thrown away.
#pragma once

#include "platform/html/html_encoding.h"

#include <optional>
#include <string>
#include <string_view>

// The encoding that the charset parameter of an HTTP Content-Type value names, if any.
std::optional<HtmlEncoding> CharsetFromContentType(std::string_view contentType);

// A byte-order mark at the start of the bytes.
std::optional<HtmlEncoding> CharsetFromBom(std::string_view bytes);

// A <meta charset> or <meta http-equiv content="...charset=..."> within the first 1024 bytes,
// found the way an HTML parser prescans a page before it knows the encoding.
std::optional<HtmlEncoding> CharsetFromMeta(std::string_view bytes);

// True when the bytes are well-formed UTF-8 and at least one of them is not ASCII.
bool IsNonAsciiUtf8(std::string_view bytes);

// The encoding a page is read in: its byte-order mark, the HTTP charset, the <meta>
// declaration, UTF-8 when the bytes are well-formed non-ASCII UTF-8, else windows-1252.
HtmlEncoding DecideCharset(std::string_view bytes, std::string_view contentType);

struct DecodedText {
    std::string utf8;
    HtmlEncoding encoding; // what the bytes were read as
};

// The bytes in UTF-8; a byte-order mark of the encoding is dropped and malformed input becomes
// U+FFFD. When the system cannot convert from the encoding, the bytes are read as windows-1252.
DecodedText DecodeToUtf8(std::string_view bytes, HtmlEncoding encoding);
