#pragma once

#include "publisher/folder/channel_directory.h"

#include <filesystem>
#include <string>
#include <vector>

// A file to publish: its path as the manifest and the launcher name it, and
// where its bytes are read from (through a symbolic link, its target).
struct SourceFile {
    std::string path;
    std::filesystem::path location;
    // A file of a signed release (a promote's, a rollback's): the SHA-256
    // its bytes must have, else nothing of it is published. It is read from
    // the channel that holds it, as `stored` there (through no link, and
    // only a regular file: the channel's files may be planted), and given its
    // new name through a hard link where that is safe: its bytes never change.
    std::string signedSha256;
    unsigned long long signedSize = 0;
    const ChannelDirectory* channel = nullptr;
    std::string stored;
};

// What the deployer's tree holds, and why the launcher could not use it.
struct SourceTree {
    std::vector<SourceFile> files;      // sorted by path
    std::vector<std::string> problems;  // each names an offending path; any one refuses the tree
    std::vector<std::string> warnings;  // worth saying, not worth refusing
};

// Reads the top level and "libs/" of `root`, the only two places the
// launcher looks, and checks every name against what the launcher accepts
// and what Windows can hold. A secret key is never published: neither the
// file `secretKey` (when given) nor any file that reads as a key file.
SourceTree readSourceTree(const std::filesystem::path& root, const std::filesystem::path& secretKey = {});
