#include "launcher/game_directory.h"
#include "launcher/self_update/leftover_cleanup.h"
#include "launcher/platform/platform.h"
#include "launcher/self_update/self_replacement.h"
#include "launcher/console/terminal_console.h"
#include "launcher/update.h"

int main(int argc, char** argv)
{
    platform::returnLargeBuffersPromptly();
    platform::showUtf8OnConsole();
    openGameDirectory(argc > 0 ? argv[0] : nullptr);
    const UpdateChannel channel = updateChannelFrom(argc, argv);
    removeLeftovers();

    HttpTransport transport(channel.server);
    TerminalConsole console;
    const UpdateOutcome outcome = update(channel, transport, console);
    if (!outcome.retrieved)
        return 1;
    patchAndLaunch(outcome.ownFiles);
}
