// Built natively and for Windows (run under Wine).
#include "channel/manifest_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ManifestPath, AcceptsPathsInsideTheGameDirectory)
{
    for (const char* path : {"ORN_Client.exe", "libs/physfs.dll", "data/maps/a b.map", "..hidden", "a..b/c",
                             "caf\xc3\xa9.txt", "console.txt", "auxiliary", "COM10", "LPT0.txt", "nul_", "xcon",
                             ".hidden", "a.b.c", "com", "100%.dat", "[x]{y}#&;=+,'@!$~"})
        EXPECT_TRUE(isSafeManifestPath(path)) << path;
}

TEST(ManifestPath, RefusesPathsThatCouldLeaveIt)
{
    for (const std::string& path : std::initializer_list<std::string>{"", "/etc/passwd", "..", "../x", "libs/../../x", "libs/..", "a/../b",
             "libs\\x.dll", "..\\x", "C:x", "c:/windows/x", "x\r", "tab\there",
             std::string("nul\0byte", 8), "esc\x1b[2J", "a//b", "libs/", "./x", "libs/.../y",
             // Names Windows cannot hold: a device, or an alias of another name.
             "CON", "con", "aux.txt", "libs/Nul.tar.gz", "PRN", "com1", "COM9.dll", "lpt5", "Lpt1.log",
             "CON/x", "readme.txt.", "readme.txt ", "libs /x", "dir./x", "a<b", "a>b", "say\"hi\"", "a|b",
             "what?", "*.dll"})
        EXPECT_FALSE(isSafeManifestPath(path)) << path;
}

}  // namespace
