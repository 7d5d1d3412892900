// Start-up of the whole program: the runtime, the settings location, the main dialog's modal
// run and the tear-down.
#include "platform/com/com.h"
#include "tests/support/GuiTest.h"
#include "ui/CrawlerDlg.h"

#include <wx/button.h>
#include <wx/textctrl.h>

namespace fs = std::filesystem;

namespace {
class StartupTest : public GuiTest {
protected:
    void TearDown() override {
        SetCoInitializeFailureForTesting(S_OK);
        GuiTest::TearDown();
    }
};
} // namespace

TEST_F(StartupTest, RuntimeFailureShowsTheMessageAndOpensNoWindow) {
    SetCoInitializeFailureForTesting(E_FAIL);
    auto dialogs = WhenModal<wxDialog>([](wxDialog& dialog) { dialog.EndModal(wxID_CANCEL); });

    EXPECT_EQ(theApp().OnRun(), 1) << "a failed start ends with a failure code";

    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, u"Error initializing COM - ruh-roh!");
    EXPECT_EQ(m_boxes[0].caption, theApp().GetApplicationName());
    EXPECT_EQ(m_boxes[0].caption, u"test_app"); // the executable's name
    EXPECT_EQ(m_boxes[0].type, MB_OK | MB_ICONEXCLAMATION);
    EXPECT_EQ(m_boxes[0].owner, nullptr);
    EXPECT_EQ(*dialogs, 0);
}

TEST_F(StartupTest, FirstStartShowsDefaultsCreatesTheLocationAndWritesNothing) {
    const fs::path file = m_configHome / "Patchmere Crawler" / "test_app.conf";
    std::u16string url, folder;
    bool startEnabled = false;
    auto runs = WhenModal<CCrawlerDlg>([&](CCrawlerDlg& dlg) {
        url = FromWx(dlg.m_editUrl->GetValue());
        folder = FromWx(dlg.m_editPath->GetValue());
        startEnabled = dlg.m_btnStart->IsEnabled();
        EXPECT_TRUE(fs::is_regular_file(file)) << "created when the dialog opens";
        dlg.Close(); // the close box ends the program
    });

    EXPECT_EQ(theApp().OnRun(), 0) << "closing the dialog ends the program normally";

    EXPECT_EQ(*runs, 1);
    EXPECT_EQ(url, u"http://www.patchmere.example/library.html?product_id=12");
    EXPECT_EQ(folder, CCrawlerDlg::DefaultFolder());
    EXPECT_TRUE(startEnabled);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(fs::file_size(file), 0u) << "nothing is written at exit";
}

TEST_F(StartupTest, StoredValuesAreShownAndAnAlreadyStartedRuntimeIsFine) {
    ASSERT_TRUE(theApp().WriteProfileString(u"Config", u"LastURL", u" http://127.0.0.1/x "));
    ASSERT_TRUE(theApp().WriteProfileString(u"Config", u"LastPath", u"/tmp/tones"));
    ASSERT_GE(CoInitialize(nullptr), 0); // start-up then sees S_FALSE

    std::u16string url, folder;
    auto runs = WhenModal<CCrawlerDlg>([&](CCrawlerDlg& dlg) {
        url = FromWx(dlg.m_editUrl->GetValue());
        folder = FromWx(dlg.m_editPath->GetValue());
        dlg.EndModal(wxID_CANCEL);
    });
    EXPECT_FALSE(theApp().InitInstance());
    CoUninitialize();

    EXPECT_EQ(*runs, 1);
    EXPECT_EQ(url, u" http://127.0.0.1/x ");
    EXPECT_EQ(folder, u"/tmp/tones");
    EXPECT_TRUE(m_boxes.empty());
}
