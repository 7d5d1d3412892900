// The library site's conventions for its links.
#pragma once

#include "platform/com/com.h"
#include "platform/text/text.h"

// True for text made only of the digits 0 to 9, the empty text included; false for none.
bool IsAllDigits(LPCWSTR text);

// Tone links carry "l6file" anywhere in their address, in any case.
inline bool IsToneLink(LPCWSTR address) {
    return StrStrI(address, u"l6file") != nullptr;
}

// Numbered library pages: "/library.html" in the address and digits for text.
inline bool IsPageLink(LPCWSTR address, LPCWSTR text) {
    return StrStrI(address, u"/library.html") != nullptr && IsAllDigits(text);
}
