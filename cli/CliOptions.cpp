#include "cli/CliOptions.h"

#include "cli/LocaleText.h"
#include "crawl/SaveFolder.h"

#include <algorithm>
#include <charconv>
#include <getopt.h>
#include <set>

namespace {

constexpr int kMinConnections = 1;
constexpr int kMaxConnections = 16;

enum class Option { Url, Folder, Connections, Quiet, Json, RetryFailed, Help, Version };

struct OptionEntry {
    Option option;
    const char* longName;
    char shortName;
    const char* value; // null for a flag
    const char* help;
};

constexpr OptionEntry kOptions[] = {
    {Option::Url, "url", 'u', "URL", "address of a library page to start from"},
    {Option::Folder, "folder", 'f', "DIR", "folder to store the tones in; made when missing"},
    {Option::Connections, "connections", 'c', "N", "transfers at once, 1 to 16 (default 4)"},
    {Option::Quiet, "quiet", 'q', nullptr, "print only what went wrong, on stderr"},
    {Option::Json, "json", 'j', nullptr, "print one JSON object per event on stdout"},
    {Option::RetryFailed, "retry-failed", 'r', nullptr,
     "fetch again the tones the last crawl into DIR could not fetch"},
    {Option::Help, "help", 'h', nullptr, "show this help and exit"},
    {Option::Version, "version", 'V', nullptr, "show the version and exit"},
};

const OptionEntry* FindOption(int shortName) {
    for (const OptionEntry& entry : kOptions) {
        if (entry.shortName == shortName)
            return &entry;
    }
    return nullptr;
}

std::string LongName(const OptionEntry& entry) {
    return std::string("--") + entry.longName;
}

std::string Connections(std::string_view value, int* n) {
    const char* end = value.data() + value.size();
    auto [ptr, ec] = std::from_chars(value.data(), end, *n);
    if (ec != std::errc() || ptr != end || *n < kMinConnections || *n > kMaxConnections)
        return "--connections takes a number from " + std::to_string(kMinConnections) + " to " +
               std::to_string(kMaxConnections) + ", not '" + std::string(value) + "'";
    return {};
}

// Applies one option with its value; an error in words, or empty.
std::string Apply(const OptionEntry& entry, const char* value, CCliOptions& options) {
    switch (entry.option) {
    case Option::Url:
        options.m_szUrl = UrlArgument(value);
        break;
    case Option::Folder:
        options.m_szFolder = FolderArgumentText(value);
        break;
    case Option::Connections:
        return Connections(value, &options.m_nConnections);
    case Option::Quiet:
        options.m_bQuiet = true;
        break;
    case Option::Json:
        options.m_bJson = true;
        break;
    case Option::RetryFailed:
        options.m_bRetryFailed = true;
        break;
    case Option::Help:
        options.m_bHelp = true;
        break;
    case Option::Version:
        options.m_bVersion = true;
        break;
    }
    return {};
}

// The tables getopt_long reads, made from kOptions: "u:f:c:qhV" led by ':' (a missing value
// is told apart from an unknown option), and the long names.
struct CGetoptTables {
    std::string shortOptions = ":";
    std::vector<option> longOptions;

    CGetoptTables() {
        for (const OptionEntry& entry : kOptions) {
            shortOptions += entry.shortName;
            if (entry.value)
                shortOptions += ':';
            longOptions.push_back({entry.longName, entry.value ? required_argument : no_argument,
                                   nullptr, entry.shortName});
        }
        longOptions.push_back({});
    }
};

} // namespace

CCliParse ParseCliOptions(const std::vector<std::string>& args) {
    CCliParse result;
    auto fail = [&](std::string error) {
        result.m_szError = std::move(error);
        return result;
    };
    // getopt_long takes an argv whose order it may change: a copy, led by the program's name.
    std::vector<std::string> copies{"pmcrawler"};
    copies.insert(copies.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(copies.size());

    static const CGetoptTables tables;
    std::set<int> given;
    optind = 0; // a parse of its own: the C library starts afresh
    opterr = 0; // the messages are the program's
    for (int c; (c = getopt_long(argc, argv.data(), tables.shortOptions.c_str(),
                                 tables.longOptions.data(), nullptr)) != -1;) {
        const OptionEntry* entry = FindOption(c == '?' || c == ':' ? optopt : c);
        if (c == ':')
            return fail(LongName(*entry) + " needs a value (" + entry->value + ")");
        if (c == '?') {
            // optopt names a known option only when its long form was given a value.
            if (entry && optopt != 0)
                return fail(LongName(*entry) + " takes no value");
            const std::string what = optopt ? std::string("-") + static_cast<char>(optopt)
                                            : std::string(argv[optind - 1]);
            return fail("unknown option '" + what + "'");
        }
        if (!given.insert(c).second)
            return fail(LongName(*entry) + " is given more than once");
        if (std::string error = Apply(*entry, optarg ? optarg : "", result.m_options);
            !error.empty())
            return fail(error);
    }
    if (optind < argc)
        return fail("unexpected argument '" + std::string(argv[optind]) + "'");

    const CCliOptions& options = result.m_options;
    if (options.m_bHelp || options.m_bVersion)
        return result;
    if (TrimmedField(options.m_szUrl).empty() && !options.m_bRetryFailed)
        return fail("--url is missing: the address of a library page to start from");
    if (TrimmedField(options.m_szFolder).empty())
        return fail("--folder is missing: the folder to store the tones in");
    return result;
}

std::string CliUsage() {
    return "Usage: pmcrawler --url URL --folder DIR [--connections N] [--quiet] [--json]\n"
           "       pmcrawler --retry-failed --folder DIR [--connections N] [--quiet] [--json]\n"
           "       pmcrawler --help | --version\n";
}

std::string CliHelp() {
    std::string help = CliUsage() +
                       "Harvests a tone library into a folder, without a window; started with "
                       "no\narguments, it opens its window instead. A relative folder lies in "
                       "the current\ndirectory; ~ is the home folder.\n\nOptions:\n";
    for (const OptionEntry& entry : kOptions) {
        std::string left = std::string("  -") + entry.shortName + ", --" + entry.longName;
        if (entry.value)
            left += std::string(" ") + entry.value;
        left.resize(std::max<size_t>(left.size() + 2, 26), ' ');
        help += left + entry.help + "\n";
    }
    help += "\nExit status: 0 when the crawl finished and nothing failed; 1 when it finished "
            "but\nsome tones or pages failed or were read only in part; 2 when it could not "
            "start\nor was stopped; 130 when interrupted (Ctrl+C, SIGTERM, SIGHUP); 141 when the "
            "output\nwas closed (what read it, such as head, stopped reading).\n";
    return help;
}
