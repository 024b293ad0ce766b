#include "launcher/console/uninstall_text.h"

#include "launcher/console/console_text.h"
#include "platform/platform.h"

#include <cstring>

std::string fileLeftText(const std::string& path)
{
    return "Left " + printableOnOneLine(path) + ": the player made or changed it.";
}

std::string fileNotRemovedText(const std::string& path, int cause)
{
    if (platform::isHeldFileFailure(cause))
        return "Could not remove " + printableOnOneLine(path) +
               ": another program holds it (the game, or an antivirus scan). Close it, then uninstall again.";
    return "Could not remove " + printableOnOneLine(path) + " (" + std::strerror(cause) + ").";
}

std::string uninstallEndedText(const UninstallTally& tally)
{
    if (tally.notRemoved > 0)
        return "Uninstall not finished: " + std::to_string(tally.notRemoved) + " file(s) could not be removed.";
    const std::string counts =
        std::to_string(tally.removed) + " file(s) removed, " + std::to_string(tally.left) + " left.";
    if (!tally.installedKnown)
        return "Uninstalled the launcher's records only, no record of the installed game was found: " + counts;
    return "Uninstalled: " + counts;
}
