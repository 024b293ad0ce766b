#include "launcher/release/retired_files.h"

#include <gtest/gtest.h>

#include <map>

TEST(RetiredFiles, OnlyWhatTheNewManifestNoLongerListsInAnyCaseAndNeverTheLaunchersOwn)
{
    const std::string digest(32, 'a');
    std::unordered_map<std::string, std::string> before;
    for (const char* path :
         {"retired.pak", "libs/old.dll", "kept.pak", "Libs/Engine.dll", "DATA.PAK", "ORN_Launcher.exe", "physfs.dll",
          "sfml-system-2.dll.old", "ORN_Launcher.accepted", "big.pak.orn-partial", "../outside.pak", "C:evil"})
        before[path] = digest;
    const std::unordered_map<std::string, std::string> now = {
        {"kept.pak", digest}, {"libs/engine.dll", digest}, {"data.pak", digest}, {"new.pak", digest}};
    const auto candidates = retiredCandidates(before, now);
    const std::map<std::string, std::string> sorted(candidates.begin(), candidates.end());
    const std::map<std::string, std::string> expected = {{"libs/old.dll", digest}, {"retired.pak", digest}};
    EXPECT_EQ(sorted, expected);
}
