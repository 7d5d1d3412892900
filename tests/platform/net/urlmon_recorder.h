// A bind-status callback that records what the download service tells it, for the download
// service's tests.
#pragma once

#include "platform/com/com_object.h"
#include "platform/net/urlmon.h"
#include "platform/text/text.h"
#include "tests/support/PumpUntil.h"

#include <functional>
#include <string>
#include <vector>

struct Notification {
    enum Kind { Start, Progress, Data, Stop } kind;
    explicit Notification(Kind k) : kind(k) {}
    ULONG status = 0; // OnProgress status code
    ULONG progress = 0;
    ULONG progressMax = 0;
    std::string text; // OnProgress status text, OnStopBinding reason; "(null)" for none
    DWORD flags = 0;  // OnDataAvailable
    DWORD tymed = 0;
    HRESULT hr = S_OK; // OnStopBinding
    bool outsideDispatch = false;
};

class Recorder : public CComObject<IBindStatusCallback, IID_IBindStatusCallback> {
public:
    std::vector<Notification> events;
    IBinding* binding = nullptr;
    // Called after each notification has been recorded (e.g. to abort in the middle).
    std::function<void(Recorder&, const Notification&)> onEvent;

    bool Stopped() const { return !events.empty() && events.back().kind == Notification::Stop; }
    HRESULT Result() const { return Stopped() ? events.back().hr : E_UNEXPECTED; }
    std::string Reason() const { return Stopped() ? events.back().text : std::string(); }
    std::vector<ULONG> Statuses() const {
        std::vector<ULONG> statuses;
        for (const Notification& n : events) {
            if (n.kind == Notification::Progress)
                statuses.push_back(n.status);
        }
        return statuses;
    }
    const Notification* Find(ULONG status) const {
        for (const Notification& n : events) {
            if (n.kind == Notification::Progress && n.status == status)
                return &n;
        }
        return nullptr;
    }
    std::string CacheFile() const {
        const Notification* n = Find(BINDSTATUS_CACHEFILENAMEAVAILABLE);
        return n ? n->text : std::string();
    }
    ULONG RefCount() {
        AddRef();
        return Release();
    }

    HRESULT OnStartBinding(DWORD, IBinding* pib) override {
        pib->AddRef();
        if (binding)
            binding->Release();
        binding = pib;
        return Record(Notification(Notification::Start));
    }
    HRESULT GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT OnLowResource(DWORD) override { return S_OK; }
    HRESULT OnProgress(ULONG progress, ULONG progressMax, ULONG status, LPCWSTR text) override {
        Notification n(Notification::Progress);
        n.status = status;
        n.progress = progress;
        n.progressMax = progressMax;
        n.text = text ? ToUtf8(text) : "(null)";
        return Record(n);
    }
    HRESULT OnStopBinding(HRESULT hr, LPCWSTR error) override {
        Notification n(Notification::Stop);
        n.hr = hr;
        n.text = error ? ToUtf8(error) : "(null)";
        return Record(n);
    }
    HRESULT GetBindInfo(DWORD* grfBINDF, BINDINFO*) override {
        *grfBINDF = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_GETNEWESTVERSION;
        return S_OK;
    }
    HRESULT OnDataAvailable(DWORD flags, DWORD, FORMATETC*, STGMEDIUM* medium) override {
        Notification n(Notification::Data);
        n.flags = flags;
        n.tymed = medium ? medium->tymed : 0;
        return Record(n);
    }
    HRESULT OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

private:
    ~Recorder() override {
        if (binding)
            binding->Release();
    }
    HRESULT Record(Notification n) {
        n.outsideDispatch = n.kind != Notification::Start && !g_bDispatching;
        events.push_back(n);
        if (onEvent)
            onEvent(*this, events.back());
        return S_OK;
    }
};

// Binds url with a fresh recorder; the caller owns the returned reference.
inline Recorder* StartDownload(const std::u16string& url, HRESULT* bindResult = nullptr) {
    auto* recorder = new Recorder;
    IMoniker* moniker = nullptr;
    IBindCtx* context = nullptr;
    HRESULT hr = CreateURLMoniker(nullptr, url.c_str(), &moniker);
    if (SUCCEEDED(hr))
        hr = CreateAsyncBindCtx(0, recorder, nullptr, &context);
    void* storage = nullptr;
    if (SUCCEEDED(hr))
        hr = moniker->BindToStorage(context, nullptr, IID_IStream, &storage);
    if (bindResult)
        *bindResult = hr;
    if (context)
        context->Release();
    if (moniker)
        moniker->Release();
    return recorder;
}
