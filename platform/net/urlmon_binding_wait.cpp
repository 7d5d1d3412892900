// A binding whose server pushed back (429 or 503): it waits as asked, within bounds, and its
// request goes out again. And one whose connection the server left unanswered: it goes out
// again at once.
#include "platform/net/urlmon_binding.h"

#include "platform/clock.h"
#include "platform/net/urlmon_failure.h"
#include "platform/net/urlmon_headers.h"
#include "platform/net/urlmon_service.h"
#include "platform/text/text.h"

#include <algorithm>

namespace urlmon {

namespace {

// A wait longer than this is no slowing down: the server is away, and the crawl goes on
// without what it asked to wait for.
constexpr uint32_t kMaxOneWaitMs = 5 * 60 * 1000;
// Nor does one transfer wait longer than this in all.
constexpr uint64_t kMaxWaitMs = 10 * 60 * 1000;
constexpr int64_t kFileTimeUnitsPerSecond = 10'000'000;
constexpr int64_t kUnixEpochInFileTimeSeconds = 11'644'473'600;

int64_t NowUnixSeconds() {
    return GetSystemTimeAsFileTime() / kFileTimeUnitsPerSecond - kUnixEpochInFileTimeSeconds;
}

// "the server asked to wait 2 hours": the wait in the unit a person would name it by.
std::u16string WaitWords(uint64_t ms, bool bInAll) {
    const uint64_t seconds = (ms + 999) / 1000;
    struct Unit {
        uint64_t seconds;
        const char* name;
    };
    constexpr Unit kUnits[] = {{86400, "days"}, {3600, "hours"}, {60, "minutes"}};
    std::string words = std::to_string(seconds) + " seconds";
    for (const Unit& unit : kUnits) {
        if (seconds >= 2 * unit.seconds) {
            words = std::to_string((seconds + unit.seconds / 2) / unit.seconds) + " " + unit.name;
            break;
        }
    }
    return FromUtf8("the server asked to wait " + words + (bInAll ? " in all" : ""));
}

} // namespace

uint32_t Binding::GetServerWaitLeft() {
    // A request that waits for its server's wish, its own or another request's.
    if (m_state != State::Queued)
        return 0;
    const uint32_t now = GetTickCount();
    uint32_t left = m_bServerWait && !TickReached(now, m_dwWaitUntil) ? m_dwWaitUntil - now : 0;
    if (UrlService* service = UrlService::Get())
        left = std::max(left, service->HostWaitLeft(m_host, now));
    return left;
}

bool Binding::IsDue(uint32_t now) const {
    return !m_bServerWait || TickReached(now, m_dwWaitUntil);
}

void Binding::OnPushBack() {
    const std::u16string answer = HttpFailureReason(m_nHttpError, m_response.statusPhrase);
    const std::optional<uint32_t> asked = RetryAfterMs(m_response.retryAfter, NowUnixSeconds());
    StopTransfer();
    UrlService* service = UrlService::Get();
    if (!service) {
        Finish(INET_E_DOWNLOAD_FAILURE, answer);
        return;
    }
    if (asked && *asked > kMaxOneWaitMs) {
        Finish(INET_E_DOWNLOAD_FAILURE, WaitWords(*asked, false));
        return;
    }
    const uint32_t now = GetTickCount();
    const uint32_t waitMs = service->PushedBack(m_host, now, asked);
    if (m_nWaitedMs + waitMs > kMaxWaitMs) {
        Finish(INET_E_DOWNLOAD_FAILURE, WaitWords(m_nWaitedMs + waitMs, true));
        return;
    }
    m_nWaitedMs += waitMs;
    ForgetResponse();
    m_bServerWait = true;
    m_dwWaitUntil = now + waitMs;
    PostProgress(BINDSTATUS_SERVERWAIT, answer, waitMs, 0);
    m_state = State::Queued;
    service->Enqueue(this);
}

void Binding::Restart() {
    Ref<Binding> keep(this);
    ++m_nRestarts;
    StopTransfer();
    DiscardCacheFile();
    ForgetResponse();
    m_bServerWait = false;
    m_state = State::Queued;
    if (UrlService* service = UrlService::Get())
        service->Enqueue(this);
}

void Binding::ForgetResponse() {
    m_response = Response{};
    m_finalUrl = m_url;
    m_nStatus = 0;
    m_nHttpError = 0;
    m_bPushedBack = false;
    m_bRequestSent = false;
    m_bAnswered = false;
    m_szCurlError[0] = 0;
}

} // namespace urlmon
