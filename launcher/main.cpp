#include "channel/channel_names.h"
#include "launcher/console/terminal_console.h"
#include "launcher/game_directory.h"
#include "launcher/http/http_transport.h"
#include "launcher/log/logged_console.h"
#include "launcher/log/logged_transport.h"
#include "launcher/log/run_log.h"
#include "launcher/platform/platform.h"
#include "launcher/self_update/leftover_cleanup.h"
#include "launcher/self_update/self_replacement.h"
#include "launcher/update.h"

#include <iostream>

int main(int argc, char** argv)
{
    platform::returnLargeBuffersPromptly();
    platform::showUtf8OnConsole();
    openGameDirectory(argc > 0 ? argv[0] : nullptr);
    const UpdateChannel channel = updateChannelFrom(argc, argv);
    removeLeftovers();

    RunLog log;
    const bool logged = log.open(launcherLogName);
    useRunLog(&log);
    log.line("channel " + channel.name + " at " + channel.server.host + ":" +
             std::to_string(channel.server.port == 0 ? 80 : channel.server.port));
    HttpTransport http(channel.server);
    LoggedTransport transport(http, log);
    TerminalConsole terminal;
    LoggedConsole console(terminal, log);
    const UpdateOutcome outcome = update(channel, transport, console);
    if (!outcome.retrieved) {
        // The console's texts stay as they were; a player at one learns where the details are.
        if (logged && platform::standardOutputIsConsole())
            std::cout << "Details for support are in " << launcherLogName << std::endl;
        return 1;
    }
    log.line("handing over to the game client");
    useRunLog(nullptr);
    log.close();
    patchAndLaunch(outcome.ownFiles);
}
