#pragma once

// What the launcher needs from the operating system beyond standard C++:
// one implementation per platform, chosen at build time.
namespace platform {

void pauseMilliseconds(unsigned int milliseconds);

// Makes the allocator hand large freed buffers (the HTTP client's copies of
// each download piece) back to the system at once, so that memory stays
// flat over many pieces instead of growing with a fragmented heap.
void returnLargeBuffersPromptly();

// Renames a file; fails when newName already exists. On failure errno
// describes the cause, so that perror can report it.
bool moveFileNoReplace(const char* existingName, const char* newName);

// Renames a file over `newName`, replacing a file (or a symbolic link,
// never its target) that has that name.
bool replaceFile(const char* existingName, const char* newName);

// Deletes a file; never a directory.
bool removeFile(const char* name);

// Gives `to` the access mode of `from` (on POSIX, so that a swapped-in
// executable stays executable); Windows has no such mode to carry.
void copyAccessMode(const char* from, const char* to);

// Makes `path` the process's current directory; false when it cannot.
bool changeDirectory(const char* path);

// Creates one directory; true when it exists afterwards.
bool makeDirectory(const char* name);

// Runs "ORN_Client.exe" through the command interpreter, which looks in the
// current directory first and then along the search path, and waits for it.
// Returns the client's exit status.
int runClient();

}  // namespace platform
