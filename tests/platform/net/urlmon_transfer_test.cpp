// The download service against a local server: compressed and oversized bodies, silent
// servers, redirects, aborts, shutdown, memory and disk, and servers that push back.
#include "tests/platform/net/urlmon_download_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

using namespace download_test;

TEST_F(DownloadTest, ACompressedBodyIsStoredAsTheFileItHolds) {
    Download d = Run("/gzip/Tone.l6t");
    ASSERT_EQ(d->Result(), S_OK) << d->Reason(); // 406 when the request did not ask for gzip
    EXPECT_EQ(ReadFile(d->CacheFile()), m_tone);
    // The Content-Length counts compressed bytes, so the decoded size is known only at the end.
    EXPECT_EQ(d->Find(BINDSTATUS_BEGINDOWNLOADDATA)->progressMax, 0u);
    const Notification* last = nullptr;
    for (const Notification& n : d->events) {
        if (n.kind == Notification::Progress && n.status == BINDSTATUS_DOWNLOADINGDATA) {
            EXPECT_LE(n.progress, n.progressMax);
            last = &n;
        }
    }
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->progress, m_tone.size());
    EXPECT_EQ(last->progressMax, m_tone.size());

    // Codings sent unasked, and gzip members one after another, are read whole too.
    for (std::string query : {"?coding=deflate", "?coding=x-gzip&members"}) {
        Download other = Run("/gzip/Tone.l6t" + query);
        ASSERT_EQ(other->Result(), S_OK) << query << ": " << other->Reason();
        EXPECT_EQ(ReadFile(other->CacheFile()),
                  query.ends_with("members") ? m_tone + m_tone : m_tone)
            << query;
    }
}

TEST_F(DownloadTest, ACompressedBodyThatCannotBeReadFailsTheTransfer) {
    const size_t size = Compressed(m_tone).size();
    for (const std::string& query : std::initializer_list<std::string>{
             "?cut=" + std::to_string(size / 2),
             "?cut=" + std::to_string(size - 4), // all decoded, but the stream's end never came
             "?damage",
             "?coding=br",
         }) {
        Download d = Run("/gzip/Tone.l6t" + query);
        EXPECT_EQ(d->Result(), INET_E_DOWNLOAD_FAILURE) << query;
        EXPECT_EQ(d->Reason(), "the server's compressed data could not be read") << query;
        EXPECT_TRUE(CacheIsEmpty()) << query;
    }
}

TEST_F(DownloadTest, ABodyBeyondAnyRealToneFailsAtItsLimitAndLeavesNothingInTheCache) {
    constexpr uint64_t kLimit = 100000;
    constexpr char kTooLarge[] = "the server sent a body larger than any real tone";
    struct Case {
        std::string path;
        uint64_t maxBody, minExpansion;
        std::string reason;
    } cases[] = {
        {"/gzip/Tone.l6t", kLimit, 0, kTooLarge},    // found out as it is decoded
        {"/huge?size=200000", kLimit, 0, kTooLarge}, // announced: not even fetched
        {"/zeros", 0, 1u << 20,
         "the server sent a compressed body that expands beyond any real tone"},
    };
    for (const Case& c : cases) {
        SetBodyLimitsForTesting(c.maxBody, c.minExpansion);
        Download d = Run(c.path);
        EXPECT_EQ(d->Result(), INET_E_DOWNLOAD_FAILURE) << c.path;
        EXPECT_EQ(d->Reason(), c.reason) << c.path;
        EXPECT_LE(Downloaded(*d.get()), c.maxBody ? c.maxBody : c.minExpansion) << c.path;
        EXPECT_TRUE(CacheIsEmpty()) << c.path;
    }
}

TEST_F(DownloadTest, OnePumpPassStoresABoundedShareOfABodyHoweverFastItComes) {
    // All of it arrives at once; the pump must still get back to the window between parts.
    Download d = Start("/zeros");
    ASSERT_TRUE(PumpUntil([&] { return d->Stopped(); }));
    ASSERT_EQ(d->Result(), S_OK) << d->Reason();
    EXPECT_EQ(fs::file_size(d->CacheFile()), kZeros);
    // One "downloading" notification per pass, each with the bytes stored up to then; a few
    // megabytes are a few milliseconds of work.
    constexpr size_t kMaxPerPass = 4u << 20;
    ULONG before = 0;
    for (const Notification& n : d->events) {
        if (n.kind != Notification::Progress || n.status != BINDSTATUS_DOWNLOADINGDATA)
            continue;
        EXPECT_LE(n.progress - before, kMaxPerPass);
        before = n.progress;
    }
    EXPECT_EQ(before, kZeros);
}

TEST_F(DownloadTest, ASilentServerEndsTheTransferOnItsOwn) {
    SetTransferTimeoutsForTesting(1000, 1);
    const auto start = std::chrono::steady_clock::now();
    Download d = Start("/silent");
    ASSERT_TRUE(PumpUntil([&] { return d->Stopped(); }, std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(d->Result(), INET_E_DOWNLOAD_FAILURE);
    EXPECT_EQ(d->Reason(), "the server did not answer");
}

TEST_F(DownloadTest, RedirectsAreFollowedAndTheFinalUrlIsKnown) {
    Download d = Run("/redirect?to=/files/Final.l6t");
    EXPECT_EQ(d->Result(), S_OK);
    std::string final = m_server.Url("/files/Final.l6t");
    ASSERT_NE(d->Find(BINDSTATUS_REDIRECTING), nullptr);
    EXPECT_EQ(d->Find(BINDSTATUS_REDIRECTING)->text, final);
    EXPECT_EQ(d->CacheFile(), UrlCacheFolder() + "/Final[1].l6t");
    EXPECT_EQ(ToUtf8(HttpInfo(d->binding)->GetFinalUrl()), final);
    // The cache entry belongs to the address that was bound.
    EXPECT_TRUE(DeleteUrlCacheEntry(m_server.Url16("/redirect?to=/files/Final.l6t").c_str()));
}

TEST_F(DownloadTest, AbortStopsAtOnceAndSuppressesWhatWasQueued) {
    // Aborted while "begin download" is delivered: the stop arrives before Abort returns, the
    // queued cache file name never.
    Download early = Start("/files/Tone.l6t");
    early->onEvent = [](Recorder& r, const Notification& n) {
        if (n.status == BINDSTATUS_BEGINDOWNLOADDATA) {
            EXPECT_EQ(r.binding->Abort(), S_OK);
            EXPECT_TRUE(r.Stopped());
            EXPECT_EQ(r.binding->Abort(), S_FALSE);
        }
    };
    ASSERT_TRUE(PumpUntil([&] { return early->Stopped(); }));
    DrainPump();
    EXPECT_EQ(early->Statuses(), (std::vector<ULONG>{1, 2, 11, 13, 4}));
    EXPECT_EQ(early->Result(), E_ABORT);
    EXPECT_EQ(early->Reason(), "(null)");

    // Aborted from a wait, not from a notification, while a body is still arriving.
    Download middle = Start("/trickle");
    ASSERT_TRUE(PumpUntil([&] { return middle->Find(BINDSTATUS_DOWNLOADINGDATA) != nullptr; }));
    size_t seen = middle->events.size();
    EXPECT_EQ(middle->binding->Abort(), S_OK);
    ASSERT_EQ(middle->events.size(), seen + 1);
    EXPECT_EQ(middle->Result(), E_ABORT);
    DrainPump();
    EXPECT_EQ(middle->events.size(), seen + 1);
    EXPECT_EQ(middle->RefCount(), 1u) << "the service let the callback go";

    // Aborted after the transfer ended but before its stop was delivered.
    Download late = Start("/files/Tone.l6t");
    late->onEvent = [](Recorder& r, const Notification& n) {
        if (n.status == BINDSTATUS_ENDDOWNLOADDATA) {
            r.binding->Abort();
            EXPECT_TRUE(r.Stopped());
        }
    };
    ASSERT_TRUE(PumpUntil([&] { return late->Stopped(); }));
    DrainPump();
    EXPECT_EQ(late->Result(), E_ABORT);
    EXPECT_EQ(late->events[late->events.size() - 2].status, BINDSTATUS_ENDDOWNLOADDATA);

    EXPECT_TRUE(CacheIsEmpty());
    EXPECT_EQ(late->binding->Abort(), S_FALSE);
}

TEST_F(DownloadTest, ShutdownEndsRunningTransfersSilentlyAndRemovesTheCache) {
    Run("/files/Tone.l6t");
    Download running = Start("/trickle");
    ASSERT_TRUE(PumpUntil([&] { return running->Find(BINDSTATUS_DOWNLOADINGDATA) != nullptr; }));
    std::string folder = UrlCacheFolder();
    UrlServiceShutdown();
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(running->RefCount(), 1u) << "the service let the callback go";
    EXPECT_EQ(running->binding->Abort(), S_FALSE);
    size_t seen = running->events.size();
    MSG msg;
    EXPECT_FALSE(PeekMessage(&msg));
    EXPECT_EQ(running->events.size(), seen);
}

TEST_F(DownloadTest, ABodyGoesToDiskNotToMemory) {
    constexpr size_t kSize = 200u << 20;
    std::ofstream("/proc/self/clear_refs") << "5"; // restart the peak from the current size
    auto peakKb = [] {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("VmHWM:"))
                return std::stoul(line.substr(6));
        }
        return 0ul;
    };
    unsigned long before = peakKb();
    Download d = Run("/huge?size=" + std::to_string(kSize));
    EXPECT_EQ(d->Result(), S_OK);
    EXPECT_EQ(fs::file_size(d->CacheFile()), kSize);
    EXPECT_LT(peakKb() - before, 48ul * 1024) << "peak grew by more than 48 MB";
}

TEST_F(DownloadTest, AFullDiskFailsTheTransferAndRemovesThePartialFile) {
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    Download d = Run("/huge?size=" + std::to_string(4 << 20));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    // Told apart from a failed download: every later one would fail the same way.
    EXPECT_EQ(d->Result(), STG_E_WRITEFAULT);
    EXPECT_EQ(d->Reason(), "File too large");
    EXPECT_TRUE(CacheIsEmpty());
}

TEST_F(DownloadTest, TheBindContextHandsBackThePreviousCallback) {
    Download first = Download::Adopt(new Recorder);
    Download second = Download::Adopt(new Recorder);
    IBindCtx* context = nullptr;
    ASSERT_EQ(CreateAsyncBindCtx(0, first.get(), nullptr, &context), S_OK);
    IBindStatusCallback* previous = nullptr;
    EXPECT_EQ(RegisterBindStatusCallback(context, second.get(), &previous, 0), S_OK);
    EXPECT_EQ(previous, first.get());
    previous->Release();

    IMoniker* moniker = nullptr;
    CreateURLMoniker(nullptr, m_server.Url16("/files/Tone.l6t").c_str(), &moniker);
    void* storage = nullptr;
    EXPECT_EQ(moniker->BindToStorage(context, nullptr, IID_IStream, &storage), MK_S_ASYNCHRONOUS);
    EXPECT_EQ(storage, nullptr);
    EXPECT_EQ(RevokeBindStatusCallback(context, second.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return second->Stopped(); }));
    EXPECT_TRUE(first->events.empty());
    context->Release();
    moniker->Release();
    EXPECT_EQ(second->RefCount(), 1u);
}

// A 429 or 503 asks the client to slow down: the request goes out again after the wait the
// server names, in seconds or as a date, or after a second when it names none; the callback
// is told of the wait, and the transfer ends as if nothing had happened. A wait beyond
// reason is a failure in the server's words.
TEST_F(DownloadTest, APushBackIsWaitedOutAndTheRequestRepeated) {
    uint32_t tick = 0;
    SetTickCountForTesting([&tick] { return tick += 10; });
    constexpr int64_t kNow = 1445412480; // Wed, 21 Oct 2015 07:28:00 GMT
    SetFileTimeForTesting([] { return (kNow + 11644473600) * 10000000; });
    struct Case {
        int status;
        std::string retryAfter;
        uint32_t waitMs;
        std::string words;
    } cases[] = {
        {429, "3", 3000, "HTTP 429 Too Many Requests"},
        {503, "Wed, 21 Oct 2015 07:28:05 GMT", 5000, "HTTP 503 Service Unavailable"},
        {429, "", 1000, "HTTP 429 Too Many Requests"},
    };
    for (const Case& c : cases) {
        m_nHits = 0;
        m_nPushBacks = 1;
        m_nPushStatus = c.status;
        m_retryAfter = c.retryAfter;
        Download d = Start("/busy/Tone.l6t");
        uint32_t waitTold = 0, repeated = 0;
        d->onEvent = [&](Recorder&, const Notification& n) {
            if (n.status == BINDSTATUS_SERVERWAIT)
                waitTold = tick;
            else if (n.status == BINDSTATUS_FINDINGRESOURCE && waitTold && !repeated)
                repeated = tick;
        };
        ASSERT_TRUE(PumpUntil([&] { return d->Stopped(); })) << c.retryAfter;
        EXPECT_EQ(d->Result(), S_OK) << c.retryAfter << ": " << d->Reason();
        EXPECT_EQ(ReadFile(d->CacheFile()), "tone-bytes");
        EXPECT_EQ(m_nHits, 2);
        const Notification* wait = d->Find(BINDSTATUS_SERVERWAIT);
        ASSERT_NE(wait, nullptr) << c.retryAfter;
        EXPECT_EQ(wait->text, c.words);
        EXPECT_EQ(wait->progress, c.waitMs);
        // The clock moves on between the wait's start and the notification of it.
        EXPECT_GE(repeated - waitTold + 100, c.waitMs) << c.retryAfter;
    }

    m_nPushBacks = 1;
    m_retryAfter = "7200";
    Download away = Run("/busy/Tone.l6t");
    EXPECT_EQ(away->Result(), INET_E_DOWNLOAD_FAILURE);
    EXPECT_EQ(away->Reason(), "the server asked to wait 2 hours");
    EXPECT_EQ(away->Find(BINDSTATUS_CACHEFILENAMEAVAILABLE), nullptr);
}

// What failed ahead is no answer: the bind asks afresh. And a transfer ahead told to read
// only a prefix is cut there from its first byte.
TEST_F(DownloadTest, TransfersAheadFailNothingAndReadOnlyWhatTheyAreTold) {
    SetMaxConnections(2);
    SetUpcomingBinds({UpcomingBind{m_server.Url16("/flaky/Tone.l6t"), {}, 0}});
    ASSERT_TRUE(PumpUntil([&] { return m_nHits == 1 && CountTransfersAhead() == 0; }));
    Download flaky = Run("/flaky/Tone.l6t");
    EXPECT_EQ(flaky->Result(), S_OK) << flaky->Reason();
    EXPECT_EQ(m_nHits, 2);

    constexpr uint64_t kPrefix = 100000;
    const std::string huge = "/huge?size=" + std::to_string(64u << 20);
    SetUpcomingBinds({UpcomingBind{m_server.Url16(huge), {}, kPrefix}});
    ASSERT_TRUE(PumpUntil([&] { return CountTransfersAhead() == 0; }));
    Download page = Run(huge);
    EXPECT_EQ(page->Result(), S_OK) << page->Reason();
    EXPECT_GT(fs::file_size(page->CacheFile()), kPrefix);
    EXPECT_LT(fs::file_size(page->CacheFile()), kPrefix + (1u << 20));
}

} // namespace
