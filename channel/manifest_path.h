#pragma once

#include "channel/channel_names.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

// The manifest comes from the network: a path is written only when it
// stays inside the game directory and names a file that Windows can hold
// (the channel serves Windows players, whatever builds the launcher).
// Refuses the empty path, a leading "/", an empty or ".." segment, control
// bytes, any of \ : < > " | ? *, a segment ending in "." or a blank, and the
// device names CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 in any letter case,
// alone or with an extension. Also refuses what is not valid UTF-8 (Windows
// and PhysFS read names as UTF-8) and what is too long for Windows: see below.
bool isSafeManifestPath(const std::string& path);

// The longest temporary suffix added to a name: the launcher's downloads
// and resume records, the publisher's copies.
inline constexpr std::size_t longestTemporarySuffix =
    std::max({std::string_view(launcherPartialSuffix).size(), std::string_view(launcherResumeSuffix).size(),
              std::string_view(publisherTemporarySuffix).size()});
static_assert(longestTemporarySuffix == 12, "the longest path the rule allows changes with it: say so in the README");
// A segment and that suffix must fit the 255 bytes a file name may take.
inline constexpr std::size_t longestManifestSegmentBytes = 255 - longestTemporarySuffix;
// Windows' MAX_PATH (260 UTF-16 units with the terminating zero) must hold
// an install directory of up to 100 units, a separator, the path and the suffix.
inline constexpr std::size_t longestInstallDirectory = 100;
inline constexpr std::size_t longestManifestPathUtf16 = 260 - 1 - longestInstallDirectory - 1 - longestTemporarySuffix;
