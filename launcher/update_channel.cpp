#include "launcher/update_channel.h"

#include "channel/channel_names.h"

UpdateChannel updateChannelFrom(int argc, char** argv, const ServerAddress& server)
{
    const std::string name = argc == 2 ? argv[1] : defaultChannelName;
    return {server, name, std::string(channelBasePath) + name + "/", channelLockName, channelManifestName};
}
