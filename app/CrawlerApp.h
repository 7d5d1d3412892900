// The application object: start-up, the main dialog's modal run, tear-down, and the
// per-user settings store.
#pragma once

#include "app/SettingsStore.h"

#include <wx/app.h>

#include <string>
#include <string_view>

class CCrawlerApp : public wxApp {
public:
    // The toolkit's own start-up has run by now; the program reads no command line.
    bool OnInit() override;
    // The program's whole life: InitInstance. Returns the exit code.
    int OnRun() override;

    // The start-up steps, the main dialog's modal run and the tear-down. Always false: there
    // is no message loop of the application's own.
    bool InitInstance();

    // Names the settings location; the profile name becomes a copy of the application name
    // (the executable's file name without directory and extension).
    void SetRegistryKey(std::u16string_view key);
    std::u16string GetProfileString(std::u16string_view section, std::u16string_view entry,
                                    std::u16string_view defaultValue) const;
    bool WriteProfileString(std::u16string_view section, std::u16string_view entry,
                            std::u16string_view value) const;
    const CSettingsStore& Settings() const { return m_settings; }

    // The application name as the program shows and stores it.
    std::u16string GetApplicationName() const;

private:
    CSettingsStore m_settings;
    int m_nExitCode = 0;
};

// The one application object (the toolkit creates it; in tests, the test main does).
CCrawlerApp& theApp();
