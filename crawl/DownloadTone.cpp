// The tone downloader: fetches one tone into the cache under a stall watchdog, retrying a
// stalled transfer while retries are left, and hands the finished file to storing.
#include "crawl/CrawlEngine.h"
#include "crawl/DownloadCallback.h"
#include "crawl/MessagePump.h"
#include "crawl/SaveFolder.h"
#include "crawl/ServerWait.h"
#include "crawl/StallWatchdog.h"
#include "naming/Naming.h"
#include "platform/clock.h"
#include "platform/com/com_ptr.h"
#include "platform/net/urlmon.h"
#include "platform/text/text.h"

namespace {

// The name shown while a tone downloads: the value after "pmw_filename=" up to the next
// '/', or else the URL's tail; percent escapes decoded up to a '?' or '#'.
void MakeDisplayName(LPCWSTR url, WCHAR (&szName)[MAX_PATH]) {
    static constexpr char16_t kKey[] = u"pmw_filename=";
    if (LPCWSTR key = StrStrI(url, kKey)) {
        LPCWSTR value = key + (sizeof kKey / sizeof kKey[0] - 1);
        int n = 0;
        while (value[n] && value[n] != u'/' && n < MAX_PATH - 1) {
            szName[n] = value[n];
            ++n;
        }
        szName[n] = 0;
    } else {
        int length = lstrlen(url);
        StrCpyN(szName, length > MAX_PATH - 1 ? url + length - (MAX_PATH - 1) : url, MAX_PATH);
    }
    FixUpName(szName, MAX_PATH);
    DWORD cch = MAX_PATH;
    UrlUnescape(szName, nullptr, &cch, URL_UNESCAPE_INPLACE | URL_DONT_UNESCAPE_EXTRA_INFO);
}

void AbortBinding(CDownloadCallback* pObserver) {
    if (pObserver->m_pBinding)
        pObserver->m_pBinding->Abort();
}

// What the server answered: its status and the validators of what it sent.
long ReadAnswer(IBinding* binding, CValidators* validators) {
    CComPtr<IBindingHttpInfo> pHttp;
    if (!binding || FAILED(binding->QueryInterface(IID_IBindingHttpInfo, pHttp.ppv())) || !pHttp)
        return 0;
    validators->m_szETag = pHttp->GetETag();
    validators->m_szLastModified = pHttp->GetLastModified();
    return pHttp->GetResponseStatus();
}

} // namespace

void CCrawlEngine::DownloadTone(LPCWSTR url, int retriesLeft) {
    bool bRetry = false;
    if (!m_visited.Contains(url))
        bRetry = AttemptTone(url, retriesLeft);

    m_pProgress->SetToneStatus(u"");
    m_pProgress->ClearLog();
    m_pProgress->SetProgress(100, 0);
    if (bRetry && retriesLeft != 0)
        DownloadTone(url, retriesLeft - 1);
}

bool CCrawlEngine::AttemptTone(LPCWSTR url, int retriesLeft) {
    WCHAR szName[MAX_PATH];
    MakeDisplayName(url, szName);
    WCHAR szStatus[1024];
    wnsprintf(szStatus, 1024, u"Downloading tone %s\r\n%s", szName, url);
    m_pProgress->SetToneStatus(szStatus);

    // Declared in the reverse of their release order.
    CComPtr<IMoniker> pMoniker;
    auto pObserver = CComPtr<CDownloadCallback>::Attach(new CDownloadCallback(m_pProgress));
    CComPtr<IBindCtx> pBindCtx;
    CComPtr<IUnknown> pStorage;

    // A tone the record vouches for is asked for only if it changed.
    pObserver->m_szRequestHeaders =
        m_record.ConditionalHeaders(SaveFolderFromField(ReadSaveFolder()), url);
    NoteRecordProblem();

    if (FAILED(CreateURLMoniker(nullptr, url, &pMoniker)) ||
        FAILED(CreateAsyncBindCtx(0, pObserver.get(), nullptr, &pBindCtx))) {
        ToneNotFetched(url, szName, u"the address is not valid");
        return false;
    }
    RegisterBindStatusCallback(pBindCtx.get(), pObserver.get(), nullptr, 0);
    HRESULT hr = pMoniker->BindToStorage(pBindCtx.get(), nullptr, IID_IStream, pStorage.ppv());
    wnsprintf(szStatus, 1024, u"BindToStorage returned 0x%08x", static_cast<unsigned>(hr));
    m_pProgress->AppendLog(szStatus);

    // Wait for the stop, with the stall watchdog (crawl/StallWatchdog.h), which rests while
    // the server has asked the transfer to wait.
    CStallWatchdog watchdog(m_pProgress, retriesLeft);
    bool bRetry = false;
    {
        CServerWaitReport serverWait(m_pProgress, url, m_outcome);
        while (!m_pProgress->m_bCancel) {
            if (pObserver->m_bDone)
                break;
            const bool bServerWait = serverWait.Poll(*pObserver.get());
            if (watchdog.IsGivenUp(*pObserver.get(), bServerWait)) {
                AbortBinding(pObserver.get());
                bRetry = true;
                break;
            }
            m_pProgress->UpdateTotals(false);
            FlushIfDue();
            PumpOneMessage();
        }
    }

    if (m_pProgress->m_bCancel)
        AbortBinding(pObserver.get());
    RevokeBindStatusCallback(pBindCtx.get(), pObserver.get());
    if (m_pProgress->m_bCancel)
        return false;
    if (bRetry) {
        if (retriesLeft == 0) // the last attempt stalled too
            ToneNotFetched(url, szName, watchdog.GiveUpReason());
        return true;
    }
    if (FAILED(pObserver->m_hrResult)) {
        ToneNotFetched(url, szName, pObserver->m_szError);
        CheckCacheFailure(pObserver->m_hrResult, pObserver->m_szError);
        return false;
    }
    CValidators validators;
    if (ReadAnswer(pObserver->m_pBinding, &validators) == HTTP_STATUS_NOT_MODIFIED)
        ToneUnchanged(url);
    else
        StoreTone(url, pObserver->m_szCacheFile, validators);
    NoteRecordProblem();
    return false;
}
