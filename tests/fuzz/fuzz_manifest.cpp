// The manifest parser over arbitrary text: what the server sends as "md5sums".
#include "index/file_index.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const FileIndex index(text);
    for (const auto& entry : index.remoteDigests) {
        const std::string& path = entry.first;
        const std::string& digest = entry.second;
        FUZZ_CHECK(digest.size() == 32 && digest.find(' ') == std::string::npos);
        // A path runs to its line feed or to the end of the text.
        const bool endsTheText = text.size() >= path.size() && text.compare(text.size() - path.size(), path.size(), path) == 0;
        FUZZ_CHECK(text.find(path + "\n") != std::string::npos || endsTheText);
        FUZZ_CHECK(text.find(digest) != std::string::npos);
    }
    FUZZ_CHECK(index.localDigests.empty());
    FUZZ_CHECK(index.remoteDigests.size() <= size / 34 + 1);
    const FileIndex again(text);
    FUZZ_CHECK(again.remoteDigests == index.remoteDigests);
    return 0;
}
