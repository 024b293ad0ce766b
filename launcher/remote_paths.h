#pragma once

#include <string>

// Where on the update server the launcher looks. Only channelName and
// remoteDir change, once, when a channel is named on the command line.
extern std::string serverHost;
extern std::string basePath;
extern std::string channelName;
extern std::string remoteDir;
extern std::string lockFileName;
extern std::string manifestFileName;
