// The page loader: fetches one library page into an HTML document, waits for the document
// to complete while the window stays live, and walks its links.
#include "crawl/CrawlEngine.h"
#include "crawl/DownloadCallback.h"
#include "crawl/MessagePump.h"
#include "crawl/SaveFolder.h"
#include "platform/com/com_ptr.h"
#include "platform/text/text.h"

#include <utility>

namespace {

bool IsComplete(BSTR readyState) {
    CBstr complete(u"complete");
    return VarBstrCmp(readyState, complete.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

PageCut PageCutOf(IHTMLDocument2* document) {
    CComPtr<IHTMLDocumentLoadInfo> pInfo;
    if (FAILED(document->QueryInterface(IID_IHTMLDocumentLoadInfo, pInfo.ppv())) || !pInfo)
        return PageCut::None;
    return pInfo->GetPageCut();
}

LONG CountAnchors(IHTMLDocument2* document) {
    CComPtr<IHTMLDocument3> pDocument3;
    CComPtr<IHTMLElementCollection> pAnchors;
    CBstr tagName(u"A");
    LONG nAnchors = 0;
    if (SUCCEEDED(document->QueryInterface(IID_IHTMLDocument3, pDocument3.ppv())) && pDocument3)
        pDocument3->getElementsByTagName(tagName.get(), &pAnchors);
    if (pAnchors)
        pAnchors->get_length(&nAnchors);
    return nAnchors;
}

// What the log says of a page that could not be read whole, so that the user learns which of
// its links are missing and why; %d is the number of links read.
LPCWSTR PageCutFormat(PageCut cut) {
    switch (cut) {
    case PageCut::AnchorText:
        return u"Some links of this page were not followed as numbered pages: it has more link "
               u"text than the program reads from one page, and theirs was not read.";
    case PageCut::Anchors:
        return u"Only the first %d links of this page were read: it has more than the program "
               u"reads from one page.";
    case PageCut::Length:
        return u"Only the first %d links of this page were read: it is longer than the program "
               u"reads from one page.";
    case PageCut::Structure:
        return u"No links of this page were read: its markup is built in a way that the program "
               u"cannot read in reasonable time.";
    case PageCut::None:
        break;
    }
    return u"";
}

// Logged beside the page's own transfer lines, which stay until its first tone is done; the
// outcome line keeps the count.
void LogPageCut(ICrawlProgress* pProgress, PageCut cut, IHTMLDocument2* document) {
    WCHAR szLine[1024];
    wnsprintf(szLine, 1024, PageCutFormat(cut), static_cast<int>(CountAnchors(document)));
    pProgress->AppendLog(szLine);
}

// Why a page could not be fetched, as the outcome line tells it.
std::u16string StartPageError(HRESULT hr, LPCWSTR reason) {
    if (hr == INET_E_UNKNOWN_PROTOCOL)
        return u"Only http and https addresses can be crawled";
    std::u16string text = u"The start page could not be fetched";
    if (reason && *reason)
        text += std::u16string(u": ") + reason;
    return text;
}

} // namespace

void CCrawlEngine::Crawl(LPCWSTR startUrl) {
    m_record.BeginCrawl();
    m_bBatchStores = true;
    // A page whose parse Cancel ends is not counted: every count waits for the flag.
    const CAbandonOnCancel abandonOnCancel(m_pProgress);
    CrawlPage(startUrl);
    EndCrawlStores();
    m_record.Flush();
    NoteRecordProblem();
}

void CCrawlEngine::CrawlPage(LPCWSTR url) {
    if (m_visited.Contains(url))
        return;
    m_visited.Add(url);
    if (m_fetchAhead.IsIdle()) { // the crawl's start page
        // Tones ahead are asked as the walk will ask them, so that it can take them over.
        m_fetchAhead.Start(m_nMaxConnections, [this](LPCWSTR toneUrl) {
            return m_record.ConditionalHeaders(SaveFolderFromField(ReadSaveFolder()), toneUrl);
        });
    }

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

    const bool bStartPage = !std::exchange(m_outcome.m_bStartPageDone, true);
    if (bStartPage)
        m_folderTraits.clear(); // a new crawl asks each folder again: a stick may be another
    auto failed = [&](HRESULT hr, LPCWSTR reason) {
        m_outcome.PageFailed(url, reason ? reason : u"");
        if (bStartPage)
            m_outcome.m_szStartPageError = StartPageError(hr, reason);
        CheckCacheFailure(hr, reason);
    };

    HRESULT hr = CreateURLMoniker(nullptr, url, &pMoniker);
    if (SUCCEEDED(hr))
        hr = CreateAsyncBindCtx(0, pObserver.get(), nullptr, &pBindCtx);
    if (FAILED(hr))
        return failed(hr, u"the address is not valid");
    CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_ALL, IID_IHTMLDocument2, pDocument.ppv());
    if (pDocument) {
        pDocument->QueryInterface(IID_IPersistMoniker, pPersist.ppv());
        pDocument->QueryInterface(IID_IOleObject, pObject.ppv());
    }
    if (!pDocument || !pPersist || !pObject)
        return failed(E_FAIL, nullptr);
    pObject->SetClientSite(static_cast<IOleClientSite*>(pObserver.get()));
    if (FAILED(pPersist->Load(FALSE, pMoniker.get(), pBindCtx.get(), 0)))
        return failed(E_FAIL, nullptr);

    CBstr readyState;
    while (!m_pProgress->m_bCancel) {
        if (IsComplete(readyState.get()))
            break;
        m_pProgress->UpdateTotals(false);
        FlushIfDue();
        PumpOneMessage();
        readyState.Free();
        pDocument->get_readyState(&readyState);
    }

    if (!m_pProgress->m_bCancel) {
        if (FAILED(pObserver->m_hrResult)) {
            failed(pObserver->m_hrResult, pObserver->m_szError);
        } else if (const PageCut cut = PageCutOf(pDocument.get()); cut != PageCut::None) {
            ++m_outcome.m_nCutPages;
            LogPageCut(m_pProgress, cut, pDocument.get());
        }
    }
    WalkLinks(url, pDocument.get());
}
