#include "tools/cfgimage/render.h"

#include "platform/platform.h"
#include "store/replace.h"
#include "store/write_all.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace cfgimage {

namespace {

using Image = std::array<std::uint8_t, settings::kImageSize>;

// Why `name` in `dir` cannot be used: a link is named as such, since
// following one could write outside DIR.
std::string refused(int dir, const std::string &name, const std::string &shown, const char *what, int err)
{
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return shown + ": a symbolic link; refused";
    return shown + ": " + what + ": " + std::strerror(err);
}

// Writes one file below DIR, making or entering each directory on the way
// without following a link.
std::optional<std::string> write_one(int top, const std::string &dir, const RenderedFile &r)
{
    std::string rest = r.path + 1, shown = dir;
    platform::Fd here(::dup(top));
    for (std::size_t slash; (slash = rest.find('/')) != std::string::npos; rest.erase(0, slash + 1)) {
        std::string name = rest.substr(0, slash);
        shown += "/" + name;
        if (::mkdirat(here.get(), name.c_str(), 0777) != 0 && errno != EEXIST)
            return shown + ": cannot create: " + std::strerror(errno);
        platform::Fd next(::openat(here.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next)
            return refused(here.get(), name, shown, "cannot create", errno);
        here = std::move(next);
    }
    shown += "/" + rest;
    platform::Fd fd(::openat(here.get(), rest.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, r.mode));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return refused(here.get(), rest, shown, "cannot create", errno);
    if (!S_ISREG(st.st_mode))
        return shown + ": not a regular file; refused";
    if (st.st_nlink > 1)  // its other names may lie outside DIR
        return shown + ": has other hard links; refused";
    int err = ::ftruncate(fd.get(), 0) == 0 ? write_all(fd.get(), r.text.data(), r.text.size()) : errno;
    if (::close(fd.release()) != 0 && err == 0)
        err = errno;
    if (err != 0)
        return shown + ": cannot write: " + std::strerror(err);
    return std::nullopt;
}

} // namespace

std::vector<RenderedFile> render_files(const std::uint8_t *image, const ComposeInput &input)
{
    std::vector<RenderedFile> files;
    for (const OutputFile &file : outputs()) {
        Image copy;
        std::copy(image, image + copy.size(), copy.begin());
        OutputBuffer out;
        LogEntries log;
        file.compose(copy.data(), input, out, log);
        files.push_back({file.path, file.mode, std::string(out.text()), std::move(log)});
    }
    return files;
}

KeptPasswords kept_passwords_below(const std::string &dir)
{
    // Only a regular file: a FIFO would keep the render waiting (and the
    // write of the new file refuses it).
    std::string passwd = dir + output(Output::Passwd).path;
    platform::Fd fd(::open(passwd.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode))
        return kept_passwords_of(fd.get());
    return {};
}

std::optional<std::string> write_rendered(const std::string &dir, std::span<const RenderedFile> files)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);  // DIR itself as the caller names it
    platform::Fd top(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (ec || !top)
        return dir + ": cannot create: " + (ec ? ec.message() : std::strerror(errno));
    for (const RenderedFile &r : files)
        if (auto error = write_one(top.get(), dir, r))
            return error;
    return std::nullopt;
}

} // namespace cfgimage
