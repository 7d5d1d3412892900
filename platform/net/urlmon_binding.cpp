// One binding: a libcurl transfer into a cache file, reported to its bind-status callback in
// the download service's order through the GUI thread's message pump.
#include "platform/net/urlmon_binding.h"

#include "platform/net/urlmon_decoding.h"
#include "platform/net/urlmon_failure.h"
#include "platform/net/urlmon_headers.h"
#include "platform/net/urlmon_service.h"
#include "platform/pump/pump.h"
#include "platform/text/text.h"
#include "platform/text/text_ascii.h"
#include "platform/text/text_error.h"
#include "version.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

namespace urlmon {

namespace {

constexpr long kMaxRedirects = 10;
constexpr long kNotModified = 304;
// libcurl's own limits stay above the engine's stall watchdog for tones (20 s without progress
// and 10 s of grace, then it aborts and tries again): a shorter limit would end a stalled tone
// first and cost it its retries. They still end a transfer nothing watches, such as a page's,
// when its server never answers.
constexpr long kConnectTimeoutMs = 60000;
constexpr long kSilentSeconds = 60; // receiving under 1 byte/s for this long ends a transfer
long g_nConnectTimeoutMs = kConnectTimeoutMs;
long g_nSilentSeconds = kSilentSeconds;
// No real tone comes near a gigabyte; a body beyond it is a server gone wrong or hostile.
constexpr uint64_t kMaxBodyBytes = uint64_t{1} << 30;
// Real content compresses tens of times at best; a stream of zeros about a thousand times
// (deflate's limit is 1032). Past a size no real tone reaches when compressed that well, a
// body expanding more than that is a decompression bomb.
constexpr uint64_t kMaxExpansion = 1000;
constexpr uint64_t kMinExpansionBytes = uint64_t{64} << 20;
uint64_t g_nMaxBodyBytes = kMaxBodyBytes;
uint64_t g_nMinExpansionBytes = kMinExpansionBytes;
constexpr long kReceiveBufferBytes = 64 * 1024;
// HTTP's own default for a body that does not say what it is.
constexpr char16_t kUnknownMediaType[] = u"application/octet-stream";

std::string UrlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK)
        return {};
    CurlString owned(text);
    return text;
}

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

bool ExpandsTooFar(uint64_t decoded, uint64_t encoded) {
    return decoded > g_nMinExpansionBytes && decoded > kMaxExpansion * encoded;
}

// OnProgress takes 32-bit numbers: a body over 4 GiB is reported to scale.
void FitIn32Bits(uint64_t& progress, uint64_t& progressMax) {
    while (progress > UINT32_MAX || progressMax > UINT32_MAX) {
        progress >>= 1;
        progressMax >>= 1;
    }
}

std::string UserAgent() {
    return ToUtf8(PM_PRODUCT_NAME) + "/" + ToUtf8(PM_VERSION);
}

} // namespace

Binding::Binding(std::u16string url, IBindStatusCallback* callback, std::u16string extraHeaders)
    : m_pCallback(callback), m_url(std::move(url)), m_finalUrl(m_url),
      m_extraHeaders(std::move(extraHeaders)), m_bHeld(callback == nullptr),
      m_nMaxBytes(g_nMaxBodyBytes) {}

Binding::~Binding() {
    if (m_easy)
        curl_easy_cleanup(m_easy);
}

HRESULT Binding::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IBinding)
        *ppv = static_cast<IBinding*>(this);
    else if (riid == IID_IBindingHttpInfo)
        *ppv = static_cast<IBindingHttpInfo*>(this);
    else if (riid == IID_IBindingBodyLimit)
        *ppv = static_cast<IBindingBodyLimit*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG Binding::AddRef() {
    return ++m_cRef;
}

ULONG Binding::Release() {
    ULONG count = --m_cRef;
    if (count == 0)
        delete this;
    return count;
}

std::u16string Binding::GetFinalUrl() {
    return m_finalUrl;
}

std::u16string Binding::GetContentType() {
    return m_contentType;
}

long Binding::GetResponseStatus() {
    return m_nStatus;
}

std::u16string Binding::GetETag() {
    return FromUtf8(m_response.etag);
}

std::u16string Binding::GetLastModified() {
    return FromUtf8(m_response.lastModified);
}

void Binding::AddRequestHeaders() {
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

void Binding::ReadOnlyPrefix(uint64_t maxBytes) {
    m_nMaxBytes = maxBytes;
    m_bPrefixOnly = true;
}

void Binding::Start(UrlService& service) {
    if (m_state != State::Created) // aborted from inside OnStartBinding
        return;
    std::string url = ToUtf8(m_url);
    std::string scheme = UrlScheme(url);
    if (!scheme.empty() && scheme != "http" && scheme != "https") {
        Finish(INET_E_UNKNOWN_PROTOCOL, kOnlyWebReason);
        return;
    }
    // Spaces and raw bytes in an address are escaped; escapes already there are kept.
    CurlUrl parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(),
                                CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) != CURLUE_OK) {
        Finish(INET_E_INVALID_URL, kInvalidAddressReason);
        return;
    }
    std::u16string host = FromUtf8(UrlPart(parsed.get(), CURLUPART_HOST));

    m_easy = curl_easy_init();
    if (!m_easy) {
        Finish(E_OUTOFMEMORY, kOutOfMemoryReason);
        return;
    }
    static const std::string userAgent = UserAgent();
    // The address goes to libcurl as parsed here, so it is not written out and parsed again.
    m_pUrl = std::move(parsed);
    curl_easy_setopt(m_easy, CURLOPT_CURLU, m_pUrl.get());
    // Only the web: a hostile page must not make the program read a local file or speak
    // any other protocol, neither directly nor through a redirect.
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    // No overall time limit: a large tone may take long, as long as data keeps coming.
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, g_nConnectTimeoutMs);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, g_nSilentSeconds);
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_szCurlError);
    curl_easy_setopt(m_easy, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(m_easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    // Pages shrink several times over when compressed. The body is decoded here, not by
    // libcurl: a compressed stream cut short must fail the transfer, and libcurl lets it pass.
    curl_easy_setopt(m_easy, CURLOPT_ACCEPT_ENCODING, kAcceptedCodings);
    curl_easy_setopt(m_easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    // A proxy's answer to CONNECT is not the resource's response.
    curl_easy_setopt(m_easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &Binding::HeaderCallback);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Binding::WriteCallback);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_PREREQFUNCTION, &Binding::PrereqCallback);
    curl_easy_setopt(m_easy, CURLOPT_PREREQDATA, this);
    AddRequestHeaders();
    // Over TLS a server that speaks HTTP/2 carries every transfer to it on one connection.
    curl_easy_setopt(m_easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    if (UrlScheme(url) == "https")
        curl_easy_setopt(m_easy, CURLOPT_PIPEWAIT, 1L);
    // The bind flags that ask for the newest version need nothing more: the cache never
    // answers a bind, every bind asks the server.
    if (!service.Add(m_easy, this)) {
        curl_easy_cleanup(std::exchange(m_easy, nullptr));
        Finish(E_FAIL, u"the download could not be started");
        return;
    }
    m_state = State::Running;
    PostProgress(BINDSTATUS_FINDINGRESOURCE, host);
    PostProgress(BINDSTATUS_CONNECTING, host);
}

// The callbacks run inside libcurl's C frames, which an exception must not cross: running out
// of memory there fails the transfer instead.
size_t Binding::HeaderCallback(char* data, size_t size, size_t count, void* self) {
    auto* binding = static_cast<Binding*>(self);
    size_t bytes = size * count;
    try {
        return binding->OnHeaderLine(std::string_view(data, bytes)) ? bytes : 0;
    } catch (...) {
        binding->FailLocally(kOutOfMemoryReason);
        return 0;
    }
}

size_t Binding::WriteCallback(char* data, size_t size, size_t count, void* self) {
    auto* binding = static_cast<Binding*>(self);
    size_t bytes = size * count;
    try {
        switch (binding->OnBody(data, bytes)) {
        case Flow::Go:
            return bytes;
        case Flow::Yield:
            return CURL_WRITEFUNC_PAUSE;
        case Flow::Stop:
            break;
        }
        return 0;
    } catch (...) {
        binding->FailLocally(kOutOfMemoryReason);
        return 0;
    }
}

int Binding::PrereqCallback(void* self, char*, char*, int, int) {
    auto* binding = static_cast<Binding*>(self);
    binding->m_bRequestSent = true;
    try {
        binding->PostProgress(BINDSTATUS_SENDINGREQUEST, u"");
        return CURL_PREREQFUNC_OK;
    } catch (...) {
        binding->FailLocally(kOutOfMemoryReason);
        return CURL_PREREQFUNC_ABORT;
    }
}

bool Binding::OnHeaderLine(std::string_view line) {
    if (line.starts_with("HTTP/")) {
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
    if (status == kNotModified) {
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

bool Binding::FailLocally(const char16_t* reason) {
    if (SUCCEEDED(m_hrLocalFailure)) {
        m_hrLocalFailure = INET_E_DOWNLOAD_FAILURE;
        m_szLocalFailure = reason;
    }
    return false;
}

bool Binding::FailCache(int error) {
    if (SUCCEEDED(m_hrLocalFailure)) {
        m_hrLocalFailure = STG_E_WRITEFAULT;
        m_nCacheError = error != 0 ? error : EIO;
    }
    return false;
}

HRESULT Binding::ResultOf(CURLcode code) const {
    if (m_nHttpError != 0)
        return m_nHttpError == 404 ? INET_E_RESOURCE_NOT_FOUND : INET_E_DOWNLOAD_FAILURE;
    if (FAILED(m_hrLocalFailure))
        return m_hrLocalFailure;
    if (m_bCut)
        return S_OK; // ended on purpose, whatever libcurl makes of that
    switch (code) {
    case CURLE_OK:
        return S_OK;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return INET_E_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT: // no connection in time, or nothing received for long
        return m_bRequestSent ? INET_E_DOWNLOAD_FAILURE : INET_E_CANNOT_CONNECT;
    case CURLE_UNSUPPORTED_PROTOCOL: // also a redirect to anything but http/https
        return INET_E_UNKNOWN_PROTOCOL;
    case CURLE_URL_MALFORMAT:
        return INET_E_INVALID_URL;
    default:
        return INET_E_DOWNLOAD_FAILURE;
    }
}

std::u16string Binding::ReasonOf(CURLcode code, long osError, long verifyResult) const {
    if (m_nHttpError != 0)
        return HttpFailureReason(m_nHttpError, m_response.statusPhrase);
    if (m_hrLocalFailure == STG_E_WRITEFAULT)
        return SystemErrorText(m_nCacheError);
    if (m_szLocalFailure)
        return m_szLocalFailure;
    return TransferFailureReason(code, osError, verifyResult, m_szCurlError);
}

void Binding::OnTransferDone(CURLcode code) {
    Ref<Binding> keep(this);
    long osError = 0; // read before the handle goes
    curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osError);
    long verifyResult = 0;
    curl_easy_getinfo(m_easy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
    HRESULT hr = ResultOf(code);
    if (SUCCEEDED(hr) && m_bNotModified) {
        StopTransfer();
        Finish(S_OK);
        return;
    }
    // A body-less answer (or one whose headers ended oddly) still makes its cache file.
    if (SUCCEEDED(hr) && !BeginBody())
        hr = ResultOf(code);
    // A compressed stream that stops short lost the end of the file, however well the
    // connection itself ended.
    if (SUCCEEDED(hr) && m_decoder && !m_bCut && !m_decoder->IsComplete()) {
        FailLocally(kUnreadableBodyReason);
        hr = ResultOf(code);
    }
    StopTransfer();
    if (SUCCEEDED(hr) && !(m_cacheFile && m_cacheFile->Finish())) {
        FailCache(m_cacheFile ? m_cacheFile->error : EIO);
        hr = ResultOf(code);
    }
    if (FAILED(hr)) {
        std::u16string reason = ReasonOf(code, osError, verifyResult);
        DiscardCacheFile();
        Finish(hr, std::move(reason));
        return;
    }
    if (!m_bDownloadingPosted)
        PostDownloading();
    PostProgress(BINDSTATUS_ENDDOWNLOADDATA, m_finalUrl, m_nBytes, m_nBytes);
    uint64_t size = m_nBytes;
    uint64_t ignored = 0;
    FitIn32Bits(size, ignored);
    Post([size](IBindStatusCallback& callback) {
        FORMATETC format{0, nullptr, 1 /* content */, -1, TYMED_ISTREAM};
        STGMEDIUM medium{TYMED_ISTREAM, nullptr, nullptr}; // the data is in the cache file
        callback.OnDataAvailable(BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION |
                                     BSCF_DATAFULLYAVAILABLE,
                                 static_cast<DWORD>(size), &format, &medium);
    });
    Finish(S_OK);
}

HRESULT Binding::Abort() {
    if (m_state == State::Stopped)
        return S_FALSE;
    // The callback may let go of its last reference to this binding while it is told.
    Ref<Binding> keep(this);
    StopTransfer();
    DiscardCacheFile();
    // Told now rather than through the pump: a stop queued behind other messages would reach
    // the callback's owner later, when it may already be busy with something else.
    m_hrStop = E_ABORT;
    m_stopText.clear();
    DeliverStop();
    return S_OK;
}

void Binding::Cancel() {
    Ref<Binding> keep(this);
    StopTransfer();
    DiscardCacheFile();
    m_state = State::Stopped;
    m_pCallback.reset();
    m_held.clear(); // they hold references to this binding
    if (UrlService* service = UrlService::Get())
        service->Forget(this);
}

void Binding::Finish(HRESULT hr, std::u16string reason) {
    m_hrStop = hr;
    m_stopText = std::move(reason);
    m_state = State::Finished;
    PostStop();
}

void Binding::Claim(IBindStatusCallback* callback) {
    m_pCallback = Ref<IBindStatusCallback>(callback);
}

void Binding::Replay() {
    m_bHeld = false;
    std::vector<std::function<void()>> held = std::move(m_held);
    m_held.clear();
    for (std::function<void()>& message : held)
        PostThreadMessage(std::move(message));
}

void Binding::DeliverStop() {
    m_state = State::Stopped;
    m_held.clear();
    Ref<IBindStatusCallback> callback = std::move(m_pCallback);
    if (UrlService* service = UrlService::Get())
        service->Forget(this);
    if (callback)
        callback->OnStopBinding(m_hrStop, m_stopText.empty() ? nullptr : m_stopText.c_str());
}

void Binding::StopTransfer() {
    // Nothing more arrives to decode. A page's binding lives as long as its document, and a
    // deep crawl holds one document per nesting level: the decoder's buffers must not.
    m_decoder.reset();
    if (!m_easy)
        return;
    if (UrlService* service = UrlService::Get())
        service->Remove(m_easy);
    curl_easy_cleanup(std::exchange(m_easy, nullptr));
}

void Binding::DiscardCacheFile() {
    if (!m_cacheFile)
        return;
    m_cacheFile->file.Close();
    if (UrlService* service = UrlService::Get())
        service->Cache().Discard(m_url, m_cacheFile->path);
    m_cacheFile.reset();
}

void Binding::Queue(std::function<void()> message) {
    if (m_bHeld)
        m_held.push_back(std::move(message));
    else
        PostThreadMessage(std::move(message));
}

void Binding::Post(std::function<void(IBindStatusCallback&)> notify) {
    Queue([self = Ref(this), notify = std::move(notify)] {
        if (!self->m_pCallback) // stopped meanwhile
            return;
        Ref<IBindStatusCallback> callback = self->m_pCallback;
        notify(*callback.get());
    });
}

void Binding::PostProgress(ULONG statusCode, const std::u16string& text, uint64_t progress,
                           uint64_t progressMax) {
    FitIn32Bits(progress, progressMax);
    Post([statusCode, text, progress, progressMax](IBindStatusCallback& callback) {
        callback.OnProgress(static_cast<ULONG>(progress), static_cast<ULONG>(progressMax),
                            statusCode, text.c_str());
    });
}

void Binding::PostDownloading() {
    m_bDownloadingPosted = true;
    if (m_bDownloadingQueued)
        return; // the queued one will carry the new numbers
    m_bDownloadingQueued = true;
    Post([this](IBindStatusCallback& callback) {
        m_bDownloadingQueued = false;
        uint64_t progress = m_nBytes;
        uint64_t progressMax =
            m_nContentLength >= 0 ? std::max<uint64_t>(m_nContentLength, m_nBytes) : m_nBytes;
        FitIn32Bits(progress, progressMax);
        callback.OnProgress(static_cast<ULONG>(progress), static_cast<ULONG>(progressMax),
                            BINDSTATUS_DOWNLOADINGDATA, m_finalUrl.c_str());
    });
}

void Binding::PostStop() {
    Queue([self = Ref(this)] {
        if (self->m_state == State::Finished) // not aborted or cancelled meanwhile
            self->DeliverStop();
    });
}

} // namespace urlmon

void SetTransferTimeoutsForTesting(long connectMs, long silentSeconds) {
    urlmon::g_nConnectTimeoutMs = connectMs > 0 ? connectMs : urlmon::kConnectTimeoutMs;
    urlmon::g_nSilentSeconds = silentSeconds > 0 ? silentSeconds : urlmon::kSilentSeconds;
}

void SetBodyLimitsForTesting(uint64_t maxBodyBytes, uint64_t minExpansionBytes) {
    urlmon::g_nMaxBodyBytes = maxBodyBytes > 0 ? maxBodyBytes : urlmon::kMaxBodyBytes;
    urlmon::g_nMinExpansionBytes =
        minExpansionBytes > 0 ? minExpansionBytes : urlmon::kMinExpansionBytes;
}
