// The main of every test program that opens windows: starts the toolkit with the program's
// own application object, connects the message pump to it, runs the tests and shuts down.
#include "app/CrawlerApp.h"
#include "platform/wx/pump_gui.h"

#include <gtest/gtest.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {
// No test may touch the settings or the harvest record of the person running it.
std::filesystem::path PrivateConfigHome() {
    auto folder =
        std::filesystem::temp_directory_path() / ("pm-gui-config-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
    return folder;
}
} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (as the build does, without a display) opens no window.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    const std::filesystem::path configHome = PrivateConfigHome();

    // The toolkit owns the application object and deletes it in wxEntryCleanup.
    wxApp::SetInstance(new CCrawlerApp);
    if (!wxEntryStart(argc, argv)) {
        wxLog::FlushActive();
        std::fprintf(stderr, "cannot start the toolkit (DISPLAY=%s)\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 2;
    }
    wxTheApp->CallOnInit();
    InstallWxPumpGui();
    theApp().SetRegistryKey(u"Patchmere Crawler");

    int result;
    {
        // An active loop lets the pump dispatch events outside modal runs too.
        wxGUIEventLoop loop;
        wxEventLoopActivator active(&loop);
        result = RUN_ALL_TESTS();
    }

    wxTheApp->OnExit();
    wxEntryCleanup();
    std::error_code ignored;
    std::filesystem::remove_all(configHome, ignored);
    return result;
}
