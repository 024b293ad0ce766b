// orn-publish: publishes a game tree into one channel directory of the
// update server, behind the lock that launchers honour, optionally signed.
#include "publisher/adoption/adoption_command.h"
#include "publisher/command/command_line.h"
#include "publisher/command/keygen_command.h"
#include "publisher/console/deployer_output.h"
#include "publisher/promote/promote_command.h"
#include "publisher/publish/publish_command.h"
#include "publisher/rollout/rollout_command.h"
#include "publisher/status/channel_status.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    Options options;
    std::string failure;
    if (!parseOptions(argc, argv, options, failure)) {
        diagnosticLine(failure + " (see orn-publish --help)");
        return 2;
    }
    switch (options.command) {
    case Options::Command::help:
        std::cout << usageText();
        return 0;
    case Options::Command::version:
        reportLine("orn-publish " ORN_VERSION);
        return 0;
    case Options::Command::keygen:
        return keygenCommand(options.operands.front());
    case Options::Command::status:
        return statusCommand(options.operands.back(), options.signing, options.warnDays);
    case Options::Command::adoption:
        return adoptionCommand(options.operands.front(),
                               std::vector<std::string>(options.operands.begin() + 1, options.operands.end()),
                               options.signing);
    case Options::Command::resign:
        return resignCommand(options);
    case Options::Command::promote:
        return promoteCommand(options);
    case Options::Command::rollback:
        return rollbackCommand(options);
    case Options::Command::rollout:
        return rolloutCommand(options);
    case Options::Command::publish:
        break;
    }
    return options.rollout.given ? stagedPublishCommand(options) : publishCommand(options);
}
