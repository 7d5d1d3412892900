// The harvest record's store: one SQLite database, shared by every copy of the program, that
// remembers for each folder and tone address the server's validators and the file in the
// folder that holds that content. It only ever spares a body: callers treat any problem it
// reports as "download as if nothing were recorded".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace record {

// The file that holds a tone's content, as it was when it was recorded.
struct StoredFile {
    std::string name; // a plain name inside the folder
    int64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0; // changes with any write, even one that puts the mtime back
    uint64_t inode = 0;
};

struct Entry {
    std::string folder;       // the folder's real path
    std::string url;          // as the walk asked for it
    std::string etag;         // empty when the server sent none
    std::string lastModified; // empty when the server sent none
    StoredFile file;
};

class Database {
public:
    // Opens the database at path, creating it and its folder when missing. A file that is
    // damaged is renamed to "<path>.damaged-<time>" (never deleted) and a new one started;
    // *problem then says so, and the database is still returned. Null, with *problem saying
    // why in a user's words, when no usable database can be had.
    static std::unique_ptr<Database> Open(const std::string& path, std::string* problem);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The entry of url in folder; nothing when there is none or it cannot be read (then
    // *problem says why).
    std::optional<Entry> Find(const std::string& folder, const std::string& url,
                              std::string* problem);
    // Whether anything is recorded for folder; false also when that cannot be read (then
    // *problem says why). A first crawl into a folder then looks nothing up per tone.
    bool HoldsFolder(const std::string& folder, std::string* problem);
    // Writes the entries in one transaction, replacing what was recorded for the same folder
    // and address. False, with *problem, when they could not be written.
    bool Write(const std::vector<Entry>& entries, std::string* problem);
    // Every entry of folder; empty also when they cannot be read (then *problem says why).
    std::vector<Entry> Entries(const std::string& folder, std::string* problem);
    // Removes the entries of these addresses in folder, in one transaction. False, with
    // *problem, when they could not be removed.
    bool Remove(const std::string& folder, const std::vector<std::string>& urls,
                std::string* problem);

    // Takes over an open connection; Open is the way to get one.
    explicit Database(sqlite3* db) : m_db(db) {}

private:
    sqlite3* m_db;
    // Prepared once: a crawl looks up every tone, and compiling the query each time cost
    // more than running it.
    sqlite3_stmt* m_find = nullptr;
};

// $XDG_STATE_HOME/Patchmere Crawler/harvest.sqlite, ~/.local/state/... when that is unset or
// not absolute.
std::string DefaultPath();

} // namespace record
