#include "launcher/server_handshake.h"

#include "channel/channel_names.h"
#include "launcher/http/text_answer.h"
#include "platform/platform.h"

namespace {

const int ok = 200;
const int notFound = 404;
// The lock's text is only shown: its first few KiB are all a player needs.
const std::size_t lockTextLimitBytes = 4 * 1024;

// Where the player's proxy failed the request, it is named: a setting of the player's to look at.
void tellNoConnection(const Transport& transport, Console& console)
{
    const ProxyTrouble trouble = transport.proxyTrouble();
    if (trouble.kind == ProxyTrouble::none)
        console.noConnection();
    else
        console.proxyFailed(trouble.kind == ProxyTrouble::asksForPassword ? ProxyFailure::asksForPassword
                                                                          : ProxyFailure::unreachable,
                            trouble.proxy);
}

}  // namespace

bool waitWhileLocked(const UpdateChannel& channel, unsigned int pollMilliseconds, Transport& transport,
                     Console& console)
{
    bool firstLock = true;
    for (;;) {
        TextAnswer lock(lockTextLimitBytes);
        // A lock whose answer broke off or stalled says nothing: the server is not reachable.
        const bool answered = transport.get(channel.directory + channel.lockFile, {}, lock) != AnswerEnd::failed;
        if (answered && lock.head.status == notFound)
            break;
        if (!answered || lock.head.status != ok) {
            tellNoConnection(transport, console);
            return false;
        }
        if (firstLock)
            console.lockedSince(lock.body);
        firstLock = false;
        platform::pauseMilliseconds(pollMilliseconds);
    }
    return true;
}

bool fetchManifestText(Transport& transport, const std::string& uri, std::size_t limit, std::string& manifestText)
{
    // A cut or endless manifest would leave files stale, or say there is no update at all. Under a
    // signed size, a longer answer is read one byte past it: its digest then shows it is not the signed one.
    TextAnswer answer(limit);
    const AnswerEnd end = transport.get(uri, {}, answer);
    const bool pastSignedSize = end == AnswerEnd::stopped && answer.overflowed && limit < channelTextLimitBytes;
    manifestText.swap(answer.body);
    return answer.head.status == ok && (end == AnswerEnd::complete || pastSignedSize);
}

bool fetchManifest(Transport& transport, Console& console, const std::string& uri, std::size_t limit,
                   std::string& manifestText)
{
    bool fetched = fetchManifestText(transport, uri, limit, manifestText);
    // A mirror that has no whole manifest yet (or a broken one): the next one is asked.
    for (std::size_t tried = 1; !fetched && tried < transport.serverCount(); ++tried) {
        transport.passOver();
        fetched = fetchManifestText(transport, uri, limit, manifestText);
    }
    return tellServerAnswered(console, fetched);
}

bool tellServerAnswered(Console& console, bool fetched)
{
    console.connected();
    console.checking();
    if (!fetched) {
        console.serverTrouble();
        return false;
    }
    return true;
}
