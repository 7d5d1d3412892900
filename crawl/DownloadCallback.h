// Observers of one transfer: they log every notification of the download service into the
// progress window, move its bar, and record what the engine reads once the transfer is
// over (done flag, result, cache file name, the binding to abort, the last progress tick).
#pragma once

#include "crawl/CrawlProgress.h"
#include "platform/html/mshtml.h"
#include "platform/net/urlmon.h"

class CDownloadCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
    explicit CDownloadCallback(ICrawlProgress* progress);

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IBindStatusCallback
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

    // IHttpNegotiate: adds m_szRequestHeaders to the request.
    HRESULT BeginningTransaction(LPCWSTR szURL, LPCWSTR szHeaders, DWORD dwReserved,
                                 LPWSTR* pszAdditionalHeaders) override;

    IBinding* m_pBinding = nullptr;
    ULONG m_cRef = 1;
    // Notifications can outlive the crawl (the stop of an abandoned transfer); the
    // reference turns reports into a window that is gone into nothing.
    CProgressRef m_pProgress;
    int m_bDone = 0;
    DWORD m_dwLastProgress;
    WCHAR m_szCacheFile[260];
    HRESULT m_hrResult = E_UNEXPECTED;
    // The service's reason for a failed transfer, in words; empty until it stops.
    WCHAR m_szError[260];
    // "Name: value\r\n" lines the request carries besides the service's own; empty for none.
    std::u16string m_szRequestHeaders;
    // Body bytes received so far by the current request (the watchdog tells a trickle by it).
    uint64_t m_nBytes = 0;
    // Times the server asked this transfer to slow down, and its words the last time.
    int m_nServerWaits = 0;
    std::u16string m_szServerWait;

    // Milliseconds until the transfer's request goes out again, while it waits because its
    // server asked it to slow down; 0 otherwise.
    DWORD ServerWaitLeft() const;

protected:
    virtual ~CDownloadCallback();
    void Log(LPCWSTR text);
};

// The observer of a library page: also the HTML document's client site, answering the
// ambient download-control query so the document loads nothing but the page itself.
class CPageDownloadCallback : public CDownloadCallback, public IOleClientSite, public IDispatch {
public:
    static constexpr DWORD kDownloadControl =
        DLCTL_NO_SCRIPTS | DLCTL_NO_JAVA | DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS |
        DLCTL_DOWNLOADONLY | DLCTL_NO_FRAMEDOWNLOAD | DLCTL_RESYNCHRONIZE | DLCTL_NO_BEHAVIORS |
        DLCTL_NO_METACHARSET | DLCTL_NO_CLIENTPULL | DLCTL_SILENT;

    explicit CPageDownloadCallback(ICrawlProgress* progress) : CDownloadCallback(progress) {}

    // IUnknown, shared by all three parts: one identity, one count.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return CDownloadCallback::AddRef(); }
    ULONG Release() override { return CDownloadCallback::Release(); }

    // IOleClientSite
    HRESULT SaveObject() override { return E_NOTIMPL; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT GetContainer(IOleContainer**) override { return E_NOTIMPL; }
    HRESULT ShowObject() override { return E_NOTIMPL; }
    HRESULT OnShowWindow(BOOL) override { return E_NOTIMPL; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IDispatch
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, ULONG, void**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPWSTR*, UINT, ULONG, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, ULONG lcid, uint16_t wFlags,
                   DISPPARAMS* pDispParams, VARIANT* pVarResult, void* pExcepInfo,
                   UINT* puArgErr) override;

private:
    ~CPageDownloadCallback() override = default;
};
