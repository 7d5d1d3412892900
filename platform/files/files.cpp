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

std::string NativePath(LPCWSTR path) {
    return ToUtf8(path ? std::u16string_view(path) : u"");
}

// Copies the whole of in into out; 0 or an errno value.
int CopyContents(CReadFile& in, UniqueFd& out) {
    char buffer[65536];
    for (;;) {
        uint32_t got = 0;
        if (!in.Read(buffer, sizeof buffer, &got))
            return errno ? errno : EIO;
        if (got == 0)
            return 0;
        if (!out.WriteAll(buffer, got))
            return errno ? errno : EIO;
    }
}

// The program's temporary file names: ".pm-", 16 lower-case hex digits, ".part". No tone has
// one: tones never start with ".pm-".
constexpr std::string_view kTemporaryPrefix = ".pm-";
constexpr std::string_view kTemporarySuffix = ".part";
constexpr size_t kTemporaryDigits = 16;

std::string TemporaryName() {
    static std::mt19937_64 random{std::random_device{}()};
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random()));
    return std::string(kTemporaryPrefix) + digits + std::string(kTemporarySuffix);
}

bool IsTemporaryName(std::string_view name) {
    if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size() ||
        !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
        return false;
    const std::string_view digits = name.substr(kTemporaryPrefix.size(), kTemporaryDigits);
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A name in the destination's folder that no tone can have.
std::string TemporaryNameBeside(const std::string& destination) {
    return (std::filesystem::path(destination).parent_path() / TemporaryName()).string();
}

// Moves temporary to destination unless something already stands there.
int MoveNoReplace(const std::string& temporary, const std::string& destination) {
    if (::link(temporary.c_str(), destination.c_str()) == 0) {
        ::unlink(temporary.c_str());
        return 0;
    }
    int error = errno;
    if (error == EEXIST)
        return EEXIST;
        // File systems without hard links: renameat2 with RENAME_NOREPLACE does the same.
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) ==
        0)
        return 0;
    error = errno;
#endif
    return error;
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

CReadFile::CReadFile(LPCWSTR path)
    : m_file(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    // Only regular files are read: a folder, a pipe or a device is no tone.
    if (m_file.IsOpen() && (::fstat(m_file.get(), &info) != 0 || !S_ISREG(info.st_mode)))
        m_file.Close();
}

bool CReadFile::Read(void* buffer, uint32_t size, uint32_t* read) {
    *read = 0;
    for (;;) {
        ssize_t got = ::read(m_file.get(), buffer, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        *read = static_cast<uint32_t>(got);
        return true;
    }
}

int StoreCacheFileNoReplace(LPCWSTR source, LPCWSTR destination) {
    // A source on the same file system is linked into place: one step, nothing written
    // twice, and a name that exists already is never replaced. The copy gets the mode a new
    // file of the user's gets (the cache's files are created with it already).
    const std::string from = NativePath(source);
    const std::string target = NativePath(destination);
    static const mode_t mask = [] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    struct stat info {};
    const mode_t mode = 0666 & ~mask;
    if (::lstat(from.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
        ((info.st_mode & 07777) == mode || ::chmod(from.c_str(), mode) == 0)) {
        if (::link(from.c_str(), target.c_str()) == 0)
            return 0;
        if (errno == EEXIST)
            return EEXIST;
        // Another file system, or links not offered: copy instead.
    }
    // A taken name is not worth a copy that could only fail to move into place.
    if (::lstat(target.c_str(), &info) == 0)
        return EEXIST;

    errno = 0;
    CReadFile in(source);
    if (!in.IsOpen())
        return errno ? errno : EINVAL; // missing, unreadable, or not a regular file
    const std::string temporary = TemporaryNameBeside(target);
    UniqueFd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.get() < 0)
        return errno;

    int error = CopyContents(in, out);
    if (!out.Close() && error == 0)
        error = errno ? errno : EIO;
    if (error == 0)
        error = MoveNoReplace(temporary, target);
    ::unlink(temporary.c_str()); // gone already after a successful move
    return error;
}

int RemoveLeftoverPartFiles(LPCWSTR folder) {
    const std::string path = NativePath(folder);
    if (path.empty())
        return 0;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!IsTemporaryName(entry->d_name))
            continue;
        // Only a file: a link or a folder under such a name is someone else's.
        struct stat info {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && ::unlinkat(::dirfd(dir.get()), entry->d_name, 0) == 0)
            ++removed;
    }
    return removed;
}

int ProbeFolderWritable(LPCWSTR folder) {
    const std::string path = NativePath(folder);
    if (path.empty())
        return ENOENT;
    // Creating a file is the test: permission bits say nothing of a read-only mount, a full
    // disk, access control lists or a privileged user.
    constexpr int kAttempts = 100; // names are random; a clash twice running is already rare
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string probe = (std::filesystem::path(path) / TemporaryName()).string();
        UniqueFd file(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!file.IsOpen()) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        const int error = file.Close() ? 0 : (errno ? errno : EIO);
        ::unlink(probe.c_str());
        return error;
    }
    return EEXIST;
}
