// "--render": one plug-in offline over an audio file into a 32-bit float stereo WAV file.
#include "host/render.h"

#include <cstdio>

int render(int argc, char**)
{
    if (argc < 5) {
        std::fputs("--render <plugin json> <in.wav> <out.wav> [--state <file>] [--save-state <file>]\n", stderr);
        return 2;
    }
    return 1;
}
