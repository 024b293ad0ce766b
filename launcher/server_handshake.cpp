#include "launcher/server_handshake.h"

#include "channel/channel_names.h"
#include "launcher/build_constants.h"
#include "launcher/console_text.h"
#include "launcher/platform/platform.h"

#include <iostream>

namespace {

const char* const lockedText = " Failed.";
const char* const lockedExplanation = "Server locked during update operation, waiting for lock to be released.";
const char* const lockedSince = "Update started at ";
const char* const waitingText = "Waiting...";
const char* const connectedText = " Connected";
const char* const checkingText = "Checking for updated files...";
const char* const failedText = " !!Failed!!";
const char* const noConnectionText = "Check that you have a working internet connection.";
const char* const serverTroubleText = "Server might be having troubles, check again in a few minutes.";

const int ok = 200;
const int notFound = 404;
// The lock's text is only shown: its first few KiB are all a player needs.
const std::size_t lockTextLimitBytes = 4 * 1024;

}  // namespace

bool waitWhileLocked(const UpdateChannel& channel)
{
    bool firstLock = true;
    for (;;) {
        TextAnswer lock(lockTextLimitBytes);
        // A lock whose answer broke off or stalled says nothing: the server is not reachable.
        const bool answered = httpGet(channel.server, channel.directory + channel.lockFile, {}, lock) != AnswerEnd::failed;
        if (answered && lock.head.status == notFound)
            break;
        if (!answered || lock.head.status != ok) {
            std::cout << failedText << std::endl << noConnectionText << std::endl;
            return false;
        }
        if (firstLock) {
            std::cout << lockedText << std::endl
                      << lockedExplanation << std::endl
                      << lockedSince << printableOnOneLine(lock.body) << std::endl
                      << waitingText;
            firstLock = false;
        }
        platform::pauseMilliseconds(buildLockPollMilliseconds);
    }
    return true;
}

bool fetchManifest(const UpdateChannel& channel, const std::string& uri, std::size_t limit, std::string& manifestText)
{
    // A cut or endless manifest would leave files stale, or say there is no update at all. Under a
    // signed size, a longer answer is read one byte past it: its digest then shows it is not the signed one.
    TextAnswer answer(limit);
    const AnswerEnd end = httpGet(channel.server, uri, {}, answer);
    const bool pastSignedSize = end == AnswerEnd::stopped && answer.overflowed && limit < channelTextLimitBytes;
    const bool fetched = answer.head.status == ok && (end == AnswerEnd::complete || pastSignedSize);
    manifestText.swap(answer.body);
    reportConnected();
    if (!fetched) {
        reportServerTrouble();
        return false;
    }
    return true;
}

void reportConnected()
{
    std::cout << connectedText << std::endl << checkingText;
}

void reportServerTrouble()
{
    std::cout << failedText << std::endl << serverTroubleText << std::endl;
}
