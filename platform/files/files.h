// File system services: folders, attributes, reading, and storing a file without ever
// leaving a half-written file under its final name. Built on POSIX calls, the text
// service's paths and UniqueFd (unique_fd.h, also used by the download cache); the engine
// stores tones with it and the crawl driver prepares the folder.
#pragma once

#include "platform/com/com.h"
#include "platform/files/unique_fd.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Creates the folder and its missing parents. 0 on success, else an errno value.
int SHCreateDirectory(void* hwndOwner, LPCWSTR path);

struct WIN32_FILE_ATTRIBUTE_DATA {
    bool bDirectory;
    uint64_t nFileSize;
};
bool GetFileAttributesEx(LPCWSTR path, WIN32_FILE_ATTRIBUTE_DATA* data);

// An open file for reading; closed when the object goes.
class CReadFile {
public:
    explicit CReadFile(LPCWSTR path);

    bool IsOpen() const { return m_file.IsOpen(); }
    // Reads up to size bytes; false on a read error. *read is 0 at the end of the file.
    bool Read(void* buffer, uint32_t size, uint32_t* read);

private:
    UniqueFd m_file;
};

// Stores source under destination without replacing anything there: a file that is about to
// be deleted (a cache file) on the same file system is linked into place; otherwise it is
// copied under a temporary name of the program's own in destination's folder and then moved
// there. 0 on success; EEXIST when destination exists; another errno value on failure.
// Nothing is left behind on failure.
int StoreCacheFileNoReplace(LPCWSTR source, LPCWSTR destination);

// Removes the temporary files of the program's own that a run killed while storing left in
// folder: regular files under exactly those names, nothing else. Returns how many went.
int RemoveLeftoverPartFiles(LPCWSTR folder);

// Whether folder takes new files, tried by creating (and removing) one under a temporary name
// of the program's own. 0 when it does, else the errno value that creating gave.
int ProbeFolderWritable(LPCWSTR folder);
