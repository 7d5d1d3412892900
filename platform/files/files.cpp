// File system services over POSIX: folders, attributes, reading, the program's temporary
// files and the sweep of those a killed run left.
#include "platform/files/files.h"
#include "platform/files/files_internal.h"
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

namespace files_internal {

std::string NativePath(LPCWSTR path) {
    return ToNativeName(path ? std::u16string_view(path) : u"");
}

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

ssize_t ReadSome(int fd, void* buffer, size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
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

std::string TemporaryName(std::string_view infix) {
    static std::mt19937_64 random{std::random_device{}()};
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random()));
    return std::string(kTemporaryPrefix) + digits + std::string(infix) +
           std::string(kTemporarySuffix);
}

bool IsTemporaryName(std::string_view name) {
    if (name == kFolderLockName)
        return true;
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

// Such a lock belongs to the open file rather than to the process, so it keeps out a sweep in
// this process as well as one in another copy, and network file systems see it as a
// byte-range lock.
int LockOpenFile(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET; // from 0 to the end, however long the file grows
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 0 : errno;
}

bool IsStillNamed(int fd, int dir, const char* name) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool IsStillNamed(int fd, const std::string& path) {
    return IsStillNamed(fd, AT_FDCWD, path.c_str());
}

} // namespace files_internal

using namespace files_internal;

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

int PartFile::SyncData() {
    return ::fdatasync(m_file.get()) == 0 ? 0 : (errno ? errno : EIO);
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
