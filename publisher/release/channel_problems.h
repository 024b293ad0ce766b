#pragma once

#include "publisher/folder/channel_directory.h"
#include "publisher/source/source_tree.h"

#include <string>
#include <vector>

// Before anything changes, what the channel must not hold, each named: a
// symbolic link anywhere, under any name (a planted one would have files
// read, written, chmodded or deleted through it, in another channel or
// anywhere else); a FIFO, socket or device file; anything but a regular
// file under the names orn-publish writes (a run would fail with the lock
// up, and so would every rerun); and a manifest, release or journal with
// other names (a hard link to the secret key would be read and quoted); a
// by-hash that is not a directory, or holds anything but regular files; and,
// where the tree's `files` go, anything but a regular file at a file's path
// or a directory at a folder's.
std::vector<std::string> channelProblems(const ChannelDirectory& channel, const std::vector<SourceFile>& files);
