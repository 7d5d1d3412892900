// Storing a file under a name in a folder: never over a file that holds the name, and never
// a name before the bytes it names are on the disk, on any file system.
//
// ext4, XFS and btrfs may write a new directory entry to the disk before the data of the file
// it names, so a power cut soon after a store could leave a tone's name over an empty or
// short file. So the bytes are synced first and only then linked or renamed into place; the
// folder is synced after, before anyone (the harvest record) vouches for the names in it.
#include "platform/files/files.h"
#include "platform/files/files_internal.h"
#include "platform/text/text.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>

using namespace files_internal;

namespace {

namespace fs = std::filesystem;

// Another copy holds the folder's lock for a look and a rename; this bounds the wait for a
// copy that was stopped while it held it.
constexpr int kLockAttempts = 5000;
constexpr auto kLockRetry = std::chrono::milliseconds(1);

// Copies the whole of in into out; 0 or an errno value.
int CopyContents(int in, PartFile& out) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ReadSome(in, buffer, sizeof buffer);
        if (got < 0)
            return errno ? errno : EIO;
        if (got == 0)
            return 0;
        if (!out.WriteAll(buffer, static_cast<size_t>(got)))
            return errno ? errno : EIO;
    }
}

int ErrnoOr(int fallback) {
    return errno ? errno : fallback;
}

// A new file of the user's gets this mode.
mode_t NewFileMode() {
    static const mode_t mask = [] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return 0666 & ~mask;
}

// Whether source is a regular file of its own (linked nowhere else) on the file system of
// folder, so that linking it into place stores it without a copy.
bool CanLinkFrom(const std::string& source, const std::string& folder) {
    struct stat file {};
    struct stat dir {};
    return ::lstat(source.c_str(), &file) == 0 && S_ISREG(file.st_mode) && file.st_nlink == 1 &&
           ::stat(folder.c_str(), &dir) == 0 && file.st_dev == dir.st_dev;
}

// Links source into place with the mode a new file of the user's gets. 0, EEXIST, or another
// errno value when it cannot be linked (another mount, links not offered).
int LinkSoleFile(const std::string& source, const std::string& target) {
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1)
        return EINVAL;
    if ((info.st_mode & 07777) != NewFileMode() && ::chmod(source.c_str(), NewFileMode()) != 0)
        return errno;
    return ::link(source.c_str(), target.c_str()) == 0 ? 0 : errno;
}

// Moves temporary to destination unless something already stands there: a hard link, else a
// rename that refuses a taken name. 0, EEXIST, or the errno value of the last way tried.
int MoveNoReplace(const std::string& temporary, const std::string& destination) {
    if (::link(temporary.c_str(), destination.c_str()) == 0) {
        ::unlink(temporary.c_str());
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    const int renamed =
        ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE);
    return renamed == 0 ? 0 : errno;
}

// The lock file of a folder, held while the object lives. Whoever holds it unlinks it before
// letting go, so the folder keeps no file of the program's; a copy that was waiting on the
// unlinked file finds it no longer named and takes the lock anew. A file system that offers
// no locks leaves the step unlocked, as a lone copy of the program needs no lock.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : m_path((fs::path(folder) / kFolderLockName).string()) {
        for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
            UniqueFd file(::open(m_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (!file.IsOpen()) {
                m_error = errno;
                return;
            }
            const int lockError = LockOpenFile(file.get(), F_WRLCK);
            if (lockError == EAGAIN || lockError == EACCES) {
                std::this_thread::sleep_for(kLockRetry);
                continue;
            }
            if (lockError == 0 && !IsStillNamed(file.get(), m_path))
                continue;
            m_file = std::move(file);
            return;
        }
        m_error = EAGAIN;
    }
    ~FolderLock() {
        if (m_file.IsOpen() && IsStillNamed(m_file.get(), m_path))
            ::unlink(m_path.c_str());
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    int error() const { return m_error; }

private:
    std::string m_path;
    UniqueFd m_file;
    int m_error = 0;
};

// Renames temporary to destination in folder unless something holds that name: the look and
// the rename are one step for every copy of the program. 0, EEXIST or an errno value.
int RenameUnderLock(const std::string& temporary, const std::string& destination) {
    FolderLock lock(fs::path(destination).parent_path().string());
    if (lock.error() != 0)
        return lock.error();
    struct stat info {};
    if (::lstat(destination.c_str(), &info) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::rename(temporary.c_str(), destination.c_str()) == 0 ? 0 : errno;
}

// Syncs what fd names to the disk (data, or data and entries for a folder). A file system
// that has nothing to sync for this kind of file says so with EINVAL.
int SyncDescriptor(int fd, bool dataOnly) {
    const int synced = dataOnly ? ::fdatasync(fd) : ::fsync(fd);
    return synced == 0 || errno == EINVAL || errno == EROFS ? 0 : ErrnoOr(EIO);
}

// Local file systems of the system's own kind: they keep inode numbers, and syncfs makes all
// their data durable. Anything not known is taken as having neither.
bool IsLocalNativeFileSystem(long type) {
    switch (static_cast<unsigned long>(type)) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // XFS
    case 0x9123683E: // btrfs
    case 0xF2F52010: // F2FS
    case 0x2FC12FC1: // ZFS
    case 0xCA451A4E: // bcachefs
    case 0x01021994: // tmpfs
        return true;
    default:
        return false;
    }
}

} // namespace

FolderTraits FileSystemTraits(LPCWSTR folder) {
    FolderTraits traits;
    struct statfs info {};
    if (::statfs(NativePath(folder).c_str(), &info) == 0 && IsLocalNativeFileSystem(info.f_type))
        traits.syncsAsWhole = traits.lastingInodes = true;
    return traits;
}

StagedFile::StagedFile(LPCWSTR source, LPCWSTR folder, StoreWay way)
    : m_folder(NativePath(folder)), m_way(way) {
    const std::string from = NativePath(source);
    if (way == StoreWay::MoveIntoPlace && CanLinkFrom(from, m_folder)) {
        // The file itself waits for its name. Its writing to the disk is left to the batch's
        // sync: starting it here would do the file system's work on the crawl's own thread,
        // which measured slower than one sync doing it all.
        m_source = from;
        m_path = FromUtf8(from);
        return;
    }
    errno = 0;
    UniqueFd in = OpenRegularFile(from);
    if (!in.IsOpen()) {
        m_error = ErrnoOr(EINVAL); // missing, unreadable, or not a regular file
        return;
    }
    auto part = std::make_unique<PartFile>(m_folder);
    if (!part->IsOpen()) {
        m_error = part->error();
        return;
    }
    m_error = CopyContents(in.get(), *part);
    if (m_error == 0)
        m_error = part->FinishWriting();
    if (m_error != 0)
        return;
    m_path = FromUtf8(part->path());
    m_part = std::move(part);
}

StagedFile::~StagedFile() = default;

int StagedFile::Sync() {
    if (m_part)
        return m_part->SyncData();
    UniqueFd file = OpenRegularFile(m_source);
    if (!file.IsOpen())
        return ErrnoOr(ENOENT);
    return SyncDescriptor(file.get(), true);
}

int StagedFile::Name(LPCWSTR destination) {
    const std::string target = NativePath(destination);
    if (!m_part) {
        // The source on the folder's file system is linked into place: one step, nothing
        // written twice.
        const int error = LinkSoleFile(m_source, target);
        if (error == 0 || error == EEXIST)
            return error;
        // It cannot be (another mount of the same file system, links refused): a copy in
        // the folder is made, synced on its own, and moved. A taken name is not worth it.
        struct stat info {};
        if (::lstat(target.c_str(), &info) == 0)
            return EEXIST;
        StagedFile copy(FromUtf8(m_source).c_str(), FromUtf8(m_folder).c_str(),
                        StoreWay::RenameUnderLock);
        if (copy.error() != 0)
            return copy.error();
        if (const int synced = copy.Sync(); synced != 0)
            return synced;
        copy.m_way = m_way;
        return copy.Name(destination);
    }
    if (m_way == StoreWay::MoveIntoPlace) {
        const int error = MoveNoReplace(m_part->path(), target);
        if (error == 0 || error == EEXIST)
            return error;
        // The folder cannot move files into place after all; the lock makes it one step.
        m_way = StoreWay::RenameUnderLock;
    }
    return RenameUnderLock(m_part->path(), target);
}

int SyncFileSystem(LPCWSTR folder) {
    UniqueFd dir(::open(NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.IsOpen())
        return ErrnoOr(ENOENT);
    return ::syncfs(dir.get()) == 0 ? 0 : ErrnoOr(EIO);
}

int SyncFolder(LPCWSTR folder) {
    UniqueFd dir(::open(NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.IsOpen())
        return ErrnoOr(ENOENT);
    return SyncDescriptor(dir.get(), false);
}

int StoreCacheFileNoReplace(LPCWSTR source, LPCWSTR destination, StoreWay way) {
    const std::u16string folder = fs::path(ToUtf8(destination)).parent_path().u16string();
    StagedFile staged(source, folder.c_str(), way);
    if (staged.error() != 0)
        return staged.error();
    int error = staged.Sync();
    if (error == 0)
        error = staged.Name(destination);
    if (error == 0)
        error = SyncFolder(folder.c_str());
    return error;
}

namespace {

// Whether folder, which takes files, refuses the reserved characters in a name: a part file
// named with them is the test. ENOSPC and the like say nothing of names.
int ProbeReservedCharacters(const std::string& folder, bool* refused) {
    PartFile named(folder, ReservedInfix());
    switch (const int error = named.IsOpen() ? 0 : named.error()) {
    case ENOSPC:
    case EDQUOT:
    case EIO:
    case EMFILE:
    case ENFILE:
    case ENOMEM:
        return error;
    default:
        *refused = error != 0;
        return 0;
    }
}

// Whether an error of a link or a rename says that the file system does not offer it.
bool IsNotOffered(int error) {
    return error == EPERM || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == EXDEV;
}

// How the part file can be moved to stored: the ways are tried as storing tries them.
int ProbeWay(const PartFile& part, const std::string& stored, StoreWay* way) {
    *way = StoreWay::MoveIntoPlace;
    if (::link(part.path().c_str(), stored.c_str()) == 0)
        return 0;
    int error = errno;
    if (IsNotOffered(error)) {
        if (::renameat2(AT_FDCWD, part.path().c_str(), AT_FDCWD, stored.c_str(),
                        RENAME_NOREPLACE) == 0)
            return 0;
        error = errno;
    }
    if (!IsNotOffered(error))
        return error;
    *way = StoreWay::RenameUnderLock;
    return RenameUnderLock(part.path(), stored);
}

} // namespace

int ProbeFolder(LPCWSTR folder, FolderTraits* traits) {
    *traits = FileSystemTraits(folder);
    const std::string path = NativePath(folder);
    if (path.empty())
        return ENOENT;
    // Storing a file the way a tone is stored is the test: permission bits say nothing of a
    // read-only mount, a full disk, access control lists, a privileged user, or a file system
    // without hard links.
    PartFile source(path);
    if (!source.IsOpen())
        return source.error();
    constexpr std::string_view kProbeBytes = "probe";
    if (!source.WriteAll(kProbeBytes.data(), kProbeBytes.size()))
        return ErrnoOr(EIO);
    if (const int error = source.FinishWriting(); error != 0)
        return error;
    // Synced before it is named, as a tone is: the probe does as storing does.
    if (const int error = source.SyncData(); error != 0)
        return error;

    const std::string stored = (fs::path(path) / TemporaryName()).string();
    const int error = ProbeWay(source, stored, &traits->way);
    if (error != 0)
        return error;
    ::unlink(stored.c_str());
    return ProbeReservedCharacters(path, &traits->refusesReservedCharacters);
}

int ProbeFolderWritable(LPCWSTR folder) {
    FolderTraits traits;
    return ProbeFolder(folder, &traits);
}
