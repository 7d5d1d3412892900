#include "crawl/ServerWait.h"

#include "crawl/DownloadCallback.h"
#include "platform/text/text.h"

namespace {

// When the server's own words are not known: it made the request wait behind another one.
constexpr char16_t kSlowDown[] = u"the server asked to slow down";

DWORD Seconds(DWORD ms) {
    return (ms + 999) / 1000;
}

} // namespace

std::u16string ServerWaitText(const CCrawlEvent& event) {
    WCHAR szText[260];
    wnsprintf(szText, 260, u"The server asked to slow down; trying again in %d s",
              static_cast<int>(Seconds(event.m_nMsLeft)));
    return szText;
}

CServerWaitReport::CServerWaitReport(ICrawlProgress* pProgress, LPCWSTR url, CCrawlOutcome& outcome)
    : m_pProgress(pProgress), m_szUrl(url), m_outcome(outcome) {}

CServerWaitReport::~CServerWaitReport() {
    if (m_bShown && m_pProgress)
        Tell(nullptr, 0);
}

bool CServerWaitReport::Poll(const CDownloadCallback& observer) {
    // Each time the server pushed back counts, whether the engine saw it wait or not.
    m_outcome.m_nServerWaits += observer.m_nServerWaits - m_nWaitsCounted;
    m_nWaitsCounted = observer.m_nServerWaits;
    const DWORD msLeft = observer.ServerWaitLeft();
    if (msLeft > 0) {
        if (!m_bShown || Seconds(msLeft) != m_nSecondsShown)
            Tell(&observer, msLeft);
        return true;
    }
    if (m_bShown)
        Tell(&observer, 0);
    return false;
}

void CServerWaitReport::Tell(const CDownloadCallback* observer, DWORD msLeft) {
    m_bShown = msLeft > 0;
    m_nSecondsShown = Seconds(msLeft);
    if (observer)
        m_szReason = observer->m_szServerWait.empty() ? kSlowDown : observer->m_szServerWait;
    CCrawlEvent event{};
    event.m_kind = CCrawlEvent::kServerWait;
    event.m_szUrl = m_szUrl;
    event.m_szReason = m_szReason;
    event.m_nMsLeft = msLeft;
    m_pProgress->OnCrawlEvent(event);
}
