#include "tools/cfgimage/render.h"

#include "platform/platform.h"
#include "store/replace.h"
#include "store/write_all.h"
#include "writers/netconf.h"
#include "writers/snmpd.h"
#include "writers/wrenconf.h"

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

using Image = std::array<std::uint8_t, settings::IMAGE_SIZE>;

struct Composed {
    std::string text;
    LogEntries log;
};

using Compose = Composed (*)(Image &image, const RenderInput &input);

const settings::UserLayout &users_by_hash(const Image &image, const RenderInput &in)
{
    return *choose_user_layout(image.data(), in.fips, true).layout;
}

template <typename F>
Composed buffered(F compose)
{
    OutputBuffer out;
    Composed c;
    compose(out, c.log);
    c.text = std::string(out.text());
    return c;
}

Composed wrenconf(Image &image, const RenderInput &)
{
    return buffered([&](OutputBuffer &out, LogEntries &) { compose_wrenconf(image.data(), out); });
}

Composed netconf(Image &image, const RenderInput &)
{
    NetconfAddresses addresses = convert_netconf_addresses(image.data());
    return buffered([&](OutputBuffer &out, LogEntries &) { compose_netconf(image.data(), addresses, out); });
}

Composed snmpd_conf(Image &image, const RenderInput &)
{
    return buffered([&](OutputBuffer &out, LogEntries &log) { compose_snmpd_conf(image.data(), out, log); });
}

Composed passwd(Image &image, const RenderInput &in)
{
    return buffered([&](OutputBuffer &out, LogEntries &log) {
        compose_passwd(image.data(), users_by_hash(image, in), in.kept, out, log);
    });
}

Composed group(Image &image, const RenderInput &in)
{
    // The group writer pins the administrator record before composing.
    pin_admin_record(image.data(), users_by_hash(image, in));
    return buffered([&](OutputBuffer &out, LogEntries &log) {
        compose_group(image.data(), users_by_hash(image, in), out, log);
    });
}

Composed bayconf(Image &image, const RenderInput &in)
{
    // The bay file follows the FIPS mode only, not the stored hash.
    const settings::UserLayout &layout = *choose_user_layout(image.data(), in.fips, false).layout;
    return buffered([&](OutputBuffer &out, LogEntries &log) { compose_bayconf(image.data(), layout, out, log); });
}

Composed bladesig(Image &image, const RenderInput &)
{
    return {compose_bladesig(image.data()), {}};
}

Composed mlninfo(Image &image, const RenderInput &)
{
    return {compose_mlninfo(image.data()), {}};
}

Composed ldapconf(Image &image, const RenderInput &)
{
    return buffered([&](OutputBuffer &out, LogEntries &) { compose_ldapconf(image.data(), out); });
}

Composed ldapgroup(Image &image, const RenderInput &)
{
    return buffered([&](OutputBuffer &out, LogEntries &log) { compose_ldapgroup(image.data(), out, log); });
}

Composed urb(Image &image, const RenderInput &)
{
    return buffered([&](OutputBuffer &out, LogEntries &) { compose_urb(image.data(), out); });
}

Composed fw_mgmt(Image &image, const RenderInput &)
{
    return buffered([&](OutputBuffer &out, LogEntries &) { compose_fw_mgmt(image.data(), out); });
}

Composed kat_info(Image &image, const RenderInput &)
{
    return buffered([&](OutputBuffer &out, LogEntries &) { compose_kat_info(image.data(), out); });
}

struct FileRow {
    const char *path;
    mode_t mode;
    Compose compose;
};

// Modes as the writers in writers/ create the files.
constexpr FileRow kFiles[] = {
    {"/etc/wrenconf", 0664, wrenconf},
    {"/etc/netconf", 0664, netconf},
    {"/etc/snmp/snmpd.conf", 0664, snmpd_conf},
    {"/etc/passwd", 0664, passwd},
    {"/etc/group", 0664, group},
    {"/etc/bayconf", 0664, bayconf},
    {"/etc/bladesig", 0644, bladesig},
    {"/etc/mlninfo", 0644, mlninfo},
    {"/etc/ldapconf", 0664, ldapconf},
    {"/etc/ldapgroup", 0664, ldapgroup},
    {"/etc/urb.conf", 0664, urb},
    {"/etc/firmwaremgmt.conf", 0664, fw_mgmt},
    {"/etc/KAT.info", 0664, kat_info},
};

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

std::vector<RenderedFile> render_files(const std::uint8_t *image, const RenderInput &input)
{
    std::vector<RenderedFile> files;
    for (const FileRow &row : kFiles) {
        Image copy;
        std::copy(image, image + copy.size(), copy.begin());
        Composed c = row.compose(copy, input);
        files.push_back({row.path, row.mode, std::move(c.text), std::move(c.log)});
    }
    return files;
}

KeptPasswords kept_passwords_from(const std::string &passwd_path)
{
    // Only a regular file: a FIFO would keep the render waiting (and the
    // write of the new file refuses it).
    platform::Fd fd(::open(passwd_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode))
        return kept_passwords_in(read_whole(fd.get()));
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
