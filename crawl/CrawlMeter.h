// How far along a crawl is and how fast it goes, as both front ends show it: the pages walked
// of those known, the tones stored, already there and failed, the bytes received over the
// last few seconds, and the time left, estimated from the pages walked against those known.
// It counts from the engine's events and the transfers' progress, on the clock seam.
#pragma once

#include "crawl/CrawlProgress.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

class CCrawlMeter {
public:
    CCrawlMeter();

    // The counts an event changes.
    void OnCrawlEvent(const CCrawlEvent& event);
    // A transfer's position, as the download service reports it: each transfer counts up from
    // 0, so a position below the last one starts a new transfer.
    void OnTransferProgress(ULONG pos);

    int PagesWalked() const { return m_nPagesWalked; }
    int PagesKnown() const { return m_nPagesKnown; }
    uint64_t Bytes() const { return m_nBytes; }
    // Bytes a second over the last few seconds; none before the first second.
    std::optional<uint64_t> Rate();
    // Seconds left, while pages known remain: the time so far per page walked, times the
    // pages still to walk. None until enough pages were walked to tell.
    std::optional<int64_t> SecondsLeft() const;

    // "Page 12 of at least 40"; empty while no page is known.
    std::u16string PagesText() const;
    // "35 stored, 12 already there, 2 failed"
    std::u16string TonesText() const;
    // "1.2 MB/s, about 0:03:10 left", or "…, estimating…" before the time left can be told.
    std::u16string SpeedText();

private:
    struct CSample {
        uint32_t dwTick;
        uint64_t nBytes;
    };
    uint32_t m_dwStart;
    std::deque<CSample> m_samples;
    int m_nPagesWalked = 0;
    int m_nPagesKnown = 0;
    int m_nStored = 0;
    int m_nAlreadyThere = 0;
    int m_nFailed = 0;
    uint64_t m_nBytes = 0;
    ULONG m_nLastPos = 0;
};
