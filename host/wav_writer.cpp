// A WAV encoder over a file of our own, so that every failed write, the header's included, is noticed;
// the file is made beside its destination and renamed over it, so that a render that fails part way
// (a full disk, say) neither truncates an earlier file nor leaves a cut one behind.
#include "host/wav_writer.h"

#include <miniaudio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

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

// A new file in the folder of `destination`, its name in `created`. Mode 0666 less the umask, the mode
// fopen() gives a file it creates.
std::FILE* createBeside(std::string const& destination, std::string& created)
{
    std::filesystem::path folder = std::filesystem::path(destination).parent_path();
    if (folder.empty())
        folder = ".";
    std::string const prefix = ".render-" + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string const name = (folder / (prefix + std::to_string(attempt) + ".part")).string();
        int const fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return nullptr;
        std::FILE* file = fdopen(fd, "wb");
        if (!file) {
            close(fd);
            unlink(name.c_str());
            return nullptr;
        }
        created = name;
        return file;
    }
    return nullptr;
}

}  // namespace

struct WavWriter::Output {
    std::FILE* file = nullptr;
    ma_encoder encoder{};
    bool encoding = false;
    bool failed = false;
    std::string destination;
    std::string temporary;  // empty when the destination is written directly

    // Finishes the header and the file; false when anything could not be written.
    bool close()
    {
        if (encoding)
            ma_encoder_uninit(&encoder);
        encoding = false;
        if (file && std::fclose(file) != 0)
            failed = true;
        file = nullptr;
        return !failed;
    }

    void removeTemporary()
    {
        if (!temporary.empty())
            unlink(temporary.c_str());
        temporary.clear();
    }

    static ma_result onWrite(ma_encoder* encoder, void const* bytes, size_t count, size_t* written)
    {
        auto* self = static_cast<Output*>(encoder->pUserData);
        *written = std::fwrite(bytes, 1, count, self->file);
        if (*written != count)
            self->failed = true;
        return self->failed ? MA_IO_ERROR : MA_SUCCESS;
    }
    static ma_result onSeek(ma_encoder* encoder, ma_int64 offset, ma_seek_origin origin)
    {
        auto* self = static_cast<Output*>(encoder->pUserData);
        int const whence = origin == ma_seek_origin_start ? SEEK_SET : origin == ma_seek_origin_end ? SEEK_END : SEEK_CUR;
        if (std::fseek(self->file, static_cast<long>(offset), whence) != 0)
            self->failed = true;
        return self->failed ? MA_IO_ERROR : MA_SUCCESS;
    }
};

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
        if (output->file && exists)
            fchmod(fileno(output->file), status.st_mode & 07777);
    }
    if (!output->file)
        return false;
    ma_encoder_config const config = ma_encoder_config_init(ma_encoding_format_wav, ma_format_f32, 2, sampleRate);
    output->encoding = ma_encoder_init(Output::onWrite, Output::onSeek, output.get(), &config, &output->encoder) == MA_SUCCESS;
    return output->encoding && !output->failed;
}

bool WavWriter::write(float const* interleaved, std::uint64_t frames)
{
    ma_uint64 done = 0;
    if (ma_encoder_write_pcm_frames(&output->encoder, interleaved, frames, &done) != MA_SUCCESS || done != frames)
        output->failed = true;
    return !output->failed;
}

bool WavWriter::finish()
{
    bool const complete = output->close();
    if (output->temporary.empty())
        return complete;
    if (complete && std::rename(output->temporary.c_str(), output->destination.c_str()) == 0) {
        output->temporary.clear();
        return true;
    }
    output->removeTemporary();
    return false;
}
