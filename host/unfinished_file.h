// A file that SIGINT, SIGTERM and SIGHUP remove before they end the process, so that a stopped render
// leaves nothing half-written behind.
#pragma once

#include <csignal>

// Holds SIGINT, SIGTERM and SIGHUP back for its lifetime, so that none ends the process between a
// file's creation and guardFile(); a signal that came meanwhile acts when the hold ends.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(SignalsHeld const&) = delete;
    SignalsHeld& operator=(SignalsHeld const&) = delete;

private:
    sigset_t before;
};

// Guards the file at `path`, which must stay unchanged in memory until unguardFile(). One file at a time.
// A signal the process ignores (as under nohup) stays ignored.
void guardFile(char const* path);
// The signals act as they did before guardFile().
void unguardFile();
