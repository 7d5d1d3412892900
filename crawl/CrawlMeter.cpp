#include "crawl/CrawlMeter.h"

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

std::u16string Number(uint64_t n) {
    return FromUtf8(std::to_string(n));
}

std::u16string Duration(int64_t seconds) {
    WCHAR szTime[64];
    wnsprintf(szTime, 64, u"%d:%02d:%02d", static_cast<int>(seconds / 3600),
              static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return szTime;
}

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
    return u"Page " + Number(m_nPagesWalked) + u" of at least " + Number(m_nPagesKnown);
}

std::u16string CCrawlMeter::TonesText() const {
    return Number(m_nStored) + u" stored, " + Number(m_nAlreadyThere) + u" already there, " +
           Number(m_nFailed) + u" failed";
}

std::u16string CCrawlMeter::SpeedText() {
    const std::optional<uint64_t> rate = Rate();
    std::u16string text = rate ? FormatBytes(*rate) + u"/s" : u"— B/s";
    const std::optional<int64_t> left = SecondsLeft();
    text += left ? u", about " + Duration(*left) + u" left" : u", estimating…";
    return text;
}

std::u16string CCrawlMeter::FormatBytes(uint64_t n) {
    constexpr const char16_t* kUnits[] = {u" B", u" KB", u" MB", u" GB", u" TB"};
    size_t unit = 0;
    uint64_t tenths = n * 10;
    while (tenths >= 10240 && unit + 1 < std::size(kUnits)) {
        tenths /= 1024;
        ++unit;
    }
    std::u16string text = Number(tenths / 10);
    if (unit > 0 && tenths < 100)
        text += u"." + Number(tenths % 10);
    return text + kUnits[unit];
}
