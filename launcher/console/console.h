#pragma once

#include <string>

// How far a file's download has come, for a player watching: told by the
// fetch as it goes.
class FileProgress {
public:
    virtual ~FileProgress() = default;
    // From byte `from` on; `resumed`: an earlier start's bytes are kept.
    virtual void start(unsigned long long from, bool resumed) = 0;
    // A file built from its old copy: what is reused of it and what is fetched.
    virtual void startDelta(unsigned long long from, unsigned long long total, unsigned long long reused,
                            unsigned long long fetching) = 0;
    virtual void advance(unsigned long long done, unsigned long long total) = 0;
    // The old copy being cut and compared with the new file's index, before a delta's figures are known.
    virtual void scanning(unsigned long long done, unsigned long long total) = 0;
};

// Why the run refuses what the server offers.
enum class Refusal {
    releaseNotFetched,
    badSignature,
    otherChannel,
    olderSerial,
    expired,
    manifestMismatch,
    unlistedEntry,
};

// Why the player's proxy let no request through.
enum class ProxyFailure {
    asksForPassword,  // 407: this launcher has no credentials to give
    unreachable,
};

// Everything a player sees of a run, one event at a time, in the order the
// run meets them. One printer owns every text and which line is still open;
// the run never writes to the console itself.
class Console {
public:
    virtual ~Console() = default;
    virtual void connecting() = 0;
    // The channel's lock is up: `lockText` is what the server's lock file says.
    virtual void lockedSince(const std::string& lockText) = 0;
    virtual void noConnection() = 0;
    // Instead of noConnection where the player's proxy (`proxy`: "host:port") failed the request.
    virtual void proxyFailed(ProxyFailure failure, const std::string& proxy) = 0;
    virtual void connected() = 0;
    virtual void checking() = 0;
    virtual void serverTrouble() = 0;
    virtual void refused(Refusal reason) = 0;
    // The server offers an older release than the installed one, which is whole.
    virtual void olderServedStartingInstalled() = 0;
    virtual void noUpdates() = 0;
    virtual void updatesFound() = 0;
    // `path` is the server's text. The progress (nullptr: nothing to show) lives until the file ends.
    virtual FileProgress* fileStarted(const std::string& path) = 0;
    virtual void fileDone() = 0;
    virtual void fileFailed() = 0;
    virtual void canceled() = 0;
    virtual void launching() = 0;
    // The swap of the launcher's own files could not make one move: `failure`
    // names it, `cause` is the system's reason (an errno value).
    virtual void ownFileMoveFailed(const char* failure, int cause) = 0;
    // The run gave up; what support needs is in the log file `logName`.
    virtual void detailsInLog(const std::string& logName) = 0;

    // Another launcher is updating this game directory: this one waits for it to end.
    virtual void otherLauncherRunning() = 0;
    // It still was after `minutes`: the run ends.
    virtual void otherLauncherStillRunning(unsigned int minutes) = 0;
    // The file `name` (a local name) cannot be put in place while another
    // program holds it: tried again for up to `seconds`.
    virtual void fileHeld(const std::string& name, unsigned int seconds) = 0;
    // ... and it was still held when the time was up.
    virtual void fileStillHeld(const std::string& name) = 0;
    // Files must be fetched, and `folder` (a full path) takes no new file: `cause` is the errno.
    virtual void folderNotWritable(const std::string& folder, int cause) = 0;
    // The update needs `needed` bytes more than the game's volume has (`available`).
    virtual void notEnoughSpace(unsigned long long needed, unsigned long long available) = 0;
    // A write into the file `name` (a local name) found the disk full; `partKept`: its whole pieces stay for the
    // next start to resume from.
    virtual void diskFull(const std::string& name, bool partKept) = 0;
};
