// The crawl engine: page loader, link walker and tone downloader, with the two URL sets, and
// its reports to the running crawl's progress window through ICrawlProgress. It stands on
// naming and the platform services, never on the toolkit. The main dialog derives from it, so
// these are the dialog's own members; the engine sees of the dialog only what it declares here.
#pragma once

#include "crawl/CrawlOutcome.h"
#include "crawl/CrawlProgress.h"
#include "crawl/FetchAhead.h"
#include "crawl/HarvestRecord.h"
#include "crawl/PendingStore.h"
#include "crawl/UrlSet.h"
#include "platform/files/files.h"
#include "platform/html/mshtml.h"
#include "platform/text/text.h"

#include <string>
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

    UrlSet m_visited;
    UrlSet m_walked;
    ICrawlProgress* m_pProgress = nullptr;
    // Transfers at once, the walk's own and those started ahead of it; the front end sets
    // it. 1 asks for one thing at a time, in the walk's order.
    int m_nMaxConnections = 4;
    // What the running (or the last) crawl did; the driver empties it at each start.
    CCrawlOutcome m_outcome;

protected:
    // The current text of the folder field, read each time a tone is stored.
    virtual std::u16string ReadSaveFolder() const = 0;

private:
    CFetchAhead m_fetchAhead;

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
