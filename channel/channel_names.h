#pragma once

#include <string_view>

// What a channel directory on the update server holds, as the launcher asks
// for it and the publisher writes it.
inline constexpr const char* channelBasePath = "/~qel/ORN/windows/";
inline constexpr const char* defaultChannelName = "latest";
inline constexpr const char* channelLockName = "update.lock";
inline constexpr const char* channelManifestName = "md5sums";
inline constexpr const char* channelReleaseName = "release";
// The most a launcher reads of the manifest or the release: past it, the
// server is taken to be failing rather than memory spent on it.
inline constexpr unsigned long channelTextLimitBytes = 64ul << 20;
// Where a signed channel keeps its objects (every file, md5sums and each
// chunk index), each named by its own SHA-256. No game file can be named
// like it: the tree has files only at its top level and in libs/, and the
// publisher refuses one named "by-hash".
inline constexpr const char* objectsDirectoryName = "by-hash";
// The game client the launcher starts once the game directory is whole.
inline constexpr const char* gameClientName = "ORN_Client.exe";

// The only subdirectory the launcher scans.
inline constexpr const char* libraryDirectoryName = "libs";

// The launcher's own records in the game directory: never game files.
inline constexpr const char* launcherDigestCacheName = "ORN_Launcher.digests";
inline constexpr const char* launcherAcceptedSerialsName = "ORN_Launcher.releases";
inline constexpr const char* launcherAcceptedReleaseName = "ORN_Launcher.accepted";
// What an unsigned channel's last whole update listed, for an uninstall to know the game's files by.
inline constexpr const char* launcherInstalledListingName = "ORN_Launcher.installed";
// What the last run did, for support; replaced by each run.
inline constexpr const char* launcherLogName = "ORN_Launcher.log";
// The file whose lock keeps a second launcher out of the game directory while one runs.
inline constexpr const char* launcherLockName = "ORN_Launcher.lock";
// This game directory's random install id, which places it in or out of a
// staged rollout's share. Never sent anywhere.
inline constexpr const char* installIdFileName = "ORN_Launcher.id";
// Suffixes of the launcher's unfinished downloads and their resume records
// ("<name>.orn-partial", "<name>.orn-resume"), which it removes when stale:
// never game files either.
inline constexpr const char* launcherPartialSuffix = ".orn-partial";
inline constexpr const char* launcherResumeSuffix = ".orn-resume";
// Suffix of the names that the publisher writes before a rename puts them in
// place. No published name contains it (the source check refuses them), so
// a temporary file never collides with a published one.
inline constexpr const char* publisherTemporarySuffix = ".orn-publish";

// Whether a name ends in one of the suffixes above.
inline bool hasSuffix(std::string_view name, std::string_view suffix)
{
    return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
}
