#include "publisher/signing/settling.h"

#include "channel/utc_time.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const long long now = 1800000000;
const auto signingTime = static_cast<unsigned long long>(now);
using State = CurrentRelease::State;

struct Found {
    State state;
    unsigned long long releaseSerial;
    bool recorded;
    unsigned long long recordSerial;
};

ReleaseSigning found(const Found& channel)
{
    ReleaseSigning signing;
    signing.current.state = channel.state;
    signing.current.release.serial = channel.releaseSerial;
    signing.record.found = channel.recorded;
    signing.record.serial = channel.recordSerial;
    return signing;
}

}  // namespace

TEST(SerialSettling, SignsAboveEverySerialKnownOrSaysWhyNot)
{
    struct Case {
        const char* name;
        Found channel;
        unsigned long long given;  // --serial; 0: none
        bool lockUp;
        unsigned long long serial;  // 0: refused
        const char* said;
    };
    const std::vector<Case> cases = {
        {"a new channel takes the clock", {State::missing, 0, false, 0}, 0, false, signingTime, "the signing time"},
        {"above a release ahead of the clock",
         {State::verified, signingTime + 5, false, 0},
         0,
         false,
         signingTime + 6,
         "ahead of the clock"},
        {"above a record ahead of the clock",
         {State::verified, 7, true, signingTime + 9},
         0,
         false,
         signingTime + 10,
         "one above the highest serial known"},
        {"a state folder lost: the clock still",
         {State::verified, 7, false, 0},
         0,
         false,
         signingTime,
         "above the highest serial known, 7"},
        {"given by hand", {State::verified, 7, true, 8}, 9, false, 9, "given with --serial"},
        {"given, not above the record", {State::verified, 7, true, 9}, 9, false, 0, "is not greater than 9"},
        {"given, beyond what launchers read",
         {State::missing, 0, false, 0},
         (1ULL << 62) + 1,
         false,
         0,
         "the largest that launchers read"},
        {"an untrusted release needs --serial", {State::unverified, 0, true, 5}, 0, false, 0, "cannot be trusted"},
        {"an untrusted release, --serial given", {State::unverified, 0, true, 5}, 6, false, 6, ""},
        {"a release removed by hand needs --serial",
         {State::missing, 0, true, signingTime + 3},
         0,
         false,
         0,
         "give --serial N above"},
        {"a release an interrupted publish had not written",
         {State::missing, 0, true, signingTime + 3},
         0,
         true,
         signingTime + 4,
         ""},
    };
    for (const Case& c : cases) {
        ReleaseSigning signing = found(c.channel);
        SigningRequest request;
        request.serial = c.given;
        std::string failure;
        const bool settled = settleSigning(request, c.lockUp, now, signing, failure);
        EXPECT_EQ(settled ? signing.serial : 0, c.serial) << c.name << ": " << failure;
        const std::string& said = settled ? signing.record.origin : failure;
        EXPECT_NE(said.find(c.said), std::string::npos) << c.name << ": " << said;
        if (settled) {
            EXPECT_EQ(signing.record.serial, signing.serial) << c.name;
        }
    }
}

TEST(SerialSettling, ExpiryIsTheRequestsOrTheLastChoiceOnAResign)
{
    struct Case {
        const char* name;
        bool given;
        unsigned days;  // given with --expires; 0: never
        bool resign;
        bool recorded;
        unsigned recordDays;
        bool currentExpires;
        unsigned expected;  // 0: never
    };
    const std::vector<Case> cases = {
        {"the default", false, 0, false, false, 0, false, defaultExpiryDays},
        {"given", true, 30, false, true, 7, true, 30},
        {"never, given", true, 0, false, false, 0, true, 0},
        {"a resign keeps the record's choice", false, 0, true, true, 7, true, 7},
        {"a resign keeps never", false, 0, true, true, 0, true, 0},
        {"a resign without a record: the release says", false, 0, true, false, 0, false, 0},
        {"a resign without a record, expiring", false, 0, true, false, 0, true, defaultExpiryDays},
    };
    for (const Case& c : cases) {
        ReleaseSigning signing = found({State::verified, 5, c.recorded, 5});
        signing.record.expiresDays = c.recordDays;
        signing.current.release.expires = c.currentExpires;
        SigningRequest request;
        request.expiryGiven = c.given;
        request.expiresDays = c.days;
        request.resign = c.resign;
        std::string failure;
        ASSERT_TRUE(settleSigning(request, false, now, signing, failure)) << c.name << ": " << failure;
        EXPECT_EQ(signing.expires, c.expected != 0) << c.name;
        EXPECT_EQ(signing.record.expiresDays, c.expected) << c.name;
        if (c.expected != 0) {
            EXPECT_EQ(signing.expiresAt, now + secondsPerDay * c.expected) << c.name;
        }
    }
}
