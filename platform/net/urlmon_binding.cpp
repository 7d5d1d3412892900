// One binding: a libcurl transfer into a cache file, reported to its bind-status callback in
// the download service's order through the GUI thread's message pump. Its headers, its body,
// its failures' words, its notifications and its waits on a server each have a file of their
// own beside this one.
#include "platform/net/urlmon_binding.h"

#include "platform/clock.h"
#include "platform/net/urlmon_binding_parts.h"
#include "platform/net/urlmon_decoding.h"
#include "platform/net/urlmon_failure.h"
#include "platform/net/urlmon_headers.h"
#include "platform/net/urlmon_service.h"
#include "platform/text/text.h"
#include "version.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

namespace urlmon {

namespace {

constexpr long kMaxRedirects = 10;
// libcurl's own limits stay above the engine's stall watchdog (20 s without progress and 10 s
// of grace, then it aborts and tries again): a shorter limit would end a stalled transfer
// first and cost it its retries. The silence limit is only a last bound on a transfer the walk
// waits for; one running ahead has none, so that it is not ended before the walk reaches it.
constexpr long kConnectTimeoutMs = 60000;
constexpr long kSilentSeconds = 60; // receiving under 1 byte/s for this long ends a transfer
long g_nConnectTimeoutMs = kConnectTimeoutMs;
long g_nSilentSeconds = kSilentSeconds;
constexpr long kReceiveBufferBytes = 64 * 1024;

std::string UserAgent() {
    return ToUtf8(PM_PRODUCT_NAME) + "/" + ToUtf8(PM_VERSION);
}

} // namespace

std::string UrlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK)
        return {};
    CurlString owned(text);
    return text;
}

void FitIn32Bits(uint64_t& progress, uint64_t& progressMax) {
    while (progress > UINT32_MAX || progressMax > UINT32_MAX) {
        progress >>= 1;
        progressMax >>= 1;
    }
}

Binding::Binding(std::u16string url, IBindStatusCallback* callback, std::u16string extraHeaders)
    : m_pCallback(callback), m_url(std::move(url)), m_finalUrl(m_url),
      m_extraHeaders(std::move(extraHeaders)), m_bHeld(callback == nullptr),
      m_nMaxBytes(MaxBodyBytes()) {}

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
    m_szHost = FromUtf8(UrlPart(parsed.get(), CURLUPART_HOST));
    // One server is one scheme, host and port: they share connections and slow-down state.
    char* origin = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_PORT, &origin, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        CurlString owned(origin);
        m_host = UrlPart(parsed.get(), CURLUPART_SCHEME) + "://" +
                 UrlPart(parsed.get(), CURLUPART_HOST) + ":" + origin;
    }
    // The address goes to libcurl as parsed here, so it is not written out and parsed again.
    m_pUrl = std::move(parsed);
    m_state = State::Queued;
    service.Enqueue(this);
}

void Binding::Launch(UrlService& service) {
    m_easy = curl_easy_init();
    if (!m_easy) {
        Finish(E_OUTOFMEMORY, kOutOfMemoryReason);
        return;
    }
    static const std::string userAgent = UserAgent();
    curl_easy_setopt(m_easy, CURLOPT_CURLU, m_pUrl.get());
    // Only the web: a hostile page must not make the program read a local file or speak
    // any other protocol, neither directly nor through a redirect.
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    // No overall time limit: a large tone may take long, as long as data keeps coming.
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, g_nConnectTimeoutMs);
    // A transfer ahead may wait long for the walk; it is the walk's watchdog that tells a
    // stall when it gets there, not libcurl on its own before.
    if (!m_bHeld)
        LimitSilence();
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
    if (UrlPart(m_pUrl.get(), CURLUPART_SCHEME) == "https")
        curl_easy_setopt(m_easy, CURLOPT_PIPEWAIT, 1L);
    // The bind flags that ask for the newest version need nothing more: the cache never
    // answers a bind, every bind asks the server.
    if (!service.Add(m_easy, this)) {
        curl_easy_cleanup(std::exchange(m_easy, nullptr));
        Finish(E_FAIL, u"the download could not be started");
        return;
    }
    m_state = State::Running;
    PostProgress(BINDSTATUS_FINDINGRESOURCE, m_szHost);
    PostProgress(BINDSTATUS_CONNECTING, m_szHost);
}

void Binding::LimitSilence() {
    if (!m_easy)
        return;
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, g_nSilentSeconds);
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
    binding->m_dwSent = GetTickCount();
    try {
        binding->PostProgress(BINDSTATUS_SENDINGREQUEST, u"");
        return CURL_PREREQFUNC_OK;
    } catch (...) {
        binding->FailLocally(kOutOfMemoryReason);
        return CURL_PREREQFUNC_ABORT;
    }
}

void Binding::OnTransferDone(CURLcode code) {
    Ref<Binding> keep(this);
    if (m_bPushedBack && SUCCEEDED(m_hrLocalFailure)) {
        OnPushBack();
        return;
    }
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

} // namespace urlmon

void SetTransferTimeoutsForTesting(long connectMs, long silentSeconds) {
    urlmon::g_nConnectTimeoutMs = connectMs > 0 ? connectMs : urlmon::kConnectTimeoutMs;
    urlmon::g_nSilentSeconds = silentSeconds > 0 ? silentSeconds : urlmon::kSilentSeconds;
}
