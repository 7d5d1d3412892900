// The program's entry point. With arguments it is a command: one crawl, no window, and no
// display needed, so the toolkit is never started. Without any (or with only the toolkit's
// own, such as --display), the toolkit creates theApp and runs the main dialog.
#include "app/CrawlerApp.h"
#include "cli/CommandLine.h"

#include <cstdlib>
#include <string_view>

wxIMPLEMENT_APP_NO_MAIN(CCrawlerApp);

namespace {

// The toolkit's own options, as its start-up takes them out of the arguments: those that
// take a value (as "--name=value" or "--name value") and those that do not.
constexpr std::string_view kToolkitOptionsWithValue[] = {
    "--display",   "--class",        "--name",      "--gtk-module",
    "--gdk-debug", "--gdk-no-debug", "--gtk-debug", "--gtk-no-debug"};
constexpr std::string_view kToolkitFlags[] = {"--g-fatal-warnings"};

bool OnlyToolkitOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        bool bToolkit = false;
        for (std::string_view option : kToolkitOptionsWithValue) {
            if (arg == option && i + 1 < argc) {
                bToolkit = true;
                ++i;
            } else if (arg.starts_with(option) && arg.size() > option.size() &&
                       arg[option.size()] == '=') {
                bToolkit = true;
            }
        }
        for (std::string_view flag : kToolkitFlags)
            bToolkit = bToolkit || arg == flag;
        if (!bToolkit)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (!OnlyToolkitOptions(argc, argv))
        return RunCommandLine(argc, argv);
    // Over SSH or from a timer a bare start has nowhere to show the window: the toolkit's own
    // complaint would not say what to do instead.
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (argc == 1 && !(display && *display) && !(wayland && *wayland))
        return ExplainNoDisplay();
    // The windows are plain controls and never draw with OpenGL; on X11 the toolkit would
    // otherwise load the system's GL driver at start just to choose visuals, which costs
    // more memory than the rest of the program together and slows every start. A setting of
    // the user's own is kept.
    setenv("GDK_GL", "disable", 0);
    return wxEntry(argc, argv);
}
