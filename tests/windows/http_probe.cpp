// The launcher's HTTP side by itself: the server handshake, then the
// download checks for each path named on the command line. It lets the
// Windows build of SFML, and the launcher's use of it, run under Wine where
// the whole launcher cannot be built (no Windows PhysFS).
#include "launcher/build_constants.h"
#include "launcher/download.h"
#include "launcher/remote_paths.h"
#include "launcher/server_handshake.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    std::cout << "Connecting to server...";
    sf::Http http(serverHost, buildServerPort);
    sf::Http::Response response;
    sf::Http::Request request(remoteDir + manifestFileName, sf::Http::Request::Get, "");
    std::string manifestText;
    if (!fetchManifest(http, request, response, manifestText))
        return 1;
    std::cout << " manifest of " << manifestText.size() << " bytes" << std::endl;

    for (int i = 1; i < argc; ++i) {
        request.setUri(remoteDir + argv[i]);
        response = http.sendRequest(request, sf::Time::Zero);
        bool saved = isCompleteDownload(response);
        if (saved) {
            std::ofstream file(argv[i], std::ios::out | std::ios::binary);
            file.write(response.getBody().data(), static_cast<std::streamsize>(response.getBody().size()));
            file.close();
            saved = !file.fail();
        }
        std::cout << argv[i] << (saved ? ": saved" : ": rejected") << std::endl;
    }
    return 0;
}
