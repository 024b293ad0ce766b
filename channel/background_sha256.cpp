#include "channel/background_sha256.h"

#include <algorithm>

namespace {

const std::size_t blockBytes = 1u << 20;
const std::size_t mostQueued = 4;

}  // namespace

BackgroundSha256::~BackgroundSha256()
{
    if (worker_.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(shared_->mutex);
            shared_->ending = true;
        }
        shared_->changed.notify_all();
        worker_.join();
    }
}

void BackgroundSha256::update(const char* data, std::size_t size)
{
    while (size > 0) {
        if (filling_.capacity() < blockBytes)
            filling_.reserve(blockBytes);
        const std::size_t taken = std::min(size, blockBytes - filling_.size());
        filling_.insert(filling_.end(), data, data + taken);
        data += taken;
        size -= taken;
        if (filling_.size() == blockBytes)
            handOver();
    }
}

std::string BackgroundSha256::hexDigest()
{
    if (!worker_.joinable()) {
        // Less than a block: not worth a thread.
        shared_->sha.update(filling_.data(), filling_.size());
        return shared_->sha.hexDigest();
    }
    handOver();
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->ending = true;
    }
    shared_->changed.notify_all();
    worker_.join();
    return shared_->sha.hexDigest();
}

void BackgroundSha256::handOver()
{
    if (!worker_.joinable())
        worker_ = std::thread(hashQueued, std::ref(*shared_));
    std::vector<char> next;
    {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        shared_->changed.wait(lock, [this] { return shared_->queued.size() < mostQueued; });
        shared_->queued.push_back(std::move(filling_));
        if (!shared_->spare.empty()) {
            next = std::move(shared_->spare.back());
            shared_->spare.pop_back();
        }
    }
    shared_->changed.notify_all();
    next.clear();
    filling_ = std::move(next);
}

void BackgroundSha256::hashQueued(Shared& shared)
{
    std::unique_lock<std::mutex> lock(shared.mutex);
    for (;;) {
        shared.changed.wait(lock, [&shared] { return !shared.queued.empty() || shared.ending; });
        if (shared.queued.empty())
            return;
        std::vector<char> block = std::move(shared.queued.front());
        shared.queued.pop_front();
        lock.unlock();
        shared.sha.update(block.data(), block.size());
        lock.lock();
        shared.spare.push_back(std::move(block));
        shared.changed.notify_all();
    }
}
