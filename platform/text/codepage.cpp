// Code pages: Windows-1252 as the ANSI code page, and the strict UTF-8 decoding service.
#include "platform/text/codepage.h"
#include "platform/text/text.h"
#include "platform/text/text_utf8.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

thread_local DWORD t_lastError = 0;

void SetLastError(DWORD error) {
    t_lastError = error;
}

// Windows-1252's 0x80-0x9F block. Its five undefined bytes map to the C1 controls of the
// same value, as the system's own table does.
constexpr char16_t kHighBlock[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char kDefaultChar = '?';

char ToWindows1252(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (int i = 0; i < 32; ++i) {
        if (kHighBlock[i] == unit)
            return static_cast<char>(0x80 + i);
    }
    return kDefaultChar;
}

using utf16::IsHighSurrogate;
using utf16::IsLowSurrogate;

std::string EncodeWindows1252(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        // A surrogate pair is one character and gets one default character.
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            ++i;
        out += ToWindows1252(text[i]);
    }
    return out;
}

bool IsAnsi(UINT codePage) {
    return codePage == CP_ACP || codePage == 1252;
}

} // namespace

DWORD GetLastError() {
    return t_lastError;
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int cchWide, char* out, int cbOut) {
    if (!wide || cchWide == 0 || cchWide < -1 || cbOut < 0 || (cbOut > 0 && !out)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string_view text = cchWide == -1 ? std::u16string_view(wide, lstrlen(wide) + 1)
                                                   : std::u16string_view(wide, cchWide);
    std::string bytes;
    if (IsAnsi(codePage)) {
        bytes = EncodeWindows1252(text);
    } else if (codePage == CP_UTF8) {
        bytes = ToUtf8(text);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cbOut == 0)
        return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<size_t>(cbOut)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    bytes.copy(out, bytes.size());
    return static_cast<int>(bytes.size());
}

int MultiByteToWideChar(UINT codePage, DWORD, const char* bytes, int cbBytes, LPWSTR out,
                        int cchOut) {
    if (!bytes || cbBytes == 0 || cbBytes < -1 || cchOut < 0 || (cchOut > 0 && !out) ||
        !IsAnsi(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string_view text = cbBytes == -1 ? std::string_view(bytes, lstrlenA(bytes) + 1)
                                                : std::string_view(bytes, cbBytes);
    if (cchOut == 0)
        return static_cast<int>(text.size());
    if (text.size() > static_cast<size_t>(cchOut)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        out[i] = byte >= 0x80 && byte < 0xA0 ? kHighBlock[byte - 0x80] : byte;
    }
    return static_cast<int>(text.size());
}

bool IsDBCSLeadByte(unsigned char) {
    return false;
} // Windows-1252 has no double-byte characters

HRESULT ConvertINetMultiByteToUnicode(DWORD* mode, DWORD codePage, const char* src, int* srcSize,
                                      LPWSTR dst, int* dstSize) {
    if (mode)
        *mode = 0; // UTF-8 carries no state between calls
    if (codePage != CP_UTF8)
        return E_FAIL;
    if (!src || !dstSize || *dstSize < 0 || (*dstSize > 0 && !dst))
        return E_INVALIDARG;
    const int requested = srcSize ? *srcSize : -1;
    if (requested < -1)
        return E_INVALIDARG;
    const std::string_view text = requested == -1 ? std::string_view(src, lstrlenA(src) + 1)
                                                  : std::string_view(src, requested);

    // Decode everything first: a malformed sequence anywhere fails the whole conversion, so
    // no caller ever sees replacement characters standing in for bytes it was given.
    std::u16string decoded;
    std::vector<size_t> endOfUnit; // source offset after each decoded unit
    size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        if (!utf8::DecodeOne(text, pos, &cp))
            return E_FAIL;
        utf8::AppendUtf16(decoded, cp);
        endOfUnit.resize(decoded.size(), pos);
    }

    if (*dstSize == 0) { // measure only
        *dstSize = static_cast<int>(decoded.size());
        if (srcSize)
            *srcSize = static_cast<int>(text.size());
        return S_OK;
    }
    // As much as fits, whole characters only; *srcSize tells how much of the source that was.
    size_t units = decoded.size() < static_cast<size_t>(*dstSize) ? decoded.size()
                                                                  : static_cast<size_t>(*dstSize);
    if (units < decoded.size() && units > 0 && IsHighSurrogate(decoded[units - 1]))
        --units;
    decoded.copy(dst, units);
    *dstSize = static_cast<int>(units);
    if (srcSize)
        *srcSize = static_cast<int>(units ? endOfUnit[units - 1] : 0);
    return S_OK;
}
