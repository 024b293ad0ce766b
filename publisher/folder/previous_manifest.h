#pragma once

#include "publisher/folder/channel_directory.h"

#include <set>
#include <string>
#include <vector>

// The paths the channel's current manifest lists that are regular files in
// the channel, read as launchers read it. md5sums is the server's and could
// hold anything: what it lists that is no file of the channel is not kept,
// and its lines that launchers would not take (or that another line for the
// same path overrides) make one warning with their count and the first few
// line numbers, so that memory and output stay small whatever it holds.
std::set<std::string> previouslyListed(const ChannelDirectory& channel, std::vector<std::string>& warnings);
