// Locale-independent simple case folding of one UTF-16 unit (the Basic Multilingual Plane).
#pragma once

#include "platform/text/text_ascii.h"

// The fold of a unit from U+0080 on.
char16_t FoldBeyondAscii(char16_t unit);

// Inline for ASCII: addresses are nearly all ASCII, and they are compared a great deal.
inline char16_t FoldCase(char16_t unit) {
    if (unit < 0x80)
        return ToLowerAscii(unit);
    return FoldBeyondAscii(unit);
}
