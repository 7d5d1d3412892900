// The crawl driver: "Start Crawl" turns the two fields into a start address and a folder,
// makes sure the folder exists, remembers both, and runs the crawl with the progress window
// open and the main dialog disabled.
#include "app/CrawlerApp.h"
#include "crawl/CrawlStack.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/wx/msgbox.h"
#include "platform/wx/wxtext.h"
#include "ui/CrawlerDlg.h"
#include "ui/ProgressDialog.h"

#include <wx/textctrl.h>
#include <wx/weakref.h>

#include <exception>
#include <memory>
#include <new>

namespace {
std::u16string Trimmed(const wxString& fieldText) {
    std::u16string text = FromWx(fieldText);
    TrimWhiteSpace(text.data());
    text.resize(static_cast<size_t>(lstrlen(text.c_str())));
    return text;
}

// The crawling state for as long as the object lives: the progress window shown and
// focused, the main dialog disabled. Leaving, by return or exception, puts the idle state
// back: dialog enabled, window flushed, hidden and destroyed, m_pProgress null, and the
// keyboard focus where it was (a disabled window loses it for good otherwise).
class CCrawlSession {
public:
    CCrawlSession(wxDialog& dialog, CCrawlEngine& engine)
        : m_dialog(dialog), m_engine(engine), m_pFocus(FocusIn(dialog)),
          m_pWindow(std::make_unique<CProgressDialog>(&dialog)) {
        m_engine.m_pProgress = m_pWindow.get();
        m_pWindow->Show();
        m_pWindow->SetFocus();
        m_dialog.Enable(false);
    }
    ~CCrawlSession() {
        m_dialog.Enable(true);
        m_pWindow->FlushRepaints();
        m_pWindow->Hide();
        m_pWindow.reset();
        m_engine.m_pProgress = nullptr;
        m_dialog.Raise();
        if (m_pFocus)
            m_pFocus->SetFocus();
    }
    CCrawlSession(const CCrawlSession&) = delete;
    CCrawlSession& operator=(const CCrawlSession&) = delete;

private:
    static wxWindow* FocusIn(wxDialog& dialog) {
        wxWindow* focus = wxWindow::FindFocus();
        return focus && dialog.IsDescendant(focus) ? focus : nullptr;
    }

    wxDialog& m_dialog;
    CCrawlEngine& m_engine;
    wxWeakRef<wxWindow> m_pFocus;
    std::unique_ptr<CProgressDialog> m_pWindow;
};
} // namespace

void CCrawlerDlg::OnStartCrawl() {
    // 1. Both fields, trimmed; the fields keep their text.
    const std::u16string startUrl = Trimmed(m_editUrl->GetValue());
    const std::u16string folderText = Trimmed(m_editPath->GetValue());

    // 2. The folder: at most 259 units, without one trailing '/' (the root keeps it).
    WCHAR szFolder[MAX_PATH];
    StrCpyN(szFolder, folderText.c_str(), MAX_PATH);
    PathRemoveBackslash(szFolder);

    // 3. Create it with its parents when nothing is there. A file (or anything else that is
    // no folder) under that name cannot hold tones: a crawl into it would fetch everything
    // and store nothing, so it is refused like a folder that cannot be made.
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    bool bExists = PathFileExists(szFolder);
    bool bFolder = bExists && GetFileAttributesEx(szFolder, &attributes) && attributes.bDirectory;
    if ((bExists && !bFolder) || (!bExists && SHCreateDirectory(nullptr, szFolder) != 0)) {
        MessageBox(this, u"Couldn't create output directory.", u"Patchmere Crawler",
                   MB_OK | MB_ICONERROR);
        return;
    }

    // 4. Remember both.
    theApp().WriteProfileString(u"Config", u"LastURL", startUrl);
    theApp().WriteProfileString(u"Config", u"LastPath", szFolder);

    try {
        // 5-8. Progress window shown and focused, main dialog disabled.
        CCrawlSession session(*this, *this);
        // 9. Every address is fetched again in a new crawl.
        m_visited.Clear();
        m_walked.Clear();
        // 10. On the crawl's own deep stack; an exception comes back out here.
        RunOnCrawlStack([&] { RunCrawl(startUrl.c_str()); });
        // 11-12. The session puts the idle state back.
    } catch (const std::bad_alloc&) {
        // The idle state is back; the program goes on without this crawl.
        MessageBox(this, u"Out of memory: the crawl was stopped.", u"Patchmere Crawler",
                   MB_OK | MB_ICONERROR);
    } catch (const std::exception&) {
        // Nothing else is expected to escape the engine; if it does, the user is told and
        // keeps a working program rather than losing it.
        MessageBox(this, u"An unexpected error stopped the crawl.", u"Patchmere Crawler",
                   MB_OK | MB_ICONERROR);
    }
}
