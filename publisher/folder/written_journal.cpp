#include "publisher/folder/written_journal.h"

#include "channel/channel_names.h"
#include "publisher/folder/channel_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace {

// Opens the journal to append to, creating it; only a regular file that no
// other name shares (a hard link would be written through).
ScopedDescriptor openForAppending(const ChannelDirectory& channel, std::string& failure)
{
    const ChannelEntry at = channel.entry(publisherJournalName);
    const int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    ScopedDescriptor file(at.directory.get() < 0 ? -1
                                                 : ::openat(at.directory.get(), at.name.c_str(),
                                                            flags | O_CREAT | O_EXCL, channelFileMode));
    if (file.get() >= 0 && ::fchmod(file.get(), channelFileMode) != 0) {
        file = ScopedDescriptor();
    } else if (file.get() < 0 && errno == EEXIST) {
        file = ScopedDescriptor(::openat(at.directory.get(), at.name.c_str(), flags));
        struct stat facts {};
        if (file.get() >= 0 && (::fstat(file.get(), &facts) != 0 || !S_ISREG(facts.st_mode) || facts.st_nlink != 1)) {
            failure = "cannot write " + channel.shown(publisherJournalName) +
                      ": not a regular file of its own (a hard link?)";
            return ScopedDescriptor();
        }
    }
    if (file.get() < 0)
        failure = "cannot write " + channel.shown(publisherJournalName) + ": " + describeChannelErrno();
    return file;
}

}  // namespace

std::vector<std::string> WrittenJournal::read(std::vector<std::string>& warnings) const
{
    std::string text;
    bool missing = false;
    std::string failure;
    std::vector<std::string> paths;
    if (!readWholeFile(channel_, publisherJournalName, channelTextLimitBytes, text, missing, failure)) {
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
    if (file_.get() < 0)
        file_ = openForAppending(channel_, failure);
    const std::string line = path + '\n';
    if (file_.get() < 0)
        return false;
    if (!writeAll(file_.get(), line.data(), line.size())) {
        failure = "cannot write " + channel_.shown(publisherJournalName) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool WrittenJournal::clear(std::string& failure)
{
    file_.close();
    return channel_.kindOf(publisherJournalName) == ChannelDirectory::Kind::missing ||
           channel_.removeFile(publisherJournalName, failure);
}
