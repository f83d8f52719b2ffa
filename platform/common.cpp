// Parts of the platform layer that are the same in both flavours.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>
#include <vector>

// The board is 32-bit: without 64-bit offsets (the build's
// _FILE_OFFSET_BITS=64) stat, open and pread fail with EOVERFLOW on a large
// inode number or a file over 2 GiB.
static_assert(sizeof(off_t) == 8 && sizeof(ino_t) == 8, "build with -D_FILE_OFFSET_BITS=64");

namespace platform {

namespace {

// Linux's own limit on links followed in one path.
constexpr int kMaxLinks = 40;

// Pushes the components of `path` so that the first is popped first.
void push_components(std::vector<std::string> &todo, std::string_view path)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at < path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > at)
            parts.emplace_back(path.substr(at, end - at));
        at = end + 1;
    }
    todo.insert(todo.end(), parts.rbegin(), parts.rend());
}

// Only regular files and devices are worth a read or a write; clears the
// O_NONBLOCK the open was made with from a device unless the caller asked
// for it (a regular file never blocks).
int only_files_and_devices(int fd, int flags)
{
    struct stat st {};
    int err = ::fstat(fd, &st) != 0 ? errno : 0;
    if (err == 0 && S_ISDIR(st.st_mode))
        err = EISDIR;
    else if (err == 0 && !S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode))
        err = ENXIO;
    if (err == 0 && !S_ISREG(st.st_mode) && (flags & O_NONBLOCK) == 0 &&
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        err = errno;
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// Folders below the root reached without a link, by module path. Like the
// root, never closed: the process's end closes them.
struct KeptFolder {
    std::string path;
    Fd fd;
};
std::vector<KeptFolder> &kept = *new std::vector<KeptFolder>;

// The root directory, opened once for as long as it names the same path.
int root_fd()
{
    static std::string opened;
    static Fd &root = *new Fd;
    std::string path = root_directory();
    if (!root || path != opened) {
        root.reset(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        opened = path;
        kept.clear();
    }
    return root.get();
}

// The folder part of a module path: all before its last '/'.
std::string_view folder_of(std::string_view module_path)
{
    return module_path.substr(0, std::min(module_path.rfind('/'), module_path.size()));
}

// The file `name` of a folder already reached, when it is no link.
std::optional<Location> in_kept_folder(std::string_view module_path)
{
    std::string_view folder = folder_of(module_path);
    std::string name(module_path.substr(folder.size() + (folder.size() < module_path.size() ? 1 : 0)));
    if (name.empty() || name == "." || name == "..")
        return std::nullopt;
    for (const KeptFolder &k : kept) {
        char target[1];
        if (k.path == folder && ::readlinkat(k.fd.get(), name.c_str(), target, sizeof target) < 0 &&
            (errno == EINVAL || errno == ENOENT))
            return Location{k.fd.get(), name, Fd()};
    }
    return std::nullopt;
}

} // namespace

Fd &Fd::operator=(Fd &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int Fd::release()
{
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void Fd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

std::optional<Location> locate(const char *module_path)
{
    int root = root_fd();
    if (root < 0)
        return std::nullopt;
    if (std::optional<Location> at = in_kept_folder(module_path))
        return at;
    std::vector<Fd> walked;  // the directories below the root, innermost last
    std::vector<std::string> todo;
    push_components(todo, module_path);
    int links = 0;
    while (!todo.empty()) {
        std::string name = std::move(todo.back());
        todo.pop_back();
        int here = walked.empty() ? root : walked.back().get();
        if (name == ".")
            continue;
        if (name == "..") {
            if (!walked.empty())
                walked.pop_back();
            continue;
        }
        char target[PATH_MAX];
        ssize_t n = ::readlinkat(here, name.c_str(), target, sizeof target - 1);
        if (n >= 0) {
            if (++links > kMaxLinks) {
                errno = ELOOP;
                return std::nullopt;
            }
            if (target[0] == '/')
                walked.clear();
            push_components(todo, std::string_view(target, static_cast<std::size_t>(n)));
            continue;
        }
        if (errno != EINVAL && errno != ENOENT)
            return std::nullopt;
        if (!todo.empty()) {
            Fd next(::openat(here, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!next)
                return std::nullopt;
            walked.push_back(std::move(next));
            continue;
        }
        // The file itself, which need not exist yet.
        if (walked.empty())
            return Location{root, name, Fd()};
        if (links == 0) {  // the folder is its path's: keep it
            kept.push_back({std::string(folder_of(module_path)), std::move(walked.back())});
            return Location{kept.back().fd.get(), name, Fd()};
        }
        int dir = walked.back().get();
        return Location{dir, name, std::move(walked.back())};
    }
    if (walked.empty())
        return Location{root, ".", Fd()};
    int dir = walked.back().get();
    return Location{dir, ".", std::move(walked.back())};
}

int open_at(const Location &at, int flags, mode_t mode)
{
    int fd = ::openat(at.dir, at.name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK, mode);
    return fd < 0 ? -1 : only_files_and_devices(fd, flags);
}

int open(const char *module_path, int flags, mode_t mode)
{
    std::optional<Location> at = locate(module_path);
    return at ? open_at(*at, flags, mode) : -1;
}

bool is_module_file(const char *module_path, const struct stat &st)
{
    if (!root_known())
        return false;
    std::optional<Location> at = locate(module_path);
    struct stat own {};
    return at && ::fstatat(at->dir, at->name.c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0 &&
           own.st_dev == st.st_dev && own.st_ino == st.st_ino;
}

} // namespace platform
