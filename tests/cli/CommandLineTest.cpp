// The real program run as a command, as a script or a timer runs it: no display, the demo
// library and test servers on 127.0.0.1, and the exit status a script reads.
#include "cli/CliOptions.h"
#include "cli/JsonEvents.h"
#include "cli/LocaleText.h"
#include "platform/text/text.h"
#include "tests/cli/CommandLineFixture.h"
#include "tools/DemoServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST_F(CommandLineTest, CrawlsTheDemoLibraryWithoutADisplay) {
    // A folder named in Latin-1, which the locale's encoding (UTF-8 or ASCII) does not take:
    // its bytes are used as they came.
    m_folder = m_home / "T\xF6ne";
    const DemoLibrary library = DemoLibrary::Make(4, 6);
    DemoStats stats;
    ServeDemoLibrary(m_server.server(), library, &stats);
    m_server.Start();

    const Finished run = Crawl({"--url", m_server.Url(library.PagePath(1)), "--folder",
                                m_folder.string(), "--connections", "2"});

    EXPECT_EQ(run.status, 0) << run.err;
    std::map<std::string, std::string> expected;
    for (const DemoTone& tone : library.tones)
        expected[tone.storedName] = tone.bytes;
    EXPECT_TRUE(Stored() == expected) << "every distinct tone once, with its bytes";
    // Not a terminal: one line per stored tone naming its file, numbered variants included,
    // then the main window's outcome line.
    std::map<std::string, std::string> told;
    for (size_t at = run.out.find("stored: "); at != std::string::npos;
         at = run.out.find("stored: ", at + 1)) {
        const size_t name = at + std::strlen("stored: ");
        const std::string file = run.out.substr(name, run.out.find('\n', name) - name);
        told[file] = expected.count(file) ? expected[file] : "";
    }
    EXPECT_TRUE(told == expected) << run.out;
    EXPECT_TRUE(std::any_of(told.begin(), told.end(), [](auto& file) {
        return file.first.find("[1]") != std::string::npos;
    })) << "the library holds a numbered variant";
    EXPECT_EQ(run.out.find('\r'), std::string::npos) << "nothing is redrawn";
    EXPECT_EQ(LastLine(run.out).rfind(std::to_string(expected.size()) + " new tones stored", 0), 0u)
        << run.out;
    EXPECT_EQ(run.err, "");

    // The harvest record knows that folder by its bytes too: a second crawl only asks.
    const long toneRequests = stats.toneRequests;
    Crawl({"--url", m_server.Url(library.PagePath(1)), "--folder", m_folder.string()});
    EXPECT_EQ(stats.notModified, stats.toneRequests - toneRequests);
}

TEST_F(CommandLineTest, AFailedToneFinishesWithStatus1) {
    m_server.server().Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<a href=\"/l6file/good.l6t\">1</a><a href=\"/l6file/gone.l6t\">2</a>",
                        "text/html");
    });
    m_server.server().Get("/l6file/good.l6t", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("good", "application/octet-stream");
    });
    m_server.Start();

    const Finished run =
        Crawl({"--url", m_server.Url("/library.html"), "--folder", m_folder.string()});

    EXPECT_EQ(run.status, 1);
    EXPECT_NE(
        run.out.find("failed tone: " + m_server.Url("/l6file/gone.l6t") + ": HTTP 404 Not Found\n"),
        std::string::npos)
        << run.out;
    EXPECT_EQ(LastLine(run.out).rfind("1 new tone stored, 1 failed, in ", 0), 0u) << run.out;
}

TEST(JsonEvents, EachKindCarriesItsFieldsAndTextIsEscaped) {
    auto json = [](CCrawlEvent event) { return JsonEvent(event); };
    EXPECT_EQ(json({CCrawlEvent::kToneStored, u"http://h/l6file/a", u"A \"1\".l6t", {}, 12}),
              R"({"event":"stored","url":"http://h/l6file/a","name":"A \"1\".l6t","bytes":12})");
    EXPECT_EQ(json({CCrawlEvent::kToneAlreadyThere, u"u", u"A.l6t"}),
              R"({"event":"already_there","url":"u","name":"A.l6t"})");
    EXPECT_EQ(
        json({CCrawlEvent::kToneFailed, u"u", u"Caf\u00e9.l6t", u"line\nbreak\\"}),
        R"({"event":"tone_failed","url":"u","name":"Café.l6t","reason":"line\u000abreak\\"})");
    EXPECT_EQ(json({CCrawlEvent::kPageFailed, u"p", {}, u"HTTP 404 Not Found"}),
              R"({"event":"page_failed","url":"p","reason":"HTTP 404 Not Found"})");
    EXPECT_EQ(json({CCrawlEvent::kPageCut, u"p", {}, u"too long"}),
              R"({"event":"page_cut","url":"p","reason":"too long"})");
    EXPECT_EQ(json({CCrawlEvent::kServerWait, u"u", {}, u"busy", 0, 1500}),
              R"({"event":"server_wait","url":"u","reason":"busy","ms_left":1500})");
    EXPECT_EQ(json({.m_kind = CCrawlEvent::kPageWalked,
                    .m_szUrl = u"p",
                    .m_nPagesWalked = 2,
                    .m_nPagesKnown = 40}),
              R"({"event":"page","url":"p","walked":2,"known":40})");
    CCrawlOutcome outcome;
    outcome.m_nNewTones = 3;
    EXPECT_EQ(JsonOutcome(outcome, false, 7, 0),
              R"({"event":"outcome","new":3,"already_there":0,"failed_tones":0,"failed_pages":0,)"
              R"("cut_pages":0,"pages_walked":0,"pages_known":0,"seconds":7,"cancelled":false,)"
              R"("stopped":"","line":"3 new tones stored, in 0:00:07","status":0})");
}

TEST_F(CommandLineTest, RetryFailedFetchesOnlyWhatTheLastCrawlIntoTheFolderCouldNot) {
    std::atomic<bool> broken{true};
    std::mutex mutex;
    std::vector<std::string> requests;
    m_server.server().Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<a href=\"/l6file/good.l6t\">1</a><a href=\"/l6file/flaky.l6t\">2</a>",
                        "text/html");
    });
    m_server.server().Get(R"(/l6file/(.*))", [&](const httplib::Request& req, auto& res) {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(req.matches[1]);
        if (broken && req.matches[1] == "flaky.l6t")
            res.status = 500;
        else
            res.set_content(std::string(req.matches[1]), "application/octet-stream");
    });
    m_server.Start();

    Finished run =
        Crawl({"--url", m_server.Url("/library.html"), "--folder", m_folder.string(), "--json"});
    EXPECT_EQ(run.status, 1) << run.err;
    // One object a line; the stored names are the folder's.
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(run.out.substr(at, end - at));
    ASSERT_FALSE(lines.empty()) << run.out;
    for (const std::string& line : lines)
        EXPECT_TRUE(line.starts_with("{\"event\":\"") && line.ends_with("}")) << line;
    EXPECT_NE(run.out.find(R"("event":"stored","url":")" + m_server.Url("/l6file/good.l6t") +
                           R"(","name":"good.l6t","bytes":8})"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(R"("event":"tone_failed")"), std::string::npos) << run.out;
    EXPECT_TRUE(lines.back().starts_with(R"({"event":"outcome","new":1,)")) << lines.back();
    EXPECT_TRUE(lines.back().ends_with(R"("status":1})")) << lines.back();

    broken = false;
    requests.clear();
    run = Crawl({"--retry-failed", "--folder", m_folder.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(requests, std::vector<std::string>{"flaky.l6t"});
    EXPECT_TRUE((Stored() == std::map<std::string, std::string>{{"good.l6t", "good.l6t"},
                                                                {"flaky.l6t", "flaky.l6t"}}));
    EXPECT_EQ(LastLine(run.out).rfind("1 new tone stored, in ", 0), 0u) << run.out;

    // A folder no crawl went into has nothing to retry, and says so.
    run = Crawl({"--retry-failed", "--folder", (m_home / "Other").string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("nothing to retry"), std::string::npos) << run.err;
}

TEST_F(CommandLineTest, WhatCannotStartEndsWithStatus2AndTheReason) {
    m_server.Start();
    const std::string dead = m_server.Url("/library.html");
    m_server.Stop(); // nothing listens there any more

    Finished run = Crawl({"--url", dead, "--folder", m_folder.string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "pmcrawler: The start page could not be fetched: connection refused\n");

    std::ofstream(m_home / "a-file") << "in the way";
    run = Crawl({"--url", dead, "--folder", (m_home / "a-file").string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "pmcrawler: Couldn't create output directory. " +
                           (m_home / "a-file").string() + ": File exists.\n");

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--url", dead, "--folder"},
          std::vector<std::string>{"--url", dead, "--folder", "x", "--bogus"},
          std::vector<std::string>{"--url", dead, "--folder", "x", "--connections", "17"},
          std::vector<std::string>{"--url", dead, "--folder", "x", "-f", "y"},
          std::vector<std::string>{}}) { // a bare start with no display for the window
        run = Crawl(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(run.err.rfind("pmcrawler: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("\nUsage: pmcrawler --url URL --folder DIR"), std::string::npos)
            << run.err;
    }

    // A folder too long to use whole is refused, never replaced by a shorter one.
    std::string longFolder = m_home.string();
    while (longFolder.size() < 300)
        longFolder += "/abcdefghi";
    run = Crawl({"--url", dead, "--folder", longFolder});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "pmcrawler: Couldn't create output directory. " + longFolder +
                           ": the path is longer than the 259 characters the program can use.\n");
    EXPECT_FALSE(fs::exists(m_home / "abcdefghi"));
}

TEST(CliOptionsTest, FollowTheConventionsAndRefuseAnOptionGivenTwice) {
    using Args = std::vector<std::string>;
    for (const Args& args : {Args{"-u", "http://a/", "-f", "T", "-c4"},
                             Args{"--url=http://a/", "--folder", "T", "--connections=4"},
                             Args{"-qc", "4", "-uhttp://a/", "-fT"}}) {
        const CCliParse parse = ParseCliOptions(args);
        EXPECT_EQ(parse.m_szError, "") << args[0];
        EXPECT_EQ(parse.m_options.m_nConnections, 4) << args[0];
        EXPECT_EQ(parse.m_options.m_szFolder, u"T") << args[0];
    }
    // "--" ends the options: what follows is an argument, and none is taken.
    EXPECT_EQ(ParseCliOptions({"-u", "http://a/", "--", "-f", "T"}).m_szError,
              "unexpected argument '-f'");
    EXPECT_EQ(ParseCliOptions({"-u", "http://a/", "-f", "T", "--folder=U"}).m_szError,
              "--folder is given more than once");
    EXPECT_EQ(ParseCliOptions({"-u", "http://a/", "--quiet=yes"}).m_szError,
              "--quiet takes no value");
    EXPECT_EQ(ParseCliOptions({"-u", "http://a/", "-f"}).m_szError, "--folder needs a value (DIR)");
}

TEST(LocaleTextTest, ArgumentsAndOutputAreInTheLocalesEncodingAndColumns) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    // A byte the encoding does not take goes back out as it came; a character it does, and
    // a control character, do not pass through as they are.
    EXPECT_EQ(ToNativeName(FolderArgumentText("T\xF6ne")), "T\xF6ne");
    EXPECT_EQ(UrlArgument("http://a/T\xF6ne"), u"http://a/T%F6ne");
    EXPECT_EQ(OutputText(ArgumentText("Caf\xC3\xA9\x1B[2J")), "Caf\xC3\xA9?[2J");
    // A wide character takes two columns, and none is cut in half.
    EXPECT_EQ(OutputText(u"\u3042\u3044\u3046", 5), "\u3042\u3044");
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(OutputText(u"Caf\u00E9"), "Caf?");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(CommandLineTest, InterruptMidTransferEndsWithStatus130AndNoPartialFile) {
    std::mutex mutex;
    std::condition_variable seen;
    bool bHeld = false;
    auto& server = m_server.server();
    server.Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<a href=\"/l6file/first.l6t\">1</a><a href=\"/l6file/held.l6t\">2</a>"
                        "<a href=\"/l6file/never.l6t\">3</a>",
                        "text/html");
    });
    server.Get("/l6file/first.l6t", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("first", "application/octet-stream");
    });
    server.Get("/l6file/held.l6t", [&](const httplib::Request&, httplib::Response& res) {
        // Half the body, then nothing until the test ends.
        res.set_content_provider(100000, "application/octet-stream",
                                 [&](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset == 0) {
                                         const std::string half(50000, 'h');
                                         sink.write(half.data(), half.size());
                                         std::lock_guard<std::mutex> lock(mutex);
                                         bHeld = true;
                                         seen.notify_all();
                                         return true;
                                     }
                                     while (!m_release)
                                         std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                     return false;
                                 });
    });
    m_server.Start();

    // One transfer at a time, so that the first tone is stored before the held one starts.
    CrawlerProcess crawler({"--url", m_server.Url("/library.html"), "--folder", m_folder.string(),
                            "--connections", "1"},
                           m_home / "state");
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(
            seen.wait_for(lock, std::chrono::milliseconds(kStuckMs), [&] { return bHeld; }));
    }
    crawler.Signal(SIGINT);
    const Finished run = crawler.Finish();

    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_TRUE((Stored() == std::map<std::string, std::string>{{"first.l6t", "first"}}))
        << "no partial file, under the tone's name or any other";
    EXPECT_EQ(LastLine(run.out).rfind("Cancelled: 1 new tone stored, in ", 0), 0u) << run.out;
}

TEST_F(CommandLineTest, AClosedOutputEndsTheCrawlAsCancelDoesWithStatus141) {
    auto& server = m_server.server();
    server.Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<a href=\"/l6file/first.l6t\">1</a><a href=\"/l6file/held.l6t\">2</a>",
                        "text/html");
    });
    server.Get("/l6file/first.l6t", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("first", "application/octet-stream");
    });
    server.Get("/l6file/held.l6t", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(100000, "application/octet-stream",
                                 [this](size_t, size_t, httplib::DataSink& sink) {
                                     sink.write("h", 1);
                                     while (!m_release)
                                         std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                     return false;
                                 });
    });
    m_server.Start();
    const fs::path tmp = m_home / "tmp";
    fs::create_directories(tmp);

    // As "pmcrawler ... | head -1" runs it: the reader goes after the first line, while the
    // crawl waits for a tone with nothing more to print.
    CrawlerProcess crawler({"--url", m_server.Url("/library.html"), "--folder", m_folder.string(),
                            "--connections", "1"},
                           m_home / "state", {"TMPDIR=" + tmp.string()});
    EXPECT_EQ(crawler.FirstLineThenClose(), "stored: first.l6t");
    const Finished run = crawler.Finish();

    EXPECT_EQ(run.status, 141) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE((Stored() == std::map<std::string, std::string>{{"first.l6t", "first"}}))
        << "no partial file";
    EXPECT_TRUE(fs::is_empty(tmp)) << "the temporary folder is removed";
}

} // namespace
