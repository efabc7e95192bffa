// File checks and whole-file reads and writes for the render, through the C library, which reports a
// failed read as a result and never throws.
#include "host/render_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::optional<struct stat> statusOf(std::string const& path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return status;
}

bool isRegularFile(std::string const& path)
{
    std::optional<struct stat> const status = statusOf(path);
    return status && S_ISREG(status->st_mode);
}

std::optional<std::vector<unsigned char>> readRegularFile(std::string const& path)
{
    std::optional<struct stat> const status = statusOf(path);
    if (!status || !S_ISREG(status->st_mode))
        return std::nullopt;
    std::unique_ptr<std::FILE, CloseFile> const file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return std::nullopt;
    std::vector<unsigned char> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(status->st_size));
    } catch (std::bad_alloc const&) {
        return std::nullopt;
    }
    // A file that shrank meanwhile gives what it still holds.
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    if (std::ferror(file.get()))
        return std::nullopt;
    return bytes;
}

bool writeFile(std::string const& path, std::vector<unsigned char> const& bytes, std::string& reason)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        reason = std::strerror(errno);
        return false;
    }
    // The first failure's reason; one that set no errno is still a failure.
    int error = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() ? 0 : (errno ? errno : EIO);
    if (std::fclose(file) != 0 && !error)
        error = errno ? errno : EIO;
    if (error)
        reason = std::strerror(error);
    return error == 0;
}
