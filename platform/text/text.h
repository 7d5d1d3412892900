// String, path and URL services on zero-terminated UTF-16 text, with POSIX paths ('/').
// The folder also holds code pages (codepage.h), case folding and UTF-8. It links nothing
// but the COM types it is written in; naming, the engine, the other services and the
// windows all use it.
#pragma once

#include "platform/com/com.h"

#include <cstdarg>

constexpr int MAX_PATH = 260;

int lstrlen(LPCWSTR text);      // 0 for null
int lstrlenA(const char* text); // 0 for null

namespace rt {
// The runtime's wide-character white-space test.
bool iswspace(char16_t c);
} // namespace rt

// Removes white space (rt::iswspace) at the end, then at the start.
void TrimWhiteSpace(char16_t* text);

// Copies at most n - 1 units and a terminator. Returns dst.
LPWSTR StrCpyN(LPWSTR dst, LPCWSTR src, int n);
// Appends so that dst holds at most cch - 1 units and a terminator. Returns dst.
LPWSTR StrCatBuff(LPWSTR dst, LPCWSTR src, int cch);
// Byte version of StrCpyN.
char* lstrcpynA(char* dst, const char* src, int n);
// Case-insensitive search and comparison (simple case folding of the whole BMP).
LPCWSTR StrStrI(LPCWSTR haystack, LPCWSTR needle);
int StrCmpI(LPCWSTR a, LPCWSTR b);
// Bounded formatting: %s (UTF-16 text; null prints "(null)"), %d %u %x %X with flags 0/-,
// width, and %%. Output is cut at cch - 1 units; returns the length, or -1 when cut.
int wnsprintf(LPWSTR buf, int cch, LPCWSTR fmt, ...);
int wvnsprintf(LPWSTR buf, int cch, LPCWSTR fmt, va_list args);

// Paths. Buffers are MAX_PATH units unless said otherwise.
LPWSTR PathFindExtension(LPCWSTR path); // the '.', or the terminator when there is none
void PathRemoveExtension(LPWSTR path);
LPWSTR PathFindFileName(LPCWSTR path);
void PathUndecorate(LPWSTR path);
// Joins dir and file into dest (MAX_PATH); resolves "." and ".."; an absolute file replaces
// dir. Returns dest, or null (dest empty) when the result does not fit.
LPWSTR PathCombine(LPWSTR dest, LPCWSTR dir, LPCWSTR file);
LPWSTR PathRemoveBackslash(LPWSTR path);
bool PathFileExists(LPCWSTR path);

// URL unescaping.
constexpr DWORD URL_UNESCAPE_INPLACE = 0x00100000;
constexpr DWORD URL_DONT_UNESCAPE_EXTRA_INFO = 0x02000000;
HRESULT UrlUnescape(LPWSTR url, LPWSTR out, DWORD* pcchOut, DWORD flags);
HRESULT UrlUnescapeA(char* url, char* out, DWORD* pcchOut, DWORD flags);

// UTF-16 <-> UTF-8 for the edges of the program (file system, libraries, UI).
#include <string>
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);                  // malformed bytes become U+FFFD
void AppendFromUtf8(std::u16string& out, std::string_view text); // FromUtf8 onto out
// The size of ToUtf8(text), counted without building it.
size_t Utf8Length(std::u16string_view text);
// File names hold bytes, which need not be UTF-8 (a folder named in another encoding). In
// UTF-16 a byte that is not part of UTF-8 stands as the lone surrogate U+DC00 + byte, which no
// text holds, so a name comes back to the file system exactly as it came from it.
std::u16string FromNativeName(std::string_view bytes);
std::string ToNativeName(std::u16string_view name);
// The byte that a unit of FromNativeName stands for, or -1 for a unit of text.
int NativeByteOf(char16_t unit);
