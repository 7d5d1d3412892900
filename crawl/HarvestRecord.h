// The harvest record as the engine uses it: which tone address gave which file in which
// folder, with the server's validators, so that a later crawl can ask the server whether its
// copy is still current. It only ever spares a body: whenever it cannot be trusted, the
// engine downloads as if nothing were recorded.
#pragma once

#include "platform/com/com.h"
#include "platform/record/record.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

// What a server said identifies the content it sent.
struct CValidators {
    std::u16string m_szETag;
    std::u16string m_szLastModified;
};

class CHarvestRecord {
public:
    CHarvestRecord() = default;
    ~CHarvestRecord() { Flush(); }
    CHarvestRecord(const CHarvestRecord&) = delete;
    CHarvestRecord& operator=(const CHarvestRecord&) = delete;

    // A new crawl: a record that could not be used last time is tried again.
    void BeginCrawl();
    // The request headers that ask whether url's copy in folder is still current; empty
    // unless the record holds url for folder with validators and the file it names is still
    // there with the same size, modification time, change time and (where the file system
    // keeps them across mounts) inode. Every spelling of a folder, and a link to it, is one
    // folder to the record: it keys folders by their real path.
    std::u16string ConditionalHeaders(const std::u16string& folder, LPCWSTR url);
    // Remembers that url, sent with these validators, is held by the file at path in folder.
    void Remember(const std::u16string& folder, LPCWSTR url, const CValidators& validators,
                  LPCWSTR path);
    // Forgets the entries of folder whose file is gone, after a crawl into it that finished:
    // the record never grows past the tones the folder holds.
    void ForgetGoneFiles(const std::u16string& folder);
    // Commits what was remembered once a second has passed since the last commit, so a crawl
    // that is killed loses at most the last second's entries.
    void FlushIfDue();
    void Flush();
    // Why the record could not be used, once; empty when it could or that was told already.
    std::u16string TakeProblem();

private:
    enum class State { Closed, Open, Unusable };

    // What the record knows of a folder for this crawl.
    struct CFolder {
        std::string m_szKey; // the real path; empty when the folder cannot be resolved
        bool m_bLastingInodes = false;
        std::optional<bool> m_bHeld; // whether the database held anything for it at the start
    };

    bool Ready();
    void Fail(const std::string& why);
    CFolder& FolderOf(const std::u16string& folder);
    std::optional<record::Entry> Find(CFolder& folder, const std::string& url);

    State m_state = State::Closed;
    std::unique_ptr<record::Database> m_pDatabase;
    // Remembered since the last commit, by folder and address.
    std::map<std::pair<std::string, std::string>, record::Entry> m_pending;
    // The folders of this crawl, as the engine names them. A folder the database held
    // nothing for needs no look-up per tone.
    std::map<std::u16string, CFolder> m_folders;
    DWORD m_dwLastFlush = 0;
    std::string m_szProblem; // not yet told
};
