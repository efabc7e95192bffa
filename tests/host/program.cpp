// Spawning a program with pipes on its standard streams, and reading its lines with a time limit.
#include "program.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

void checked(bool ok, char const* what)
{
    if (!ok)
        throw std::runtime_error(std::string("Couldn't ") + what + " for the program under test.");
}

std::chrono::milliseconds until(Clock::time_point deadline)
{
    return std::max(0ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

}  // namespace

Program::Program(std::vector<std::string> args, std::string const& executable)
{
    int in[2], out[2], err[2];
    checked(pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0, "make pipes");
    // A program that went away must not kill the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    args.insert(args.begin(), executable);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid = fork();
    checked(pid >= 0, "fork");
    if (pid == 0) {
        if (dup2(in[0], 0) >= 0 && dup2(out[1], 1) >= 0 && dup2(err[1], 2) >= 0)
            execvp(argv[0], argv.data());
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
    closeInput();
    if (status < 0 && pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(output);
    close(errorOutput);
}

void Program::type(std::string const& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t const n = ::write(input, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        checked(n > 0, "write to standard input");
        done += static_cast<std::size_t>(n);
    }
}

void Program::closeInput()
{
    if (input >= 0)
        close(input);
    input = -1;
}

std::string Program::line(std::chrono::milliseconds timeout)
{
    auto const deadline = Clock::now() + timeout;
    std::size_t end;
    while ((end = pending.find('\n')) == std::string::npos) {
        pollfd ready{output, POLLIN, 0};
        char buffer[65536];
        ssize_t n = 0;
        if (poll(&ready, 1, static_cast<int>(until(deadline).count())) <= 0 ||
            (n = read(output, buffer, sizeof buffer)) <= 0)
            return "(no line)";
        pending.append(buffer, static_cast<std::size_t>(n));
    }
    std::string const found = pending.substr(0, end);
    pending.erase(0, end + 1);
    return found;
}

std::string Program::ask(std::string const& command, std::chrono::milliseconds timeout)
{
    write(command);
    auto const deadline = Clock::now() + timeout;
    for (;;) {
        std::string next = line(until(deadline));
        if (next.starts_with(R"({"event":)")) {
            kept.push_back(next);
        } else if (next == "(no line)") {
            ++unanswered;
            return next;
        } else if (unanswered == 0) {
            return next;
        } else {
            --unanswered;
        }
    }
}

std::vector<std::string> Program::events(std::chrono::milliseconds period)
{
    auto const deadline = Clock::now() + period;
    std::vector<std::string> lines = std::exchange(kept, {});
    for (std::string next; (next = line(until(deadline))) != "(no line)";)
        lines.push_back(next);
    return lines;
}

int Program::exitCode(std::chrono::milliseconds timeout)
{
    auto const deadline = Clock::now() + timeout;
    int raw = 0;
    while (status < 0) {
        if (waitpid(pid, &raw, WNOHANG) == pid)
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        else if (Clock::now() >= deadline)
            return -1;
        else
            std::this_thread::sleep_for(5ms);
    }
    return status;
}

std::string Program::errors()
{
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(errorOutput, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

long Program::peakResidentKb() const
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string field; status >> field;)
        if (field == "VmHWM:" && status >> field)
            return std::stol(field);
    return -1;
}

std::string ok(std::string const& id)
{
    return R"({"id":)" + id + R"(,"ok":true,"result":null})";
}

bool isState(std::string const& reply, int id)
{
    return reply.starts_with(R"({"id":)" + std::to_string(id) + R"(,"ok":true,"result":"UVJTQ)");
}

std::string descriptionOf(std::string const& module, std::string const& name)
{
    Program scan({"--scan", module});
    nlohmann::json const found = nlohmann::json::parse(scan.line());
    for (nlohmann::json const& plugin : found.at("plugins"))
        if (name.empty() || plugin.at("name") == name)
            return plugin.dump();
    return "{}";
}

std::string slotList(std::string const& description, std::string const& more)
{
    return R"([{"id":"a","plugin":)" + description + more + "}]";
}
