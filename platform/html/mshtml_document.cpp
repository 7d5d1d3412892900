// The HTML document: loads its page through the download service with the bind context it is
// given, keeps the page's anchors and reports its ready state.
#include "platform/html/html_document.h"

#include "platform/text/text.h"
#include "platform/text/text_error.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

namespace {

constexpr IID kIidNull{};
constexpr uint16_t DISPATCH_PROPERTYGET = 2;

std::optional<HtmlParseLimits>& LimitsForTesting() {
    static std::optional<HtmlParseLimits> limits;
    return limits;
}

const SharedAnchors& NoAnchors() {
    static const SharedAnchors none = std::make_shared<const HtmlAnchorList>();
    return none;
}

// At most limit bytes from the start of the file into bytes; *cut says whether more bytes
// followed. 0, or the system's error number when the file cannot be read.
int ReadFilePrefix(const std::u16string& path, size_t limit, std::string& bytes, bool* cut) {
    *cut = false;
    const std::filesystem::path file(ToUtf8(path));
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(file, error);
    if (error)
        return error.value();
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return errno != 0 ? errno : EIO;
    bytes.assign(static_cast<size_t>(std::min<uintmax_t>(size, limit)), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad())
        return EIO;
    bytes.resize(static_cast<size_t>(in.gcount()));
    *cut = bytes.size() == limit && in.peek() != std::ifstream::traits_type::eof();
    return 0;
}

} // namespace

HtmlDocument::HtmlDocument(const HtmlParseLimits& limits)
    : m_limits(limits), m_anchors(NoAnchors()) {}

HtmlDocument::~HtmlDocument() {
    // The service may still hold the forwarder and call it; it must not reach this object.
    if (m_forwarder)
        m_forwarder->Detach();
    // Released while the page was still loading (the user cancelled): stop the transfer.
    if (m_binding)
        m_binding->Abort();
}

HtmlDocument* HtmlDocument::CreateLoaded(std::string_view bytes, std::u16string_view contentType,
                                         std::u16string_view url) {
    auto* document = new HtmlDocument;
    document->m_anchors =
        std::make_shared<const HtmlAnchorList>(ParseHtmlDocument(bytes, contentType, url));
    document->m_bPageCut = bytes.size() > document->m_limits.maxPageBytes;
    document->m_state = ReadyState::Complete;
    return document;
}

HRESULT HtmlDocument::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IHTMLDocument2)
        *ppv = static_cast<IHTMLDocument2*>(this);
    else if (riid == IID_IHTMLDocument3)
        *ppv = static_cast<IHTMLDocument3*>(this);
    else if (riid == IID_IPersistMoniker)
        *ppv = static_cast<IPersistMoniker*>(this);
    else if (riid == IID_IOleObject)
        *ppv = static_cast<IOleObject*>(this);
    else if (riid == IID_IHTMLDocumentLoadInfo)
        *ppv = static_cast<IHTMLDocumentLoadInfo*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG HtmlDocument::Release() {
    const ULONG refs = --m_refs;
    if (refs == 0)
        delete this;
    return refs;
}

HRESULT HtmlDocument::get_readyState(BSTR* p) {
    if (!p)
        return E_POINTER;
    static constexpr const char16_t* kNames[] = {u"uninitialized", u"loading", u"complete"};
    *p = SysAllocString(kNames[static_cast<int>(m_state)]);
    return S_OK;
}

HRESULT HtmlDocument::getElementsByTagName(BSTR v, IHTMLElementCollection** pelColl) {
    if (!pelColl)
        return E_POINTER;
    // The document keeps its anchors only; any other tag name finds nothing.
    *pelColl = new HtmlElementCollection(NameEquals(v, u"a") ? m_anchors : NoAnchors());
    return S_OK;
}

HRESULT HtmlDocument::SetClientSite(IOleClientSite* pClientSite) {
    Assign(m_site, pClientSite);
    return S_OK;
}

HRESULT HtmlDocument::GetClientSite(IOleClientSite** ppClientSite) {
    if (!ppClientSite)
        return E_POINTER;
    *ppClientSite = m_site.get();
    if (*ppClientSite)
        (*ppClientSite)->AddRef();
    return S_OK;
}

HRESULT HtmlDocument::Load(BOOL, IMoniker* pimkName, IBindCtx* pibc, DWORD) {
    if (!pimkName || !pibc)
        return E_INVALIDARG;
    if (m_state != ReadyState::Uninitialized)
        return E_UNEXPECTED;
    Assign(m_moniker, pimkName);
    m_dlcontrol = AmbientDownloadControl();

    *&m_forwarder = new BindForwarder(this, m_dlcontrol);
    IBindStatusCallback* previous = nullptr;
    HRESULT hr = RegisterBindStatusCallback(pibc, m_forwarder.get(), &previous, 0);
    if (FAILED(hr)) {
        m_state = ReadyState::Complete;
        return hr;
    }
    m_forwarder->SetPrevious(previous);

    m_state = ReadyState::Loading;
    CComPtr<IUnknown> stream; // the page is read from its cache file when the transfer ends
    hr = pimkName->BindToStorage(pibc, nullptr, IID_IStream, stream.ppv());
    if (FAILED(hr)) {
        m_binding.Release();
        m_state = ReadyState::Complete;
        return hr;
    }
    return S_OK;
}

DWORD HtmlDocument::AmbientDownloadControl() const {
    CComPtr<IDispatch> ambient;
    if (!m_site || FAILED(m_site->QueryInterface(IID_IDispatch, ambient.ppv())) || !ambient)
        return 0;
    CVariant result;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (FAILED(ambient->Invoke(DISPID_AMBIENT_DLCONTROL, kIidNull, LOCALE_USER_DEFAULT,
                               DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr)))
        return 0;
    return result->vt == VT_I4 ? static_cast<DWORD>(result->lVal) : 0;
}

void HtmlDocument::OnBindingStarted(IBinding* binding) {
    Assign(m_binding, binding);
    // Only the page's start is read: the transfer need not fetch, nor store, the rest.
    CComPtr<IBindingBodyLimit> limit;
    if (binding && SUCCEEDED(binding->QueryInterface(IID_IBindingBodyLimit, limit.ppv())) && limit)
        limit->ReadOnlyPrefix(m_limits.maxPageBytes);
}

void HtmlDocument::OnCacheFileName(LPCWSTR path) {
    m_cacheFile = path ? path : u"";
}

HRESULT HtmlDocument::OnBindingStopped(HRESULT hr, std::u16string* reason) {
    if (m_state != ReadyState::Loading)
        return hr;
    // The transfer is over: nothing left to abort.
    const CComPtr<IBinding> binding = std::move(m_binding);
    if (SUCCEEDED(hr))
        hr = ReadPage(binding.get(), reason);
    m_state = ReadyState::Complete;
    // The document keeps what it needs; a long crawl must not fill the disk with pages.
    const std::u16string url = DisplayName();
    if (!url.empty())
        DeleteUrlCacheEntry(url.c_str());
    return hr;
}

HRESULT HtmlDocument::ReadPage(IBinding* binding, std::u16string* reason) {
    if (m_cacheFile.empty())
        return S_OK;
    std::u16string contentType, finalUrl;
    CComPtr<IBindingHttpInfo> http;
    if (binding && SUCCEEDED(binding->QueryInterface(IID_IBindingHttpInfo, http.ppv())) && http) {
        contentType = http->GetContentType();
        finalUrl = http->GetFinalUrl();
    }
    std::string bytes;
    // The transfer left the page in the temporary folder: a page that is not there to read is
    // the folder failing (removed, or emptied by someone), not a page without links.
    if (const int error = ReadFilePrefix(m_cacheFile, m_limits.maxPageBytes, bytes, &m_bPageCut)) {
        *reason = SystemErrorText(error);
        return STG_E_WRITEFAULT;
    }
    m_anchors = std::make_shared<const HtmlAnchorList>(ParseHtmlDocument(
        bytes, contentType, finalUrl.empty() ? DisplayName() : finalUrl, m_limits));
    return S_OK;
}

PageCut HtmlDocument::GetPageCut() {
    return std::max(m_bPageCut ? PageCut::Length : PageCut::None, m_anchors->Cut());
}

std::u16string HtmlDocument::DisplayName() const {
    CBstr name;
    if (!m_moniker || FAILED(m_moniker->GetDisplayName(nullptr, nullptr, &name)) || !name.get())
        return {};
    return name.get();
}

void SetDocumentLimitsForTesting(std::optional<HtmlParseLimits> limits) {
    LimitsForTesting() = limits;
}

HRESULT CreateHTMLDocument(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    auto* document = new HtmlDocument(LimitsForTesting().value_or(HtmlParseLimits{}));
    const HRESULT hr = document->QueryInterface(riid, ppv);
    document->Release();
    return hr;
}

uint64_t GetPageReadLimit() {
    return LimitsForTesting().value_or(HtmlParseLimits{}).maxPageBytes;
}
