// Storing a downloaded tone: its name comes from the cache file, a name held by a different
// file moves to a numbered variant, and a file with the same bytes is not stored again.
#include "crawl/CrawlEngine.h"
#include "crawl/FilesIdentical.h"
#include "crawl/SaveFolder.h"
#include "crawl/StoredName.h"
#include "naming/Naming.h"
#include "platform/files/files.h"
#include "platform/net/urlmon.h"
#include "platform/text/text.h"
#include "platform/text/text_error.h"

#include <cerrno>

namespace {

constexpr int kMaxVariant = 255;

enum class Outcome { Copied, CopyFailed, AlreadyThere, NoFreeName, NameTooLong, NoFileName };

// The stored name: the cache file's own name without the cache's [N], decoded.
void MakeFileName(LPCWSTR cacheFile, WCHAR (&szFileName)[MAX_PATH]) {
    StrCpyN(szFileName, PathFindFileName(cacheFile), MAX_PATH);
    PathUndecorate(szFileName);
    FixUpName(szFileName, MAX_PATH);
}

// Candidate n: the destination itself for 0, else the folder with "base[n]extension", the
// base shortened as far as the name and path limits ask. False when nothing fits.
bool MakeCandidate(LPCWSTR destination, int n, WCHAR (&szCandidate)[MAX_PATH]) {
    if (n == 0) {
        StrCpyN(szCandidate, destination, MAX_PATH);
        return true;
    }
    LPCWSTR name = PathFindFileName(destination);
    const size_t folderUnits = static_cast<size_t>(name - destination);
    const std::u16string variant = NumberedName(name, n, MAX_PATH - 1 - folderUnits);
    if (variant.empty())
        return false;
    StrCpyN(szCandidate, destination, static_cast<int>(folderUnits + 1));
    StrCatBuff(szCandidate, variant.c_str(), MAX_PATH);
    return true;
}

// Tries the destination and its numbered variants in turn: a free name gets the copy, a
// name holding the same bytes ends the search, a name holding other bytes moves it on. The
// store itself finds out whether a name is free (it never replaces a file), so a free name
// costs no separate look.
// *chosen is the name that holds the tone's bytes afterwards.
Outcome CopyUnderFreeName(LPCWSTR source, LPCWSTR destination, StoreWay way, int* error,
                          WCHAR (&szCandidate)[MAX_PATH]) {
    for (int n = 0; n <= kMaxVariant; ++n) {
        if (!MakeCandidate(destination, n, szCandidate))
            return Outcome::NameTooLong; // nothing is ever written to a cut-down path
        *error = StoreCacheFileNoReplace(source, szCandidate, way);
        if (*error == 0)
            return Outcome::Copied;
        if (*error != EEXIST)
            return Outcome::CopyFailed;
        if (FilesIdentical(szCandidate, source))
            return Outcome::AlreadyThere;
    }
    return Outcome::NoFreeName;
}

// Whether a failed store is the folder's fault rather than this tone's: then every later
// tone would fail the same way. *folderError is the reason the folder gives.
bool IsFolderFailure(int error, LPCWSTR folder, int* folderError) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EROFS:
        *folderError = error; // an empty probe file may still fit
        return true;
    default:
        *folderError = ProbeFolderWritable(folder);
        return *folderError != 0;
    }
}

std::u16string Reason(int error) {
    return SystemErrorText(error);
}

// Why a tone was not stored, in words.
std::u16string WhyNotStored(Outcome outcome, int error) {
    switch (outcome) {
    case Outcome::NoFreeName:
        return u"the name and its " + FromUtf8(std::to_string(kMaxVariant)) +
               u" numbered variants hold other files";
    case Outcome::NameTooLong:
        return Reason(ENAMETOOLONG);
    case Outcome::NoFileName:
        return u"no file can have that name";
    default:
        return Reason(error);
    }
}

} // namespace

void CCrawlEngine::StoreTone(LPCWSTR url, LPCWSTR cacheFile, const CValidators& validators) {
    if (!*cacheFile) {
        // A transfer that reported success but named no file has nothing to store; the
        // tone stays unrecorded, so meeting it again fetches it again.
        DeleteUrlCacheEntry(url);
        m_outcome.ToneFailed(url);
        Tell({CCrawlEvent::kToneFailed, url, {}, u"the download service kept no file of it"});
        return;
    }

    const std::u16string folder = SaveFolderFromField(ReadSaveFolder());
    const FolderTraits traits = TraitsOfFolder(folder);
    WCHAR szFileName[MAX_PATH];
    MakeFileName(cacheFile, szFileName);
    bool bStorable = MakeStorableName(szFileName, traits.refusesReservedCharacters);
    WCHAR szStatus[1024];
    wnsprintf(szStatus, 1024, u"Copying tone %s", szFileName);
    m_pProgress->SetToneStatus(szStatus);

    WCHAR szDestination[MAX_PATH];
    WCHAR szStored[MAX_PATH];
    Outcome outcome = bStorable ? Outcome::NameTooLong : Outcome::NoFileName;
    int error = 0;
    if (bStorable && PathCombine(szDestination, folder.c_str(), szFileName) &&
        StrCmpI(PathFindFileName(szDestination), szFileName) == 0)
        outcome = CopyUnderFreeName(cacheFile, szDestination, traits.way, &error, szStored);

    int folderError = 0;
    switch (outcome) {
    case Outcome::Copied:
        ToneStored(url, szStored);
        m_record.Remember(folder, url, validators, szStored);
        m_pProgress->UpdateTotals(true);
        break;
    case Outcome::AlreadyThere:
        ToneAlreadyThere(url, szStored);
        m_record.Remember(folder, url, validators, szStored);
        break;
    case Outcome::CopyFailed:
        ToneNotStored(url, szFileName, WhyNotStored(outcome, error));
        m_pProgress->UpdateTotals(false);
        if (IsFolderFailure(error, folder.c_str(), &folderError))
            StopCrawl(u"The crawl was stopped: couldn't store tones in the folder " + folder +
                      u": " + Reason(folderError) + u".");
        break;
    case Outcome::NoFreeName: // this tone's name cannot be stored here
    case Outcome::NameTooLong:
    case Outcome::NoFileName:
        ToneNotStored(url, szFileName, WhyNotStored(outcome, error));
        break;
    }

    DeleteUrlCacheEntry(url);
    m_visited.Add(url);
}

void CCrawlEngine::ToneUnchanged(LPCWSTR url) {
    ToneAlreadyThere(url, nullptr);
    m_pProgress->AppendLog(u"The server reported the tone unchanged; the stored copy is kept.");
    m_visited.Add(url);
}

FolderTraits CCrawlEngine::TraitsOfFolder(const std::u16string& folder) {
    if (const auto known = m_folderTraits.find(folder); known != m_folderTraits.end())
        return known->second;
    // A folder that cannot be asked now is asked again at the next tone; meanwhile nothing is
    // assumed of it, and storing says what is wrong.
    FolderTraits traits;
    if (ProbeFolder(folder.c_str(), &traits) != 0)
        return FolderTraits{};
    m_folderTraits.emplace(folder, traits);
    return traits;
}
