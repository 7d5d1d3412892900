#include "crawl/HarvestRecord.h"

#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/text/text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace {

constexpr DWORD kFlushMs = 1000;

std::optional<record::StoredFile> StatFile(const std::string& folder, const std::string& name) {
    struct stat info {};
    if (::stat((folder + "/" + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    record::StoredFile file;
    file.name = name;
    file.size = static_cast<int64_t>(info.st_size);
    file.mtimeNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    file.ctimeNs = static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    file.inode = static_cast<uint64_t>(info.st_ino);
    return file;
}

// Whether the file is the one the record saw. Where inode numbers do not last across mounts
// (FAT, exFAT, many FUSE and network file systems) the name, size and times tell it alone:
// a tone written over in place, even with its mtime put back, has a new ctime.
bool IsSameFile(const record::StoredFile& now, const record::StoredFile& then, bool lastingInodes) {
    return now.size == then.size && now.mtimeNs == then.mtimeNs && now.ctimeNs == then.ctimeNs &&
           (!lastingInodes || now.inode == then.inode);
}

std::string RealPath(const std::string& folder) {
    char resolved[PATH_MAX];
    return ::realpath(folder.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// A validator goes into a request header line as it is: it must not break the line.
bool FitsHeaderLine(const std::string& value) {
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

} // namespace

void CHarvestRecord::BeginCrawl() {
    if (m_state == State::Unusable)
        m_state = State::Closed;
    m_folders.clear(); // a stick may be another, a link may point elsewhere
}

bool CHarvestRecord::Ready() {
    if (m_state == State::Closed) {
        std::string problem;
        m_pDatabase = record::Database::Open(record::DefaultPath(), &problem);
        m_state = m_pDatabase ? State::Open : State::Unusable;
        // A damaged record set aside still leaves a new, usable one.
        if (!problem.empty())
            m_szProblem = problem;
        m_dwLastFlush = GetTickCount();
    }
    return m_state == State::Open;
}

void CHarvestRecord::Fail(const std::string& why) {
    if (m_szProblem.empty())
        m_szProblem = why;
    m_state = State::Unusable;
    m_pDatabase.reset();
    m_pending.clear();
}

CHarvestRecord::CFolder& CHarvestRecord::FolderOf(const std::u16string& folder) {
    auto [known, isNew] = m_folders.try_emplace(folder);
    if (isNew) {
        known->second.m_szKey = RealPath(ToNativeName(folder));
        known->second.m_bLastingInodes = FileSystemTraits(folder.c_str()).lastingInodes;
    }
    return known->second;
}

std::optional<record::Entry> CHarvestRecord::Find(CFolder& folder, const std::string& url) {
    if (auto it = m_pending.find({folder.m_szKey, url}); it != m_pending.end())
        return it->second;
    std::string problem;
    if (!folder.m_bHeld)
        folder.m_bHeld = m_pDatabase->HoldsFolder(folder.m_szKey, &problem);
    if (!*folder.m_bHeld) {
        if (!problem.empty())
            Fail(problem);
        return std::nullopt;
    }
    std::optional<record::Entry> entry = m_pDatabase->Find(folder.m_szKey, url, &problem);
    if (!problem.empty())
        Fail(problem);
    return entry;
}

std::u16string CHarvestRecord::ConditionalHeaders(const std::u16string& folder, LPCWSTR url) {
    if (!Ready())
        return {};
    CFolder& known = FolderOf(folder);
    if (known.m_szKey.empty())
        return {};
    std::optional<record::Entry> entry = Find(known, ToUtf8(url));
    if (!entry || (entry->etag.empty() && entry->lastModified.empty()))
        return {};
    if (!IsPlainName(entry->file.name) || !FitsHeaderLine(entry->etag) ||
        !FitsHeaderLine(entry->lastModified)) {
        Fail("it holds an entry that does not fit the folder");
        return {};
    }
    // The user may have removed, edited or replaced the file since: then it is fetched.
    std::optional<record::StoredFile> file = StatFile(known.m_szKey, entry->file.name);
    if (!file || !IsSameFile(*file, entry->file, known.m_bLastingInodes))
        return {};

    std::u16string headers;
    if (!entry->etag.empty())
        headers += u"If-None-Match: " + FromUtf8(entry->etag) + u"\r\n";
    if (!entry->lastModified.empty())
        headers += u"If-Modified-Since: " + FromUtf8(entry->lastModified) + u"\r\n";
    return headers;
}

void CHarvestRecord::Remember(const std::u16string& folder, LPCWSTR url,
                              const CValidators& validators, LPCWSTR path) {
    if (!Ready())
        return;
    CFolder& known = FolderOf(folder);
    if (known.m_szKey.empty())
        return;
    record::Entry entry;
    entry.folder = known.m_szKey;
    entry.url = ToUtf8(url);
    entry.etag = ToUtf8(validators.m_szETag);
    entry.lastModified = ToUtf8(validators.m_szLastModified);
    std::optional<record::StoredFile> file =
        StatFile(entry.folder, ToNativeName(PathFindFileName(path)));
    if (!file)
        return; // gone already: nothing to vouch for
    entry.file = std::move(*file);
    m_pending[{entry.folder, entry.url}] = std::move(entry);
    FlushIfDue();
}

void CHarvestRecord::ForgetGoneFiles(const std::u16string& folder) {
    if (!Ready())
        return;
    const std::string key = FolderOf(folder).m_szKey;
    Flush();
    if (key.empty() || m_state != State::Open)
        return;
    std::string problem;
    std::vector<std::string> gone;
    for (const record::Entry& entry : m_pDatabase->Entries(key, &problem)) {
        struct stat info {};
        if (IsPlainName(entry.file.name) &&
            ::lstat((key + "/" + entry.file.name).c_str(), &info) != 0 && errno == ENOENT)
            gone.push_back(entry.url);
    }
    if (problem.empty() && !gone.empty())
        m_pDatabase->Remove(key, gone, &problem);
    if (!problem.empty())
        Fail(problem);
}

void CHarvestRecord::FlushIfDue() {
    if (m_state == State::Open && GetTickCount() - m_dwLastFlush >= kFlushMs)
        Flush();
}

void CHarvestRecord::Flush() {
    m_dwLastFlush = GetTickCount();
    if (m_state != State::Open || m_pending.empty())
        return;
    std::vector<record::Entry> entries;
    entries.reserve(m_pending.size());
    for (auto& [key, entry] : m_pending)
        entries.push_back(std::move(entry));
    m_pending.clear();
    std::string problem;
    if (!m_pDatabase->Write(entries, &problem))
        Fail(problem);
}

std::u16string CHarvestRecord::TakeProblem() {
    return FromUtf8(std::exchange(m_szProblem, std::string()));
}
