#include "app/CrawlerApp.h"
#include "platform/com/com.h"
#include "platform/wx/msgbox.h"
#include "platform/wx/pump_gui.h"
#include "platform/wx/wxtext.h"
#include "ui/CrawlerDlg.h"

#include <wx/debug.h>

namespace {
constexpr char16_t kRegistryKey[] = u"Patchmere Crawler";
} // namespace

CCrawlerApp& theApp() {
    auto* app = dynamic_cast<CCrawlerApp*>(wxApp::GetInstance());
    wxASSERT_MSG(app, "the application object is not a CCrawlerApp");
    return *app;
}

bool CCrawlerApp::OnInit() {
    return true;
}

int CCrawlerApp::OnRun() {
    InitInstance();
    return m_nExitCode;
}

bool CCrawlerApp::InitInstance() {
    SetRegistryKey(kRegistryKey);

    ComRuntimeScope runtime;
    if (FAILED(runtime.Result())) {
        MessageBox(nullptr, u"Error initializing COM - ruh-roh!", GetApplicationName(),
                   MB_OK | MB_ICONEXCLAMATION);
        m_nExitCode = 1;
        return false;
    }
    InstallWxPumpGui();

    {
        CCrawlerDlg dlg;
        SetTopWindow(&dlg);
        dlg.ShowModal();
        SetTopWindow(nullptr);
    }
    m_nExitCode = 0;
    return false;
}

void CCrawlerApp::SetRegistryKey(std::u16string_view key) {
    m_settings.SetLocation(key, GetApplicationName());
}

std::u16string CCrawlerApp::GetApplicationName() const {
    return FromWx(GetAppName());
}

std::u16string CCrawlerApp::GetProfileString(std::u16string_view section, std::u16string_view entry,
                                             std::u16string_view defaultValue) const {
    return m_settings.GetProfileString(section, entry, defaultValue);
}

bool CCrawlerApp::WriteProfileString(std::u16string_view section, std::u16string_view entry,
                                     std::u16string_view value) const {
    return m_settings.WriteProfileString(section, entry, value);
}
