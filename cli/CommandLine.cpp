#include "cli/CommandLine.h"

#include "cli/CliCrawl.h"
#include "cli/CliOptions.h"
#include "cli/LocaleText.h"
#include "version.h"

#include "platform/text/text.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t g_bInterrupted = 0;

// Only raises the flag; the crawl sees it at its next report and stops as Cancel stops it.
// A second signal ends the program at once, for a crawl that does not stop: storing never
// shows a tone under its name before all of it is there, so that leaves at most a temporary
// file, which the next crawl into the folder sweeps. A closed terminal (SIGHUP) is one more
// way to be asked to stop.
void OnInterrupt(int) {
    g_bInterrupted = 1;
}

// A closed output (a reader such as head that has read enough) shows as EPIPE on the next
// write, and the crawl ends as Cancel ends it, instead of the signal ending the program with
// the record's last entries and the temporary folder left behind.
void IgnoreClosedOutputSignal() {
    std::signal(SIGPIPE, SIG_IGN);
}

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace

int RunCommandLine(int argc, char** argv) {
    UseLocaleOfEnvironment();
    const CCliParse parse = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parse.m_szError.empty()) {
        std::fprintf(stderr, "pmcrawler: %s\n%sTry 'pmcrawler --help' for more.\n",
                     parse.m_szError.c_str(), CliUsage().c_str());
        return kExitNotRun;
    }
    const CCliOptions& options = parse.m_options;
    if (options.m_bHelp) {
        std::fputs(CliHelp().c_str(), stdout);
        return kExitDone;
    }
    if (options.m_bVersion) {
        std::printf("%s %s\n", ToUtf8(PM_PRODUCT_NAME).c_str(), ToUtf8(PM_VERSION).c_str());
        return kExitDone;
    }
    CatchInterrupts();
    IgnoreClosedOutputSignal();
    CCliCrawl crawl(options, g_bInterrupted);
    return crawl.Run();
}

int ExplainNoDisplay() {
    std::fprintf(stderr,
                 "pmcrawler: there is no display to open the window on (DISPLAY is not set).\n"
                 "To crawl without a window:\n%sTry 'pmcrawler --help' for more.\n",
                 CliUsage().c_str());
    return kExitNotRun;
}
