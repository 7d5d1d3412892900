// Storing a downloaded tone: its name comes from the cache file, a name held by a different
// file moves to a numbered variant, and a file with the same bytes is not stored again.
#include "crawl/CrawlEngine.h"
#include "crawl/FilesIdentical.h"
#include "crawl/SaveFolder.h"
#include "crawl/StoredName.h"
#include "naming/Naming.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/net/urlmon.h"
#include "platform/text/text.h"
#include "platform/text/text_error.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

namespace {

constexpr int kMaxVariant = 255;
// A batch of stores ends after this long, or when this many temporary copies wait open.
constexpr DWORD kStoreBatchMs = 1000;
constexpr int kMaxStagedCopies = 256;

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

// Tries the destination and its numbered variants in turn: a free name gets the tone, a
// name holding the same bytes ends the search, a name holding other bytes moves it on. The
// store itself finds out whether a name is free (it never replaces a file), so a free name
// costs no separate look.
// *chosen is the name that holds the tone's bytes afterwards.
Outcome NameUnderFreeName(StagedFile& staged, LPCWSTR destination, int* error,
                          WCHAR (&szCandidate)[MAX_PATH]) {
    for (int n = 0; n <= kMaxVariant; ++n) {
        if (!MakeCandidate(destination, n, szCandidate))
            return Outcome::NameTooLong; // nothing is ever written to a cut-down path
        *error = staged.Name(szCandidate);
        if (*error == 0)
            return Outcome::Copied;
        if (*error != EEXIST)
            return Outcome::CopyFailed;
        if (FilesIdentical(szCandidate, staged.path().c_str()))
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

// Storing happens in two steps. StoreTone stages the tone's bytes on the folder's file system
// under no tone's name. FinishStores then, for a batch of such tones, syncs their bytes, gives
// them their names in the walk's order, syncs the folder, and only then tells the harvest
// record, so neither a name nor the record ever runs ahead of the bytes on the disk. On file
// systems that sync as a whole (ext4, XFS, btrfs) one sync of the file system serves the whole
// batch, where a sync per file would cost a flush of the disk's cache per tone (about 4 ms each
// here, more than the tone's transfer); it also writes out what other programs left pending there,
// which is its price. A batch ends once a second (kStoreBatchMs), when kMaxStagedCopies temporary
// copies are open, and at the crawl's end. Elsewhere each file is synced on its own, so there is
// nothing to gain by waiting and each tone is named at once.
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
    CPendingStore store{url, folder, szFileName, {}, validators, traits, bStorable, nullptr, 0};
    if (bStorable && PathCombine(szDestination, folder.c_str(), szFileName) &&
        StrCmpI(PathFindFileName(szDestination), szFileName) == 0) {
        store.m_szDestination = szDestination;
        store.m_pStaged = std::make_unique<StagedFile>(cacheFile, folder.c_str(), traits.way);
    }
    const bool bFailed = !store.m_pStaged || store.m_pStaged->error() != 0;
    if (!bFailed && store.m_pStaged->HoldsCopy())
        ++m_nStagedCopies;
    m_visited.Add(url);
    if (m_pendingStores.empty())
        m_dwFirstPending = GetTickCount();
    m_pendingStores.push_back(std::move(store));

    // A tone that cannot be stored is told at once: the folder may be what failed.
    if (bFailed || !m_bBatchStores || !traits.syncsAsWhole || m_nStagedCopies >= kMaxStagedCopies)
        FinishStores();
}

void CCrawlEngine::EndCrawlStores() {
    FinishStores();
    m_bBatchStores = false;
    // The record keeps only what the folder holds: after a crawl that finished, it forgets
    // the files that are gone.
    if (!m_pProgress->m_bCancel && m_outcome.m_szStartPageError.empty())
        m_record.ForgetGoneFiles(SaveFolderFromField(ReadSaveFolder()));
}

void CCrawlEngine::FlushIfDue() {
    if (!m_pendingStores.empty() && GetTickCount() - m_dwFirstPending >= kStoreBatchMs)
        FinishStores();
    m_record.FlushIfDue();
}

void CCrawlEngine::FinishStores() {
    std::vector<CPendingStore> batch = std::exchange(m_pendingStores, {});
    m_nStagedCopies = 0;
    // The bytes reach the disk: one sync for each file system that syncs as a whole, each
    // file on its own elsewhere.
    std::map<std::u16string, int> wholeSyncs;
    for (CPendingStore& store : batch) {
        if (!store.m_pStaged || store.m_pStaged->error() != 0)
            continue;
        if (!store.m_traits.syncsAsWhole) {
            store.m_nSyncError = store.m_pStaged->Sync();
            continue;
        }
        auto [synced, isNew] = wholeSyncs.try_emplace(store.m_szFolder, 0);
        if (isNew)
            synced->second = SyncFileSystem(store.m_szFolder.c_str());
        store.m_nSyncError = synced->second;
    }

    // Then their names, in the walk's order.
    std::vector<std::pair<CPendingStore*, std::u16string>> named;
    for (CPendingStore& store : batch) {
        WCHAR szStored[MAX_PATH] = {};
        if (NameStagedTone(store, szStored))
            named.emplace_back(&store, szStored);
    }

    // The cache's own link goes first: unlinking it changes the stored file's ctime, which
    // the record keeps.
    for (CPendingStore& store : batch)
        DeleteUrlCacheEntry(store.m_szUrl.c_str());

    // The folders' entries reach the disk before the record names them.
    std::map<std::u16string, bool> folderSynced;
    for (auto& [store, stored] : named) {
        auto [synced, isNew] = folderSynced.try_emplace(store->m_szFolder, false);
        if (isNew)
            synced->second = SyncFolder(store->m_szFolder.c_str()) == 0;
        if (synced->second)
            m_record.Remember(store->m_szFolder, store->m_szUrl.c_str(), store->m_validators,
                              stored.c_str());
    }
}

bool CCrawlEngine::NameStagedTone(CPendingStore& store, WCHAR (&szStored)[MAX_PATH]) {
    LPCWSTR url = store.m_szUrl.c_str();
    LPCWSTR szFileName = store.m_szFileName.c_str();
    Outcome outcome = Outcome::NoFileName;
    int error = 0;
    if (!store.m_pStaged) {
        outcome = store.m_bStorable ? Outcome::NameTooLong : Outcome::NoFileName;
    } else if ((error = store.m_pStaged->error()) != 0 || (error = store.m_nSyncError) != 0) {
        outcome = Outcome::CopyFailed;
    } else {
        outcome =
            NameUnderFreeName(*store.m_pStaged, store.m_szDestination.c_str(), &error, szStored);
    }

    int folderError = 0;
    switch (outcome) {
    case Outcome::Copied:
        ToneStored(url, szStored);
        m_pProgress->UpdateTotals(true);
        return true;
    case Outcome::AlreadyThere:
        ToneAlreadyThere(url, szStored);
        return true;
    case Outcome::CopyFailed:
        ToneNotStored(url, szFileName, WhyNotStored(outcome, error));
        m_pProgress->UpdateTotals(false);
        if (IsFolderFailure(error, store.m_szFolder.c_str(), &folderError))
            StopCrawl(u"The crawl was stopped: couldn't store tones in the folder " +
                      store.m_szFolder + u": " + Reason(folderError) + u".");
        return false;
    case Outcome::NoFreeName: // this tone's name cannot be stored here
    case Outcome::NameTooLong:
    case Outcome::NoFileName:
        ToneNotStored(url, szFileName, WhyNotStored(outcome, error));
        return false;
    }
    return false;
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
