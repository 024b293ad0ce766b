#include "publisher/folder/written_journal.h"

#include "channel/channel_names.h"
#include "publisher/folder/channel_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

WrittenJournal::~WrittenJournal()
{
    close();
}

void WrittenJournal::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::vector<std::string> WrittenJournal::read(std::vector<std::string>& warnings) const
{
    std::string text;
    bool missing = false;
    std::string failure;
    std::vector<std::string> paths;
    if (!channel_.readFile(publisherJournalName, channelTextLimitBytes, text, missing, failure)) {
        if (!missing)
            warnings.push_back(failure + ": files a failed run copied may be left in the channel");
        return paths;
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        paths.push_back(line);
    return paths;
}

bool WrittenJournal::add(const std::string& path, std::string& failure)
{
    if (fd_ < 0)
        fd_ = channel_.openForAppending(publisherJournalName, failure);
    const std::string line = path + '\n';
    if (fd_ < 0)
        return false;
    if (!writeAll(fd_, line.data(), line.size())) {
        failure = "cannot write " + channel_.shown(publisherJournalName) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool WrittenJournal::clear(std::string& failure)
{
    close();
    return channel_.kindOf(publisherJournalName) == ChannelDirectory::Kind::missing ||
           channel_.removeFile(publisherJournalName, failure);
}
