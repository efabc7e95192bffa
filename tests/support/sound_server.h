// A private PulseAudio server for tests that stop, kill or reconfigure a server of their own, and the
// device names of the shared server that scripts/with-sound-server.sh runs the tests under.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct NullSink {
    std::string name;
    std::string description;  // what the audio library lists it as
};

struct NullSource {
    std::string name;
    std::string description;
    int channels = 2;
};

class SoundServer {
public:
    // Starts the server in a fresh folder and waits until it answers; throws std::runtime_error if it doesn't.
    SoundServer(std::vector<NullSink> const& sinks, std::vector<NullSource> const& sources);
    // Stops the server (if still running) by its PID and removes its folder.
    ~SoundServer();
    SoundServer(SoundServer const&) = delete;
    SoundServer& operator=(SoundServer const&) = delete;

    // The value of PULSE_SERVER that reaches this server.
    std::string const& address() const { return serverAddress; }
    // Runs pactl with these arguments against this server: what it printed, or nothing when it failed.
    std::optional<std::string> pactl(std::vector<std::string> const& arguments) const;
    // What program `pid` holds, in words: its clients on this server, the server's playback and record
    // streams (the program's alone, on a test's own server) and its open file descriptors.
    std::string holdings(pid_t pid) const;
    // Kills the server without warning, as a crash would, and waits for it to end.
    void kill();
    // After kill(): starts a new server with the same devices at the same address, as a restart would.
    void start();

private:
    void end(int signal);

    std::string folder;
    std::string serverAddress;
    pid_t server = -1;
};

// The shared server's devices, as the audio library lists them.
namespace sharedserver {
inline char const* const mainOutput = "Main Output";
inline char const* const headphones = "Headphones (USB Test)";
inline char const* const lineIn = "Line In 1-4";  // 4 channels
inline char const* const microphone = "USB Microphone";  // 1 channel
inline char const* const mainMonitor = "Monitor of Main Output";
inline char const* const headphonesMonitor = "Monitor of Headphones (USB Test)";

// Whether the tests run under the shared server (PULSE_SERVER is set).
bool expected();
}  // namespace sharedserver
