#include "launcher/console/terminal_console.h"

#include "launcher/console/console_text.h"
#include "launcher/console/machine_trouble_text.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <iostream>

namespace {

const char* const connectingText = "Connecting to server...";
const char* const lockedText = " Failed.";
const char* const lockedExplanation = "Server locked during update operation, waiting for lock to be released.";
const char* const lockedSinceText = "Update started at ";
const char* const waitingText = "Waiting...";
const char* const connectedText = " Connected";
const char* const checkingText = "Checking for updated files...";
const char* const failedText = " !!Failed!!";
const char* const doneText = " Done";
const char* const noConnectionText = "Check that you have a working internet connection.";
const char* const serverTroubleText = "Server might be having troubles, check again in a few minutes.";
const char* const olderServedText = "The server offers an update older than the one installed, starting ORN...";
const char* const noUpdatesText = "No updates found, starting ORN...";
const char* const updatesFoundText = "Updates found, retrieving updated files:";
const char* const entryPrefix = "* ";
const char* const entrySuffix = "...";
const char* const entryDoneText = " Done.";
const char* const entryFailedText = " Failed.";
const char* const canceledText = "Some updated files failed to be retrieved, canceling launch.";
const char* const launchingText = "Updated files retrieved, patching and launching ORN...";

}  // namespace

const char* refusalText(Refusal reason)
{
    switch (reason) {
    case Refusal::releaseNotFetched:
        return "The update's signed release could not be fetched, canceling launch.";
    case Refusal::badSignature:
        return "The update's signature is not valid, canceling launch.";
    case Refusal::otherChannel:
        return "The update was signed for another channel, canceling launch.";
    case Refusal::olderSerial:
        return "The update is older than one already installed, canceling launch.";
    case Refusal::expired:
        return "The update's signature has expired, canceling launch.";
    case Refusal::manifestMismatch:
        return "The update's file list does not match its signature, canceling launch.";
    case Refusal::unlistedEntry:
        return "The update lists files that its signature does not cover, canceling launch.";
    }
    return "";
}

void TerminalConsole::connecting()
{
    std::cout << connectingText;
}

void TerminalConsole::lockedSince(const std::string& lockText)
{
    std::cout << lockedText << std::endl
              << lockedExplanation << std::endl
              << lockedSinceText << printableOnOneLine(lockText) << std::endl
              << waitingText;
}

void TerminalConsole::noConnection()
{
    std::cout << failedText << std::endl << noConnectionText << std::endl;
}

void TerminalConsole::proxyFailed(ProxyFailure failure, const std::string& proxy)
{
    std::cout << failedText << std::endl << proxyFailedText(failure, proxy) << std::endl;
}

void TerminalConsole::connected()
{
    std::cout << connectedText << std::endl;
}

void TerminalConsole::checking()
{
    std::cout << checkingText;
}

void TerminalConsole::serverTrouble()
{
    std::cout << failedText << std::endl << serverTroubleText << std::endl;
}

void TerminalConsole::refused(Refusal reason)
{
    std::cout << failedText << std::endl << refusalText(reason) << std::endl;
}

void TerminalConsole::olderServedStartingInstalled()
{
    std::cout << doneText << std::endl << olderServedText << std::endl;
}

void TerminalConsole::noUpdates()
{
    std::cout << doneText << std::endl << noUpdatesText << std::endl;
}

void TerminalConsole::updatesFound()
{
    std::cout << doneText << std::endl << updatesFoundText << std::endl;
}

FileProgress* TerminalConsole::fileStarted(const std::string& path)
{
    // A name is the server's text too: shown without what a terminal would act on.
    const std::string entryLine = entryPrefix + printableOnOneLine(path) + entrySuffix;
    std::cout << entryLine;
    std::cout.flush();
    fileLineOpen_ = true;
    if (platform::standardOutputIsConsole())
        progress_ = std::make_unique<DownloadProgress>(entryLine);
    return progress_.get();
}

void TerminalConsole::endFile(const char* outcome)
{
    if (progress_)
        progress_->finish();
    progress_.reset();
    fileLineOpen_ = false;
    std::cout << outcome << std::endl;
}

void TerminalConsole::fileDone()
{
    endFile(entryDoneText);
}

void TerminalConsole::fileFailed()
{
    endFile(entryFailedText);
}

void TerminalConsole::canceled()
{
    std::cout << canceledText << std::endl;
}

void TerminalConsole::launching()
{
    std::cout << launchingText << std::endl << std::endl;
}

void TerminalConsole::ownFileMoveFailed(const char* failure, int cause)
{
    // On standard error with the system's own words for the reason, as the C runtime gives them.
    errno = cause;
    std::perror(failure);
}

void TerminalConsole::detailsInLog(const std::string& logName)
{
    // Piped output stays the same lines as ever; a player at a console learns where the details are.
    if (platform::standardOutputIsConsole())
        std::cout << "Details for support are in " << logName << std::endl;
}

void TerminalConsole::fileHeld(const std::string& name, unsigned int seconds)
{
    if (progress_)
        progress_->finish();
    progress_.reset();  // nothing more arrives: the outcome follows on this line
    std::cout << heldFileText(name, seconds, fileLineOpen_);
    if (!fileLineOpen_)
        std::cout << std::endl;
    std::cout.flush();
}

void TerminalConsole::showLine(const std::string& text)
{
    std::cout << text << std::endl;
}
