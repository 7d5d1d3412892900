// The page loader: fetches one library page into an HTML document, waits for the document
// to complete while the window stays live, and walks its links.
#include "crawl/CrawlEngine.h"
#include "crawl/DownloadCallback.h"
#include "crawl/MessagePump.h"
#include "platform/com_ptr.h"
#include "platform/text.h"
#include "ui/ProgressDialog.h"

namespace {

bool IsComplete(BSTR readyState) {
    CBstr complete(u"complete");
    return VarBstrCmp(readyState, complete.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

} // namespace

void CCrawlEngine::CrawlPage(LPCWSTR url) {
    if (m_visited.Contains(url))
        return;
    m_visited.Add(url);

    WCHAR szStatus[MAX_PATH];
    wnsprintf(szStatus, MAX_PATH, u"Downloading page\r\n%s", url);
    m_pProgress->SetPageStatus(szStatus);

    // Declared in the reverse of their release order.
    CComPtr<IMoniker> pMoniker;
    auto pObserver = CComPtr<CPageDownloadCallback>::Attach(new CPageDownloadCallback(m_pProgress));
    CComPtr<IBindCtx> pBindCtx;
    CComPtr<IHTMLDocument2> pDocument;
    CComPtr<IPersistMoniker> pPersist;
    CComPtr<IOleObject> pObject;

    if (FAILED(CreateURLMoniker(nullptr, url, &pMoniker)))
        return;
    if (FAILED(CreateAsyncBindCtx(0, pObserver.get(), nullptr, &pBindCtx)))
        return;
    CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_ALL, IID_IHTMLDocument2, pDocument.ppv());
    if (pDocument) {
        pDocument->QueryInterface(IID_IPersistMoniker, pPersist.ppv());
        pDocument->QueryInterface(IID_IOleObject, pObject.ppv());
    }
    if (!pDocument || !pPersist || !pObject)
        return;
    pObject->SetClientSite(static_cast<IOleClientSite*>(pObserver.get()));
    if (FAILED(pPersist->Load(FALSE, pMoniker.get(), pBindCtx.get(), 0)))
        return;

    CBstr readyState;
    while (!m_pProgress->m_bCancel) {
        if (IsComplete(readyState.get()))
            break;
        m_pProgress->UpdateTotals(false);
        PumpOneMessage();
        readyState.Free();
        pDocument->get_readyState(&readyState);
    }

    WalkLinks(url, pDocument.get());
}
