#include "crawl/CrawlOutcome.h"

#include "crawl/DisplayFormats.h"

namespace {

// "1 page failed", "2 pages failed": the noun takes its plural from the count.
std::u16string Counted(int n, std::u16string_view singular, std::u16string_view plural,
                       std::u16string_view rest) {
    std::u16string text = FormatNumber(n);
    text += u' ';
    text += n == 1 ? singular : plural;
    text += rest;
    return text;
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
        line += u", " + FormatNumber(outcome.m_nAlreadyThere) + u" already there";
    if (outcome.FailedTones() > 0)
        line += u", " + FormatNumber(outcome.FailedTones()) + u" failed";
    if (outcome.m_nFailedPages > 0)
        line += u", " + Counted(outcome.m_nFailedPages, u"page", u"pages", u" failed");
    if (outcome.m_nCutPages > 0)
        line +=
            u", " + Counted(outcome.m_nCutPages, u"page", u"pages", u" too large to read whole");
    if (outcome.m_nServerWaits > 0)
        line += u", slowed down by the server " +
                Counted(outcome.m_nServerWaits, u"time", u"times", u"");
    line += u", in " + FormatElapsed(elapsedSeconds);
    if (!outcome.m_szFirstFailure.empty())
        line += u"; " + outcome.m_szFirstFailure;
    if (!outcome.m_szRecordProblem.empty())
        line += u"; the harvest record could not be used: " + outcome.m_szRecordProblem;
    if (!outcome.m_szReportProblem.empty())
        line += u"; " + outcome.m_szReportProblem;
    return line;
}

std::u16string FormatOutcomeSummary(const CCrawlOutcome& outcome, bool bCancelled) {
    if (!outcome.m_szStartPageError.empty())
        return outcome.m_szStartPageError;
    std::u16string line = bCancelled                        ? u"Cancelled: "
                          : !outcome.m_szStopReason.empty() ? u"Stopped: "
                                                            : u"";
    line += Counted(outcome.m_nNewTones, u"new tone", u"new tones", u" stored");
    if (outcome.FailedTones() > 0)
        line += u", " + FormatNumber(outcome.FailedTones()) + u" failed";
    if (outcome.m_nFailedPages > 0)
        line += u", " + Counted(outcome.m_nFailedPages, u"page", u"pages", u" failed");
    return line;
}
