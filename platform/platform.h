#pragma once

#include <cstddef>
#include <fstream>
#include <string>

// What the launcher needs from the operating system beyond standard C++:
// one implementation per platform, chosen at build time. Every name is a
// UTF-8 byte string, as PhysFS and the manifest have it; on Windows the
// wide-character calls take it, so that writes land where the scan looks.
namespace platform {

void pauseMilliseconds(unsigned int milliseconds);

// Makes the allocator hand large freed buffers (the manifest's text, the
// index built from it) back to the system at once, so that memory stays
// flat over a long run instead of growing with a fragmented heap.
void returnLargeBuffersPromptly();

// Renames a file; fails when newName already exists. On failure errno
// describes the cause, so that the console can give the system's reason.
bool moveFileNoReplace(const char* existingName, const char* newName);

// Renames a file over `newName`, replacing a file (or a symbolic link,
// never its target) that has that name.
bool replaceFile(const char* existingName, const char* newName);

// Deletes a file; never a directory.
bool removeFile(const char* name);

// Keeps `name`'s bytes under `oldName` too, which must not exist yet. On
// POSIX a second link, so that `name` is never missing while a new copy is
// renamed over it; on Windows, where a running executable or a loaded
// library cannot be replaced, only renamed, a rename. Falls back to a rename
// where the volume has no links.
bool keepOldCopy(const char* name, const char* oldName);

// Whether a failed rename or deletion's errno says that another process
// holds the file (Windows: a sharing or lock violation, or access denied,
// as an antivirus scan or the running game causes): worth trying again.
bool isHeldFileFailure(int errorNumber);

// Gives `to` the access mode of `from` (on POSIX, so that a swapped-in
// executable stays executable); Windows has no such mode to carry.
void copyAccessMode(const char* from, const char* to);

// Makes `path` the process's current directory; false when it cannot.
bool changeDirectory(const char* path);

// The full name of `folder` (relative to the current directory, "" for
// itself, '/' between its parts) as the player's system spells it.
std::string fullFolderName(const std::string& folder);

// Creates one directory; true when it exists afterwards.
bool makeDirectory(const char* name);
// Deletes a directory that holds nothing; never one that holds a file, never a link's target.
bool removeEmptyDirectory(const char* name);

// What identifies one version of a file without reading it. Times are
// nanoseconds since 1970 at the platform's resolution (1 ns on Linux,
// 100 ns on NTFS, 2 s on FAT); identity is (device, inode) on POSIX and
// (volume serial, file index) on Windows. Follows symbolic links.
struct FileFacts {
    unsigned long long size = 0;
    long long modifiedNs = 0;
    long long changedNs = 0;
    unsigned long long device = 0;
    unsigned long long identity = 0;

    bool operator==(const FileFacts& other) const
    {
        return size == other.size && modifiedNs == other.modifiedNs && changedNs == other.changedNs &&
               device == other.device && identity == other.identity;
    }
};

// False when the name is not a regular file or cannot be looked at.
bool fileFacts(const std::string& name, FileFacts& facts);

// The wall clock, in nanoseconds since 1970, as file times are given.
long long nowNanoseconds();

// Opens a file for writing, binary and truncated.
void openForWriting(std::ofstream& file, const std::string& name);

// Opens a file for reading, binary; for appending, binary, at its end.
void openForReading(std::ifstream& file, const std::string& name);
void openForAppending(std::ofstream& file, const std::string& name);

// A file read at any offset, past 4 GiB included, on every target: the
// old copy of a file whose chunks a delta download reuses.
class FileReader {
public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    bool open(const std::string& name);
    bool isOpen() const;
    // Fills `size` bytes from `offset`; false when the file ends before, or on an error.
    bool readAt(unsigned long long offset, char* buffer, std::size_t size)
    {
        while (size > 0) {
            const long long count = readSomeAt(offset, buffer, size);
            if (count <= 0)
                return false;
            offset += static_cast<unsigned long long>(count);
            buffer += count;
            size -= static_cast<std::size_t>(count);
        }
        return true;
    }
    // Up to `size` bytes from `offset`, fewer at the end; -1 on an error.
    long long readSomeAt(unsigned long long offset, char* buffer, std::size_t size);

private:
    void* handle_ = nullptr;  // a HANDLE on Windows; the descriptor + 1 elsewhere
};

// Bytes this process may still write on the volume that holds `directory`;
// false when it cannot be told.
bool freeDiskSpace(const char* directory, unsigned long long& bytes);
// The same for the volume that holds the file `name` (relative, '/' between its parts).
bool freeDiskSpaceBeside(const std::string& name, unsigned long long& bytes);

// Turns on TCP keep-alive for a connected socket (a file descriptor on
// POSIX, a SOCKET on Windows), so that a peer that vanished is noticed.
void keepSocketAlive(unsigned long long socketHandle);

// Cuts a file to `size` bytes.
bool truncateFile(const std::string& name, unsigned long long size);

// Forces a file's bytes to disk (and, where the platform needs it, the
// directory entries of the current directory): a rename made after it
// cannot outlive the data after a power cut.
bool flushFileToDisk(const std::string& name);
void flushCurrentDirectoryToDisk();

// True when standard output is a console (a terminal), not a pipe, a file
// or NUL; then its width in columns (80 when it cannot be told).
bool standardOutputIsConsole();
int consoleColumns();

// Where standard output is a console, shows UTF-8 as written (on Windows:
// the console's output code page for this run, put back when it ends).
// Bytes written to a pipe or a file are never changed.
void showUtf8OnConsole();

// Runs "ORN_Client.exe" through the command interpreter, which looks in the
// current directory first and then along the search path, and waits for it.
// Returns the client's exit status.
int runClient();

}  // namespace platform
