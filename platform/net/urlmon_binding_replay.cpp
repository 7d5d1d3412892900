// A binding's notifications: queued on the pump in the service's order, or held while the
// binding runs ahead of the walk and replayed, in their order, to the bind that takes it over.
#include "platform/net/urlmon_binding.h"

#include "platform/net/urlmon_binding_parts.h"
#include "platform/net/urlmon_service.h"
#include "platform/pump/pump.h"

#include <algorithm>
#include <utility>

namespace urlmon {

void Binding::Claim(IBindStatusCallback* callback) {
    m_pCallback = Ref<IBindStatusCallback>(callback);
    LimitSilence(); // watched from now on, as the bind's own transfer is
}

void Binding::Replay() {
    m_bHeld = false;
    std::vector<std::function<void()>> held = std::move(m_held);
    m_held.clear();
    for (std::function<void()>& message : held)
        PostThreadMessage(std::move(message));
}

void Binding::DeliverStop() {
    m_state = State::Stopped;
    m_held.clear();
    Ref<IBindStatusCallback> callback = std::move(m_pCallback);
    if (UrlService* service = UrlService::Get())
        service->Forget(this);
    if (callback)
        callback->OnStopBinding(m_hrStop, m_stopText.empty() ? nullptr : m_stopText.c_str());
}

void Binding::Queue(std::function<void()> message) {
    if (m_bHeld)
        m_held.push_back(std::move(message));
    else
        PostThreadMessage(std::move(message));
}

void Binding::Post(std::function<void(IBindStatusCallback&)> notify) {
    Queue([self = Ref(this), notify = std::move(notify)] {
        if (!self->m_pCallback) // stopped meanwhile
            return;
        Ref<IBindStatusCallback> callback = self->m_pCallback;
        notify(*callback.get());
    });
}

void Binding::PostProgress(ULONG statusCode, const std::u16string& text, uint64_t progress,
                           uint64_t progressMax) {
    FitIn32Bits(progress, progressMax);
    Post([statusCode, text, progress, progressMax](IBindStatusCallback& callback) {
        callback.OnProgress(static_cast<ULONG>(progress), static_cast<ULONG>(progressMax),
                            statusCode, text.c_str());
    });
}

void Binding::PostDownloading() {
    m_bDownloadingPosted = true;
    if (m_bDownloadingQueued)
        return; // the queued one will carry the new numbers
    m_bDownloadingQueued = true;
    Post([this](IBindStatusCallback& callback) {
        m_bDownloadingQueued = false;
        uint64_t progress = m_nBytes;
        uint64_t progressMax =
            m_nContentLength >= 0 ? std::max<uint64_t>(m_nContentLength, m_nBytes) : m_nBytes;
        FitIn32Bits(progress, progressMax);
        callback.OnProgress(static_cast<ULONG>(progress), static_cast<ULONG>(progressMax),
                            BINDSTATUS_DOWNLOADINGDATA, m_finalUrl.c_str());
    });
}

void Binding::PostStop() {
    Queue([self = Ref(this)] {
        if (self->m_state == State::Finished) // not aborted or cancelled meanwhile
            self->DeliverStop();
    });
}

} // namespace urlmon
