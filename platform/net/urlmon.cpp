// The URL download service's entry points: URL monikers, bind contexts with their registered
// bind-status callback, the cache entry of a URL, and service start and end.
#include "platform/net/urlmon.h"

#include "platform/com/com_object.h"
#include "platform/net/urlmon_binding.h"
#include "platform/net/urlmon_ref.h"
#include "platform/net/urlmon_service.h"
#include "platform/text/text.h"

#include <string>

namespace urlmon {

namespace {

// Private: lets the service find its own bind context behind an IBindCtx pointer.
inline constexpr IID IID_BindContextImplementation = {
    0x3C7F0B52, 0x9E41, 0x4D6A, {0xB1, 0x0D, 0x5E, 0x27, 0xA8, 0x64, 0xC3, 0x19}};

class BindContext final : public CComObject<IBindCtx, IID_IBindCtx, IID_BindContextImplementation> {
public:
    static BindContext* From(IBindCtx* pbc) {
        void* implementation = nullptr;
        if (!pbc || FAILED(pbc->QueryInterface(IID_BindContextImplementation, &implementation)))
            return nullptr;
        auto* context = static_cast<BindContext*>(static_cast<IBindCtx*>(implementation));
        context->Release(); // the caller's reference keeps it alive
        return context;
    }

    Ref<IBindStatusCallback> m_pCallback;

private:
    virtual ~BindContext() = default;
};

// The extra request headers a callback asks for, when it negotiates them.
std::u16string ExtraHeadersOf(IBindStatusCallback* callback, const std::u16string& url) {
    IHttpNegotiate* negotiate = nullptr;
    if (FAILED(
            callback->QueryInterface(IID_IHttpNegotiate, reinterpret_cast<void**>(&negotiate))) ||
        !negotiate)
        return {};
    Ref<IHttpNegotiate> owned = Ref<IHttpNegotiate>::Adopt(negotiate);
    LPWSTR additional = nullptr;
    std::u16string headers;
    if (SUCCEEDED(negotiate->BeginningTransaction(url.c_str(), nullptr, 0, &additional)) &&
        additional)
        headers = additional;
    SysFreeString(additional);
    return headers;
}

class UrlMoniker final : public CComObject<IMoniker, IID_IMoniker> {
public:
    explicit UrlMoniker(std::u16string url) : m_url(std::move(url)) {}

    HRESULT BindToStorage(IBindCtx* pbc, IMoniker*, REFIID, void** ppvObj) override {
        if (!ppvObj)
            return E_POINTER;
        *ppvObj = nullptr; // the data is delivered as a cache file, not as a storage object
        BindContext* context = BindContext::From(pbc);
        if (!context || !context->m_pCallback)
            return E_INVALIDARG;
        UrlService* service = UrlService::Get();
        if (!service)
            return E_UNEXPECTED;

        Ref<IBindStatusCallback> callback = context->m_pCallback;
        DWORD grfBindf = 0;
        BINDINFO bindInfo{};
        bindInfo.cbSize = sizeof bindInfo;
        callback->GetBindInfo(&grfBindf, &bindInfo);
        const std::u16string extraHeaders = ExtraHeadersOf(callback.get(), m_url);

        // A transfer already running ahead for this request is taken over; else a new one.
        Ref<Binding> binding = service->TakeAhead(m_url, extraHeaders);
        const bool bTakenOver = static_cast<bool>(binding);
        if (bTakenOver)
            binding->Claim(callback.get());
        else {
            binding = Ref<Binding>::Adopt(new Binding(m_url, callback.get(), extraHeaders));
            service->Track(binding.get());
        }
        HRESULT hr = callback->OnStartBinding(0, binding.get());
        if (FAILED(hr)) {
            // The callback refused the binding: nothing is fetched and nothing more is said.
            binding->Cancel();
            return hr;
        }
        if (bTakenOver)
            binding->Replay();
        // The callback may have shut the service down meanwhile.
        else if (UrlService* running = UrlService::Get())
            binding->Start(*running);
        return MK_S_ASYNCHRONOUS;
    }

    // The display name is an automation string: free it with SysFreeString.
    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPWSTR* ppszDisplayName) override {
        if (!ppszDisplayName)
            return E_POINTER;
        *ppszDisplayName = SysAllocStringLen(m_url.data(), static_cast<uint32_t>(m_url.size()));
        return S_OK;
    }

private:
    virtual ~UrlMoniker() = default;
    std::u16string m_url;
};

} // namespace

} // namespace urlmon

using urlmon::BindContext;
using urlmon::Ref;
using urlmon::UrlService;

HRESULT CreateURLMoniker(IMoniker*, LPCWSTR szURL, IMoniker** ppmk) {
    if (!ppmk)
        return E_POINTER;
    *ppmk = nullptr;
    if (!szURL || !*szURL)
        return INET_E_INVALID_URL;
    *ppmk = new urlmon::UrlMoniker(szURL);
    return S_OK;
}

HRESULT CreateAsyncBindCtx(DWORD, IBindStatusCallback* pbsc, void*, IBindCtx** ppbc) {
    if (!ppbc)
        return E_POINTER;
    auto* context = new BindContext;
    if (pbsc)
        context->m_pCallback = urlmon::Ref<IBindStatusCallback>(pbsc);
    *ppbc = context;
    return S_OK;
}

HRESULT RegisterBindStatusCallback(IBindCtx* pbc, IBindStatusCallback* pbsc,
                                   IBindStatusCallback** ppbscPrevious, DWORD) {
    if (ppbscPrevious)
        *ppbscPrevious = nullptr;
    BindContext* context = BindContext::From(pbc);
    if (!context || !pbsc)
        return E_INVALIDARG;
    Ref<IBindStatusCallback> previous = std::move(context->m_pCallback);
    context->m_pCallback = urlmon::Ref<IBindStatusCallback>(pbsc);
    if (ppbscPrevious)
        *ppbscPrevious = previous.release();
    return S_OK;
}

HRESULT RevokeBindStatusCallback(IBindCtx* pbc, IBindStatusCallback* pbsc) {
    BindContext* context = BindContext::From(pbc);
    if (!context || !pbsc)
        return E_INVALIDARG;
    if (context->m_pCallback.get() != pbsc)
        return E_FAIL; // not the registered one
    context->m_pCallback.reset();
    return S_OK;
}

bool DeleteUrlCacheEntry(LPCWSTR url) {
    UrlService* service = UrlService::Get();
    if (!service || !url)
        return false;
    return service->Cache().DeleteEntry(url);
}

bool UrlServiceStartup() {
    return UrlService::Start();
}

void UrlServiceShutdown() {
    UrlService::Stop();
}

std::string UrlCacheFolder() {
    UrlService* service = UrlService::Get();
    return service ? service->Cache().Folder() : std::string();
}

std::u16string GetUrlCacheFolder() {
    return FromUtf8(UrlCacheFolder());
}

void SetUpcomingBinds(std::vector<UpcomingBind> upcoming) {
    if (UrlService* service = UrlService::Get())
        service->SetUpcoming(std::move(upcoming));
}

void SetMaxConnections(int n) {
    if (UrlService* service = UrlService::Get())
        service->SetMaxConnections(n);
}

int CountTransfersAhead() {
    UrlService* service = UrlService::Get();
    return service ? service->CountAhead() : 0;
}
