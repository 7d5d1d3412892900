// File system services: folders, attributes, reading, and storing a file without ever
// leaving a half-written file under its final name.
#pragma once

#include "platform/com.h"

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
    ~CReadFile();
    CReadFile(const CReadFile&) = delete;
    CReadFile& operator=(const CReadFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    // Reads up to size bytes; false on a read error. *read is 0 at the end of the file.
    bool Read(void* buffer, uint32_t size, uint32_t* read);

private:
    int m_fd = -1;
};

// Copies source into the folder of destination under a temporary name of the program's own,
// then moves it to destination without replacing anything there. 0 on success; EEXIST when
// destination appeared meanwhile; another errno value on failure. Nothing is left behind on
// failure.
int CopyFileNoReplace(LPCWSTR source, LPCWSTR destination);
