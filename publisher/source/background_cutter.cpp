#include "publisher/source/background_cutter.h"

BackgroundCutter::BackgroundCutter(const ChunkParameters& parameters)
    : cutter_(parameters, true), md5_(false), thread_(&BackgroundCutter::run, this)
{
}

BackgroundCutter::~BackgroundCutter()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void BackgroundCutter::start(const unsigned char* data, std::size_t size)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        data_ = data;
        size_ = size;
        busy_ = true;
    }
    changed_.notify_all();
}

void BackgroundCutter::wait()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
}

std::vector<Chunk> BackgroundCutter::finish()
{
    cutter_.finish(chunks_);
    return std::move(chunks_);
}

void BackgroundCutter::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || stopping_; });
        if (stopping_)
            return;
        // The caller waits for this piece before it touches the cutter or the piece again.
        lock.unlock();
        md5_.add(reinterpret_cast<const char*>(data_), size_);
        cutter_.add(data_, size_, chunks_);
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}
