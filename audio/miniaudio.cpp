// The one place the audio library's implementation is compiled: device backends for the engine,
// file decoders and the WAV encoder for the offline render. Backend libraries are opened at run time.
// A real-time device thread gets a modest priority: above every normal program, below sound servers that
// run their own threads in real time, and within the limits systems commonly grant to audio users.
#define MA_PTHREAD_REALTIME_THREAD_PRIORITY 10
#define MINIAUDIO_IMPLEMENTATION
#include <miniaudio.h>
