// Reading what a server says about a response: its file name and its media type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace urlmon {

// White space around a header value (SP, HTAB, CR, LF) removed.
std::string_view TrimHeaderValue(std::string_view value);

// The file name that a Content-Disposition value offers: filename* (the value after
// "charset'language'", percent escapes kept as sent) before filename (quoted or plain).
// Nothing when it offers none or when the value is malformed.
std::optional<std::string> FileNameFromContentDisposition(std::string_view value);

// The last segment of the URL's path, before query and fragment, escapes kept as they came;
// empty when the path is empty or ends with '/'.
std::string LastPathSegment(std::string_view url);

// The media type of a Content-Type value, without parameters, in lower case.
std::string MediaType(std::string_view contentType);

// The scheme of an absolute URL in lower case; empty when the text starts with none.
std::string UrlScheme(std::string_view url);

} // namespace urlmon

namespace urlmon {

// How long a Retry-After value asks to wait, in milliseconds: delta-seconds, or an HTTP date
// against nowUnixSeconds (a date already past is 0). Nothing when the value is neither.
// Waits beyond what 32 bits hold are cut to that.
std::optional<uint32_t> RetryAfterMs(std::string_view value, int64_t nowUnixSeconds);

} // namespace urlmon
