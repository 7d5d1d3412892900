// Content-Disposition, Content-Type and URL pieces, read leniently: a server's header is
// untrusted text, so anything unexpected yields "no answer" rather than a guess.
#include "platform/net/urlmon_headers.h"
#include "platform/text/text_ascii.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace urlmon {

namespace {

bool IsHeaderSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = ToLowerAscii(c);
    return lower;
}

struct Parameter {
    std::string name; // lower case
    std::string value;
};

// Splits "type; name=value; name="quoted; value"" into its parameters. Nothing when a
// quoted string is not closed: the header is broken and none of it can be trusted.
std::optional<std::vector<Parameter>> ParseParameters(std::string_view header) {
    std::vector<Parameter> parameters;
    size_t pos = 0;
    while (pos <= header.size()) {
        size_t nameStart = pos;
        size_t equals = std::string_view::npos;
        while (pos < header.size() && header[pos] != ';' && header[pos] != '=')
            ++pos;
        if (pos < header.size() && header[pos] == '=')
            equals = pos;
        if (equals == std::string_view::npos) {
            // A piece without '=': the disposition type, or junk between separators.
            if (pos >= header.size())
                break;
            ++pos;
            continue;
        }
        Parameter parameter;
        parameter.name = Lower(TrimHeaderValue(header.substr(nameStart, equals - nameStart)));
        pos = equals + 1;
        while (pos < header.size() && IsHeaderSpace(header[pos]))
            ++pos;
        if (pos < header.size() && header[pos] == '"') {
            ++pos;
            bool closed = false;
            while (pos < header.size()) {
                char c = header[pos++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && pos < header.size())
                    c = header[pos++];
                parameter.value += c;
            }
            if (!closed)
                return std::nullopt;
            // Whatever follows the closing quote up to the next ';' is ignored.
            while (pos < header.size() && header[pos] != ';')
                ++pos;
        } else {
            size_t valueStart = pos;
            while (pos < header.size() && header[pos] != ';')
                ++pos;
            parameter.value =
                std::string(TrimHeaderValue(header.substr(valueStart, pos - valueStart)));
        }
        if (!parameter.name.empty())
            parameters.push_back(std::move(parameter));
        ++pos; // past ';' (or past the end, which ends the loop)
    }
    return parameters;
}

// "charset'language'value" -> value, as sent; nothing when the two quotes are missing.
std::optional<std::string> ExtendedValue(std::string_view value) {
    size_t firstQuote = value.find('\'');
    if (firstQuote == std::string_view::npos)
        return std::nullopt;
    size_t secondQuote = value.find('\'', firstQuote + 1);
    if (secondQuote == std::string_view::npos)
        return std::nullopt;
    return std::string(value.substr(secondQuote + 1));
}

const Parameter* Find(const std::vector<Parameter>& parameters, std::string_view name) {
    for (const Parameter& parameter : parameters) {
        if (parameter.name == name)
            return &parameter;
    }
    return nullptr;
}

} // namespace

std::string_view TrimHeaderValue(std::string_view value) {
    while (!value.empty() && IsHeaderSpace(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && IsHeaderSpace(value.back()))
        value.remove_suffix(1);
    return value;
}

std::optional<std::string> FileNameFromContentDisposition(std::string_view value) {
    std::optional<std::vector<Parameter>> parameters = ParseParameters(value);
    if (!parameters)
        return std::nullopt;
    if (const Parameter* extended = Find(*parameters, "filename*")) {
        std::optional<std::string> name = ExtendedValue(extended->value);
        if (name && !name->empty())
            return name;
    }
    if (const Parameter* plain = Find(*parameters, "filename")) {
        if (!plain->value.empty())
            return plain->value;
    }
    return std::nullopt;
}

std::string LastPathSegment(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    size_t authority = url.find("://");
    if (authority != std::string_view::npos) {
        size_t pathStart = url.find('/', authority + 3);
        if (pathStart == std::string_view::npos)
            return {};
        url.remove_prefix(pathStart);
    }
    size_t slash = url.rfind('/');
    return std::string(slash == std::string_view::npos ? url : url.substr(slash + 1));
}

std::string MediaType(std::string_view contentType) {
    return Lower(TrimHeaderValue(contentType.substr(0, contentType.find(';'))));
}

std::string UrlScheme(std::string_view url) {
    // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
    if (url.empty() || !std::isalpha(static_cast<unsigned char>(url[0])))
        return {};
    for (size_t i = 1; i < url.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (c == ':')
            return Lower(url.substr(0, i));
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return {};
    }
    return {};
}

} // namespace urlmon

namespace urlmon {

std::optional<uint32_t> RetryAfterMs(std::string_view value, int64_t nowUnixSeconds) {
    value = TrimHeaderValue(value);
    if (value.empty())
        return std::nullopt;
    constexpr uint64_t kMaxMs = UINT32_MAX;
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        uint64_t seconds = 0;
        for (char c : value) {
            seconds = seconds * 10 + static_cast<uint64_t>(c - '0');
            if (seconds * 1000 > kMaxMs)
                return static_cast<uint32_t>(kMaxMs);
        }
        return static_cast<uint32_t>(seconds * 1000);
    }
    const time_t date = curl_getdate(std::string(value).c_str(), nullptr);
    if (date < 0)
        return std::nullopt;
    const int64_t seconds = static_cast<int64_t>(date) - nowUnixSeconds;
    if (seconds <= 0)
        return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(seconds) * 1000, kMaxMs));
}

} // namespace urlmon
