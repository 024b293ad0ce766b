#include "launcher/remote_paths.h"

#include "launcher/build_constants.h"

// Defined in this order so that basePath holds its value before remoteDir is formed.
std::string serverHost = buildServerHost;
std::string basePath = "/~qel/ORN/windows/";
std::string remoteDir = basePath + "latest/";
std::string lockFileName = "update.lock";
std::string manifestFileName = "md5sums";
