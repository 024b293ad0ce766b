#include "publisher/state/kept_releases_record.h"
#include "publisher/state/serial_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string channel = "/srv/www/~qel/ORN/windows/latest";
const std::string objectA(64, 'a');
const std::string objectB(64, 'b');

}  // namespace

TEST(StateRecords, SerialRecordsRoundTripAndRefuseWhatTheyDidNotWrite)
{
    for (const SerialRecord& written : {SerialRecord{true, 1, 0, "", ""}, SerialRecord{true, 1786000000, 90, "", ""},
                                        SerialRecord{true, 1ULL << 62, 36500, "", ""}}) {
        SerialRecord read;
        ASSERT_TRUE(parseSerialRecord(serialRecordText(written, channel), channel, read));
        EXPECT_EQ(read.serial, written.serial);
        EXPECT_EQ(read.expiresDays, written.expiresDays);
    }
    const std::string text = serialRecordText({true, 12, 90, "", ""}, channel);
    const std::vector<std::string> refused = {
        "",
        text.substr(0, text.size() - 1),                         // cut short
        text + "extra\n",                                        //
        serialRecordText({true, 12, 90, "", ""}, "/srv/other"),  // another channel's, copied
        serialRecordText({true, 0, 90, "", ""}, channel),        // serial 0 is never signed
        serialRecordText({true, (1ULL << 62) + 1, 90, "", ""}, channel),
        "orn-publish serial record 1\nserial 12x\nexpires 90\nchannel " + channel + "\n",
        "orn-publish serial record 1\nserial 12\nexpires 0\nchannel " + channel + "\n",
        "orn-publish serial record 2\nserial 12\nexpires 90\nchannel " + channel + "\n",
    };
    for (const std::string& bad : refused) {
        SerialRecord read;
        EXPECT_FALSE(parseSerialRecord(bad, channel, read)) << bad;
    }
}

TEST(StateRecords, KeptReleasesRoundTripAndReadTheEarlierVersion)
{
    const std::vector<KeptRelease> written = {
        {7, {{objectA, 10}, {objectB, unknownObjectSize}}, {{objectA, 10, "libs/a b.dll"}}},
        {9, {}, {}},
        {12, {{objectB, 0}}, {{objectB, 0, "ORN_Client.exe"}, {objectB, 0, "x"}}}};
    std::vector<KeptRelease> read;
    ASSERT_TRUE(parseKeptReleases(keptReleasesText(written, channel), channel, read));
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].serial, written[i].serial);
        EXPECT_EQ(read[i].objects, written[i].objects);
        ASSERT_EQ(read[i].files.size(), written[i].files.size());
        for (std::size_t f = 0; f < read[i].files.size(); ++f)
            EXPECT_EQ(releaseBody({"", 0, false, 0, "", {read[i].files[f]}}),
                      releaseBody({"", 0, false, 0, "", {written[i].files[f]}}));
    }
    // Version 1 gave no sizes.
    ASSERT_TRUE(parseKeptReleases("orn-publish kept releases 1\nchannel " + channel + "\nrelease 3\n" + objectA + "\n",
                                  channel, read));
    EXPECT_EQ(read.at(0).objects.at(objectA), unknownObjectSize);

    const std::string header = "orn-publish kept releases 2\nchannel " + channel + "\n";
    for (const std::string& bad : std::vector<std::string>{
             header + objectA + " 1\n",  // an object before any release
             header + "release 3\nnot-an-object 1\n", header + "release x\n",
             header + "release 3\n" + objectA + " 12x\n", header + "release 3", header + "file " + objectA + " 1 a\n",
             header + "release 3\nfile " + objectA + " 1\n", header + "release 3\nfile x 1 a\n",
             header + "release 3\nfile " + objectA + " 1x a\n", "orn-publish kept releases 2\nchannel /srv/other\n"}) {
        EXPECT_FALSE(parseKeptReleases(bad, channel, read)) << bad;
    }
}
