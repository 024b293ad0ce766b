#include "launcher/update_retrieval.h"

#include "index/file_index.h"
#include "launcher/download.h"
#include "launcher/manifest_path.h"
#include "launcher/own_files.h"
#include "launcher/remote_paths.h"
#include "launcher/self_replacement.h"
#include "launcher/uri_escape.h"

#include <iostream>

namespace {

const char* const doneText = " Done";
const char* const noUpdatesText = "No updates found, starting ORN...";
const char* const updatesFoundText = "Updates found, retrieving updated files:";
const char* const entryPrefix = "* ";
const char* const entrySuffix = "...";
const char* const entryDoneText = " Done.";
const char* const entryFailedText = " Failed.";
const char* const canceledText = "Some updated files failed to be retrieved, canceling launch.";
const char* const launchingText = "Updated files retrieved, patching and launching ORN...";

// True when the file arrived whole and verified and is in place under its local name.
bool downloadEntry(sf::Http& http, const FileIndex& index, const std::string& path, const std::string& localName)
{
    if (!isSafeManifestPath(path))
        return false;
    return downloadFile(http, remoteDir + escapeUriPath(path), index.remoteDigests.at(path), localName);
}

}  // namespace

int retrieveUpdates(sf::Http& http, const std::string& manifestText)
{
    FileIndex index(manifestText);
    index.scanDirectory("libs/");
    index.scanDirectory("");
    const std::vector<std::string> changed = index.changedFiles();

    if (changed.empty()) {
        std::cout << doneText << std::endl << noUpdatesText << std::endl;
        patchAndLaunch(0);
    }

    bool failed = false;
    std::cout << doneText << std::endl << updatesFoundText << std::endl;
    SelfFileFlags flags = 0;

    for (const std::string& path : changed) {
        if (path == lockFileName || path == manifestFileName)
            continue;

        std::string localName = path;
        SelfFileFlags entryBit = 0;
        for (const OwnFile& file : ownFiles) {
            if (path == file.name) {
                entryBit = file.bit;
                localName = file.newName;
                break;
            }
        }

        std::cout << entryPrefix << path << entrySuffix;
        std::cout.flush();

        if (downloadEntry(http, index, path, localName)) {
            flags = static_cast<SelfFileFlags>(flags | entryBit);
            std::cout << entryDoneText << std::endl;
        } else {
            failed = true;
            std::cout << entryFailedText << std::endl;
        }
    }

    if (failed) {
        std::cout << canceledText << std::endl;
        return 1;
    }
    std::cout << launchingText << std::endl << std::endl;
    patchAndLaunch(flags);
}
