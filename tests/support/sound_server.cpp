// Starts and stops a private PulseAudio server by PID, with null sinks and sources under chosen names.
#include "tests/support/sound_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace {

// The caller's environment with some variables replaced, as spawn wants it.
class Environment {
public:
    explicit Environment(std::vector<std::pair<std::string, std::string>> const& overrides)
    {
        for (char** entry = environ; *entry; ++entry) {
            std::string const text = *entry;
            bool replaced = false;
            for (auto const& [name, value] : overrides)
                replaced = replaced || text.rfind(name + "=", 0) == 0;
            if (!replaced)
                texts.push_back(text);
        }
        for (auto const& [name, value] : overrides)
            texts.push_back(name + "=" + value);
        for (auto& text : texts)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    char** get() { return pointers.data(); }

private:
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};

// Starts a program found on PATH with its output sent to `log`; returns its PID, or -1.
pid_t spawn(std::vector<std::string> arguments, Environment& environment, std::string const& log)
{
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    int const failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environment.get());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

int waitFor(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::string configuration(std::vector<NullSink> const& sinks, std::vector<NullSource> const& sources,
                          std::string const& socket)
{
    std::ostringstream text;
    // Without norewinds the first callback of a new stream can take seconds.
    for (auto const& sink : sinks)
        text << "load-module module-null-sink sink_name=" << sink.name << " rate=48000 norewinds=1"
             << " sink_properties=\"device.description='" << sink.description << "'\"\n";
    for (auto const& source : sources)
        text << "load-module module-null-source source_name=" << source.name << " rate=48000 channels="
             << source.channels << " max_latency_msec=20 description=\"" << source.description << "\"\n";
    text << "load-module module-native-protocol-unix socket=" << socket << " auth-anonymous=1\n";
    return text.str();
}

std::string contents(std::string const& path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

}  // namespace

SoundServer::SoundServer(std::vector<NullSink> const& sinks, std::vector<NullSource> const& sources)
{
    char pattern[] = "/tmp/rackhost-sound-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("Couldn't make a folder for the sound server.");
    folder = pattern;
    serverAddress = "unix:" + folder + "/native";
    std::ofstream(folder + "/ci.pa") << configuration(sinks, sources, folder + "/native");
    start();
}

void SoundServer::start()
{
    Environment environment({{"HOME", folder}, {"XDG_RUNTIME_DIR", folder}});
    server = spawn({"pulseaudio", "-n", "-F", folder + "/ci.pa", "--daemonize=no", "--use-pid-file=no",
                    "--exit-idle-time=-1", "--disallow-exit", "--realtime=no", "--high-priority=no",
                    "--log-target=stderr"},
                   environment, folder + "/server.log");
    if (server < 0) {
        std::filesystem::remove_all(folder);
        throw std::runtime_error("Couldn't start pulseaudio; is it installed?");
    }
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!pactl({"info"})) {
        int status = 0;
        bool const ended = waitpid(server, &status, WNOHANG) == server;
        if (ended || std::chrono::steady_clock::now() > deadline) {
            std::string const log = contents(folder + "/server.log");
            if (ended)
                server = -1;
            end(SIGKILL);
            std::filesystem::remove_all(folder);
            throw std::runtime_error("The sound server didn't start:\n" + log);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

SoundServer::~SoundServer()
{
    end(SIGTERM);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

std::optional<std::string> SoundServer::pactl(std::vector<std::string> const& arguments) const
{
    Environment environment({{"PULSE_SERVER", serverAddress}});
    std::vector<std::string> command{"pactl"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::string const log = folder + "/pactl.out";
    std::filesystem::remove(log);
    pid_t const pid = spawn(command, environment, log);
    if (pid < 0)
        return std::nullopt;
    int const status = waitFor(pid);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return contents(log);
}

std::string SoundServer::holdings(pid_t pid) const
{
    auto const lines = [this](std::string const& what) {
        std::string const list = pactl({"list", "short", what}).value_or("");
        return std::to_string(std::count(list.begin(), list.end(), '\n')) + " " + what;
    };
    std::string const clients = pactl({"list", "clients"}).value_or("");
    std::string const ownClient = "application.process.id = \"" + std::to_string(pid) + "\"";
    int ownClients = 0;
    for (auto at = clients.find(ownClient); at != std::string::npos; at = clients.find(ownClient, at + 1))
        ++ownClients;
    std::filesystem::directory_iterator const open("/proc/" + std::to_string(pid) + "/fd");
    auto const descriptors = std::distance(std::filesystem::begin(open), std::filesystem::end(open));
    return std::to_string(ownClients) + " clients, " + lines("sink-inputs") + ", " + lines("source-outputs") +
           ", " + std::to_string(descriptors) + " descriptors";
}

void SoundServer::kill()
{
    end(SIGKILL);
}

void SoundServer::end(int signal)
{
    if (server < 0)
        return;
    ::kill(server, signal);
    waitFor(server);
    server = -1;
}

bool sharedserver::expected()
{
    return std::getenv("PULSE_SERVER") != nullptr;
}
