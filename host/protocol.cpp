// Line framing of the control protocol, base64 for state blobs, and plug-in descriptions.
#include "host/protocol.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The character's 6-bit value, or -1 outside the alphabet (NUL included).
int sextet(char c)
{
    if (c == '\0')
        return -1;
    char const* at = std::strchr(ALPHABET, c);
    return at ? static_cast<int>(at - ALPHABET) : -1;
}

// Where send() writes: standard output, or the copy of it that reserveStandardOutput() kept.
std::FILE* ownLines = stdout;

}  // namespace

void reserveStandardOutput()
{
    int const kept = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (kept < 0)
        return;  // no standard output to keep
    std::FILE* stream = fdopen(kept, "w");
    if (!stream) {
        close(kept);
        return;
    }
    std::fflush(stdout);
    if (dup2(2, 1) < 0) {  // no standard error either: plug-ins then print into nothing
        int const nothing = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(nothing, 1);
        close(nothing);
    }
    // Line by line, so what a plug-in prints is on standard error before the process ends at once.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ownLines = stream;
}

int linesDescriptor()
{
    return fileno(ownLines);
}

void send(nlohmann::json const& message)
{
    // Serialised before the lock so a long value delays no other writer.
    std::string const text = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    static std::mutex lock;
    std::lock_guard<std::mutex> held(lock);
    std::fwrite(text.data(), 1, text.size(), ownLines);
    std::fputc('\n', ownLines);
    std::fflush(ownLines);
}

std::string base64(std::vector<unsigned char> const& bytes)
{
    std::size_t const n = bytes.size();
    std::string text;
    text.reserve((n + 2) / 3 * 4);
    for (std::size_t i = 0; i < n; i += 3) {
        std::uint32_t v = std::uint32_t{bytes[i]} << 16;
        if (i + 1 < n)
            v |= std::uint32_t{bytes[i + 1]} << 8;
        if (i + 2 < n)
            v |= bytes[i + 2];
        text += ALPHABET[v >> 18];
        text += ALPHABET[(v >> 12) & 63];
        text += i + 1 < n ? ALPHABET[(v >> 6) & 63] : '=';
        text += i + 2 < n ? ALPHABET[v & 63] : '=';
    }
    return text;
}

bool unbase64(std::string const& text, std::vector<unsigned char>& out)
{
    out.clear();
    std::uint32_t accumulator = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            return true;
        int const value = sextet(c);
        if (value < 0)
            return false;
        accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>((accumulator >> bits) & 0xFF));
        }
    }
    return true;
}

nlohmann::json toJson(PluginInfo const& info)
{
    return {{"format", info.format}, {"path", info.path}, {"uid", info.uid},
            {"name", info.name},     {"vendor", info.vendor}};
}

PluginRef refFrom(nlohmann::json const& description)
{
    PluginRef ref;
    ref.format = description.value("format", std::string());
    ref.path = description.value("path", std::string());
    ref.uid = description.value("uid", std::string());
    return ref;
}
