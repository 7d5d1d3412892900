// Preloaded into the program run by the fault-injection test: it sees every write, sync, link
// and rename the program makes into one folder, and can kill the program at the Nth of them
// or refuse links and RENAME_NOREPLACE there as FUSE and network file systems do.
//   PM_SHIM_FOLDER   the folder (its real path)
//   PM_SHIM_KILL_AT  N: SIGKILL just before the Nth operation into the folder
//   PM_SHIM_LOG      a file that gets one line per operation into the folder, and per write
//                    or sync under PM_SHIM_ALSO (the cache and the record)
//   PM_SHIM_NO_LINKS 1: link and RENAME_NOREPLACE into the folder fail as unsupported
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <unistd.h>

namespace {

std::atomic<long> g_nOperations{0};

const char* Env(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

bool Under(const char* path, const char* prefix) {
    if (!path || !prefix)
        return false;
    const size_t n = std::strlen(prefix);
    return std::strncmp(path, prefix, n) == 0 && (path[n] == '/' || path[n] == 0);
}

std::string PathOfFd(int fd) {
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::string Absolute(int dirfd, const char* path) {
    if (!path || path[0] == '/')
        return path ? path : "";
    char cwd[4096];
    const std::string base =
        dirfd != AT_FDCWD ? PathOfFd(dirfd) : (::getcwd(cwd, sizeof cwd) ? cwd : "");
    return base + "/" + path;
}

template <class F> F Next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

void Log(const char* op, const std::string& a, const std::string& b = {}) {
    const char* log = Env("PM_SHIM_LOG");
    if (!log)
        return;
    static auto write = Next<ssize_t (*)(int, const void*, size_t)>("write");
    const int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const std::string line = std::string(op) + "\t" + a + "\t" + b + "\n";
    write(fd, line.data(), line.size());
    ::close(fd);
}

// An operation on path (and to): counted and perhaps the last when it touches the folder.
void Operation(const char* op, const std::string& path, const std::string& to = {}) {
    const char* folder = Env("PM_SHIM_FOLDER");
    const bool intoFolder = Under(path.c_str(), folder) || Under(to.c_str(), folder);
    if (!intoFolder && !Under(path.c_str(), Env("PM_SHIM_ALSO")))
        return;
    if (intoFolder) {
        const long n = ++g_nOperations;
        const char* killAt = Env("PM_SHIM_KILL_AT");
        if (killAt && n == std::atol(killAt))
            ::raise(SIGKILL);
    }
    Log(op, path, to);
}

bool RefusedLink(const std::string& to) {
    return Env("PM_SHIM_NO_LINKS") && Under(to.c_str(), Env("PM_SHIM_FOLDER"));
}

} // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
    static auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
    if (fd > 2)
        Operation("write", PathOfFd(fd));
    return next(fd, data, size);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
    static auto next = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
    Operation("write", PathOfFd(fd));
    return next(fd, data, size, offset);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    static auto next = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    Operation("write", PathOfFd(fd));
    return next(fd, data, size, offset);
}

int fsync(int fd) {
    static auto next = Next<int (*)(int)>("fsync");
    Operation("fsync", PathOfFd(fd));
    return next(fd);
}

int fdatasync(int fd) {
    static auto next = Next<int (*)(int)>("fdatasync");
    Operation("fsync", PathOfFd(fd));
    return next(fd);
}

int syncfs(int fd) noexcept {
    static auto next = Next<int (*)(int)>("syncfs");
    Operation("syncfs", PathOfFd(fd));
    return next(fd);
}

int link(const char* from, const char* to) noexcept {
    static auto next = Next<int (*)(const char*, const char*)>("link");
    const std::string target = Absolute(AT_FDCWD, to);
    Operation("link", Absolute(AT_FDCWD, from), target);
    if (RefusedLink(target)) {
        errno = EPERM;
        return -1;
    }
    return next(from, to);
}

int rename(const char* from, const char* to) noexcept {
    static auto next = Next<int (*)(const char*, const char*)>("rename");
    Operation("rename", Absolute(AT_FDCWD, from), Absolute(AT_FDCWD, to));
    return next(from, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) noexcept {
    static auto next = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    const std::string target = Absolute(toDir, to);
    Operation("rename", Absolute(fromDir, from), target);
    if ((flags & RENAME_NOREPLACE) && RefusedLink(target)) {
        errno = EINVAL;
        return -1;
    }
    return next(fromDir, from, toDir, to, flags);
}

} // extern "C"
