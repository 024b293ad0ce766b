#pragma once

#include "channel/release.h"

#include <string>
#include <vector>

// What one run trusts, settled once at its start, as a signed release is
// judged against it: the keys the launcher was built with, the channel, the
// serial this game directory accepted for it, and the clock as it read when
// the run began. Every question the run asks about trust is answered here.
class ReleaseTrust {
public:
    // `keyText`: "KEYID:BASE64" keys separated by ';', as built in; empty: this
    // launcher runs unsigned channels. Reads the accepted serials once, and
    // only then: an unsigned run keeps no serials.
    ReleaseTrust(const std::string& keyText, std::string channel, long long now);

    // True when the launcher was built with keys: it then runs only what a
    // signed release of its channel vouches for.
    bool signedReleasesRequired() const { return required_; }
    // Empty when a key cannot be read, so that no release verifies.
    const std::vector<ReleaseKey>& keys() const { return keys_; }
    const std::string& channel() const { return channel_; }
    long long now() const { return now_; }
    unsigned long long acceptedSerial() const { return acceptedSerial_; }

private:
    bool required_;
    std::vector<ReleaseKey> keys_;
    std::string channel_;
    long long now_;
    unsigned long long acceptedSerial_;
};
