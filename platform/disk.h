#pragma once

#include <fstream>
#include <string>

namespace platform {

// What a run asks of the volume that holds the game directory: the renames,
// deletions, writes, new directories, flushes and free space. The calls of
// platform.h that do these go to the current disk, the operating system's
// unless a test has put another in its place, so that a test can refuse a
// rename, report a held file or a full volume, without a real one.
class Disk {
public:
    virtual ~Disk() = default;
    virtual bool moveFileNoReplace(const char* existingName, const char* newName) = 0;
    virtual bool replaceFile(const char* existingName, const char* newName) = 0;
    virtual bool removeFile(const char* name) = 0;
    virtual bool keepOldCopy(const char* name, const char* oldName) = 0;
    virtual bool makeDirectory(const char* name) = 0;
    virtual void openForWriting(std::ofstream& file, const std::string& name) = 0;
    virtual void openForAppending(std::ofstream& file, const std::string& name) = 0;
    virtual bool truncateFile(const std::string& name, unsigned long long size) = 0;
    virtual bool flushFileToDisk(const std::string& name) = 0;
    virtual bool freeDiskSpace(const char* directory, unsigned long long& bytes) = 0;
};

// The operating system's own.
Disk& systemDisk();

// A disk that does what the system's does: a fake overrides only the calls it changes.
class SystemDiskCalls : public Disk {
public:
    bool moveFileNoReplace(const char* existingName, const char* newName) override;
    bool replaceFile(const char* existingName, const char* newName) override;
    bool removeFile(const char* name) override;
    bool keepOldCopy(const char* name, const char* oldName) override;
    bool makeDirectory(const char* name) override;
    void openForWriting(std::ofstream& file, const std::string& name) override;
    void openForAppending(std::ofstream& file, const std::string& name) override;
    bool truncateFile(const std::string& name, unsigned long long size) override;
    bool flushFileToDisk(const std::string& name) override;
    bool freeDiskSpace(const char* directory, unsigned long long& bytes) override;
};

// While it lives, the calls of platform.h go to `disk`; the one before is
// put back when it ends.
class ScopedDisk {
public:
    explicit ScopedDisk(Disk& disk);
    ~ScopedDisk();
    ScopedDisk(const ScopedDisk&) = delete;
    ScopedDisk& operator=(const ScopedDisk&) = delete;

private:
    Disk* previous_;
};

// The operating system's implementations, one file per platform; only the
// system's disk calls them.
namespace os {
bool moveFileNoReplace(const char* existingName, const char* newName);
bool replaceFile(const char* existingName, const char* newName);
bool removeFile(const char* name);
bool keepOldCopy(const char* name, const char* oldName);
bool makeDirectory(const char* name);
void openForWriting(std::ofstream& file, const std::string& name);
void openForAppending(std::ofstream& file, const std::string& name);
bool truncateFile(const std::string& name, unsigned long long size);
bool flushFileToDisk(const std::string& name);
bool freeDiskSpace(const char* directory, unsigned long long& bytes);
}  // namespace os

}  // namespace platform
