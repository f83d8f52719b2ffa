// Parts of the platform layer that are the same in both flavours.
#include "platform/platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string_view>
#include <vector>

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
// O_NONBLOCK the open was made with unless the caller asked for it.
int only_files_and_devices(int fd, int flags)
{
    struct stat st {};
    int err = ::fstat(fd, &st) != 0 ? errno : 0;
    if (err == 0 && S_ISDIR(st.st_mode))
        err = EISDIR;
    else if (err == 0 && !S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode))
        err = ENXIO;
    if (err == 0 && (flags & O_NONBLOCK) == 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        err = errno;
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
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
    Fd root(::open(root_directory().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root)
        return std::nullopt;
    std::vector<Fd> walked;  // the directories below the root, innermost last
    std::vector<std::string> todo;
    push_components(todo, module_path);
    int links = 0;
    while (!todo.empty()) {
        std::string name = std::move(todo.back());
        todo.pop_back();
        int here = walked.empty() ? root.get() : walked.back().get();
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
        if (todo.empty())  // the file itself, which need not exist yet
            return Location{walked.empty() ? std::move(root) : std::move(walked.back()), name};
        Fd next(::openat(here, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next)
            return std::nullopt;
        walked.push_back(std::move(next));
    }
    return Location{walked.empty() ? std::move(root) : std::move(walked.back()), "."};
}

int open(const char *module_path, int flags, mode_t mode)
{
    std::optional<Location> at = locate(module_path);
    if (!at)
        return -1;
    int fd = ::openat(at->dir.get(), at->name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK, mode);
    return fd < 0 ? -1 : only_files_and_devices(fd, flags);
}

bool is_module_file(const char *module_path, const struct stat &st)
{
    if (!root_known())
        return false;
    std::optional<Location> at = locate(module_path);
    struct stat own {};
    return at && ::fstatat(at->dir.get(), at->name.c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0 &&
           own.st_dev == st.st_dev && own.st_ino == st.st_ino;
}

} // namespace platform
