#pragma once

#include "publisher/folder/scoped_descriptor.h"
#include "publisher/source/one_read.h"
#include "publisher/source/source_tree.h"

#include <filesystem>
#include <string>

// What tells a source file's version apart, read before and after it is
// copied: a build still writing it must not be published half-written.
struct FileVersion {
    bool known = false;
    unsigned long long size = 0;
    long long modifiedSeconds = 0;
    long long modifiedNanoseconds = 0;

    bool operator==(const FileVersion& other) const
    {
        return known && other.known && size == other.size && modifiedSeconds == other.modifiedSeconds &&
               modifiedNanoseconds == other.modifiedNanoseconds;
    }
};

FileVersion versionOf(const std::filesystem::path& file);

// Whether `copied` bytes were the whole source and it is still the version
// seen before the copy; else `failure` says it changed.
bool unchangedWhileCopied(const SourceFile& file, const FileVersion& before, unsigned long long copied,
                          std::string& failure);

// The source opened to read. A signed release's file lies in a channel
// whose files may be planted: it is opened as that channel opens its own.
ScopedDescriptor openSource(const SourceFile& file);

// A signed release's file must hold what was signed, whatever its channel
// holds now; any other source passes.
bool holdsSignedBytes(const SourceFile& file, const FileDigests& digests, std::string& failure);
