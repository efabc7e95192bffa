// Looking at a module's shared libraries before the dynamic loader does: its own, and those it needs from
// its bundle. The loader maps a library's segments as its headers describe them: one cut short maps pages
// past the end of the file, and the first touch of them kills the process with SIGBUS; a FIFO in its place
// blocks open() for ever.
#include "plugin/module_file.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
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

// The program headers of a 64-bit ELF library, in `segments`; false when its headers reach past its
// `fileSize` bytes. Any other file has none here: one that isn't ELF, or is ELF of another class, is left
// to the loader, which refuses it before mapping.
bool segmentsOf(ReadOnlyFile const& file, std::uint64_t fileSize, std::vector<Elf64_Phdr>& segments)
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
    segments.resize(header.e_phnum);
    return file.read(segments.data(), tableSize, header.e_phoff);
}

// Where in the file the `size` bytes the library's loadable segments place at `address` lie; nullopt when
// no segment holds them all.
std::optional<std::uint64_t> fileOffsetOf(std::vector<Elf64_Phdr> const& segments, std::uint64_t address,
                                          std::uint64_t size)
{
    for (Elf64_Phdr const& segment : segments) {
        if (segment.p_type == PT_LOAD && address >= segment.p_vaddr &&
            inside(address - segment.p_vaddr, size, segment.p_filesz))
            return segment.p_offset + (address - segment.p_vaddr);
    }
    return std::nullopt;
}

// The library names in the needed entries of a library's dynamic section, in its order; none where the
// section can't be read.
std::vector<std::string> neededOf(ReadOnlyFile const& file, std::uint64_t fileSize,
                                  std::vector<Elf64_Phdr> const& segments)
{
    auto const dynamic = std::ranges::find(segments, PT_DYNAMIC, &Elf64_Phdr::p_type);
    if (dynamic == segments.end() || !inside(dynamic->p_offset, dynamic->p_filesz, fileSize))
        return {};
    std::vector<Elf64_Dyn> entries(dynamic->p_filesz / sizeof(Elf64_Dyn));
    if (!file.read(entries.data(), entries.size() * sizeof(Elf64_Dyn), dynamic->p_offset))
        return {};
    std::uint64_t stringsAddress = 0;
    std::uint64_t stringsSize = 0;
    std::vector<std::uint64_t> namesAt;
    for (Elf64_Dyn const& entry : entries) {
        if (entry.d_tag == DT_NULL)
            break;
        if (entry.d_tag == DT_STRTAB)
            stringsAddress = entry.d_un.d_ptr;
        else if (entry.d_tag == DT_STRSZ)
            stringsSize = entry.d_un.d_val;
        else if (entry.d_tag == DT_NEEDED)
            namesAt.push_back(entry.d_un.d_val);
    }
    std::optional<std::uint64_t> const strings = fileOffsetOf(segments, stringsAddress, stringsSize);
    if (!strings || !inside(*strings, stringsSize, fileSize))
        return {};
    std::vector<std::string> names;
    for (std::uint64_t const at : namesAt) {
        // A name longer than a file name can be names no file in the bundle.
        char name[NAME_MAX + 1]{};
        std::uint64_t const length = at < stringsSize ? std::min<std::uint64_t>(sizeof name, stringsSize - at) : 0;
        if (length > 0 && file.read(name, length, *strings + at) && std::memchr(name, '\0', length) != nullptr)
            names.emplace_back(name);
    }
    return names;
}

// False, with the reason in `error`, when the library at `path` can't be handed to the loader safely;
// else the names it needs go to `needed`.
bool libraryLoadable(std::string const& path, std::vector<std::string>& needed, std::string& error)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return true;
    if (!S_ISREG(status.st_mode)) {
        error = path + " is not a regular file.";
        return false;
    }
    ReadOnlyFile const file(path);
    if (!file.opened())
        return true;
    auto const fileSize = static_cast<std::uint64_t>(status.st_size);
    std::vector<Elf64_Phdr> segments;
    bool const whole = segmentsOf(file, fileSize, segments) && std::ranges::all_of(segments, [&](auto const& segment) {
        return segment.p_type != PT_LOAD || inside(segment.p_offset, segment.p_filesz, fileSize);
    });
    if (!whole) {
        error = path + " is cut short.";
        return false;
    }
    needed = neededOf(file, fileSize, segments);
    return true;
}

}  // namespace

bool moduleFileLoadable(std::string const& bundle, std::string& error)
{
    std::string const library = libraryOf(bundle);
    if (library.empty())
        return true;
    std::filesystem::path const folder = std::filesystem::path(library).parent_path();
    // The module's library, then each library it needs that its bundle ships, and theirs in turn; the
    // others are the system's. A needed name with a slash is a path of its own, and one of dots only names
    // a folder: neither is looked for here.
    std::vector<std::string> pending{library};
    std::set<std::string> seen{library};
    while (!pending.empty()) {
        std::string const path = pending.back();
        pending.pop_back();
        std::vector<std::string> needed;
        if (!libraryLoadable(path, needed, error))
            return false;
        for (std::string const& name : needed) {
            if (name.find('/') != std::string::npos || name.find_first_not_of('.') == std::string::npos)
                continue;
            std::string shipped = (folder / name).string();
            if (seen.insert(shipped).second)
                pending.push_back(std::move(shipped));
        }
    }
    return true;
}
