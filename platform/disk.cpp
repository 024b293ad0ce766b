#include "platform/disk.h"

#include "platform/platform.h"

namespace platform {

namespace {

Disk* currentDisk = nullptr;

Disk& disk()
{
    return currentDisk != nullptr ? *currentDisk : systemDisk();
}

}  // namespace

bool SystemDiskCalls::moveFileNoReplace(const char* existingName, const char* newName)
{
    return os::moveFileNoReplace(existingName, newName);
}

bool SystemDiskCalls::replaceFile(const char* existingName, const char* newName)
{
    return os::replaceFile(existingName, newName);
}

bool SystemDiskCalls::removeFile(const char* name)
{
    return os::removeFile(name);
}

bool SystemDiskCalls::keepOldCopy(const char* name, const char* oldName)
{
    return os::keepOldCopy(name, oldName);
}

bool SystemDiskCalls::makeDirectory(const char* name)
{
    return os::makeDirectory(name);
}

void SystemDiskCalls::openForWriting(std::ofstream& file, const std::string& name)
{
    os::openForWriting(file, name);
}

void SystemDiskCalls::openForAppending(std::ofstream& file, const std::string& name)
{
    os::openForAppending(file, name);
}

bool SystemDiskCalls::truncateFile(const std::string& name, unsigned long long size)
{
    return os::truncateFile(name, size);
}

bool SystemDiskCalls::flushFileToDisk(const std::string& name)
{
    return os::flushFileToDisk(name);
}

bool SystemDiskCalls::freeDiskSpace(const char* directory, unsigned long long& bytes)
{
    return os::freeDiskSpace(directory, bytes);
}

Disk& systemDisk()
{
    static SystemDiskCalls system;
    return system;
}

ScopedDisk::ScopedDisk(Disk& replacement) : previous_(currentDisk)
{
    currentDisk = &replacement;
}

ScopedDisk::~ScopedDisk()
{
    currentDisk = previous_;
}

bool moveFileNoReplace(const char* existingName, const char* newName)
{
    return disk().moveFileNoReplace(existingName, newName);
}

bool replaceFile(const char* existingName, const char* newName)
{
    return disk().replaceFile(existingName, newName);
}

bool removeFile(const char* name)
{
    return disk().removeFile(name);
}

bool freeDiskSpaceBeside(const std::string& name, unsigned long long& bytes)
{
    const std::string::size_type slash = name.find_last_of('/');
    return freeDiskSpace(slash == std::string::npos ? "." : name.substr(0, slash + 1).c_str(), bytes);
}

bool keepOldCopy(const char* name, const char* oldName)
{
    return disk().keepOldCopy(name, oldName);
}

bool makeDirectory(const char* name)
{
    return disk().makeDirectory(name);
}

void openForWriting(std::ofstream& file, const std::string& name)
{
    disk().openForWriting(file, name);
}

void openForAppending(std::ofstream& file, const std::string& name)
{
    disk().openForAppending(file, name);
}

bool truncateFile(const std::string& name, unsigned long long size)
{
    return disk().truncateFile(name, size);
}

bool flushFileToDisk(const std::string& name)
{
    return disk().flushFileToDisk(name);
}

bool freeDiskSpace(const char* directory, unsigned long long& bytes)
{
    return disk().freeDiskSpace(directory, bytes);
}

}  // namespace platform
