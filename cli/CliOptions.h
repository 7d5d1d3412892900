// The command line's options: what a crawl from a terminal, a script or a timer is given.
#pragma once

#include <string>
#include <vector>

struct CCliOptions {
    std::u16string m_szUrl;
    std::u16string m_szFolder;
    int m_nConnections = 4;
    bool m_bQuiet = false;
    bool m_bJson = false;        // one JSON object per event on stdout instead of lines
    bool m_bRetryFailed = false; // the tones the last crawl into the folder could not fetch
    bool m_bHelp = false;
    bool m_bVersion = false;
};

// The options and what went wrong reading them (one line, empty when nothing did).
struct CCliParse {
    CCliOptions m_options;
    std::string m_szError;
};

// Reads the arguments after the program's name with getopt_long, as every command reads
// them ("-c4", "-qc 4", "--connections=4", "--" ending the options); an option given twice is
// a mistake, not a silent choice of the last. The address is read in the locale's encoding,
// the folder byte for byte (LocaleText.h). A run needs --url and --folder unless it asks only
// for --help or --version; --retry-failed needs only --folder.
CCliParse ParseCliOptions(const std::vector<std::string>& args);

// The two lines of usage, printed after a mistake.
std::string CliUsage();
// What --help prints: the usage, what the program does, the table of options and the exit
// statuses.
std::string CliHelp();
