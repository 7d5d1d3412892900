// The process's private download cache: a folder of its own, created at start-up and removed
// with everything in it at shutdown, holding one file per download named after the download.
// The folder stays locked while the process lives, so that the folders of killed runs can be
// told apart and removed by the next run.
#pragma once

#include "platform/files/unique_fd.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace cache {

// Limits of a cache file: the whole path fits the program's 260-unit path buffers (259 units
// and the terminator), the name fits the file system's component limit.
inline constexpr size_t kMaxPathUnits = 259;
inline constexpr size_t kMaxNameBytes = 255;

// Files of removed entries wait under this prefix to be reused by the next download. Every
// entry's name carries "[N]", a spare's never does, so the two cannot meet.
inline constexpr std::string_view kSparePrefix = ".spare-";

// A cache file just created for a download, open for writing. A reused file keeps its
// earlier bytes past what was written until Finish cuts them off: emptying it up front would
// make the file system write it out to disk on close, as it does for any file emptied and
// written again.
struct CacheFile {
    std::string path;      // as the file system takes it (UTF-8)
    std::u16string path16; // as the download's observer is told it
    UniqueFd file;
    off_t staleSize = 0; // length of a reused file's earlier content
    off_t written = 0;
    int error = 0; // errno of the Write or Finish that failed

    bool Write(const char* data, size_t size);
    // Ends the file at what was written and closes it; false when either fails.
    bool Finish();
};

class UrlCache {
public:
    // Makes the folder (under $TMPDIR, else /tmp) and removes the folders that killed runs
    // left beside it; nothing when it cannot be made.
    static std::unique_ptr<UrlCache> Create();
    // Removes the folder and everything in it.
    ~UrlCache();
    UrlCache(const UrlCache&) = delete;
    UrlCache& operator=(const UrlCache&) = delete;

    const std::string& Folder() const { return m_folder; }

    // A file for a download of url, named after serverName (the name from the response's
    // Content-Disposition or address, escapes kept) with the first free [N]; it holds what
    // was written once it is finished. Nothing when no file can be created; *error says why.
    std::optional<CacheFile> CreateFile(std::u16string_view url, std::u16string_view serverName,
                                        int* error = nullptr);
    // Removes one file of url's entry (a download that failed or was aborted).
    void Discard(std::u16string_view url, const std::string& path);
    // Removes every file of url's entry; true when at least one was there.
    bool DeleteEntry(std::u16string_view url);

private:
    UrlCache(std::string folder, UniqueFd lock);

    // The [N] numbers of one name in use: the first free one is handed out next.
    class NumberPool {
    public:
        unsigned Take();
        void Give(unsigned n);
        bool Unused() const { return m_next == 1; }

    private:
        unsigned m_next = 1;
        std::set<unsigned> m_freed; // free numbers below m_next
    };

    struct Entry {
        std::string path;
        std::u16string name; // the undecorated name, key of its number pool
        unsigned n;
    };

    void Forget(const Entry& entry);
    // Removes an entry's file from view: kept as a spare when nothing else links to it.
    bool Remove(const std::string& path);
    // A spare file renamed to path and open for writing from its start, its earlier length
    // in staleSize; nothing when there is no spare or path is taken (errno EEXIST then).
    UniqueFd ReuseSpare(const std::string& path, off_t* staleSize);

    std::string m_folder;
    UniqueFd m_lock; // the folder, open and locked while it is in use
    size_t m_folderUnits;
    std::map<std::u16string, std::vector<Entry>, std::less<>> m_entries; // by URL
    std::map<std::u16string, NumberPool, std::less<>> m_numbers;         // by name
    // Reusing files instead of deleting and creating them spares the file system the cost of
    // freeing and allocating an inode per download, which grows with the number of recently
    // freed ones on some file systems.
    static constexpr size_t kMaxSpares = 8;
    static constexpr off_t kMaxSpareBytes = 1024 * 1024;
    std::vector<std::string> m_spares;
    unsigned m_nextSpare = 1;
};

} // namespace cache
