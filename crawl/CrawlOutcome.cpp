#include "crawl/CrawlOutcome.h"

#include "platform/text/text.h"

namespace {

std::u16string Number(int64_t n) {
    return FromUtf8(std::to_string(n));
}

// "1 page failed", "2 pages failed": the noun takes its plural from the count.
std::u16string Counted(int n, std::u16string_view singular, std::u16string_view plural,
                       std::u16string_view rest) {
    std::u16string text = Number(n);
    text += u' ';
    text += n == 1 ? singular : plural;
    text += rest;
    return text;
}

std::u16string Elapsed(int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    WCHAR szTime[64];
    wnsprintf(szTime, 64, u"%d:%02d:%02d", static_cast<int>(seconds / 3600),
              static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return szTime;
}

} // namespace

std::u16string FormatOutcome(const CCrawlOutcome& outcome, bool bCancelled,
                             int64_t elapsedSeconds) {
    if (!outcome.m_szStartPageError.empty())
        return outcome.m_szStartPageError; // nothing else can have happened

    std::u16string line;
    if (bCancelled)
        line = u"Cancelled: ";
    else if (!outcome.m_szStopReason.empty())
        line = u"Stopped: ";
    line += Counted(outcome.m_nNewTones, u"new tone", u"new tones", u" stored");
    if (outcome.m_nAlreadyThere > 0)
        line += u", " + Number(outcome.m_nAlreadyThere) + u" already there";
    if (outcome.FailedTones() > 0)
        line += u", " + Number(outcome.FailedTones()) + u" failed";
    if (outcome.m_nFailedPages > 0)
        line += u", " + Counted(outcome.m_nFailedPages, u"page", u"pages", u" failed");
    if (outcome.m_nCutPages > 0)
        line +=
            u", " + Counted(outcome.m_nCutPages, u"page", u"pages", u" too large to read whole");
    if (outcome.m_nServerWaits > 0)
        line += u", slowed down by the server " +
                Counted(outcome.m_nServerWaits, u"time", u"times", u"");
    line += u", in " + Elapsed(elapsedSeconds);
    if (!outcome.m_szFirstFailure.empty())
        line += u"; " + outcome.m_szFirstFailure;
    if (!outcome.m_szRecordProblem.empty())
        line += u"; the harvest record could not be used: " + outcome.m_szRecordProblem;
    return line;
}
