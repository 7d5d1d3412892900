// The page loader: fetches one library page into an HTML document, waits for the document
// to complete while the window stays live, and walks its links.
#include "crawl/CrawlEngine.h"
#include "crawl/DownloadCallback.h"
#include "crawl/MessagePump.h"
#include "crawl/SaveFolder.h"
#include "crawl/ServerWait.h"
#include "crawl/StallWatchdog.h"
#include "platform/com/com_ptr.h"
#include "platform/text/text.h"

#include <utility>

namespace {

// As many further attempts as a tone gets.
constexpr int kPageRetries = 2;

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
// outcome line keeps the count, and the line is the reason a front end tells with the page.
std::u16string LogPageCut(ICrawlProgress* pProgress, PageCut cut, IHTMLDocument2* document) {
    WCHAR szLine[1024];
    wnsprintf(szLine, 1024, PageCutFormat(cut), static_cast<int>(CountAnchors(document)));
    pProgress->AppendLog(szLine);
    return szLine;
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
    m_known.Clear();
    CrawlPage(startUrl);
    EndCrawlStores();
    m_record.Flush();
    NoteRecordProblem();
    SaveReport();
}

void CCrawlEngine::RetryFailed(const CCrawlReport& earlier) {
    const std::vector<std::u16string> urls = earlier.FailedTones();
    m_outcome.m_report = earlier.PagesOnly();
    m_record.BeginCrawl();
    const CAbandonOnCancel abandonOnCancel(m_pProgress);
    m_folderTraits.clear(); // the folder is asked again, as at a crawl's start
    for (const std::u16string& url : urls) {
        if (m_pProgress->m_bCancel || !m_outcome.m_szStopReason.empty())
            break;
        DownloadTone(url.c_str(), 2);
    }
    m_record.Flush();
    NoteRecordProblem();
    SaveReport();
}

void CCrawlEngine::CrawlPage(LPCWSTR url) {
    if (m_visited.Contains(url))
        return;
    m_visited.Add(url);
    PageTakenOn(url);
    if (m_fetchAhead.IsIdle()) { // the crawl's start page
        // Tones ahead are asked as the walk will ask them, so that it can take them over.
        m_fetchAhead.Start(m_nMaxConnections, [this](LPCWSTR toneUrl) {
            return m_record.ConditionalHeaders(SaveFolderFromField(ReadSaveFolder()), toneUrl);
        });
    }

    WCHAR szStatus[MAX_PATH];
    wnsprintf(szStatus, MAX_PATH, u"Downloading page\r\n%s", url);
    m_pProgress->SetPageStatus(szStatus);

    const bool bStartPage = !std::exchange(m_outcome.m_bStartPageDone, true);
    if (bStartPage)
        m_folderTraits.clear(); // a new crawl asks each folder again: a stick may be another
    auto failed = [&](HRESULT hr, LPCWSTR reason) {
        if (bStartPage) // known before the failure is told: the crawl could not start
            m_outcome.m_szStartPageError = StartPageError(hr, reason);
        PageFailed(url, reason ? reason : u"");
        CheckCacheFailure(hr, reason);
    };

    // A page gets the attempts a tone gets: a transfer that stalls or trickles is given up
    // and tried again, and after the last one the page has failed. Every wait ends.
    CPageLoad load;
    bool bGivenUp = false;
    LPCWSTR szGiveUpReason = nullptr;
    for (int retriesLeft = kPageRetries;; --retriesLeft) {
        load = CPageLoad{};
        if (HRESULT hr = StartPageLoad(url, load); FAILED(hr))
            return failed(hr, hr == INET_E_INVALID_URL ? u"the address is not valid" : nullptr);
        CStallWatchdog watchdog(m_pProgress, retriesLeft);
        bGivenUp = !WaitForPage(url, load, watchdog);
        szGiveUpReason = watchdog.GiveUpReason();
        if (!bGivenUp || retriesLeft == 0 || m_pProgress->m_bCancel)
            break;
    }

    if (!m_pProgress->m_bCancel) {
        if (bGivenUp) {
            failed(E_ABORT, szGiveUpReason);
        } else if (FAILED(load.pObserver->m_hrResult)) {
            failed(load.pObserver->m_hrResult, load.pObserver->m_szError);
        } else if (const PageCut cut = PageCutOf(load.pDocument.get()); cut != PageCut::None) {
            PageReadInPart(url, LogPageCut(m_pProgress, cut, load.pDocument.get()));
        }
    }
    WalkLinks(url, load.pDocument.get());
}

HRESULT CCrawlEngine::StartPageLoad(LPCWSTR url, CPageLoad& load) {
    load.pObserver = CComPtr<CPageDownloadCallback>::Attach(new CPageDownloadCallback(m_pProgress));
    HRESULT hr = CreateURLMoniker(nullptr, url, &load.pMoniker);
    if (SUCCEEDED(hr))
        hr = CreateAsyncBindCtx(0, load.pObserver.get(), nullptr, &load.pBindCtx);
    if (FAILED(hr))
        return INET_E_INVALID_URL;
    CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_ALL, IID_IHTMLDocument2,
                     load.pDocument.ppv());
    if (load.pDocument) {
        load.pDocument->QueryInterface(IID_IPersistMoniker, load.pPersist.ppv());
        load.pDocument->QueryInterface(IID_IOleObject, load.pObject.ppv());
    }
    if (!load.pDocument || !load.pPersist || !load.pObject)
        return E_FAIL;
    load.pObject->SetClientSite(static_cast<IOleClientSite*>(load.pObserver.get()));
    if (FAILED(load.pPersist->Load(FALSE, load.pMoniker.get(), load.pBindCtx.get(), 0)))
        return E_FAIL;
    return S_OK;
}

bool CCrawlEngine::WaitForPage(LPCWSTR url, CPageLoad& load, CStallWatchdog& watchdog) {
    CServerWaitReport serverWait(m_pProgress, url, m_outcome);
    CBstr readyState;
    while (!m_pProgress->m_bCancel) {
        if (IsComplete(readyState.get()))
            break;
        const bool bServerWait = serverWait.Poll(*load.pObserver.get());
        if (watchdog.IsGivenUp(*load.pObserver.get(), bServerWait)) {
            if (load.pObserver->m_pBinding)
                load.pObserver->m_pBinding->Abort();
            return false;
        }
        m_pProgress->UpdateTotals(false);
        FlushIfDue();
        PumpOneMessage();
        readyState.Free();
        load.pDocument->get_readyState(&readyState);
    }
    return true;
}
