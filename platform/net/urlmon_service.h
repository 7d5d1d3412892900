// The download service's engine: one libcurl multi handle whose transfers advance from the
// GUI thread's message pump, and the private cache they write into.
#pragma once

#include "platform/net/cache.h"
#include "platform/net/urlmon_ref.h"

#include <curl/curl.h>

#include <map>
#include <memory>

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
    // Adds a prepared transfer of a tracked binding.
    bool Add(CURL* easy, Binding* binding);
    // Takes a transfer out of the multi handle.
    void Remove(CURL* easy);

    ~UrlService();
    UrlService(const UrlService&) = delete;
    UrlService& operator=(const UrlService&) = delete;

private:
    UrlService() = default;

    // Pump source: move every transfer on without blocking; hand finished ones back to their
    // bindings. Called from PeekMessage, so it only queues notifications.
    void Advance();
    // Pump source: wait for socket activity; false when nothing is in flight.
    bool Wait(int timeoutMs);

    CURLM* m_multi = nullptr;
    std::unique_ptr<cache::UrlCache> m_cache;
    std::map<Binding*, Ref<Binding>> m_bindings; // not stopped yet
    std::map<CURL*, Binding*> m_transfers;       // in flight
    bool m_bAdvancing = false;
};

} // namespace urlmon
