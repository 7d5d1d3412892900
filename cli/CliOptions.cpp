#include "cli/CliOptions.h"

#include "crawl/SaveFolder.h"
#include "platform/text/text.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace {

constexpr int kMinConnections = 1;
constexpr int kMaxConnections = 16;

enum class Option { Url, Folder, Connections, Quiet, Help, Version };

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
    {Option::Help, "help", 'h', nullptr, "show this help and exit"},
    {Option::Version, "version", 'V', nullptr, "show the version and exit"},
};

const OptionEntry* FindOption(std::string_view name, bool bLong) {
    for (const OptionEntry& entry : kOptions) {
        if (bLong ? name == entry.longName : name.size() == 1 && name[0] == entry.shortName)
            return &entry;
    }
    return nullptr;
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
std::string Apply(const OptionEntry& entry, const std::string& value, CCliOptions& options) {
    switch (entry.option) {
    case Option::Url:
        options.m_szUrl = FromUtf8(value);
        break;
    case Option::Folder:
        options.m_szFolder = FromUtf8(value);
        break;
    case Option::Connections:
        return Connections(value, &options.m_nConnections);
    case Option::Quiet:
        options.m_bQuiet = true;
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

} // namespace

CCliParse ParseCliOptions(const std::vector<std::string>& args) {
    CCliParse result;
    auto fail = [&](std::string error) {
        result.m_szError = std::move(error);
        return result;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool bLong = arg.starts_with("--");
        if (!bLong && (arg.size() < 2 || arg[0] != '-'))
            return fail("unexpected argument '" + arg + "'");
        // "--name=value", "--name value", "-n value"
        std::string_view name = std::string_view(arg).substr(bLong ? 2 : 1);
        std::optional<std::string> inlineValue;
        if (const size_t equals = name.find('='); bLong && equals != std::string_view::npos) {
            inlineValue = std::string(name.substr(equals + 1));
            name = name.substr(0, equals);
        }
        const OptionEntry* entry = FindOption(name, bLong);
        if (!entry)
            return fail("unknown option '" + arg + "'");
        std::string value;
        if (entry->value) {
            if (inlineValue)
                value = *inlineValue;
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return fail("--" + std::string(entry->longName) + " needs a value (" +
                            entry->value + ")");
        } else if (inlineValue) {
            return fail("--" + std::string(entry->longName) + " takes no value");
        }
        if (std::string error = Apply(*entry, value, result.m_options); !error.empty())
            return fail(error);
    }
    const CCliOptions& options = result.m_options;
    if (options.m_bHelp || options.m_bVersion)
        return result;
    if (TrimmedField(options.m_szUrl).empty())
        return fail("--url is missing: the address of a library page to start from");
    if (TrimmedField(options.m_szFolder).empty())
        return fail("--folder is missing: the folder to store the tones in");
    return result;
}

std::string CliUsage() {
    return "Usage: pmcrawler --url URL --folder DIR [--connections N] [--quiet]\n"
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
            "start\nor was stopped; 130 when interrupted (Ctrl+C, SIGTERM, SIGHUP).\n";
    return help;
}
