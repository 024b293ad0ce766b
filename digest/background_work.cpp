#include "digest/background_work.h"

#include <algorithm>
#include <utility>

#if defined(_WIN32) && !defined(_WIN64)
#include <cpuid.h>

#include <cstring>
#endif

namespace {

const std::size_t blockBytes = 512u << 10;
const std::size_t mostQueued = 4;

#if defined(_WIN32) && !defined(_WIN64)
// Wine's 32-bit loader run by qemu-i386 (on machines whose kernel runs no
// 32-bit code) crashes or hangs once a program runs two threads, a minimal
// one too, with winpthreads and with the Win32 API alike; on a real CPU the
// same programs run soundly. That emulator names its CPU so.
bool threadsAreSoundHere()
{
    unsigned brand[12] = {};
    unsigned highest = 0, unused = 0;
    if (__get_cpuid(0x80000000u, &highest, &unused, &unused, &unused) == 0 || highest < 0x80000004u)
        return true;
    for (unsigned i = 0; i < 3; ++i)
        __get_cpuid(0x80000002u + i, &brand[4 * i], &brand[4 * i + 1], &brand[4 * i + 2], &brand[4 * i + 3]);
    const char emulated[] = "QEMU TCG CPU";
    return std::memcmp(brand, emulated, sizeof emulated - 1) != 0;
}
#else
bool threadsAreSoundHere()
{
    return true;
}
#endif

const bool onAThreadOfItsOwn = threadsAreSoundHere();

}  // namespace

bool threadsAreSound()
{
    return onAThreadOfItsOwn;
}

BackgroundWork::BackgroundWork(Consumer consume) : shared_(std::make_unique<Shared>())
{
    shared_->consume = std::move(consume);
}

BackgroundWork::~BackgroundWork()
{
    stopWorker();
}

void BackgroundWork::add(const char* data, std::size_t size)
{
    if (!onAThreadOfItsOwn) {
        shared_->consume(data, size);
        return;
    }
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

void BackgroundWork::finish()
{
    if (!worker_.joinable()) {
        // Less than a block: not worth a thread.
        if (!filling_.empty())
            shared_->consume(filling_.data(), filling_.size());
        filling_.clear();
        return;
    }
    if (!filling_.empty())
        handOver();
    stopWorker();
}

void BackgroundWork::stopWorker()
{
    if (!worker_.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->ending = true;
    }
    shared_->changed.notify_all();
    worker_.join();
    shared_->ending = false;
}

void BackgroundWork::handOver()
{
    if (!worker_.joinable())
        worker_ = std::thread(consumeQueued, std::ref(*shared_));
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

void BackgroundWork::consumeQueued(Shared& shared)
{
    std::unique_lock<std::mutex> lock(shared.mutex);
    for (;;) {
        shared.changed.wait(lock, [&shared] { return !shared.queued.empty() || shared.ending; });
        if (shared.queued.empty())
            return;
        std::vector<char> block = std::move(shared.queued.front());
        shared.queued.pop_front();
        lock.unlock();
        shared.consume(block.data(), block.size());
        lock.lock();
        shared.spare.push_back(std::move(block));
        shared.changed.notify_all();
    }
}
