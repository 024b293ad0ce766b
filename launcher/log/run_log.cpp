#include "launcher/log/run_log.h"

#include "launcher/console/console_text.h"
#include "platform/platform.h"

#include <cstdio>

namespace {

RunLog* activeLog = nullptr;
const char* const cutLine = "(the log is cut here: it holds at most 16 MiB)\n";

}  // namespace

bool RunLog::open(const std::string& fileName)
{
    platform::openForWriting(file_, fileName);
    start_ = std::chrono::steady_clock::now();
    written_ = 0;
    cut_ = false;
    line("ORN_Launcher/" LAUNCHER_VERSION);
    return static_cast<bool>(file_);
}

void RunLog::line(const std::string& text)
{
    if (!file_ || cut_)
        return;
    char stamp[32];
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::snprintf(stamp, sizeof stamp, "%9.3f ", seconds);
    const std::string shown = stamp + printableOnOneLine(text) + "\n";
    const std::string cut = cutLine;
    if (written_ + shown.size() + cut.size() > limitBytes) {
        file_ << cut;
        cut_ = true;
    } else {
        file_ << shown;
        written_ += shown.size();
    }
    file_.flush();  // what a crash or a kill leaves is what support needs most
}

void RunLog::close()
{
    if (file_.is_open())
        file_.close();
}

void useRunLog(RunLog* log)
{
    activeLog = log;
}

void noteInRunLog(const std::string& text)
{
    if (activeLog != nullptr)
        activeLog->line(text);
}
