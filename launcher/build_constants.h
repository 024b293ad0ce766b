#pragma once

// Chosen when the launcher is built (CMake cache variables LAUNCHER_SERVER_HOST,
// LAUNCHER_SERVER_PORT and LAUNCHER_LOCK_POLL_MS).
extern const char* const buildServerHost;
extern const unsigned short buildServerPort;  // 0: the HTTP default, port 80
extern const unsigned int buildLockPollMilliseconds;
