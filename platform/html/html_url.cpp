// Address resolution on top of libcurl's URL parser.
#include "platform/html/html_url.h"
#include "platform/html/html_iconv.h"
#include "platform/text/text_ascii.h"
#include "platform/text/text_utf8.h"

#include <algorithm>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Characters that cannot stand in an address as they are; they are sent as %XX (UTF-8 bytes
// for non-ASCII characters), the way a browser requests such a link.
bool NeedsEscape(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`' || c == '{' ||
           c == '}';
}

void AppendEscaped(std::string& out, unsigned char c) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

// Bytes of a query in the page's encoding. A '#' among them is a byte of a character (an
// ISO-2022-JP one), not the start of the fragment.
void AppendQueryBytes(std::string& out, std::string_view bytes) {
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (NeedsEscape(c) || c == '#')
            AppendEscaped(out, c);
        else
            out += ch;
    }
}

// A character that the page's encoding has no form for: the character reference a form
// would send for it, escaped so that it is no delimiter.
void AppendUnmappable(std::string& out, char32_t codePoint) {
    out += "%26%23";
    out += std::to_string(codePoint);
    out += "%3B";
}

// The scheme at the start of a reference; empty when it has none (it is relative).
std::string_view SchemeOf(std::string_view reference) {
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (reference.empty() || !isAlpha(reference.front()))
        return {};
    for (size_t i = 1; i < reference.size(); ++i) {
        const char c = reference[i];
        if (c == ':')
            return reference.substr(0, i);
        if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return {};
    }
    return {};
}

// The addresses whose query a browser writes in the page's encoding; every other scheme
// (ws, wss among them) takes UTF-8.
bool IsWebScheme(std::string_view scheme) {
    return EqualsIgnoreAsciiCase(scheme, "http") || EqualsIgnoreAsciiCase(scheme, "https") ||
           EqualsIgnoreAsciiCase(scheme, "ftp") || EqualsIgnoreAsciiCase(scheme, "file");
}

// The encoding a page's queries are written in, when it is not UTF-8: a UTF-16 page (or one
// not read at all) writes them in UTF-8.
std::optional<HtmlEncoding> QueryEncoding(HtmlEncoding page) {
    switch (page) {
    case HtmlEncoding::Utf8:
    case HtmlEncoding::Utf16BE:
    case HtmlEncoding::Utf16LE:
    case HtmlEncoding::Replacement:
        return std::nullopt;
    default:
        return page;
    }
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

// Writes the non-ASCII characters of queries in the page's legacy encoding.
class UrlResolver::QueryWriter {
public:
    explicit QueryWriter(HtmlEncoding encoding) {
        if (encoding != HtmlEncoding::XUserDefined)
            m_converter.emplace(ConverterName(encoding), "UTF-8");
    }

    // False when the system has no converter for the encoding.
    bool CanWrite() const { return !m_converter || *m_converter; }

    // Appends the query (UTF-8) from its first non-ASCII character on; ASCII reads the same in
    // every encoding that comes here.
    void Append(std::string& clean, std::string_view query) {
        size_t pos = 0;
        while (pos < query.size()) {
            const auto c = static_cast<unsigned char>(query[pos]);
            if (c < 0x80) {
                if (c != '\t' && c != '\n' && c != '\r')
                    AppendQueryBytes(clean, query.substr(pos, 1));
                ++pos;
                continue;
            }
            size_t end = pos;
            while (end < query.size() && static_cast<unsigned char>(query[end]) >= 0x80)
                ++end;
            AppendRun(clean, query.substr(pos, end - pos));
            pos = end;
        }
    }

private:
    // A run of non-ASCII characters.
    void AppendRun(std::string& clean, std::string_view run) {
        m_bytes.clear();
        while (!Encode(run) && !run.empty()) {
            // The character at the front has no form in the encoding, or is no UTF-8 at all and
            // stands for U+FFFD.
            size_t length = 0;
            char32_t codePoint = 0;
            if (!utf8::DecodeOne(run, length, &codePoint)) {
                codePoint = 0xFFFD;
                length = 1;
            }
            run.remove_prefix(length);
            EndRun();
            AppendQueryBytes(clean, m_bytes);
            m_bytes.clear();
            AppendUnmappable(clean, codePoint);
        }
        EndRun();
        AppendQueryBytes(clean, m_bytes);
    }

    // Writes the front of run onto m_bytes and takes it off run; stops (false) at a character
    // that the encoding has no form for.
    bool Encode(std::string_view& run) {
        if (m_converter)
            return m_converter->Convert(run, m_bytes);
        // x-user-defined: its bytes 0x80-0xFF are a block of private-use characters.
        while (!run.empty()) {
            size_t length = 0;
            char32_t codePoint = 0;
            if (!utf8::DecodeOne(run, length, &codePoint) || codePoint < 0xF780 ||
                codePoint > 0xF7FF)
                return false;
            m_bytes += static_cast<char>(0x80 + (codePoint - 0xF780));
            run.remove_prefix(length);
        }
        return true;
    }

    // Back to ASCII (ISO-2022-JP) before what follows.
    void EndRun() {
        if (m_converter)
            m_converter->Flush(m_bytes);
    }

    std::optional<Iconv> m_converter;
    std::string m_bytes;
};

UrlResolver::UrlResolver(std::string_view base, HtmlEncoding encoding)
    : m_base(curl_url()), m_queryEncoding(QueryEncoding(encoding)) {
    const std::string text(base);
    if (m_base && curl_url_set(m_base.get(), CURLUPART_URL, text.c_str(),
                               CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        m_base.reset();
    if (m_base) {
        if (auto written = GetUrl(m_base.get())) {
            m_origin = PlainOrigin(*written);
            m_baseIsWebAddress = IsWebScheme(SchemeOf(*written));
        }
    }
}

UrlResolver::~UrlResolver() = default;

// Strips surrounding white space, drops tabs and line breaks inside, turns backslashes before
// the query into slashes (as browsers read web addresses) and escapes what needs escaping.
void UrlResolver::CleanReference(std::string_view reference, std::string& clean) const {
    while (!reference.empty() && IsAsciiSpace(reference.front()))
        reference.remove_prefix(1);
    while (!reference.empty() && IsAsciiSpace(reference.back()))
        reference.remove_suffix(1);
    clean.clear();
    clean.reserve(reference.size());
    bool inPath = true, inQuery = false;
    // Asked once per reference: the answer depends only on its scheme, and asking scans it.
    std::optional<QueryWriter*> legacyWriter;
    for (size_t i = 0; i < reference.size(); ++i) {
        const char ch = reference[i];
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\t' || c == '\n' || c == '\r')
            continue;
        if (c == '?' && inPath)
            inQuery = true;
        if (c == '#')
            inQuery = false;
        if (c == '?' || c == '#')
            inPath = false;
        if (c >= 0x80 && inQuery && !legacyWriter)
            legacyWriter = LegacyQueryWriter(clean);
        QueryWriter* legacy = c >= 0x80 && inQuery ? *legacyWriter : nullptr;
        if (legacy) {
            const size_t end = std::min(reference.find('#', i), reference.size());
            legacy->Append(clean, reference.substr(i, end - i));
            i = end - 1;
            inQuery = false;
        } else if (c == '\\' && inPath) {
            clean += '/';
        } else if (NeedsEscape(c)) {
            AppendEscaped(clean, c);
        } else {
            clean += ch;
        }
    }
}

// What writes the query of a reference that starts so (up to its query) in the page's
// encoding; null when the query stays UTF-8.
UrlResolver::QueryWriter* UrlResolver::LegacyQueryWriter(std::string_view referenceStart) const {
    if (!m_queryEncoding)
        return nullptr;
    const std::string_view scheme = SchemeOf(referenceStart);
    if (scheme.empty() ? !m_baseIsWebAddress : !IsWebScheme(scheme))
        return nullptr;
    if (!m_queryWriter)
        m_queryWriter = std::make_unique<QueryWriter>(*m_queryEncoding);
    // Without a converter the query stays in UTF-8, like the rest of the address.
    return m_queryWriter->CanWrite() ? m_queryWriter.get() : nullptr;
}

std::optional<std::string> UrlResolver::Resolve(std::string_view reference) const {
    std::string out;
    if (!Resolve(reference, out))
        return std::nullopt;
    return out;
}

bool UrlResolver::Resolve(std::string_view reference, std::string& out) const {
    if (!m_base)
        return false;
    std::string& clean = m_clean;
    CleanReference(reference, clean);
    // An empty reference and a bare fragment name the document itself; the URL parser would
    // take them for a path.
    if (clean.empty() || clean.front() == '#') {
        const auto document = GetUrl(m_base.get());
        if (!document)
            return false;
        out.assign(*document, 0, document->find('#'));
        out += clean;
        return true;
    }
    if (!m_origin.empty() && IsPlainAbsolutePath(clean)) {
        out.assign(m_origin);
        out += clean;
        return true;
    }
    const CurlUrl url(curl_url_dup(m_base.get()));
    if (!url || curl_url_set(url.get(), CURLUPART_URL, clean.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
                    CURLUE_OK)
        return false;
    auto written = GetUrl(url.get());
    if (!written)
        return false;
    out = std::move(*written);
    return true;
}
