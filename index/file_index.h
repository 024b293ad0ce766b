#pragma once

#include "channel/manifest.h"

#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The run's picture of one update: the digests the server's manifest lists,
// the digests of the local files it names, and from both the paths to fetch.
class FileIndex {
public:
    // The manifest's digests become the remote side; its entries are not kept.
    explicit FileIndex(Manifest manifest) : remoteDigests(std::move(manifest.digests)) {}
    explicit FileIndex(const std::string& manifestText) : FileIndex(parseManifest(manifestText)) {}

    // Gives a listed file's digest without reading it, when it can.
    using KnownDigest = std::function<bool(const std::string& path, std::string& digest)>;

    // Hashes each listed file directly inside the PhysFS directory that the
    // prefix names ("libs/" or "" for the top level); never descends further.
    // A file whose digest `knownDigest` gives is not read.
    void scanDirectory(const std::string& prefix, const KnownDigest& knownDigest = nullptr);

    // Paths whose local copy is missing, unscanned or differs from the manifest.
    std::vector<std::string> changedFiles() const;

    std::unordered_map<std::string, std::string> remoteDigests;
    std::unordered_map<std::string, std::string> localDigests;
};
