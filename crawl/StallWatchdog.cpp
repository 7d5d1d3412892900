#include "crawl/StallWatchdog.h"

#include "crawl/DownloadCallback.h"
#include "platform/clock.h"

namespace {

constexpr LPCWSTR kRetryMessage =
    u"This download seems to be stuck, I'm about to give up and retry this download!";
constexpr LPCWSTR kSkipMessage =
    u"This download seems to be stuck, I'm about to give up on this download and skip it!";
constexpr DWORD kSampleMs = 1000;

} // namespace

CStallWatchdog::CStallWatchdog(ICrawlProgress* pProgress, int retriesLeft)
    : m_pProgress(pProgress), m_nRetriesLeft(retriesLeft), m_dwQuietSince(GetTickCount()) {}

bool CStallWatchdog::IsGivenUp(const CDownloadCallback& observer, bool bServerWait) {
    const DWORD dwNow = GetTickCount();
    if (bServerWait) {
        m_bStalled = false;
        m_dwQuietSince = dwNow;
        m_samples.clear();
        return false;
    }
    // Silence counts from the last notification, or from the end of the last wait.
    const DWORD dwLast = static_cast<int32_t>(observer.m_dwLastProgress - m_dwQuietSince) > 0
                             ? observer.m_dwLastProgress
                             : m_dwQuietSince;
    const bool bSilent = dwNow - dwLast > kStallMs;
    const bool bTrickle = IsTrickle(dwNow, observer.m_nBytes);
    if (!bSilent && !bTrickle) {
        m_bStalled = false;
    } else if (!m_bStalled) {
        m_bStalled = true;
        m_bStuckLogged = false;
        m_bTrickle = bTrickle;
        m_dwGraceStart = dwNow;
    } else if (dwNow - m_dwGraceStart >= kGraceMs) {
        return true;
    } else if (!m_bStuckLogged) {
        m_bStuckLogged = true;
        m_pProgress->AppendLog(m_nRetriesLeft != 0 ? kRetryMessage : kSkipMessage);
    }
    return false;
}

bool CStallWatchdog::IsTrickle(DWORD dwNow, uint64_t nBytes) {
    if (!m_samples.empty() && nBytes < m_samples.back().nBytes)
        m_samples.clear(); // the request went out again: its count started over
    if (m_samples.empty() || dwNow - m_samples.back().dwTick >= kSampleMs)
        m_samples.push_back(CSample{dwNow, nBytes});
    // The oldest sample kept is the last one at least a window old.
    while (m_samples.size() > 1 && dwNow - m_samples[1].dwTick >= kRateWindowMs)
        m_samples.pop_front();
    const CSample& oldest = m_samples.front();
    return dwNow - m_dwQuietSince >= kRateWindowMs && dwNow - oldest.dwTick >= kRateWindowMs &&
           nBytes - oldest.nBytes < kMinBytesPerWindow;
}
