#include "publisher/source/copy_progress.h"

#include "publisher/console/deployer_output.h"

namespace {

const unsigned long long progressFrom = 64ULL << 20;  // files this large show their progress

}  // namespace

CopyProgress::CopyProgress(const std::string& path, unsigned long long total)
    : total_(total), shownTenths_(total >= progressFrom ? 0 : 9)
{
    reportPart("* " + path);
}

void CopyProgress::advance(unsigned long long copied)
{
    while (shownTenths_ < 9 && copied * 10 >= total_ * static_cast<unsigned>(shownTenths_ + 1))
        reportPart(" " + std::to_string(++shownTenths_ * 10) + "%");
}

void CopyProgress::finish(bool copied)
{
    reportLine(copied ? " copied" : " failed");
}
