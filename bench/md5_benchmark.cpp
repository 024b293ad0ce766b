// md5Hex throughput beside OpenSSL's MD5 on the same inputs, in the same
// run; and libsodium's SHA-256, which a signed release adds to every download.
#include "digest/sha256.h"
#include "digest/md5.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <string>
#include <utility>

namespace {

std::string input(std::size_t length)
{
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(i * 131 + 7);
    return bytes;
}

void launcherMd5Hex(benchmark::State& state)
{
    const std::string bytes = input(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(md5Hex(bytes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// md5Hex takes its argument by value: a caller that moves the string in
// pays no copy. The copy is made outside the timed region.
void launcherMd5HexMovedIn(benchmark::State& state)
{
    const std::string bytes = input(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        std::string argument = bytes;
        state.ResumeTiming();
        benchmark::DoNotOptimize(md5Hex(std::move(argument)));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The same digest without md5Hex's by-value copy of its argument.
void launcherMd5Object(benchmark::State& state)
{
    const std::string bytes = input(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        Md5 md5;
        md5.update(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        benchmark::DoNotOptimize(md5.finalize().hexDigest());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void opensslMd5(benchmark::State& state)
{
    const std::string bytes = input(static_cast<std::size_t>(state.range(0)));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// range(1): 0 the portable path, 1 the fastest this processor has.
void releaseSha256(benchmark::State& state)
{
    const std::string bytes = input(static_cast<std::size_t>(state.range(0)));
    const Sha256::Path path = state.range(1) == 0 ? Sha256::Path::portable : Sha256::Path::fastest;
    for (auto _ : state) {
        Sha256 sha(path);
        sha.update(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(sha.hexDigest());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void opensslSha256(benchmark::State& state)
{
    const std::string bytes = input(static_cast<std::size_t>(state.range(0)));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(releaseSha256)->Args({1 << 20, 0})->Args({1 << 20, 1});
BENCHMARK(opensslSha256)->Arg(1 << 20);
BENCHMARK(launcherMd5Hex)->Arg(64)->Arg(4 << 10)->Arg(1 << 20);
// Pausing the timer costs about a microsecond, so only the large input is meaningful here.
BENCHMARK(launcherMd5HexMovedIn)->Arg(1 << 20);
BENCHMARK(launcherMd5Object)->Arg(64)->Arg(4 << 10)->Arg(1 << 20);
BENCHMARK(opensslMd5)->Arg(64)->Arg(4 << 10)->Arg(1 << 20);
BENCHMARK_MAIN();
