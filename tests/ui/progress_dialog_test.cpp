// The progress window: what it holds after each operation, the totals line under a clock
// the test owns, repaints within a frame, and Cancel.
#include "platform/wx/wxtext.h"
#include "tests/support/GuiTest.h"
#include "tests/support/PumpUntil.h"
#include "ui/ProgressDialog.h"
#include "ui/TextBox.h"

#include <gtk/gtk.h>
#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>

namespace {
constexpr int64_t kSecond = 10'000'000;
constexpr int64_t kStart = 130'000'000'000'000'000; // some day in 2012, in file time

class ProgressTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        SetFileTimeForTesting([this] { return m_fileTime; });
        SetTickCountForTesting([this] { return m_tick; });
        m_owner = std::make_unique<wxDialog>(nullptr, wxID_ANY, "owner");
        m_progress = std::make_unique<CProgressDialog>(m_owner.get());
    }
    void TearDown() override {
        m_progress.reset();
        m_owner.reset();
        GuiTest::TearDown();
    }
    wxString Native(int id) const {
        return ToWx(static_cast<CTextBox*>(m_progress->FindWindow(id))->GetText());
    }

    int64_t m_fileTime = kStart;
    uint32_t m_tick = 1000;
    std::unique_ptr<wxDialog> m_owner;
    std::unique_ptr<CProgressDialog> m_progress;
};
} // namespace

TEST_F(ProgressTest, OperationsChangeWhatTheWindowHolds) {
    EXPECT_FALSE(m_progress->IsShown()) << "created hidden; the driver shows it";
    EXPECT_EQ(m_progress->GetTotalsText(), u"") << "blank until the first refresh";
    m_progress->SetPageStatus(u"Downloading page\r\nhttp://a/library.html");
    m_progress->SetToneStatus(u"Tone one\r\nhttp://a/l6file?x");
    EXPECT_EQ(m_progress->GetPageStatusText(), u"Downloading page\r\nhttp://a/library.html");
    EXPECT_EQ(m_progress->GetToneStatusText(), u"Tone one\r\nhttp://a/l6file?x");

    m_progress->AppendLog(u"x");
    EXPECT_EQ(m_progress->GetLogText(), u"x");
    m_progress->AppendLog(u"y");
    EXPECT_EQ(m_progress->GetLogText(), u"x\r\ny");
    m_progress->AppendLog(nullptr);
    EXPECT_EQ(m_progress->GetLogText(), u"x\r\ny\r\n") << "a null text adds an empty line";
    m_progress->ClearLog();
    EXPECT_EQ(m_progress->GetLogText(), u"");
    m_progress->AppendLog(nullptr);
    EXPECT_EQ(m_progress->GetLogText(), u"") << "nothing to separate from";

    m_progress->SetProgress(4'000'000'000u, 3'000'000'000u); // beyond the native int range
    EXPECT_EQ(m_progress->GetProgressMax(), 4'000'000'000u);
    EXPECT_EQ(m_progress->GetProgressPos(), 3'000'000'000u);
    auto* bar = static_cast<wxGauge*>(m_progress->FindWindow(1007));
    m_progress->FlushRepaints();
    EXPECT_GT(bar->GetValue(), 0);
    EXPECT_LE(bar->GetValue(), bar->GetRange());
    m_progress->SetProgress(0, 0); // unknown size
    m_progress->SetProgress(100, 0);
    m_progress->FlushRepaints();
    EXPECT_EQ(m_progress->GetProgressMax(), 100u);
    EXPECT_EQ(m_progress->GetProgressPos(), 0u);
    EXPECT_EQ(bar->GetValue(), 0);
    m_progress->SetToneStatus(u"");
    EXPECT_EQ(m_progress->GetToneStatusText(), u"");
}

TEST_F(ProgressTest, TotalsLineCountsFilesAndTime) {
    m_progress->SetPageStatus(u"p"); // every operation ends with UpdateTotals(false)
    EXPECT_EQ(m_progress->GetTotalsText(), u"0 new files downloaded, elapsed time is 0:00:00");

    struct Step {
        int64_t elapsed;
        bool countOne;
        std::u16string line;
    };
    const Step steps[] = {
        {2 * kSecond, true, u"1 new file downloaded, elapsed time is 0:00:02"},
        {4 * kSecond, true, u"2 new files downloaded, elapsed time is 0:00:04"},
        {(3600 + 2 * 60 + 3) * kSecond, false, u"2 new files downloaded, elapsed time is 1:02:03"},
        {100 * 3600 * kSecond, false, u"2 new files downloaded, elapsed time is 100:00:00"},
    };
    for (const Step& step : steps) {
        m_fileTime = kStart + step.elapsed;
        m_progress->UpdateTotals(step.countOne);
        EXPECT_EQ(m_progress->GetTotalsText(), step.line);
    }
}

TEST_F(ProgressTest, TotalsLineIsRewrittenAtMostOnceASecond) {
    m_progress->UpdateTotals(false); // the first call always refreshes
    const std::u16string first = u"0 new files downloaded, elapsed time is 0:00:00";
    ASSERT_EQ(m_progress->GetTotalsText(), first);

    // Two files 0.2 s apart, right after the refresh: counted, not shown.
    m_fileTime += 2 * kSecond / 10;
    m_progress->UpdateTotals(true);
    m_fileTime += 2 * kSecond / 10;
    m_progress->UpdateTotals(true);
    EXPECT_EQ(m_progress->m_nNewFiles, 2);
    EXPECT_EQ(m_progress->GetTotalsText(), first);

    m_fileTime = kStart + kSecond; // exactly one second: not yet later than the next refresh
    m_progress->UpdateTotals(false);
    EXPECT_EQ(m_progress->GetTotalsText(), first);
    m_fileTime = kStart + kSecond + 1;
    m_progress->UpdateTotals(false);
    EXPECT_EQ(m_progress->GetTotalsText(), u"2 new files downloaded, elapsed time is 0:00:01");

    // The clock set back an hour: no refresh until it passes the last one plus a second.
    const int64_t lastRefresh = m_fileTime;
    m_fileTime -= 3600 * kSecond;
    m_progress->UpdateTotals(true);
    m_fileTime = lastRefresh + kSecond;
    m_progress->UpdateTotals(true);
    EXPECT_EQ(m_progress->GetTotalsText(), u"2 new files downloaded, elapsed time is 0:00:01");
    EXPECT_EQ(m_progress->m_nNewFiles, 4) << "counting goes on";
    m_fileTime = lastRefresh + kSecond + 1;
    m_progress->UpdateTotals(false);
    EXPECT_EQ(m_progress->GetTotalsText(), u"4 new files downloaded, elapsed time is 0:00:02");
}

TEST_F(ProgressTest, ChangesReachTheScreenWithinAFrame) {
    m_progress->AppendLog(u"one");
    EXPECT_EQ(Native(1008), "one") << "the first change is shown at once";

    m_tick += 5;
    m_progress->AppendLog(u"two");
    m_progress->SetPageStatus(u"page");
    EXPECT_EQ(Native(1008), "one") << "within the frame: deferred";
    EXPECT_EQ(Native(1005), "") << "the window's frame holds for every box";

    m_tick += 11; // the frame is over: the next operation shows every deferred change
    m_progress->SetToneStatus(u"tone");
    EXPECT_EQ(Native(1008), "one\r\ntwo");
    EXPECT_EQ(Native(1005), "page");
    EXPECT_EQ(Native(1006), "tone");

    auto* log = static_cast<CTextBox*>(m_progress->FindWindow(1008));
    log->SelectAll(); // the user's selection survives the lines that come after it
    m_tick += 1;
    m_progress->AppendLog(u"three");
    m_progress->SetToneStatus(u"tone 2");
    m_progress->UpdateTotals(false);
    EXPECT_EQ(Native(1008), "one\r\ntwo");
    m_progress->FlushRepaints(); // before the window goes
    EXPECT_EQ(Native(1008), "one\r\ntwo\r\nthree");
    EXPECT_EQ(log->GetSelectedText(), u"one\r\ntwo");
    EXPECT_EQ(Native(1006), "tone 2");

    m_tick += 100; // a pump pass after the frame shows a deferred change
    m_progress->ClearLog();
    m_tick += 1;
    m_progress->AppendLog(u"four");
    EXPECT_EQ(Native(1008), "");
    m_tick += 20;
    m_progress->UpdateTotals(false);
    EXPECT_EQ(Native(1008), "four");
}

// Readers find the boxes by their names and are told of a change when it reaches the screen:
// a text replaced within a frame is never shown, so it is never told either.
TEST_F(ProgressTest, ReadersAreToldOfAChangeWhenItIsShown) {
    auto accessible = [this](int id) {
        return gtk_widget_get_accessible(
            static_cast<GtkWidget*>(m_progress->FindWindow(id)->GetHandle()));
    };
    EXPECT_STREQ(atk_object_get_name(accessible(1005)), "Page");
    EXPECT_STREQ(atk_object_get_name(accessible(1006)), "Tone");
    EXPECT_STREQ(atk_object_get_name(accessible(1008)), "Log");

    AtkObject* page = accessible(1005);
    std::vector<std::string> told;
    g_signal_connect(page, "text-insert",
                     G_CALLBACK(+[](AtkObject*, gint, gint, gchar* text, gpointer told) {
                         static_cast<std::vector<std::string>*>(told)->push_back(text);
                     }),
                     &told);
    m_progress->SetPageStatus(u"Downloading page\r\nhttp://a/1");
    EXPECT_EQ(told, std::vector<std::string>{"Downloading page\nhttp://a/1"});
    m_tick += 5;
    m_progress->SetPageStatus(u"Walking links on\r\nhttp://a/1");
    m_progress->SetPageStatus(u"Downloading page\r\nhttp://a/2");
    EXPECT_EQ(told.size(), 1u) << "within the frame";
    m_tick += 11;
    m_progress->UpdateTotals(false);
    EXPECT_EQ(told, (std::vector<std::string>{"Downloading page\nhttp://a/1",
                                              "Downloading page\nhttp://a/2"}));
    g_signal_handlers_disconnect_by_data(page, &told);
}

TEST_F(ProgressTest, CancelAndTheCloseBoxOnlyRaiseTheFlag) {
    m_progress->Show();
    wxWindow* cancel = m_progress->FindWindow(wxID_CANCEL);
    for (int press = 0; press < 2; ++press) {
        wxCommandEvent click(wxEVT_BUTTON, wxID_CANCEL);
        click.SetEventObject(cancel);
        cancel->ProcessWindowEvent(click);
        EXPECT_EQ(m_progress->m_bCancel, 1);
        EXPECT_TRUE(m_progress->IsShown());
    }

    CProgressDialog other(m_owner.get());
    other.Show();
    EXPECT_FALSE(other.Close()) << "the close box is refused";
    EXPECT_EQ(other.m_bCancel, 1);
    EXPECT_TRUE(other.IsShown());
    EXPECT_FALSE(other.IsBeingDeleted());
}

namespace {
// A long run of pages without a tone never empties the log: what is kept and handed to the
// box stays bounded, and the box holds it from its beginning.
TEST_F(ProgressTest, AnEndlessLogStaysBoundedAndShowsItsBeginning) {
    std::u16string line(100, u'n');
    for (int i = 0; i < 20000; ++i)
        m_progress->AppendLog(i == 0 ? u"first line" : line.c_str());
    m_progress->FlushRepaints();
    EXPECT_LE(m_progress->GetLogText().size(), 1024u * 1024u + 200u);
    wxString shown = Native(1008);
    EXPECT_TRUE(shown.StartsWith("first line\n") || shown.StartsWith("first line\r\n"));
    EXPECT_EQ(shown.size(), m_progress->GetLogText().size());
    m_progress->ClearLog();
    m_progress->AppendLog(u"after");
    m_progress->FlushRepaints();
    EXPECT_EQ(Native(1008), "after");
}
} // namespace

// Real keys, as a user presses them: Tab walks the boxes in their order, and Escape in a box
// is the window's cancel command.
TEST_F(ProgressTest, TabWalksTheBoxesAndEscapeCancels) {
    m_progress->SetPageStatus(u"Downloading page\r\nhttp://127.0.0.1/library.html");
    m_progress->Show();
    wxWindow* page = m_progress->FindWindow(1005);
    wxWindow* tone = m_progress->FindWindow(1006);
    ASSERT_TRUE(
        PumpUntil([this] { return m_progress->IsShownOnScreen(); }, std::chrono::seconds(10)));
    wxUIActionSimulator keys;
    // Without a window manager the keys go where the pointer is; a click gives the focus.
    keys.MouseMove(page->GetScreenRect().GetPosition() + wxPoint(5, 5));
    keys.MouseClick();
    ASSERT_TRUE(
        PumpUntil([page] { return wxWindow::FindFocus() == page; }, std::chrono::seconds(10)))
        << "a click gives a box the focus";

    keys.Char(WXK_TAB);
    EXPECT_TRUE(
        PumpUntil([tone] { return wxWindow::FindFocus() == tone; }, std::chrono::seconds(10)));
    keys.Char(WXK_ESCAPE);
    EXPECT_TRUE(PumpUntil([this] { return m_progress->m_bCancel == 1; }, std::chrono::seconds(10)));
    EXPECT_TRUE(m_progress->IsShown()) << "Escape asks the crawl to stop, the window stays";
}
