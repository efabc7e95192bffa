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
#include <string_view>
#include <system_error>
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

// The text at `at` in the string table of `tableSize` bytes at `table`, when it ends within `limit` bytes
// and within the table.
std::optional<std::string> stringAt(ReadOnlyFile const& file, std::uint64_t table, std::uint64_t tableSize,
                                    std::uint64_t at, std::uint64_t limit)
{
    if (at >= tableSize)
        return std::nullopt;
    std::string text(std::min(limit, tableSize - at), '\0');
    std::size_t const end = file.read(text.data(), text.size(), table + at) ? text.find('\0') : std::string::npos;
    if (end == std::string::npos)
        return std::nullopt;
    text.resize(end);
    return text;
}

// What a library's dynamic section says about the libraries it needs, as the loader reads it.
struct Dependencies {
    std::vector<std::string> needed;     // in its order
    std::optional<std::string> runPath;  // DT_RUNPATH: where its own needed libraries are looked for
    std::string rPath;                   // DT_RPATH, ignored beside a DT_RUNPATH: for theirs in turn too
};

// A library's dependencies; none where its dynamic section can't be read.
Dependencies dependenciesOf(ReadOnlyFile const& file, std::uint64_t fileSize,
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
    std::optional<std::uint64_t> runPathAt;
    std::optional<std::uint64_t> rPathAt;
    for (Elf64_Dyn const& entry : entries) {
        if (entry.d_tag == DT_NULL)
            break;
        if (entry.d_tag == DT_STRTAB)
            stringsAddress = entry.d_un.d_ptr;
        else if (entry.d_tag == DT_STRSZ)
            stringsSize = entry.d_un.d_val;
        else if (entry.d_tag == DT_NEEDED)
            namesAt.push_back(entry.d_un.d_val);
        else if (entry.d_tag == DT_RUNPATH)
            runPathAt = entry.d_un.d_val;
        else if (entry.d_tag == DT_RPATH)
            rPathAt = entry.d_un.d_val;
    }
    std::optional<std::uint64_t> const strings = fileOffsetOf(segments, stringsAddress, stringsSize);
    if (!strings || !inside(*strings, stringsSize, fileSize))
        return {};
    Dependencies dependencies;
    for (std::uint64_t const at : namesAt) {
        // A name longer than a file name can be names no file in the bundle.
        if (auto name = stringAt(file, *strings, stringsSize, at, NAME_MAX + 1))
            dependencies.needed.push_back(std::move(*name));
    }
    // Run paths longer than this are left unread; no real library has one.
    std::uint64_t const runPathLimit = 64 * 1024;
    if (runPathAt)
        dependencies.runPath = stringAt(file, *strings, stringsSize, *runPathAt, runPathLimit).value_or("");
    else if (rPathAt)
        dependencies.rPath = stringAt(file, *strings, stringsSize, *rPathAt, runPathLimit).value_or("");
    return dependencies;
}

// A run path entry with $ORIGIN and ${ORIGIN} read as `origin`; nullopt when it holds any other `$`, such
// as $LIB or $PLATFORM, whose folders depend on the system: such an entry isn't looked in.
std::optional<std::string> withOrigin(std::string entry, std::string const& origin)
{
    for (std::size_t token = entry.find('$'); token != std::string::npos; token = entry.find('$', token)) {
        std::string_view const rest = std::string_view(entry).substr(token);
        std::size_t length = 0;
        if (rest.starts_with("${ORIGIN}"))
            length = 9;
        else if (rest.starts_with("$ORIGIN") && (rest.size() == 7 || rest[7] == '/'))
            length = 7;
        else
            return std::nullopt;
        entry.replace(token, length, origin);
        token += origin.size();
    }
    return entry;
}

// The folders of a run path that lie inside the bundle at `bundle` (absolute, in normal form), for a
// library in the folder `origin`. A relative entry is taken from the working folder, as the loader takes it.
std::vector<std::filesystem::path> bundleFoldersOf(std::string const& runPath, std::string const& origin,
                                                    std::filesystem::path const& bundle)
{
    std::vector<std::filesystem::path> folders;
    for (std::size_t start = 0; start < runPath.size();) {
        std::size_t const end = std::min(runPath.find(':', start), runPath.size());
        std::optional<std::string> const entry = withOrigin(runPath.substr(start, end - start), origin);
        start = end + 1;
        std::error_code failed;
        std::filesystem::path const folder =
            entry ? std::filesystem::absolute(*entry, failed).lexically_normal() : std::filesystem::path();
        if (entry && !failed && !bundle.empty() &&
            std::mismatch(bundle.begin(), bundle.end(), folder.begin(), folder.end()).first == bundle.end())
            folders.push_back(folder);
    }
    return folders;
}

// False, with the reason in `error`, when the library at `path` can't be handed to the loader safely;
// else what it says about the libraries it needs goes to `dependencies`.
bool libraryLoadable(std::string const& path, Dependencies& dependencies, std::string& error)
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
    dependencies = dependenciesOf(file, fileSize, segments);
    return true;
}

}  // namespace

bool moduleFileLoadable(std::string const& bundle, std::string& error)
{
    std::string const library = libraryOf(bundle);
    if (library.empty())
        return true;
    std::filesystem::path const folder = std::filesystem::path(library).parent_path();
    std::error_code failed;
    std::filesystem::path root = std::filesystem::absolute(bundle, failed).lexically_normal();
    if (!root.has_filename())
        root = root.parent_path();
    // The module's library, then each library it needs that its bundle ships, and theirs in turn; the
    // others are the system's. A library's needed names are looked for in the module's folder and in the
    // bundle's folders of its DT_RUNPATH or, without one, of its DT_RPATH and those of the libraries that
    // led to it, as the loader looks. A needed name with a slash is a path of its own, and one of dots
    // only names a folder: neither is looked for here.
    struct Pending {
        std::string path;
        std::vector<std::filesystem::path> rPaths;
    };
    std::vector<Pending> pending{{library, {}}};
    std::set<std::string> seen{library};
    while (!pending.empty()) {
        Pending const next = std::move(pending.back());
        pending.pop_back();
        Dependencies dependencies;
        if (!libraryLoadable(next.path, dependencies, error))
            return false;
        std::string const origin = std::filesystem::path(next.path).parent_path().string();
        std::vector<std::filesystem::path> rPaths = bundleFoldersOf(dependencies.rPath, origin, root);
        rPaths.insert(rPaths.end(), next.rPaths.begin(), next.rPaths.end());
        std::vector<std::filesystem::path> folders =
            dependencies.runPath ? bundleFoldersOf(*dependencies.runPath, origin, root) : rPaths;
        folders.push_back(folder);
        for (std::string const& name : dependencies.needed) {
            if (name.find('/') != std::string::npos || name.find_first_not_of('.') == std::string::npos)
                continue;
            for (std::filesystem::path const& in : folders) {
                std::string shipped = (in / name).string();
                if (seen.insert(shipped).second)
                    pending.push_back({std::move(shipped), rPaths});
            }
        }
    }
    return true;
}
