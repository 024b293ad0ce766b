#include "publisher/adoption/log_lines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Room for the longest line and a read behind it.
const std::size_t bufferBytes = 4 * longestLogLine;

}  // namespace

LogLines::~LogLines()
{
    if (file_ != nullptr)
        gzclose(file_);
}

std::string LogLines::failureText(const char* what) const
{
    return path_ + ": " + what;
}

bool LogLines::open(const std::string& path, std::string& failure)
{
    path_ = path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    struct stat facts {};
    if (fd < 0 || fstat(fd, &facts) != 0 || S_ISDIR(facts.st_mode)) {
        failure = failureText(fd < 0 ? std::strerror(errno) : "a folder, not a log file");
        if (fd >= 0)
            close(fd);
        return false;
    }
    file_ = gzdopen(fd, "rb");
    if (file_ == nullptr) {
        close(fd);
        failure = failureText("cannot be read");
        return false;
    }
    gzbuffer(file_, static_cast<unsigned>(bufferBytes));
    buffer_.resize(bufferBytes);
    return true;
}

bool LogLines::fill(std::string& failure)
{
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    const int got = gzread(file_, buffer_.data() + end_, static_cast<unsigned>(buffer_.size() - end_));
    int error = Z_OK;
    std::string message = gzerror(file_, &error);
    message.erase(0, message.find(": ") == std::string::npos ? 0 : message.find(": ") + 2);  // zlib's "<fd:N>: "
    if (got < 0 || error == Z_BUF_ERROR || error == Z_DATA_ERROR) {
        const bool cut = error == Z_BUF_ERROR;
        failure = failureText(error == Z_ERRNO ? std::strerror(errno)
                              : cut            ? "the gzip file is cut short"
                                               : ("a damaged gzip file: " + message).c_str());
        return false;
    }
    atEnd_ = got == 0;
    end_ += static_cast<std::size_t>(got);
    return true;
}

LogLines::Next LogLines::next(std::string_view& line, std::string& failure)
{
    for (;;) {
        const char* start = buffer_.data() + begin_;
        const void* feed = std::memchr(start, '\n', end_ - begin_);
        if (feed != nullptr || (atEnd_ && begin_ < end_)) {
            const std::size_t length =
                feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(feed) - start) : end_ - begin_;
            begin_ += feed != nullptr ? length + 1 : length;
            line = std::string_view(start, length > 0 && start[length - 1] == '\r' ? length - 1 : length);
            const bool tooLong = discarding_ || length > longestLogLine;
            discarding_ = false;
            return tooLong ? Next::tooLong : Next::line;
        }
        if (atEnd_) {
            const bool tooLong = discarding_;
            discarding_ = false;
            return tooLong ? Next::tooLong : Next::end;
        }
        if (end_ - begin_ > longestLogLine) {  // no line feed yet: the rest of this line is not kept
            discarding_ = true;
            begin_ = end_ = 0;
        }
        if (!fill(failure))
            return Next::failed;
    }
}
