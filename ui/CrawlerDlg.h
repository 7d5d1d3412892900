// The main dialog: start URL, target folder, "Start Crawl" and "&Browse". It holds the crawl
// engine and runs the crawl inside its "Start Crawl" handler.
#pragma once

#include "crawl/CrawlEngine.h"
#include "platform/com/com.h"

#include <wx/dialog.h>
#include <wx/iconbndl.h>

#include <cstdint>
#include <functional>
#include <string>

class CProgressDialog;
class wxButton;
class wxStaticText;
class wxTextCtrl;

using LPARAM = intptr_t;

// Where the minimised window draws its icon: centred, rounding half a pixel up, with
// divisions that truncate toward zero.
wxPoint MinimisedIconPosition(const wxSize& client, const wxSize& icon);

class CCrawlerDlg : public wxDialog {
public:
    static constexpr char16_t kDefaultUrl[] =
        u"http://www.patchmere.example/library.html?product_id=12";
    static constexpr char16_t kDefaultFolderName[] = u"Patchmere Downloads";

    explicit CCrawlerDlg(wxWindow* pParent = nullptr);
    ~CCrawlerDlg() override;

    // The documents folder's "Patchmere Downloads" (the bare name without a documents
    // folder).
    static std::u16string DefaultFolder();

    // Command handlers.
    void OnChangeFields();
    void OnBrowse();
    void OnStartCrawl();
    // After a crawl: its report as a list, its failed tones fetched again, its folder shown.
    void OnDetails();
    void OnRetryFailed();
    void OnOpenFolder();
    void OnSysCommand(UINT nID, LPARAM lParam);
    // The system menu (the title-bar menu the window manager does not offer), at a point in
    // client coordinates or, by default, under the mouse.
    void ShowSystemMenu(const wxPoint& where = wxDefaultPosition);

    // The line below the fields that keeps what the last crawl did.
    void SetOutcome(const std::u16string& text);
    // What the last crawl offers below that line: its report, a retry, its folder.
    void ShowAfterCrawl();

    wxTextCtrl* m_editUrl = nullptr;
    wxTextCtrl* m_editPath = nullptr;
    wxButton* m_btnStart = nullptr;
    wxStaticText* m_staticOutcome = nullptr;
    wxButton* m_btnDetails = nullptr;
    wxButton* m_btnRetryFailed = nullptr;
    wxButton* m_btnOpenFolder = nullptr;
    // The running crawl's progress window; the engine reports to it. Null between crawls.
    CProgressDialog* m_pProgress = nullptr;

    // The engine, reading the folder field each time it stores a tone (the field cannot
    // change during a crawl: the dialog is disabled).
    class CEngine final : public CCrawlEngine {
    public:
        explicit CEngine(const CCrawlerDlg& dialog) : m_dialog(dialog) {}

        // A retry stores into the crawl's folder, whatever the field says since.
        std::u16string m_szRetryFolder;

    private:
        std::u16string ReadSaveFolder() const override;
        const CCrawlerDlg& m_dialog;
    };
    CEngine m_engine{*this};
    // The folder of the last crawl, as its field named it; empty before the first.
    std::u16string m_szCrawlFolder;

protected:
    // Step 10 of the crawl start; a test replaces it to watch the dialog during a crawl.
    virtual void RunCrawl(LPCWSTR startUrl);
    // Whether one of the program's windows is the one in front (a crawl that ends behind
    // others is told through the desktop's notifications).
    virtual bool IsInFront() const;

private:
    void DoDataExchange();
    // The crawling state around crawl, and what it did told in the outcome line.
    void RunCrawlSession(const std::function<void()>& crawl);
    void OnInitDialog(wxInitDialogEvent& event);
    void OnPaint(wxPaintEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);
    void OnTextEnter(wxCommandEvent& event);

    wxIconBundle m_hIcon;
};
