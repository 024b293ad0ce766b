#pragma once

#include "digest/background_work.h"

#include <cstddef>
#include <memory>
#include <string>

// A digest being taken of a run of bytes fed piece by piece.
class RunningDigest {
public:
    virtual ~RunningDigest() = default;
    virtual void update(const char* data, std::size_t size) = 0;
    // Lowercase hex; the object is spent afterwards.
    virtual std::string hexDigest() = 0;
};

// A digest taken in the background (the MD5 and SHA-256 of a download, a
// delta or a signed publish each take longer than reading the bytes).
class BackgroundDigest {
public:
    explicit BackgroundDigest(std::unique_ptr<RunningDigest> digest);

    void update(const char* data, std::size_t size) { work_.add(data, size); }
    // Lowercase hex; the object is spent afterwards.
    std::string hexDigest();

private:
    std::unique_ptr<RunningDigest> digest_;
    BackgroundWork work_;  // last: it feeds digest_ until it ends
};
