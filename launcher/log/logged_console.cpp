#include "launcher/log/logged_console.h"

#include "launcher/console/console_text.h"
#include "launcher/console/machine_trouble_text.h"
#include "launcher/console/terminal_console.h"

#include <cstring>

namespace {

// The decisions about one file's download, noted as they are made.
class LoggedProgress : public FileProgress {
public:
    LoggedProgress(FileProgress* inner, RunLog& log, const std::string& path) : inner_(inner), log_(log), path_(path) {}
    void start(unsigned long long from, bool resumed) override
    {
        log_.line(path_ + ": downloaded whole" +
                  (from == 0 ? std::string() : " from byte " + std::to_string(from) + (resumed ? ", resumed" : "")));
        if (inner_ != nullptr)
            inner_->start(from, resumed);
    }
    void startDelta(unsigned long long from, unsigned long long total, unsigned long long reused,
                    unsigned long long fetching) override
    {
        log_.line(path_ + ": built from the old copy, " + std::to_string(reused) + " of " + std::to_string(total) +
                  " bytes reused, " + std::to_string(fetching) + " fetched");
        if (inner_ != nullptr)
            inner_->startDelta(from, total, reused, fetching);
    }
    void advance(unsigned long long done, unsigned long long total) override
    {
        if (inner_ != nullptr)
            inner_->advance(done, total);
    }
    void scanning(unsigned long long done, unsigned long long total) override
    {
        if (inner_ != nullptr)
            inner_->scanning(done, total);
    }

private:
    FileProgress* inner_;
    RunLog& log_;
    std::string path_;
};

}  // namespace

void LoggedConsole::connecting()
{
    note("connecting");
    inner_.connecting();
}

void LoggedConsole::lockedSince(const std::string& lockText)
{
    note("the channel's lock is up: " + lockText);
    inner_.lockedSince(lockText);
}

void LoggedConsole::noConnection()
{
    note("failed: no connection to the update server");
    inner_.noConnection();
}

void LoggedConsole::proxyFailed(ProxyFailure failure, const std::string& proxy)
{
    noted("failed: " + proxyFailedText(failure, proxy)).proxyFailed(failure, proxy);
}

void LoggedConsole::connected()
{
    note("connected");
    inner_.connected();
}

void LoggedConsole::checking()
{
    note("checking the files");
    inner_.checking();
}

void LoggedConsole::serverTrouble()
{
    note("failed: the server's answers could not be used (see the requests above)");
    inner_.serverTrouble();
}

void LoggedConsole::refused(Refusal reason)
{
    note(std::string("refused: ") + refusalText(reason));
    inner_.refused(reason);
}

void LoggedConsole::olderServedStartingInstalled()
{
    note("the server offers an older release than the one installed: starting the installed game");
    inner_.olderServedStartingInstalled();
}

void LoggedConsole::noUpdates()
{
    note("no updates: every listed file is as listed");
    inner_.noUpdates();
}

void LoggedConsole::updatesFound()
{
    note("updates found");
    inner_.updatesFound();
}

FileProgress* LoggedConsole::fileStarted(const std::string& path)
{
    path_ = path;
    note(path + ": missing or changed");
    progress_ = std::make_unique<LoggedProgress>(inner_.fileStarted(path), log_, path);
    return progress_.get();
}

void LoggedConsole::fileDone()
{
    note(path_ + ": done");
    inner_.fileDone();
}

void LoggedConsole::fileFailed()
{
    note(path_ + ": failed (see the requests above)");
    inner_.fileFailed();
}

void LoggedConsole::canceled()
{
    note("canceled: some files failed");
    inner_.canceled();
}

void LoggedConsole::launching()
{
    note("every file in place: patching and launching");
    inner_.launching();
}

void LoggedConsole::ownFileMoveFailed(const char* failure, int cause)
{
    note(std::string(failure) + ": " + std::strerror(cause));
    inner_.ownFileMoveFailed(failure, cause);
}

void LoggedConsole::fileHeld(const std::string& name, unsigned int seconds)
{
    note(heldFileText(name, seconds, false));
    inner_.fileHeld(name, seconds);
}

void LoggedConsole::notEnoughSpace(unsigned long long needed, unsigned long long available)
{
    note(notEnoughSpaceText(needed, available) + " (" + std::to_string(needed) + " bytes needed, " +
         std::to_string(available) + " free)");
    inner_.notEnoughSpace(needed, available);
}
