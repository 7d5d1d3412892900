#include "crawl/CrawlMeter.h"

#include "crawl/DisplayFormats.h"
#include "platform/clock.h"
#include "platform/text/text.h"

#include <iterator>

namespace {

// The rate is the bytes over this long a span: long enough to even out one tone's burst,
// short enough to follow a server that slows down.
constexpr uint32_t kRateSpanMs = 5000;
constexpr uint32_t kSampleMs = 200;
constexpr uint32_t kFirstRateMs = 1000;
// An estimate from fewer pages, or less time, says more about the start page than the library.
constexpr int kPagesForEstimate = 2;
constexpr uint32_t kMsForEstimate = 3000;

} // namespace

CCrawlMeter::CCrawlMeter() : m_dwStart(GetTickCount()) {
    m_samples.push_back({m_dwStart, 0});
}

void CCrawlMeter::OnCrawlEvent(const CCrawlEvent& event) {
    switch (event.m_kind) {
    case CCrawlEvent::kToneStored:
        ++m_nStored;
        break;
    case CCrawlEvent::kToneAlreadyThere:
        ++m_nAlreadyThere;
        break;
    case CCrawlEvent::kToneFailed:
        ++m_nFailed;
        break;
    case CCrawlEvent::kPageWalked:
    case CCrawlEvent::kPagesKnown:
        m_nPagesWalked = event.m_nPagesWalked;
        m_nPagesKnown = event.m_nPagesKnown;
        break;
    default:
        break;
    }
}

void CCrawlMeter::OnTransferProgress(ULONG pos) {
    m_nBytes += pos >= m_nLastPos ? pos - m_nLastPos : pos;
    m_nLastPos = pos;
}

std::optional<uint64_t> CCrawlMeter::Rate() {
    const uint32_t now = GetTickCount();
    if (now - m_samples.back().dwTick >= kSampleMs)
        m_samples.push_back({now, m_nBytes});
    while (m_samples.size() > 2 && now - std::next(m_samples.begin())->dwTick >= kRateSpanMs)
        m_samples.pop_front();
    const uint32_t span = now - m_samples.front().dwTick;
    if (span < kFirstRateMs)
        return std::nullopt;
    return (m_nBytes - m_samples.front().nBytes) * 1000 / span;
}

std::optional<int64_t> CCrawlMeter::SecondsLeft() const {
    const uint32_t elapsed = GetTickCount() - m_dwStart;
    if (m_nPagesWalked < kPagesForEstimate || elapsed < kMsForEstimate)
        return std::nullopt;
    const int64_t pagesLeft = m_nPagesKnown > m_nPagesWalked ? m_nPagesKnown - m_nPagesWalked : 0;
    return static_cast<int64_t>(elapsed) * pagesLeft / m_nPagesWalked / 1000;
}

std::u16string CCrawlMeter::PagesText() const {
    if (m_nPagesKnown == 0)
        return {}; // no page is walked: a retry of tones, or before the start page
    return u"Page " + FormatNumber(m_nPagesWalked) + u" of at least " + FormatNumber(m_nPagesKnown);
}

std::u16string CCrawlMeter::TonesText() const {
    return FormatNumber(m_nStored) + u" stored, " + FormatNumber(m_nAlreadyThere) +
           u" already there, " + FormatNumber(m_nFailed) + u" failed";
}

std::u16string CCrawlMeter::SpeedText() {
    const std::optional<uint64_t> rate = Rate();
    std::u16string text = rate ? FormatBytes(*rate) + u"/s" : u"— B/s";
    const std::optional<int64_t> left = SecondsLeft();
    text += left ? u", about " + FormatElapsed(*left) + u" left" : u", estimating…";
    return text;
}
