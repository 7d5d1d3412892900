// One crawl from the command line. It holds an engine, starts it from the options as Start
// starts it from the fields, and is the engine's ICrawlProgress: what the engine reports
// becomes a status line on a terminal (from the texts the window would show) and lines that
// stay (from the engine's events: what was stored under which name, what failed and why), and
// the crawl ends with the main window's outcome line and an exit status a script can use.
#pragma once

#include "cli/CliOptions.h"
#include "cli/StatusLine.h"
#include "crawl/CrawlEngine.h"
#include "crawl/CrawlMeter.h"

#include <csignal>
#include <cstdint>
#include <string>

// What the program's exit status tells a script.
enum CliExitStatus {
    kExitDone = 0,           // finished, nothing failed
    kExitSomeFailed = 1,     // finished, but tones or pages failed
    kExitNotRun = 2,         // could not start, or stopped by a failure
    kExitInterrupted = 130,  // Ctrl+C or SIGTERM, which end it as Cancel does
    kExitOutputClosed = 141, // what read the output closed it; ended as Cancel ends it (128 +
                             // SIGPIPE, the status of a command that a closed pipe ends)
};

class CCliCrawl : public ICrawlProgress {
public:
    // interrupted is raised by a signal handler; the crawl then stops as Cancel stops it.
    CCliCrawl(const CCliOptions& options, const volatile std::sig_atomic_t& interrupted);

    // The whole crawl; returns the exit status.
    int Run();

    void SetPageStatus(LPCWSTR text) override;
    void SetToneStatus(LPCWSTR text) override;
    void AppendLog(LPCWSTR text) override;
    void ClearLog() override;
    void SetProgress(ULONG max, ULONG pos) override;
    void UpdateTotals(bool countOne) override;
    // A wait the server asked for shows on the status line until it is over.
    void OnCrawlEvent(const CCrawlEvent& event) override;

private:
    // The engine, handed the prepared folder once instead of reading a field.
    class CEngine : public CCrawlEngine {
    public:
        std::u16string m_szFolder;

    protected:
        std::u16string ReadSaveFolder() const override { return m_szFolder; }
    };

    // Every report passes here: an interruption or a closed output turns into Cancel, and the
    // status line is redrawn when due.
    void Poll();
    std::u16string StatusText();
    int Finish(bool bCancelled, int64_t elapsedSeconds);
    // A line that stays: per tone or page, unless quiet.
    void Note(const std::u16string& line);
    // One JSON object as a line on stdout (--json).
    void PrintJson(const std::string& line);
    void Error(const std::u16string& text);

    const CCliOptions& m_options;
    const volatile std::sig_atomic_t& m_bInterrupted;
    CEngine m_engine;
    CStatusLine m_status;
    int64_t m_ftStart = 0;
    // What the progress window would show now, for the status line.
    std::u16string m_szPageStatus;
    std::u16string m_szToneStatus;
    std::u16string m_szServerWait; // the wait a server asked for, while one runs
    // Pages walked of known, bytes and the rate, for the status line.
    CCrawlMeter m_meter;
};
