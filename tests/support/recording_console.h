#pragma once

// A console that notes each event of a run as one short line, for tests to
// compare with the story they expect.
#include "launcher/console/console.h"

#include <string>
#include <vector>

class RecordingConsole : public Console {
public:
    void connecting() override { events.push_back("connecting"); }
    void lockedSince(const std::string& lockText) override { events.push_back("locked since " + lockText); }
    void noConnection() override { events.push_back("no connection"); }
    void proxyFailed(ProxyFailure failure, const std::string& proxy) override
    {
        events.push_back("proxy " + proxy +
                         (failure == ProxyFailure::unreachable ? " unreachable" : " asks for a password"));
    }
    void connected() override { events.push_back("connected"); }
    void checking() override { events.push_back("checking"); }
    void serverTrouble() override { events.push_back("server trouble"); }
    void refused(Refusal reason) override { events.push_back("refused " + std::to_string(static_cast<int>(reason))); }
    void olderServedStartingInstalled() override { events.push_back("older served, starting installed"); }
    void noUpdates() override { events.push_back("no updates"); }
    void updatesFound() override { events.push_back("updates found"); }
    FileProgress* fileStarted(const std::string& path) override
    {
        events.push_back("* " + path);
        return nullptr;
    }
    void fileDone() override { events.push_back("done"); }
    void fileFailed() override { events.push_back("failed"); }
    void canceled() override { events.push_back("canceled"); }
    void launching() override { events.push_back("launching"); }
    void ownFileMoveFailed(const char* failure, int cause) override
    {
        events.push_back(std::string(failure) + ": " + std::to_string(cause));
    }
    void detailsInLog(const std::string& logName) override { events.push_back("details in " + logName); }
    void otherLauncherRunning() override { events.push_back("other launcher running"); }
    void otherLauncherStillRunning(unsigned int minutes) override
    {
        events.push_back("other launcher still running after " + std::to_string(minutes));
    }
    void fileHeld(const std::string& name, unsigned int) override { events.push_back(name + " held"); }
    void fileStillHeld(const std::string& name) override { events.push_back(name + " still held"); }
    void folderNotWritable(const std::string& folder, int cause) override
    {
        events.push_back(folder + " not writable: " + std::to_string(cause));
    }
    void notEnoughSpace(unsigned long long needed, unsigned long long available) override
    {
        events.push_back("not enough space: " + std::to_string(needed) + " needed, " + std::to_string(available) +
                         " free");
    }
    void diskFull(const std::string& name, bool partKept) override
    {
        events.push_back("disk full writing " + name + (partKept ? ", part kept" : ""));
    }

    std::vector<std::string> events;
};

inline std::string refusedEvent(Refusal reason)
{
    return "refused " + std::to_string(static_cast<int>(reason));
}
