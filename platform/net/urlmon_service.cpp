// The download service's engine: libcurl's multi interface advanced from the message pump.
#include "platform/net/urlmon_service.h"

#include "platform/clock.h"
#include "platform/net/urlmon_binding.h"
#include "platform/pump/pump.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

namespace urlmon {

namespace {

// A request that has had no answer for many times as long as its server takes to answer,
// while a later one to the server was answered, waits on a connection the server does not
// serve (one that serves a connection at a time keeps the others in its backlog). Far above a
// round trip, far below a stall.
constexpr double kUnansweredTimes = 8;
constexpr uint32_t kMinUnansweredMs = 100;
constexpr uint32_t kMaxUnansweredMs = 2000;
constexpr double kAnswerWeight = 0.2; // of the latest answer in the average
constexpr int kMaxUnansweredDoublings = 5;

short ToCurlEvents(short events) {
    return static_cast<short>(((events & POLLIN) ? CURL_WAIT_POLLIN : 0) |
                              ((events & POLLPRI) ? CURL_WAIT_POLLPRI : 0) |
                              ((events & POLLOUT) ? CURL_WAIT_POLLOUT : 0));
}

short FromCurlEvents(short events) {
    return static_cast<short>(((events & CURL_WAIT_POLLIN) ? POLLIN : 0) |
                              ((events & CURL_WAIT_POLLPRI) ? POLLPRI : 0) |
                              ((events & CURL_WAIT_POLLOUT) ? POLLOUT : 0));
}

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
    service->SetMaxConnections(1);
    TheService() = std::move(service);
    RegisterPumpSource(PumpSource{[] {
                                      if (UrlService* running = Get())
                                          running->Advance();
                                  },
                                  [](int timeoutMs, std::vector<pollfd>& guiFds) {
                                      UrlService* running = Get();
                                      return running && running->Wait(timeoutMs, guiFds);
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
    std::vector<Upcoming> upcoming = std::move(TheService()->m_upcoming);
    TheService()->m_upcoming.clear();
    for (auto& [binding, reference] : bindings)
        reference->Cancel();
    DiscardPostedMessages();
    UnregisterPumpSources();
    TheService().reset(); // removes the cache folder
    upcoming.clear();
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
    Host(binding->Host()).Started(GetTickCount());
    return true;
}

void UrlService::Remove(CURL* easy) {
    auto found = m_transfers.find(easy);
    if (found == m_transfers.end())
        return;
    Host(found->second->Host()).Ended();
    m_transfers.erase(found);
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
    const uint32_t now = GetTickCount();
    RestartUnanswered(now);
    StartQueued();
    if (!finished.empty())
        StartAhead();
}

HostThrottle& UrlService::Host(const std::string& host) {
    auto found = m_hosts.find(host);
    if (found == m_hosts.end())
        found = m_hosts.emplace(host, HostState{HostThrottle(m_nMaxConnections)}).first;
    return found->second.throttle;
}

void UrlService::NoteAnswer(const std::string& host, uint32_t sentAt, uint32_t now) {
    Host(host);
    HostState& state = m_hosts.find(host)->second;
    const double answerMs = static_cast<double>(now - sentAt);
    state.answerMs =
        state.bAnswered ? state.answerMs + kAnswerWeight * (answerMs - state.answerMs) : answerMs;
    state.dwLastAnswer = now;
    state.bAnswered = true;
}

uint32_t UrlService::HostState::UnansweredMs() const {
    return std::clamp(static_cast<uint32_t>(kUnansweredTimes * answerMs), kMinUnansweredMs,
                      kMaxUnansweredMs);
}

void UrlService::Answered(const std::string& host, uint32_t now) {
    Host(host).Answered(now);
}

uint32_t UrlService::PushedBack(const std::string& host, uint32_t now,
                                std::optional<uint32_t> askedMs) {
    return Host(host).PushedBack(now, askedMs);
}

uint32_t UrlService::HostWaitLeft(const std::string& host, uint32_t now) const {
    auto found = m_hosts.find(host);
    return found == m_hosts.end() ? 0 : found->second.throttle.WaitLeft(now);
}

void UrlService::Enqueue(Binding* binding) {
    m_queued.emplace_back(binding);
    StartQueued();
}

void UrlService::StartQueued() {
    if (m_queued.empty())
        return;
    std::vector<Ref<Binding>> queued = std::move(m_queued);
    m_queued.clear();
    // The walk's own request first: it is what the walk waits for.
    std::stable_partition(queued.begin(), queued.end(),
                          [](const Ref<Binding>& binding) { return !binding->IsHeld(); });
    const uint32_t now = GetTickCount();
    std::vector<Ref<Binding>> waiting;
    for (Ref<Binding>& binding : queued) {
        if (binding->IsQueued() && !TryLaunch(*binding.get(), now) && binding->IsQueued())
            waiting.push_back(std::move(binding));
    }
    // Whatever was queued meanwhile goes after what waited before it.
    waiting.insert(waiting.end(), std::make_move_iterator(m_queued.begin()),
                   std::make_move_iterator(m_queued.end()));
    m_queued = std::move(waiting);
}

bool UrlService::TryLaunch(Binding& binding, uint32_t now) {
    if (!binding.IsDue(now))
        return false;
    const bool bAhead = binding.IsHeld();
    if (bAhead && (CountRunningAhead() >= m_nMaxConnections - 1 ||
                   m_transfers.size() >= static_cast<size_t>(m_nMaxConnections)))
        return false;
    HostThrottle& host = Host(binding.Host());
    int nAhead = 0;
    for (const auto& [easy, running] : m_transfers)
        nAhead += running->IsHeld() && running->Host() == binding.Host();
    if (!host.CanStart(now, bAhead, nAhead) &&
        (bAhead || !TakeSlotFromAhead(binding.Host()) || !host.CanStart(now, false, 0)))
        return false;
    binding.Launch(*this);
    return true;
}

int UrlService::CountRunningAhead() const {
    int running = 0;
    for (const auto& [easy, binding] : m_transfers)
        running += binding->IsHeld();
    return running;
}

bool UrlService::TakeSlotFromAhead(const std::string& host) {
    for (auto upcoming = m_upcoming.rbegin(); upcoming != m_upcoming.rend(); ++upcoming) {
        Binding* binding = upcoming->binding.get();
        if (binding && binding->Host() == host && binding->IsRunningAhead() &&
            !binding->IsQueued()) {
            DropAhead(binding);
            return true;
        }
    }
    return false;
}

void UrlService::DropAhead(Binding* binding) {
    for (Upcoming& upcoming : m_upcoming) {
        if (upcoming.binding.get() == binding) {
            Ref<Binding> dropped = std::move(upcoming.binding);
            dropped->Cancel();
            return;
        }
    }
}

void UrlService::RestartUnanswered(uint32_t now) {
    std::vector<Ref<Binding>> unanswered;
    for (const auto& [easy, binding] : m_transfers) {
        if (!binding->IsUnanswered())
            continue;
        auto found = m_hosts.find(binding->Host());
        if (found == m_hosts.end() || !found->second.bAnswered)
            continue;
        const HostState& host = found->second;
        // Each time it goes out again it is given twice as long: a server that is only slow
        // to answer gets its answer through.
        const uint32_t allowedMs = host.UnansweredMs()
                                   << std::min(binding->Restarts(), kMaxUnansweredDoublings);
        // Answered behind its back (since it went out, in the same millisecond too), or on a
        // server known to leave connections unserved (where libcurl may have opened one the
        // server will not serve while its one was busy).
        const bool bPassedBy = TickReached(host.dwLastAnswer, binding->SentAt());
        if ((bPassedBy || host.throttle.IsStarved()) &&
            TickReached(now, binding->SentAt() + allowedMs))
            unanswered.emplace_back(binding);
    }
    if (unanswered.empty())
        return;
    for (const Ref<Binding>& binding : unanswered) {
        int answering = 0;
        for (const auto& [easy, other] : m_transfers)
            answering += other->Host() == binding->Host() && other->IsAnswered();
        Host(binding->Host()).Starved(answering);
    }
    for (Ref<Binding>& binding : unanswered) {
        if (binding->IsHeld())
            DropAhead(binding.get());
        else
            binding->Restart();
    }
}

void UrlService::SetMaxConnections(int n) {
    m_nMaxConnections = n < 1 ? 1 : n;
    // A new crawl asks every server afresh; one with transfers under way keeps what it said.
    std::erase_if(m_hosts, [](const auto& host) { return host.second.throttle.Running() == 0; });
    for (auto& [name, host] : m_hosts)
        host.throttle.SetMaxConnections(m_nMaxConnections);
    // Connections are kept open and reused; HTTP/2 carries several transfers on one.
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(m_nMaxConnections));
    curl_multi_setopt(m_multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    StartAhead();
}

void UrlService::SetUpcoming(std::vector<UpcomingBind> upcoming) {
    std::vector<Upcoming> next;
    next.reserve(upcoming.size());
    for (UpcomingBind& bind : upcoming)
        next.push_back(Upcoming{std::move(bind), {}});
    // A transfer already under way keeps its place when the new list still wants it.
    std::vector<Upcoming> previous = std::move(m_upcoming);
    m_upcoming.clear();
    for (Upcoming& old : previous) {
        if (!old.binding)
            continue;
        for (Upcoming& wanted : next) {
            if (!wanted.binding && wanted.bind.url == old.bind.url &&
                wanted.bind.extraHeaders == old.bind.extraHeaders) {
                wanted.binding = std::move(old.binding);
                break;
            }
        }
        if (old.binding) // nobody will take it over
            old.binding->Cancel();
    }
    m_upcoming = std::move(next);
    StartAhead();
}

int UrlService::CountAhead() const {
    int running = 0;
    for (const Upcoming& upcoming : m_upcoming)
        running += upcoming.binding && upcoming.binding->IsRunningAhead();
    return running;
}

Ref<Binding> UrlService::TakeAhead(const std::u16string& url, const std::u16string& extraHeaders) {
    auto found = std::find_if(m_upcoming.begin(), m_upcoming.end(),
                              [&](const Upcoming& upcoming) { return upcoming.bind.url == url; });
    if (found == m_upcoming.end())
        return {};
    Upcoming taken = std::move(*found);
    if (taken.binding && taken.binding->HasFailed()) {
        // What failed ahead is no answer: the bind asks afresh, with all its attempts.
        taken.binding->Cancel();
        taken.binding.reset();
    }
    std::vector<Upcoming> passed(std::make_move_iterator(m_upcoming.begin()),
                                 std::make_move_iterator(found));
    m_upcoming.erase(m_upcoming.begin(), found + 1);
    for (Upcoming& skipped : passed) {
        if (skipped.binding)
            skipped.binding->Cancel();
    }
    if (taken.binding && taken.bind.extraHeaders != extraHeaders) {
        // Asked differently from what runs ahead: that answer is not this request's.
        taken.binding->Cancel();
        taken.binding.reset();
    }
    StartAhead(); // the one taken over no longer runs ahead: room for the next
    return std::move(taken.binding);
}

void UrlService::StartAhead() {
    // At most N transfers in all, of which the walk's own bind needs one: N - 1 run ahead.
    // Only the first N entries are started, so at most N finished ones wait to be taken.
    const size_t window = std::min(m_upcoming.size(), static_cast<size_t>(m_nMaxConnections));
    int ahead = CountAhead();
    for (size_t i = 0; i < window; ++i) {
        if (ahead >= m_nMaxConnections - 1 ||
            m_transfers.size() >= static_cast<size_t>(m_nMaxConnections))
            return;
        Upcoming& upcoming = m_upcoming[i];
        if (upcoming.binding)
            continue;
        upcoming.binding = Ref<Binding>::Adopt(
            new Binding(upcoming.bind.url, nullptr, upcoming.bind.extraHeaders));
        // A page ahead is cut where the walk's own read of it would be, from its first byte.
        if (upcoming.bind.readOnlyPrefix > 0)
            upcoming.binding->ReadOnlyPrefix(upcoming.bind.readOnlyPrefix);
        Track(upcoming.binding.get());
        upcoming.binding->Start(*this);
        ahead += upcoming.binding->IsRunningAhead();
    }
}

bool UrlService::Wait(int timeoutMs, std::vector<pollfd>& guiFds) {
    if (m_transfers.empty())
        return false;
    if (!m_yielded.empty())
        return true; // work is ready: the next pass resumes it
    // The GUI's sources join the transfers' sockets in one wait, which either ends.
    m_waitFds.resize(guiFds.size());
    for (size_t i = 0; i < guiFds.size(); ++i)
        m_waitFds[i] = curl_waitfd{guiFds[i].fd, ToCurlEvents(guiFds[i].events), 0};
    curl_multi_poll(m_multi, m_waitFds.data(), static_cast<unsigned>(m_waitFds.size()), timeoutMs,
                    nullptr);
    for (size_t i = 0; i < guiFds.size(); ++i)
        guiFds[i].revents = FromCurlEvents(m_waitFds[i].revents);
    return true;
}

} // namespace urlmon
