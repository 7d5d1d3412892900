// File system services: folders, attributes, reading, and storing a file on any file system
// without ever replacing a file or leaving a half-written one under its final name. Built on
// POSIX calls, the text service's paths and UniqueFd (unique_fd.h, also used by the download
// cache); the engine stores tones with it and the crawl driver prepares the folder.
#pragma once

#include "platform/com/com.h"
#include "platform/files/unique_fd.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

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

// The characters that file systems made for other systems (exFAT, FAT, NTFS, many network
// shares) refuse in a name.
inline constexpr std::u16string_view kReservedNameCharacters = u":*?\"<>|\\";

// How a file is stored without replacing anything. MoveIntoPlace writes it under a temporary
// name and moves it into place in one step that refuses a taken name (a hard link, or a rename
// with RENAME_NOREPLACE), so no crash ever leaves part of it under its name. WriteInPlace is
// for file systems that offer neither (exFAT, FAT, NTFS through FUSE, many network shares): it
// creates the name exclusively, writes and syncs the file there, and removes it again on any
// failure; only a crash while it writes can leave part of a file under the name.
enum class StoreWay { MoveIntoPlace, WriteInPlace };

// What storing in a folder can count on.
struct FolderTraits {
    StoreWay way = StoreWay::MoveIntoPlace;
    bool refusesReservedCharacters = false; // any of kReservedNameCharacters in a name
};

// Stores source under destination without replacing anything there: a file that is about to
// be deleted (a cache file) on the same file system is linked into place; otherwise it is
// stored the given way, and MoveIntoPlace turns to WriteInPlace by itself where the folder
// cannot move files into place (WriteInPlace, for a folder known to need it, spares the copy
// under a temporary name). 0 on success; EEXIST when destination exists; another errno value
// on failure. Nothing is left behind on failure.
int StoreCacheFileNoReplace(LPCWSTR source, LPCWSTR destination,
                            StoreWay way = StoreWay::MoveIntoPlace);

// A temporary file of the program's own, created in a folder under a fresh name that no tone
// can have (it starts with '.', which the naming rules never leave at the start of a name).
// It is open for writing and locked for as long as the object lives, so no sweep of leftovers
// takes it, in this process or in another copy of the program; its name is removed when the
// object goes, unless the file was moved away.
class PartFile {
public:
    // infix goes between the fresh part of the name and its ending (for probes of names).
    explicit PartFile(const std::filesystem::path& folder, std::string_view infix = {});
    ~PartFile() { Remove(); }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    bool IsOpen() const { return m_file.IsOpen(); }
    int error() const { return m_error; } // why it could not be created
    const std::string& path() const { return m_path; }
    // Writes all of it; false on an error such as a full disk.
    bool WriteAll(const char* data, size_t size) { return m_file.WriteAll(data, size); }
    // Ends writing with what closing reports (network file systems may report a failed write
    // only then) while the file stays open and locked. 0 or an errno value.
    int FinishWriting();
    // Removes the name now, if it still holds this file, and closes it.
    void Remove();

private:
    UniqueFd m_file;
    std::string m_path;
    int m_error = 0;
};

// Removes the temporary files of the program's own that a run killed while storing left in
// folder: regular files under exactly those names whose lock no one holds (a copy of the
// program storing into the same folder holds the lock of each of its own), nothing else.
// Returns how many went.
int RemoveLeftoverPartFiles(LPCWSTR folder);

// Whether folder takes files stored the way tones are stored, tried with files of the
// program's own, and what storing there can count on. 0 when it does (*traits filled in), else
// the errno value that the store gave.
int ProbeFolder(LPCWSTR folder, FolderTraits* traits);
// The same, when only whether matters.
int ProbeFolderWritable(LPCWSTR folder);
