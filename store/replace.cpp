#include "store/replace.h"

#include "store/crc32.h"
#include "store/log.h"
#include "store/write_all.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <csignal>
#include <cstdio>
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
// exactly `text`.
bool holds(int dir, const std::string &name, const struct stat &st, std::string_view text)
{
    if (!S_ISREG(st.st_mode) || st.st_size != static_cast<off_t>(text.size()))
        return false;
    platform::Fd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return fd && holds_text(fd.get(), text);
}

std::optional<ReplaceFailure> written(int err)
{
    return err == 0 ? std::nullopt : std::optional<ReplaceFailure>(ReplaceFailure{ReplaceStep::Write, err});
}

std::optional<ReplaceFailure> write_device(const char *module_path, std::string_view text, mode_t mode)
{
    platform::Fd fd(platform::open(module_path, O_WRONLY | O_CREAT | O_TRUNC, mode));
    if (!fd)
        return ReplaceFailure{ReplaceStep::Create, errno};
    return written(write_all(fd.get(), text.data(), text.size()));
}

bool no_room(int err)
{
    return err == ENOSPC || err == EDQUOT;
}

// Where a write over `name` keeps the new and the old text meanwhile.
std::string copy_name(const std::string &name)
{
    return "." + name + ".new";
}

constexpr std::size_t kPiece = 64 * 1024;

// Passes bytes [from, from + length) of the file open at `fd` to `take`,
// a piece at a time, with the piece's offset from `from`; a negative
// `length` reads to the end. 0, or the first errno of the read or of
// `take`; EIO when the file ends early.
int each_piece(int fd, off_t from, off_t length, const std::function<int(std::string_view, off_t)> &take)
{
    char piece[kPiece];  // on the stack: an unchanged boot allocates nothing for it
    for (off_t done = 0; length < 0 || done < length;) {
        std::size_t want = length < 0 ? kPiece : static_cast<std::size_t>(std::min<off_t>(kPiece, length - done));
        ssize_t n = ::pread(fd, piece, want, from + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : length < 0 ? 0 : EIO;
        if (int err = take(std::string_view(piece, static_cast<std::size_t>(n)), done))
            return err;
        done += n;
    }
    return 0;
}

// Exactly `length` bytes at `offset` into `into`: 0 or an errno.
int read_exactly(int fd, std::string &into, std::size_t length, off_t offset)
{
    into.resize(length);
    return pread_all(fd, into.data(), length, offset);
}

// The copy is the new text, the old text, then a trailer line naming both
// lengths and the CRC-32 of the texts and the lengths, as a device's write
// record has it: a copy that is not whole never passes for one.
constexpr std::size_t kTrailerSize = 64;  // "cfgpull copy " and three 16-digit hex numbers

std::uint64_t crc(std::uint64_t sum, std::string_view bytes)
{
    return crc32_update(static_cast<std::uint32_t>(sum), reinterpret_cast<const unsigned char *>(bytes.data()),
                        bytes.size());
}

std::string trailer(std::uint64_t new_size, std::uint64_t old_size, std::uint64_t texts_sum)
{
    char lengths[48], sum[18];
    std::snprintf(lengths, sizeof lengths, "cfgpull copy %016" PRIx64 " %016" PRIx64 " ", new_size, old_size);
    std::snprintf(sum, sizeof sum, "%016" PRIx64 "\n", crc(texts_sum, lengths));
    return std::string(lengths) + sum;
}

// Why a copy is dropped that is only damaged or stale, not suspect.
constexpr const char *kNotWhole = "it is not whole";
constexpr const char *kChanged = "another writer changed the file since";

struct CopyLengths {
    off_t new_size = 0, old_size = 0;
};

// Why the copy open at `copy` is not to be trusted, or null: then
// `lengths` are its texts'.
const char *copy_fault(int copy, CopyLengths &lengths)
{
    struct stat st {};
    if (::fstat(copy, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)
        return "it is not a file of its own";
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return "it is not root's";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "others may write it";
    std::string end;
    std::uint64_t new_size = 0, old_size = 0, sum = 0;
    off_t body = st.st_size - static_cast<off_t>(kTrailerSize);
    if (body < 0 || read_exactly(copy, end, kTrailerSize, body) != 0 ||
        std::sscanf(end.c_str(), "cfgpull copy %16" SCNx64 " %16" SCNx64, &new_size, &old_size) != 2 ||
        new_size > static_cast<std::uint64_t>(body) || old_size != static_cast<std::uint64_t>(body) - new_size ||
        each_piece(copy, 0, body, [&](std::string_view piece, off_t) { return sum = crc(sum, piece), 0; }) != 0 ||
        trailer(new_size, old_size, sum) != end)
        return kNotWhole;
    lengths = {static_cast<off_t>(new_size), static_cast<off_t>(old_size)};
    return nullptr;
}

// Whether the file open at `fd` is a tear of the copy's old and new texts;
// `whole_new` when it holds the new one. 0 or an errno.
int tear_of(int fd, int copy, const CopyLengths &c, bool &torn, bool &whole_new)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return errno;
    torn = tear_length(st.st_size, c.old_size, c.new_size);
    whole_new = torn && st.st_size == c.new_size;
    std::string old_piece, new_piece;
    int err = each_piece(fd, 0, torn ? st.st_size : 0, [&](std::string_view piece, off_t at) {
        auto left = [&](off_t size) { return static_cast<std::size_t>(std::clamp<off_t>(size - at, 0, kPiece)); };
        int read = read_exactly(copy, new_piece, std::min(piece.size(), left(c.new_size)), at);
        if (read == 0)
            read = read_exactly(copy, old_piece, std::min(piece.size(), left(c.old_size)), c.new_size + at);
        torn = torn && torn_piece(piece, old_piece, new_piece);
        whole_new = whole_new && piece == new_piece;
        return read != 0 ? read : torn ? 0 : -1;  // -1: no need to read on
    });
    return err > 0 ? err : 0;
}

// Writes the copy's new text over the file open at `fd`, cut and synced.
int finish(int fd, int copy, const CopyLengths &c)
{
    int err = each_piece(copy, 0, c.new_size, [&](std::string_view piece, off_t at) {
        return pwrite_all(fd, piece.data(), piece.size(), at);
    });
    return err != 0 ? err : ::ftruncate(fd, c.new_size) != 0 || ::fsync(fd) != 0 ? errno : 0;
}

// Makes the copy durable beside `name`: `text`, the content of the file
// open at `fd`, the trailer; under a temporary name, synced, renamed, its
// folder synced. 0 or an errno.
int write_copy(int dir, const std::string &name, int fd, std::string_view text)
{
    TempFile temp(dir, name + ".new", false);
    std::uint64_t sum = crc(0, text), old_size = 0;
    int err = temp.error();
    if (err == 0)
        err = temp.append(text);
    if (err == 0)
        err = each_piece(fd, 0, -1, [&](std::string_view piece, off_t) {
            sum = crc(sum, piece);
            old_size += piece.size();
            return temp.append(piece);
        });
    if (err == 0)
        err = temp.append(trailer(text.size(), old_size, sum));
    if (err == 0)
        err = temp.seal(0600, nullptr);
    if (err == 0)
        err = temp.rename_over(copy_name(name));
    return err == 0 ? sync_directory(dir) : err;
}

// The old text's first bytes (`prefix`, as many as the new text covers)
// and length back in the file: 0 or an errno.
int put_back(int fd, std::string_view prefix, off_t old_size, bool grown)
{
    int err = pwrite_all(fd, prefix.data(), prefix.size(), 0);
    if (err == 0 && ((grown && ::ftruncate(fd, old_size) != 0) || ::fsync(fd) != 0))
        err = errno;
    return err;
}

// Writes `text` over the regular file open at `fd`, on its own inode: from
// its start, cut to the text's length, synced. A longer text's space is
// reserved first. `old_size` is the file's length and `prefix` its first
// bytes, as many as the text covers: what a failed write or cut puts back.
// 0 or an errno; `restored` tells whether the file then holds its old text
// (not when the sync failed: the file then holds the new text, which may
// not all be on the disk).
int overwrite(int fd, std::string_view text, std::string_view prefix, off_t old_size, bool &restored)
{
    restored = true;
    off_t size = static_cast<off_t>(text.size());
    // With the blocks held, the disk cannot fill in the middle of the write.
    if (size > old_size && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS)
        return errno;
    int err = pwrite_all(fd, text.data(), text.size(), 0);
    if (err == 0 && size < old_size && ::ftruncate(fd, size) != 0)
        err = errno;
    if (err != 0) {  // the old text's tail is still the file's
        restored = put_back(fd, prefix, old_size, size > old_size) == 0;
        return err;
    }
    restored = ::fsync(fd) == 0;
    return restored ? 0 : errno;
}

// The first bytes of the file open at `fd`, as many as `text` covers, and
// its length: what overwrite may put back. 0 or an errno.
int covered(int fd, std::string_view text, std::string &prefix, off_t &size)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return errno;
    size = st.st_size;
    return read_exactly(fd, prefix, std::min<std::size_t>(text.size(), static_cast<std::size_t>(size)), 0);
}

// The regular file `name` in `dir` written in place, where a rename cannot
// replace it.
int overwrite_named(int dir, const std::string &name, std::string_view text)
{
    platform::Fd fd(::openat(dir, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    std::string prefix;
    off_t size = 0;
    bool restored = false;
    int err = covered(fd.get(), text, prefix, size);
    return err != 0 ? err : overwrite(fd.get(), text, prefix, size, restored);
}

} // namespace

void read_pieces(int fd, const std::function<void(std::string_view)> &take)
{
    each_piece(fd, 0, -1, [&](std::string_view piece, off_t) { return take(piece), 0; });
}

bool holds_text(int fd, std::string_view text)
{
    std::string now(text.size() + 1, '\0');  // one read: a longer file is not equal
    return ::pread(fd, now.data(), now.size(), 0) == static_cast<ssize_t>(text.size()) &&
           now.compare(0, text.size(), text) == 0;
}

bool tear_length(off_t size, off_t old_size, off_t new_size)
{
    return size == new_size || (old_size <= size && size <= std::max(old_size, new_size));
}

bool torn_piece(std::string_view file, std::string_view old_text, std::string_view new_text)
{
    for (std::size_t i = 0; i < file.size(); ++i)
        if ((i >= old_text.size() || file[i] != old_text[i]) && (i >= new_text.size() || file[i] != new_text[i]))
            return false;
    return true;
}

int write_in_place(int dir, const std::string &name, int fd, std::string_view text, const char *path)
{
    std::string prefix, copy = copy_name(name);
    off_t old_size = 0;
    int err = covered(fd, text, prefix, old_size);
    if (err == 0)
        err = write_copy(dir, name, fd, text);
    if (no_room(err))  // the write over the file needs no more room than it has
        log_event(LOG_ERR, "%s written in place without its copy %s: %s", path, copy.c_str(), std::strerror(err));
    else if (err != 0)
        return err;  // the file untouched
    bool copied = err == 0, restored = false;
    err = overwrite(fd, text, prefix, old_size, restored);
    if (copied && (err == 0 || restored))
        ::unlinkat(dir, copy.c_str(), 0);
    return err;
}

int settle_copy(int dir, const std::string &name, int fd, const char *path)
{
    ::unlinkat(dir, TempFile::leftover_name(name + ".new").c_str(), 0);  // a copy cut while it was written
    std::string copy = copy_name(name);
    platform::Fd c(::openat(dir, copy.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!c && errno == ENOENT)
        return 0;
    CopyLengths lengths;
    bool torn = false, whole_new = false;
    const char *why = c ? copy_fault(c.get(), lengths) : "it cannot be opened";
    if (why == nullptr) {
        if (int err = tear_of(fd, c.get(), lengths, torn, whole_new))
            return err;
        why = torn ? nullptr : kChanged;
    }
    if (why != nullptr) {
        log_event(why == kNotWhole || why == kChanged ? LOG_NOTICE : LOG_ERR, "%s: its copy %s dropped: %s", path,
                  copy.c_str(), why);
    } else {
        if (int err = whole_new ? 0 : finish(fd, c.get(), lengths))
            return err;
        log_event(LOG_NOTICE, "%s: a cut run's write finished from its copy %s", path, copy.c_str());
    }
    ::unlinkat(dir, copy.c_str(), 0);
    return 0;
}

int sync_directory(int dir)
{
    platform::Fd d(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return d ? sync_open_directory(d.get()) : errno;
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

TempFile::TempFile(int dir, const std::string &name, bool unique) : dir_(dir)
{
    SignalsHeld held;
    for (unsigned n = 0; n < 100; ++n) {
        name_ = unique ? "." + name + "." + std::to_string(::getpid()) + "." + std::to_string(n) : leftover_name(name);
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
    discard();
}

int TempFile::fill(std::string_view data, mode_t mode, const struct stat *owner)
{
    int err = append(data);
    return err != 0 ? err : seal(mode, owner);
}

int TempFile::append(std::string_view data)
{
    return write_all(fd_.get(), data.data(), data.size());
}

int TempFile::seal(mode_t mode, const struct stat *owner)
{
    int err = 0;
    struct stat own {};
    if (::fchmod(fd_.get(), mode) != 0)
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

void TempFile::discard()
{
    if (!present_)
        return;
    SignalsHeld held;
    fd_.reset();
    ::unlinkat(dir_, name_.c_str(), 0);
    temp_dir = -1;
    present_ = false;
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
    if (holds(dir, name, old, text)) {  // nothing to wear the flash for
        if (!unique_temp)  // but what a killed run left goes
            ::unlinkat(dir, TempFile::leftover_name(name).c_str(), 0);
        return std::nullopt;
    }
    bool keep = S_ISREG(old.st_mode);  // a dangling link is replaced like a missing file
    if (keep && old.st_nlink > 1)  // a rename would part it from its other names
        return written(overwrite_named(dir, name, text));
    TempFile temp(dir, name, unique_temp);
    int err = temp.error();
    if (err != 0 && !(keep && no_room(err)))
        return ReplaceFailure{ReplaceStep::Create, err};
    if (err == 0)
        err = temp.fill(text, keep ? old.st_mode & 07777 : less_umask(mode), keep ? &old : nullptr);
    if (err == 0 && (err = temp.rename_over(name)) == 0) {
        err = defer_sync(dir);
    } else if (keep && (err == EBUSY || err == EXDEV || no_room(err))) {
        temp.discard();  // a mount point, another file system's file, or no room for a second text
        err = overwrite_named(dir, name, text);
    }
    return written(err);
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
