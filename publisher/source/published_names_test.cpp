#include "publisher/source/published_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char* path;
    const char* said;
};

const std::string refused = "refuses or that Windows cannot hold";
const std::string launchers = "the launcher keeps its own records";
const std::string unfinished = "unfinished downloads";
const std::string replacing = "while it replaces its own";
const std::string otherCase = "in another letter case";
// Each rule, with the part of its reason that names it; empty: publishable.
const std::vector<Case> cases = {
    {"ORN_Client.exe", ""},
    {"libs/engine.dll", ""},
    {"libs/md5sums", ""},  // the channel's names are its own only at the top
    {"high~score.dat", ""},
    {"md5sums", "the channel's own lock, manifest and release"},
    {"release", "the channel's own lock, manifest and release"},
    {"update.lock", "the channel's own lock, manifest and release"},
    {"Libs", "beside the libs/ directory"},
    {"By-Hash", "folder of chunk indexes"},
    {"../escape.dll", refused.c_str()},
    {"back\\slash", refused.c_str()},
    {"c:x", refused.c_str()},
    {"ctl\x01", refused.c_str()},
    {"CON", refused.c_str()},
    {"libs/aux.txt", refused.c_str()},
    {"Lpt1.log", refused.c_str()},
    {"readme.txt.", refused.c_str()},
    {"trailing ", refused.c_str()},
    {"a<b", refused.c_str()},
    {"why?", refused.c_str()},
    {"not-utf-8\xff.dat", refused.c_str()},
    {"ORN_LA~1.EXE", "short aliases"},
    {"libs/ENGINE~12.DLL", "short aliases"},
    {"md5sums.orn-publish", "orn-publish keeps for its own temporary files"},
    {"libs/x.dll.orn-publish", "orn-publish keeps for its own temporary files"},
    {"data.pak.orn-chunks", "chunk indexes and block sums of files"},
    {"libs/x.dll.ORN-Chunks", "chunk indexes and block sums of files"},
    {"data.pak.orn-BLOCKS", "chunk indexes and block sums of files"},
    {"ORN_Launcher.digests", launchers.c_str()},
    {"orn_launcher.RELEASES", launchers.c_str()},
    {"ORN_Launcher.LOG", launchers.c_str()},
    {"orn_launcher.Lock", launchers.c_str()},
    {"orn_launcher.ID", launchers.c_str()},
    {"data.pak.orn-partial", unfinished.c_str()},
    {"libs/x.dll.ORN-Resume", unfinished.c_str()},
    {"ORN_Launcher.exe.old", replacing.c_str()},
    {"physfs.DLL.new", replacing.c_str()},
    {"orn_launcher.exe", otherCase.c_str()},
    {"Physfs.DLL", otherCase.c_str()},
};
}  // namespace

TEST(PublishedNames, EachRuleNamesItsReason)
{
    for (const Case& c : cases) {
        const std::string said = nameProblem(c.path);
        if (std::string(c.said).empty()) {
            EXPECT_EQ(said, "") << c.path;
        } else {
            EXPECT_NE(said.find(c.said), std::string::npos) << c.path << ": " << said;
        }
    }
}
