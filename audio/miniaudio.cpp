// The one place the audio library's implementation is compiled: device backends for the engine,
// file decoders and the WAV encoder for the offline render. Backend libraries are opened at run time.
#define MINIAUDIO_IMPLEMENTATION
#include <miniaudio.h>
