// Resolving a link's address against the address of its document.
#pragma once

#include "platform/html/html_encoding.h"
#include "platform/net/curl_ptr.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class UrlResolver {
public:
    // base: an absolute address (UTF-8); when it cannot be read as one, nothing resolves.
    // encoding: that of the page the references are on.
    explicit UrlResolver(std::string_view base, HtmlEncoding encoding = HtmlEncoding::Utf8);
    ~UrlResolver();

    // The absolute address that reference (an href value, UTF-8) names, with surrounding white
    // space stripped, tabs and line breaks dropped, and spaces, controls and non-ASCII
    // characters percent-encoded as UTF-8 — except in the query of a web address on a page in
    // a legacy encoding, where non-ASCII characters are written in the page's encoding (one it
    // has no form for as "&#N;") and those bytes percent-encoded, as browsers send such links.
    // Nothing when it cannot be read as an address ("javascript:...", "mailto:...", a bad host
    // or port).
    std::optional<std::string> Resolve(std::string_view reference) const;
    // The same, written over out so that its room serves again; false for nothing.
    bool Resolve(std::string_view reference, std::string& out) const;

private:
    class QueryWriter;

    void CleanReference(std::string_view reference, std::string& clean) const;
    QueryWriter* LegacyQueryWriter(std::string_view referenceStart) const;

    CurlUrl m_base;
    // "scheme://host:port" as the parser writes the base, when it is a plain web address:
    // a plain absolute path is joined to it directly, which is what the parser would do but
    // at a small part of the cost (a library page holds many such links).
    std::string m_origin;
    // Whether a reference without a scheme of its own writes its query in the page's encoding.
    bool m_baseIsWebAddress = false;
    // The page's encoding when queries are written in it; nothing for UTF-8 and UTF-16 pages.
    std::optional<HtmlEncoding> m_queryEncoding;
    // Made for the first query that needs it: most pages have none.
    mutable std::unique_ptr<QueryWriter> m_queryWriter;
    // The cleaned reference, kept so that resolving a page's links reuses one buffer.
    mutable std::string m_clean;
};

inline std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference) {
    return UrlResolver(base).Resolve(reference);
}
