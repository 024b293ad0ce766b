#include "publisher/source/copy_progress.h"

#include <iostream>

namespace {

const unsigned long long progressFrom = 64ULL << 20;  // files this large show their progress

}  // namespace

CopyProgress::CopyProgress(const std::string& path, unsigned long long total)
    : total_(total), shownTenths_(total >= progressFrom ? 0 : 9)
{
    std::cout << "* " << path << std::flush;
}

void CopyProgress::advance(unsigned long long copied)
{
    while (shownTenths_ < 9 && copied * 10 >= total_ * static_cast<unsigned>(shownTenths_ + 1))
        std::cout << " " << ++shownTenths_ * 10 << "%" << std::flush;
}

void CopyProgress::finish(bool copied)
{
    std::cout << (copied ? " copied" : " failed") << std::endl;
}
