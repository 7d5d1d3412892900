#include "ui/ProgressDialog.h"

#include "crawl/DisplayFormats.h"
#include "crawl/ServerWait.h"
#include "platform/clock.h"
#include "platform/text/text.h"
#include "platform/wx/wxtext.h"
#include "res/layouts.h"
#include "ui/DialogUnits.h"
#include "ui/TextBox.h"

#include <wx/button.h>
#include <wx/display.h>
#include <wx/gauge.h>
#include <wx/stattext.h>

#include <algorithm>
#include <climits>

namespace L = layout::progress;

namespace {
constexpr int64_t kOneSecond = 10'000'000; // file-time units
constexpr int kTotalsSize = MAX_PATH;

// The native bar takes an int range; larger transfers are scaled down to fit.
void ShowOnBar(wxGauge* bar, ULONG max, ULONG pos) {
    if (pos > max)
        pos = max;
    while (max > static_cast<ULONG>(INT_MAX)) {
        max >>= 1;
        pos >>= 1;
    }
    if (max == 0) { // an empty range shows an empty bar
        max = 1;
        pos = 0;
    }
    bar->SetRange(static_cast<int>(max));
    bar->SetValue(static_cast<int>(pos));
}

// A small screen must not hide Cancel: move the window up or left as far as it needs.
void KeepOnScreen(wxWindow* window) {
    const int display = wxDisplay::GetFromWindow(window->GetParent());
    const wxRect area = wxDisplay(display == wxNOT_FOUND ? 0 : display).GetClientArea();
    wxRect rect = window->GetRect();
    rect.x = std::max(area.x, std::min(rect.x, area.GetRight() + 1 - rect.width));
    rect.y = std::max(area.y, std::min(rect.y, area.GetBottom() + 1 - rect.height));
    window->Move(rect.GetPosition());
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? (b > 0 ? INT64_MAX : INT64_MIN) : sum;
}
} // namespace

CProgressDialog::CProgressDialog(wxWindow* pParent)
    : wxDialog(pParent, IDD_PROGRESS, ToWx(L::kCaption), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetDialogClientSize(this, L::kDialog);
    // The theme draws the window's own background; the default first offers it to the
    // program, which builds a drawing context for every repaint only to decline.
    SetBackgroundStyle(wxBG_STYLE_SYSTEM);
    CreateControls();
    // Placed at the owner's client origin (a hidden owner knows only its own position).
    if (pParent) {
        const wxPoint offset = DialogPoint(pParent, L::kDialog);
        Move(pParent->IsShown() ? pParent->ClientToScreen(offset)
                                : pParent->GetScreenPosition() + offset);
        KeepOnScreen(this);
    }

    Bind(wxEVT_BUTTON, &CProgressDialog::OnBnClickedCancel, this, wxID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, &CProgressDialog::OnClose, this);
    m_repaintTimer.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { RepaintDeferred(); });

    m_bCancel = 0;
    m_nNewFiles = 0;
    m_ftStart = GetSystemTimeAsFileTime();
    m_ftNextRefresh = 0;
}

CProgressDialog::~CProgressDialog() = default;

// The controls in tab order.
void CProgressDialog::CreateControls() {
    new wxButton(this, wxID_CANCEL, ToWx(L::kCancel), DialogPoint(this, L::kCancelRect),
                 DialogSize(this, L::kCancelRect));
    m_progressBar = new wxGauge(this, IDC_PROGRESS_BAR, 100, DialogPoint(this, L::kBarRect),
                                DialogSize(this, L::kBarRect));
    m_pageStatus = new CTextBox(this, IDC_PAGE_STATUS, DialogPoint(this, L::kPageStatusRect),
                                DialogSize(this, L::kPageStatusRect));
    m_toneStatus = new CTextBox(this, IDC_TONE_STATUS, DialogPoint(this, L::kToneStatusRect),
                                DialogSize(this, L::kToneStatusRect));
    m_log =
        new CTextBox(this, IDC_LOG, DialogPoint(this, L::kLogRect), DialogSize(this, L::kLogRect));
    m_totals =
        new wxStaticText(this, IDC_TOTALS, wxEmptyString, DialogPoint(this, L::kTotalsRect),
                         DialogSize(this, L::kTotalsRect), wxALIGN_LEFT | wxST_NO_AUTORESIZE);

    m_pages = new wxStaticText(this, IDC_PAGES, wxEmptyString, DialogPoint(this, L::kPagesRect),
                               DialogSize(this, L::kPagesRect), wxALIGN_LEFT | wxST_NO_AUTORESIZE);
    m_pagesBar = new wxGauge(this, IDC_PAGES_BAR, 1, DialogPoint(this, L::kPagesBarRect),
                             DialogSize(this, L::kPagesBarRect));
    m_tones = new wxStaticText(this, IDC_TONES, wxEmptyString, DialogPoint(this, L::kTonesRect),
                               DialogSize(this, L::kTonesRect), wxALIGN_LEFT | wxST_NO_AUTORESIZE);
    m_speed = new wxStaticText(this, IDC_SPEED, wxEmptyString, DialogPoint(this, L::kSpeedRect),
                               DialogSize(this, L::kSpeedRect), wxALIGN_LEFT | wxST_NO_AUTORESIZE);

    m_pageStatus->SetAccessibleName(L::kPageStatusName);
    m_toneStatus->SetAccessibleName(L::kToneStatusName);
    m_log->SetAccessibleName(L::kLogName);

    m_pageBox.pControl = m_pageStatus;
    m_toneBox.pControl = m_toneStatus;
    m_barBox.pControl = m_progressBar;
    m_logBox.pControl = m_log;
}

// A box is repainted only when what it shows changes: the walker names the same page again
// before every anchor, and each tone ends by emptying boxes that are often empty already.
void CProgressDialog::SetPageStatus(LPCWSTR text) {
    SetBoxText(m_szPageStatus, m_pageBox, text);
    UpdateTotals(false);
}

void CProgressDialog::SetToneStatus(LPCWSTR text) {
    m_bShowingWait = false; // the engine's own text replaces a wait shown
    SetBoxText(m_szToneStatus, m_toneBox, text);
    UpdateTotals(false);
}

void CProgressDialog::OnCrawlEvent(const CCrawlEvent& event) {
    m_meter.OnCrawlEvent(event);
    if (event.m_kind != CCrawlEvent::kServerWait)
        return;
    if (event.m_nMsLeft > 0) {
        if (!m_bShowingWait)
            m_szToneBeforeWait = m_szToneStatus;
        m_bShowingWait = true;
        SetBoxText(m_szToneStatus, m_toneBox, ServerWaitText(event).c_str());
    } else if (m_bShowingWait) {
        m_bShowingWait = false;
        SetBoxText(m_szToneStatus, m_toneBox, m_szToneBeforeWait.c_str());
    }
    UpdateTotals(false);
}

void CProgressDialog::SetBoxText(std::u16string& held, CBox& box, LPCWSTR text) {
    std::u16string_view value = text ? text : u"";
    if (held == value)
        return;
    held = value;
    box.bChanged = true;
}

void CProgressDialog::AppendLog(LPCWSTR text) {
    // The log is emptied after each tone, but a long run of pages without a tone would let it
    // grow without end: past a generous size, further lines are not kept.
    if (m_szLog.size() >= kMaxLogUnits)
        return UpdateTotals(false);
    if (!m_szLog.empty())
        m_szLog += u"\r\n";
    if (text)
        m_szLog += text;
    m_logBox.bChanged = true;
    UpdateTotals(false);
}

void CProgressDialog::ClearLog() {
    if (!m_szLog.empty()) {
        m_szLog.clear();
        m_nLogHandedOver = std::u16string::npos;
        m_logBox.bChanged = true;
    }
    UpdateTotals(false);
}

void CProgressDialog::SetProgress(ULONG max, ULONG pos) {
    if (max != m_nProgressMax || pos != m_nProgressPos) {
        m_meter.OnTransferProgress(pos);
        m_nProgressMax = max;
        m_nProgressPos = pos;
        m_barBox.bChanged = true;
    }
    UpdateTotals(false);
}

// Every operation ends here, so each change is shown at once unless the window was
// repainted less than a frame ago; then the first operation after the frame shows it.
void CProgressDialog::UpdateTotals(bool countOne) {
    if (countOne)
        ++m_nNewFiles;
    RepaintDeferred();
    if (!m_bOverallShown || GetTickCount() - m_dwLastOverall >= kOverallMs)
        RefreshOverall();

    const int64_t now = GetSystemTimeAsFileTime();
    if (now <= m_ftNextRefresh)
        return;

    const std::u16string elapsed = FormatElapsed(ElapsedSeconds(m_ftStart, now));
    WCHAR szTotals[kTotalsSize];
    wnsprintf(szTotals, kTotalsSize, u"%d new %s downloaded, elapsed time is %s", m_nNewFiles,
              m_nNewFiles == 1 ? u"file" : u"files", elapsed.c_str());
    m_szTotals = szTotals;
    m_totals->SetLabelText(ToWx(m_szTotals));

    m_ftNextRefresh = SaturatingAdd(now, kOneSecond);
}

// The labels are native text, so a screen reader reads them as it reads the totals line; each
// is handed over only when its text changed.
void CProgressDialog::RefreshOverall() {
    auto show = [](wxStaticText* label, std::u16string& held, std::u16string text) {
        if (held == text)
            return;
        held = std::move(text);
        label->SetLabelText(ToWx(held));
    };
    show(m_pages, m_szPages, m_meter.PagesText());
    show(m_tones, m_szTones, m_meter.TonesText());
    show(m_speed, m_szSpeed, m_meter.SpeedText());
    const int nKnown = std::max(m_meter.PagesKnown(), 1);
    if (m_pagesBar->GetRange() != nKnown)
        m_pagesBar->SetRange(nKnown);
    if (m_pagesBar->GetValue() != std::min(m_meter.PagesWalked(), nKnown))
        m_pagesBar->SetValue(std::min(m_meter.PagesWalked(), nKnown));
    m_bOverallShown = true;
    m_dwLastOverall = GetTickCount();
}

void CProgressDialog::FlushRepaints() {
    RefreshOverall();
    Repaint();
}

std::u16string CProgressDialog::GetPageStatusText() const {
    return m_szPageStatus;
}
std::u16string CProgressDialog::GetToneStatusText() const {
    return m_szToneStatus;
}
std::u16string CProgressDialog::GetLogText() const {
    return m_szLog;
}
std::u16string CProgressDialog::GetTotalsText() const {
    return m_szTotals;
}
std::u16string CProgressDialog::GetPagesText() const {
    return m_szPages;
}
std::u16string CProgressDialog::GetTonesText() const {
    return m_szTones;
}
std::u16string CProgressDialog::GetSpeedText() const {
    return m_szSpeed;
}
ULONG CProgressDialog::GetProgressMax() const {
    return m_nProgressMax;
}
ULONG CProgressDialog::GetProgressPos() const {
    return m_nProgressPos;
}

void CProgressDialog::RepaintDeferred() {
    const DWORD dwSincePaint = GetTickCount() - m_dwLastPaint;
    if (!m_bPainted || dwSincePaint >= kFrameMs)
        Repaint();
    else if (IsAnyChanged() && !m_repaintTimer.IsRunning())
        m_repaintTimer.StartOnce(static_cast<int>(kFrameMs - dwSincePaint));
}

bool CProgressDialog::IsAnyChanged() const {
    for (const CBox* box : {&m_pageBox, &m_toneBox, &m_barBox, &m_logBox}) {
        if (box->bChanged)
            return true;
    }
    return false;
}

void CProgressDialog::Repaint() {
    bool bAny = false;
    for (CBox* box : {&m_pageBox, &m_toneBox, &m_barBox, &m_logBox}) {
        if (box->bChanged) {
            HandOver(*box);
            box->bChanged = false;
            bAny = true;
        }
    }
    if (!bAny)
        return;
    Update();
    m_bPainted = true;
    m_dwLastPaint = GetTickCount();
}

// Gives a box's state to its control.
void CProgressDialog::HandOver(CBox& box) {
    if (&box == &m_barBox) {
        ShowOnBar(m_progressBar, m_nProgressMax, m_nProgressPos);
        return;
    }
    CTextBox* control = static_cast<CTextBox*>(box.pControl);
    if (&box == &m_logBox) {
        // The log only grows at its end until it is emptied: the control gets just the new
        // lines, which leaves the user's selection and scroll position alone. An emptied log
        // starts the control afresh.
        if (m_nLogHandedOver == std::u16string::npos)
            control->SetText(m_szLog);
        else
            control->AppendText(std::u16string_view(m_szLog).substr(m_nLogHandedOver));
        m_nLogHandedOver = m_szLog.size();
        return;
    }
    const std::u16string& text = &box == &m_pageBox ? m_szPageStatus : m_szToneStatus;
    control->SetText(text);
}

// Cancel asks the crawl to stop; the window stays open while the crawl unwinds.
void CProgressDialog::OnBnClickedCancel(wxCommandEvent&) {
    m_bCancel = 1;
}

// The close box is the same cancel command.
void CProgressDialog::OnClose(wxCloseEvent& event) {
    m_bCancel = 1;
    if (event.CanVeto())
        event.Veto();
}
