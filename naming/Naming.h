// Tone file naming: a name whose base holds percent-escaped UTF-8 becomes its Unicode form.
#pragma once

#include "platform/com/com.h"

// Replaces a percent-escaped UTF-8 base in place by its Unicode form, keeping the extension
// exactly as it was. name has room for capacity units with the terminator. Any failure, and
// any name that is not such a name, leaves name exactly as it was.
void FixUpName(LPWSTR name, int capacity);

// True when the terminated bytes hold one complete lead-and-continuation sequence in the
// UTF-8 pattern. Overlong forms and out-of-range values are the decoder's business.
bool LooksLikeUtf8(const char* bytes);

// True when text holds only tab, space, U+00A0, U+3000 or U+FEFF (or nothing).
bool IsBlank(LPCWSTR text);

// Converts text to the ANSI code page into out (outBytes with the terminator), cutting what
// does not fit. Returns the bytes written with the terminator, 0 on failure.
int ConvertToAnsi(LPCWSTR text, char* out, int outBytes);

// Converts terminated bytes in codePage (the crawler uses only UTF-8) to UTF-16 into out
// (outChars with the terminator), cutting what does not fit. Returns the units written with
// the terminator, 0 on failure.
int ConvertToUnicode(UINT codePage, const char* bytes, LPWSTR out, int outChars);
