// The manifest parser over arbitrary text: what the server sends as "md5sums".
#include "channel/manifest.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Manifest manifest = parseManifest(text);
    for (const auto& entry : manifest.digests) {
        const std::string& path = entry.first;
        const std::string& digest = entry.second;
        FUZZ_CHECK(digest.size() == 32 && digest.find(' ') == std::string::npos);
        // A path runs to its line feed or to the end of the text.
        const bool endsTheText =
            text.size() >= path.size() && text.compare(text.size() - path.size(), path.size(), path) == 0;
        FUZZ_CHECK(text.find(path + "\n") != std::string::npos || endsTheText);
        FUZZ_CHECK(text.find(digest) != std::string::npos);
    }
    FUZZ_CHECK(manifest.entries.size() <= size / 34 + 1);
    FUZZ_CHECK(manifest.digests.size() <= manifest.entries.size());
    // Entries in order, each on a line of the text, and the lines not taken after them.
    std::size_t previousLine = 0;
    for (const ManifestEntry& entry : manifest.entries) {
        FUZZ_CHECK(entry.lineNumber > previousLine && entry.lineNumber <= manifest.lineCount);
        FUZZ_CHECK(manifest.digests.count(entry.path) == 1);
        previousLine = entry.lineNumber;
    }
    FUZZ_CHECK(manifest.refusedFrom == 0 ||
               (manifest.refusedFrom > previousLine && manifest.refusedFrom <= manifest.lineCount));
    const Manifest again = parseManifest(text);
    FUZZ_CHECK(again.digests == manifest.digests);
    return 0;
}
