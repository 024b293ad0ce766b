#include "publisher/console/deployer_output.h"

#include <iostream>

void reportLine(const std::string& line)
{
    std::cout << line << std::endl;
}

void reportLineUnflushed(const std::string& line)
{
    std::cout << line << '\n';
}

void reportPart(const std::string& part)
{
    std::cout << part << std::flush;
}

void flushReport()
{
    std::cout << std::flush;
}

void diagnosticLine(const std::string& message)
{
    std::cerr << "orn-publish: " << message << std::endl;
}

void warningLine(const std::string& warning)
{
    std::cerr << "orn-publish: warning: " << warning << std::endl;
}
