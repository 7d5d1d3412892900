// The crawl driver behind "Start Crawl": trimming and cutting of the fields, the folder,
// the remembered values, and the dialog's state during and after a crawl.
#include "crawl/MessagePump.h"
#include "res/resource.h"
#include "tests/support/GuiTest.h"
#include "ui/CrawlerDlg.h"
#include "ui/ProgressDialog.h"

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <fstream>
#include <new>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {
// What the dialog looks like from inside the crawl.
struct CrawlView {
    std::u16string startUrl;
    bool dialogEnabled = true;
    bool progressShown = false;
    wxWindow* progressParent = nullptr;
    bool setsEmpty = false;
};

class CWatchedDlg : public CCrawlerDlg {
public:
    std::vector<CrawlView> m_crawls;
    std::function<void()> m_during; // runs inside the crawl, after the view is taken

protected:
    void RunCrawl(LPCWSTR startUrl) override {
        CrawlView view;
        view.startUrl = startUrl;
        view.dialogEnabled = IsEnabled();
        if (m_pProgress) {
            view.progressShown = m_pProgress->IsShown();
            view.progressParent = m_pProgress->GetParent();
        }
        view.setsEmpty = !m_engine.m_visited.Contains(u"http://old/") &&
                         !m_engine.m_walked.Contains(u"http://old/");
        m_crawls.push_back(view);
        if (m_during)
            m_during();
    }
};

class CrawlDriverTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        m_dlg = std::make_unique<CWatchedDlg>();
        m_dlg->InitDialog();
        m_dlg->m_engine.m_visited.Add(u"http://old/");
        m_dlg->m_engine.m_walked.Add(u"http://old/");
    }
    void TearDown() override {
        m_dlg.reset();
        GuiTest::TearDown();
    }
    void Start(const std::u16string& url, const std::u16string& folder) {
        m_dlg->m_editUrl->SetValue(ToWx(url));
        m_dlg->m_editPath->SetValue(ToWx(folder));
        m_dlg->OnStartCrawl();
    }
    std::u16string Folder(const std::string& name) const {
        return FromWx(wxString::FromUTF8((m_configHome / name).string()));
    }
    void ExpectIdle() {
        EXPECT_TRUE(m_dlg->IsEnabled());
        EXPECT_EQ(m_dlg->m_pProgress, nullptr);
        for (wxWindow* window : wxTopLevelWindows)
            EXPECT_EQ(dynamic_cast<CProgressDialog*>(window), nullptr) << "progress window gone";
    }

    std::unique_ptr<CWatchedDlg> m_dlg;
};
} // namespace

TEST_F(CrawlDriverTest, RunsWithTheTrimmedValuesAndRemembersThem) {
    const std::u16string folder = Folder("new/deeper/tones");
    Start(u" \t http://127.0.0.1:9/library.html?product_id=12 \u00A0", u"  " + folder + u"\t");

    ASSERT_EQ(m_dlg->m_crawls.size(), 1u);
    const CrawlView& view = m_dlg->m_crawls[0];
    EXPECT_EQ(view.startUrl, u"http://127.0.0.1:9/library.html?product_id=12");
    EXPECT_FALSE(view.dialogEnabled) << "no second crawl can start inside the first";
    EXPECT_TRUE(view.progressShown);
    EXPECT_EQ(view.progressParent, m_dlg.get());
    EXPECT_TRUE(view.setsEmpty);
    EXPECT_TRUE(fs::is_directory(m_configHome / "new/deeper/tones")) << "made with its parents";
    EXPECT_EQ(StoredValue("LastURL"), u"http://127.0.0.1:9/library.html?product_id=12");
    EXPECT_EQ(StoredValue("LastPath"), folder);
    EXPECT_TRUE(m_boxes.empty());
    ExpectIdle();
    // The fields keep what was typed.
    EXPECT_EQ(FromWx(m_dlg->m_editPath->GetValue()), u"  " + folder + u"\t");

    // The next start of the dialog offers them.
    CCrawlerDlg next;
    next.InitDialog();
    EXPECT_EQ(FromWx(next.m_editUrl->GetValue()), u"http://127.0.0.1:9/library.html?product_id=12");
    EXPECT_EQ(FromWx(next.m_editPath->GetValue()), folder);
}

TEST_F(CrawlDriverTest, TrailingSlashIsDroppedButTheRootKeepsIt) {
    Start(u"http://a/", Folder("slashed") + u"/");
    EXPECT_TRUE(fs::is_directory(m_configHome / "slashed"));
    EXPECT_EQ(StoredValue("LastPath"), Folder("slashed"));

    Start(u"http://a/", u"/");
    EXPECT_EQ(StoredValue("LastPath"), u"/");
    EXPECT_EQ(m_dlg->m_crawls.size(), 2u);
}

TEST_F(CrawlDriverTest, AFolderTooLongToUseWholeIsRefusedNeverCut) {
    std::u16string folder = Folder("");
    while (folder.size() < 300)
        folder += u"abcdefghi/";
    folder.resize(300);
    Start(u"http://a/", folder);

    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, u"Couldn't create output directory. " + folder +
                                   u": the path is longer than the 259 characters the program "
                                   u"can use.");
    EXPECT_FALSE(fs::exists(ToWx(folder.substr(0, 259)).utf8_string()));
    EXPECT_TRUE(m_dlg->m_crawls.empty());
}

TEST_F(CrawlDriverTest, FolderThatCannotBeMadeShowsOnlyTheMessage) {
    ASSERT_TRUE(theApp().WriteProfileString(u"Config", u"LastURL", u"http://before/"));
    ASSERT_TRUE(theApp().WriteProfileString(u"Config", u"LastPath", u"/before"));
    std::ofstream(m_configHome / "a-file") << "in the way";

    Start(u"http://a/", Folder("a-file/below"));
    // A file where the folder should be cannot hold tones either.
    Start(u"http://a/", Folder("a-file"));

    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[0].text, u"Couldn't create output directory. " + Folder("a-file/below") +
                                   u": Not a directory.");
    EXPECT_EQ(m_boxes[1].text,
              u"Couldn't create output directory. " + Folder("a-file") + u": File exists.");
    EXPECT_EQ(m_boxes[0].caption, u"Patchmere Crawler");
    EXPECT_EQ(m_boxes[0].type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(m_boxes[0].owner, m_dlg.get());
    EXPECT_TRUE(m_dlg->m_crawls.empty());
    EXPECT_EQ(StoredValue("LastURL"), u"http://before/");
    EXPECT_EQ(StoredValue("LastPath"), u"/before");
    EXPECT_TRUE(m_dlg->m_engine.m_visited.Contains(u"http://old/")) << "nothing else changes";
    ExpectIdle();

    // A folder that exists but takes no files (even for root) is refused with its reason.
    Start(u"http://a/", u"/proc");
    ASSERT_EQ(m_boxes.size(), 3u);
    EXPECT_EQ(m_boxes[2].text.rfind(u"Couldn't write to the output directory /proc: ", 0), 0u)
        << ToWx(m_boxes[2].text);
    EXPECT_TRUE(m_dlg->m_crawls.empty());
    EXPECT_EQ(StoredValue("LastPath"), u"/before");
}

TEST_F(CrawlDriverTest, HomeRelativeFoldersAndLeftoversOfAKilledRun) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/root";
    setenv("HOME", m_configHome.c_str(), 1);
    Start(u"http://a/", u"~/Tones");
    EXPECT_TRUE(fs::is_directory(m_configHome / "Tones"));
    EXPECT_EQ(StoredValue("LastPath"), u"~/Tones") << "remembered as typed";

    std::ofstream(m_configHome / "Tones" / ".pm-0123456789abcdef.part") << "half a tone";
    std::ofstream(m_configHome / "Tones" / "kept.l6t") << "a tone";
    Start(u"http://a/", u"Tones");
    EXPECT_FALSE(fs::exists(m_configHome / "Tones" / ".pm-0123456789abcdef.part"));
    EXPECT_TRUE(fs::exists(m_configHome / "Tones" / "kept.l6t"));
    EXPECT_EQ(m_dlg->m_crawls.size(), 2u);
    EXPECT_EQ(FromWx(m_dlg->m_staticOutcome->GetLabel()).rfind(u"0 new tones stored, in 0:00:0", 0),
              0u);
    setenv("HOME", home.c_str(), 1);
}

TEST_F(CrawlDriverTest, IdleStateComesBackWhenTheCrawlThrows) {
    m_dlg->m_during = [] { throw std::bad_alloc(); };
    Start(u"http://a/", Folder("t"));
    ExpectIdle();
    ASSERT_EQ(m_boxes.size(), 1u) << "out of memory is told, and the program goes on";
    EXPECT_EQ(m_boxes[0].owner, m_dlg.get());

    m_dlg->m_during = [] { throw std::runtime_error("other"); };
    Start(u"http://a/", Folder("t"));
    ExpectIdle();
    ASSERT_EQ(m_boxes.size(), 2u) << "any other failure is told too";
    EXPECT_EQ(m_boxes[1].text, u"An unexpected error stopped the crawl.");

    m_dlg->m_during = nullptr;
    Start(u"http://a/", Folder("t"));
    EXPECT_EQ(m_dlg->m_crawls.size(), 3u) << "a new crawl starts normally afterwards";
}

// A real click on Cancel, while the crawl pumps messages inside the main dialog's modal run.
TEST_F(CrawlDriverTest, CancelIsClickableDuringTheCrawl) {
    m_dlg->m_during = [this] {
        CProgressDialog* progress = m_dlg->m_pProgress;
        auto pump = [progress](int passes) {
            for (int pass = 0; pass < passes && !progress->m_bCancel; ++pass)
                PumpOneMessage();
        };
        pump(300); // let the window appear
        // Above the windows of other test programs that share the display; a window that one
        // of them maps just then may still take a click, so the click is tried again.
        wxUIActionSimulator mouse;
        for (int attempt = 0; attempt < 5 && !progress->m_bCancel; ++attempt) {
            progress->Raise();
            pump(100);
            mouse.MouseMove(progress->FindWindow(wxID_CANCEL)->GetScreenRect().GetPosition() +
                            wxPoint(10, 5));
            pump(100);
            mouse.MouseClick();
            pump(3000);
        }
        EXPECT_EQ(progress->m_bCancel, 1);
        EXPECT_TRUE(progress->IsShown()) << "Cancel never closes the window";
    };
    auto runs = WhenModal<CWatchedDlg>([this](CWatchedDlg& running) {
        running.m_editPath->SetValue(ToWx(Folder("t")));
        running.m_editPath->SetFocus();
        running.OnStartCrawl();
        EXPECT_EQ(wxWindow::FindFocus(), running.m_editPath) << "the focus comes back";
        running.EndModal(wxID_CANCEL);
    });
    // Far from where other test programs sharing the display put their windows.
    const wxSize screen = wxGetDisplaySize();
    m_dlg->Move(screen.x - 700, screen.y - 500);
    m_dlg->ShowModal();
    EXPECT_EQ(*runs, 1);
    ExpectIdle();
}
