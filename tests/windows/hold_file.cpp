// hold_file PATH SECONDS: holds an existing file open for SECONDS, shared for
// reading only and mapped, as the running game holds a library or an
// antivirus scan holds a file it reads. Prints "held" once it holds it.
#include <cstdio>
#include <cstdlib>
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fputs("usage: hold_file PATH SECONDS\n", stderr);
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
    std::puts("held");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(_wtoi(argv[2])) * 1000);
    return 0;  // the system lets go of the view, the mapping and the file
}
