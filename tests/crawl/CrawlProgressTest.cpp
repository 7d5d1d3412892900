// The engine's progress interface without a window: references that see their object go,
// and the observers' reports reaching whatever implements it.
#include "crawl/CrawlProgress.h"
#include "crawl/CrawlMeter.h"
#include "crawl/DownloadCallback.h"
#include "platform/clock.h"
#include "platform/com/com_ptr.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Records every call as one line.
class RecordingProgress final : public ICrawlProgress {
public:
    void SetPageStatus(LPCWSTR text) override { Record(u"page ", text); }
    void SetToneStatus(LPCWSTR text) override { Record(u"tone ", text); }
    void AppendLog(LPCWSTR text) override { Record(u"log ", text); }
    void ClearLog() override { calls.push_back(u"clear"); }
    void SetProgress(ULONG max, ULONG pos) override {
        calls.push_back(u"bar " + FromUtf8(std::to_string(max) + "/" + std::to_string(pos)));
    }
    void UpdateTotals(bool countOne) override {
        calls.push_back(countOne ? u"totals +1" : u"totals");
    }

    std::vector<std::u16string> calls;

private:
    void Record(const char16_t* what, LPCWSTR text) {
        calls.push_back(what + std::u16string(text ? text : u""));
    }
};

TEST(ProgressRef, ReadsNullOnceItsObjectHasGoneAndForEveryCopy) {
    auto progress = std::make_unique<RecordingProgress>();
    CProgressRef ref(progress.get());
    CProgressRef copy = ref;
    EXPECT_EQ(ref.get(), progress.get());
    EXPECT_TRUE(copy);

    progress.reset();
    EXPECT_EQ(ref.get(), nullptr);
    EXPECT_FALSE(copy);
    EXPECT_FALSE(CProgressRef(nullptr));

    // The allocator tends to hand the freed block out again: the old reference must not
    // reach a new object even at the same address.
    auto next = std::make_unique<RecordingProgress>();
    EXPECT_EQ(ref.get(), nullptr);
    EXPECT_EQ(CProgressRef(next.get()).get(), next.get());
}

TEST(ProgressObserver, ReportsToAnyProgressTheBarBeforeTheLine) {
    auto progress = std::make_unique<RecordingProgress>();
    auto observer = CComPtr<CDownloadCallback>::Attach(new CDownloadCallback(progress.get()));
    observer->OnProgress(10, 40, BINDSTATUS_DOWNLOADINGDATA, u"x");
    observer->OnStopBinding(S_OK, nullptr);
    EXPECT_EQ(progress->calls, (std::vector<std::u16string>{u"bar 40/10", u"log OnProgress 5 x",
                                                            u"log OnStopBinding"}));
}

TEST(CrawlMeter, RateAndTimeLeftFollowTheClock) {
    uint32_t now = 1000;
    SetTickCountForTesting([&] { return now; });
    CCrawlMeter meter;
    auto pages = [&](int walked, int known) {
        meter.OnCrawlEvent(
            {.m_kind = CCrawlEvent::kPageWalked, .m_nPagesWalked = walked, .m_nPagesKnown = known});
    };
    pages(1, 10);
    meter.OnTransferProgress(4096);
    EXPECT_EQ(meter.SpeedText(), u"— B/s, estimating…"); // no time has passed
    now += 2000;
    meter.OnTransferProgress(1024); // a new transfer: 5 KiB in all
    EXPECT_EQ(meter.Rate(), 2560u);
    EXPECT_FALSE(meter.SecondsLeft()) << "one page tells nothing of the others";

    // 4 of at least 10 pages in 8 s: 6 more take 12 s.
    pages(4, 10);
    now += 6000;
    EXPECT_EQ(meter.SecondsLeft(), 12);
    EXPECT_EQ(meter.PagesText(), u"Page 4 of at least 10");
    // The rate forgets what came in more than a few seconds ago.
    now += 6000;
    meter.Rate();
    now += 1000;
    EXPECT_EQ(meter.Rate(), 0u);
    EXPECT_EQ(meter.SpeedText(), u"0 B/s, about 0:00:22 left");
    SetTickCountForTesting({});
}

} // namespace
