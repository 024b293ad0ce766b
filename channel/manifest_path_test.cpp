// Built natively and for Windows (run under Wine).
#include "channel/manifest_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string smiley = "\xf0\x9f\x98\x80";  // outside the Basic Multilingual Plane: two UTF-16 units
const std::string cjk = "\xe6\x95\xb0";         // three bytes, one UTF-16 unit

std::string repeat(const std::string& text, std::size_t times)
{
    std::string repeated;
    for (std::size_t i = 0; i < times; ++i)
        repeated += text;
    return repeated;
}

TEST(ManifestPath, AcceptsPathsInsideTheGameDirectory)
{
    for (const std::string& path : {repeat(cjk, longestManifestSegmentBytes / 3), "libs/" + std::string(141, 'a'),
                                    "libs/" + std::string(70, 'x') + repeat(smiley, 35)})
        EXPECT_TRUE(isSafeManifestPath(path)) << path.size();
    for (const char* path : {"ORN_Client.exe",
                             "libs/physfs.dll",
                             "data/maps/a b.map",
                             "..hidden",
                             "a..b/c",
                             "caf\xc3\xa9.txt",
                             "donn\xc3\xa9"
                             "es.pak",
                             "libs/\xd0\xa4\xd0\xb0\xd0\xb9\xd0\xbb.dll",
                             "\xe6\x95\xb0\xe6\x8d\xae.pak",
                             "emoji\xf0\x9f\x98\x80.dat",
                             "console.txt",
                             "auxiliary",
                             "COM10",
                             "LPT0.txt",
                             "nul_",
                             "xcon",
                             ".hidden",
                             "a.b.c",
                             "com",
                             "100%.dat",
                             "[x]{y}#&;=+,'@!$~"})
        EXPECT_TRUE(isSafeManifestPath(path)) << path;
}

TEST(ManifestPath, RefusesPathsThatCouldLeaveIt)
{
    for (const std::string& path : std::initializer_list<std::string>{
             "", "/etc/passwd", "..", "../x", "libs/../../x", "libs/..", "a/../b", "libs\\x.dll", "..\\x", "C:x",
             "c:/windows/x", "x\r", "tab\there", std::string("nul\0byte", 8), "esc\x1b[2J", "a//b", "libs/", "./x",
             "libs/.../y",
             // Names Windows cannot hold: a device, or an alias of another name.
             "CON", "con", "aux.txt", "libs/Nul.tar.gz", "PRN", "com1", "COM9.dll", "lpt5", "Lpt1.log", "CON/x",
             "readme.txt.", "readme.txt ", "libs /x", "dir./x", "a<b", "a>b", "say\"hi\"", "a|b", "what?", "*.dll",
             // Not UTF-8: a stray continuation byte, Latin-1, overlong '/', a surrogate, past U+10FFFF, cut short.
             "bad\x80.dat",
             "donn\xe9"
             "es.pak",
             "\xc0\xaf", "\xed\xa0\x80.dat", "\xf4\x90\x80\x80", "libs/\xc3",
             // Too long for Windows under an install directory of 100 characters, or with a temporary suffix.
             repeat(cjk, longestManifestSegmentBytes / 3 + 1), "libs/" + std::string(142, 'a'),
             "libs/" + std::string(70, 'x') + repeat(smiley, 36)})
        EXPECT_FALSE(isSafeManifestPath(path)) << path;
}

}  // namespace
