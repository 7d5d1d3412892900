#include "crawl/CrawlReport.h"

#include "platform/record/record.h"
#include "platform/text/text.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

// The first line of a report file; a file that starts otherwise is no report of ours.
constexpr char kHeader[] = "pmcrawler report 1";

struct CKindName {
    CCrawlEvent::Kind kind;
    const char* name;     // in the file
    const char16_t* what; // in the list the user reads
};
constexpr CKindName kKinds[] = {
    {CCrawlEvent::kToneFailed, "tone", u"Tone failed"},
    {CCrawlEvent::kPageFailed, "page", u"Page failed"},
    {CCrawlEvent::kPageCut, "page-cut", u"Page read in part"},
};

bool IsReported(CCrawlEvent::Kind kind) {
    return std::any_of(std::begin(kKinds), std::end(kKinds),
                       [kind](const CKindName& k) { return k.kind == kind; });
}

// Fields are separated by tabs and entries by line ends, so those and the escape itself are
// escaped: addresses and reasons come from servers and can hold anything.
std::string Escaped(std::u16string_view text) {
    std::string out;
    for (const char c : ToUtf8(text)) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::u16string Unescaped(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return FromUtf8(out);
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t tab; (tab = line.find('\t')) != std::string_view::npos; line.remove_prefix(tab + 1))
        fields.push_back(line.substr(0, tab));
    fields.push_back(line);
    return fields;
}

// 64-bit FNV-1a of the folder's UTF-8 bytes.
uint64_t FolderHash(std::u16string_view folder) {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : ToUtf8(folder)) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace

void CCrawlReport::Add(const CCrawlEvent& event) {
    if (!IsReported(event.m_kind))
        return;
    if (event.m_kind == CCrawlEvent::kToneFailed)
        ToneDealtWith(event.m_szUrl);
    m_entries.push_back({event.m_kind, std::u16string(event.m_szUrl),
                         std::u16string(event.m_szName), std::u16string(event.m_szReason)});
}

void CCrawlReport::ToneDealtWith(std::u16string_view url) {
    std::erase_if(m_entries, [url](const CCrawlReportEntry& entry) {
        return entry.m_kind == CCrawlEvent::kToneFailed && entry.m_szUrl == url;
    });
}

std::vector<std::u16string> CCrawlReport::FailedTones() const {
    std::vector<std::u16string> urls;
    for (const CCrawlReportEntry& entry : m_entries) {
        if (entry.m_kind == CCrawlEvent::kToneFailed)
            urls.push_back(entry.m_szUrl);
    }
    return urls;
}

CCrawlReport CCrawlReport::PagesOnly() const {
    CCrawlReport pages;
    std::copy_if(
        m_entries.begin(), m_entries.end(), std::back_inserter(pages.m_entries),
        [](const CCrawlReportEntry& entry) { return entry.m_kind != CCrawlEvent::kToneFailed; });
    return pages;
}

std::u16string CCrawlReport::Text() const {
    std::u16string text;
    for (const CCrawlReportEntry& entry : m_entries) {
        const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                       [&](const CKindName& k) { return k.kind == entry.m_kind; });
        text += kind->what;
        if (!entry.m_szName.empty() && entry.m_szName != entry.m_szUrl)
            text += u" \"" + entry.m_szName + u"\"";
        text += u": " + entry.m_szUrl + u"\n    " + entry.m_szReason + u"\n";
    }
    return text;
}

std::string CrawlReportPath(std::u16string_view folder) {
    const std::filesystem::path record = record::DefaultPath();
    char szName[64];
    std::snprintf(szName, sizeof szName, "last-crawl-%016llx.report",
                  static_cast<unsigned long long>(FolderHash(folder)));
    return (record.parent_path() / szName).string();
}

// Written beside its place and renamed over it, so a reader finds the old report or the new
// one, never half of one.
bool CCrawlReport::Save(std::u16string_view folder) const {
    const std::filesystem::path path = CrawlReportPath(folder);
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    const std::filesystem::path temporary =
        path.string() + ".tmp-" + std::to_string(static_cast<long>(::getpid()));
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << kHeader << '\n' << Escaped(folder) << '\n';
        for (const CCrawlReportEntry& entry : m_entries) {
            const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                           [&](auto& k) { return k.kind == entry.m_kind; });
            out << kind->name << '\t' << Escaped(entry.m_szUrl) << '\t' << Escaped(entry.m_szName)
                << '\t' << Escaped(entry.m_szReason) << '\n';
        }
        out.flush();
        if (!out) {
            std::filesystem::remove(temporary, error);
            return false;
        }
    }
    std::filesystem::rename(temporary, path, error);
    if (!error)
        return true;
    std::error_code ignored; // the rename's failure is the one to tell
    std::filesystem::remove(temporary, ignored);
    return false;
}

bool CCrawlReport::Load(std::u16string_view folder) {
    std::ifstream in(CrawlReportPath(folder), std::ios::binary);
    std::string line;
    // The folder is checked too: two folders whose hashes meet keep their reports apart.
    if (!std::getline(in, line) || line != kHeader || !std::getline(in, line) ||
        Unescaped(line) != folder)
        return false;
    m_entries.clear();
    while (std::getline(in, line)) {
        const std::vector<std::string_view> fields = Fields(line);
        const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                       [&](auto& k) { return fields[0] == k.name; });
        if (fields.size() != 4 || kind == std::end(kKinds))
            continue; // a line of a later version, or damaged: the others still count
        m_entries.push_back(
            {kind->kind, Unescaped(fields[1]), Unescaped(fields[2]), Unescaped(fields[3])});
    }
    return true;
}
