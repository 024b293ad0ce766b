#include "publisher/source/background_cutter.h"

#include <utility>

BackgroundCutter::BackgroundCutter(const ChunkParameters& parameters)
    : cutter_(parameters, true), md5_(false), work_([this](const char* data, std::size_t size) {
          md5_.add(data, size);
          cutter_.add(reinterpret_cast<const unsigned char*>(data), size, chunks_);
      })
{
}

std::string BackgroundCutter::md5Hex()
{
    work_.finish();
    return md5_.md5Hex();
}

std::vector<Chunk> BackgroundCutter::finish()
{
    work_.finish();
    cutter_.finish(chunks_);
    return std::move(chunks_);
}
