#include "publisher/folder/previous_manifest.h"

#include "channel/channel_names.h"
#include "channel/manifest.h"
#include "channel/manifest_path.h"
#include "publisher/folder/channel_files.h"

#include <iterator>
#include <map>

namespace {

const std::size_t shownLineNumbers = 10;

struct UnparsableLines {
    std::size_t count = 0;
    std::set<std::size_t> shown;  // the first ones

    void add(std::size_t first, std::size_t lines)
    {
        count += lines;
        for (std::size_t number = first; number < first + lines; ++number) {
            if (shown.size() == shownLineNumbers && number > *shown.rbegin())
                break;
            shown.insert(number);
            if (shown.size() > shownLineNumbers)
                shown.erase(std::prev(shown.end()));
        }
    }

    std::string warning() const
    {
        std::string numbers;
        for (std::size_t number : shown)
            numbers += (numbers.empty() ? "" : ", ") + std::to_string(number);
        return "the previous " + std::string(channelManifestName) + " has " + std::to_string(count) + " line" +
               (count == 1 ? "" : "s") + " that do" + (count == 1 ? "es" : "") + " not parse (line" +
               (count == 1 ? " " : "s ") + numbers + (count > shown.size() ? ", ..." : "") +
               "): a file listed there may be left in the channel";
    }
};

std::string withoutCarriageReturn(std::string_view path)
{
    if (!path.empty() && path.back() == '\r')
        path.remove_suffix(1);  // a manifest edited into CR LF line ends
    return std::string(path);
}

}  // namespace

std::set<std::string> previouslyListed(const ChannelDirectory& channel, std::vector<std::string>& warnings)
{
    std::string text;
    bool missing = false;
    std::string failure;
    if (!readWholeFile(channel, channelManifestName, channelTextLimitBytes, text, missing, failure)) {
        if (!missing)
            warnings.push_back(failure + ": the files it lists may be left in the channel");
        return {};
    }
    // Of a path listed twice with two digests, launchers took the later line
    // only; only paths that are files of the channel are remembered.
    std::map<std::string, std::string> lastDigest;
    UnparsableLines unparsable;
    const auto file = [&channel](const std::string& path) {
        return isSafeManifestPath(path) && channel.kindOf(path) == ChannelDirectory::Kind::regular;
    };
    const Manifest counts =
        walkManifest(text, [&](std::string_view md5, std::string_view listed, std::size_t number, std::size_t lines) {
            const std::string path = withoutCarriageReturn(listed);
            // An entry run on over several lines is no line we wrote.
            if (lines != 1 || !isSafeManifestPath(path))
                unparsable.add(number, lines);
            else if (lastDigest.count(path) != 0 || file(path))
                lastDigest[path] = std::string(md5);
        });
    walkManifest(text, [&](std::string_view md5, std::string_view listed, std::size_t number, std::size_t lines) {
        const auto found = lines == 1 ? lastDigest.find(withoutCarriageReturn(listed)) : lastDigest.end();
        if (found != lastDigest.end() && found->second != md5)
            unparsable.add(number, 1);
    });
    if (counts.refusedFrom != 0 && counts.refusedFrom <= counts.lineCount)
        unparsable.add(counts.refusedFrom, counts.lineCount - counts.refusedFrom + 1);
    if (unparsable.count != 0)
        warnings.push_back(unparsable.warning());
    std::set<std::string> paths;
    for (const auto& entry : lastDigest)
        paths.insert(entry.first);
    return paths;
}
