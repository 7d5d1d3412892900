// Why a transfer failed, in the few words its observer shows a user: lower-case, without a
// closing period, never a bare number or libcurl's own message.
#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace urlmon {

inline constexpr char16_t kOnlyWebReason[] = u"only http and https addresses can be crawled";
inline constexpr char16_t kInvalidAddressReason[] = u"the address is not valid";
inline constexpr char16_t kNoAnswerReason[] = u"the server did not answer";
inline constexpr char16_t kOutOfMemoryReason[] = u"not enough memory";
inline constexpr char16_t kTooLargeReason[] = u"the server sent a body larger than any real tone";
inline constexpr char16_t kExpansionReason[] =
    u"the server sent a compressed body that expands beyond any real tone";

// The reason phrase of a status line ("HTTP/1.1 404 Not Found" gives "Not Found"); empty when
// the line carries none, as HTTP/2's never does.
std::string_view StatusLinePhrase(std::string_view statusLine);

// "HTTP 404 Not Found": the code and the server's phrase; without one, the standard phrase of
// a well-known code, else the code alone.
std::u16string HttpFailureReason(long status, std::string_view phrase);

// A transfer that libcurl ended with code; osError is the system's error behind it (0: none).
// For a refused certificate, verifyResult is OpenSSL's verdict on it (X509_V_ERR_*, 0 when
// the certificate itself was sound) and message libcurl's own words, which tell a host name
// that does not match.
std::u16string TransferFailureReason(CURLcode code, long osError, long verifyResult = 0,
                                     std::string_view message = {});

} // namespace urlmon
