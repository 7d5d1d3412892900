// The code page conversions of tone file naming, each cutting what does not fit.
#include "naming/Naming.h"
#include "platform/text/codepage.h"
#include "platform/text/text.h"
#include "platform/text/text_utf8.h"

#include <vector>

namespace {

using utf16::IsHighSurrogate;

} // namespace

int ConvertToAnsi(LPCWSTR text, char* out, int outBytes) {
    if (!text)
        text = u"";
    if (!out || outBytes <= 0)
        return 0;
    out[0] = 0;
    const int written = WideCharToMultiByte(CP_ACP, 0, text, -1, out, outBytes);
    if (written > 0)
        return written;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return 0;

    // Too long: convert all of it apart, then cut, never between the two bytes of a
    // double-byte character.
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 0)
        return 0;
    std::vector<char> whole(needed);
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, whole.data(), needed) <= 0)
        return 0;
    int cut = outBytes - 1;
    int leadBytes = 0;
    for (int i = 0; i < cut; ++i) {
        if (IsDBCSLeadByte(static_cast<unsigned char>(whole[i])))
            ++leadBytes;
    }
    if (leadBytes % 2 != 0)
        --cut;
    lstrcpynA(out, whole.data(), cut + 1);
    return cut + 1;
}

int ConvertToUnicode(UINT codePage, const char* bytes, LPWSTR out, int outChars) {
    if (!bytes)
        bytes = "";
    if (!out || outChars <= 0)
        return 0;
    out[0] = 0;
    if (codePage != CP_UTF8) {
        const int written = MultiByteToWideChar(codePage, 0, bytes, -1, out, outChars);
        if (written > 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return written;
        std::vector<char16_t> whole(lstrlenA(bytes) + 1);
        if (MultiByteToWideChar(codePage, 0, bytes, -1, whole.data(),
                                static_cast<int>(whole.size())) <= 0)
            return 0;
        StrCpyN(out, whole.data(), outChars);
        return lstrlen(out) + 1;
    }

    const int sourceBytes = lstrlenA(bytes) + 1;
    DWORD mode = 0;
    int taken = sourceBytes;
    int written = outChars;
    if (FAILED(ConvertINetMultiByteToUnicode(&mode, CP_UTF8, bytes, &taken, out, &written)))
        return 0;
    if (taken >= sourceBytes)
        return written;

    // The output ran full: convert everything apart and keep what fits, without splitting a
    // surrogate pair.
    mode = 0;
    taken = sourceBytes;
    int needed = 0;
    if (FAILED(ConvertINetMultiByteToUnicode(&mode, CP_UTF8, bytes, &taken, nullptr, &needed)))
        return 0;
    std::vector<char16_t> whole(needed);
    mode = 0;
    taken = sourceBytes;
    if (FAILED(ConvertINetMultiByteToUnicode(&mode, CP_UTF8, bytes, &taken, whole.data(), &needed)))
        return 0;
    int cut = outChars - 1;
    if (cut > 0 && IsHighSurrogate(whole[cut - 1]))
        --cut;
    std::char_traits<char16_t>::copy(out, whole.data(), cut);
    out[cut] = 0;
    return cut + 1;
}
