// A WAV encoder over a file of our own, so that every failed write, the header's included, is noticed;
// the file is made beside its destination and renamed over it, so that a render that fails part way
// (a full disk, say) neither truncates an earlier file nor leaves a cut one behind.
#include "host/wav_writer.h"

#include "host/protocol.h"
#include "host/render_files.h"
#include "host/unfinished_file.h"

#include <miniaudio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

namespace {

bool sameFile(std::optional<struct stat> const& a, std::optional<struct stat> const& b)
{
    return a && b && a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

// Whether `path` is the file open as `stream`. The null device keeps nothing, so nothing mixes there.
bool isStream(std::optional<struct stat> const& path, int stream)
{
    struct stat status {};
    return fstat(stream, &status) == 0 && sameFile(path, status) && !sameFile(path, statusOf("/dev/null"));
}

// The file a path names after following its links, so that a link keeps pointing where it did.
std::string resolved(std::string const& path)
{
    char* real = realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    std::string named = real;
    std::free(real);
    return named;
}

// A new file in the folder of `destination`, its name in `created`, guarded from before it exists, since
// a signal may reach any thread, a plug-in's too, at any moment. Mode 0666 less the umask, the mode fopen()
// gives a file it creates. On failure errno says why, and nothing is guarded.
std::FILE* createBeside(std::string const& destination, std::string& created)
{
    std::filesystem::path folder = std::filesystem::path(destination).parent_path();
    if (folder.empty())
        folder = ".";
    // The attempt's two digits change in place, so the name the guard holds never moves in memory.
    std::string const last = "00.part";
    created = (folder / (".render-" + std::to_string(getpid()) + "-" + last)).string();
    std::size_t const digits = created.size() - last.size();
    guardFile(created.c_str());
    for (int attempt = 0; attempt < 100; ++attempt) {
        created[digits] = static_cast<char>('0' + attempt / 10);
        created[digits + 1] = static_cast<char>('0' + attempt % 10);
        int const fd = ::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            break;
        if (std::FILE* file = fdopen(fd, "wb"))
            return file;
        int const error = errno;
        close(fd);
        unlink(created.c_str());
        errno = error;
        break;
    }
    int const error = errno;
    unguardFile();
    created.clear();
    errno = error;
    return nullptr;
}

}  // namespace

struct WavWriter::Output {
    std::FILE* file = nullptr;
    ma_encoder encoder{};
    bool encoding = false;
    int error = 0;  // the first failure's errno; 0 while everything was written
    std::string destination;
    std::string temporary;  // empty when the destination is written directly

    bool failed() const { return error != 0; }
    // Keeps the first reason; a failure that set no errno is still a failure.
    void fail(int reason)
    {
        if (!error)
            error = reason ? reason : EIO;
    }

    // Finishes the header and the file; false when anything could not be written.
    bool close()
    {
        if (encoding)
            ma_encoder_uninit(&encoder);
        encoding = false;
        if (file && std::fclose(file) != 0)
            fail(errno);
        file = nullptr;
        return !failed();
    }

    void removeTemporary()
    {
        if (temporary.empty())
            return;
        unlink(temporary.c_str());
        unguardFile();
        temporary.clear();
    }

    static ma_result onWrite(ma_encoder* encoder, void const* bytes, size_t count, size_t* written)
    {
        auto* self = static_cast<Output*>(encoder->pUserData);
        *written = std::fwrite(bytes, 1, count, self->file);
        if (*written != count)
            self->fail(errno);
        return self->failed() ? MA_IO_ERROR : MA_SUCCESS;
    }
    static ma_result onSeek(ma_encoder* encoder, ma_int64 offset, ma_seek_origin origin)
    {
        auto* self = static_cast<Output*>(encoder->pUserData);
        int const whence = origin == ma_seek_origin_start ? SEEK_SET : origin == ma_seek_origin_end ? SEEK_END : SEEK_CUR;
        if (std::fseek(self->file, static_cast<long>(offset), whence) != 0)
            self->fail(errno);
        return self->failed() ? MA_IO_ERROR : MA_SUCCESS;
    }
};

std::string WavWriter::refusal(std::string const& path, std::string const& input)
{
    std::optional<struct stat> const output = statusOf(path);
    // Writing over the input would cut it while it is still being read.
    if (sameFile(output, statusOf(input)))
        return "it is the input file";
    // The audio would be mixed into the summary line or the messages (descriptor 1 is standard error
    // once the program has kept standard output for its lines).
    for (int stream : {linesDescriptor(), STDOUT_FILENO, STDERR_FILENO})
        if (isStream(output, stream))
            return "standard output and standard error carry the summary and the messages";
    // Renaming over a file needs only its folder's permission; a file protected from its user (root
    // may write anything) is refused as the shell's ">" refuses it.
    if (output && access(path.c_str(), W_OK) != 0)
        return std::strerror(errno);
    return "";
}

WavWriter::WavWriter() : output(std::make_unique<Output>()) {}

WavWriter::~WavWriter()
{
    output->close();
    output->removeTemporary();
}

bool WavWriter::open(std::string const& path, std::uint32_t sampleRate)
{
    struct stat status {};
    bool const exists = stat(path.c_str(), &status) == 0;
    if (exists && !S_ISREG(status.st_mode)) {
        output->file = std::fopen(path.c_str(), "wb");
    } else {
        output->destination = exists ? resolved(path) : path;
        output->file = createBeside(output->destination, output->temporary);
        if (output->file) {
            if (exists)
                fchmod(fileno(output->file), status.st_mode & 07777);
        } else if (errno == EACCES || errno == EPERM) {
            // A folder we may not write to can still hold a file we may write.
            output->file = std::fopen(path.c_str(), "wb");
        }
    }
    if (!output->file) {
        output->fail(errno);
        return false;
    }
    ma_encoder_config const config = ma_encoder_config_init(ma_encoding_format_wav, ma_format_f32, 2, sampleRate);
    output->encoding = ma_encoder_init(Output::onWrite, Output::onSeek, output.get(), &config, &output->encoder) == MA_SUCCESS;
    if (!output->encoding)
        output->fail(0);
    return !output->failed();
}

bool WavWriter::write(float const* interleaved, std::uint64_t frames)
{
    ma_uint64 done = 0;
    if (ma_encoder_write_pcm_frames(&output->encoder, interleaved, frames, &done) != MA_SUCCESS || done != frames)
        output->fail(0);
    return !output->failed();
}

bool WavWriter::finish()
{
    bool const complete = output->close();
    if (output->temporary.empty())
        return complete;
    if (complete && std::rename(output->temporary.c_str(), output->destination.c_str()) == 0) {
        unguardFile();
        output->temporary.clear();
        return true;
    }
    if (complete)
        output->fail(errno);
    output->removeTemporary();
    return false;
}

std::string WavWriter::reason() const
{
    return std::strerror(output->error);
}
