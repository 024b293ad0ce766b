#pragma once

#include "launcher/console/console.h"
#include "launcher/console/machine_trouble_text.h"
#include "launcher/log/run_log.h"

#include <memory>

// Every event the player sees, also written to the run's log, then shown
// by `inner` exactly as without a log; and a file's download as it is
// decided: whole (from which byte) or built from the old copy.
class LoggedConsole : public Console {
public:
    LoggedConsole(Console& inner, RunLog& log) : inner_(inner), log_(log) {}
    void connecting() override;
    void lockedSince(const std::string& lockText) override;
    void noConnection() override;
    void proxyFailed(ProxyFailure failure, const std::string& proxy) override;
    void connected() override;
    void checking() override;
    void serverTrouble() override;
    void refused(Refusal reason) override;
    void olderServedStartingInstalled() override;
    void noUpdates() override;
    void updatesFound() override;
    FileProgress* fileStarted(const std::string& path) override;
    void fileDone() override;
    void fileFailed() override;
    void canceled() override;
    void launching() override;
    void ownFileMoveFailed(const char* failure, int cause) override;
    void detailsInLog(const std::string& logName) override { inner_.detailsInLog(logName); }
    // What the player's machine stands in the way with: the player's words, word for word.
    void otherLauncherRunning() override { noted(otherLauncherRunningText).otherLauncherRunning(); }
    void otherLauncherStillRunning(unsigned int minutes) override
    {
        noted(otherLauncherStillRunningText(minutes)).otherLauncherStillRunning(minutes);
    }
    void fileHeld(const std::string& name, unsigned int seconds) override;
    void fileStillHeld(const std::string& name) override { noted(fileStillHeldText(name)).fileStillHeld(name); }
    void folderNotWritable(const std::string& folder, int cause) override
    {
        noted(folderNotWritableText(folder, cause)).folderNotWritable(folder, cause);
    }
    void notEnoughSpace(unsigned long long needed, unsigned long long available) override;
    void diskFull(const std::string& name, bool partKept) override
    {
        noted(diskFullText(name, partKept)).diskFull(name, partKept);
    }

private:
    void note(const std::string& text) { log_.line(text); }
    Console& noted(const std::string& text)
    {
        note(text);
        return inner_;
    }

    Console& inner_;
    RunLog& log_;
    std::unique_ptr<FileProgress> progress_;
    std::string path_;
};
