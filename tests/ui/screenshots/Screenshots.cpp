// Pictures of the program's windows for the documentation: the main dialog, the about box
// and a progress window in the middle of a crawl, saved as PNG files into the folder given
// as the first argument. Run under an X server (scripts/screenshots.sh uses Xvfb).
#include "app/CrawlerApp.h"
#include "platform/clock.h"
#include "ui/AboutDlg.h"
#include "ui/CrawlerDlg.h"
#include "ui/ProgressDialog.h"
#include "ui/ReportDlg.h"

#include <wx/utils.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {
// Lets the toolkit draw what was just shown; real time is what the X server needs here.
void LetItPaint() {
    for (int pass = 0; pass < 40; ++pass) {
        wxTheApp->Yield(true);
        wxMilliSleep(10);
    }
}

bool Capture(wxWindow* window, const std::filesystem::path& file) {
    LetItPaint();
    const wxRect r = window->GetScreenRect();
    const std::string command = "import -window root -crop " + std::to_string(r.width) + "x" +
                                std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
                                std::to_string(r.y) + " +repage '" + file.string() + "'";
    std::printf("%s\n", file.c_str());
    return std::system(command.c_str()) == 0;
}

class CScreenshotApp : public CCrawlerApp {
public:
    int OnRun() override {
        const std::filesystem::path out = argc > 1 ? argv[1].utf8_string() : "screenshots";
        std::filesystem::create_directories(out);
        // Fresh settings, so the pictures show the defaults.
        const auto config = std::filesystem::temp_directory_path() /
                            ("pm-screenshots-" + std::to_string(::getpid()));
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        SetRegistryKey(u"Patchmere Crawler");

        bool ok = true;
        {
            CCrawlerDlg dlg;
            dlg.InitDialog();
            dlg.SetOutcome(u"35 new tones stored, 12 already there, 1 failed, in 0:00:07");
            dlg.Show();
            ok = Capture(&dlg, out / "main-dialog.png") && ok;

            // After a crawl in which tones failed: the report, its retry and the folder.
            const std::u16string site = u"http://127.0.0.1:8080";
            CCrawlReport& report = dlg.m_engine.m_outcome.m_report;
            report.Add({CCrawlEvent::kToneFailed, site + u"/l6file?id=7&pmw_filename=Pad.l6t",
                        u"Pad.l6t", u"HTTP 503 Service Unavailable"});
            report.Add({CCrawlEvent::kToneFailed, site + u"/l6file?id=9&pmw_filename=Lead.l6t",
                        u"Lead.l6t", u"the server stopped sending it, three times"});
            report.Add({CCrawlEvent::kPageCut,
                        site + u"/library.html?product_id=12&page=8",
                        {},
                        u"Only the first 20000 links of this page were read: it has more than "
                        u"the program reads from one page."});
            dlg.m_szCrawlFolder = u"/home/user/Documents/Patchmere Downloads";
            dlg.SetOutcome(u"35 new tones stored, 12 already there, 2 failed, 1 page too large "
                           u"to read whole, in 0:01:23; couldn't fetch \"Pad.l6t\": HTTP 503 "
                           u"Service Unavailable");
            dlg.ShowAfterCrawl();
            ok = Capture(&dlg, out / "main-dialog-after-crawl.png") && ok;
            CReportDlg details(&dlg, report.Text());
            details.Show();
            ok = Capture(&details, out / "crawl-report.png") && ok;
            details.Hide();

            CAboutDlg about(&dlg);
            about.Show();
            ok = Capture(&about, out / "about-box.png") && ok;
            about.Hide();

            // A crawl a minute and a half old, told by a clock of our own.
            const int64_t start = GetSystemTimeAsFileTime();
            SetFileTimeForTesting([start] { return start; });
            uint32_t tick = 1000;
            SetTickCountForTesting([&tick] { return tick; });
            CProgressDialog progress(&dlg);
            progress.Show();
            progress.SetPageStatus(u"Downloading page\r\n"
                                   u"http://127.0.0.1:8080/library.html?product_id=12&page=3");
            progress.SetToneStatus(
                u"Downloading Bright Pad.l6t\r\n"
                u"http://127.0.0.1:8080/l6file?id=42&pmw_filename=Bright+Pad.l6t");
            for (const char16_t* line :
                 {u"OnStartBinding", u"OnProgress(1): 127.0.0.1", u"OnProgress(2): 127.0.0.1",
                  u"OnProgress(11): ", u"OnProgress(13): application/octet-stream",
                  u"OnProgress(4): http://127.0.0.1:8080/l6file?id=42"})
                progress.AppendLog(line);
            // 12 of at least 40 pages in 83 seconds, 2.1 MB in the last few.
            progress.OnCrawlEvent(
                {.m_kind = CCrawlEvent::kPageWalked, .m_nPagesWalked = 12, .m_nPagesKnown = 40});
            for (int file = 0; file < 35; ++file)
                progress.OnCrawlEvent({CCrawlEvent::kToneStored});
            for (int file = 0; file < 12; ++file)
                progress.OnCrawlEvent({CCrawlEvent::kToneAlreadyThere});
            progress.OnCrawlEvent({CCrawlEvent::kToneFailed});
            tick += 80000;
            progress.SetProgress(100, 1);
            progress.UpdateTotals(false);
            tick += 3000;
            progress.SetProgress(4000000, 2200000);
            progress.SetProgress(100, 60);
            for (int file = 0; file < 7; ++file)
                progress.UpdateTotals(true);
            SetFileTimeForTesting([start] { return start + 83 * int64_t(10'000'000); });
            progress.UpdateTotals(false);
            progress.FlushRepaints();
            ok = Capture(&progress, out / "progress-window.png") && ok;
            progress.Hide();
            SetTickCountForTesting({});
            dlg.Hide();
        }
        std::filesystem::remove_all(config);
        return ok ? 0 : 1;
    }
};
} // namespace

wxIMPLEMENT_APP(CScreenshotApp);
