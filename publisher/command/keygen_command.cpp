#include "publisher/command/keygen_command.h"

#include "publisher/console/deployer_output.h"
#include "publisher/keys/secret_key_file.h"

int keygenCommand(const std::string& file)
{
    std::string publicKey;
    std::string failure;
    if (!makeKeyPair(file, publicKey, failure)) {
        diagnosticLine(failure);
        return 2;
    }
    diagnosticLine("secret key written to " + file +
                   "; keep it off the web server. The public key, for LAUNCHER_RELEASE_KEYS:");
    reportLine(publicKey);
    return 0;
}
