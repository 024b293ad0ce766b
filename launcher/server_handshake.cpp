#include "launcher/server_handshake.h"

#include "launcher/build_constants.h"
#include "launcher/download.h"
#include "launcher/platform/platform.h"
#include "launcher/remote_paths.h"

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

}  // namespace

bool fetchManifest(sf::Http& http, const sf::Http::Request& manifestRequest, sf::Http::Response& response,
                   std::string& manifestText)
{
    bool firstLock = true;
    for (;;) {
        const sf::Http::Request lockRequest(remoteDir + lockFileName, sf::Http::Request::Get, "");
        sendRequest(http, lockRequest, response);
        if (response.getStatus() == sf::Http::Response::NotFound)
            break;
        if (response.getStatus() != sf::Http::Response::Ok) {
            std::cout << failedText << std::endl << noConnectionText << std::endl;
            return false;
        }
        if (firstLock) {
            std::cout << lockedText << std::endl
                      << lockedExplanation << std::endl
                      << lockedSince << response.getBody() << std::endl
                      << waitingText;
            firstLock = false;
        }
        platform::pauseMilliseconds(buildLockPollMilliseconds);
    }

    sendRequest(http, manifestRequest, response);
    std::cout << connectedText << std::endl << checkingText;
    // A cut manifest would leave files stale, or say there is no update at all.
    if (!isCompleteDownload(response)) {
        std::cout << failedText << std::endl << serverTroubleText << std::endl;
        return false;
    }
    manifestText = response.getBody();
    return true;
}
