#pragma once

#include "publisher/folder/channel_directory.h"

#include <string>
#include <vector>

// Paths written since the last complete publish, so that the next complete
// one can remove those its tree does not hold (no manifest lists them).
// Kept in the channel as publisherJournalName.
class WrittenJournal {
public:
    explicit WrittenJournal(const ChannelDirectory& channel) : channel_(channel) {}
    WrittenJournal(const WrittenJournal&) = delete;
    WrittenJournal& operator=(const WrittenJournal&) = delete;

    // The paths it lists; a journal that cannot be read gives a warning.
    std::vector<std::string> read(std::vector<std::string>& warnings) const;
    bool add(const std::string& path, std::string& failure);
    bool clear(std::string& failure);

private:
    const ChannelDirectory& channel_;
    ScopedDescriptor file_;
};
