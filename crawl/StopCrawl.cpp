// Failures that end a crawl early: the folder or the download cache can take no more files,
// so every later tone would fail the same way.
#include "crawl/CrawlEngine.h"
#include "platform/net/urlmon.h"

void CCrawlEngine::StopCrawl(std::u16string reason) {
    if (m_outcome.m_szStopReason.empty())
        m_outcome.m_szStopReason = std::move(reason);
    // Every wait and walk already ends on the cancel flag; the reason tells the two apart.
    m_pProgress->m_bCancel = 1;
}

void CCrawlEngine::CheckCacheFailure(HRESULT hr, LPCWSTR reason) {
    if (hr != STG_E_WRITEFAULT)
        return;
    StopCrawl(u"The crawl was stopped: couldn't write to the temporary folder " +
              GetUrlCacheFolder() + u": " + reason + u".");
}
