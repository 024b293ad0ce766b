#include "publisher/command/keygen_command.h"

#include "publisher/keys/secret_key_file.h"

#include <iostream>

int keygenCommand(const std::string& file)
{
    std::string publicKey;
    std::string failure;
    if (!makeKeyPair(file, publicKey, failure)) {
        std::cerr << "orn-publish: " << failure << std::endl;
        return 2;
    }
    std::cerr << "orn-publish: secret key written to " << file
              << "; keep it off the web server. The public key, for LAUNCHER_RELEASE_KEYS:" << std::endl;
    std::cout << publicKey << std::endl;
    return 0;
}

