#include "index/file_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

const std::string digestA = "0123456789abcdef0123456789abcdef";
const std::string digestB = "fedcba9876543210fedcba9876543210";

std::vector<std::string> sorted(std::vector<std::string> paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(ChangedFiles, ListsMissingEmptyAndDifferingPathsOnly)
{
    FileIndex index(digestA + "  current\n" + digestA + "  differs\n" + digestA + "  missing\n" + digestA +
                    "  empty\n" + "0123456789ABCDEF0123456789ABCDEF  upper\n" + digestA + "  update.lock\n");
    index.localDigests["current"] = digestA;
    index.localDigests["differs"] = digestB;
    index.localDigests["empty"] = "";
    index.localDigests["upper"] = digestA;
    index.localDigests["update.lock"] = digestA;

    const std::vector<std::string> expected = {"differs", "empty", "missing", "upper"};
    EXPECT_EQ(sorted(index.changedFiles()), expected);
    EXPECT_EQ(sorted(index.changedFiles()), expected) << "a second call gives the same list";
}

TEST(ChangedFiles, EmptyWhenNothingIsListedOrAllIsCurrent)
{
    EXPECT_TRUE(FileIndex("").changedFiles().empty());
    EXPECT_TRUE(FileIndex("garbage\n" + digestA + "  x\n").changedFiles().empty());

    FileIndex index(digestA + "  a\n" + digestB + "  libs/b\n");
    EXPECT_TRUE(index.localDigests.empty()) << "only the manifest's side is filled in";
    index.localDigests["a"] = digestA;
    index.localDigests["libs/b"] = digestB;
    EXPECT_TRUE(index.changedFiles().empty());
}

TEST(ChangedFiles, DuplicateLinesAreJudgedByTheLaterDigest)
{
    FileIndex index(digestA + "  a\n" + digestB + "  a\n");
    index.localDigests["a"] = digestA;
    EXPECT_EQ(index.changedFiles(), std::vector<std::string>{"a"});
    index.localDigests["a"] = digestB;
    EXPECT_TRUE(index.changedFiles().empty());
}

}  // namespace
