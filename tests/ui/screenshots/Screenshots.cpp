// Pictures of the program's windows for the documentation: the main dialog, the about box
// and a progress window in the middle of a crawl, saved as PNG files into the folder given
// as the first argument. Run under an X server (scripts/screenshots.sh uses Xvfb).
#include "app/CrawlerApp.h"
#include "platform/clock.h"
#include "ui/AboutDlg.h"
#include "ui/CrawlerDlg.h"
#include "ui/ProgressDialog.h"

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

            CAboutDlg about(&dlg);
            about.Show();
            ok = Capture(&about, out / "about-box.png") && ok;
            about.Hide();

            // A crawl a minute and a half old, told by a clock of our own.
            const int64_t start = GetSystemTimeAsFileTime();
            SetFileTimeForTesting([start] { return start; });
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
            progress.SetProgress(100, 60);
            for (int file = 0; file < 7; ++file)
                progress.UpdateTotals(true);
            SetFileTimeForTesting([start] { return start + 83 * int64_t(10'000'000); });
            progress.UpdateTotals(false);
            progress.FlushRepaints();
            ok = Capture(&progress, out / "progress-window.png") && ok;
            progress.Hide();
            dlg.Hide();
        }
        std::filesystem::remove_all(config);
        return ok ? 0 : 1;
    }
};
} // namespace

wxIMPLEMENT_APP(CScreenshotApp);
