// The crawl's report: every tone and page that failed or was read only in part, with its
// address and why, kept until the next crawl starts. The window lists it, "Retry Failed"
// fetches its tones again, and a copy is left in the program's state folder per folder, so
// that the command line can retry what the last crawl into that folder could not fetch.
#pragma once

#include "crawl/CrawlProgress.h"

#include <string>
#include <string_view>
#include <vector>

struct CCrawlReportEntry {
    CCrawlEvent::Kind m_kind; // kToneFailed, kPageFailed or kPageCut
    std::u16string m_szUrl;
    std::u16string m_szName; // the tone as shown or stored; empty for a page
    std::u16string m_szReason;
};

class CCrawlReport {
public:
    // Keeps a failure event; other events are no failure. A tone that fails again is kept once.
    void Add(const CCrawlEvent& event);
    // A later link to a failed tone's address succeeded: it failed no more.
    void ToneDealtWith(std::u16string_view url);
    bool IsEmpty() const { return m_entries.empty(); }
    const std::vector<CCrawlReportEntry>& Entries() const { return m_entries; }
    // The addresses of the tones that failed, in the order they failed.
    std::vector<std::u16string> FailedTones() const;
    // The pages that failed or were read in part, which a retry of the tones does not fetch.
    CCrawlReport PagesOnly() const;
    // One line per entry, as the user reads it: what, its address, why.
    std::u16string Text() const;

    // Left for folder in the state folder, replacing the last one; false when it could not be.
    bool Save(std::u16string_view folder) const;
    // What the last crawl into folder left; false when it left nothing that can be read.
    bool Load(std::u16string_view folder);

private:
    std::vector<CCrawlReportEntry> m_entries;
};

// Where the report of a crawl into folder is kept: beside the harvest record, named after a
// hash of the folder.
std::string CrawlReportPath(std::u16string_view folder);
