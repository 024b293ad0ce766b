#pragma once

#include "channel/own_files.h"
#include "channel/release.h"
#include "index/digest_cache.h"
#include "index/file_index.h"
#include "launcher/console/console.h"
#include "launcher/download/download.h"
#include "launcher/download/pipelined_files.h"
#include "launcher/http/transport.h"
#include "launcher/update_channel.h"
#include "launcher/update_preflight.h"

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// What a signed release says of the files: each one's size and SHA-256 (and
// its chunk index's), and whether the channel keeps them under those names.
struct SignedFiles {
    const Release* release = nullptr;
    std::unordered_map<std::string, ReleaseEntry> entries;
    bool contentAddressed = false;
};
SignedFiles signedFilesOf(const Release* release);

// The downloads of one run, in list order, each file's line on the console:
// runs of files that each come in one answer go pipelined, the others one by
// one (by delta where the release indexes them and an old copy is there).
// A file that another program holds is put in place once it lets go, within
// the wait; after one stays held, later ones get one try. A full disk ends
// the downloads.
class UpdateDownloads {
public:
    UpdateDownloads(const UpdateChannel& channel, Transport& transport, const FileIndex& index,
                    const SignedFiles& signedFiles, DigestCache* digestCache, Console& console,
                    unsigned int heldWaitMilliseconds)
        : channel_(channel), transport_(transport), index_(index), signedFiles_(signedFiles), digestCache_(digestCache),
          console_(console), heldWaitMilliseconds_(heldWaitMilliseconds)
    {
    }

    // False when a file failed; its reason is on the console.
    bool fetch(const std::vector<PlannedDownload>& plan);
    // The launcher's own files now waiting as ".new" copies.
    SelfFileFlags ownFiles() const { return ownFiles_; }

    // At most this many files' requests in one pipelined run, so that a run
    // cut short early costs little to plan again.
    static constexpr std::size_t pipelinedRunFiles = 1024;

private:
    PipelinedFiles fetchPipelined(const std::vector<PlannedDownload>& plan, std::size_t from, std::size_t& asked);
    Downloaded fetchAlone(const PlannedDownload& file, std::unique_ptr<FileFetch> begun);
    void placed(const std::string& path);

    const UpdateChannel& channel_;
    Transport& transport_;
    const FileIndex& index_;
    const SignedFiles& signedFiles_;
    DigestCache* digestCache_;
    Console& console_;
    unsigned int heldWaitMilliseconds_;
    SelfFileFlags ownFiles_ = 0;
};
