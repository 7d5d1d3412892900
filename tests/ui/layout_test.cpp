// The windows' layouts: texts, ids and tab order as the user meets them, and controls that
// lie inside their window without covering each other.
#include "tests/support/GuiTest.h"
#include "ui/AboutDlg.h"
#include "ui/CrawlerDlg.h"
#include "ui/ProgressDialog.h"

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {
struct Child {
    int id;
    wxString label; // labels of statics and buttons; empty for the others
};

std::vector<Child> TabOrder(wxWindow* dialog) {
    std::vector<Child> children;
    for (wxWindow* child : dialog->GetChildren()) {
        if (child->IsTopLevel() || !child->IsShown())
            continue;
        const bool labelled = dynamic_cast<wxStaticText*>(child) || dynamic_cast<wxButton*>(child);
        children.push_back(
            {child->GetId() < 0 ? -1 : child->GetId(), labelled ? child->GetLabel() : wxString()});
    }
    return children;
}

void ExpectTabOrder(wxWindow* dialog, const std::vector<Child>& expected) {
    const std::vector<Child> actual = TabOrder(dialog);
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].id, expected[i].id) << "position " << i;
        EXPECT_EQ(actual[i].label, expected[i].label) << "position " << i;
    }
}

void ExpectControlsInsideAndApart(wxWindow* dialog) {
    const wxRect client(dialog->GetClientSize());
    std::vector<wxRect> rects;
    for (wxWindow* child : dialog->GetChildren()) {
        if (child->IsTopLevel() || !child->IsShown())
            continue;
        const wxRect rect = child->GetRect();
        EXPECT_TRUE(client.Contains(rect)) << child->GetLabel() << " leaves the window";
        for (const wxRect& other : rects)
            EXPECT_FALSE(rect.Intersects(other))
                << child->GetLabel() << " " << rect.x << "," << rect.y << " " << rect.width << "x"
                << rect.height << " covers " << other.x << "," << other.y << " " << other.width
                << "x" << other.height;
        rects.push_back(rect);
    }
}
} // namespace

using LayoutTest = GuiTest;

TEST_F(LayoutTest, ControlsSitInsideTheirWindowsApartAndInTabOrder) {
    CCrawlerDlg dlg;
    EXPECT_EQ(dlg.GetTitle(), "Patchmere Crawler");
    const std::vector<Child> before = {
        {-1, "Source &URL"}, {1000, ""}, {1002, "Start Crawl"}, {-1, "Save To &Path:"}, {1001, ""},
        {1003, "&Browse"},   {1012, ""},
    };
    ExpectTabOrder(&dlg, before);
    EXPECT_EQ(dlg.m_editUrl->GetId(), 1000);
    EXPECT_EQ(dlg.m_editPath->GetId(), 1001);
    EXPECT_EQ(dlg.m_btnStart->GetId(), 1002);
    EXPECT_EQ(dlg.GetDefaultItem(), dlg.m_btnStart);
    ExpectControlsInsideAndApart(&dlg);
    EXPECT_EQ(dlg.GetClientSize(), dlg.ConvertDialogToPixels(wxSize(320, 100)));

    // After a crawl that left something to retry, the dialog grows by a row of its own.
    dlg.m_szCrawlFolder = u"/tmp";
    dlg.m_engine.m_outcome.m_report.Add({CCrawlEvent::kToneFailed, u"http://h/l6file/a"});
    dlg.ShowAfterCrawl();
    std::vector<Child> after = before;
    after.insert(
        after.end(),
        {{1017, wxString(L"&Details\u2026")}, {1019, "&Retry Failed"}, {1018, "Open &Folder"}});
    ExpectTabOrder(&dlg, after);
    ExpectControlsInsideAndApart(&dlg);

    CAboutDlg about(&dlg);
    ExpectControlsInsideAndApart(&about);

    dlg.Show();
    CProgressDialog progress(&dlg);
    ExpectControlsInsideAndApart(&progress);
    EXPECT_EQ(progress.GetPosition(), dlg.ClientToScreen(wxPoint(0, 0)))
        << "at the owner's client origin";
    dlg.Hide();
}
