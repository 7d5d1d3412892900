// Failures that end a crawl early: the folder or the download cache can take no more files,
// so every later tone would fail the same way. And the one that only costs time: a harvest
// record that cannot be used.
#include "crawl/CrawlEngine.h"
#include "platform/net/urlmon.h"

void CCrawlEngine::StopCrawl(std::u16string reason) {
    if (m_outcome.m_szStopReason.empty())
        m_outcome.m_szStopReason = std::move(reason);
    // Every wait and walk already ends on the cancel flag; the reason tells the two apart.
    m_pProgress->m_bCancel = 1;
    m_fetchAhead.Stop(); // nothing fetched ahead is wanted any more
}

void CCrawlEngine::NoteRecordProblem() {
    std::u16string why = m_record.TakeProblem();
    if (why.empty() || !m_outcome.m_szRecordProblem.empty())
        return;
    m_outcome.m_szRecordProblem = why;
    const std::u16string line =
        u"The harvest record could not be used: " + why + u". Tones are downloaded whole.";
    m_pProgress->AppendLog(line.c_str());
}

void CCrawlEngine::CheckCacheFailure(HRESULT hr, LPCWSTR reason) {
    if (hr != STG_E_WRITEFAULT)
        return;
    StopCrawl(u"The crawl was stopped: couldn't write to the temporary folder " +
              GetUrlCacheFolder() + u": " + reason + u".");
}
