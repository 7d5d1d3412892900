// The download service's engine: libcurl's multi interface advanced from the message pump.
#include "platform/net/urlmon_service.h"

#include "platform/net/urlmon_binding.h"
#include "platform/pump/pump.h"

#include <utility>
#include <vector>

namespace urlmon {

namespace {

std::unique_ptr<UrlService>& TheService() {
    static std::unique_ptr<UrlService> service;
    return service;
}

} // namespace

UrlService* UrlService::Get() {
    return TheService().get();
}

bool UrlService::Start() {
    if (TheService())
        return true;
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        return false;
    std::unique_ptr<UrlService> service(new UrlService);
    service->m_cache = cache::UrlCache::Create();
    service->m_multi = curl_multi_init();
    if (!service->m_cache || !service->m_multi) {
        service.reset();
        curl_global_cleanup();
        return false;
    }
    TheService() = std::move(service);
    RegisterPumpSource(PumpSource{[] {
                                      if (UrlService* running = Get())
                                          running->Advance();
                                  },
                                  [](int timeoutMs) {
                                      UrlService* running = Get();
                                      return running && running->Wait(timeoutMs);
                                  }});
    return true;
}

void UrlService::Stop() {
    if (!TheService())
        return;
    // Everything still running or undelivered ends here, silently: transfers are stopped,
    // their partial files removed, their callbacks let go, queued notifications dropped.
    std::map<Binding*, Ref<Binding>> bindings = std::move(TheService()->m_bindings);
    TheService()->m_bindings.clear();
    for (auto& [binding, reference] : bindings)
        reference->Cancel();
    DiscardPostedMessages();
    UnregisterPumpSources();
    TheService().reset(); // removes the cache folder
    bindings.clear();
    curl_global_cleanup();
}

UrlService::~UrlService() {
    if (m_multi)
        curl_multi_cleanup(m_multi);
}

void UrlService::Track(Binding* binding) {
    m_bindings.emplace(binding, Ref<Binding>(binding));
}

void UrlService::Forget(Binding* binding) {
    auto found = m_bindings.find(binding);
    if (found == m_bindings.end())
        return;
    Ref<Binding> reference = std::move(found->second);
    m_bindings.erase(found);
}

bool UrlService::Add(CURL* easy, Binding* binding) {
    if (curl_multi_add_handle(m_multi, easy) != CURLM_OK)
        return false;
    m_transfers[easy] = binding;
    return true;
}

void UrlService::Remove(CURL* easy) {
    if (m_transfers.erase(easy) == 0)
        return;
    curl_multi_remove_handle(m_multi, easy);
    std::erase(m_yielded, easy);
}

void UrlService::ResumeYielded() {
    std::vector<CURL*> yielded;
    yielded.swap(m_yielded);
    for (CURL* easy : yielded) {
        // Unpausing hands the transfer the data it held back at once; a transfer that
        // refuses it has ended, though libcurl would only notice at its next read.
        CURLcode code = curl_easy_pause(easy, CURLPAUSE_CONT);
        auto found = m_transfers.find(easy);
        if (code != CURLE_OK && found != m_transfers.end()) {
            Ref<Binding> binding(found->second);
            binding->OnTransferDone(code);
        }
    }
}

void UrlService::Advance() {
    if (m_bAdvancing)
        return;
    struct Reentry {
        bool& flag;
        explicit Reentry(bool& f) : flag(f) { flag = true; }
        ~Reentry() { flag = false; }
    } reentry(m_bAdvancing);

    m_nPassBytes = 0;
    ResumeYielded();
    int running = 0;
    curl_multi_perform(m_multi, &running);
    // Copied out first: handing a transfer back removes it, which ends the message's life.
    std::vector<std::pair<CURL*, CURLcode>> finished;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg == CURLMSG_DONE)
            finished.emplace_back(message->easy_handle, message->data.result);
    }
    for (auto [easy, result] : finished) {
        auto found = m_transfers.find(easy);
        if (found == m_transfers.end())
            continue;
        Ref<Binding> binding(found->second);
        binding->OnTransferDone(result);
    }
}

bool UrlService::Wait(int timeoutMs) {
    if (m_transfers.empty())
        return false;
    if (!m_yielded.empty())
        return true; // work is ready: the next pass resumes it
    curl_multi_poll(m_multi, nullptr, 0, timeoutMs, nullptr);
    return true;
}

} // namespace urlmon
