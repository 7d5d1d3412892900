// The page loader: fetches one library page into an HTML document and walks it.
#include "crawl/CrawlEngine.h"
#include "platform/text.h"
#include "ui/ProgressDialog.h"

void CCrawlEngine::CrawlPage(LPCWSTR url) {
    if (m_visited.Contains(url))
        return;
    m_visited.Add(url);

    WCHAR szStatus[MAX_PATH];
    wnsprintf(szStatus, MAX_PATH, u"Downloading page\r\n%s", url);
    m_pProgress->SetPageStatus(szStatus);
}
