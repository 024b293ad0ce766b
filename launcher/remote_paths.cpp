#include "launcher/remote_paths.h"

#include "channel/channel_names.h"
#include "launcher/build_constants.h"

// Defined in this order so that basePath holds its value before remoteDir is formed.
std::string serverHost = buildServerHost;
std::string basePath = channelBasePath;
std::string channelName = defaultChannelName;
std::string remoteDir = basePath + channelName + "/";
std::string lockFileName = channelLockName;
std::string manifestFileName = channelManifestName;
