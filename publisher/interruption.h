#pragma once

// SIGINT, SIGTERM and SIGHUP during a publish: the run is not killed
// midway, with a temporary file left and the lock up for nobody knows how
// long, but told; the work in progress stops at its next piece and takes
// the way of a failure, which cleans up and says what was done.
void watchInterruptions();

// The signal that interrupted the run; 0 when none has.
int interruptingSignal();

// "SIGINT" and so on, for messages.
const char* signalName(int signal);
