#pragma once

#include "channel/channel_names.h"
#include "publisher/folder/channel_directory.h"

#include <filesystem>
#include <string>

// The list of paths written since the last complete publish.
inline constexpr const char* publisherJournalName = "md5sums.orn-publish-written";

// Renames a finished temporary file over whatever stands at `target`, so
// that a client never fetches a half-written file; removes the temporary
// file when it cannot.
bool putInPlace(const ChannelDirectory& channel, const std::string& temporary, const std::string& target,
                std::string& failure);

// nginx and Apache derive ETag and Last-Modified from the size and the
// modification second: a replacement of the same size and second as any
// earlier copy of that name would look unchanged to a cache that revalidates
// and still holds that copy, which then keeps serving it. So the seconds of
// one name only grow: each replacement is dated at least a second after the
// copy it replaces, even when that one was dated ahead.
// Dates the file open as `fd`, about to replace what stands at `target`, so.
bool dateAfterReplaced(const ChannelDirectory& channel, int fd, const std::string& target);

// Whether the file open as `fd` is dated in a later second than what stands
// at `target` (or nothing stands there).
bool datedAfterReplaced(const ChannelDirectory& channel, int fd, const std::string& target);

// Writes `text` under a temporary name, readable by everyone (a web server
// may run as another user), and renames it over `target`; leaves no
// temporary file behind on failure.
bool writeAtomically(const ChannelDirectory& channel, const std::string& target, const std::string& text,
                     std::string& failure);

// The whole regular file at `relative`, when it holds at most `limit` bytes
// and no other name shares it (a hard link could be the secret key);
// `missing` says whether nothing stands there.
bool readWholeFile(const ChannelDirectory& channel, const std::string& relative, std::size_t limit, std::string& text,
                   bool& missing, std::string& failure);

// Writes all of `size` bytes to `fd`.
bool writeAll(int fd, const char* data, std::size_t size);
