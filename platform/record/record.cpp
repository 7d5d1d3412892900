// The harvest record's store on SQLite: WAL mode, so a reader never waits for a writer and a
// killed writer never leaves a damaged file; a short busy timeout, so two copies of the
// program take turns instead of failing, and neither waits long.
#include "platform/record/record.h"
#include "platform/files/home_folder.h"
#include "platform/text/text.h"
#include "platform/text/text_error.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace record {

namespace {

// Writes are a few rows in one short transaction; another copy's never takes longer.
constexpr int kBusyTimeoutMs = 1000;
constexpr char kFolderName[] = "Patchmere Crawler";
constexpr char kFileName[] = "harvest.sqlite";

constexpr char kSchema[] = "PRAGMA journal_mode=WAL;"
                           "PRAGMA synchronous=NORMAL;"
                           "CREATE TABLE IF NOT EXISTS tones("
                           " folder TEXT NOT NULL, url TEXT NOT NULL,"
                           " etag TEXT NOT NULL, last_modified TEXT NOT NULL,"
                           " name TEXT NOT NULL, size INTEGER NOT NULL,"
                           " mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL,"
                           " inode INTEGER NOT NULL,"
                           " PRIMARY KEY(folder, url)) WITHOUT ROWID;";

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

struct ConnectionDeleter {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionDeleter>;

bool IsDamage(int code) {
    return (code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_NOTADB;
}

// Why the database failed, in a user's words.
std::string Reason(sqlite3* db, int code) {
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "another copy of the program kept it locked";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return "it is damaged";
    case SQLITE_FULL:
        return "the disk is full";
    case SQLITE_READONLY:
        return "it cannot be written";
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_PERM:
        if (int error = db ? sqlite3_system_errno(db) : 0; error != 0)
            return std::string("it could not be opened: ") + ToUtf8(SystemErrorText(error));
        return "it could not be opened";
    default:
        return sqlite3_errstr(code);
    }
}

Statement Prepare(sqlite3* db, const char* sql, int* code) {
    sqlite3_stmt* statement = nullptr;
    *code = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    return Statement(statement);
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(statement, column)))
                : std::string();
}

// A record of an earlier version kept no ctime, so none of its entries could vouch for a file
// any more: it is started afresh, and each tone is downloaded once more.
int DropEntriesWithoutCtime(sqlite3* db) {
    int code = SQLITE_OK;
    Statement probe = Prepare(db, "SELECT ctime_ns FROM tones LIMIT 0", &code);
    if (code != SQLITE_ERROR) // SQLITE_ERROR: no such column
        return code;
    return sqlite3_exec(db, "DROP TABLE tones", nullptr, nullptr, nullptr);
}

// Makes the schema and checks the file: SQLITE_OK for a sound database.
int PrepareDatabase(sqlite3* db) {
    int code = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    if (code == SQLITE_OK)
        code = DropEntriesWithoutCtime(db);
    if (code == SQLITE_OK)
        code = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        return code;
    Statement check = Prepare(db, "PRAGMA quick_check", &code);
    if (code != SQLITE_OK)
        return code;
    code = sqlite3_step(check.get());
    if (code != SQLITE_ROW)
        return code;
    return ColumnText(check.get(), 0) == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
}

// A name beside path that no file holds: path.damaged-<local time>[-N].
std::string DamagedName(const std::string& path) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string name = path + ".damaged-" + stamp;
    for (int n = 2; std::filesystem::exists(name); ++n)
        name = path + ".damaged-" + stamp + "-" + std::to_string(n);
    return name;
}

// Renames a damaged database and its journal files out of the way; nothing is deleted, so
// whatever it still holds can be looked at. False, with *problem, when it stays in the way.
bool SetAside(const std::string& path, std::string* problem) {
    const std::string aside = DamagedName(path);
    if (std::rename(path.c_str(), aside.c_str()) != 0) {
        *problem = std::string("it is damaged and could not be set aside: ") +
                   ToUtf8(SystemErrorText(errno));
        return false;
    }
    for (const char* suffix : {"-wal", "-shm"})
        std::rename((path + suffix).c_str(), (aside + suffix).c_str());
    *problem = "it was damaged; it was set aside as " +
               std::filesystem::path(aside).filename().string() + " and a new one started";
    return true;
}

// An entry from a row of etag, last_modified, name, size, mtime_ns, ctime_ns, inode.
Entry ReadEntry(sqlite3_stmt* row, const std::string& folder, const std::string& url) {
    Entry entry;
    entry.folder = folder;
    entry.url = url;
    entry.etag = ColumnText(row, 0);
    entry.lastModified = ColumnText(row, 1);
    entry.file.name = ColumnText(row, 2);
    entry.file.size = sqlite3_column_int64(row, 3);
    entry.file.mtimeNs = sqlite3_column_int64(row, 4);
    entry.file.ctimeNs = sqlite3_column_int64(row, 5);
    entry.file.inode = static_cast<uint64_t>(sqlite3_column_int64(row, 6));
    return entry;
}

// A write transaction, taken at once so that a second writer waits for it as a whole.
bool BeginTransaction(sqlite3* db, std::string* problem) {
    const int code = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        *problem = Reason(db, code);
    return code == SQLITE_OK;
}

// Commits what the transaction did when code says all went well; else undoes it.
bool EndTransaction(sqlite3* db, int code, std::string* problem) {
    if (code == SQLITE_OK)
        code = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        *problem = Reason(db, code);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<Database> Database::Open(const std::string& path, std::string* problem) {
    problem->clear();
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (error) {
        *problem = "its folder could not be made: " + ToUtf8(SystemErrorText(error.value()));
        return nullptr;
    }
    std::string setAside;
    for (int attempt = 0; attempt < 2; ++attempt) {
        sqlite3* raw = nullptr;
        int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                   nullptr);
        Connection db(raw);
        if (code != SQLITE_OK) {
            *problem = Reason(db.get(), code);
            return nullptr;
        }
        sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
        code = PrepareDatabase(db.get());
        if (code == SQLITE_OK) {
            *problem = setAside;
            return std::make_unique<Database>(db.release());
        }
        if (!IsDamage(code) || attempt > 0) {
            *problem = Reason(db.get(), code);
            return nullptr;
        }
        db.reset();
        if (!SetAside(path, problem))
            return nullptr;
        setAside = *problem;
    }
    return nullptr;
}

Database::~Database() {
    sqlite3_finalize(m_find);
    sqlite3_close_v2(m_db);
}

bool Database::HoldsFolder(const std::string& folder, std::string* problem) {
    int code = SQLITE_OK;
    Statement any = Prepare(m_db, "SELECT 1 FROM tones WHERE folder = ?1 LIMIT 1", &code);
    if (code == SQLITE_OK) {
        BindText(any.get(), 1, folder);
        code = sqlite3_step(any.get());
    }
    if (code != SQLITE_ROW && code != SQLITE_DONE)
        *problem = Reason(m_db, code);
    return code == SQLITE_ROW;
}

std::optional<Entry> Database::Find(const std::string& folder, const std::string& url,
                                    std::string* problem) {
    int code = SQLITE_OK;
    if (!m_find)
        m_find = Prepare(m_db,
                         "SELECT etag, last_modified, name, size, mtime_ns, ctime_ns, inode"
                         " FROM tones WHERE folder = ?1 AND url = ?2",
                         &code)
                     .release();
    sqlite3_stmt* find = m_find;
    if (code == SQLITE_OK && find) {
        sqlite3_reset(find);
        BindText(find, 1, folder);
        BindText(find, 2, url);
        code = sqlite3_step(find);
    }
    if (code == SQLITE_DONE) {
        sqlite3_reset(find); // a finished read holds no lock on the database
        return std::nullopt;
    }
    if (code != SQLITE_ROW) {
        *problem = Reason(m_db, code);
        if (find)
            sqlite3_reset(find);
        return std::nullopt;
    }
    Entry entry = ReadEntry(find, folder, url);
    sqlite3_reset(find);
    return entry;
}

bool Database::Write(const std::vector<Entry>& entries, std::string* problem) {
    int code = SQLITE_OK;
    if (!BeginTransaction(m_db, problem))
        return false;
    Statement put = Prepare(m_db,
                            "INSERT OR REPLACE INTO tones(folder, url, etag, last_modified, name,"
                            " size, mtime_ns, ctime_ns, inode)"
                            " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
                            &code);
    for (size_t i = 0; code == SQLITE_OK && i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        sqlite3_reset(put.get());
        BindText(put.get(), 1, entry.folder);
        BindText(put.get(), 2, entry.url);
        BindText(put.get(), 3, entry.etag);
        BindText(put.get(), 4, entry.lastModified);
        BindText(put.get(), 5, entry.file.name);
        sqlite3_bind_int64(put.get(), 6, entry.file.size);
        sqlite3_bind_int64(put.get(), 7, entry.file.mtimeNs);
        sqlite3_bind_int64(put.get(), 8, entry.file.ctimeNs);
        sqlite3_bind_int64(put.get(), 9, static_cast<sqlite3_int64>(entry.file.inode));
        code = sqlite3_step(put.get());
        if (code == SQLITE_DONE)
            code = SQLITE_OK;
    }
    put.reset();
    return EndTransaction(m_db, code, problem);
}

std::vector<Entry> Database::Entries(const std::string& folder, std::string* problem) {
    std::vector<Entry> entries;
    int code = SQLITE_OK;
    Statement all = Prepare(m_db,
                            "SELECT etag, last_modified, name, size, mtime_ns, ctime_ns, inode, url"
                            " FROM tones WHERE folder = ?1",
                            &code);
    if (code == SQLITE_OK) {
        BindText(all.get(), 1, folder);
        while ((code = sqlite3_step(all.get())) == SQLITE_ROW)
            entries.push_back(ReadEntry(all.get(), folder, ColumnText(all.get(), 7)));
    }
    if (code != SQLITE_DONE) {
        *problem = Reason(m_db, code);
        entries.clear();
    }
    return entries;
}

bool Database::Remove(const std::string& folder, const std::vector<std::string>& urls,
                      std::string* problem) {
    int code = SQLITE_OK;
    if (!BeginTransaction(m_db, problem))
        return false;
    Statement remove = Prepare(m_db, "DELETE FROM tones WHERE folder = ?1 AND url = ?2", &code);
    for (size_t i = 0; code == SQLITE_OK && i < urls.size(); ++i) {
        sqlite3_reset(remove.get());
        BindText(remove.get(), 1, folder);
        BindText(remove.get(), 2, urls[i]);
        code = sqlite3_step(remove.get());
        if (code == SQLITE_DONE)
            code = SQLITE_OK;
    }
    remove.reset();
    return EndTransaction(m_db, code, problem);
}

std::string DefaultPath() {
    std::filesystem::path folder;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        folder = state;
    else
        folder = std::filesystem::path(HomeFolder()) / ".local" / "state";
    return (folder / kFolderName / kFileName).string();
}

} // namespace record
