// The main dialog: what it offers when it opens, when "Start Crawl" may be pressed, the
// folder browser, where the system menu opens and its commands, and how the dialog ends.
#include "res/resource.h"
#include "tests/support/GuiTest.h"
#include "ui/AboutDlg.h"
#include "ui/CrawlerDlg.h"

#include <wx/button.h>
#include <wx/menu.h>
#include <wx/stdpaths.h>
#include <wx/textctrl.h>

namespace fs = std::filesystem;

namespace {
// Counts crawls instead of running one.
class CCountingDlg : public CCrawlerDlg {
public:
    int m_nCrawls = 0;

protected:
    void RunCrawl(LPCWSTR) override { ++m_nCrawls; }
};

// Shows no menu: counts the system menus it is asked for and picks the item labelled
// m_choice, if any, as the user would.
class CMenuCountingDlg : public CCrawlerDlg {
public:
    int m_nSystemMenus = 0;
    wxString m_choice;

protected:
    bool DoPopupMenu(wxMenu* menu, int, int) override {
        if (!menu->FindItem(IDM_ABOUTBOX))
            return true;
        ++m_nSystemMenus;
        const int id = m_choice.empty() ? wxNOT_FOUND : menu->FindItem(m_choice);
        if (id != wxNOT_FOUND)
            menu->SendEvent(id);
        return true;
    }
};

class CrawlerDlgTest : public GuiTest {
protected:
    void Open(CCrawlerDlg& dlg) { dlg.InitDialog(); }
    void PressEnterIn(wxTextCtrl* field) {
        wxCommandEvent enter(wxEVT_TEXT_ENTER, field->GetId());
        enter.SetEventObject(field);
        field->ProcessWindowEvent(enter);
    }
};
} // namespace

TEST_F(CrawlerDlgTest, FirstOpenOffersTheDefaults) {
    CCrawlerDlg dlg;
    Open(dlg);
    EXPECT_EQ(FromWx(dlg.m_editUrl->GetValue()),
              u"http://www.patchmere.example/library.html?product_id=12");
    const std::u16string documents = FromWx(wxStandardPaths::Get().GetDocumentsDir());
    EXPECT_EQ(FromWx(dlg.m_editPath->GetValue()), documents + u"/Patchmere Downloads");
    EXPECT_TRUE(dlg.m_btnStart->IsEnabled());
    EXPECT_TRUE(fs::is_regular_file(SettingsFile())) << "reading creates the location";
}

TEST_F(CrawlerDlgTest, EmptyStoredUrlGivesAnEmptyFieldAndNoStart) {
    ASSERT_TRUE(theApp().WriteProfileString(u"Config", u"LastURL", u""));
    CCrawlerDlg dlg;
    Open(dlg);
    EXPECT_EQ(dlg.m_editUrl->GetValue(), "");
    EXPECT_FALSE(dlg.m_btnStart->IsEnabled());
    dlg.m_editUrl->SetValue("h");
    EXPECT_TRUE(dlg.m_btnStart->IsEnabled()) << "typing a character enables it";
}

TEST_F(CrawlerDlgTest, StartIsEnabledExactlyWhileBothFieldsHoldNonBlankText) {
    struct Case {
        std::u16string url, path;
        bool enabled;
    };
    const Case cases[] = {
        {u"http://a/", u"/tmp/x", true},
        {u"", u"/tmp/x", false},
        {u"http://a/", u"", false},
        {u"   ", u"/tmp/x", false},
        {u"http://a/", u"\t\t", false},
        {u"\u00A0\u00A0", u"/tmp/x", false},
        {u" \t\u00A0\r\n", u"/tmp/x", false},
        {u"\u3000", u"/tmp/x", false}, // ideographic space
        {u"  http://a/  ", u"\t/tmp/x ", true},
        {u"x", u"y", true},
        {u"\u200B", u"/tmp/x", true}, // zero-width space is not white space
    };
    CCrawlerDlg dlg;
    Open(dlg);
    for (const Case& c : cases) {
        dlg.m_editUrl->SetValue(ToWx(c.url));
        dlg.m_editPath->SetValue(ToWx(c.path));
        EXPECT_EQ(dlg.m_btnStart->IsEnabled(), c.enabled)
            << ToWx(c.url).utf8_string() << " | " << ToWx(c.path).utf8_string();
        EXPECT_EQ(FromWx(dlg.m_editUrl->GetValue()), c.url) << "the text is left as typed";
        EXPECT_EQ(FromWx(dlg.m_editPath->GetValue()), c.path);
    }
    // Clearing one field disables at once; refilling it enables again.
    dlg.m_editPath->Clear();
    EXPECT_FALSE(dlg.m_btnStart->IsEnabled());
    dlg.m_editPath->AppendText("/");
    EXPECT_TRUE(dlg.m_btnStart->IsEnabled());
}

TEST_F(CrawlerDlgTest, EnterStartsACrawlOnlyWhileStartIsEnabled) {
    CCountingDlg dlg;
    Open(dlg);
    dlg.m_editPath->SetValue(ToWx(m_configHome.u16string() + u"/tones"));
    PressEnterIn(dlg.m_editUrl);
    EXPECT_EQ(dlg.m_nCrawls, 1);
    PressEnterIn(dlg.m_editPath);
    EXPECT_EQ(dlg.m_nCrawls, 2);

    dlg.m_editUrl->SetValue("   ");
    PressEnterIn(dlg.m_editUrl);
    PressEnterIn(dlg.m_editPath);
    EXPECT_EQ(dlg.m_nCrawls, 2);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(CrawlerDlgTest, BrowseReplacesTheFolderOnlyWhenOneIsChosen) {
    CCrawlerDlg dlg;
    Open(dlg);
    dlg.m_editPath->SetValue("/keep/this");

    m_browseAnswer = std::nullopt; // cancelled
    dlg.OnBrowse();
    EXPECT_EQ(dlg.m_editPath->GetValue(), "/keep/this");
    EXPECT_EQ(m_browseTitle, u"Select the folder where you want Patchmere files stored");
    EXPECT_EQ(m_browseOwner, &dlg);

    dlg.m_editPath->SetValue("");
    ASSERT_FALSE(dlg.m_btnStart->IsEnabled());
    m_browseAnswer = u"/home/someone/Tones \u00E9";
    wxCommandEvent click(wxEVT_BUTTON, IDC_BROWSE);
    dlg.FindWindow(IDC_BROWSE)->ProcessWindowEvent(click);
    EXPECT_EQ(FromWx(dlg.m_editPath->GetValue()), u"/home/someone/Tones \u00E9");
    EXPECT_TRUE(dlg.m_btnStart->IsEnabled()) << "the choice re-evaluates Start Crawl";
}

TEST_F(CrawlerDlgTest, AboutCommandsOpenTheAboutBoxAndOthersDoNot) {
    CCrawlerDlg dlg;
    Open(dlg);
    std::vector<std::u16string> seen;
    auto abouts = WhenModal<CAboutDlg>(
        [&](CAboutDlg& about) {
            seen.push_back(FromWx(about.GetTitle()));
            EXPECT_EQ(about.GetEscapeId(), wxID_OK) << "Escape closes it like OK";
            EXPECT_EQ(about.GetParent(), &dlg);
            about.EndModal(wxID_OK);
        },
        2);
    dlg.OnSysCommand(0x0010, 0);
    dlg.OnSysCommand(0x001F, 0);
    EXPECT_EQ(*abouts, 2);
    EXPECT_EQ(seen, (std::vector<std::u16string>{u"About Patchmere Crawler",
                                                 u"About Patchmere Crawler"}));

    EXPECT_EQ(CAboutDlg::ProductLine(), u"Patchmere Crawler Version 1.0");

    dlg.OnSysCommand(0x0020, 0); // not ours: the default handling, which ignores it
    EXPECT_EQ(*abouts, 2);
}

TEST_F(CrawlerDlgTest, TextFieldsKeepTheirOwnContextMenu) {
    CMenuCountingDlg dlg;
    Open(dlg);
    // Handled means the dialog took it; left unhandled, the toolkit shows the field's menu.
    auto contextMenuIn = [](wxWindow* source) {
        wxContextMenuEvent event(wxEVT_CONTEXT_MENU, source->GetId(), wxDefaultPosition);
        event.SetEventObject(source);
        return source->ProcessWindowEvent(event);
    };
    EXPECT_FALSE(contextMenuIn(dlg.m_editUrl));
    EXPECT_FALSE(contextMenuIn(dlg.m_editPath));
    EXPECT_EQ(dlg.m_nSystemMenus, 0);

    EXPECT_TRUE(contextMenuIn(&dlg)); // the background
    EXPECT_TRUE(contextMenuIn(dlg.m_btnStart));
    EXPECT_EQ(dlg.m_nSystemMenus, 2);
}

TEST_F(CrawlerDlgTest, F1OpensTheSystemMenuAnywhereAndTheMenuKeyOnlyOutsideTextFields) {
    CMenuCountingDlg dlg;
    Open(dlg);
    auto press = [](wxWindow* focused, int key, bool shift = false) {
        wxKeyEvent event(wxEVT_CHAR_HOOK);
        event.m_keyCode = key;
        event.m_shiftDown = shift;
        event.SetEventObject(focused);
        return focused->ProcessWindowEvent(event);
    };
    EXPECT_TRUE(press(dlg.m_editUrl, WXK_F1));
    EXPECT_TRUE(press(&dlg, WXK_F1));
    EXPECT_EQ(dlg.m_nSystemMenus, 2);

    EXPECT_FALSE(press(dlg.m_editUrl, WXK_MENU)) << "left to the field's own menu";
    EXPECT_FALSE(press(dlg.m_editPath, WXK_F10, true));
    EXPECT_EQ(dlg.m_nSystemMenus, 2);

    EXPECT_TRUE(press(dlg.m_btnStart, WXK_MENU));
    EXPECT_TRUE(press(dlg.FindWindow(IDC_BROWSE), WXK_F10, true));
    EXPECT_EQ(dlg.m_nSystemMenus, 4);

    dlg.m_choice = "About Patchmere Crawler...";
    auto abouts = WhenModal<CAboutDlg>([](CAboutDlg& about) { about.EndModal(wxID_OK); });
    press(dlg.m_editPath, WXK_F1);
    EXPECT_EQ(*abouts, 1);
}

TEST_F(CrawlerDlgTest, EscapeAndTheCloseCommandEndTheModalRun) {
    for (int way = 0; way < 3; ++way) {
        CMenuCountingDlg dlg;
        dlg.m_choice = "Close";
        auto runs = WhenModal<CCrawlerDlg>([way](CCrawlerDlg& running) {
            if (way == 0) {
                wxKeyEvent escape(wxEVT_CHAR_HOOK);
                escape.m_keyCode = WXK_ESCAPE;
                escape.SetEventObject(&running);
                running.ProcessWindowEvent(escape);
            } else if (way == 1) {
                running.ShowSystemMenu(); // Close chosen from it
            } else {
                running.Close(); // the close box
            }
        });
        EXPECT_EQ(dlg.ShowModal(), wxID_CANCEL) << "way " << way;
        EXPECT_EQ(*runs, 1);
    }
}

TEST(MinimisedIcon, IsCentredWithTruncatingDivision) {
    const wxSize icon(32, 32);
    EXPECT_EQ(MinimisedIconPosition(wxSize(36, 36), icon), wxPoint(2, 2));
    EXPECT_EQ(MinimisedIconPosition(wxSize(35, 35), icon), wxPoint(2, 2));
    EXPECT_EQ(MinimisedIconPosition(wxSize(33, 33), icon), wxPoint(1, 1));
    EXPECT_EQ(MinimisedIconPosition(wxSize(30, 30), icon), wxPoint(0, 0));
}
