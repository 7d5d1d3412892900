// The HTML document object and its helpers: the bind-status forwarder through which the
// document watches its page's transfer, and the anchor collection and elements it hands out.
#pragma once

#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/html/html_parse.h"
#include "platform/html/mshtml.h"

#include <memory>
#include <optional>
#include <string>

// Makes holder hold its own reference to p (which may be null or the one already held).
template <class T> void Assign(CComPtr<T>& holder, T* p) {
    if (p)
        p->AddRef();
    holder.Release();
    *&holder = p;
}

// What a loaded document keeps, shared with the collections and elements handed out, so that
// they stay valid whatever the order of release.
using SharedAnchors = std::shared_ptr<const HtmlAnchorList>;

class HtmlDocument;

// IDispatch without type information or late binding: the program calls the interfaces
// themselves.
template <class Interface> class NoLateBinding : public Interface {
public:
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, ULONG, void**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPWSTR*, UINT, ULONG, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, ULONG, uint16_t, DISPPARAMS*, VARIANT*, void*, UINT*) override {
        return E_NOTIMPL;
    }
};

// Registered in the page's bind context in front of the page's own observer: passes every
// notification on to it, and tells the document what it needs of the transfer. The service may
// hold and call it after the document is gone; the document clears the back pointer first.
class BindForwarder final : public CComObject<IBindStatusCallback, IID_IBindStatusCallback> {
public:
    BindForwarder(HtmlDocument* document, DWORD dlcontrol);
    // Takes over the caller's reference.
    void SetPrevious(IBindStatusCallback* previous) {
        m_previous.Release();
        *&m_previous = previous;
    }
    void Detach() { m_document = nullptr; }

    HRESULT OnStartBinding(DWORD dwReserved, IBinding* pib) override;
    HRESULT GetPriority(LONG* pnPriority) override;
    HRESULT OnLowResource(DWORD reserved) override;
    HRESULT OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                       LPCWSTR szStatusText) override;
    HRESULT OnStopBinding(HRESULT hresult, LPCWSTR szError) override;
    HRESULT GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) override;
    HRESULT OnDataAvailable(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc,
                            STGMEDIUM* pstgmed) override;
    HRESULT OnObjectAvailable(REFIID riid, IUnknown* punk) override;

private:
    ~BindForwarder() override = default;

    HtmlDocument* m_document; // not owned; null once the document is gone
    DWORD m_dlcontrol;
    CComPtr<IBindStatusCallback> m_previous;
};

class HtmlDocument final : public NoLateBinding<IHTMLDocument2>,
                           public NoLateBinding<IHTMLDocument3>,
                           public IPersistMoniker,
                           public IOleObject,
                           public IHTMLDocumentLoadInfo {
public:
    // limits: how much of its page the document reads and keeps.
    explicit HtmlDocument(const HtmlParseLimits& limits = {});

    // A document loaded from bytes at hand, as if its page had just arrived.
    static HtmlDocument* CreateLoaded(std::string_view bytes, std::u16string_view contentType,
                                      std::u16string_view url);

    // IUnknown: one identity for all the document's interfaces.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override;

    HRESULT get_readyState(BSTR* p) override;
    HRESULT getElementsByTagName(BSTR v, IHTMLElementCollection** pelColl) override;
    HRESULT Load(BOOL fFullyAvailable, IMoniker* pimkName, IBindCtx* pibc, DWORD grfMode) override;
    HRESULT SetClientSite(IOleClientSite* pClientSite) override;
    HRESULT GetClientSite(IOleClientSite** ppClientSite) override;
    PageCut GetPageCut() override;

    // From the forwarder.
    void OnBindingStarted(IBinding* binding);
    void OnCacheFileName(LPCWSTR path);
    // The transfer is over with hr; the document reads its page. Returns how the load ended:
    // a page whose cache file cannot be read is a failure of the temporary folder
    // (STG_E_WRITEFAULT, *reason the system's words), whatever the transfer did.
    HRESULT OnBindingStopped(HRESULT hr, std::u16string* reason);

private:
    enum class ReadyState { Uninitialized, Loading, Complete };

    ~HtmlDocument();
    DWORD AmbientDownloadControl() const;
    HRESULT ReadPage(IBinding* binding, std::u16string* reason);
    std::u16string DisplayName() const;

    ULONG m_refs = 1;
    ReadyState m_state = ReadyState::Uninitialized;
    DWORD m_dlcontrol = 0;
    CComPtr<IOleClientSite> m_site;
    CComPtr<IMoniker> m_moniker;
    CComPtr<BindForwarder> m_forwarder;
    CComPtr<IBinding> m_binding; // while the transfer runs
    std::u16string m_cacheFile;
    const HtmlParseLimits m_limits;
    SharedAnchors m_anchors;
    bool m_bPageCut = false; // longer than the document reads
};

// The anchors of a document, by position.
class HtmlElementCollection final : public CComObject<NoLateBinding<IHTMLElementCollection>,
                                                      IID_IDispatch, IID_IHTMLElementCollection> {
public:
    explicit HtmlElementCollection(SharedAnchors anchors) : m_anchors(std::move(anchors)) {}

    HRESULT get_length(LONG* p) override;
    HRESULT item(VARIANT name, VARIANT index, IDispatch** pdisp) override;

private:
    ~HtmlElementCollection() override = default;

    SharedAnchors m_anchors;
};

// One anchor element, made when the collection is asked for it.
class HtmlAnchorElement final
    : public CComObject<NoLateBinding<IHTMLElement>, IID_IDispatch, IID_IHTMLElement> {
public:
    HtmlAnchorElement(SharedAnchors anchors, size_t index)
        : m_anchors(std::move(anchors)), m_index(index) {}

    HRESULT getAttribute(BSTR strAttributeName, LONG lFlags, VARIANT* AttributeValue) override;
    HRESULT get_innerText(BSTR* p) override;

private:
    ~HtmlAnchorElement() override = default;

    SharedAnchors m_anchors;
    size_t m_index;
};

// The limits of the documents that CoCreateInstance makes from now on: tests give small ones,
// so that a page of a few links goes beyond them, and nullopt to return to the defaults.
void SetDocumentLimitsForTesting(std::optional<HtmlParseLimits> limits);

// Case-insensitive comparison of an automation string with an ASCII name.
bool NameEquals(BSTR name, std::u16string_view ascii);
