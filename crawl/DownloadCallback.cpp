#include "crawl/DownloadCallback.h"
#include "platform/clock.h"
#include "platform/com/com_ptr.h"
#include "platform/text/text.h"

#include <algorithm>
#include <cstring>

namespace {
// Printed for the medium type when the service hands over no medium.
constexpr int kNoMediumMarker = -432;
} // namespace

CDownloadCallback::CDownloadCallback(ICrawlProgress* progress)
    : m_pProgress(progress), m_dwLastProgress(GetTickCount()) {
    m_szCacheFile[0] = 0;
    m_szError[0] = 0;
}

CDownloadCallback::~CDownloadCallback() {
    if (m_pBinding)
        m_pBinding->Release();
}

void CDownloadCallback::Log(LPCWSTR text) {
    if (m_pProgress)
        m_pProgress->AppendLog(text);
}

HRESULT CDownloadCallback::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IBindStatusCallback || riid == IID_IUnknown) {
        *ppv = static_cast<IBindStatusCallback*>(this);
        AddRef();
        return S_OK;
    }
    if (riid == IID_IHttpNegotiate) {
        *ppv = static_cast<IHttpNegotiate*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CDownloadCallback::AddRef() {
    return ++m_cRef;
}

ULONG CDownloadCallback::Release() {
    if (--m_cRef == 0) {
        delete this;
        return 0;
    }
    return m_cRef;
}

HRESULT CDownloadCallback::OnStartBinding(DWORD, IBinding* pib) {
    if (pib)
        pib->AddRef();
    if (m_pBinding)
        m_pBinding->Release();
    m_pBinding = pib;
    Log(u"OnStartBinding");
    return S_OK;
}

HRESULT CDownloadCallback::GetPriority(LONG* pnPriority) {
    if (pnPriority)
        *pnPriority = 1; // above normal
    Log(u"GetPriority");
    return S_OK;
}

HRESULT CDownloadCallback::OnLowResource(DWORD) {
    Log(u"OnLowResource");
    return S_OK;
}

HRESULT CDownloadCallback::OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                                      LPCWSTR szStatusText) {
    // A wait is no part of the body: the bar keeps what it shows.
    if (ulStatusCode == BINDSTATUS_SERVERWAIT) {
        ++m_nServerWaits;
        m_szServerWait = szStatusText ? szStatusText : u"";
        m_nBytes = 0; // the request goes out afresh
    } else if (m_pProgress) {
        m_pProgress->SetProgress(ulProgressMax, ulProgress);
    }
    if (ulStatusCode == BINDSTATUS_DOWNLOADINGDATA)
        m_nBytes = ulProgress;
    if (ulStatusCode == BINDSTATUS_CACHEFILENAMEAVAILABLE)
        StrCpyN(m_szCacheFile, szStatusText ? szStatusText : u"", 260);

    WCHAR szLine[1024];
    wnsprintf(szLine, 1024, u"OnProgress %d %s", static_cast<int>(ulStatusCode),
              szStatusText ? szStatusText : u"");
    Log(szLine);

    m_dwLastProgress = GetTickCount();
    return S_OK;
}

DWORD CDownloadCallback::ServerWaitLeft() const {
    CComPtr<IBindingHttpInfo> pHttp;
    if (!m_pBinding || FAILED(m_pBinding->QueryInterface(IID_IBindingHttpInfo, pHttp.ppv())) ||
        !pHttp)
        return 0;
    return pHttp->GetServerWaitLeft();
}

HRESULT CDownloadCallback::OnStopBinding(HRESULT hresult, LPCWSTR szError) {
    m_hrResult = hresult;
    StrCpyN(m_szError, szError ? szError : u"", 260);
    m_bDone = 1;
    // A failed transfer says why, in the service's words.
    if (FAILED(hresult) && m_szError[0]) {
        WCHAR szLine[1024];
        wnsprintf(szLine, 1024, u"OnStopBinding: %s", m_szError);
        Log(szLine);
    } else {
        Log(u"OnStopBinding");
    }
    return S_OK;
}

HRESULT CDownloadCallback::GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) {
    if (grfBINDF)
        *grfBINDF = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_GETNEWESTVERSION;
    if (pbindinfo) {
        // Never clear more than the structure, whatever size the caller claims.
        ULONG cbSize = pbindinfo->cbSize;
        std::memset(static_cast<void*>(pbindinfo), 0, std::min<size_t>(cbSize, sizeof *pbindinfo));
        pbindinfo->cbSize = cbSize;
    }
    Log(u"GetBindInfo");
    return S_OK;
}

HRESULT CDownloadCallback::OnDataAvailable(DWORD grfBSCF, DWORD, FORMATETC*, STGMEDIUM* pstgmed) {
    WCHAR szLine[260];
    int tymed = pstgmed ? static_cast<int>(pstgmed->tymed) : kNoMediumMarker;
    wnsprintf(szLine, 260, u"OnDataAvailable grfBSCF=0x%08x tymed=%d", grfBSCF, tymed);
    Log(szLine);
    return S_OK;
}

HRESULT CDownloadCallback::OnObjectAvailable(REFIID, IUnknown*) {
    Log(u"OnObjectAvailable");
    return S_OK;
}

HRESULT CDownloadCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                LPWSTR* pszAdditionalHeaders) {
    if (!pszAdditionalHeaders)
        return E_POINTER;
    *pszAdditionalHeaders =
        m_szRequestHeaders.empty() ? nullptr : SysAllocString(m_szRequestHeaders.c_str());
    return S_OK;
}

HRESULT CPageDownloadCallback::QueryInterface(REFIID riid, void** ppv) {
    if (SUCCEEDED(CDownloadCallback::QueryInterface(riid, ppv)))
        return S_OK;
    if (riid == IID_IDispatch) {
        *ppv = static_cast<IDispatch*>(this);
    } else if (riid == IID_IOleClientSite) {
        *ppv = static_cast<IOleClientSite*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT CPageDownloadCallback::Invoke(DISPID dispIdMember, REFIID, ULONG, uint16_t, DISPPARAMS*,
                                      VARIANT* pVarResult, void*, UINT*) {
    if (dispIdMember != DISPID_AMBIENT_DLCONTROL)
        return DISP_E_MEMBERNOTFOUND;
    if (pVarResult) {
        pVarResult->vt = VT_I4;
        pVarResult->lVal = static_cast<int32_t>(kDownloadControl);
    }
    return S_OK;
}
