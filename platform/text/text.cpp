// Lengths, white space, bounded copies and case-insensitive search on UTF-16 text.
#include "platform/text/text.h"
#include "platform/text/text_casefold.h"

#include <string_view>

int lstrlen(LPCWSTR text) {
    return text ? static_cast<int>(std::u16string_view(text).size()) : 0;
}

int lstrlenA(const char* text) {
    return text ? static_cast<int>(std::string_view(text).size()) : 0;
}

namespace rt {

bool iswspace(char16_t c) {
    if ((c >= 0x0009 && c <= 0x000D) || c == 0x0020 || c == 0x00A0)
        return true;
    if (c < 0x1680)
        return false;
    // The Unicode space separators and the line and paragraph separators. U+0085, U+180E,
    // U+200B and U+FEFF are not white space.
    return c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

} // namespace rt

void TrimWhiteSpace(char16_t* text) {
    if (!text)
        return;
    int end = lstrlen(text);
    while (end > 0 && rt::iswspace(text[end - 1]))
        --end;
    text[end] = 0;
    int start = 0;
    while (start < end && rt::iswspace(text[start]))
        ++start;
    if (start > 0)
        std::char_traits<char16_t>::move(text, text + start, end - start + 1);
}

namespace {

template <typename Char> Char* CopyBounded(Char* dst, const Char* src, int n) {
    if (!dst || n <= 0)
        return dst;
    int i = 0;
    if (src) {
        for (; i < n - 1 && src[i]; ++i)
            dst[i] = src[i];
    }
    dst[i] = 0;
    return dst;
}

} // namespace

LPWSTR StrCpyN(LPWSTR dst, LPCWSTR src, int n) {
    return CopyBounded(dst, src, n);
}

char* lstrcpynA(char* dst, const char* src, int n) {
    return CopyBounded(dst, src, n);
}

LPWSTR StrCatBuff(LPWSTR dst, LPCWSTR src, int cch) {
    if (!dst)
        return dst;
    const int len = lstrlen(dst);
    if (len < cch)
        CopyBounded(dst + len, src, cch - len);
    return dst;
}

LPCWSTR StrStrI(LPCWSTR haystack, LPCWSTR needle) {
    if (!haystack || !needle || !*needle)
        return nullptr; // an empty needle is found nowhere
    for (LPCWSTR start = haystack;; ++start) {
        int i = 0;
        while (needle[i] && start[i] && FoldCase(start[i]) == FoldCase(needle[i]))
            ++i;
        if (!needle[i])
            return start;
        if (!start[i])
            return nullptr; // the rest of the haystack is shorter than the needle
    }
}

int StrCmpI(LPCWSTR a, LPCWSTR b) {
    if (!a || !b)
        return a == b ? 0 : (a ? 1 : -1);
    for (;; ++a, ++b) {
        const int fa = FoldCase(*a);
        const int fb = FoldCase(*b);
        if (fa != fb || !fa)
            return fa - fb;
    }
}
