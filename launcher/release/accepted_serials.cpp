#include "launcher/release/accepted_serials.h"

#include "platform/platform.h"
#include "index/text_file.h"

#include <fstream>
#include <map>
#include <sstream>

namespace {

std::map<std::string, unsigned long long> readSerials()
{
    std::map<std::string, unsigned long long> serials;
    std::ifstream in;
    platform::openForReading(in, acceptedSerialsFileName);
    std::string line;
    while (std::getline(in, line)) {
        const std::string::size_type blank = line.find(' ');
        if (blank == 0 || blank == std::string::npos || line.find_first_not_of("0123456789") != blank)
            continue;  // not ours: ignore rather than trust
        std::istringstream number(line.substr(0, blank));
        unsigned long long serial = 0;
        if (number >> serial)
            serials[line.substr(blank + 1)] = serial;
    }
    return serials;
}

}  // namespace

unsigned long long highestAcceptedSerial(const std::string& channel)
{
    const auto serials = readSerials();
    const auto found = serials.find(channel);
    return found == serials.end() ? 0 : found->second;
}

bool recordAcceptedSerial(const std::string& channel, unsigned long long serial)
{
    auto serials = readSerials();
    if (serials[channel] >= serial)
        return true;
    serials[channel] = serial;
    std::string text;
    for (const auto& entry : serials)
        text += std::to_string(entry.second) + " " + entry.first + "\n";
    return replaceWithText(acceptedSerialsFileName, text);
}
