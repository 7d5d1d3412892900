// Whole crawls through the real main dialog and progress window against served libraries:
// an ordinary one, one that is cancelled, and a hostile one.
#include "app/CrawlerApp.h"
#include "platform/clock.h"
#include "platform/pump/pump.h"
#include "platform/text/text.h"
#include "platform/wx/desktop.h"
#include "tests/support/ExfatFolder.h"
#include "tests/support/GuiTest.h"
#include "tests/support/TestServer.h"
#include "tools/DemoServer.h"
#include "ui/CrawlerDlg.h"
#include "ui/ProgressDialog.h"

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <chrono>
#include <fstream>
#include <map>
#include <thread>

namespace fs = std::filesystem;

namespace {

// The real dialog; it only notes what the progress window counted before it goes.
class CObservedDlg : public CCrawlerDlg {
public:
    int m_nCounted = -1;
    std::function<void()> m_beforeCrawl;
    bool m_bInFront = true;

protected:
    bool IsInFront() const override { return m_bInFront; }
    void RunCrawl(LPCWSTR startUrl) override {
        if (m_beforeCrawl)
            m_beforeCrawl();
        CCrawlerDlg::RunCrawl(startUrl);
        m_nCounted = m_pProgress->m_nNewFiles;
    }
};

class EndToEndTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        ASSERT_GE(CoInitialize(nullptr), 0);
        m_folder = m_configHome / "Tones";
        m_dlg = std::make_unique<CObservedDlg>();
        m_dlg->InitDialog();
    }
    void TearDown() override {
        m_release = true;
        m_dlg.reset();
        CoUninitialize();
        m_server.Stop();
        GuiTest::TearDown();
    }

    void Crawl(const std::string& path) {
        m_dlg->m_editUrl->SetValue(wxString::FromUTF8(m_server.Url(path)));
        m_dlg->m_editPath->SetValue(wxString::FromUTF8(m_folder.string()));
        m_dlg->OnStartCrawl();
    }
    std::map<std::string, std::string> Stored() const {
        std::map<std::string, std::string> files;
        if (!fs::exists(m_folder))
            return files;
        for (auto& entry : fs::directory_iterator(m_folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            files[entry.path().filename().string()] =
                std::string(std::istreambuf_iterator<char>(in), {});
        }
        return files;
    }

    std::u16string Outcome() const { return FromWx(m_dlg->m_staticOutcome->GetLabel()); }

    TestServer m_server;
    std::unique_ptr<CObservedDlg> m_dlg;
    fs::path m_folder;
    std::atomic<bool> m_release{false};
};

TEST_F(EndToEndTest, StoresEveryDistinctToneOnceWithItsBytesAndCountsThem) {
    const DemoLibrary library = DemoLibrary::Make(6, 10);
    ServeDemoLibrary(m_server.server(), library);
    m_server.Start();

    Crawl(library.PagePath(1));

    std::map<std::string, std::string> expected;
    for (const DemoTone& tone : library.tones)
        expected[tone.storedName] = tone.bytes;
    auto stored = Stored();
    EXPECT_EQ(stored.size(), expected.size());
    for (auto& [name, bytes] : expected) {
        ASSERT_TRUE(stored.count(name)) << name;
        EXPECT_TRUE(stored[name] == bytes) << name << " holds other bytes";
    }
    EXPECT_EQ(m_dlg->m_nCounted, static_cast<int>(expected.size()));
    EXPECT_TRUE(m_dlg->IsEnabled());
    EXPECT_EQ(m_dlg->m_pProgress, nullptr);
}

TEST_F(EndToEndTest, FailedTonesAreListedAndRetryFailedStoresExactlyThose) {
    std::atomic<bool> broken{true};
    std::mutex mutex;
    std::vector<std::string> requests;
    m_server.server().Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        std::string page;
        for (int n = 1; n <= 5; ++n)
            page += "<a href=\"/l6file/t" + std::to_string(n) + ".l6t\">t</a>";
        res.set_content(page, "text/html");
    });
    m_server.server().Get(R"(/l6file/(.*))", [&](const httplib::Request& req, auto& res) {
        const std::string name = req.matches[1];
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(name);
        if (broken && name != "t1.l6t" && name != "t5.l6t")
            res.status = 500;
        else
            res.set_content(name, "application/octet-stream");
    });
    m_server.Start();
    std::vector<std::u16string> notified;
    SetNotificationForTesting([&](const std::u16string&, const std::u16string& text) {
        notified.push_back(text);
        return true;
    });
    // A crawl that takes over a minute while another window is in front.
    int64_t now = GetSystemTimeAsFileTime();
    SetFileTimeForTesting([&] { return now; });
    m_dlg->m_beforeCrawl = [&] { now += 61 * 10000000LL; };
    m_dlg->m_bInFront = false;

    Crawl("/library.html");
    EXPECT_EQ(Stored().size(), 2u);
    EXPECT_EQ(notified, std::vector<std::u16string>{u"2 new tones stored, 3 failed"});
    ASSERT_TRUE(m_dlg->m_btnDetails->IsShown());
    ASSERT_TRUE(m_dlg->m_btnRetryFailed->IsShown());
    EXPECT_TRUE(m_dlg->m_btnOpenFolder->IsShown());
    const std::u16string report = m_dlg->m_engine.m_outcome.m_report.Text();
    for (const char* name : {"t2.l6t", "t3.l6t", "t4.l6t"})
        EXPECT_NE(report.find(FromUtf8(m_server.Url("/l6file/") + name)), std::u16string::npos)
            << name;
    EXPECT_NE(report.find(u"HTTP 500"), std::u16string::npos) << ToUtf8(report);

    // The server heals; the retry goes to the crawl's folder whatever the field says now.
    broken = false;
    requests.clear();
    m_dlg->m_bInFront = true;
    m_dlg->m_beforeCrawl = nullptr;
    m_dlg->m_editPath->SetValue(wxString::FromUTF8((m_configHome / "Elsewhere").string()));
    m_dlg->OnRetryFailed();
    EXPECT_EQ(requests, (std::vector<std::string>{"t2.l6t", "t3.l6t", "t4.l6t"}));
    EXPECT_EQ(Stored().size(), 5u);
    EXPECT_FALSE(m_dlg->m_btnDetails->IsShown()) << "nothing failed any more";
    EXPECT_EQ(notified.size(), 1u) << "none while the window is in front";
    SetNotificationForTesting({});
    SetFileTimeForTesting({});
}

TEST_F(EndToEndTest, ASecondCrawlOfTheSameLibraryStoresNothingNew) {
    const DemoLibrary library = DemoLibrary::Make(2, 8);
    ServeDemoLibrary(m_server.server(), library);
    m_server.Start();
    Crawl(library.PagePath(1));
    auto first = Stored();
    Crawl(library.PagePath(1));
    EXPECT_EQ(Stored(), first);
    EXPECT_EQ(m_dlg->m_nCounted, 0);
}

TEST_F(EndToEndTest, CancelInTheMiddleEndsTheCrawlAndLeavesNoPartialFile) {
    std::atomic<int> served{0};
    auto& server = m_server.server();
    server.Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        std::string html;
        for (int i = 0; i < 6; ++i)
            html += "<a href=\"/l6file/" + std::to_string(i) + ".l6t\">tone</a>";
        res.set_content(html, "text/html");
    });
    server.Get(R"(/l6file/(\d)\.l6t)", [&](const httplib::Request& req, httplib::Response& res) {
        int n = std::stoi(req.matches[1]);
        ++served;
        if (n < 2) {
            res.set_content(std::string(3000, char('a' + n)), "application/octet-stream");
            return;
        }
        // The third tone sends half its body and then nothing.
        res.set_content_provider(100000, "application/octet-stream",
                                 [this](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset == 0) {
                                         std::string half(50000, 'h');
                                         sink.write(half.data(), half.size());
                                         return true;
                                     }
                                     while (!m_release)
                                         std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                     return false;
                                 });
    });
    m_server.Start();
    // Cancel once the third tone is under way, as a user pressing the button would.
    std::function<void()> press = [&] {
        CProgressDialog* progress = m_dlg->m_pProgress;
        if (progress && served >= 3 &&
            progress->GetLogText().find(u"OnProgress 5") != std::u16string::npos) {
            wxCommandEvent click(wxEVT_BUTTON, wxID_CANCEL);
            progress->FindWindow(wxID_CANCEL)->GetEventHandler()->ProcessEvent(click);
        } else {
            PostThreadMessage(press);
        }
    };
    m_dlg->m_beforeCrawl = [&] { PostThreadMessage(press); };
    // The requests served are counted as one at a time makes them.
    theApp().WriteProfileString(u"Config", u"MaxConnections", u"1");

    Crawl("/library.html");

    auto stored = Stored();
    EXPECT_EQ(stored.size(), 2u);
    EXPECT_TRUE(stored["0.l6t"] == std::string(3000, 'a'));
    EXPECT_EQ(served, 3); // nothing after the cancelled tone
    EXPECT_EQ(m_dlg->m_nCounted, 2);
    EXPECT_EQ(Outcome().rfind(u"Cancelled: 2 new tones stored, in ", 0), 0u) << ToWx(Outcome());
    EXPECT_TRUE(m_dlg->IsEnabled());
    EXPECT_EQ(m_dlg->m_pProgress, nullptr);
}

TEST_F(EndToEndTest, AHostileLibraryCannotWriteOutsideTheFolderOrReadLocalFiles) {
    fs::create_directories(m_folder);
    const fs::path outside = m_configHome / "outside.l6t";
    std::ofstream(m_configHome / "secret.txt") << "secret";
    auto& server = m_server.server();
    server.Get("/library.html", [this](const httplib::Request&, httplib::Response& res) {
        std::string secret = (m_configHome / "secret.txt").string();
        res.set_content(
            "<a href=\"file://" + secret +
                "?l6file\">1</a>"
                "<a href=\"javascript:alert('l6file')\">2</a>"
                "<a href=\"/l6file/a\">a</a><a href=\"/l6file/b\">b</a><a href=\"/l6file/c\">c</a>"
                "<a href=\"/l6file/d\">d</a><a href=\"/l6file/e\">e</a><a href=\"/l6file/f\">f</a>"
                "<a href=\"/library.html?p=%2e%2e\">3</a>",
            "text/html");
    });
    auto tone = [](const std::string& disposition, const std::string& body, int status = 200) {
        return [=](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_header("Content-Disposition", disposition);
            res.set_content(body, "application/octet-stream");
        };
    };
    server.Get("/l6file/a", tone("attachment; filename=\"../outside.l6t\"", "A"));
    server.Get("/l6file/b", tone("attachment; filename*=UTF-8''..%2Foutside.l6t", "B"));
    server.Get("/l6file/c",
               tone("attachment; filename=\"" + std::string(600, 'x') + ".l6t\"", "C"));
    server.Get("/l6file/d", tone("attachment; filename=\"error.l6t\"", "error page", 500));
    server.Get("/l6file/e", tone("attachment; filename=\"..\"", "E"));
    // A tone named like one of the program's temporary files.
    server.Get("/l6file/f", tone("attachment; filename=\".pm-0123456789abcdef.part\"", "F"));
    m_server.Start();

    Crawl("/library.html");
    Crawl("/library.html"); // whose start sweeps away what a killed run left

    EXPECT_FALSE(fs::exists(outside));
    for (auto& entry : fs::directory_iterator(m_configHome))
        EXPECT_TRUE(entry.path().filename() == "Tones" || entry.path().filename() == "secret.txt" ||
                    entry.path().filename() == "Patchmere Crawler")
            << entry.path();
    auto stored = Stored();
    for (auto& [name, bytes] : stored) {
        EXPECT_NE(bytes, "secret") << name;
        EXPECT_NE(bytes, "error page") << name;
        EXPECT_LE(name.size(), 255u);
        EXPECT_EQ(name.find(".pm-"), std::string::npos) << "a temporary file was left";
    }
    EXPECT_EQ(stored.size(), 5u); // a, b, c, e and f under safe names; not the error page
    EXPECT_EQ(stored["_pm-0123456789abcdef.part"], "F") << "no tone is taken for a leftover";
}

TEST_F(EndToEndTest, AFolderThatGoesAwayStopsTheCrawlAndTheUserIsTold) {
    std::atomic<int> served{0};
    auto& server = m_server.server();
    server.Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        std::string html;
        for (int i = 0; i < 20; ++i)
            html += "<a href=\"/l6file/" + std::to_string(i) + ".l6t\">tone</a>";
        res.set_content(html, "text/html");
    });
    server.Get(R"(/l6file/(\d+)\.l6t)", [&](const httplib::Request& req, httplib::Response& res) {
        if (++served == 6)
            fs::remove_all(m_folder); // the folder goes while the sixth tone is fetched
        res.set_content(std::string(2000, char('a' + std::stoi(req.matches[1]))),
                        "application/octet-stream");
    });
    m_server.Start();
    theApp().WriteProfileString(u"Config", u"MaxConnections", u"1");

    Crawl("/library.html");

    EXPECT_EQ(served, 6) << "the crawl stops at the first tone that cannot be stored";
    EXPECT_FALSE(fs::exists(m_folder)) << "nothing recreates a folder the user removed";
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].owner, m_dlg.get());
    EXPECT_NE(m_boxes[0].text.find(FromUtf8(m_folder.string()) + u": No such file or directory"),
              std::u16string::npos)
        << ToWx(m_boxes[0].text);
    // Tones whose names still waited for their batch's sync when the folder went fail with it.
    EXPECT_EQ(Outcome().rfind(u"Stopped: ", 0), 0u) << ToWx(Outcome());
    EXPECT_EQ(m_dlg->m_engine.m_outcome.m_nNewTones + m_dlg->m_engine.m_outcome.FailedTones(), 6);
    EXPECT_GE(m_dlg->m_engine.m_outcome.FailedTones(), 1);
    EXPECT_TRUE(m_dlg->IsEnabled());
}

TEST_F(EndToEndTest, OnAnExfatStickEveryToneIsStoredAndFoundThereAgain) {
    ExfatFolder stick;
    if (!stick.SkipReason().empty())
        GTEST_SKIP() << stick.SkipReason();
    m_folder = stick.Folder() / "Tones";
    auto& server = m_server.server();
    server.Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        std::string html;
        for (int i = 0; i < 4; ++i)
            html += "<a href=\"/l6file/" + std::to_string(i) + "\">tone</a>";
        res.set_content(html, "text/html");
    });
    const std::pair<std::string, std::string> tones[] = {
        {"filename=\"Lead: Crunch?.l6t\"", std::string(3000, 'L')},
        {"filename*=UTF-8''Caf%C3%A9%20%3CNoir%3E.l6t", std::string(4000, 'C')},
        {"filename=\"Pad.l6t\"", std::string(5000, 'P')},
        {"filename=\"Pad.l6t\"", std::string(5000, 'p')},
    };
    server.Get(R"(/l6file/(\d))", [&](const httplib::Request& req, httplib::Response& res) {
        const auto& [disposition, bytes] = tones[std::stoi(req.matches[1])];
        res.set_header("Content-Disposition", "attachment; " + disposition);
        res.set_content(bytes, "application/octet-stream");
    });
    m_server.Start();

    Crawl("/library.html");
    const std::map<std::string, std::string> expected = {{"Lead_ Crunch_.l6t", tones[0].second},
                                                         {"Café _Noir_.l6t", tones[1].second},
                                                         {"Pad.l6t", tones[2].second},
                                                         {"Pad[1].l6t", tones[3].second}};
    EXPECT_TRUE(Stored() == expected);
    EXPECT_EQ(Outcome().rfind(u"4 new tones stored, in ", 0), 0u) << ToWx(Outcome());

    // The same names again, so every tone is found already there.
    Crawl("/library.html");
    EXPECT_TRUE(Stored() == expected);
    EXPECT_EQ(Outcome().rfind(u"0 new tones stored, 4 already there, in ", 0), 0u)
        << ToWx(Outcome());
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(EndToEndTest, AStartPageThatCannotBeFetchedIsToldInWords) {
    m_server.server().Get("/gone.html", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("no such page", "text/html");
    });
    m_server.Start();
    Crawl("/gone.html");
    EXPECT_EQ(Outcome(), u"The start page could not be fetched: HTTP 404 Not Found");

    m_dlg->m_editUrl->SetValue("ftp://127.0.0.1/library.html");
    m_dlg->OnStartCrawl();
    EXPECT_EQ(Outcome(), u"Only http and https addresses can be crawled");

    const std::string dead = m_server.Url("/library.html");
    m_server.Stop(); // nothing listens there any more
    m_dlg->m_editUrl->SetValue(wxString::FromUTF8(dead));
    m_dlg->OnStartCrawl();
    EXPECT_EQ(Outcome(), u"The start page could not be fetched: connection refused");
    EXPECT_TRUE(m_boxes.empty()) << "a dead address is no reason for a box";
}

} // namespace
