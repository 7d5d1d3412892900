#include "ui/CrawlerDlg.h"
#include "app/CrawlerApp.h"
#include "platform/text/text.h"
#include "platform/wx/desktop.h"
#include "platform/wx/msgbox.h"
#include "platform/wx/shell.h"
#include "platform/wx/wxtext.h"
#include "res/layouts.h"
#include "ui/AboutDlg.h"
#include "ui/DialogUnits.h"
#include "ui/Icons.h"
#include "ui/ReportDlg.h"

#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/menu.h>
#include <wx/stattext.h>
#include <wx/stdpaths.h>
#include <wx/textctrl.h>

#include <algorithm>

namespace L = layout::crawler;

namespace {
constexpr char16_t kBrowseTitle[] = u"Select the folder where you want Patchmere files stored";

bool IsBlank(const std::u16string& text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return rt::iswspace(c); });
}
} // namespace

wxPoint MinimisedIconPosition(const wxSize& client, const wxSize& icon) {
    return {(client.x - icon.x + 1) / 2, (client.y - icon.y + 1) / 2};
}

CCrawlerDlg::CCrawlerDlg(wxWindow* pParent)
    : wxDialog(pParent, IDD_CRAWLER_DIALOG, ToWx(L::kCaption), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      m_hIcon(LoadMainIcons()) {
    SetDialogClientSize(this, L::kDialog);
    DoDataExchange();
    Centre();

    Bind(wxEVT_INIT_DIALOG, &CCrawlerDlg::OnInitDialog, this);
    Bind(wxEVT_PAINT, &CCrawlerDlg::OnPaint, this);
    Bind(wxEVT_CHAR_HOOK, &CCrawlerDlg::OnCharHook, this);
    Bind(wxEVT_CONTEXT_MENU, &CCrawlerDlg::OnContextMenu, this);
    Bind(
        wxEVT_TEXT, [this](wxCommandEvent&) { OnChangeFields(); }, IDC_SOURCE_URL);
    Bind(
        wxEVT_TEXT, [this](wxCommandEvent&) { OnChangeFields(); }, IDC_SAVE_PATH);
    Bind(wxEVT_TEXT_ENTER, &CCrawlerDlg::OnTextEnter, this, IDC_SOURCE_URL);
    Bind(wxEVT_TEXT_ENTER, &CCrawlerDlg::OnTextEnter, this, IDC_SAVE_PATH);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnStartCrawl(); }, IDC_START_CRAWL);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowse(); }, IDC_BROWSE);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnDetails(); }, IDC_DETAILS);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnRetryFailed(); }, IDC_RETRY_FAILED);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnOpenFolder(); }, IDC_OPEN_FOLDER);
}

CCrawlerDlg::~CCrawlerDlg() {
    m_engine.m_walked.Clear();
    m_engine.m_visited.Clear();
}

// The controls in tab order; the labels' mnemonics lead to the field after them.
void CCrawlerDlg::DoDataExchange() {
    auto place = [this](const DialogRect& r) {
        return std::pair{DialogPoint(this, r), DialogSize(this, r)};
    };
    auto [urlLabelPos, urlLabelSize] = place(L::kUrlLabelRect);
    new wxStaticText(this, wxID_ANY, ToWx(L::kUrlLabel), urlLabelPos, urlLabelSize,
                     wxST_NO_AUTORESIZE);
    auto [urlPos, urlSize] = place(L::kUrlRect);
    m_editUrl =
        new wxTextCtrl(this, IDC_SOURCE_URL, wxEmptyString, urlPos, urlSize, wxTE_PROCESS_ENTER);
    auto [startPos, startSize] = place(L::kStartRect);
    m_btnStart = new wxButton(this, IDC_START_CRAWL, ToWx(L::kStart), startPos, startSize);
    m_btnStart->SetDefault();
    auto [pathLabelPos, pathLabelSize] = place(L::kPathLabelRect);
    new wxStaticText(this, wxID_ANY, ToWx(L::kPathLabel), pathLabelPos, pathLabelSize,
                     wxST_NO_AUTORESIZE);
    auto [pathPos, pathSize] = place(L::kPathRect);
    m_editPath =
        new wxTextCtrl(this, IDC_SAVE_PATH, wxEmptyString, pathPos, pathSize, wxTE_PROCESS_ENTER);
    auto [browsePos, browseSize] = place(L::kBrowseRect);
    new wxButton(this, IDC_BROWSE, ToWx(L::kBrowse), browsePos, browseSize);
    // Plain native text, so a screen reader reads it like the labels.
    auto [outcomePos, outcomeSize] = place(L::kOutcomeRect);
    m_staticOutcome = new wxStaticText(this, IDC_OUTCOME, wxEmptyString, outcomePos, outcomeSize,
                                       wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    // Shown once a crawl has ended, in the row the dialog then grows by.
    auto button = [&](int id, const char16_t* text, const DialogRect& r) {
        auto [pos, size] = place(r);
        auto* btn = new wxButton(this, id, ToWx(text), pos, size);
        btn->Hide();
        return btn;
    };
    m_btnDetails = button(IDC_DETAILS, L::kDetails, L::kDetailsRect);
    m_btnRetryFailed = button(IDC_RETRY_FAILED, L::kRetryFailed, L::kRetryFailedRect);
    m_btnOpenFolder = button(IDC_OPEN_FOLDER, L::kOpenFolder, L::kOpenFolderRect);
}

// What the last crawl offers: its report when anything failed, a retry when tones did, and
// its folder.
void CCrawlerDlg::ShowAfterCrawl() {
    const CCrawlReport& report = m_engine.m_outcome.m_report;
    m_btnDetails->Show(!report.IsEmpty());
    m_btnRetryFailed->Show(!report.FailedTones().empty());
    m_btnOpenFolder->Show(!m_szCrawlFolder.empty());
    SetDialogClientSize(this, L::kDialogAfterCrawl);
}

void CCrawlerDlg::OnDetails() {
    CReportDlg details(this, m_engine.m_outcome.m_report.Text());
    details.ShowModal();
}

void CCrawlerDlg::OnOpenFolder() {
    if (!ShowFolder(m_szCrawlFolder))
        MessageBox(this,
                   u"The folder could not be shown: the desktop has no file manager for it.\n" +
                       m_szCrawlFolder,
                   u"Patchmere Crawler", MB_OK | MB_ICONERROR);
}

void CCrawlerDlg::SetOutcome(const std::u16string& text) {
    m_staticOutcome->SetLabelText(ToWx(text));
    // A line too long for the window is shown cut; the whole of it stays a hover away.
    if (text.empty())
        m_staticOutcome->UnsetToolTip();
    else
        m_staticOutcome->SetToolTip(ToWx(text));
}

std::u16string CCrawlerDlg::DefaultFolder() {
    const std::u16string documents = FromWx(wxStandardPaths::Get().GetDocumentsDir());
    WCHAR szFolder[MAX_PATH] = {};
    if (documents.empty() || !PathCombine(szFolder, documents.c_str(), kDefaultFolderName))
        return kDefaultFolderName;
    return szFolder;
}

void CCrawlerDlg::OnInitDialog(wxInitDialogEvent& event) {
    event.Skip(); // the toolkit's own initialisation

    const std::u16string defaultFolder = DefaultFolder();
    const std::u16string url = theApp().GetProfileString(u"Config", u"LastURL", kDefaultUrl);
    const std::u16string folder = theApp().GetProfileString(u"Config", u"LastPath", defaultFolder);
    m_editUrl->SetValue(ToWx(url));
    m_editPath->SetValue(ToWx(folder));
    // Setting an unchanged text raises no change notification, so evaluate once here.
    OnChangeFields();

    SetIcons(m_hIcon);
    m_editUrl->SetFocus();
}

void CCrawlerDlg::OnChangeFields() {
    const bool filled =
        !IsBlank(FromWx(m_editUrl->GetValue())) && !IsBlank(FromWx(m_editPath->GetValue()));
    m_btnStart->Enable(filled);
}

void CCrawlerDlg::OnBrowse() {
    if (std::optional<std::u16string> folder = SHBrowseForFolder(this, kBrowseTitle))
        m_editPath->SetValue(ToWx(*folder));
}

std::u16string CCrawlerDlg::CEngine::ReadSaveFolder() const {
    if (!m_szRetryFolder.empty())
        return m_szRetryFolder;
    return FromWx(m_dialog.m_editPath->GetValue());
}

void CCrawlerDlg::RunCrawl(LPCWSTR startUrl) {
    m_engine.Crawl(startUrl);
}

void CCrawlerDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(this);
        dlgAbout.ShowModal();
        return;
    }
    // The default handling of the standard commands.
    switch (nID & 0xFFF0) {
    case SC_CLOSE:
        Close();
        break;
    case SC_MINIMIZE:
        Iconize(true);
        break;
    case SC_RESTORE:
        Iconize(false);
        break;
    default:
        break;
    }
}

void CCrawlerDlg::ShowSystemMenu(const wxPoint& where) {
    // Menu item ids stay below 0x8000 and SC_CLOSE does not, so Close carries an id of its
    // own that is turned back into the command.
    constexpr int kCloseItem = wxID_HIGHEST + 1;
    wxMenu menu;
    menu.Append(kCloseItem, ToWx(layout::kCloseMenuItem));
    menu.AppendSeparator();
    menu.Append(IDM_ABOUTBOX, ToWx(layout::kAboutMenuItem));
    const int nID = GetPopupMenuSelectionFromUser(menu, where);
    if (nID == kCloseItem)
        OnSysCommand(SC_CLOSE, 0);
    else if (nID == IDM_ABOUTBOX)
        OnSysCommand(IDM_ABOUTBOX, 0);
}

// The dialog's background, its labels and buttons offer the system menu; a text field keeps
// its own menu (cut, copy, paste), which the toolkit shows when the event is left to it.
void CCrawlerDlg::OnContextMenu(wxContextMenuEvent& event) {
    if (dynamic_cast<wxTextEntry*>(event.GetEventObject())) {
        event.Skip();
        return;
    }
    const wxPoint screen = event.GetPosition();
    ShowSystemMenu(screen == wxDefaultPosition ? wxDefaultPosition : ScreenToClient(screen));
}

void CCrawlerDlg::OnCharHook(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    const int modifiers = event.GetModifiers();
    // The key comes from the focused control. The menu keys belong to a text field's own menu
    // there; F1 is free everywhere, so it reaches the system menu from anywhere.
    auto* const source = dynamic_cast<wxWindow*>(event.GetEventObject());
    const bool inTextField = dynamic_cast<wxTextEntry*>(source) != nullptr;
    const bool menuKey = key == WXK_MENU || (key == WXK_F10 && modifiers == wxMOD_SHIFT);
    if (key == WXK_ESCAPE && modifiers == wxMOD_NONE) {
        Close(); // the cancel command: ends the modal run
    } else if ((menuKey && !inTextField) || (key == WXK_F1 && modifiers == wxMOD_NONE)) {
        // Opened under the focused control, as a right click opens it under the mouse.
        ShowSystemMenu(source && source->GetParent() == this ? source->GetRect().GetBottomLeft()
                                                             : m_btnStart->GetPosition());
    } else if (modifiers == wxMOD_ALT && (key == 'U' || key == 'u')) {
        m_editUrl->SetFocus();
        m_editUrl->SelectAll();
    } else if (modifiers == wxMOD_ALT && (key == 'P' || key == 'p')) {
        m_editPath->SetFocus();
        m_editPath->SelectAll();
    } else {
        event.Skip();
    }
}

// Enter in either field is the default button's click, which a disabled button never gets.
void CCrawlerDlg::OnTextEnter(wxCommandEvent&) {
    if (m_btnStart->IsThisEnabled() && IsEnabled())
        OnStartCrawl();
}

void CCrawlerDlg::OnPaint(wxPaintEvent& event) {
    if (!IsIconized()) {
        event.Skip();
        return;
    }
    wxPaintDC dc(this);
    const wxIcon icon = m_hIcon.GetIcon(wxSize(32, 32));
    dc.DrawIcon(icon, MinimisedIconPosition(GetClientSize(), icon.GetSize()));
}
