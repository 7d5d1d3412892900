// What became of each tone and page: counted in the crawl's outcome and told to the front end
// as one step, so that the lines a front end prints and the outcome line never disagree.
#include "crawl/CrawlEngine.h"
#include "crawl/SaveFolder.h"
#include "platform/files/files.h"
#include "platform/text/text.h"

void CCrawlEngine::ToneStored(LPCWSTR url, LPCWSTR path) {
    ++m_outcome.m_nNewTones;
    m_outcome.ToneDealtWith(url);
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    GetFileAttributesEx(path, &attributes);
    Tell({CCrawlEvent::kToneStored, url, PathFindFileName(path), {}, attributes.nFileSize});
}

void CCrawlEngine::ToneAlreadyThere(LPCWSTR url, LPCWSTR path) {
    ++m_outcome.m_nAlreadyThere;
    m_outcome.ToneDealtWith(url);
    Tell({CCrawlEvent::kToneAlreadyThere, url, path ? PathFindFileName(path) : u"", {}});
}

void CCrawlEngine::ToneNotFetched(LPCWSTR url, LPCWSTR name, std::u16string_view reason) {
    m_outcome.ToneNotFetched(url, name, reason);
    Tell({CCrawlEvent::kToneFailed, url, name, FailureReason(reason)});
}

void CCrawlEngine::ToneNotStored(LPCWSTR url, LPCWSTR fileName, std::u16string_view reason) {
    m_outcome.ToneNotStored(url, fileName, reason);
    Tell({CCrawlEvent::kToneFailed, url, fileName, FailureReason(reason)});
}

void CCrawlEngine::PageFailed(LPCWSTR url, std::u16string_view reason) {
    m_outcome.PageFailed(url, reason);
    Tell({CCrawlEvent::kPageFailed, url, {}, FailureReason(reason)});
}

void CCrawlEngine::PageReadInPart(LPCWSTR url, std::u16string_view reason) {
    ++m_outcome.m_nCutPages;
    Tell({CCrawlEvent::kPageCut, url, {}, reason});
}

void CCrawlEngine::PageTakenOn(LPCWSTR url) {
    SeePageLinksAhead();
    if (!m_known.Contains(url)) {
        m_known.Add(url);
        ++m_outcome.m_nPagesKnown;
    }
    ++m_outcome.m_nPagesWalked;
    Tell({.m_kind = CCrawlEvent::kPageWalked,
          .m_szUrl = url,
          .m_nPagesWalked = m_outcome.m_nPagesWalked,
          .m_nPagesKnown = m_outcome.m_nPagesKnown});
}

void CCrawlEngine::SaveReport() {
    const std::u16string folder = SaveFolderFromField(ReadSaveFolder());
    // What failed is still shown now; only a later retry from it is lost, and the user is told.
    if (!m_outcome.m_report.Save(folder) && !m_outcome.m_report.IsEmpty())
        m_outcome.m_szReportProblem = u"the list of what failed could not be kept for a retry in " +
                                      FromNativeName(CrawlReportPath(folder));
}
