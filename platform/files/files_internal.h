// What the file service's own sources share: opening, copying, the temporary names and the
// locks that keep the program's temporary files from a sweep.
#pragma once

#include "platform/com/com.h"
#include "platform/files/unique_fd.h"

#include <string>
#include <string_view>
#include <sys/types.h>

namespace files_internal {

std::string NativePath(LPCWSTR path);

// Opens a regular file for reading: a folder, a pipe or a device is no tone.
UniqueFd OpenRegularFile(const std::string& path);

// Reads up to size bytes; -1 on a read error, 0 at the end of the file.
ssize_t ReadSome(int fd, void* buffer, size_t size);

// A fresh temporary name of the program's own; infix goes before its ending.
std::string TemporaryName(std::string_view infix = {});
// Whether a name is one of the program's temporary names, or the folder's lock file.
bool IsTemporaryName(std::string_view name);
// The reserved characters as the probe of names puts them into a temporary name.
const std::string& ReservedInfix();

// Takes a lock on the whole open file, shared or exclusive, without waiting. 0 or errno.
int LockOpenFile(int fd, short type);

// Whether the name still holds the open file: someone may have removed or replaced it since.
bool IsStillNamed(int fd, int dir, const char* name);
bool IsStillNamed(int fd, const std::string& path);

// The lock file that every copy of the program takes while it renames into the folder.
inline constexpr std::string_view kFolderLockName = ".pm-lock.part";

} // namespace files_internal
