#include "digest/background_digest.h"

#include <utility>

BackgroundDigest::BackgroundDigest(std::unique_ptr<RunningDigest> digest)
    : digest_(std::move(digest)), work_([this](const char* data, std::size_t size) { digest_->update(data, size); })
{
}

std::string BackgroundDigest::hexDigest()
{
    work_.finish();
    return digest_->hexDigest();
}
