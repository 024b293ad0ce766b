#include "launcher/console/machine_trouble_text.h"

#include "launcher/console/console_text.h"

#include <cstring>

std::string otherLauncherStillRunningText(unsigned int minutes)
{
    return "Another launcher is still updating this game after " + std::to_string(minutes) +
           " minutes, canceling launch.";
}

std::string heldFileText(const std::string& name, unsigned int seconds, bool onItsLine)
{
    const std::string held = " in use by another program, trying again for up to " + std::to_string(seconds) + " s...";
    return onItsLine ? held : printableOnOneLine(name) + " is" + held;
}

std::string fileStillHeldText(const std::string& name)
{
    return printableOnOneLine(name) +
           " is still in use by another program (the game, or an antivirus scan): close it, then start the "
           "launcher again.";
}

std::string folderNotWritableText(const std::string& folder, int cause)
{
    return "The game folder " + printableOnOneLine(folder) + " cannot be written (" + std::strerror(cause) +
           "): install the game in a folder you can write to, or run the launcher as administrator.";
}

std::string notEnoughSpaceText(unsigned long long needed, unsigned long long available)
{
    return "Not enough disk space: the update needs " + mebibytes(needed) + " and " + mebibytes(available) +
           " are free. Free some space, then start the launcher again.";
}

std::string diskFullText(const std::string& name, bool partKept)
{
    return "The disk is full: " + printableOnOneLine(name) + " could not be written" +
           (partKept ? ", what arrived of it is kept" : "") + ". Free some space, then start the launcher again.";
}

std::string mebibytes(unsigned long long bytes)
{
    const unsigned long long tenths = bytes == 0 ? 0 : (bytes * 10 + (1ULL << 20) - 1) / (1ULL << 20);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MiB";
}
