#include "launcher/download/pipelined_files.h"

#include "launcher/download/file_fetch.h"
#include "launcher/download/partial_download.h"
#include "platform/parent_directories.h"
#include "platform/platform.h"

#include <memory>

namespace {

const int ok = 200;
const int partialContent = 206;

unsigned long long lastOfOnlyPiece(const FetchedEntry& entry, unsigned long long pieceBytes)
{
    return entry.signedEntry != nullptr ? entry.signedEntry->size - 1 : pieceBytes - 1;
}

std::unique_ptr<FileFetch> startFetch(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes)
{
    if (!createParentDirectories(entry.localName))
        return nullptr;
    auto fetch = std::make_unique<FileFetch>(transport, entry, pieceBytes, nullptr);
    return fetch->startFromZero() ? std::move(fetch) : nullptr;
}

enum class Settled { placed, unfinished, failed };

// Puts the file in place when its one answer made it whole and verified.
Settled settle(FileFetch& fetch, const FetchedEntry& entry, AnswerEnd end, Transport& transport)
{
    const Fetched fetched = fetch.pieceEnded(end);
    if (fetched == Fetched::whole && !fetch.complete())
        return Settled::unfinished;
    const bool verified = fetched == Fetched::whole && fetch.verified();
    if (verified) {
        const Placed placed = placeVerifiedPartial(entry);
        if (placed == Placed::inPlace)
            return Settled::placed;
        if (placed == Placed::held)
            return Settled::failed;  // the copy keeps its record: its own download puts it in place without a request
    }
    fetch.close();
    discardPartial(entry.localName);
    // The server said it sent the file, and it was not that: a cache mixing pipelined answers, say.
    const int status = fetch.answerStatus();
    if (!verified && (status == ok || status == partialContent) && fetched != Fetched::diskFull)
        transport.askOneAtATime();
    return Settled::failed;
}

}  // namespace

bool fitsOneAnswer(const FetchedEntry& entry, unsigned long long pieceBytes)
{
    platform::FileFacts facts;
    if (platform::fileFacts(partialNameFor(entry.localName), facts))
        return false;
    return entry.signedEntry == nullptr || (entry.signedEntry->size > 0 && entry.signedEntry->size <= pieceBytes);
}

PipelinedFiles downloadPipelined(Transport& transport, const std::vector<FetchedEntry>& entries,
                                 unsigned long long pieceBytes, const std::function<void(std::size_t)>& placed)
{
    PipelinedFiles run;
    if (entries.empty() || !transport.pipelines())
        return run;
    std::vector<Transport::Range> requests;
    for (const FetchedEntry& entry : entries)
        requests.push_back({entry.uri, 0, lastOfOnlyPiece(entry, pieceBytes)});
    std::unique_ptr<FileFetch> fetch;  // of the answer being read
    std::size_t fetching = entries.size();
    bool leading = true;  // every file so far placed
    askSettlingInOrder(
        transport, requests,
        [&](std::size_t i) -> AnswerSink* {
            if (fetching != i || fetch == nullptr) {
                fetch = startFetch(transport, entries[i], pieceBytes);
                fetching = i;
            }
            // Armed again for the same answer when it is asked once more after a close.
            return fetch != nullptr && fetch->armNextPiece().last == requests[i].last ? &fetch->answerSink() : nullptr;
        },
        [&](std::size_t i, AnswerEnd end) {
            const Settled settled = settle(*fetch, entries[i], end, transport);
            const bool goOn = settled == Settled::placed || leading;
            if (settled == Settled::placed && leading) {
                placed(i);
                ++run.placed;
            } else if (settled == Settled::placed) {
                ++run.placedAfter;
            } else if (leading) {
                // The answers already asked for still come, into their own files: cheaper than a new connection.
                run.begun = settled == Settled::unfinished ? std::move(fetch) : nullptr;
                leading = false;
                transport.sendNoMoreRequests();
            } else if (settled == Settled::unfinished) {
                fetch->close();
                discardPartial(entries[i].localName);
            }
            fetch.reset();
            return goOn;
        });
    // A file left when the transport stopped before its answer keeps no partial file either.
    if (fetch != nullptr) {
        fetch->close();
        discardPartial(entries[fetching].localName);
    }
    return run;
}
