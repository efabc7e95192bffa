// A file that SIGINT, SIGTERM and SIGHUP remove before they end the process, so that a stopped render
// leaves nothing half-written behind.
#pragma once

// Guards the file at `path`, best from before it is made: a signal may reach any thread at any moment.
// `path` must stay at its place in memory until unguardFile(). One file at a time.
// A signal the process ignores (as under nohup) stays ignored.
void guardFile(char const* path);
// The signals act as they did before guardFile().
void unguardFile();
