// The real rackhost binary as a child process, driven over pipes the way a controller drives it
// (or any other program the tests need running beside it).
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

using namespace std::chrono_literals;

class Program {
public:
    struct Options {
        std::vector<std::string> args = {};
        // "NAME=value" entries that replace or add to the environment of the child.
        std::vector<std::string> env = {};
        // When set, standard output goes to this file instead of a pipe.
        std::string outputFile = {};
        // Another program than rackhost, found on PATH.
        std::string executable = {};
    };

    Program();
    explicit Program(Options options);
    // Kills the child by its PID if it still runs.
    ~Program();
    Program(Program const&) = delete;
    Program& operator=(Program const&) = delete;

    // Raw bytes to standard input; write() adds the line break.
    void type(std::string const& bytes);
    void write(std::string const& line);
    void closeInput();

    // The next line on standard output without its "\n", or "(no line)" when none came in time.
    std::string line(std::chrono::milliseconds timeout = 10s);
    // Sends one command line and returns the next line that isn't an event; events met on the way are
    // kept for events().
    std::string ask(std::string const& command, std::chrono::milliseconds timeout = 10s);
    // Every line that arrives within the period.
    std::vector<std::string> linesDuring(std::chrono::milliseconds period);
    // The events ask() kept, then every line that arrives within the period.
    std::vector<std::string> events(std::chrono::milliseconds period);

    // The exit code, or 128 + the signal; -1 when the child doesn't end in time.
    int exitCode(std::chrono::milliseconds timeout = 10s);
    // Everything written to standard error; call after the child has ended.
    std::string errors();

private:
    bool fill(std::chrono::steady_clock::time_point deadline);

    pid_t pid = -1;
    int input = -1;
    int output = -1;
    int errorOutput = -1;
    std::string pending;
    std::vector<std::string> kept;
    int status = -1;
};

// The path of the binary under test.
std::string programPath();
// Runs "--scan <module>" and returns the first description it prints, as JSON text.
std::string descriptionOf(std::string const& module);
