// The URL download service: monikers bound to storage, with notifications to an
// IBindStatusCallback delivered through the program's message pump.
// It transfers with libcurl (zlib for compressed bodies) into a private cache folder
// (cache.h), on the text, files and pump services. The HTML document loads its pages with
// it and the engine downloads tones with it.
#pragma once

#include "platform/com/com.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr IID IID_IBinding = {
    0x79EAC9C0, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
inline constexpr IID IID_IBindStatusCallback = {
    0x79EAC9C1, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
inline constexpr IID IID_IBindCtx = {
    0x0000000E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IMoniker = {
    0x0000000F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IHttpNegotiate = {
    0x79EAC9D2, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
// The program's own query on a binding: what the server answered.
inline constexpr IID IID_IBindingHttpInfo = {
    0x6A1E3C10, 0x5B2D, 0x4F0E, {0x9A, 0x71, 0x2C, 0x44, 0x8E, 0x13, 0x07, 0x5D}};

constexpr HRESULT MK_S_ASYNCHRONOUS = 0x000401E8;
constexpr HRESULT INET_E_CANNOT_CONNECT = static_cast<HRESULT>(0x800C0004);
constexpr HRESULT INET_E_RESOURCE_NOT_FOUND = static_cast<HRESULT>(0x800C0005);
constexpr HRESULT INET_E_DOWNLOAD_FAILURE = static_cast<HRESULT>(0x800C0008);
constexpr HRESULT INET_E_INVALID_URL = static_cast<HRESULT>(0x800C0002);
constexpr HRESULT INET_E_UNKNOWN_PROTOCOL = static_cast<HRESULT>(0x800C000D);
// The cache file of a download could not be created, written or finished: the temporary
// folder is full, read-only or over quota. Every later download would fail the same way.
constexpr HRESULT STG_E_WRITEFAULT = static_cast<HRESULT>(0x8003001D);

// Bind flags (GetBindInfo).
constexpr DWORD BINDF_ASYNCHRONOUS = 0x1;
constexpr DWORD BINDF_ASYNCSTORAGE = 0x2;
constexpr DWORD BINDF_GETNEWESTVERSION = 0x10;
constexpr DWORD BINDF_RESYNCHRONIZE = 0x200;

// Status codes of OnProgress.
constexpr ULONG BINDSTATUS_FINDINGRESOURCE = 1;
constexpr ULONG BINDSTATUS_CONNECTING = 2;
constexpr ULONG BINDSTATUS_REDIRECTING = 3;
constexpr ULONG BINDSTATUS_BEGINDOWNLOADDATA = 4;
constexpr ULONG BINDSTATUS_DOWNLOADINGDATA = 5;
constexpr ULONG BINDSTATUS_ENDDOWNLOADDATA = 6;
constexpr ULONG BINDSTATUS_SENDINGREQUEST = 11;
constexpr ULONG BINDSTATUS_MIMETYPEAVAILABLE = 13;
constexpr ULONG BINDSTATUS_CACHEFILENAMEAVAILABLE = 14;
// The program's own: the server asked to slow down (429 or 503). The request is repeated
// once the wait is over (IBindingHttpInfo::GetServerWaitLeft); the text is the server's
// answer ("HTTP 429 Too Many Requests"), the progress the wait in milliseconds. A wait that
// is too long ends the transfer as failed instead, with words such as "the server asked to
// wait 2 hours".
constexpr ULONG BINDSTATUS_SERVERWAIT = 100;

// OnDataAvailable flags and medium types.
constexpr DWORD BSCF_FIRSTDATANOTIFICATION = 0x1;
constexpr DWORD BSCF_LASTDATANOTIFICATION = 0x2;
constexpr DWORD BSCF_DATAFULLYAVAILABLE = 0x4;
constexpr DWORD TYMED_ISTREAM = 4;

struct BINDINFO {
    ULONG cbSize;
    LPWSTR szExtraInfo;
    DWORD grfBindInfo;
    DWORD dwBindVerb;
    LPWSTR szCustomVerb;
    DWORD cbstgmedData;
    DWORD dwOptions;
    DWORD dwOptionsFlags;
    DWORD dwCodePage;
    DWORD dwReserved;
};

struct FORMATETC {
    uint16_t cfFormat;
    void* ptd;
    DWORD dwAspect;
    LONG lindex;
    DWORD tymed;
};

struct STGMEDIUM {
    DWORD tymed;
    IStream* pstm;
    IUnknown* pUnkForRelease;
};

struct IBinding : IUnknown {
    // Stops the transfer. The callback's OnStopBinding(E_ABORT, nullptr) is called before
    // this returns, and nothing of the binding reaches the callback after it. S_FALSE when
    // the stop had already been delivered.
    virtual HRESULT Abort() = 0;
};

// The program's own query on a binding: how much of the body its reader wants.
inline constexpr IID IID_IBindingBodyLimit = {
    0x2F4B8D61, 0x7C3A, 0x4E25, {0xA6, 0x0E, 0x93, 0x51, 0xD4, 0x7B, 0x28, 0xC6}};

// The status that answers a conditional request whose copy is still current.
inline constexpr long HTTP_STATUS_NOT_MODIFIED = 304;

// What the server answered for a binding, as far as it is known yet.
struct IBindingHttpInfo : IUnknown {
    // The address after redirects.
    virtual std::u16string GetFinalUrl() = 0;
    // The Content-Type header as sent (may carry a charset parameter); empty when none.
    virtual std::u16string GetContentType() = 0;
    // The final response's status code; 0 until it is known. A 304 answers a conditional
    // request: the transfer succeeds without a body or a cache file.
    virtual long GetResponseStatus() = 0;
    // The final response's validators as sent; empty when it sent none.
    virtual std::u16string GetETag() = 0;
    virtual std::u16string GetLastModified() = 0;
    // Milliseconds until a request the server pushed back on is repeated; 0 while none waits.
    virtual uint32_t GetServerWaitLeft() = 0;
};

// Offered by a bind-status callback that adds request headers. The service asks it once,
// inside BindToStorage after GetBindInfo and before OnStartBinding; a transfer already
// running ahead for the same address is taken over only when it was asked with the same
// headers.
struct IHttpNegotiate : IUnknown {
    // *pszAdditionalHeaders: null, or "Name: value\r\n" lines in an automation string, which
    // the service frees with SysFreeString. A request that carries If-None-Match or
    // If-Modified-Since is conditional: only then is a 304 a success.
    virtual HRESULT BeginningTransaction(LPCWSTR szURL, LPCWSTR szHeaders, DWORD dwReserved,
                                         LPWSTR* pszAdditionalHeaders) = 0;
};

// A reader that looks only at the start of a body (a page read up to a limit) spares the
// rest of the transfer. Without this, a decoded body larger than any real tone fails.
struct IBindingBodyLimit : IUnknown {
    // Only the first maxBytes of the decoded body are wanted. Once more has arrived the
    // transfer ends as a success, its cache file holding what came: more than maxBytes, so
    // that its reader sees it was cut. Takes effect with the next data, also mid-transfer.
    virtual void ReadOnlyPrefix(uint64_t maxBytes) = 0;
};

struct IBindStatusCallback : IUnknown {
    virtual HRESULT OnStartBinding(DWORD dwReserved, IBinding* pib) = 0;
    virtual HRESULT GetPriority(LONG* pnPriority) = 0;
    virtual HRESULT OnLowResource(DWORD reserved) = 0;
    virtual HRESULT OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                               LPCWSTR szStatusText) = 0;
    // For a failed transfer (other than E_ABORT) szError says why in a few words a user
    // understands, lower-case and without a closing period ("HTTP 404 Not Found",
    // "connection refused", "the server did not answer"); for STG_E_WRITEFAULT it is the
    // system's own text ("No space left on device"). Null for E_ABORT and success.
    virtual HRESULT OnStopBinding(HRESULT hresult, LPCWSTR szError) = 0;
    virtual HRESULT GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) = 0;
    virtual HRESULT OnDataAvailable(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc,
                                    STGMEDIUM* pstgmed) = 0;
    virtual HRESULT OnObjectAvailable(REFIID riid, IUnknown* punk) = 0;
};

// A bind context carries the registered bind-status callback of the bindings made with it.
struct IBindCtx : IUnknown {};

struct IMoniker : IUnknown {
    // Starts an asynchronous transfer into the cache. GetBindInfo and OnStartBinding are
    // called before it returns MK_S_ASYNCHRONOUS; everything after arrives through the pump.
    virtual HRESULT BindToStorage(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riid,
                                  void** ppvObj) = 0;
    // The address the moniker was made from.
    // *ppszDisplayName is an automation string: the caller frees it with SysFreeString.
    virtual HRESULT GetDisplayName(IBindCtx* pbc, IMoniker* pmkToLeft, LPWSTR* ppszDisplayName) = 0;
};

HRESULT CreateURLMoniker(IMoniker* pmkContext, LPCWSTR szURL, IMoniker** ppmk);
HRESULT CreateAsyncBindCtx(DWORD reserved, IBindStatusCallback* pbsc, void* penumfmtetc,
                           IBindCtx** ppbc);
// Registers pbsc with the bind context; the callback registered before it, if any, is handed
// back through ppbscPrevious (with a reference) when that is not null.
HRESULT RegisterBindStatusCallback(IBindCtx* pbc, IBindStatusCallback* pbsc,
                                   IBindStatusCallback** ppbscPrevious, DWORD reserved);
HRESULT RevokeBindStatusCallback(IBindCtx* pbc, IBindStatusCallback* pbsc);

// The cache: the entry of a URL is its cache file; deleting it removes the file.
bool DeleteUrlCacheEntry(LPCWSTR url);

// Transfers ahead. The caller tells the service, in order, what it will bind next, each with
// the extra request headers its own bind will carry; the service starts the first of them
// early, with at most SetMaxConnections transfers running in all. A later bind of the same
// address with the same headers takes over the transfer ahead: its notifications so far are
// replayed to the new callback in their order, then the rest follows as usual. A bind whose
// headers differ aborts the one ahead and starts afresh, and so does a bind whose transfer
// ahead failed: what happens ahead never costs the bind an attempt. A transfer ahead leaves
// one of its server's transfers to the binds, and a bind that finds its server's transfers
// all taken by transfers ahead takes one back. Each call replaces the list; what
// is no longer on it is aborted and its cache file removed, so an empty list ends them all.
struct UpcomingBind {
    std::u16string url;
    std::u16string extraHeaders; // as IHttpNegotiate gives them; empty for none
    // Read only this much of the body (IBindingBodyLimit), from its first byte; 0 for all.
    uint64_t readOnlyPrefix = 0;
};
void SetUpcomingBinds(std::vector<UpcomingBind> upcoming);
// At most n transfers at once, and at most n connections to one host (n from 1). 1 makes
// nothing run ahead: every transfer starts when it is bound.
void SetMaxConnections(int n);
// Transfers ahead that run now (not taken over and not finished).
int CountTransfersAhead();

// Service start and end, called by the runtime's CoInitialize/CoUninitialize. Shutdown
// aborts what is still running, delivers nothing more and removes the cache folder.
bool UrlServiceStartup();
void UrlServiceShutdown();
// The process's private cache folder (valid between startup and shutdown).
std::string UrlCacheFolder();
// The same folder as the observer is told paths; empty when the service is not running.
std::u16string GetUrlCacheFolder();

// Tests: libcurl's connect limit and how long a transfer may receive nothing before it ends,
// made short so that a silent server is seen in about a second. Zero restores the default.
void SetTransferTimeoutsForTesting(long connectMs, long silentSeconds);
// Tests: the largest decoded body, and the size beyond which a body expanding more than
// 1000 times its compressed size fails, made small so that a test need not write gigabytes.
// Zero restores the default.
void SetBodyLimitsForTesting(uint64_t maxBodyBytes, uint64_t minExpansionBytes);
