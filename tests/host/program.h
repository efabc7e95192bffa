// The real rackhost binary (or another program the tests need beside it) as a child process, driven over
// pipes the way a controller drives it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

using namespace std::chrono_literals;

// How long a reply, a line or an exit may take. Only a failing test waits this long, so it is generous,
// the more so under sanitizers, which slow the program and the sound libraries it loads.
inline constexpr std::chrono::seconds replyTimeout{RACKHOST_REPLY_SECONDS};

class Program {
public:
    // Runs rackhost, or another program found on PATH, with these arguments.
    explicit Program(std::vector<std::string> args = {}, std::string const& executable = RACKHOST_BINARY);
    // Kills the child by its PID if it still runs.
    ~Program();
    Program(Program const&) = delete;
    Program& operator=(Program const&) = delete;

    // Raw bytes to standard input; write() adds the line break.
    void type(std::string const& bytes);
    void write(std::string const& line) { type(line + "\n"); }
    void closeInput();

    // The next line on standard output without its "\n", or "(no line)" when none came in time.
    std::string line(std::chrono::milliseconds timeout = replyTimeout);
    // Sends one command line and returns its reply, the next line that isn't an event; events met on the
    // way are kept for events(). Replies come in command order, so one that comes after its ask() gave up
    // is skipped by the next ask(), never taken for the next command's.
    std::string ask(std::string const& command, std::chrono::milliseconds timeout = replyTimeout);
    // The events ask() kept, then every line that arrives within the period.
    std::vector<std::string> events(std::chrono::milliseconds period);

    // The exit code, or 128 + the signal; -1 when the child doesn't end in time.
    int exitCode(std::chrono::milliseconds timeout = replyTimeout);
    // Everything written to standard error; call after the child has ended.
    std::string errors();
    pid_t processId() const { return pid; }
    // The most memory the child has held resident so far, in kB; -1 when that can't be read.
    long peakResidentKb() const;

private:
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    int errorOutput = -1;
    std::string pending;
    std::vector<std::string> kept;
    int unanswered = 0;  // commands whose ask() gave up before their reply came
    int status = -1;
};

inline constexpr char READY[] = R"({"event":"ready"})";

// The program in host mode, past its first line, which must be READY.
struct Started : Program {
    Started() { EXPECT_EQ(line(), READY); }

    // "play" with id 2 from `input` to `output`; `more` is added as further members.
    std::string play(std::string const& input, std::string const& output, std::string const& more = "")
    {
        return ask(R"({"cmd":"play","id":2,"input":")" + input + R"(","output":")" + output + "\"" + more + "}");
    }
};

// The reply to command `id` (JSON text) that succeeded without a result.
std::string ok(std::string const& id);
// Whether `reply` answers command `id` with a slot's state.
bool isState(std::string const& reply, int id);
// Runs "--scan <module>" and returns the description of its class `name` (the first when empty) as JSON
// text; "{}" when there is no such class.
std::string descriptionOf(std::string const& module, std::string const& name = "");
// A slot list of one slot "a" holding the described plug-in; `more` is added as further members.
std::string slotList(std::string const& description, std::string const& more = "");
