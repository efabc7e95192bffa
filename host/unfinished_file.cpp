// The signal handler only unlinks a path prepared in advance and re-raises the signal: both are safe in
// a handler, and the default action that follows gives the exit status a killed process has.
#include "host/unfinished_file.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace {

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int SIGNAL_COUNT = sizeof SIGNALS / sizeof SIGNALS[0];

std::atomic<char const*> guarded{nullptr};
bool guarding = false;
struct sigaction before[SIGNAL_COUNT];

extern "C" void removeGuardedFile(int signal)
{
    if (char const* path = guarded.load())
        unlink(path);
    // The handler was reset on entry (SA_RESETHAND); the signal is held until the handler returns.
    raise(signal);
}

}  // namespace

void guardFile(char const* path)
{
    guarded.store(path);
    guarding = true;
    struct sigaction action {};
    action.sa_handler = removeGuardedFile;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < SIGNAL_COUNT; ++i) {
        sigaction(SIGNALS[i], nullptr, &before[i]);
        if (before[i].sa_handler != SIG_IGN)
            sigaction(SIGNALS[i], &action, nullptr);
    }
}

void unguardFile()
{
    if (!guarding)
        return;
    for (int i = 0; i < SIGNAL_COUNT; ++i)
        sigaction(SIGNALS[i], &before[i], nullptr);
    guarded.store(nullptr);
    guarding = false;
}
