// Address resolution on top of libcurl's URL parser.
#include "platform/html_url.h"

namespace {

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Characters that cannot stand in an address as they are; they are sent as %XX (UTF-8 bytes
// for non-ASCII characters), the way a browser requests such a link.
bool NeedsEscape(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`' || c == '{' ||
           c == '}';
}

// Strips surrounding white space, drops tabs and line breaks inside, turns backslashes before
// the query into slashes (as browsers read web addresses) and escapes what needs escaping.
std::string CleanReference(std::string_view reference) {
    while (!reference.empty() && IsAsciiSpace(reference.front()))
        reference.remove_prefix(1);
    while (!reference.empty() && IsAsciiSpace(reference.back()))
        reference.remove_suffix(1);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string clean;
    clean.reserve(reference.size());
    bool inPath = true;
    for (const char ch : reference) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\t' || c == '\n' || c == '\r')
            continue;
        if (c == '?' || c == '#')
            inPath = false;
        if (c == '\\' && inPath) {
            clean += '/';
        } else if (NeedsEscape(c)) {
            clean += '%';
            clean += kHex[c >> 4];
            clean += kHex[c & 0xF];
        } else {
            clean += ch;
        }
    }
    return clean;
}

std::optional<std::string> GetUrl(CURLU* url) {
    char* text = nullptr;
    if (curl_url_get(url, CURLUPART_URL, &text, 0) != CURLUE_OK)
        return std::nullopt;
    const CurlString owned(text);
    return std::string(text);
}

// A reference that the parser would take over unchanged after the base's origin: one
// leading slash, no dot segments, no fragment, nothing but plain address characters, and a
// query (if any) that is not empty. Unusually long ones are left to the parser and its limits.
bool IsPlainAbsolutePath(std::string_view clean) {
    constexpr size_t kMaxPlainLength = 4096;
    if (clean.empty() || clean.size() > kMaxPlainLength || clean.front() != '/' ||
        (clean.size() > 1 && clean[1] == '/'))
        return false;
    const size_t query = clean.find('?');
    const std::string_view path = clean.substr(0, query);
    if (path.find("/.") != std::string_view::npos)
        return false;
    if (query != std::string_view::npos && query + 1 == clean.size())
        return false;
    for (const char c : clean) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::string_view("-._~!$&'()*+,;=:@/%?").find(c) != std::string_view::npos;
        if (!plain)
            return false;
    }
    return true;
}

// The origin of a plain http or https address as the parser writes it; empty otherwise.
std::string PlainOrigin(const std::string& written) {
    if (!written.starts_with("http://") && !written.starts_with("https://"))
        return {};
    const size_t end = written.find_first_of("/?#", written.find("://") + 3);
    if (end == std::string::npos || written[end] != '/')
        return {};
    std::string origin = written.substr(0, end);
    return origin.find('@') == std::string::npos ? origin : std::string();
}

} // namespace

UrlResolver::UrlResolver(std::string_view base) : m_base(curl_url()) {
    const std::string text(base);
    if (m_base && curl_url_set(m_base.get(), CURLUPART_URL, text.c_str(),
                               CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        m_base.reset();
    if (m_base) {
        if (auto written = GetUrl(m_base.get()))
            m_origin = PlainOrigin(*written);
    }
}

std::optional<std::string> UrlResolver::Resolve(std::string_view reference) const {
    if (!m_base)
        return std::nullopt;
    const std::string clean = CleanReference(reference);
    // An empty reference and a bare fragment name the document itself; the URL parser would
    // take them for a path.
    if (clean.empty() || clean.front() == '#') {
        auto document = GetUrl(m_base.get());
        if (document)
            *document = document->substr(0, document->find('#')) + clean;
        return document;
    }
    if (!m_origin.empty() && IsPlainAbsolutePath(clean))
        return m_origin + clean;
    const CurlUrl url(curl_url_dup(m_base.get()));
    if (!url || curl_url_set(url.get(), CURLUPART_URL, clean.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
                    CURLUE_OK)
        return std::nullopt;
    return GetUrl(url.get());
}
