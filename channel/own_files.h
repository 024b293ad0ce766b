#pragma once

#include <string>

// The launcher's own files: never overwritten while it runs, but written
// as name + ".new" and swapped in by patchAndLaunch. One bit each.
using SelfFileFlags = unsigned char;

struct OwnFile {
    const char* name;
    SelfFileFlags bit;
    const char* newName;
    const char* oldName;
    const char* createOldFailure;
    const char* renameNewFailure;
};

// In the order in which they are matched and swapped: the executable, then
// the file-system library, then the network and system libraries.
extern const OwnFile ownFiles[4];

// Whether `path`, in any letter case (Windows tells no case apart), is one
// of the records the launcher keeps beside its files: never a game file.
bool isLauncherRecord(const std::string& path);
