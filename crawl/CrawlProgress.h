// The engine's whole view of the window that shows a running crawl: what it reports there,
// and the flag that stops it. It depends on the COM types alone. The engine and its
// transfer observers call it; the progress window (ui/ProgressDialog.h) implements it, so
// the engine needs no toolkit.
#pragma once

#include "platform/com/com.h"

#include <cstdint>
#include <memory>
#include <string_view>

// A fact of the running crawl as the front ends need it: what was stored under which name,
// what failed and why, when a server made the crawl wait. The window's texts stay what they
// are; a front end that wants facts takes them from here, never from those texts. The views
// are valid during the call only.
struct CCrawlEvent {
    enum Kind {
        kToneStored,       // m_szUrl; m_szName the file's name in the folder; m_nBytes its size
        kToneAlreadyThere, // m_szUrl; m_szName the file in the folder that holds it, if known
        kToneFailed,       // m_szUrl; m_szName the tone as shown; m_szReason why
        kPageFailed,       // m_szUrl; m_szReason why it could not be fetched
        kPageCut,          // m_szUrl; m_szReason: read only in part
        kServerWait,       // m_szUrl waited for; m_szReason the server's words; m_nMsLeft,
                           // 0 when the wait is over
        kPageWalked,       // m_szUrl taken on as the m_nPagesWalked-th page; m_nPagesKnown
        kPagesKnown,       // more numbered pages seen: m_nPagesKnown in all, the walked among
    };
    Kind m_kind;
    std::u16string_view m_szUrl = {};
    std::u16string_view m_szName = {};
    std::u16string_view m_szReason = {};
    uint64_t m_nBytes = 0;
    uint32_t m_nMsLeft = 0;
    // The library's pages taken on so far, and those known: the start page and the distinct
    // numbered page links seen. More may come to light, so the known count is a lower bound.
    int m_nPagesWalked = 0;
    int m_nPagesKnown = 0;
};

class ICrawlProgress {
public:
    virtual void SetPageStatus(LPCWSTR text) = 0;
    virtual void SetToneStatus(LPCWSTR text) = 0;
    virtual void AppendLog(LPCWSTR text) = 0;
    virtual void ClearLog() = 0;
    virtual void SetProgress(ULONG max, ULONG pos) = 0;
    // Counts one more stored file when countOne; brings the totals up to date.
    virtual void UpdateTotals(bool countOne) = 0;
    // The facts beside the texts; a front end that needs none leaves this as it is.
    virtual void OnCrawlEvent(const CCrawlEvent& event) { (void)event; }

    // Set by Cancel, and by the engine when it ends the crawl itself; the engine's loops stop
    // once they see it.
    int m_bCancel = 0;

protected:
    ICrawlProgress() = default;
    ~ICrawlProgress() { *m_pSelf = nullptr; }
    ICrawlProgress(const ICrawlProgress&) = delete;
    ICrawlProgress& operator=(const ICrawlProgress&) = delete;

private:
    friend class CProgressRef;
    // This object while it lives, null once it has gone; shared with its references.
    std::shared_ptr<ICrawlProgress*> m_pSelf = std::make_shared<ICrawlProgress*>(this);
};

// A reference that turns into null when its progress object goes. A transfer's observer
// holds one: notifications can outlive the crawl (the stop of an abandoned transfer).
class CProgressRef {
public:
    CProgressRef(ICrawlProgress* progress) : m_pTarget(progress ? progress->m_pSelf : nullptr) {}

    ICrawlProgress* get() const { return m_pTarget ? *m_pTarget : nullptr; }
    ICrawlProgress* operator->() const { return get(); }
    explicit operator bool() const { return get() != nullptr; }

private:
    std::shared_ptr<ICrawlProgress* const> m_pTarget;
};
