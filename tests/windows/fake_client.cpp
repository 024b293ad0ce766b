// Stands in for ORN_Client.exe: leaves a mark in the directory it runs in
// and ends with a status the tests recognise.
#include <cstdio>

int main()
{
    if (std::FILE* log = std::fopen("client.log", "ab")) {
        std::fputs("client ran\n", log);
        std::fclose(log);
    }
    return 3;
}
