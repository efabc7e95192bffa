// Looking at a module's shared library before the dynamic loader does. The loader maps a library's
// segments as its headers describe them: one cut short maps pages past the end of the file, and the
// first touch of them kills the process with SIGBUS; a FIFO in its place blocks open() for ever.
#include "plugin/module_file.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

// Where the VST 3 SDK's module loader finds a bundle's library: Contents/<machine>-linux/<stem>.so.
std::string libraryOf(std::string const& bundle)
{
    utsname system{};
    if (uname(&system) != 0)
        return "";
    std::filesystem::path const path(bundle);
    std::filesystem::path name = path.stem();
    name.replace_extension(".so");
    return (path / "Contents" / (std::string(system.machine) + "-linux") / name).string();
}

class ReadOnlyFile {
public:
    explicit ReadOnlyFile(std::string const& path) : fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
    ~ReadOnlyFile()
    {
        if (fd >= 0)
            close(fd);
    }
    ReadOnlyFile(ReadOnlyFile const&) = delete;
    ReadOnlyFile& operator=(ReadOnlyFile const&) = delete;

    bool opened() const { return fd >= 0; }
    // Whether all `size` bytes at `offset` could be read.
    bool read(void* into, std::uint64_t size, std::uint64_t offset) const
    {
        auto* bytes = static_cast<char*>(into);
        while (size > 0) {
            ssize_t const got = pread(fd, bytes, size, static_cast<off_t>(offset));
            if (got <= 0)
                return false;
            bytes += got;
            size -= static_cast<std::uint64_t>(got);
            offset += static_cast<std::uint64_t>(got);
        }
        return true;
    }

private:
    int fd;
};

// Whether `size` bytes at `offset` lie inside a file of `fileSize` bytes, without overflowing.
bool inside(std::uint64_t offset, std::uint64_t size, std::uint64_t fileSize)
{
    return offset <= fileSize && size <= fileSize - offset;
}

// Whether the ELF headers and every loadable segment of a library lie inside its `fileSize` bytes. An
// ELF file of another class or byte order is left to the loader, which refuses it before mapping.
bool wholeElf(ReadOnlyFile const& file, std::uint64_t fileSize)
{
    unsigned char ident[EI_NIDENT]{};
    if (!file.read(ident, SELFMAG, 0) || std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        return true;
    Elf64_Ehdr header{};
    if (!file.read(&header, sizeof header, 0))
        return false;
    if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_phentsize != sizeof(Elf64_Phdr))
        return true;
    std::uint64_t const tableSize = std::uint64_t{header.e_phnum} * sizeof(Elf64_Phdr);
    if (!inside(header.e_phoff, tableSize, fileSize))
        return false;
    std::vector<Elf64_Phdr> segments(header.e_phnum);
    if (!file.read(segments.data(), tableSize, header.e_phoff))
        return false;
    for (Elf64_Phdr const& segment : segments) {
        if (segment.p_type == PT_LOAD && !inside(segment.p_offset, segment.p_filesz, fileSize))
            return false;
    }
    return true;
}

}  // namespace

bool moduleFileLoadable(std::string const& bundle, std::string& error)
{
    std::string const library = libraryOf(bundle);
    struct stat status {};
    if (library.empty() || stat(library.c_str(), &status) != 0)
        return true;
    if (!S_ISREG(status.st_mode)) {
        error = library + " is not a regular file.";
        return false;
    }
    ReadOnlyFile const file(library);
    if (!file.opened())
        return true;
    if (!wholeElf(file, static_cast<std::uint64_t>(status.st_size))) {
        error = library + " is cut short.";
        return false;
    }
    return true;
}
