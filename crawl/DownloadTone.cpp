// The tone downloader: fetches one tone into the cache and stores it in the folder.
#include "crawl/CrawlEngine.h"
#include "platform/text.h"
#include "ui/ProgressDialog.h"

void CCrawlEngine::DownloadTone(LPCWSTR url, int) {
    if (!m_visited.Contains(url)) {
        // Fetching and storing arrive with the download service.
    }
    m_pProgress->SetToneStatus(u"");
    m_pProgress->ClearLog();
    m_pProgress->SetProgress(100, 0);
}
