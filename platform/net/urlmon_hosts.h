// How hard one server may be asked: how many transfers to it at once, and from when. A
// server that pushes back (429, 503) is asked half as hard and not again before the time it
// named; clean answers win back one transfer at a time, as TCP's window grows back. Pages,
// tones and transfers ahead to one server share its state, so that none of them undoes what
// the server asked of the others.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace urlmon {

// Wrapping 32-bit ticks: whether a comes at or after b.
inline bool TickReached(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) >= 0;
}

class HostThrottle {
public:
    explicit HostThrottle(int maxConnections);

    // The setting changed: the limit and what it may grow back to follow it.
    void SetMaxConnections(int n);
    // Whether one more transfer may start at now. Transfers ahead (nAhead of them run now)
    // leave one of the host's transfers to the walk's own request.
    bool CanStart(uint32_t now, bool bAhead, int nAhead) const;
    // How long no transfer may start yet because the server asked for a wait; 0 when none.
    uint32_t WaitLeft(uint32_t now) const {
        return m_bWaitSet && !TickReached(now, m_dwNotBefore) ? m_dwNotBefore - now : 0;
    }
    void Started(uint32_t now);
    void Ended() { --m_nRunning; }
    int Running() const { return m_nRunning; }
    // The server was seen to serve fewer connections than it is given.
    bool IsStarved() const { return m_nCeiling < m_nSetting; }
    int Limit() const { return m_nLimit; }

    // The server pushed back on a request; askedMs is its Retry-After, if it named one.
    // Returns how long that request waits; no request to the server starts before then.
    uint32_t PushedBack(uint32_t now, std::optional<uint32_t> askedMs);
    // A request was answered without push back.
    void Answered(uint32_t now);
    // A connection went unanswered while another was answered: the server serves fewer
    // connections at once than it is given. As many as were answering (at least one) it
    // keeps, for the rest of the crawl.
    void Starved(int nAnswering);

    // Without a Retry-After the wait doubles from 1 s up to a minute.
    static constexpr uint32_t kFirstBackoffMs = 1000;
    static constexpr uint32_t kMaxBackoffMs = 60000;
    // A Retry-After of 0 (or a date already past) still waits: a server that asks again and
    // again must not be asked as fast as the loop runs.
    static constexpr uint32_t kMinWaitMs = 1000;
    // Clean answers that win back one transfer, once the server needs no pace.
    static constexpr int kCleanRun = 20;

private:
    // Once one transfer at a time is still too much, requests are spaced: by the rate the
    // server let through in the last second before it pushed back, a tenth slower.
    void SlowThePace(uint32_t now, uint32_t waitMs);

    static constexpr uint32_t kRateWindowMs = 1000;
    static constexpr double kPaceMargin = 1.1;
    static constexpr double kPaceBackOff = 1.5;
    // Per clean answer: a guessed pace doubles its rate in about 10 answers, to find the
    // server's limit soon; a measured one gains 0.6 % in 20, so that the server seldom needs
    // to push back again (each time costs the crawl its Retry-After).
    static constexpr double kGuessedPaceGrowth = 0.93;
    static constexpr double kMeasuredPaceGrowth = 0.9997;
    static constexpr double kMinPaceMs = 2;

    int m_nSetting;
    int m_nCeiling; // the setting, or what the server was seen to serve
    int m_nLimit;
    int m_nRunning = 0;
    int m_nCleanRun = 0;
    uint32_t m_dwBackoffMs = kFirstBackoffMs;
    uint32_t m_dwNotBefore = 0;
    bool m_bWaitSet = false;
    double m_paceMs = 0; // 0: not paced
    bool m_bPaceMeasured = false;
    uint32_t m_dwNextStart = 0;
    uint32_t m_dwResume = 0;        // when requests went out again after the last wait
    std::deque<uint32_t> m_answers; // ticks of the last second's clean answers
};

} // namespace urlmon
