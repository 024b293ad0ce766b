// One GET through sf::Http and one write of the body: the floor that the
// HTTP client itself sets for the launcher's download path.
#include <SFML/Network/Http.hpp>

#include <cstdlib>
#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::cerr << "usage: bare_http_fetch HOST PORT URI OUTPUT_FILE\n";
        return 2;
    }
    sf::Http http(argv[1], static_cast<unsigned short>(std::atoi(argv[2])));
    const sf::Http::Request request(argv[3], sf::Http::Request::Get, "");
    const sf::Http::Response response = http.sendRequest(request, sf::Time::Zero);
    if (response.getStatus() != sf::Http::Response::Ok)
        return 1;
    std::ofstream out(argv[4], std::ios::out | std::ios::binary);
    out.write(response.getBody().data(), static_cast<std::streamsize>(response.getBody().size()));
    return out ? 0 : 1;
}
