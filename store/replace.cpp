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

std::optional<ReplaceFailure> write_in_place(const char *module_path, std::string_view text, mode_t mode)
{
    platform::Fd fd(platform::open(module_path, O_WRONLY | O_CREAT | O_TRUNC, mode));
    if (!fd)
        return ReplaceFailure{ReplaceStep::Create, errno};
    int err = write_all(fd.get(), text.data(), text.size());
    return err == 0 ? std::nullopt : std::optional<ReplaceFailure>(ReplaceFailure{ReplaceStep::Write, err});
}

} // namespace

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
    TempFile temp(dir, name, unique_temp);
    if (temp.error() != 0)
        return ReplaceFailure{ReplaceStep::Create, temp.error()};
    int err = temp.fill(text, keep ? old.st_mode & 07777 : less_umask(mode), keep ? &old : nullptr);
    if (err == 0)
        err = temp.rename_over(name);
    if (err == 0)
        err = sync_directory(dir);
    return err == 0 ? std::nullopt : std::optional<ReplaceFailure>(ReplaceFailure{ReplaceStep::Write, err});
}

std::optional<ReplaceFailure> replace_file(const char *module_path, std::string_view text, mode_t mode)
{
    std::optional<platform::Location> at = platform::locate(module_path);
    if (!at)
        return ReplaceFailure{ReplaceStep::Create, errno};
    struct stat old {};
    if (::fstatat(at->dir.get(), at->name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(old.st_mode))
        return write_in_place(module_path, text, mode);
    return replace_in(at->dir.get(), at->name, text, mode, false);
}
