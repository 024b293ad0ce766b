#pragma once

#include "publisher/folder/channel_directory.h"
#include "publisher/signing/signing.h"
#include "publisher/source/source_tree.h"

#include <string>

// The files of a release already signed, as a tree to publish again: each
// read from the object (or, in a channel that keeps none, the file) that
// holds the bytes the release signed, and checked against them as it is read.

// The channel's current release, when it verifies under the deployer's keys
// (the signing key's public half and `request`'s trusted ones), is not older
// than the last one this account signed for it, and every file and object
// still holds what it signed. The reason to refuse, else empty. While a
// rollout is on there, that release (not the staged one), said in `rolloutNote`.
std::string verifiedReleaseFiles(const ChannelDirectory& channel, const SigningRequest& request, SourceTree& tree,
                                 std::string& rolloutNote);

// The staged release of the rollout that is on in `channel`, when the
// current release verifies under the deployer's keys and the staged one it
// names does too; its files read from their objects. The reason to refuse,
// else empty.
std::string stagedReleaseFiles(const ChannelDirectory& channel, const SigningRequest& request, SourceTree& tree);

// The release `serial` among those whose objects the channel keeps, when the
// record of them lists its files and every file's object is still whole; the
// reason to refuse (naming what is missing), else empty.
std::string keptReleaseFiles(const ChannelDirectory& channel, unsigned long long serial, SourceTree& tree);
