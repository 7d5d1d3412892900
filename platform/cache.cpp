// The private download cache folder and the files in it.
#include "platform/cache.h"

#include "platform/cache_names.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace cache {

namespace {

// Folders under a long $TMPDIR would leave too little of the 259 units for the names.
constexpr size_t kMaxRootBytes = 128;

bool IsUsableRoot(const std::string& root) {
    return !root.empty() && root.front() == '/' && root.size() <= kMaxRootBytes &&
           ToUtf8(FromUtf8(root)) == root; // the observer is told the path in UTF-16
}

std::string MakeFolder(std::string root) {
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    std::string folder = (root == "/" ? "" : root) + "/pmcrawler-cache-XXXXXX";
    return ::mkdtemp(folder.data()) ? folder : std::string();
}

} // namespace

bool CacheFile::Write(const char* data, size_t size) {
    if (!file.WriteAll(data, size)) {
        error = errno;
        return false;
    }
    written += static_cast<off_t>(size);
    return true;
}

bool CacheFile::Finish() {
    if (file.IsOpen() && written < staleSize && ::ftruncate(file.get(), written) != 0) {
        error = errno;
        file.Close();
        return false;
    }
    if (!file.Close()) {
        error = errno;
        return false;
    }
    return true;
}

std::unique_ptr<UrlCache> UrlCache::Create() {
    std::string folder;
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir && IsUsableRoot(tmpdir))
        folder = MakeFolder(tmpdir);
    if (folder.empty())
        folder = MakeFolder("/tmp");
    if (folder.empty())
        return nullptr;
    return std::unique_ptr<UrlCache>(new UrlCache(std::move(folder)));
}

UrlCache::UrlCache(std::string folder)
    : m_folder(std::move(folder)), m_folderUnits(FromUtf8(m_folder).size()) {}

UrlCache::~UrlCache() {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

unsigned UrlCache::NumberPool::Take() {
    if (m_freed.empty())
        return m_next++;
    unsigned n = *m_freed.begin();
    m_freed.erase(m_freed.begin());
    return n;
}

void UrlCache::NumberPool::Give(unsigned n) {
    m_freed.insert(n);
    while (!m_freed.empty() && *m_freed.rbegin() == m_next - 1) {
        m_freed.erase(std::prev(m_freed.end()));
        --m_next;
    }
}

std::optional<CacheFile> UrlCache::CreateFile(std::u16string_view url,
                                              std::u16string_view serverName, int* error) {
    std::u16string name = SafeFileName(serverName);
    size_t maxNameUnits = kMaxPathUnits - m_folderUnits - 1; // "<folder>/<name>"
    // Numbers are tracked here, so the first free one is found without probing the folder.
    // O_EXCL still guards against a file of another name that was cut to the same text.
    constexpr int kMaxAttempts = 1000;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        NumberPool& pool = m_numbers[name];
        unsigned n = pool.Take();
        std::u16string decorated = DecoratedFileName(name, n, maxNameUnits, kMaxNameBytes);
        std::string path = m_folder + "/" + ToUtf8(decorated);
        UniqueFd file;
        off_t staleSize = 0;
        if (!decorated.empty()) {
            file = ReuseSpare(path, &staleSize);
            if (!file.IsOpen() && errno != EEXIST)
                file = UniqueFd(::open(path.c_str(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        }
        const int failure = decorated.empty() ? ENAMETOOLONG : errno;
        if (file.IsOpen()) {
            m_entries[std::u16string(url)].push_back(Entry{path, name, n});
            return CacheFile{path, FromUtf8(path), std::move(file), staleSize};
        }
        if (failure != EEXIST) {
            pool.Give(n);
            if (pool.Unused())
                m_numbers.erase(name);
            if (error)
                *error = failure;
            return std::nullopt;
        }
    }
    if (error)
        *error = EEXIST;
    return std::nullopt;
}

UniqueFd UrlCache::ReuseSpare(const std::string& path, off_t* staleSize) {
    errno = 0;
    while (!m_spares.empty()) {
        std::string spare = std::move(m_spares.back());
        m_spares.pop_back();
        if (::renameat2(AT_FDCWD, spare.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST) {
                m_spares.push_back(std::move(spare));
                return UniqueFd();
            }
            ::unlink(spare.c_str());
            continue;
        }
        UniqueFd file(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
        struct stat status;
        // Written over only when it is still nobody else's file.
        if (file.IsOpen() && ::fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode) &&
            status.st_nlink == 1) {
            *staleSize = status.st_size;
            return file;
        }
        file = UniqueFd();
        ::unlink(path.c_str());
    }
    errno = 0;
    return UniqueFd();
}

bool UrlCache::Remove(const std::string& path) {
    // A file that is also linked elsewhere (a stored tone) is never kept: reusing it would
    // overwrite the other name's content. A large one is not kept either, so that a spare
    // never holds much disk space.
    struct stat status;
    if (m_spares.size() < kMaxSpares && ::lstat(path.c_str(), &status) == 0 &&
        S_ISREG(status.st_mode) && status.st_nlink == 1 && status.st_size <= kMaxSpareBytes) {
        std::string spare =
            m_folder + "/" + std::string(kSparePrefix) + std::to_string(m_nextSpare++);
        if (::rename(path.c_str(), spare.c_str()) == 0) {
            m_spares.push_back(std::move(spare));
            return true;
        }
    }
    return ::unlink(path.c_str()) == 0;
}

void UrlCache::Forget(const Entry& entry) {
    auto pool = m_numbers.find(entry.name);
    if (pool == m_numbers.end())
        return;
    pool->second.Give(entry.n);
    if (pool->second.Unused())
        m_numbers.erase(pool);
}

void UrlCache::Discard(std::u16string_view url, const std::string& path) {
    auto found = m_entries.find(url);
    if (found == m_entries.end())
        return;
    std::vector<Entry>& entries = found->second;
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        if (entry->path == path) {
            Remove(entry->path);
            Forget(*entry);
            entries.erase(entry);
            break;
        }
    }
    if (entries.empty())
        m_entries.erase(found);
}

bool UrlCache::DeleteEntry(std::u16string_view url) {
    auto found = m_entries.find(url);
    if (found == m_entries.end())
        return false;
    bool removed = false;
    for (const Entry& entry : found->second) {
        if (Remove(entry.path))
            removed = true;
        Forget(entry);
    }
    m_entries.erase(found);
    return removed;
}

} // namespace cache
