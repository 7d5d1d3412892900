// A library whose numbered pages form one long chain nests one page loader and one link
// walker per page; the crawl must reach the end of it in order.
#include "tests/support/GuiTest.h"
#include "tests/support/TestServer.h"
#include "ui/CrawlerDlg.h"

#include <wx/textctrl.h>

#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int kChain = 50000;

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

class DeepChainTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        ASSERT_GE(CoInitialize(nullptr), 0);
    }
    void TearDown() override {
        CoUninitialize();
        m_server.Stop();
        GuiTest::TearDown();
    }
    TestServer m_server;
};

TEST_F(DeepChainTest, FollowsAChainOfFiftyThousandPagesToItsEndInOrder) {
    std::mutex mutex;
    std::vector<int> order;
    order.reserve(kChain);
    long rssAtStart = 0, rssAtEnd = 0;
    m_server.server().Get(
        "/library.html", [&](const httplib::Request& req, httplib::Response& res) {
            int page = std::stoi(req.get_param_value("page"));
            {
                std::lock_guard<std::mutex> lock(mutex);
                order.push_back(page);
                if (page == 2)
                    rssAtStart = ResidentKiB();
                if (page == kChain)
                    rssAtEnd = ResidentKiB(); // the crawl is at its deepest now
            }
            std::string next = std::to_string(page + 1);
            res.set_content(page < kChain
                                ? "<a href=\"/library.html?page=" + next + "\">" + next + "</a>"
                                : std::string("the end"),
                            "text/html");
        });
    m_server.Start();

    CCrawlerDlg dlg;
    dlg.InitDialog();
    dlg.m_editUrl->SetValue(wxString::FromUTF8(m_server.Url("/library.html?page=1")));
    dlg.m_editPath->SetValue(wxString::FromUTF8((m_configHome / "Tones").string()));
    dlg.OnStartCrawl();

    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(order.size(), static_cast<size_t>(kChain));
    for (int i = 0; i < kChain; ++i)
        ASSERT_EQ(order[i], i + 1);
    EXPECT_TRUE(dlg.IsEnabled());
    EXPECT_EQ(dlg.m_pProgress, nullptr);
    std::printf("memory per nesting level: %.1f KiB\n",
                double(rssAtEnd - rssAtStart) / (kChain - 2));
}

} // namespace
