// The private download cache folder and the files in it.
#include "platform/net/cache.h"

#include "platform/net/cache_names.h"
#include "platform/text/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace cache {

namespace {

// Folders under a long $TMPDIR would leave too little of the 259 units for the names.
constexpr size_t kMaxRootBytes = 128;

// A cache folder is made under the first name, locked, and only then renamed to the second:
// every folder under the cache name was locked before anyone could see it, so an unlocked one
// belongs to no running program.
constexpr std::string_view kNewFolderPrefix = "pmcrawler-new-";
constexpr std::string_view kFolderPrefix = "pmcrawler-cache-";
// A folder still under the first name is left for this long: its program may be about to lock
// it. Only one killed in that instant leaves one behind.
constexpr time_t kNewFolderSeconds = 10 * 60;

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsUsableRoot(const std::string& root) {
    return !root.empty() && root.front() == '/' && root.size() <= kMaxRootBytes &&
           ToUtf8(FromUtf8(root)) == root; // the observer is told the path in UTF-16
}

// The names in an open folder, without "." and "..".
std::vector<std::string> FolderNames(int folder) {
    std::vector<std::string> names;
    // A description of its own, so that reading does not move the caller's.
    const int own = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0)
        return names;
    DirHandle dir(::fdopendir(own)); // closes own from now on
    if (!dir) {
        ::close(own);
        return names;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    return names;
}

// Empties an open folder without following a link out of it.
void RemoveContents(int folder) {
    for (const std::string& name : FolderNames(folder)) {
        if (::unlinkat(folder, name.c_str(), 0) == 0 || errno != EISDIR)
            continue;
        UniqueFd inner(
            ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (inner.IsOpen())
            RemoveContents(inner.get());
        ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
    }
}

// Removes the cache folders that killed runs left under root: real folders (not links) of
// this user whose lock nobody holds. Another user's folder and a running program's are left.
void RemoveAbandonedFolders(const std::string& root) {
    UniqueFd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd.IsOpen())
        return;
    const uid_t user = ::geteuid();
    const time_t now = ::time(nullptr);
    for (const std::string& name : FolderNames(rootFd.get())) {
        const bool made = name.starts_with(kNewFolderPrefix);
        if (!made && !name.starts_with(kFolderPrefix))
            continue;
        UniqueFd folder(
            ::openat(rootFd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat status;
        if (!folder.IsOpen() || ::fstat(folder.get(), &status) != 0 || status.st_uid != user ||
            (made && now - status.st_mtime < kNewFolderSeconds) ||
            ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        RemoveContents(folder.get());
        ::unlinkat(rootFd.get(), name.c_str(), AT_REMOVEDIR);
    }
}

bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL)
        return false;
    // A file system that cannot refuse to replace: look first.
    struct stat status;
    if (::lstat(to.c_str(), &status) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

struct LockedFolder {
    std::string path;
    UniqueFd lock;
};

std::optional<LockedFolder> MakeFolder(std::string root) {
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    const std::string base = (root == "/" ? "" : root) + "/";
    constexpr int kMaxAttempts = 100;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        std::string made = base + std::string(kNewFolderPrefix) + "XXXXXX";
        if (!::mkdtemp(made.data()))
            return std::nullopt;
        UniqueFd lock(::open(made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!lock.IsOpen()) {
            ::rmdir(made.c_str());
            return std::nullopt;
        }
        // Where the file system takes no locks, no other run can take this one either, and
        // so none removes the folder.
        ::flock(lock.get(), LOCK_EX | LOCK_NB);
        std::string folder = base + std::string(kFolderPrefix) + made.substr(made.size() - 6);
        if (MoveWithoutReplacing(made, folder))
            return LockedFolder{std::move(folder), std::move(lock)};
        const int error = errno;
        ::rmdir(made.c_str());
        if (error != EEXIST)
            return std::nullopt;
    }
    return std::nullopt;
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
    std::string root;
    std::optional<LockedFolder> folder;
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir && IsUsableRoot(tmpdir)) {
        root = tmpdir;
        folder = MakeFolder(root);
    }
    if (!folder) {
        root = "/tmp";
        folder = MakeFolder(root);
    }
    if (!folder)
        return nullptr;
    RemoveAbandonedFolders(root);
    return std::unique_ptr<UrlCache>(
        new UrlCache(std::move(folder->path), std::move(folder->lock)));
}

UrlCache::UrlCache(std::string folder, UniqueFd lock)
    : m_folder(std::move(folder)), m_lock(std::move(lock)),
      m_folderUnits(FromUtf8(m_folder).size()) {}

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
    size_t maxNameUnits = kMaxPathUnits - m_folderUnits - 1; // "<folder>/<name>"
    std::u16string name = CacheName(serverName, maxNameUnits, kMaxNameBytes);
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
