// "--render": one plug-in offline over an audio file into a stereo WAV file.
#pragma once

// Returns the exit code: 0 success, 1 a failure while running, 2 bad usage.
int render(int argc, char** argv);
