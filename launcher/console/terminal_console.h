#pragma once

#include "launcher/console/console.h"
#include "launcher/console/download_progress.h"
#include "launcher/console/machine_trouble_text.h"

#include <memory>

// The player's console: the texts the launcher has always shown, byte for
// byte, a download's progress redrawn in place when standard output is a
// console.
// The line that tells the player why the update was refused.
const char* refusalText(Refusal reason);

class TerminalConsole : public Console {
public:
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
    void detailsInLog(const std::string& logName) override;
    void otherLauncherRunning() override { showLine(otherLauncherRunningText); }
    void otherLauncherStillRunning(unsigned int minutes) override { showLine(otherLauncherStillRunningText(minutes)); }
    void fileHeld(const std::string& name, unsigned int seconds) override;
    void fileStillHeld(const std::string& name) override { showLine(fileStillHeldText(name)); }
    void folderNotWritable(const std::string& folder, int cause) override
    {
        showLine(folderNotWritableText(folder, cause));
    }
    void notEnoughSpace(unsigned long long needed, unsigned long long available) override
    {
        showLine(notEnoughSpaceText(needed, available));
    }
    void diskFull(const std::string& name, bool partKept) override { showLine(diskFullText(name, partKept)); }

private:
    void endFile(const char* outcome);
    static void showLine(const std::string& text);

    std::unique_ptr<DownloadProgress> progress_;
    bool fileLineOpen_ = false;  // "* path..." shown, its outcome not yet
};
