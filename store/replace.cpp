#include "store/replace.h"

#include "store/write_all.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

namespace {

// What a signal handler needs to remove the temporary file: plain data.
volatile sig_atomic_t temp_dir = -1;
char temp_name[NAME_MAX + 1];

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[3];

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

void install_cleanup()
{
    struct sigaction action {};
    action.sa_handler = remove_temp_and_die;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
        sigaction(kCleanupSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler == SIG_DFL)  // an ignored signal stays ignored
            sigaction(kCleanupSignals[i], &action, nullptr);
    }
}

void remove_cleanup()
{
    for (int i = 0; i < 3; ++i)
        if (previous[i].sa_handler == SIG_DFL)
            sigaction(kCleanupSignals[i], &previous[i], nullptr);
    temp_dir = -1;
}

mode_t less_umask(mode_t mode)
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mode & ~mask;
}

int sync_directory(int dir)
{
    platform::Fd d(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!d)
        return errno;
    // Some file systems cannot sync a directory; their rename is as durable as it gets.
    return ::fsync(d.get()) != 0 && errno != EINVAL ? errno : 0;
}

std::optional<ReplaceFailure> write_device(const char *module_path, std::string_view text, mode_t mode)
{
    platform::Fd fd(platform::open(module_path, O_WRONLY | O_CREAT | O_TRUNC, mode));
    if (!fd)
        return ReplaceFailure{ReplaceStep::Create, errno};
    int err = write_all(fd.get(), text.data(), text.size());
    return err == 0 ? std::nullopt : std::optional<ReplaceFailure>(ReplaceFailure{ReplaceStep::Write, err});
}

int write_from_start(int fd, std::string_view text)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return errno;
    int err = write_all(fd, text.data(), text.size());
    return err == 0 && ::ftruncate(fd, static_cast<off_t>(text.size())) != 0 ? errno : err;
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
    return overwrite(fd.get(), text, read_whole(fd.get()));
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

int overwrite(int fd, std::string_view text, std::string_view old_text)
{
    // With the blocks held, the disk cannot fill in the middle of the write.
    if (text.size() > old_text.size() &&
        ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(text.size())) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS)
        return errno;
    int err = write_from_start(fd, text);
    if (err != 0) {
        write_from_start(fd, old_text);  // fits: the old text's blocks are still the file's
        return err;
    }
    return ::fsync(fd) != 0 ? errno : 0;
}

int write_in_place(int dir, const std::string &name, int fd, std::string_view text, std::string_view old_text)
{
    std::string copy = "." + name + ".new";
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
    err = overwrite(fd, text, old_text);
    ::unlinkat(dir, copy.c_str(), 0);  // the file holds the new text, or the old one put back
    return err;
}

std::optional<std::string> unfinished_text(int dir, const std::string &name)
{
    std::string copy = "." + name + ".new";
    platform::Fd fd(::openat(dir, copy.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
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
    install_cleanup();
    present_ = true;
}

TempFile::~TempFile()
{
    if (!present_)
        return;
    SignalsHeld held;
    ::unlinkat(dir_, name_.c_str(), 0);
    remove_cleanup();
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
    remove_cleanup();
    present_ = false;
    return 0;
}

std::optional<ReplaceFailure> replace_in(int dir, const std::string &name, std::string_view text, mode_t mode,
                                         bool unique_temp)
{
    struct stat old {};
    if (::fstatat(dir, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT)
        return ReplaceFailure{ReplaceStep::Create, errno};
    bool keep = S_ISREG(old.st_mode);  // a dangling link is replaced like a missing file
    bool linked = keep && old.st_nlink > 1;  // a rename would part it from its other names
    TempFile temp(dir, name, unique_temp);
    if (temp.error() != 0)
        return ReplaceFailure{ReplaceStep::Create, temp.error()};
    int err = temp.fill(text, keep ? old.st_mode & 07777 : less_umask(mode), keep ? &old : nullptr);
    if (err == 0 && !linked && (err = temp.rename_over(name)) == 0)
        err = sync_directory(dir);
    else if (err == 0 || err == EBUSY || err == EXDEV)  // a mount point, or another file system's file
        err = overwrite_named(dir, name, text);
    return err == 0 ? std::nullopt : std::optional<ReplaceFailure>(ReplaceFailure{ReplaceStep::Write, err});
}

std::optional<ReplaceFailure> replace_file(const char *module_path, std::string_view text, mode_t mode)
{
    std::optional<platform::Location> at = platform::locate(module_path);
    if (!at)
        return ReplaceFailure{ReplaceStep::Create, errno};
    struct stat old {};
    if (::fstatat(at->dir.get(), at->name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(old.st_mode))
        return write_device(module_path, text, mode);
    return replace_in(at->dir.get(), at->name, text, mode, false);
}
