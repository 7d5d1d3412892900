// The document's bind-status callback: the page's observer sees every notification, the
// document learns the binding, the cache file and the end of the transfer.
#include "platform/html/html_document.h"

BindForwarder::BindForwarder(HtmlDocument* document, DWORD dlcontrol)
    : m_document(document), m_dlcontrol(dlcontrol) {}

HRESULT BindForwarder::OnStartBinding(DWORD dwReserved, IBinding* pib) {
    const HRESULT hr = m_previous ? m_previous->OnStartBinding(dwReserved, pib) : S_OK;
    if (m_document)
        m_document->OnBindingStarted(pib);
    return hr;
}

HRESULT BindForwarder::GetPriority(LONG* pnPriority) {
    return m_previous ? m_previous->GetPriority(pnPriority) : E_NOTIMPL;
}

HRESULT BindForwarder::OnLowResource(DWORD reserved) {
    return m_previous ? m_previous->OnLowResource(reserved) : S_OK;
}

HRESULT BindForwarder::OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                                  LPCWSTR szStatusText) {
    const HRESULT hr =
        m_previous ? m_previous->OnProgress(ulProgress, ulProgressMax, ulStatusCode, szStatusText)
                   : S_OK;
    if (m_document && ulStatusCode == BINDSTATUS_CACHEFILENAMEAVAILABLE)
        m_document->OnCacheFileName(szStatusText);
    return hr;
}

// The document reads its page first, so that the observer learns how the whole load ended:
// a transfer that succeeded still fails when its page cannot be read from the cache.
HRESULT BindForwarder::OnStopBinding(HRESULT hresult, LPCWSTR szError) {
    std::u16string reason;
    if (m_document) {
        const HRESULT hrLoad = m_document->OnBindingStopped(hresult, &reason);
        if (hrLoad != hresult) {
            hresult = hrLoad;
            szError = reason.c_str();
        }
    }
    return m_previous ? m_previous->OnStopBinding(hresult, szError) : S_OK;
}

HRESULT BindForwarder::GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) {
    HRESULT hr = S_OK;
    if (m_previous) {
        hr = m_previous->GetBindInfo(grfBINDF, pbindinfo);
    } else {
        if (grfBINDF)
            *grfBINDF = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE;
        if (pbindinfo) {
            const ULONG size = pbindinfo->cbSize;
            *pbindinfo = BINDINFO{};
            pbindinfo->cbSize = size;
        }
    }
    // The document's host does not trust the cached copy: ask the server again.
    if (grfBINDF && (m_dlcontrol & DLCTL_RESYNCHRONIZE))
        *grfBINDF |= BINDF_RESYNCHRONIZE;
    return hr;
}

HRESULT BindForwarder::OnDataAvailable(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc,
                                       STGMEDIUM* pstgmed) {
    return m_previous ? m_previous->OnDataAvailable(grfBSCF, dwSize, pformatetc, pstgmed) : S_OK;
}

HRESULT BindForwarder::OnObjectAvailable(REFIID riid, IUnknown* punk) {
    return m_previous ? m_previous->OnObjectAvailable(riid, punk) : S_OK;
}
