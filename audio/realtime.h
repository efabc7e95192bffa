// Whether this process may run the device's thread in real time, and the priority that thread gets.
// The engine asks once; the audio library's implementation takes the priority from here.
#pragma once

// A modest priority: above every normal program, below sound servers that run their own threads in real
// time, and within the limits systems commonly grant to audio users.
inline constexpr int realTimePriority = 10;

// Whether a thread of this process may be scheduled first-in-first-out at realTimePriority. Found out on
// the first call, with a thread of its own, and kept for the life of the process: a device that fails to
// open later says nothing about it. Control thread.
bool realTimeAllowed();
