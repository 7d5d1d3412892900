// The HTML document's reading of a page, on arbitrary bytes: any page gives anchors with
// addresses and texts, never a crash, whatever encoding it is declared in.
#include "platform/html/html_encoding.h"
#include "platform/html/html_parse.h"

#include <cstdint>
#include <string>
#include <string_view>

// The first byte picks the encoding (its low six bits), and whether the server names the
// encoding (0x80) or the page does in a <meta> put in front of the rest of the bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t choice = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    constexpr unsigned kEncodings = static_cast<unsigned>(HtmlEncoding::XUserDefined) + 1;
    const auto encoding = static_cast<HtmlEncoding>((choice & 0x3F) % kEncodings);
    // "replacement" names no encoding; one of its labels does.
    const std::string label = encoding == HtmlEncoding::Replacement
                                  ? std::string("iso-2022-kr")
                                  : std::string(EncodingName(encoding));
    std::u16string type;
    std::string page;
    if (choice & 0x80) {
        type = u"text/html; charset=" + std::u16string(label.begin(), label.end());
        page = rest;
    } else {
        page = "<meta charset=" + label + ">" + std::string(rest);
    }
    ParseHtmlDocument(page, type, u"http://library.example/a/library.html?page=1");
    return 0;
}
