// The one place the audio library's implementation is compiled: device backends for the engine,
// file decoders and the WAV encoder for the offline render. Backend libraries are opened at run time.
// A real-time device thread gets the priority the engine checked it may use.
#include "audio/realtime.h"
#define MA_PTHREAD_REALTIME_THREAD_PRIORITY realTimePriority
#define MINIAUDIO_IMPLEMENTATION
#include <miniaudio.h>
