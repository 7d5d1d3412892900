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
#include <memory>
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

// How a file gets its name without replacing anything. Either way its bytes are written
// under a temporary name first and synced to the disk before the name appears, so no crash,
// kill or power cut ever leaves part of a file under its name. MoveIntoPlace then moves it
// into place in one step that refuses a taken name (a hard link, or a rename with
// RENAME_NOREPLACE). RenameUnderLock is for file systems that offer neither (exFAT, FAT, NTFS
// through FUSE, many network shares): under a lock file in the folder that every copy of the
// program takes for this step, it checks that the name is free and renames into it.
enum class StoreWay { MoveIntoPlace, RenameUnderLock };

// What storing in a folder can count on.
struct FolderTraits {
    StoreWay way = StoreWay::MoveIntoPlace;
    bool refusesReservedCharacters = false; // any of kReservedNameCharacters in a name
    // A local file system of the system's own kind (ext4, XFS, btrfs, ...): one sync of the
    // whole file system makes every file's bytes durable, so files can be synced in batches;
    // elsewhere (FUSE, network shares, FAT) each file is synced on its own.
    bool syncsAsWhole = false;
    // Inode numbers stay with a file across mounts (not on FAT, exFAT, many FUSE and
    // network file systems, which number files as they meet them).
    bool lastingInodes = false;
};

// What the file system that holds folder keeps, told by its type; both false when it is
// unknown or cannot be asked.
FolderTraits FileSystemTraits(LPCWSTR folder);

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
    // Syncs the bytes to the disk. 0 or an errno value.
    int SyncData();
    // Removes the name now, if it still holds this file, and closes it.
    void Remove();

private:
    UniqueFd m_file;
    std::string m_path;
    int m_error = 0;
};

// A file's bytes on their way to a name in a folder. They are first staged on the folder's
// file system under no tone's name: the source itself when it is a file of its own there that
// can be linked, else a locked temporary copy in the folder. Once they are synced
// (SyncFileSystem for the folder, or Sync), Name gives them a name; nothing is left behind but
// what was named.
class StagedFile {
public:
    // source is a file about to be deleted (a cache file); folder is where it is to be named.
    StagedFile(LPCWSTR source, LPCWSTR folder, StoreWay way);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    int error() const { return m_error; } // why it could not be staged, or 0
    // Where the bytes are, to be compared with a file that holds a name.
    const std::u16string& path() const { return m_path; }
    // Whether it holds a temporary copy open (a bound on how many wait at once).
    bool HoldsCopy() const { return m_part != nullptr; }
    // Syncs these bytes alone. 0 or an errno value.
    int Sync();
    // Gives the synced bytes the name destination in the folder unless something holds it:
    // 0, EEXIST, or another errno value. May be tried with one name after another.
    int Name(LPCWSTR destination);

private:
    std::string m_source; // the source, when it is to be linked into place
    std::string m_folder;
    std::u16string m_path;
    std::unique_ptr<PartFile> m_part; // the copy, when it is not
    StoreWay m_way;
    int m_error = 0;
};

// Syncs the whole file system that holds folder (for folders whose traits say syncsAsWhole).
// 0 or an errno value.
int SyncFileSystem(LPCWSTR folder);
// Syncs the folder's own entries, so that the names given in it last. 0 or an errno value.
int SyncFolder(LPCWSTR folder);

// Stores source under destination without replacing anything there, synced before the name
// appears and the name synced after: the one-file form of StagedFile. 0 on success; EEXIST
// when destination exists; another errno value on failure. Nothing is left behind on failure.
int StoreCacheFileNoReplace(LPCWSTR source, LPCWSTR destination,
                            StoreWay way = StoreWay::MoveIntoPlace);

// Removes the temporary files of the program's own that a run killed while storing left in
// folder: regular files under exactly those names (and the folder's lock file) whose lock no
// one holds (a copy of the program storing into the same folder holds the lock of each of its
// own), nothing else.
// Returns how many went.
int RemoveLeftoverPartFiles(LPCWSTR folder);

// Whether folder takes files stored the way tones are stored, tried with files of the
// program's own, and what storing there can count on. 0 when it does (*traits filled in), else
// the errno value that the store gave.
int ProbeFolder(LPCWSTR folder, FolderTraits* traits);
// The same, when only whether matters.
int ProbeFolderWritable(LPCWSTR folder);
