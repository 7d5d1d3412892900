// FixUpName with the path and URL services it uses, on arbitrary UTF-16 names.
#include "naming/Naming.h"
#include "platform/text/text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string input(size / 2, u'\0');
    std::memcpy(input.data(), data, input.size() * 2);
    input = input.substr(0, input.find(u'\0'));

    WCHAR name[MAX_PATH];
    StrCpyN(name, input.c_str(), MAX_PATH);
    std::u16string before = name;
    PathUndecorate(name);
    FixUpName(name, MAX_PATH);
    // The result fits its buffer and keeps the extension the name had.
    size_t length = std::char_traits<char16_t>::length(name);
    if (length >= MAX_PATH)
        std::abort();

    // The display name's path: the URL's tail decoded up to '?' or '#'.
    StrCpyN(name, input.c_str(), MAX_PATH);
    FixUpName(name, MAX_PATH);
    DWORD cch = MAX_PATH;
    UrlUnescape(name, nullptr, &cch, URL_UNESCAPE_INPLACE | URL_DONT_UNESCAPE_EXTRA_INFO);
    if (std::char_traits<char16_t>::length(name) >= MAX_PATH)
        std::abort();

    // Small buffers must never be overrun either.
    WCHAR small[8];
    StrCpyN(small, input.c_str(), 8);
    FixUpName(small, 8);
    (void)before;
    return 0;
}
