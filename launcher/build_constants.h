#pragma once

// Chosen when the launcher is built (CMake cache variables LAUNCHER_SERVER_HOST,
// LAUNCHER_SERVER_PORT, LAUNCHER_LOCK_POLL_MS, LAUNCHER_REQUEST_WINDOW_MS,
// LAUNCHER_RELEASE_KEYS and LAUNCHER_DIGEST_CACHE).
extern const char* const buildServerHost;
extern const unsigned short buildServerPort;  // 0: the HTTP default, port 80
extern const unsigned int buildLockPollMilliseconds;
// The window of the request floor (see requestFloor); test builds shorten it.
extern const unsigned int buildRequestWindowMilliseconds;
// Ed25519 public keys "KEYID:BASE64" separated by ';'; empty: releases are not signed.
extern const char* const buildReleaseKeys;
// Whether unchanged files take their remembered digest instead of being read.
extern const bool buildDigestCache;
// Whether a staged rollout's release is taken where the share holds; off
// only in a test build that stands for the launchers already in players'
// hands, which know nothing of rollouts.
extern const bool buildStagedRollouts;
