// A binding's body: decoded as it arrives, stored in its cache file within the limits that
// no real tone comes near, and handed over in shares that keep a pump pass short.
#include "platform/net/urlmon_binding.h"

#include "platform/net/urlmon_binding_parts.h"
#include "platform/net/urlmon_decoding.h"
#include "platform/net/urlmon_failure.h"
#include "platform/net/urlmon_headers.h"
#include "platform/net/urlmon_service.h"
#include "platform/text/text.h"

#include <algorithm>
#include <cerrno>

namespace urlmon {

namespace {

// No real tone comes near a gigabyte; a body beyond it is a server gone wrong or hostile.
constexpr uint64_t kMaxBodyBytes = uint64_t{1} << 30;
// Real content compresses tens of times at best; a stream of zeros about a thousand times
// (deflate's limit is 1032). Past a size no real tone reaches when compressed that well, a
// body expanding more than that is a decompression bomb.
constexpr uint64_t kMaxExpansion = 1000;
constexpr uint64_t kMinExpansionBytes = uint64_t{64} << 20;
uint64_t g_nMaxBodyBytes = kMaxBodyBytes;
uint64_t g_nMinExpansionBytes = kMinExpansionBytes;
// HTTP's own default for a body that does not say what it is.
constexpr char16_t kUnknownMediaType[] = u"application/octet-stream";

bool ExpandsTooFar(uint64_t decoded, uint64_t encoded) {
    return decoded > g_nMinExpansionBytes && decoded > kMaxExpansion * encoded;
}

} // namespace

uint64_t MaxBodyBytes() {
    return g_nMaxBodyBytes;
}

void Binding::ReadOnlyPrefix(uint64_t maxBytes) {
    m_nMaxBytes = maxBytes;
    m_bPrefixOnly = true;
}

bool Binding::BeginBody() {
    if (m_bBodyBegun)
        return true;
    m_bBodyBegun = true;
    UrlService* service = UrlService::Get();
    if (!service)
        return FailLocally(u"the download service has stopped");
    m_contentType = FromUtf8(m_response.contentType);
    ContentCoding coding = ContentCodingOf(m_response.contentEncoding);
    if (coding == ContentCoding::Unreadable)
        return FailLocally(kUnreadableBodyReason);
    if (coding == ContentCoding::Zlib) {
        m_decoder = std::make_unique<BodyDecoder>();
        if (!m_decoder->IsReady())
            return FailLocally(kOutOfMemoryReason);
    }
    // The Content-Length of a compressed body counts the compressed bytes: how long the file
    // is shows only at its end.
    curl_off_t contentLength = -1;
    curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength);
    m_nContentLength = m_decoder ? -1 : contentLength;
    if (!m_bPrefixOnly && m_nContentLength > 0 &&
        static_cast<uint64_t>(m_nContentLength) > m_nMaxBytes)
        return FailLocally(kTooLargeReason); // not worth fetching only to fail at the limit

    std::string mediaType = MediaType(m_response.contentType);
    PostProgress(BINDSTATUS_MIMETYPEAVAILABLE,
                 mediaType.empty() ? kUnknownMediaType : FromUtf8(mediaType));
    uint64_t expected = m_nContentLength > 0 ? static_cast<uint64_t>(m_nContentLength) : 0;
    PostProgress(BINDSTATUS_BEGINDOWNLOADDATA, m_finalUrl, 0, expected);

    std::optional<std::string> name;
    if (m_response.disposition)
        name = FileNameFromContentDisposition(*m_response.disposition);
    if (!name)
        name = LastPathSegment(ToUtf8(m_finalUrl));
    int error = 0;
    m_cacheFile = service->Cache().CreateFile(m_url, FromUtf8(*name), &error);
    if (!m_cacheFile)
        return FailCache(error);
    PostProgress(BINDSTATUS_CACHEFILENAMEAVAILABLE, m_cacheFile->path16, 0, expected);
    return true;
}

Binding::Flow Binding::OnBody(const char* data, size_t size) {
    if (m_bNotModified)
        return Flow::Go; // a 304 has no body; whatever comes is not the resource
    if (FAILED(m_hrLocalFailure) || m_bCut)
        return Flow::Stop; // decided already; libcurl may still have data to hand over
    if (!m_bBodyBegun && !BeginBody())
        return Flow::Stop;
    UrlService* service = UrlService::Get();
    if (!service) {
        FailLocally(u"the download service has stopped");
        return Flow::Stop;
    }
    if (service->PassSpent())
        return Yield(*service);
    const size_t skip = std::min(m_nRedelivered, size);
    m_nRedelivered -= skip;
    data += skip;
    size -= skip;
    if (!m_decoder)
        return Store(data, size) ? Flow::Go : Flow::Stop;

    // Inflated a buffer at a time: a few compressed bytes can stand for megabytes.
    m_decoder->Feed(data, size);
    for (std::string_view decoded; !(decoded = m_decoder->Read()).empty();) {
        if (!Store(decoded.data(), decoded.size()))
            return Flow::Stop;
        if (service->PassSpent() && m_decoder->InputLeft() > 0) {
            m_nRedelivered = skip + (size - m_decoder->InputLeft());
            return Yield(*service);
        }
    }
    if (m_decoder->IsDamaged()) {
        FailLocally(kUnreadableBodyReason);
        return Flow::Stop;
    }
    return Flow::Go;
}

Binding::Flow Binding::Yield(UrlService& service) {
    service.Yielded(m_easy);
    return Flow::Yield;
}

bool Binding::Store(const char* data, size_t size) {
    if (!m_bPrefixOnly && m_nBytes + size > m_nMaxBytes)
        return FailLocally(kTooLargeReason);
    if (m_decoder && ExpandsTooFar(m_nBytes + size, m_decoder->ConsumedBytes()))
        return FailLocally(kExpansionReason);
    if (!m_cacheFile || !m_cacheFile->Write(data, size))
        return FailCache(m_cacheFile ? m_cacheFile->error : EIO); // a full disk ends it
    m_nBytes += size;
    PostDownloading();
    if (UrlService* service = UrlService::Get())
        service->Spend(size);
    if (m_bPrefixOnly && m_nBytes > m_nMaxBytes) {
        m_bCut = true; // the reader has all it wants; the rest is not fetched
        return false;
    }
    return true;
}

} // namespace urlmon

void SetBodyLimitsForTesting(uint64_t maxBodyBytes, uint64_t minExpansionBytes) {
    urlmon::g_nMaxBodyBytes = maxBodyBytes > 0 ? maxBodyBytes : urlmon::kMaxBodyBytes;
    urlmon::g_nMinExpansionBytes =
        minExpansionBytes > 0 ? minExpansionBytes : urlmon::kMinExpansionBytes;
}
