// The tone downloader's transfers: the stall watchdog, retries, a wait the server asks for,
// and Cancel.
#include "platform/pump/pump.h"
#include "platform/text/text.h"
#include "tests/crawl/ToneFixture.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// A server that answers the headers and then sends nothing until the test ends.
void ServeStalled(CrawlFixture& f, const std::string& path, std::atomic<int>& hits) {
    f.m_server.server().Get(path, [&f, &hits](const httplib::Request&, httplib::Response& res) {
        ++hits;
        f.HoldBody(res, 1000, "application/octet-stream");
    });
}

// The watchdog's thresholds, pinned with a clock the test moves: 20 s of silence is no
// stall, a moment more opens 10 s of grace, a notification in the grace ends it, and a later
// silence opens a fresh grace with the message told again.
TEST_F(ToneTest, TheWatchdogWaits20SecondsThenGives10SecondsOfGrace) {
    std::atomic<bool> sendSome{false};
    m_server.server().Get("/l6file/slow.l6t", [this, &sendSome](const httplib::Request&,
                                                                httplib::Response& res) {
        res.set_content_provider(1000, "application/octet-stream",
                                 [this, &sendSome](size_t offset, size_t, httplib::DataSink& sink) {
                                     while (!m_release) {
                                         if (offset == 0 && sendSome.exchange(false)) {
                                             std::string some(100, 's');
                                             return sink.write(some.data(), some.size());
                                         }
                                         std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                     }
                                     return false;
                                 });
    });
    m_server.Start();
    uint32_t tick = 1000;
    SetTickCountForTesting([&tick] { return tick; });

    auto skips = [this] {
        std::u16string log = m_progress->GetLogText();
        int n = 0;
        for (size_t at = 0; (at = log.find(u"skip it!", at)) != std::u16string::npos; ++at)
            ++n;
        return n;
    };
    int step = 0, passes = 0;
    bool done = false;
    std::vector<std::string> failures;
    std::function<void()> poll = [&] {
        if (done)
            return;
        std::u16string log = m_progress->GetLogText();
        if (++passes > 50000) { // a watchdog that never acts: let the time run out
            failures.push_back("nothing happened at step " + std::to_string(step));
            tick += 100000;
        }
        switch (step) {
        case 0: // the headers are in: the last notification came at 1000
            if (log.find(u"OnProgress 14") != std::u16string::npos)
                tick = 1000 + 20000, step = 1, passes = 0;
            break;
        case 1:
            if (passes == 5) {
                if (skips() != 0)
                    failures.push_back("20 s of silence already counted as a stall");
                tick = 21001, step = 2, passes = 0;
            }
            break;
        case 2: // the grace opens and the message follows
            if (skips() == 1)
                tick = 21001 + 9999, step = 3, passes = 0;
            break;
        case 3:
            if (passes == 5) {
                if (skips() != 1)
                    failures.push_back("the message was told twice in one grace period");
                sendSome = true, step = 4;
            }
            break;
        case 4: // some data arrives at 31000
            if (log.find(u"OnProgress 5 ") != std::u16string::npos)
                tick = 31000 + 20000, step = 5, passes = 0;
            break;
        case 5:
            if (passes == 5) {
                if (skips() != 1)
                    failures.push_back("the notification did not end the grace period");
                tick = 51001, step = 6;
            }
            break;
        case 6:
            if (skips() == 2)
                tick = 51001 + 10000, step = 7;
            break;
        }
        PostThreadMessage(poll);
    };
    PostThreadMessage(poll);

    m_engine.DownloadTone(Url("/l6file/slow.l6t").c_str(), 0);
    done = true;

    EXPECT_EQ(step, 7) << "aborted before its time";
    for (const std::string& failure : failures)
        ADD_FAILURE() << failure;
    EXPECT_TRUE(Folder().empty());
    EXPECT_EQ(m_engine.m_outcome.FailedTones(), 1);
}

TEST_F(ToneTest, AStalledToneIsRetriedTwiceAndThenSkipped) {
    std::atomic<int> hits{0};
    ServeStalled(*this, "/l6file/stuck.l6t", hits);
    m_server.Start();
    // Every reading of the clock moves it on by 100 ms.
    uint32_t tick = 0;
    SetTickCountForTesting([&tick] { return tick += 100; });
    // Count the stuck messages as they appear; each attempt's log is emptied after it.
    struct Watch {
        CProgressDialog* progress;
        bool active = true;
        int retries = 0, skips = 0;
        bool sawRetry = false, sawSkip = false;
    };
    auto watch = std::make_shared<Watch>(Watch{m_progress.get()});
    std::function<void()> poll = [watch, &poll, &hits] {
        if (!watch->active)
            return;
        // The queued watcher keeps the pump from idling; give the server thread the moment
        // it needs to see an attempt's request before that attempt's clock runs out.
        if (hits < watch->retries + watch->skips + 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::u16string log = watch->progress->GetLogText();
        bool retry = log.find(u"give up and retry this download!") != std::u16string::npos;
        bool skip = log.find(u"give up on this download and skip it!") != std::u16string::npos;
        watch->retries += retry && !watch->sawRetry;
        watch->skips += skip && !watch->sawSkip;
        watch->sawRetry = retry;
        watch->sawSkip = skip;
        PostThreadMessage(poll);
    };
    PostThreadMessage(poll);

    m_engine.DownloadTone(Url("/l6file/stuck.l6t").c_str(), 2);
    watch->active = false;

    EXPECT_EQ(hits, 3);
    EXPECT_EQ(watch->retries, 2);
    EXPECT_EQ(watch->skips, 1);
    EXPECT_TRUE(Folder().empty());
    EXPECT_FALSE(m_engine.m_visited.Contains(Url("/l6file/stuck.l6t").c_str()));
}

// A trickle is a stall: under 1 KB/s over a minute, the tone is given up and tried again,
// and when the attempts are spent it fails in words that say so.
TEST_F(ToneTest, ATrickleIsAStallThatEndsInWords) {
    std::atomic<int> hits{0};
    m_server.server().Get(
        "/l6file/drip.l6t", [this, &hits](const httplib::Request&, httplib::Response& res) {
            ++hits;
            res.set_chunked_content_provider(
                "application/octet-stream", [this](size_t, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    return !m_release && sink.write("d", 1);
                });
        });
    m_server.Start();
    uint32_t tick = 0;
    SetTickCountForTesting([&tick] { return tick += 100; });

    m_engine.DownloadTone(Url("/l6file/drip.l6t").c_str(), 2);

    EXPECT_EQ(hits, 3);
    EXPECT_TRUE(Folder().empty());
    EXPECT_NE(m_engine.m_outcome.m_szFirstFailure.find(u"the server is sending too slowly"),
              std::u16string::npos)
        << ToUtf8(m_engine.m_outcome.m_szFirstFailure);
}

// A server that asks to slow down is waited for, however long that is beside the stall
// watchdog's limits; the tone box says so with the time left, the tone comes through with
// its attempts untouched, and the outcome counts the wait.
TEST_F(ToneTest, AWaitTheServerAsksForIsShownCountedAndNoStall) {
    std::atomic<int> hits{0};
    m_server.server().Get("/l6file/busy.l6t",
                          [&hits](const httplib::Request&, httplib::Response& res) {
                              if (hits++ == 0) {
                                  res.status = 429;
                                  res.set_header("Retry-After", "45");
                                  return;
                              }
                              res.set_content("tone", "application/octet-stream");
                          });
    m_server.Start();
    // Time passes only while the wait is shown, a quarter of a second a pass: however slow the
    // server's thread is to answer, nothing else can run out of time.
    uint32_t tick = 0;
    SetTickCountForTesting([&tick] { return tick; });
    std::vector<std::u16string> shown;
    bool active = true;
    std::function<void()> watch = [&] {
        if (!active)
            return;
        const std::u16string text = m_progress->GetToneStatusText();
        if (text.starts_with(u"The server asked to slow down")) {
            if (shown.empty() || shown.back() != text)
                shown.push_back(text);
            tick += 250;
        }
        PostThreadMessage(watch);
    };
    PostThreadMessage(watch);

    m_engine.DownloadTone(Url("/l6file/busy.l6t").c_str(), 0);
    active = false;

    EXPECT_EQ(hits, 2);
    EXPECT_EQ(Folder().size(), 1u);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), u"The server asked to slow down; trying again in 45 s");
    EXPECT_EQ(shown.back(), u"The server asked to slow down; trying again in 1 s");
    EXPECT_EQ(m_engine.m_outcome.m_nServerWaits, 1);
}

TEST_F(ToneTest, CancelAbortsTheTransferAndRecordsNothing) {
    std::atomic<int> hits{0};
    ServeStalled(*this, "/l6file/slow.l6t", hits);
    m_server.Start();
    // Press Cancel once the transfer is under way.
    std::function<void()> pressCancel = [&] {
        if (hits > 0)
            m_progress->m_bCancel = 1;
        else
            PostThreadMessage(pressCancel);
    };
    PostThreadMessage(pressCancel);
    m_engine.DownloadTone(Url("/l6file/slow.l6t").c_str(), 2);
    EXPECT_EQ(hits, 1); // no retry after Cancel
    EXPECT_TRUE(Folder().empty());
    EXPECT_FALSE(m_engine.m_visited.Contains(Url("/l6file/slow.l6t").c_str()));
    EXPECT_EQ(m_progress->GetToneStatusText(), u"");
}

} // namespace
