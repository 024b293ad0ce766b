#pragma once

#include <string>

// What the player reads when their own machine stands in the way of an
// update, each line naming the file or folder and the way out. The console
// shows them and the log keeps them, word for word.
inline constexpr const char* otherLauncherRunningText =
    "Another launcher is updating this game, waiting for it to finish...";
std::string otherLauncherStillRunningText(unsigned int minutes);
// Ends the open "* path..." line, or stands alone when none is open.
std::string heldFileText(const std::string& name, unsigned int seconds, bool onItsLine);
std::string fileStillHeldText(const std::string& name);
std::string folderNotWritableText(const std::string& folder, int cause);
std::string notEnoughSpaceText(unsigned long long needed, unsigned long long available);
std::string diskFullText(const std::string& name, bool partKept);

// Bytes in MiB with one decimal, as "57.3 MiB"; "0.1 MiB" for any smaller nonzero amount.
std::string mebibytes(unsigned long long bytes);
