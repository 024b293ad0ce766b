// hold_file PATH SECONDS [UNTIL_FILE TEXT]: holds an existing file open,
// shared for reading only and mapped, as the running game holds a library or
// an antivirus scan a file it reads; for SECONDS, or until UNTIL_FILE holds
// TEXT (a launcher's log telling the hold), whichever comes first. Prints
// "held" once it holds the file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <windows.h>

namespace {

bool says(const wchar_t* name, const std::string& text)
{
    // Shared for everything: the launcher keeps writing its log meanwhile.
    const HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::string content(1 << 20, '\0');
    DWORD read = 0;
    ReadFile(file, &content[0], static_cast<DWORD>(content.size()), &read, nullptr);
    CloseHandle(file);
    content.resize(read);
    return content.find(text) != std::string::npos;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 && argc != 5) {
        std::fputs("usage: hold_file PATH SECONDS [UNTIL_FILE TEXT]\n", stderr);
        return 2;
    }
    const HANDLE file =
        CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const HANDLE mapping =
        file == INVALID_HANDLE_VALUE ? nullptr : CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* view = mapping == nullptr ? nullptr : MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
        std::printf("not held: error %lu\n", GetLastError());
        return 1;
    }
    std::string text;
    if (argc == 5) {
        const int length = WideCharToMultiByte(CP_UTF8, 0, argv[4], -1, nullptr, 0, nullptr, nullptr);
        text.resize(length > 0 ? static_cast<std::size_t>(length) : 1);
        WideCharToMultiByte(CP_UTF8, 0, argv[4], -1, &text[0], length, nullptr, nullptr);
        text.resize(text.size() - 1);
    }
    std::puts("held");
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(_wtoi(argv[2]));
    while (std::chrono::steady_clock::now() < end && !(argc == 5 && says(argv[3], text)))
        Sleep(50);
    return 0;  // the system lets go of the view, the mapping and the file
}
