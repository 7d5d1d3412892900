// The download service's engine: one libcurl multi handle whose transfers advance from the
// GUI thread's message pump, and the private cache they write into.
#pragma once

#include "platform/net/cache.h"
#include "platform/net/urlmon.h"
#include "platform/net/urlmon_hosts.h"
#include "platform/net/urlmon_ref.h"

#include <curl/curl.h>
#include <poll.h>

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace urlmon {

class Binding;

class UrlService {
public:
    // The running service, or null outside UrlServiceStartup/UrlServiceShutdown.
    static UrlService* Get();
    static bool Start();
    static void Stop();

    cache::UrlCache& Cache() { return *m_cache; }

    // Holds a binding until its stop has been delivered, so that shutdown can cancel it.
    void Track(Binding* binding);
    void Forget(Binding* binding);
    // A started binding waits here until its server may be asked; the walk's own bind before
    // transfers ahead. Admitted at once when it may.
    void Enqueue(Binding* binding);
    // Adds a prepared transfer of a tracked binding.
    bool Add(CURL* easy, Binding* binding);
    // Takes a transfer out of the multi handle.
    void Remove(CURL* easy);

    // The bodies' bytes that one pump pass stores, across all transfers, before they yield to
    // the pump: a pass stays short, so the window hears Cancel, however fast a server sends
    // and however far its body expands. A few milliseconds of decoding and writing, and far
    // above a pass's own cost, so that a fast transfer loses nothing to yielding.
    static constexpr size_t kMaxBytesPerPass = 1024 * 1024;
    bool PassSpent() const { return m_nPassBytes >= kMaxBytesPerPass; }
    void Spend(size_t bytes) { m_nPassBytes += bytes; }
    // A transfer that stopped itself for the rest of the pass; it goes on at the next one.
    void Yielded(CURL* easy) { m_yielded.push_back(easy); }

    // What a server answered, for its slow-down state (urlmon_hosts.h): a status line came
    // (the connection is served); a clean answer; a push back, which returns how long the
    // request waits.
    void NoteAnswer(const std::string& host, uint32_t sentAt, uint32_t now);
    void Answered(const std::string& host, uint32_t now);
    uint32_t PushedBack(const std::string& host, uint32_t now, std::optional<uint32_t> askedMs);
    // How long no request to host starts yet because the server asked for a wait.
    uint32_t HostWaitLeft(const std::string& host, uint32_t now) const;

    // Transfers ahead (SetUpcomingBinds in urlmon.h).
    void SetUpcoming(std::vector<UpcomingBind> upcoming);
    void SetMaxConnections(int n);
    int CountAhead() const;
    // The transfer ahead that a bind of url with these headers takes over, taken off the list
    // with whatever the list held before it (the caller has passed those by); null when there
    // is none, or when its headers differ (it is aborted then).
    Ref<Binding> TakeAhead(const std::u16string& url, const std::u16string& extraHeaders);

    ~UrlService();
    UrlService(const UrlService&) = delete;
    UrlService& operator=(const UrlService&) = delete;

private:
    UrlService() = default;

    // Pump source: move every transfer on without blocking; hand finished ones back to their
    // bindings. Called from PeekMessage, so it only queues notifications.
    void Advance();
    // Pump source: wait for socket activity or a GUI event; false when nothing is in flight.
    bool Wait(int timeoutMs, std::vector<pollfd>& guiFds);
    // Lets the transfers that yielded in the last pass go on; they may yield again.
    void ResumeYielded();

    // Starts the first listed binds that have no transfer yet, as far as the limits allow.
    void StartAhead();
    // Admits what waits in the queue, as far as its servers and the limits allow.
    void StartQueued();
    bool TryLaunch(Binding& binding, uint32_t now);
    // The walk's own request finds its server's transfers all taken ahead: the one the walk
    // will want last gives its place back.
    bool TakeSlotFromAhead(const std::string& host);
    // A request that waits for its answer while later ones to its server are answered sits on
    // a connection the server does not serve: it goes out again, and the server is given
    // no more connections than it answers.
    void RestartUnanswered(uint32_t now);
    // A transfer ahead goes back to not started; the list keeps its place.
    void DropAhead(Binding* binding);
    HostThrottle& Host(const std::string& host);
    int CountRunningAhead() const;

    struct HostState {
        HostThrottle throttle;
        uint32_t dwLastAnswer = 0;
        bool bAnswered = false;
        double answerMs = 0; // how long its answers take to begin, on average of late
        // How long a request may wait for its answer before it is taken for one on a
        // connection the server does not serve.
        uint32_t UnansweredMs() const;
    };

    struct Upcoming {
        UpcomingBind bind;
        Ref<Binding> binding; // null until started
    };

    CURLM* m_multi = nullptr;
    std::vector<Upcoming> m_upcoming;
    int m_nMaxConnections = 1;
    std::unique_ptr<cache::UrlCache> m_cache;
    std::map<Binding*, Ref<Binding>> m_bindings; // not stopped yet
    std::map<CURL*, Binding*> m_transfers;       // in flight
    std::vector<CURL*> m_yielded;                // in flight, paused until the next pass
    std::vector<Ref<Binding>> m_queued;          // started, waiting for admission
    std::map<std::string, HostState> m_hosts;
    size_t m_nPassBytes = 0;
    bool m_bAdvancing = false;
    std::vector<curl_waitfd> m_waitFds; // the GUI's, as libcurl takes them; kept between waits
};

} // namespace urlmon
