#pragma once

// SIGINT, SIGTERM and SIGHUP during a publish: the run is not killed
// midway, with a temporary file left and the lock up for nobody knows how
// long, but told; the work in progress stops at its next piece and takes
// the way of a failure, which cleans up and says what was done.
void watchInterruptions();

// The signal that interrupted the run; 0 when none has, or once the run
// chose to finish regardless.
int interruptingSignal();

// From here on the run is finished, not stopped: past the point where
// stopping would leave the channel whole, finishing is quicker than anything
// a rerun could do. Gives the signal that came meanwhile, if one did, later.
void finishRegardless();
int signalWhileFinishing();

// "SIGINT" and so on, for messages.
const char* signalName(int signal);
