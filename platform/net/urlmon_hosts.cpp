// The slow-down state of one server.
#include "platform/net/urlmon_hosts.h"

#include <algorithm>

namespace urlmon {

HostThrottle::HostThrottle(int maxConnections)
    : m_nSetting(std::max(1, maxConnections)), m_nCeiling(m_nSetting), m_nLimit(m_nSetting) {}

void HostThrottle::SetMaxConnections(int n) {
    m_nSetting = std::max(1, n);
    m_nCeiling = m_nSetting;
    m_nLimit = std::min(m_nLimit, m_nCeiling);
    if (m_paceMs == 0 && m_nCleanRun == 0 && !m_bWaitSet)
        m_nLimit = m_nSetting; // a server that never pushed back gets the new setting at once
}

bool HostThrottle::CanStart(uint32_t now, bool bAhead, int nAhead) const {
    if (m_bWaitSet && !TickReached(now, m_dwNotBefore))
        return false;
    if (m_paceMs > 0 && !TickReached(now, m_dwNextStart))
        return false;
    return m_nRunning < m_nLimit && (!bAhead || nAhead < m_nLimit - 1);
}

void HostThrottle::Started(uint32_t now) {
    ++m_nRunning;
    if (m_paceMs > 0)
        m_dwNextStart = now + static_cast<uint32_t>(m_paceMs);
}

uint32_t HostThrottle::PushedBack(uint32_t now, std::optional<uint32_t> askedMs) {
    uint32_t waitMs = askedMs.value_or(m_dwBackoffMs);
    if (!askedMs)
        m_dwBackoffMs = std::min(m_dwBackoffMs * 2, kMaxBackoffMs);
    waitMs = std::max(waitMs, kMinWaitMs);
    if (m_nLimit > 1)
        m_nLimit = std::max(1, m_nLimit / 2);
    else
        SlowThePace(now, waitMs);
    m_nCleanRun = 0;
    const uint32_t until = now + waitMs;
    if (!m_bWaitSet || TickReached(until, m_dwNotBefore))
        m_dwNotBefore = until;
    m_bWaitSet = true;
    m_answers.clear(); // the rate is measured afresh after the wait
    m_dwResume = m_dwNotBefore;
    return waitMs;
}

void HostThrottle::SlowThePace(uint32_t now, uint32_t waitMs) {
    while (!m_answers.empty() && !TickReached(m_answers.front() + kRateWindowMs, now))
        m_answers.pop_front();
    if (TickReached(now, m_dwResume + kRateWindowMs) && m_answers.size() >= 2) {
        // A whole window since the last wait, and still pushed back: the server let through
        // what was answered in it.
        m_paceMs = kPaceMargin * kRateWindowMs / static_cast<double>(m_answers.size());
        m_bPaceMeasured = true;
    } else if (m_paceMs > 0) {
        m_paceMs *= kPaceBackOff; // pushed back again before a rate could show
    } else {
        // The first guess: what came through before the wait, spread over the wait.
        m_paceMs = static_cast<double>(waitMs) /
                   static_cast<double>(std::max<size_t>(1, m_answers.size()));
    }
    m_paceMs = std::clamp(m_paceMs, kMinPaceMs, static_cast<double>(kMaxBackoffMs));
}

void HostThrottle::Answered(uint32_t now) {
    m_dwBackoffMs = kFirstBackoffMs;
    m_answers.push_back(now);
    while (!m_answers.empty() && !TickReached(m_answers.front() + kRateWindowMs, now))
        m_answers.pop_front();
    if (m_paceMs > 0) {
        // Faster with every clean answer: quickly while the pace is a guess, gently once it
        // was measured, so that the server pushes back seldom.
        m_paceMs *= m_bPaceMeasured ? kMeasuredPaceGrowth : kGuessedPaceGrowth;
        if (m_paceMs < kMinPaceMs) {
            m_paceMs = 0;
            m_bPaceMeasured = false;
        }
        return;
    }
    if (++m_nCleanRun < kCleanRun)
        return;
    m_nCleanRun = 0;
    if (m_nLimit < m_nCeiling)
        ++m_nLimit;
}

void HostThrottle::Starved(int nAnswering) {
    m_nCeiling = std::max(1, std::min(m_nCeiling, nAnswering));
    m_nLimit = std::min(m_nLimit, m_nCeiling);
}

} // namespace urlmon
