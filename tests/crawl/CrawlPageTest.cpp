// The page loader and the link walker against a served library of numbered pages.
#include "crawl/LinkRules.h"
#include "platform/html/html_document.h"
#include "platform/pump/pump.h"
#include "tests/support/CrawlFixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace {

using CrawlTest = CrawlFixture;

std::string Page(const std::string& links) {
    return "<html><body><h1>Library</h1>" + links + "</body></html>";
}
std::string PageLink(int n, const std::string& text = "") {
    return "<a href=\"/library.html?page=" + std::to_string(n) + "\">" +
           (text.empty() ? std::to_string(n) : text) + "</a>";
}
std::string ToneLink(const std::string& name) {
    return "<a href=\"/files/l6file/" + name + "\">" + name + "</a>";
}

// Queued for every pump pass while active: keeps the pump busy while giving the server's
// thread the moment it needs to see each request.
void YieldToServer(const std::shared_ptr<bool>& active) {
    if (!*active)
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    PostThreadMessage([active] { YieldToServer(active); });
}

// Every reading of the clock moves it on by 100 ms, so stalls come at once, while the server
// is given its moments. Both end with the scope.
class CFastClockWithServerTime {
public:
    CFastClockWithServerTime() {
        SetTickCountForTesting([tick = m_pTick] { return *tick += 100; });
        PostThreadMessage([active = m_pActive] { YieldToServer(active); });
    }
    ~CFastClockWithServerTime() { *m_pActive = false; }
    CFastClockWithServerTime(const CFastClockWithServerTime&) = delete;
    CFastClockWithServerTime& operator=(const CFastClockWithServerTime&) = delete;

private:
    std::shared_ptr<uint32_t> m_pTick = std::make_shared<uint32_t>(0);
    std::shared_ptr<bool> m_pActive = std::make_shared<bool>(true);
};

TEST(LinkRules, ClassifyAnchorsByAddressAndText) {
    EXPECT_TRUE(IsAllDigits(u"12"));
    EXPECT_TRUE(IsAllDigits(u""));
    EXPECT_FALSE(IsAllDigits(nullptr));
    EXPECT_FALSE(IsAllDigits(u" 12"));
    EXPECT_FALSE(IsAllDigits(u"12a"));
    EXPECT_FALSE(IsAllDigits(u"next"));
    EXPECT_FALSE(IsAllDigits(u"\u0661\u0662")); // digits of another script
    EXPECT_TRUE(IsToneLink(u"http://h/x/L6FILE/y"));
    EXPECT_TRUE(IsPageLink(u"http://h/LIBRARY.HTML?page=2", u"2"));
    EXPECT_FALSE(IsPageLink(u"http://h/library.html?page=2", nullptr));
    EXPECT_FALSE(IsPageLink(u"http://h/other.html?page=2", u"2"));
}

TEST_F(CrawlTest, WalksTheLibraryDepthFirstLoadingEachPageOnce) {
    // 1 -> 2 -> 4, 1 -> 3 -> (2 again, 1 again); tones on pages 2, 3 and 4.
    m_server.server().Get("/library.html", [this](const httplib::Request& req, auto& res) {
        Record(req);
        std::string page = req.get_param_value("page");
        std::string body;
        if (page.empty())
            body = Page(PageLink(2) + PageLink(3) + ToneLink("a.l6t"));
        else if (page == "2")
            body = Page(ToneLink("b.l6t") + PageLink(4) + PageLink(1, "1"));
        else if (page == "3")
            body = Page(PageLink(2) + "<a href=\"/LIBRARY.html?page=3\">3</a>" + ToneLink("c.l6t"));
        else
            body = Page(ToneLink("d.l6t") + ToneLink("a.l6t"));
        res.set_content(body, "text/html");
    });
    m_server.server().Get(R"(/files/l6file/(.*))", [this](const httplib::Request& req, auto& res) {
        Record(req);
        res.set_content("tone " + std::string(req.matches[1]), "application/octet-stream");
    });
    m_server.Start();

    m_engine.m_nMaxConnections = 1; // one request at a time, in the walk's own order
    m_engine.CrawlPage(Url("/library.html").c_str());

    std::vector<std::string> expected = {
        "/library.html",        "/library.html?page=2", "/files/l6file/b.l6t",
        "/library.html?page=4", "/files/l6file/d.l6t",  "/files/l6file/a.l6t",
        "/library.html?page=1", "/library.html?page=3", "/files/l6file/c.l6t"};
    EXPECT_EQ(Requests(), expected);
    auto files = Folder();
    EXPECT_EQ(files.size(), 4u);
    EXPECT_EQ(files["d.l6t"], "tone d.l6t");
    EXPECT_EQ(m_progress->m_nNewFiles, 4);
    EXPECT_TRUE(m_engine.m_walked.Contains(Url("/library.html?page=4").c_str()));
    EXPECT_EQ(m_progress->GetPageStatusText(), u"Walking links on\r\n" + Url("/library.html"));
    // A page's numbered links are known before the walk goes down the first of them.
    EXPECT_EQ(m_progress->m_pages, (std::vector<std::string>{"1/1", "2/3", "3/5", "4/5", "5/5"}));
    m_progress->FlushRepaints();
    EXPECT_EQ(m_progress->GetPagesText(), u"Page 5 of at least 5");
    EXPECT_EQ(m_progress->GetTonesText(), u"4 stored, 0 already there, 0 failed");
}

TEST_F(CrawlTest, APageDeclaredByMetaAloneAsksForItsTonesInItsEncoding) {
    // "音色.l6t" in Shift_JIS. Its 0x90 is no character in windows-1252, so a page read in
    // another encoding asks for another name.
    const std::string name = "\x89\xB9\x90\x46.l6t";
    Serve("/library.html",
          "<html><head><meta charset=Shift_JIS></head><body>"
          "<a href=\"/files/l6file/get?pmw_filename=" +
              name + "\">" + name + "</a></body></html>",
          "text/html");
    m_server.server().Get("/files/l6file/get",
                          [this, name](const httplib::Request& req, httplib::Response& res) {
                              Record(req);
                              if (req.get_param_value("pmw_filename") != name) {
                                  res.status = 404;
                                  return;
                              }
                              res.set_header("Content-Disposition",
                                             "attachment; filename*=UTF-8''%E9%9F%B3%E8%89%B2.l6t");
                              res.set_content("tone", "application/octet-stream");
                          });
    m_server.Start();

    m_engine.CrawlPage(Url("/library.html").c_str());

    EXPECT_EQ(Folder(),
              (std::map<std::string, std::string>{{"\xE9\x9F\xB3\xE8\x89\xB2.l6t", "tone"}}));
    EXPECT_EQ(m_engine.m_outcome.FailedTones(), 0);
}

TEST_F(CrawlTest, APageBeyondWhatADocumentKeepsCountsAsCutAndSaysWhy) {
    HtmlParseLimits limits;
    limits.maxAnchors = 2;
    limits.maxTextBytes = 400; // of which anchors' long texts may use 300
    SetDocumentLimitsForTesting(limits);
    struct Restore {
        ~Restore() { SetDocumentLimitsForTesting(std::nullopt); }
    } restore;
    m_server.server().Get("/library.html", [this](const httplib::Request& req, auto& res) {
        Record(req);
        const std::string page = req.get_param_value("page");
        std::string links;
        if (page.empty()) // a text not read is no page number; a short one is still read
            links = PageLink(9, std::string(500, 'x')) + PageLink(3);
        else if (page == "3") // one link more than a document keeps
            links = PageLink(5) + PageLink(6) + PageLink(7);
        res.set_content(Page(links), "text/html");
    });
    m_server.Start();

    m_engine.CrawlPage(Url("/library.html").c_str());

    EXPECT_EQ(Requests(),
              (std::vector<std::string>{"/library.html", "/library.html?page=3",
                                        "/library.html?page=5", "/library.html?page=6"}));
    EXPECT_EQ(m_engine.m_outcome.m_nCutPages, 2);
    const std::u16string log = m_progress->GetLogText();
    EXPECT_NE(log.find(u"Some links of this page were not followed as numbered pages: it has "
                       u"more link text than the program reads from one page"),
              std::u16string::npos);
    EXPECT_NE(log.find(u"Only the first 2 links of this page were read: it has more than the "
                       u"program reads from one page."),
              std::u16string::npos);
}

// Transfers ahead change when bytes arrive, never what is stored: the same names (numbered
// variants included) with the same bytes as one request at a time, and no extra request.
TEST_F(CrawlTest, FetchingAheadStoresWhatOneAtATimeStores) {
    std::atomic<int> inFlight{0}, mostInFlight{0};
    auto handle = [&](const httplib::Request& req, httplib::Response& res) {
        Record(req);
        int now = ++inFlight;
        for (int most = mostInFlight; now > most && !mostInFlight.compare_exchange_weak(most, now);)
            ;
        // Answers come back in another order than they were asked for.
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::hash<std::string>{}(req.target) % 12));
        --inFlight;
        const std::string page = req.get_param_value("page");
        if (req.path == "/library.html") {
            const int n = page.empty() ? 1 : std::stoi(page);
            std::string links = ToneLink("x" + std::to_string(n % 2) + ".l6t") +
                                ToneLink("same.l6t") + ToneLink("SAME.l6t") +
                                ToneLink("u" + std::to_string(n) + ".l6t");
            for (int to = 1; to <= 6; ++to)
                links += PageLink(to);
            res.set_content(Page(links), "text/html");
        } else {
            // Different bytes under names shared by several tones.
            const std::string name = req.matches[1];
            res.set_header("Content-Disposition",
                           name[0] == 'u' ? "attachment; filename=\"shared.l6t\"" : "attachment");
            res.set_content("tone " + name, "application/octet-stream");
        }
    };
    m_server.server().Get("/library.html", handle);
    m_server.server().Get(R"(/files/l6file/(.*))", handle);
    m_server.Start();

    auto crawl = [&](int connections, const char* subfolder) {
        std::filesystem::create_directory(m_folder / subfolder);
        m_engine.m_folder = FromUtf8((m_folder / subfolder).string());
        m_engine.m_visited.Clear();
        m_engine.m_walked.Clear();
        m_engine.m_nMaxConnections = connections;
        const size_t before = Requests().size();
        m_engine.CrawlPage(Url("/library.html").c_str());
        std::vector<std::string> asked = Requests();
        asked.erase(asked.begin(), asked.begin() + static_cast<long>(before));
        std::sort(asked.begin(), asked.end());
        std::map<std::string, std::string> files;
        for (auto& entry : std::filesystem::directory_iterator(m_folder / subfolder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            files[entry.path().filename().string()] =
                std::string(std::istreambuf_iterator<char>(in), {});
        }
        return std::make_pair(files, asked);
    };
    const auto one = crawl(1, "one");
    EXPECT_EQ(mostInFlight, 1);
    const auto four = crawl(4, "four");
    EXPECT_GT(mostInFlight, 1) << "nothing was fetched ahead";
    EXPECT_EQ(four.first, one.first);
    EXPECT_EQ(four.second, one.second);
    EXPECT_EQ(one.first.size(), 10u); // x0, x1, same, SAME, shared and shared[1]..[5]
    EXPECT_EQ(CountTransfersAhead(), 0);
}

// Cancel ends every transfer ahead, running or finished, and leaves none of their files.
TEST_F(CrawlTest, CancelAbortsTheTransfersAheadAndLeavesNoCacheFile) {
    std::atomic<int> hits{0};
    m_server.server().Get("/library.html", [&](const httplib::Request& req, auto& res) {
        Record(req);
        res.set_content(
            Page(ToneLink("stalls.l6t") + ToneLink("quick.l6t") + ToneLink("stalls2.l6t")),
            "text/html");
    });
    m_server.server().Get(R"(/files/l6file/(.*))", [&](const httplib::Request& req, auto& res) {
        ++hits;
        if (req.matches[1] == "quick.l6t")
            return res.set_content("quick", "application/octet-stream");
        HoldBody(res, 1000, "application/octet-stream");
    });
    m_server.Start();
    // Cancel once all three are under way, the quick one finished ahead and waiting.
    std::function<void()> pressCancel = [&] {
        if (hits == 3 && CountTransfersAhead() == 1)
            m_progress->m_bCancel = 1;
        else
            PostThreadMessage(pressCancel);
    };
    PostThreadMessage(pressCancel);
    m_engine.m_nMaxConnections = 3;
    m_engine.CrawlPage(Url("/library.html").c_str());

    EXPECT_EQ(CountTransfersAhead(), 0);
    EXPECT_TRUE(Folder().empty());
    for (auto& entry : std::filesystem::directory_iterator(UrlCacheFolder()))
        EXPECT_EQ(entry.path().filename().string().rfind(".spare-", 0), 0u) << entry.path();
}

// A tone that stalls while it runs ahead gets the three attempts it gets one at a time: the
// watchdog counts from when the walk reaches it.
TEST_F(CrawlTest, AToneThatStallsAheadGetsItsAttempts) {
    std::atomic<int> hits{0};
    m_server.server().Get("/library.html", [&](const httplib::Request&, auto& res) {
        res.set_content(Page(ToneLink("quick.l6t") + ToneLink("stuck.l6t")), "text/html");
    });
    m_server.server().Get(R"(/files/l6file/(.*))", [&](const httplib::Request& req, auto& res) {
        if (req.matches[1] == "quick.l6t")
            return res.set_content("quick", "application/octet-stream");
        ++hits;
        HoldBody(res, 1000, "application/octet-stream");
    });
    m_server.Start();
    const CFastClockWithServerTime fastClock;
    m_engine.m_nMaxConnections = 2;
    m_engine.CrawlPage(Url("/library.html").c_str());

    EXPECT_EQ(hits, 3);
    EXPECT_EQ(Folder().size(), 1u);
    EXPECT_EQ(m_engine.m_outcome.FailedTones(), 1);
}

TEST_F(CrawlTest, APageThatCannotBeFetchedIsPassedOverOnce) {
    m_server.server().Get("/library.html", [this](const httplib::Request& req, auto& res) {
        Record(req);
        res.status = 404;
    });
    m_server.Start();
    auto url = Url("/library.html?page=404");
    m_engine.CrawlPage(url.c_str());
    m_engine.CrawlPage(url.c_str());
    EXPECT_EQ(Requests().size(), 1u);
    EXPECT_TRUE(m_engine.m_visited.Contains(url.c_str()));
    EXPECT_TRUE(m_engine.m_walked.Contains(url.c_str()));
    EXPECT_EQ(m_progress->GetPageStatusText(), u"Downloading page\r\n" + url);
}

TEST_F(CrawlTest, AReportOfFailuresThatCannotBeKeptIsTold) {
    m_server.server().Get("/library.html", [&](const httplib::Request&, auto& res) {
        res.set_content(Page(ToneLink("y.l6t")), "text/html");
    });
    m_server.server().Get(R"(/files/l6file/(.*))",
                          [&](const httplib::Request&, auto& res) { res.status = 500; });
    m_server.Start();
    const std::filesystem::path report = CrawlReportPath(m_engine.m_folder);
    std::filesystem::create_directories(report); // nothing can be renamed over a folder
    m_engine.Crawl(Url("/library.html").c_str());
    std::filesystem::remove_all(report);
    EXPECT_NE(FormatOutcome(m_engine.m_outcome, false, 0).find(u"could not be kept for a retry"),
              std::u16string::npos);
}

TEST_F(CrawlTest, RetryFetchesOnlyTheTonesThatFailedAndKeepsTheFailedPages) {
    std::atomic<bool> broken{true};
    m_server.server().Get("/library.html", [&](const httplib::Request& req, auto& res) {
        Record(req);
        if (req.has_param("page")) {
            res.status = 404;
            return;
        }
        res.set_content(
            Page(ToneLink("x.l6t") + ToneLink("y.l6t") + ToneLink("z.l6t") + PageLink(2)),
            "text/html");
    });
    m_server.server().Get(R"(/files/l6file/(.*))", [&](const httplib::Request& req, auto& res) {
        Record(req);
        if (broken && req.matches[1] != "x.l6t")
            res.status = 500;
        else
            res.set_content("tone " + std::string(req.matches[1]), "application/octet-stream");
    });
    m_server.Start();
    m_engine.m_nMaxConnections = 1;
    m_engine.Crawl(Url("/library.html").c_str());
    const CCrawlReport earlier = m_engine.m_outcome.m_report;
    EXPECT_EQ(earlier.FailedTones(), (std::vector<std::u16string>{Url("/files/l6file/y.l6t"),
                                                                  Url("/files/l6file/z.l6t")}));
    ASSERT_EQ(earlier.Entries().size(), 3u);
    EXPECT_EQ(earlier.Entries()[2].m_szUrl, Url("/library.html?page=2"));
    EXPECT_FALSE(earlier.Entries()[0].m_szReason.empty());

    // What a later run reads back is what was kept.
    CCrawlReport saved;
    ASSERT_TRUE(saved.Load(m_engine.m_folder));
    EXPECT_EQ(saved.Text(), earlier.Text());

    broken = false;
    const size_t nBefore = Requests().size();
    m_engine.m_visited.Clear();
    m_engine.m_outcome = CCrawlOutcome();
    m_engine.RetryFailed(saved);
    const std::vector<std::string> requests = Requests();
    EXPECT_EQ(std::vector<std::string>(requests.begin() + nBefore, requests.end()),
              (std::vector<std::string>{"/files/l6file/y.l6t", "/files/l6file/z.l6t"}));
    EXPECT_EQ(Folder().size(), 3u);
    EXPECT_EQ(m_engine.m_outcome.m_nNewTones, 2);
    // The page that failed was not fetched again, and stays in the report.
    EXPECT_EQ(m_engine.m_outcome.m_report.Entries().size(), 1u);
}

TEST_F(CrawlTest, TheStatusLineIsCutToTheBox) {
    m_server.Start();
    std::u16string url = Url("/library.html?q=") + std::u16string(300, u'q');
    m_engine.CrawlPage(url.c_str());
    std::u16string expected = (u"Downloading page\r\n" + url).substr(0, 259);
    EXPECT_EQ(m_progress->GetPageStatusText(), expected);
}

// A page that stops coming is given up as a tone is: tried three times under the watchdog,
// then failed in words. Its wait always ends.
TEST_F(CrawlTest, APageThatNeverCompletesIsTriedThreeTimesThenFails) {
    std::atomic<int> hits{0};
    m_server.server().Get("/library.html", [&](const httplib::Request&, httplib::Response& res) {
        ++hits;
        HoldBody(res, 100, "text/html");
    });
    m_server.Start();
    const CFastClockWithServerTime fastClock;

    m_engine.CrawlPage(Url("/library.html").c_str());

    EXPECT_EQ(hits, 3);
    EXPECT_EQ(m_engine.m_outcome.m_nFailedPages, 1);
    EXPECT_NE(m_engine.m_outcome.m_szFirstFailure.find(u"the server stopped sending it"),
              std::u16string::npos);
    EXPECT_TRUE(m_engine.m_walked.Contains(Url("/library.html").c_str()));
}

// A server that serves one connection at a time (the others wait in its backlog) loses no
// tone to the transfers ahead: a request left unanswered goes out again where the server
// listens, and the server is given no more connections than it answers.
TEST_F(CrawlTest, AServerOfOneConnectionAtATimeLosesNoTone) {
    m_server.server().new_task_queue = [] { return new httplib::ThreadPool(1); };
    std::string links;
    for (int n = 0; n < 6; ++n)
        links += ToneLink("t" + std::to_string(n) + ".l6t");
    Serve("/library.html", Page(links), "text/html");
    m_server.server().Get(R"(/files/l6file/(.*))", [this](const httplib::Request& req, auto& res) {
        Record(req);
        res.set_content("tone " + std::string(req.matches[1]), "application/octet-stream");
    });
    m_server.Start();
    m_server.server().set_keep_alive_timeout(60); // idle connections stay served
    // The real clock: a request goes out again after a second unanswered, long before the
    // watchdog would see a stall, whatever else the machine is busy with.
    bool active = true, stuck = false;
    std::function<void()> watch = [&] {
        if (!active)
            return;
        stuck |= m_progress->GetLogText().find(u"seems to be stuck") != std::u16string::npos;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        PostThreadMessage(watch);
    };
    PostThreadMessage(watch);

    m_engine.m_nMaxConnections = 4;
    m_engine.CrawlPage(Url("/library.html").c_str());
    active = false;

    EXPECT_EQ(Folder().size(), 6u);
    EXPECT_EQ(m_engine.m_outcome.FailedTones(), 0);
    EXPECT_FALSE(stuck) << "a tone waited on a connection the server never served";
}

} // namespace
