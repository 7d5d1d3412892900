// The crawl engine: page loader, link walker and tone downloader, with the two URL sets, and
// its reports through ICrawlProgress: texts for a window to show and typed events of what
// became of each tone and page. It stands on naming and the platform services, never on the
// toolkit. A front end holds one, derived only to say where the folder is, hands it its
// progress object and reads its outcome when the crawl ends.
#pragma once

#include "crawl/CrawlOutcome.h"
#include "crawl/CrawlProgress.h"
#include "crawl/DownloadCallback.h"
#include "crawl/FetchAhead.h"
#include "crawl/HarvestRecord.h"
#include "crawl/PendingStore.h"
#include "crawl/StallWatchdog.h"
#include "crawl/UrlSet.h"
#include "platform/com/com_ptr.h"
#include "platform/files/files.h"
#include "platform/html/mshtml.h"
#include "platform/text/text.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CCrawlEngine {
public:
    CCrawlEngine() = default;
    virtual ~CCrawlEngine() = default;
    CCrawlEngine(const CCrawlEngine&) = delete;
    CCrawlEngine& operator=(const CCrawlEngine&) = delete;

    // One crawl from its start page; the harvest record is committed when it ends.
    void Crawl(LPCWSTR startUrl);
    void CrawlPage(LPCWSTR url);
    void WalkLinks(LPCWSTR url, IHTMLDocument2* document);
    void DownloadTone(LPCWSTR url, int retriesLeft);
    // Fetches again the tones that failed in an earlier crawl's report, into the same folder
    // by the same rules, and nothing else; its pages that failed stay in the report. The
    // harvest record is committed when it ends.
    void RetryFailed(const CCrawlReport& earlier);

    UrlSet m_visited;
    UrlSet m_walked;
    // The pages the crawl knows of: the start page and every numbered page link seen.
    UrlSet m_known;
    ICrawlProgress* m_pProgress = nullptr;
    // Transfers at once, the walk's own and those started ahead of it; the front end sets
    // it. 1 asks for one thing at a time, in the walk's order.
    int m_nMaxConnections = 4;
    // What the running (or the last) crawl did; the driver empties it at each start.
    CCrawlOutcome m_outcome;

protected:
    // The folder as the front end names it (a field's text), read each time a tone is stored.
    virtual std::u16string ReadSaveFolder() const = 0;

private:
    CFetchAhead m_fetchAhead;

    // What one attempt at loading a page holds until the page has been walked; released in
    // the reverse order.
    struct CPageLoad {
        CComPtr<IMoniker> pMoniker;
        CComPtr<CPageDownloadCallback> pObserver;
        CComPtr<IBindCtx> pBindCtx;
        CComPtr<IHTMLDocument2> pDocument;
        CComPtr<IPersistMoniker> pPersist;
        CComPtr<IOleObject> pObject;
    };
    // Binds the page and has its document load from the binding; a failure when the load
    // could not even start (INET_E_INVALID_URL for an address that is none).
    HRESULT StartPageLoad(LPCWSTR url, CPageLoad& load);
    // Waits for the document, under the watchdog; false when it gave the transfer up.
    bool WaitForPage(LPCWSTR url, CPageLoad& load, CStallWatchdog& watchdog);

    // One download attempt of a tone; true when a stall asks for another attempt.
    bool AttemptTone(LPCWSTR url, int retriesLeft);
    void StoreTone(LPCWSTR url, LPCWSTR cacheFile, const CValidators& validators);
    // Names the tones that wait for their names, once their bytes are on the disk (see
    // StoreTone.cpp); the record then learns of them.
    void FinishStores();
    // Names one tone of the batch and counts what happened; true when the tone is in the
    // folder afterwards, under szStored.
    bool NameStagedTone(CPendingStore& store, WCHAR (&szStored)[MAX_PATH]);
    // What the waits do now and then: the batch of stores and the record's commit, when due.
    void FlushIfDue();
    // A crawl's last stores; after a crawl that finished, the record forgets files gone from
    // its folder.
    void EndCrawlStores();
    // The server said the copy the record vouches for is current: it counts as there.
    void ToneUnchanged(LPCWSTR url);
    // Tells once, in the log and the outcome, why the harvest record could not be used.
    void NoteRecordProblem();
    // What storing in folder can count on (the way to store, the characters its names may
    // hold), asked once per folder and crawl, so every name of the crawl follows one answer.
    FolderTraits TraitsOfFolder(const std::u16string& folder);
    // A transfer that failed because the download cache cannot be written ends the crawl.
    void CheckCacheFailure(HRESULT hr, LPCWSTR reason);
    // Ends the crawl as Cancel ends it, keeping why for the user.
    void StopCrawl(std::u16string reason);

    // What became of a tone or page, counted in the outcome and told to the front end in one
    // step (crawl/CrawlEvents.cpp), so that what a front end reports is what the outcome
    // counts. path is the file in the folder that holds the tone.
    void ToneStored(LPCWSTR url, LPCWSTR path);
    void ToneAlreadyThere(LPCWSTR url, LPCWSTR path);
    void ToneNotFetched(LPCWSTR url, LPCWSTR name, std::u16string_view reason);
    void ToneNotStored(LPCWSTR url, LPCWSTR fileName, std::u16string_view reason);
    void PageFailed(LPCWSTR url, std::u16string_view reason);
    void PageReadInPart(LPCWSTR url, std::u16string_view reason);
    // A page taken on by the page loader. The walk goes down into it from a page whose later
    // anchors it has not reached yet: their numbered page links are looked at first, once
    // per page, so that the count of pages known runs ahead of the depth-first walk. (Every
    // page link the walk itself reaches is known by then: it was taken on, or seen before.)
    void PageTakenOn(LPCWSTR url);
    void SeePageLinksAhead();
    // The report goes with the folder into the state folder, for a later retry.
    void SaveReport();
    void Tell(const CCrawlEvent& event) {
        m_outcome.m_report.Add(event);
        m_pProgress->OnCrawlEvent(event);
    }

    // The page whose anchors are being walked, and its parent's.
    struct CWalkedPage {
        IHTMLElementCollection* pAnchors;
        BSTR attributeName;
        LONG nAnchors;
        const LONG* pnCurrent; // the anchor the walk handles now
        CWalkedPage* pParent;
        bool bSeenAhead = false;
    };
    CWalkedPage* m_pWalkedPage = nullptr;

    CHarvestRecord m_record;
    // Tones whose names wait for the batch's sync, in the walk's order. Only a crawl batches;
    // a tone downloaded on its own is named before DownloadTone returns.
    std::vector<CPendingStore> m_pendingStores;
    bool m_bBatchStores = false;
    DWORD m_dwFirstPending = 0;
    int m_nStagedCopies = 0; // of the pending stores, those that hold a temporary copy open
    // The folders that tones went to in this crawl and what storing there can count on.
    std::unordered_map<std::u16string, FolderTraits> m_folderTraits;
};
