// One transfer of a URL into the cache, and the notifications it sends its bind-status
// callback through the message pump.
#pragma once

#include "platform/net/cache.h"
#include "platform/net/curl_ptr.h"
#include "platform/net/urlmon.h"
#include "platform/net/urlmon_ref.h"

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace urlmon {

class BodyDecoder;
class UrlService;

class Binding final : public IBinding, public IBindingHttpInfo, public IBindingBodyLimit {
public:
    // Without a callback the binding runs ahead: it keeps its notifications until a bind
    // takes it over (Claim, then Replay).
    Binding(std::u16string url, IBindStatusCallback* callback, std::u16string extraHeaders = {});

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    // IBinding: stops the transfer at once, removes its cache file and calls
    // OnStopBinding(E_ABORT) before it returns; what was queued is dropped. S_FALSE when the
    // stop has already been delivered.
    HRESULT Abort() override;
    // IBindingHttpInfo
    std::u16string GetFinalUrl() override;
    std::u16string GetContentType() override;
    long GetResponseStatus() override;
    std::u16string GetETag() override;
    std::u16string GetLastModified() override;
    uint32_t GetServerWaitLeft() override;
    // IBindingBodyLimit
    void ReadOnlyPrefix(uint64_t maxBytes) override;

    // Starts the transfer once its server may be asked (the service admits it); a URL that
    // cannot be fetched ends with a posted OnStopBinding.
    void Start(UrlService& service);
    // The service admits the queued transfer: its request goes out now.
    void Launch(UrlService& service);
    // Waits for the service's admission: not started, or repeated after the server pushed back.
    bool IsQueued() const { return m_state == State::Queued; }
    // Not before this tick, when the server asked this request to wait.
    bool IsDue(uint32_t now) const;
    // The server the transfer goes to ("http://host:port"), which shares its slow-down state.
    const std::string& Host() const { return m_host; }
    // The request went out and no answer has begun since; when it went out.
    bool IsUnanswered() const {
        return m_state == State::Running && m_bRequestSent && !m_bAnswered;
    }
    uint32_t SentAt() const { return m_dwSent; }
    // Times the request went out again unanswered.
    int Restarts() const { return m_nRestarts; }
    bool IsAnswered() const { return m_bAnswered; }
    // Its connection went unanswered while another one to its server was answered: the
    // request goes out again, to a connection the server serves.
    void Restart();
    // The service's word that libcurl has finished the transfer.
    void OnTransferDone(CURLcode code);
    // Service shutdown, or a transfer ahead nobody will take over: stops without delivering
    // anything more, removes its cache file and lets the callback go.
    void Cancel();

    const std::u16string& ExtraHeaders() const { return m_extraHeaders; }
    // Running ahead: started, not finished and not taken over yet.
    bool IsRunningAhead() const {
        return m_bHeld && (m_state == State::Running || m_state == State::Queued);
    }
    bool IsHeld() const { return m_bHeld; }
    // Ended as a failure, still ahead: no bind must take this over as its answer.
    bool HasFailed() const { return m_state == State::Finished && FAILED(m_hrStop); }
    // A bind takes over a binding ahead: callback becomes its callback...
    void Claim(IBindStatusCallback* callback);
    // ...and, once OnStartBinding has accepted it, what it kept is queued on the pump in its
    // order; what follows goes there directly.
    void Replay();

private:
    enum class State {
        Created,  // not started
        Queued,   // waits for the service to admit it: its server's slots, pace or wish
        Running,  // transfer in flight
        Finished, // transfer over, OnStopBinding queued
        Stopped,  // OnStopBinding delivered, or cancelled at shutdown: nothing more is said
    };

    ~Binding();

    static size_t HeaderCallback(char* data, size_t size, size_t count, void* self);
    static size_t WriteCallback(char* data, size_t size, size_t count, void* self);
    static int PrereqCallback(void* self, char*, char*, int, int);

    // libcurl ends a transfer that receives nothing for a minute: one nothing else watches.
    void LimitSilence();
    // The extra request headers (what the callback's IHttpNegotiate gave), onto the transfer.
    void AddRequestHeaders();

    // What the body's receiver tells libcurl: go on, hold the data back until the next pump
    // pass, or stop.
    enum class Flow { Go, Yield, Stop };

    // The server asked to slow down: the request waits, as long as asked within bounds,
    // and goes out again; or, asked to wait too long, the transfer fails with its words.
    void OnPushBack();
    // What the last response said is forgotten: the request goes out afresh.
    void ForgetResponse();

    // libcurl callbacks; false stops the transfer.
    bool OnHeaderLine(std::string_view line);
    bool OnHeadersComplete();
    Flow OnBody(const char* data, size_t size);
    Flow Yield(UrlService& service);
    // Decoded body bytes into the cache file, within the body's limits; false stops the
    // transfer, which has failed unless its reader wanted only what it has now.
    bool Store(const char* data, size_t size);
    // The final response starts: type, address and cache file are known.
    bool BeginBody();

    // A failure on this side of the connection; it outranks what libcurl reports. False, so
    // that a libcurl callback can return it. Allocates nothing: it runs in libcurl's frames.
    bool FailLocally(const char16_t* reason);
    // The cache file could not be made, written or finished; error is the errno.
    bool FailCache(int error);

    HRESULT ResultOf(CURLcode code) const;
    std::u16string ReasonOf(CURLcode code, long osError, long verifyResult) const;
    void Finish(HRESULT hr, std::u16string reason = {});
    // Tells the callback the stop now and lets it go; nothing queued reaches it afterwards.
    void DeliverStop();
    void StopTransfer();
    void DiscardCacheFile();

    // Queues one notification; it is dropped when the binding has been aborted meanwhile.
    void Post(std::function<void(IBindStatusCallback&)> notify);
    // Onto the pump, or kept while the binding is held ahead.
    void Queue(std::function<void()> message);
    void PostProgress(ULONG statusCode, const std::u16string& text, uint64_t progress = 0,
                      uint64_t progressMax = 0);
    // At most one "downloading" notification waits in the queue; it carries the numbers
    // current when it is delivered.
    void PostDownloading();
    void PostStop();

    ULONG m_cRef = 1;
    State m_state = State::Created;
    HRESULT m_hrStop = S_OK;
    std::u16string m_stopText;
    Ref<IBindStatusCallback> m_pCallback;

    std::u16string m_url; // as handed to the moniker: the key of the cache entry
    std::u16string m_finalUrl;
    std::u16string m_contentType;
    std::u16string m_extraHeaders;
    // Ahead and not taken over: notifications wait here instead of on the pump.
    bool m_bHeld = false;
    std::vector<std::function<void()>> m_held;

    CurlUrl m_pUrl;              // the address asked for; outlives m_easy
    std::u16string m_szHost;     // as the observer is told it
    std::string m_host;          // the slow-down state's key
    CurlSlist m_pHeaders;        // the callback's request headers; outlive m_easy
    CURL* m_easy = nullptr;      // owned while the transfer runs
    bool m_bConditional = false; // the request carries validators: a 304 is an answer
    bool m_bRequestSent = false;
    uint32_t m_dwSent = 0;    // tick the request went out
    int m_nRestarts = 0;      // times the request went out again unanswered
    bool m_bAnswered = false; // a status line came since
    // Waiting because the server pushed back: until this tick, and how long in all so far.
    bool m_bServerWait = false;
    uint32_t m_dwWaitUntil = 0;
    uint64_t m_nWaitedMs = 0;
    bool m_bPushedBack = false;               // the response is a 429 or 503
    char m_szCurlError[CURL_ERROR_SIZE] = {}; // libcurl's own words for a failure

    // The response being received (each redirect starts a new one).
    struct Response {
        std::string contentType;
        std::string contentEncoding; // every Content-Encoding value, joined by commas
        std::optional<std::string> disposition;
        bool hasLocation = false;
        std::string location;
        std::string statusPhrase;
        std::string etag;
        std::string lastModified;
        std::string retryAfter;
    } m_response;
    long m_nStatus = 0;          // of the final response
    bool m_bNotModified = false; // a 304 to a conditional request: no body, no cache file
    long m_nHttpError = 0;       // a status of 400 or more ends the transfer
    HRESULT m_hrLocalFailure = S_OK;
    const char16_t* m_szLocalFailure = nullptr; // the reason, when not the cache's
    int m_nCacheError = 0;                      // errno of the failed cache file

    bool m_bBodyBegun = false;
    std::unique_ptr<BodyDecoder> m_decoder; // when the body comes compressed
    std::optional<cache::CacheFile> m_cacheFile;
    uint64_t m_nBytes = 0;         // of the decoded body
    int64_t m_nContentLength = -1; // of the decoded body; -1 when unknown
    uint64_t m_nMaxBytes;          // of the decoded body
    bool m_bPrefixOnly = false;    // past m_nMaxBytes the body is cut, not failed
    bool m_bCut = false;           // the reader has the prefix it wants: a success
    // Bytes at the start of the data libcurl holds back after a yield that were decoded
    // already: it hands the same data over again at the next pass.
    size_t m_nRedelivered = 0;
    bool m_bDownloadingQueued = false;
    bool m_bDownloadingPosted = false;
};

} // namespace urlmon
