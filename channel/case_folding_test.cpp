#include "channel/case_folding.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(CaseFolding, NamesWindowsHoldsAsOneFoldAlike)
{
    const std::pair<std::string, std::string> alike[] = {
        {"ORN_Launcher.EXE", "orn_launcher.exe"},
        {"DONN\xc3\x89"
         "ES.pak",
         "donn\xc3\xa9"
         "es.pak"},                                                                                // É, é
        {"\xce\xa3\xce\x9f\xce\xa6\xce\x99\xce\x91", "\xcf\x83\xce\xbf\xcf\x86\xce\xb9\xce\xb1"},  // ΣΟΦΙΑ
        {"\xcf\x82", "\xcf\x83"},                                                                  // final ς and σ
        {"\xd0\xa4\xd0\x90\xd0\x99\xd0\x9b", "\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb"},                  // ФАЙЛ, файл
        {"\xe1\xba\x9e", "\xc3\x9f"},              // capital ẞ and ß (status S)
        {"\xf0\x90\x90\x80", "\xf0\x90\x90\xa8"},  // Deseret, outside the BMP
        {"\xe2\x84\xaa", "k"},                     // the Kelvin sign
    };
    for (const auto& pair : alike)
        EXPECT_EQ(foldedCase(pair.first), foldedCase(pair.second)) << pair.first;
    EXPECT_EQ(foldedCase("DONN\xc3\x89"
                         "ES.pak"),
              "donn\xc3\xa9"
              "es.pak");
}

TEST(CaseFolding, KeepsWhatHasNoSimpleFoldingAndBytesThatAreNotUtf8)
{
    // ß folds to "ss" only under full folding; "ı" and "İ" have no simple folding.
    for (const std::string& kept : {std::string("stra\xc3\x9f"
                                                "e"),
                                    std::string("\xc4\xb1"), std::string("\xc4\xb0"), std::string("\xe6\x95\xb0.pak"),
                                    std::string("bad\x80\xc3"), std::string()})
        EXPECT_EQ(foldedCase(kept), kept);
    EXPECT_EQ(foldedCase("A\xe9"
                         "B"),
              "a\xe9"
              "b");  // Latin-1 é kept, letters around it folded
    EXPECT_NE(foldedCase("strasse"), foldedCase("stra\xc3\x9f"
                                                "e"));
}

}  // namespace
