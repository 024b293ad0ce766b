#include "publisher/state/serial_record.h"

#include "channel/release.h"
#include "publisher/state/state_directory.h"

#include <cstdlib>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* const recordHeader = "orn-publish serial record 1";
const char* const originSuffix = ".origin";
const std::size_t originLimitBytes = 4096;

}  // namespace

std::string serialRecordText(const SerialRecord& record, const std::string& channelPath)
{
    return std::string(recordHeader) + "\nserial " + std::to_string(record.serial) + "\nexpires " +
           (record.expiresDays == 0 ? std::string("never") : std::to_string(record.expiresDays)) + "\nchannel " +
           channelPath + "\n";
}

bool parseSerialRecord(const std::string& text, const std::string& channelPath, SerialRecord& record)
{
    std::istringstream lines(text);
    std::string header;
    std::string serial;
    std::string expires;
    std::getline(lines, header);
    std::getline(lines, serial);
    std::getline(lines, expires);
    char* end = nullptr;
    if (header != recordHeader || serial.compare(0, 7, "serial ") != 0 || expires.compare(0, 8, "expires ") != 0)
        return false;
    record.serial = std::strtoull(serial.c_str() + 7, &end, 10);
    if (*end != '\0' || record.serial == 0 || record.serial > largestReleaseSerial)
        return false;
    record.expiresDays = 0;
    if (expires != "expires never" &&
        ((record.expiresDays = static_cast<unsigned>(std::strtoul(expires.c_str() + 8, &end, 10))) == 0 ||
         *end != '\0'))
        return false;
    return text == serialRecordText(record, channelPath);
}

bool findSerialRecord(const fs::path& channel, SerialRecord& record, std::string& failure)
{
    record = SerialRecord();
    std::string channelPath;
    std::string text;
    bool found = false;
    if (!channelStatePath(channel, channelPath, failure) ||
        !readStateFile(channelPath, "", 65535, text, found, record.file, failure))
        return false;
    if (!found)
        return true;
    if (!parseSerialRecord(text, channelPath, record)) {
        failure = "the record of the serials signed for " + channelPath + ", " + record.file +
                  ", cannot be read; the next serial is unknown";
        return false;
    }
    record.found = true;
    // "serial N" then the origin: only an origin of this very serial counts.
    std::string origin;
    std::string ignored;
    bool originFound = false;
    const std::string prefix = "serial " + std::to_string(record.serial) + "\n";
    if (readStateFile(channelPath, originSuffix, originLimitBytes, origin, originFound, ignored, ignored) &&
        origin.compare(0, prefix.size(), prefix) == 0 && origin.back() == '\n')
        record.origin = origin.substr(prefix.size(), origin.size() - prefix.size() - 1);
    return true;
}

bool restoreSerialRecord(const fs::path& channel, SerialRecord before, std::string& failure)
{
    if (before.found)
        return saveSerialRecord(channel, before, failure);
    std::string channelPath;
    return channelStatePath(channel, channelPath, failure) && removeStateFile(channelPath, "", failure);
}

bool saveSerialRecord(const fs::path& channel, SerialRecord& record, std::string& failure)
{
    std::string channelPath;
    if (!channelStatePath(channel, channelPath, failure))
        return false;
    record.found = writeStateFile(channelPath, "", serialRecordText(record, channelPath), record.file, failure);
    std::string ignored;
    if (record.found && !record.origin.empty())  // only status reads it: losing it loses nothing else
        writeStateFile(channelPath, originSuffix,
                       "serial " + std::to_string(record.serial) + "\n" + record.origin + "\n", ignored, ignored);
    return record.found;
}
