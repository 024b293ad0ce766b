#include "channel/channel_names.h"
#include "launcher/build_constants.h"
#include "launcher/console/machine_trouble_text.h"
#include "launcher/console/terminal_console.h"
#include "launcher/console/terminal_uninstall_console.h"
#include "index/game_directory.h"
#include "launcher/game_directory_lock.h"
#include "launcher/http/machine_proxy_settings.h"
#include "launcher/http/server_list.h"
#include "launcher/log/logged_console.h"
#include "launcher/log/logged_servers.h"
#include "launcher/log/run_log.h"
#include "platform/platform.h"
#include "launcher/self_update/leftover_cleanup.h"
#include "launcher/self_update/self_replacement.h"
#include "launcher/uninstall/uninstall.h"
#include "launcher/update.h"

#include <cstring>

namespace {

int uninstallUnderBuildKeys()
{
    TerminalUninstallConsole terminal;
    std::vector<ReleaseKey> keys;
    if (!parseReleaseKeyList(buildReleaseKeys, keys))
        keys.clear();  // CMake refuses malformed keys: none trusted, should one slip through
    return uninstallGame(keys, terminal);
}

}  // namespace

int main(int argc, char** argv)
{
    platform::returnLargeBuffersPromptly();
    platform::showUtf8OnConsole();
    openGameDirectory(argc > 0 ? argv[0] : nullptr);
    if (argc == 2 && std::strcmp(argv[1], uninstallArgument) == 0)
        return uninstallUnderBuildKeys();
    const RequestFloor floor{buildRequestWindowMilliseconds, requestFloor.minimumBytes};
    const std::vector<ServerAddress> servers = serverListFrom(buildServerHost, buildServerPort, floor);
    const UpdateChannel channel = updateChannelFrom(argc, argv, servers.front());
    LaunchSettings settings{buildReleaseKeys, buildLockPollMilliseconds, buildDigestCache};
    settings.stagedRollouts = buildStagedRollouts;
    TerminalConsole terminal;
    // Before anything touches the directory: its leftovers, its partial downloads and its log are the running
    // launcher's while another one waits.
    platform::FileLock directoryLock;
    const GameDirectoryTurn turn = takeGameDirectory(directoryLock, terminal);
    if (!turn.ours)
        return 1;
    removeLeftovers();

    RunLog log;
    const bool logged = log.open(launcherLogName);
    useRunLog(&log);
    if (turn.waitedMilliseconds > 0)
        log.line(std::string(otherLauncherRunningText) + " (waited " + std::to_string(turn.waitedMilliseconds) +
                 " ms)");
    if (!turn.locked)
        log.line(std::string(launcherLockName) + " could not be opened: running without keeping other launchers out");
    log.line("channel " + channel.name + " at " + serverNames(servers));
    LoggedServers reached(servers, machineProxySettings(), log);
    LoggedConsole console(terminal, log);
    const UpdateOutcome outcome = update(channel, settings, reached.transport(), console);
    if (!outcome.retrieved) {
        if (logged)
            console.detailsInLog(launcherLogName);
        return 1;
    }
    // The swap's failures reach the log too: it is closed only as the client starts.
    patchAndLaunch(outcome.ownFiles, console, [&log, &directoryLock] {
        log.line("handing over to the game client");
        useRunLog(nullptr);
        log.close();
        directoryLock.release();
    });
}
