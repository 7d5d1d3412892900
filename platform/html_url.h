// Resolving a link's address against the address of its document.
#pragma once

#include "platform/curl_ptr.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class UrlResolver {
public:
    // base: an absolute address (UTF-8); when it cannot be read as one, nothing resolves.
    explicit UrlResolver(std::string_view base);

    // The absolute address that reference (an href value, UTF-8) names, with surrounding white
    // space stripped, tabs and line breaks dropped, and spaces, controls and non-ASCII
    // characters percent-encoded as UTF-8. Nothing when it cannot be read as an address
    // ("javascript:...", "mailto:...", a bad host or port).
    std::optional<std::string> Resolve(std::string_view reference) const;

private:
    CurlUrl m_base;
    // "scheme://host:port" as the parser writes the base, when it is a plain web address:
    // a plain absolute path is joined to it directly, which is what the parser would do but
    // at a small part of the cost (a library page holds many such links).
    std::string m_origin;
};

inline std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference) {
    return UrlResolver(base).Resolve(reference);
}
