// Code page conversions. The ANSI code page is Windows-1252.
#pragma once

#include "platform/com/com.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

DWORD GetLastError();

// cchWide -1: up to and including the terminator. cbOut 0: the size needed. Characters
// without a form in the code page become '?'. Returns bytes written, or 0 with
// ERROR_INSUFFICIENT_BUFFER when out is too small.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int cchWide, char* out,
                        int cbOut);
bool IsDBCSLeadByte(unsigned char byte);
// The reverse, for the ANSI code page only (CP_ACP or 1252); same conventions.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes, int cbBytes, LPWSTR out,
                        int cchOut);

// The UTF-8 decoding service. srcSize in bytes (-1: up to the terminator, included);
// *dstSize in units on entry (0: only measure), units written on return. Fails (E_FAIL) on
// malformed UTF-8.
HRESULT ConvertINetMultiByteToUnicode(DWORD* mode, DWORD codePage, const char* src, int* srcSize,
                                      LPWSTR dst, int* dstSize);
