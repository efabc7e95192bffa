// Spawning rackhost with pipes on its standard streams, reading its lines with a time limit.
#include "program.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr char NO_LINE[] = "(no line)";

void checked(bool ok, char const* what)
{
    if (!ok)
        throw std::runtime_error(std::string("Couldn't ") + what + " for the program under test.");
}

int remainingMs(Clock::time_point deadline)
{
    auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Whether `entry` ("NAME=value") names a variable that one of `overrides` sets.
bool replaced(std::string const& entry, std::vector<std::string> const& overrides)
{
    std::string const name = entry.substr(0, entry.find('=') + 1);
    for (std::string const& override : overrides)
        if (override.rfind(name, 0) == 0)
            return true;
    return false;
}

}  // namespace

std::string programPath()
{
    return RACKHOST_BINARY;
}

Program::Program() : Program(Options{}) {}

Program::Program(Options options)
{
    int in[2], out[2], err[2];
    checked(pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0, "make pipes");
    // A controller that went away must not kill the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> args{options.executable.empty() ? programPath() : options.executable};
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** entry = environ; *entry; ++entry)
        if (!replaced(*entry, options.env))
            envp.push_back(*entry);
    for (std::string& entry : options.env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid = fork();
    checked(pid >= 0, "fork");
    if (pid == 0) {
        int stdoutFd = out[1];
        if (!options.outputFile.empty())
            stdoutFd = open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (dup2(in[0], 0) < 0 || dup2(stdoutFd, 1) < 0 || dup2(err[1], 2) < 0)
            _exit(127);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    input = in[1];
    output = out[0];
    errorOutput = err[0];
}

Program::~Program()
{
    if (input >= 0)
        close(input);
    if (status < 0 && pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(output);
    close(errorOutput);
}

void Program::type(std::string const& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t const n = ::write(input, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        checked(n > 0, "write to standard input");
        done += static_cast<std::size_t>(n);
    }
}

void Program::write(std::string const& line)
{
    type(line + "\n");
}

void Program::closeInput()
{
    close(input);
    input = -1;
}

bool Program::fill(Clock::time_point deadline)
{
    pollfd ready{output, POLLIN, 0};
    if (poll(&ready, 1, remainingMs(deadline)) <= 0)
        return false;
    char buffer[65536];
    ssize_t const n = read(output, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    pending.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::string Program::line(std::chrono::milliseconds timeout)
{
    auto const deadline = Clock::now() + timeout;
    for (;;) {
        std::size_t const end = pending.find('\n');
        if (end != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return line;
        }
        if (!fill(deadline))
            return NO_LINE;
    }
}

std::string Program::ask(std::string const& command, std::chrono::milliseconds timeout)
{
    write(command);
    auto const deadline = Clock::now() + timeout;
    for (;;) {
        std::string next = line(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        if (next.rfind(R"({"event":)", 0) != 0)
            return next;
        kept.push_back(std::move(next));
    }
}

std::vector<std::string> Program::linesDuring(std::chrono::milliseconds period)
{
    auto const deadline = Clock::now() + period;
    std::vector<std::string> lines;
    for (;;) {
        std::string next = line(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        if (next == NO_LINE)
            return lines;
        lines.push_back(std::move(next));
    }
}

std::vector<std::string> Program::events(std::chrono::milliseconds period)
{
    std::vector<std::string> lines = std::move(kept);
    kept.clear();
    for (std::string& next : linesDuring(period))
        lines.push_back(std::move(next));
    return lines;
}

int Program::exitCode(std::chrono::milliseconds timeout)
{
    auto const deadline = Clock::now() + timeout;
    while (status < 0) {
        int raw = 0;
        pid_t const done = waitpid(pid, &raw, WNOHANG);
        if (done == pid) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            break;
        }
        if (Clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(5ms);
    }
    return status;
}

std::string Program::errors()
{
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(errorOutput, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

std::string descriptionOf(std::string const& module)
{
    Program scan({.args = {"--scan", module}});
    nlohmann::json const found = nlohmann::json::parse(scan.line());
    return found.at("plugins").at(0).dump();
}
