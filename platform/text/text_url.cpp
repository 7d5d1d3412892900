// Percent-unescaping of URLs, in UTF-16 and in bytes.
#include "platform/text/text.h"

#include <string>

namespace {

int HexValue(unsigned c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Every %XX becomes the one unit XX. An escape that is not two hex digits stays as it is, and
// so does %00: decoding it would end the text in the middle. With URL_DONT_UNESCAPE_EXTRA_INFO
// the text from the first '?' or '#' on is left as it is.
template <typename Char> std::basic_string<Char> Unescape(const Char* url, DWORD flags) {
    std::basic_string<Char> out;
    for (const Char* p = url; *p; ++p) {
        const auto c = static_cast<std::make_unsigned_t<Char>>(*p);
        if ((flags & URL_DONT_UNESCAPE_EXTRA_INFO) && (c == '?' || c == '#')) {
            out += p;
            break;
        }
        if (c == '%') {
            const int high = HexValue(static_cast<std::make_unsigned_t<Char>>(p[1]));
            const int low = high < 0 ? -1 : HexValue(static_cast<std::make_unsigned_t<Char>>(p[2]));
            if (low >= 0 && (high | low) != 0) {
                out += static_cast<Char>(high * 16 + low);
                p += 2;
                continue;
            }
        }
        out += *p;
    }
    return out;
}

// In place, or into out whose size *pcchOut counts units with the terminator. On success
// *pcchOut receives the length; when out is too small, E_POINTER and the size it needs.
template <typename Char> HRESULT UnescapeInto(Char* url, Char* out, DWORD* pcchOut, DWORD flags) {
    if (!url)
        return E_INVALIDARG;
    const std::basic_string<Char> text = Unescape(url, flags);
    if (flags & URL_UNESCAPE_INPLACE) {
        text.copy(url, text.size()); // never longer than url
        url[text.size()] = 0;
        return S_OK;
    }
    if (!out || !pcchOut)
        return E_INVALIDARG;
    if (*pcchOut <= text.size()) {
        *pcchOut = static_cast<DWORD>(text.size() + 1);
        return E_POINTER;
    }
    text.copy(out, text.size());
    out[text.size()] = 0;
    *pcchOut = static_cast<DWORD>(text.size());
    return S_OK;
}

} // namespace

HRESULT UrlUnescape(LPWSTR url, LPWSTR out, DWORD* pcchOut, DWORD flags) {
    return UnescapeInto(url, out, pcchOut, flags);
}

HRESULT UrlUnescapeA(char* url, char* out, DWORD* pcchOut, DWORD flags) {
    return UnescapeInto(url, out, pcchOut, flags);
}
