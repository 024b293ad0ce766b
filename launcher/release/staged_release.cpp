#include "launcher/release/staged_release.h"

#include "channel/content_address.h"
#include "channel/release_check.h"
#include "channel/rollout.h"
#include "digest/sha256.h"
#include "launcher/release/accepted_release.h"
#include "launcher/release/install_id.h"

#include <utility>

namespace {

bool tookStagedBefore(const ReleaseTrust& trust, const Release& current, const Rollout& rollout)
{
    if (trust.acceptedSerial() > current.serial)
        return true;
    std::string manifestText;
    return readAcceptedManifest(trust.channel(), trust.keys(), manifestText) &&
           sha256Hex(manifestText) == rollout.stagedManifestSha256;
}

// The staged release as the current one names it: those very bytes, signed, staged, of this channel.
FetchedRelease fetchStaged(const ReleaseTrust& trust, const std::string& directory, const Release& current,
                           const Rollout& rollout, Transport& transport)
{
    FetchedRelease staged;
    if (rollout.stagedSize >= channelTextLimitBytes)
        return staged;
    staged.fetched = fetchWholeText(transport, directory + objectPathOf(rollout.stagedSha256),
                                    static_cast<std::size_t>(rollout.stagedSize + 1), staged.text);
    staged.verified =
        staged.fetched && staged.text.size() == rollout.stagedSize && sha256Hex(staged.text) == rollout.stagedSha256 &&
        readSignedRelease(staged.text, trust.keys(), staged.release) && staged.release.staged &&
        staged.release.channel == current.channel && staged.release.manifestSha256 == rollout.stagedManifestSha256;
    return staged;
}

std::string placeText(const std::string& id)
{
    return sharePercentText(installIdPlace(id));
}

}  // namespace

ReleaseChoice chooseRelease(const ReleaseTrust& trust, const std::string& directory, FetchedRelease current,
                            Transport& transport)
{
    Rollout rollout;
    if (!current.verified || !rolloutOf(current.release, rollout))
        return {std::move(current), std::string()};
    const unsigned long share = rolloutShareAt(rollout, trust.now());
    const InstallId id = installIdOfGameDirectory();
    const bool inGroup = isInRolloutGroup(id.id, share);
    const bool tookBefore = tookStagedBefore(trust, current.release, rollout);
    std::string note =
        "rollout: serial " + std::to_string(current.release.serial) + " stages a release to " +
        sharePercentText(share) + " of game directories; this one's install id" +
        (id.madeNow ? (id.kept ? " (made now)" : " (made now, not kept: the folder is not writable)") : "") +
        " places it at " + placeText(id.id) + (inGroup ? ": in the group" : ": outside the group");
    if (!inGroup && !tookBefore)
        return {std::move(current), note + ": keeping the current release"};
    note += tookBefore ? ", and it took the staged release before" : "";
    FetchedRelease staged = fetchStaged(trust, directory, current.release, rollout, transport);
    if (staged.verified) {
        const std::string taking =
            note + ": taking the staged release, serial " + std::to_string(staged.release.serial);
        if (tookBefore)
            return {std::move(staged), taking};
        // Until it took the staged release, the current one stands behind it.
        return {std::move(staged), taking, std::move(current)};
    }
    if (trust.acceptedSerial() > current.release.serial)
        return {std::move(current), note + ": the staged release served does not hold: the current one is older "
                                           "than the one accepted"};
    if (tookBefore) {
        // Never back to the current release: the installed one plays, as against an older release.
        current.installedIsNewer = true;
        return {std::move(current), note + ": the staged release served does not hold"};
    }
    return {std::move(current), note + ": the staged release served does not hold: keeping the current release"};
}
