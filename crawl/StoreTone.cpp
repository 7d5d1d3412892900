// Storing a downloaded tone: its name comes from the cache file, a name held by a different
// file moves to a numbered variant, and a file with the same bytes is not stored again.
#include "crawl/CrawlEngine.h"
#include "crawl/FilesIdentical.h"
#include "crawl/StoredName.h"
#include "naming/Naming.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/urlmon.h"
#include "ui/ProgressDialog.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr int kMaxVariant = 255;

enum class Outcome { Copied, CopyFailed, AlreadyThere, NoFreeName };

// The stored name: the cache file's own name without the cache's [N], decoded.
void MakeFileName(LPCWSTR cacheFile, WCHAR (&szFileName)[MAX_PATH]) {
    StrCpyN(szFileName, PathFindFileName(cacheFile), MAX_PATH);
    PathUndecorate(szFileName);
    FixUpName(szFileName, MAX_PATH);
}

// Candidate n: the destination itself for 0, else "base[n]extension". False when the
// candidate does not fit in a path.
bool MakeCandidate(LPCWSTR destination, LPCWSTR base, LPCWSTR extension, int n,
                   WCHAR (&szCandidate)[MAX_PATH]) {
    if (n == 0) {
        StrCpyN(szCandidate, destination, MAX_PATH);
        return true;
    }
    return wnsprintf(szCandidate, MAX_PATH, u"%s[%d]%s", base, n, extension) >= 0;
}

// Tries the destination and its numbered variants in turn: a free name gets the copy, a
// name holding the same bytes ends the search, a name holding other bytes moves it on. The
// store itself finds out whether a name is free (it never replaces a file), so a free name
// costs no separate look.
Outcome CopyUnderFreeName(LPCWSTR source, LPCWSTR destination, int* error) {
    WCHAR szBase[MAX_PATH];
    StrCpyN(szBase, destination, MAX_PATH);
    PathRemoveExtension(szBase);
    LPCWSTR extension = PathFindExtension(destination);

    for (int n = 0; n <= kMaxVariant; ++n) {
        WCHAR szCandidate[MAX_PATH];
        if (!MakeCandidate(destination, szBase, extension, n, szCandidate))
            return Outcome::NoFreeName; // nothing is ever written to a cut-down path
        *error = StoreCacheFileNoReplace(source, szCandidate);
        if (*error == 0)
            return Outcome::Copied;
        if (*error != EEXIST)
            return Outcome::CopyFailed;
        if (FilesIdentical(szCandidate, source))
            return Outcome::AlreadyThere;
    }
    return Outcome::NoFreeName;
}

} // namespace

void CCrawlEngine::StoreTone(LPCWSTR url, LPCWSTR cacheFile) {
    if (!*cacheFile) {
        // A transfer that reported success but named no file has nothing to store; the
        // tone stays unrecorded, so meeting it again fetches it again.
        DeleteUrlCacheEntry(url);
        return;
    }

    WCHAR szFileName[MAX_PATH];
    MakeFileName(cacheFile, szFileName);
    bool bStorable = MakeStorableName(szFileName);
    WCHAR szStatus[1024];
    wnsprintf(szStatus, 1024, u"Copying tone %s", szFileName);
    m_pProgress->SetToneStatus(szStatus);

    WCHAR szFolder[MAX_PATH];
    StrCpyN(szFolder, ReadSaveFolder().c_str(), MAX_PATH);
    TrimWhiteSpace(szFolder);

    WCHAR szDestination[MAX_PATH];
    if (!bStorable) {
        m_pProgress->AppendLog(u"The server's name for this tone cannot be a file name; "
                               u"it was not stored.");
    } else if (!PathCombine(szDestination, szFolder, szFileName) ||
               StrCmpI(PathFindFileName(szDestination), szFileName) != 0) {
        m_pProgress->AppendLog(u"The folder and the tone's name make too long a path; "
                               u"it was not stored.");
    } else {
        int error = 0;
        Outcome outcome = CopyUnderFreeName(cacheFile, szDestination, &error);
        if (outcome == Outcome::CopyFailed) {
            // What the file system said, in place of the error window a shell copy shows.
            WCHAR szError[1024];
            wnsprintf(szError, 1024, u"Couldn't store the tone in the folder: %s",
                      FromUtf8(std::strerror(error)).c_str());
            m_pProgress->AppendLog(szError);
        }
        if (outcome == Outcome::Copied || outcome == Outcome::CopyFailed)
            m_pProgress->UpdateTotals(outcome == Outcome::Copied);
    }

    DeleteUrlCacheEntry(url);
    m_visited.Add(url);
}
