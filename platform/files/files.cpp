// File system services over POSIX.
#include "platform/files/files.h"
#include "platform/files/unique_fd.h"
#include "platform/text/text.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string NativePath(LPCWSTR path) {
    return ToNativeName(path ? std::u16string_view(path) : u"");
}

// Opens a regular file for reading: a folder, a pipe or a device is no tone.
UniqueFd OpenRegularFile(const std::string& path) {
    // Without waiting: opening a pipe for reading would wait for a writer.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (file.IsOpen() && (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))) {
        file.Close();
        errno = EINVAL;
    }
    return file;
}

// Reads up to size bytes; -1 on a read error, 0 at the end of the file.
ssize_t ReadSome(int fd, void* buffer, size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

// Copies the whole of in into out (a UniqueFd or a PartFile); 0 or an errno value.
template <class Out> int CopyContents(int in, Out& out) {
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

// The program's temporary file names: ".pm-", 16 lower-case hex digits, ".part"; the probe of
// names puts the reserved characters before ".part". No tone has such a name: the naming rules
// never leave a '.' at the start of one.
constexpr std::string_view kTemporaryPrefix = ".pm-";
constexpr std::string_view kTemporarySuffix = ".part";
constexpr size_t kTemporaryDigits = 16;

const std::string& ReservedInfix() {
    static const std::string infix = ToUtf8(kReservedNameCharacters);
    return infix;
}

std::string TemporaryName(std::string_view infix = {}) {
    static std::mt19937_64 random{std::random_device{}()};
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random()));
    return std::string(kTemporaryPrefix) + digits + std::string(infix) +
           std::string(kTemporarySuffix);
}

bool IsTemporaryName(std::string_view name) {
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
        return false;
    name.remove_prefix(kTemporaryPrefix.size());
    name.remove_suffix(kTemporarySuffix.size());
    if (name.size() < kTemporaryDigits)
        return false;
    const std::string_view digits = name.substr(0, kTemporaryDigits);
    const std::string_view infix = name.substr(kTemporaryDigits);
    return (infix.empty() || infix == ReservedInfix()) &&
           std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Takes a lock on the whole open file, shared or exclusive, without waiting. Such a lock
// belongs to the open file rather than to the process, so it keeps out a sweep in this process
// as well as one in another copy, and network file systems see it as a byte-range lock.
int LockOpenFile(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET; // from 0 to the end, however long the file grows
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 0 : errno;
}

// Whether the name still holds the open file: someone may have removed or replaced it since.
bool IsStillNamed(int fd, int dir, const char* name) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool IsStillNamed(int fd, const std::string& path) {
    return IsStillNamed(fd, AT_FDCWD, path.c_str());
}

// Links source into place when it is a file of its own (a cache file, about to be deleted),
// with the mode a new file of the user's gets. 0, EEXIST, or another errno value when it
// cannot be linked (another file system, links not offered, linked elsewhere already).
int LinkSoleFile(const std::string& source, const std::string& target) {
    static const mode_t mask = [] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    const mode_t mode = 0666 & ~mask;
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1)
        return EINVAL;
    if ((info.st_mode & 07777) != mode && ::chmod(source.c_str(), mode) != 0)
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

// Creates target exclusively and writes source's bytes there, synced to the disk, so that a
// file reported stored has reached it (a stick pulled right after keeps it). On any failure
// the file is removed again. The source is opened before anything is created, and a tone's
// bytes go out in one or a few writes, which keeps the time in which a crash could leave part
// of a file under the name as short as it can be without a way to move files into place.
int WriteNoReplace(const std::string& source, const std::string& target) {
    errno = 0;
    UniqueFd in = OpenRegularFile(source);
    if (!in.IsOpen())
        return errno ? errno : EINVAL;
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!out.IsOpen())
        return errno;
    int error = CopyContents(in.get(), out);
    if (error == 0 && ::fsync(out.get()) != 0)
        error = errno ? errno : EIO;
    if (error != 0 && IsStillNamed(out.get(), target))
        ::unlink(target.c_str());
    return error; // a close after a successful sync loses nothing
}

// The store itself; *used tells the way it took.
int StoreNoReplace(const std::string& source, const std::string& target, StoreWay way,
                   StoreWay* used) {
    *used = way;
    if (way == StoreWay::WriteInPlace)
        return WriteNoReplace(source, target);

    // A source on the same file system is linked into place: one step, nothing written twice.
    if (const int error = LinkSoleFile(source, target); error == 0 || error == EEXIST)
        return error;
    // A taken name is not worth a copy that could only fail to move into place.
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0)
        return EEXIST;

    errno = 0;
    UniqueFd in = OpenRegularFile(source);
    if (!in.IsOpen())
        return errno ? errno : EINVAL; // missing, unreadable, or not a regular file
    PartFile part(fs::path(target).parent_path());
    if (!part.IsOpen())
        return part.error();
    int error = CopyContents(in.get(), part);
    if (error == 0)
        error = part.FinishWriting();
    if (error == 0)
        error = MoveNoReplace(part.path(), target);
    if (error == 0 || error == EEXIST)
        return error;
    // The folder cannot move files into place (or the move failed for a reason that the
    // write will meet again and report). The part file's room goes first: a nearly full
    // stick has room for one copy, not two.
    part.Remove();
    *used = StoreWay::WriteInPlace;
    return WriteNoReplace(source, target);
}

} // namespace

int SHCreateDirectory(void*, LPCWSTR path) {
    std::string native = NativePath(path);
    if (native.empty())
        return ENOENT;
    std::error_code error;
    std::filesystem::create_directories(native, error);
    if (error)
        return error.value() ? error.value() : EIO;
    return std::filesystem::is_directory(native, error) ? 0 : ENOTDIR;
}

bool GetFileAttributesEx(LPCWSTR path, WIN32_FILE_ATTRIBUTE_DATA* data) {
    struct stat info {};
    if (::stat(NativePath(path).c_str(), &info) != 0)
        return false;
    data->bDirectory = S_ISDIR(info.st_mode);
    data->nFileSize = static_cast<uint64_t>(info.st_size);
    return true;
}

CReadFile::CReadFile(LPCWSTR path) : m_file(OpenRegularFile(NativePath(path))) {}

bool CReadFile::Read(void* buffer, uint32_t size, uint32_t* read) {
    const ssize_t got = ReadSome(m_file.get(), buffer, size);
    *read = got > 0 ? static_cast<uint32_t>(got) : 0;
    return got >= 0;
}

int StoreCacheFileNoReplace(LPCWSTR source, LPCWSTR destination, StoreWay way) {
    StoreWay used = way;
    return StoreNoReplace(NativePath(source), NativePath(destination), way, &used);
}

PartFile::PartFile(const std::filesystem::path& folder, std::string_view infix) {
    constexpr int kAttempts = 100; // names are random; a clash twice running is already rare
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string path = (folder / TemporaryName(infix)).string();
        UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!file.IsOpen()) {
            if (errno == EEXIST)
                continue;
            m_error = errno;
            return;
        }
        // A sweep may have come between the creation and the lock. Holding the lock itself, it
        // removes the file; having removed it, it leaves the name empty. Either way another
        // name is taken. A file system that offers no locks leaves the file unlocked, and a
        // sweep, unable to lock it either, leaves it alone.
        const int lockError = LockOpenFile(file.get(), F_WRLCK);
        if (lockError == EAGAIN || lockError == EACCES || !IsStillNamed(file.get(), path))
            continue;
        m_file = std::move(file);
        m_path = std::move(path);
        return;
    }
    m_error = EEXIST;
}

int PartFile::FinishWriting() {
    // Closing a duplicate reports as closing the file would, and the file stays open.
    UniqueFd duplicate(::dup(m_file.get()));
    if (!duplicate.IsOpen() || !duplicate.Close())
        return errno ? errno : EIO;
    return 0;
}

void PartFile::Remove() {
    if (m_file.IsOpen() && IsStillNamed(m_file.get(), m_path))
        ::unlink(m_path.c_str());
    m_file.Close();
}

namespace {

// A temporary file is abandoned when no one holds its lock: a copy of the program holds it
// from the file's creation until the file is in place. Only a regular file is taken (a link or
// a folder under such a name is someone else's), and only while the name still holds it.
bool RemoveIfAbandoned(int dir, const char* name) {
    UniqueFd file(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!file.IsOpen() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        LockOpenFile(file.get(), F_RDLCK) != 0)
        return false;
    return IsStillNamed(file.get(), dir, name) && ::unlinkat(dir, name, 0) == 0;
}

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

} // namespace

int RemoveLeftoverPartFiles(LPCWSTR folder) {
    const std::string path = NativePath(folder);
    if (path.empty())
        return 0;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (IsTemporaryName(entry->d_name) && RemoveIfAbandoned(::dirfd(dir.get()), entry->d_name))
            ++removed;
    }
    return removed;
}

int ProbeFolder(LPCWSTR folder, FolderTraits* traits) {
    *traits = {};
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
        return errno ? errno : EIO;
    if (const int error = source.FinishWriting(); error != 0)
        return error;

    const std::string stored = (fs::path(path) / TemporaryName()).string();
    const int error = StoreNoReplace(source.path(), stored, StoreWay::MoveIntoPlace, &traits->way);
    if (error != 0)
        return error;
    ::unlink(stored.c_str());
    return ProbeReservedCharacters(path, &traits->refusesReservedCharacters);
}

int ProbeFolderWritable(LPCWSTR folder) {
    FolderTraits traits;
    return ProbeFolder(folder, &traits);
}
