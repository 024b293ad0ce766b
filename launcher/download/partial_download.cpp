#include "launcher/download/partial_download.h"

#include "channel/channel_names.h"

#include "platform/platform.h"
#include "index/text_file.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace {

const char* const formatLine = "orn-resume 1";

std::string recordNameFor(const std::string& localName)
{
    return localName + launcherResumeSuffix;
}

}  // namespace

std::string partialNameFor(const std::string& localName)
{
    return localName + launcherPartialSuffix;
}

bool readResumeRecord(const std::string& localName, ResumeRecord& record)
{
    std::ifstream in;
    platform::openForReading(in, recordNameFor(localName));
    std::string format;
    std::string total;
    if (!std::getline(in, format) || format != formatLine || !std::getline(in, record.path) ||
        !std::getline(in, record.digest) || !std::getline(in, total) || !std::getline(in, record.validatorField) ||
        !std::getline(in, record.validator) || total.empty() ||
        total.find_first_not_of("0123456789") != std::string::npos || total.size() > 19)
        return false;
    record.total = std::stoull(total);
    return record.digest.size() == 32 && record.total > 0;
}

bool writeResumeRecord(const std::string& localName, const ResumeRecord& record)
{
    // Header values come from the network: one line each, or none at all.
    ResumeRecord written = record;
    if (written.validator.find_first_of("\r\n") != std::string::npos)
        written.validatorField.clear(), written.validator.clear();
    return replaceWithText(recordNameFor(localName), std::string(formatLine) + "\n" + written.path + "\n" +
                                                         written.digest + "\n" + std::to_string(written.total) + "\n" +
                                                         written.validatorField + "\n" + written.validator + "\n");
}

void discardPartial(const std::string& localName)
{
    platform::removeFile(partialNameFor(localName).c_str());
    platform::removeFile(recordNameFor(localName).c_str());
}
