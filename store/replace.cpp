#include "store/replace.h"

#include "store/write_all.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <vector>

namespace {

// What a signal handler needs to remove the temporary file: plain data.
volatile sig_atomic_t temp_dir = -1;
char temp_name[NAME_MAX + 1];

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Directories whose renames have not been synced yet, each once.
std::vector<platform::Fd> unsynced;

extern "C" void remove_temp_and_die(int sig)
{
    if (temp_dir >= 0)
        ::unlinkat(temp_dir, temp_name, 0);
    ::raise(sig);  // the action is back to the default (SA_RESETHAND): dies on return
}

// Blocks the cleanup signals while the handler's data changes.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : kCleanupSignals)
            sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

// Once a run: the handler does nothing but die while no temporary file
// exists.
void install_cleanup()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    struct sigaction action {}, previous {};
    action.sa_handler = remove_temp_and_die;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int sig : kCleanupSignals)
        if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL)  // ignored stays ignored
            sigaction(sig, &action, nullptr);
}

mode_t less_umask(mode_t mode)
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mode & ~mask;
}

// Some file systems cannot sync a directory; their rename is as durable as it gets.
int sync_open_directory(int fd)
{
    return ::fsync(fd) != 0 && errno != EINVAL ? errno : 0;
}

int sync_directory(int dir)
{
    platform::Fd d(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return d ? sync_open_directory(d.get()) : errno;
}

// Keeps `dir` for sync_changed_directories, once.
int defer_sync(int dir)
{
    platform::Fd d(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {}, seen {};
    if (!d || ::fstat(d.get(), &st) != 0)
        return errno;
    for (const platform::Fd &u : unsynced)
        if (::fstat(u.get(), &seen) == 0 && seen.st_dev == st.st_dev && seen.st_ino == st.st_ino)
            return 0;
    unsynced.push_back(std::move(d));
    return 0;
}

// Whether the regular file `name`, of size st.st_size, already holds
// exactly `text` (one read: a file that grew since is not equal).
bool holds(int dir, const std::string &name, const struct stat &st, std::string_view text)
{
    if (!S_ISREG(st.st_mode) || st.st_size != static_cast<off_t>(text.size()))
        return false;
    platform::Fd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    std::string now(text.size() + 1, '\0');
    return fd && ::pread(fd.get(), now.data(), now.size(), 0) == static_cast<ssize_t>(text.size()) &&
           std::string_view(now).substr(0, text.size()) == text;
}

std::optional<ReplaceFailure> write_device(const char *module_path, std::string_view text, mode_t mode)
{
    platform::Fd fd(platform::open(module_path, O_WRONLY | O_CREAT | O_TRUNC, mode));
    if (!fd)
        return ReplaceFailure{ReplaceStep::Create, errno};
    int err = write_all(fd.get(), text.data(), text.size());
    return err == 0 ? std::nullopt : std::optional<ReplaceFailure>(ReplaceFailure{ReplaceStep::Write, err});
}

// Where a write over `name` keeps the whole new text meanwhile.
std::string copy_name(const std::string &name)
{
    return "." + name + ".new";
}

int write_from_start(int fd, std::string_view text)
{
    int err = pwrite_all(fd, text.data(), text.size(), 0);
    return err == 0 && ::ftruncate(fd, static_cast<off_t>(text.size())) != 0 ? errno : err;
}

// Writes `text` over the regular file open at `fd`, on its own inode: from
// its start, cut to the text's length, synced. A longer text's space is
// reserved first; where the file system cannot reserve and the write fails
// midway, `old_text` (what the file held) is put back. 0 or an errno;
// `torn` when even that failed.
int overwrite(int fd, std::string_view text, std::string_view old_text, bool &torn)
{
    torn = false;
    // With the blocks held, the disk cannot fill in the middle of the write.
    if (text.size() > old_text.size() &&
        ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(text.size())) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS)
        return errno;
    int err = write_from_start(fd, text);
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (err != 0)  // fits: the old text's blocks are still the file's
        torn = write_from_start(fd, old_text) != 0;
    return err;
}

// The regular file `name` in `dir` written in place, where a rename cannot
// replace it; the caller's synced copy of the text is beside it meanwhile.
int overwrite_named(int dir, const std::string &name, std::string_view text)
{
    platform::Fd fd(::openat(dir, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    bool torn = false;
    return overwrite(fd.get(), text, read_whole(fd.get()), torn);
}

} // namespace

std::string read_whole(int fd)
{
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(text.size()))) > 0)
        text.append(chunk, static_cast<std::size_t>(n));
    return text;
}

int write_in_place(int dir, const std::string &name, int fd, std::string_view text, std::string_view old_text)
{
    std::string copy = copy_name(name);
    TempFile temp(dir, name + ".new", false);
    if (temp.error() != 0)
        return temp.error();
    int err = temp.fill(text, 0600, nullptr);
    if (err == 0)
        err = temp.rename_over(copy);
    if (err == 0)
        err = sync_directory(dir);
    if (err != 0)
        return err;  // the file untouched; a cut run's copy, if any, still beside it
    bool torn = false;
    err = overwrite(fd, text, old_text, torn);
    if (!torn)  // the file holds the new text, or the old one put back
        ::unlinkat(dir, copy.c_str(), 0);
    return err;
}

int sync_changed_directories()
{
    int first = 0;
    for (const platform::Fd &d : unsynced)
        if (int err = sync_open_directory(d.get()); err != 0 && first == 0)
            first = err;
    unsynced.clear();
    return first;
}

std::optional<std::string> unfinished_text(int dir, const std::string &name)
{
    platform::Fd fd(::openat(dir, copy_name(name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return read_whole(fd.get());
}

TempFile::TempFile(int dir, const std::string &name, bool unique) : dir_(dir)
{
    SignalsHeld held;
    for (unsigned n = 0; n < 100; ++n) {
        name_ = "." + name + (unique ? "." + std::to_string(::getpid()) + "." + std::to_string(n) : ".tmp");
        if (name_.size() > NAME_MAX) {
            error_ = ENAMETOOLONG;
            return;
        }
        if (!unique)
            ::unlinkat(dir_, name_.c_str(), 0);
        fd_.reset(::openat(dir_, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd_ || errno != EEXIST)
            break;
    }
    if (!fd_) {
        error_ = errno;
        return;
    }
    std::memcpy(temp_name, name_.c_str(), name_.size() + 1);
    temp_dir = dir_;
    present_ = true;
    install_cleanup();
}

TempFile::~TempFile()
{
    if (!present_)
        return;
    SignalsHeld held;
    ::unlinkat(dir_, name_.c_str(), 0);
    temp_dir = -1;
}

int TempFile::fill(std::string_view data, mode_t mode, const struct stat *owner)
{
    int err = write_all(fd_.get(), data.data(), data.size());
    struct stat own {};
    if (err == 0 && ::fchmod(fd_.get(), mode) != 0)
        err = errno;
    if (err == 0 && owner != nullptr && ::fstat(fd_.get(), &own) == 0 &&
        (own.st_uid != owner->st_uid || own.st_gid != owner->st_gid) &&
        ::fchown(fd_.get(), owner->st_uid, owner->st_gid) != 0)
        err = errno;
    if (err == 0 && ::fsync(fd_.get()) != 0)
        err = errno;
    if (::close(fd_.release()) != 0 && err == 0)
        err = errno;
    return err;
}

int TempFile::rename_over(const std::string &name)
{
    SignalsHeld held;
    if (::renameat(dir_, name_.c_str(), dir_, name.c_str()) != 0)
        return errno;
    temp_dir = -1;
    present_ = false;
    return 0;
}

namespace {

// The lstat of `name` in `dir`, zeroed when there is none: 0 or an errno.
int lstat_or_none(int dir, const std::string &name, struct stat &st)
{
    st = {};
    return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT ? errno : 0;
}

// replace_in for a file whose lstat is `old` (zeroed: there is none).
std::optional<ReplaceFailure> replace_known(int dir, const std::string &name, const struct stat &old,
                                            std::string_view text, mode_t mode, bool unique_temp)
{
    if (holds(dir, name, old, text))  // nothing to wear the flash for
        return std::nullopt;
    bool keep = S_ISREG(old.st_mode);  // a dangling link is replaced like a missing file
    bool linked = keep && old.st_nlink > 1;  // a rename would part it from its other names
    TempFile temp(dir, name, unique_temp);
    if (temp.error() != 0)
        return ReplaceFailure{ReplaceStep::Create, temp.error()};
    int err = temp.fill(text, keep ? old.st_mode & 07777 : less_umask(mode), keep ? &old : nullptr);
    if (err == 0 && !linked && (err = temp.rename_over(name)) == 0)
        err = defer_sync(dir);
    else if (err == 0 || err == EBUSY || err == EXDEV)  // a mount point, or another file system's file
        err = overwrite_named(dir, name, text);
    return err == 0 ? std::nullopt : std::optional<ReplaceFailure>(ReplaceFailure{ReplaceStep::Write, err});
}

} // namespace

std::optional<ReplaceFailure> replace_in(int dir, const std::string &name, std::string_view text, mode_t mode,
                                         bool unique_temp)
{
    struct stat old {};
    if (int err = lstat_or_none(dir, name, old))
        return ReplaceFailure{ReplaceStep::Create, err};
    return replace_known(dir, name, old, text, mode, unique_temp);
}

std::optional<ReplaceFailure> replace_file(const char *module_path, std::string_view text, mode_t mode)
{
    std::optional<platform::Location> at = platform::locate(module_path);
    if (!at)
        return ReplaceFailure{ReplaceStep::Create, errno};
    struct stat old {};
    if (int err = lstat_or_none(at->dir, at->name, old))
        return ReplaceFailure{ReplaceStep::Create, err};
    if (old.st_mode != 0 && !S_ISREG(old.st_mode))
        return write_device(module_path, text, mode);
    return replace_known(at->dir, at->name, old, text, mode, false);
}
