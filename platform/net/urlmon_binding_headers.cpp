// A binding's request headers and the response's headers as they arrive: what the server
// answered, where it redirects, what the body will be called.
#include "platform/net/urlmon_binding.h"

#include "platform/clock.h"
#include "platform/net/urlmon_binding_parts.h"
#include "platform/net/urlmon_failure.h"
#include "platform/net/urlmon_headers.h"
#include "platform/net/urlmon_service.h"
#include "platform/text/text.h"
#include "platform/text/text_ascii.h"

namespace urlmon {

namespace {

constexpr long kTooManyRequests = 429;
constexpr long kServiceUnavailable = 503;

// A Location value resolved against the address that sent it; as sent when that fails.
std::string ResolveLocation(const char* base, const std::string& location) {
    CurlUrl url(curl_url());
    if (!url || !base || curl_url_set(url.get(), CURLUPART_URL, base, 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, location.c_str(),
                     CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) != CURLUE_OK)
        return location;
    return UrlPart(url.get(), CURLUPART_URL);
}

// The value of "name: value" when the line is that header (name given in lower case).
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
    if (!StartsWithIgnoreAsciiCase(line, name) || line.size() <= name.size() ||
        line[name.size()] != ':')
        return std::nullopt;
    return TrimHeaderValue(line.substr(name.size() + 1));
}

} // namespace

void Binding::AddRequestHeaders() {
    if (m_pHeaders) { // a request that goes out again carries what it carried
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_pHeaders.get());
        return;
    }
    const std::string headers = ToUtf8(m_extraHeaders);
    // One header per line; a line break inside a value cannot reach the request.
    for (size_t start = 0; start < headers.size();) {
        size_t end = headers.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = headers.size();
        const std::string line = headers.substr(start, end - start);
        start = end + 1;
        if (line.find(':') == std::string::npos || line.find('\0') != std::string::npos)
            continue;
        curl_slist* list = curl_slist_append(m_pHeaders.get(), line.c_str());
        if (!list)
            continue;
        if (!m_pHeaders)
            m_pHeaders.reset(list); // later lines are appended to this same head
        if (HeaderValue(line, "if-none-match") || HeaderValue(line, "if-modified-since"))
            m_bConditional = true;
    }
    if (m_pHeaders)
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_pHeaders.get());
}

bool Binding::OnHeaderLine(std::string_view line) {
    if (line.starts_with("HTTP/")) {
        if (!m_bAnswered) {
            m_bAnswered = true;
            if (UrlService* service = UrlService::Get())
                service->NoteAnswer(m_host, m_dwSent, GetTickCount());
        }
        m_response = Response{}; // each response of a redirect chain speaks for itself
        m_response.statusPhrase = StatusLinePhrase(line);
        return true;
    }
    if (TrimHeaderValue(line).empty())
        return OnHeadersComplete();
    if (auto value = HeaderValue(line, "content-type"); value && m_response.contentType.empty())
        m_response.contentType = *value;
    else if (auto value = HeaderValue(line, "content-disposition");
             value && !m_response.disposition)
        m_response.disposition = std::string(*value);
    else if (auto value = HeaderValue(line, "content-encoding")) {
        if (!m_response.contentEncoding.empty())
            m_response.contentEncoding += ',';
        m_response.contentEncoding += *value;
    } else if (auto value = HeaderValue(line, "location"); value && !m_response.hasLocation) {
        m_response.hasLocation = true;
        m_response.location = *value;
    } else if (auto value = HeaderValue(line, "etag"); value && m_response.etag.empty()) {
        m_response.etag = *value;
    } else if (auto value = HeaderValue(line, "last-modified");
               value && m_response.lastModified.empty()) {
        m_response.lastModified = *value;
    } else if (auto value = HeaderValue(line, "retry-after");
               value && m_response.retryAfter.empty()) {
        m_response.retryAfter = *value;
    }
    return true;
}

bool Binding::OnHeadersComplete() {
    long status = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
    const char* effectiveUrl = nullptr;
    curl_easy_getinfo(m_easy, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    if (effectiveUrl)
        m_finalUrl = FromUtf8(effectiveUrl);
    if (status < 200) // an interim response; the real one follows
        return true;
    m_nStatus = status;
    UrlService* service = UrlService::Get();
    if (status == kTooManyRequests || status == kServiceUnavailable) {
        // Not a failure: the server asks to be asked again later. Nothing of this answer
        // reaches the cache.
        m_bPushedBack = true;
        m_nHttpError = status;
        return false;
    }
    if (service)
        service->Answered(m_host, GetTickCount());
    if (status == HTTP_STATUS_NOT_MODIFIED) {
        // The copy the request named is current: nothing is fetched. Unasked, it is no
        // answer at all.
        if (!m_bConditional) {
            m_nHttpError = status;
            return false;
        }
        m_bNotModified = true;
        return true;
    }
    if (status >= 400) {
        // An error page is not the resource: stop before any of it reaches the cache.
        m_nHttpError = status;
        return false;
    }
    if (status >= 300 && m_response.hasLocation) {
        PostProgress(BINDSTATUS_REDIRECTING,
                     FromUtf8(ResolveLocation(effectiveUrl, m_response.location)));
        return true;
    }
    return BeginBody();
}

} // namespace urlmon
