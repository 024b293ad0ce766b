#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

// The deployer's own state, off the web server: one folder per account
// ($XDG_STATE_HOME/orn-publish, else ~/.local/state/orn-publish), mode 0700,
// used only when it is the account's own and no link. Each channel's files
// there are named by the SHA-256 of its resolved path, plus a suffix.

// The channel's resolved path, by which its state files are named.
bool channelStatePath(const std::filesystem::path& channel, std::string& path, std::string& failure);
// `found` when the record is there; `text` is empty when it is no regular
// file of at most `limit` bytes. False, with the reason, only when the state
// directory cannot be trusted.
bool readStateFile(const std::string& channelPath, const std::string& suffix, std::size_t limit, std::string& text,
                   bool& found, std::string& file, std::string& failure);
// Written whole or not at all, and flushed to disk.
bool writeStateFile(const std::string& channelPath, const std::string& suffix, const std::string& text,
                    std::string& file, std::string& failure);
bool removeStateFile(const std::string& channelPath, const std::string& suffix, std::string& failure);
