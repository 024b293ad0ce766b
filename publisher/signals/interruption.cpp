#include "publisher/signals/interruption.h"

#include <signal.h>

#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t interrupted = 0;
bool finishing = false;

void noteSignal(int signal)
{
    interrupted = signal;
}

}  // namespace

void watchInterruptions()
{
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read waiting on a slow disk returns at once
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

int interruptingSignal()
{
    return finishing ? 0 : interrupted;
}

void finishRegardless()
{
    finishing = true;
}

int signalWhileFinishing()
{
    return finishing ? interrupted : 0;
}

const char* signalName(int signal)
{
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}
