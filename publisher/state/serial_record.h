#pragma once

#include <filesystem>
#include <string>

// What the publisher itself remembers of each channel it signed, kept in the
// deployer's state directory ($XDG_STATE_HOME/orn-publish, by default
// ~/.local/state/orn-publish, mode 0700) and never on the web server: a
// release deleted, replaced or rolled back there can neither lower the next
// serial nor open a signed channel to unsigned publishes. One file per
// channel, named by the SHA-256 of the channel directory's real path.
struct SerialRecord {
    bool found = false;
    unsigned long long serial = 0;  // the highest serial signed (or about to be)
    unsigned expiresDays = 0;       // the deployer's last expiry choice; 0: never
    std::string file;               // where it is kept, for messages
    // Where the serial came from, for status: kept in a file of its own, so
    // that the record stays readable by earlier versions of this tool.
    std::string origin;
};

// False, with the reason, when a record is there but cannot be trusted or read.
bool findSerialRecord(const std::filesystem::path& channel, SerialRecord& record, std::string& failure);
// Writes the record (temporary file, fsync, rename), making the directory as needed.
bool saveSerialRecord(const std::filesystem::path& channel, SerialRecord& record, std::string& failure);
// Puts back the record as a run found it (`before.found` false: none), when that run signed nothing.
bool restoreSerialRecord(const std::filesystem::path& channel, SerialRecord before, std::string& failure);

// The record's text; its last line names the channel, so that a collision
// of names or a copied file is caught. Parsing takes back only that text.
std::string serialRecordText(const SerialRecord& record, const std::string& channelPath);
bool parseSerialRecord(const std::string& text, const std::string& channelPath, SerialRecord& record);
