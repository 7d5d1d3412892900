// The HTML document's reading of a page, on arbitrary bytes: any page gives anchors with
// addresses and texts, never a crash, whatever the declared character set.
#include "platform/html_parse.h"
#include "platform/mshtml.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    static constexpr std::u16string_view kTypes[] = {u"", u"text/html; charset=utf-8",
                                                     u"text/html; charset=windows-1252",
                                                     u"text/html; charset=utf-16le"};
    std::u16string_view type = kTypes[size % 4];
    DWORD control = (size & 4) ? DLCTL_NO_METACHARSET : 0;
    ParseHtmlDocument(bytes, type, u"http://library.example/a/library.html?page=1", control);
    return 0;
}
