// Times the launcher's two directory scans over an installation whose
// manifest is the file "md5sums" inside it. Prints the seconds and the
// number of paths found changed (0 when every digest agrees).
#include "index/file_index.h"

#include <physfs.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: scan_benchmark INSTALLATION_DIR\n";
        return 2;
    }
    std::ifstream manifestFile(std::string(argv[1]) + "/md5sums", std::ios::binary);
    std::stringstream manifest;
    manifest << manifestFile.rdbuf();

    PHYSFS_init(argv[0]);
    if (PHYSFS_mount(argv[1], nullptr, 1) == 0) {
        std::cerr << "cannot mount " << argv[1] << "\n";
        return 2;
    }

    const auto start = std::chrono::steady_clock::now();
    FileIndex index(manifest.str());
    index.scanDirectory("libs/");
    index.scanDirectory("");
    const std::size_t changed = index.changedFiles().size();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    std::cout << "scan_seconds=" << elapsed.count() << " listed=" << index.remoteDigests.size()
              << " changed=" << changed << "\n";
    PHYSFS_deinit();
    return changed == 0 ? 0 : 1;
}
