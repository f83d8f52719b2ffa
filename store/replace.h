// Files replaced whole or not at all: the new text goes to a temporary file
// beside the old one, reaches the disk, and is renamed over it, so a crash,
// a full disk or a failed write at any point leaves the old file as it was.
// Where a rename cannot work (a file mounted over the name, one with other
// hard links) or must not (a file other programs lock and rewrite on its own
// inode), the file is written in place after the same copy.
#pragma once

#include "platform/platform.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

// A temporary file in a directory, removed again unless it was renamed over
// its target, and removed too when SIGINT, SIGTERM or SIGHUP ends the
// process while it exists. One at a time per process.
class TempFile {
public:
    // ".NAME.PID.N" when `unique`; otherwise ".NAME.tmp", for callers that
    // hold the settings lock: a leftover of a killed run is replaced, not
    // added to.
    TempFile(int dir, const std::string &name, bool unique);
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    int error() const { return error_; }  // of the creation; 0 when it exists

    // Writes `data` whole, gives the file `mode` (and the owner of `owner`
    // when given), flushes it to the disk and closes it: 0 or an errno.
    int fill(std::string_view data, mode_t mode, const struct stat *owner);
    // Renames the file over `name` in the same directory: 0 or an errno.
    int rename_over(const std::string &name);

private:
    int dir_;
    std::string name_;
    platform::Fd fd_;
    int error_ = 0;
    bool present_ = false;
};

enum class ReplaceStep { Create, Write };
struct ReplaceFailure {
    ReplaceStep step;  // Create: no new file could be started
    int error;
};

// The whole content of an open file, read from its start with pread (the
// offset stays where it was); what cannot be read ends it.
std::string read_whole(int fd);

// For a file that other writers lock and rewrite in place (/etc/passwd):
// writes `text` over `name` in `dir`, open at `fd`, keeping its inode: from
// its start, cut to length, synced, a longer text's space reserved first.
// The whole text is made durable beside it first as ".NAME.new", which
// stays only if the run is cut inside the write over the file (or a failure
// there cannot put `old_text` back), so the next run knows what that run
// meant to write (unfinished_text): that text, not the cut file, is then
// the `old_text` a failure puts back. 0 or an errno.
int write_in_place(int dir, const std::string &name, int fd, std::string_view text, std::string_view old_text);
std::optional<std::string> unfinished_text(int dir, const std::string &name);

// Replaces regular file `name` in directory `dir` by `text` (or creates it
// with `mode` less the umask), keeping an old file's mode and owner. A file
// that cannot be renamed over (EBUSY, EXDEV) or has other hard links is
// written in place instead. A file that holds `text` already is left as it
// is: no write, no rename, the same inode and time. The directory of a
// rename is synced by sync_changed_directories.
std::optional<ReplaceFailure> replace_in(int dir, const std::string &name, std::string_view text, mode_t mode,
                                         bool unique_temp);

// Syncs each directory a rename changed since the last call, once: a run
// calls it before it reports success. 0 or the first errno.
int sync_changed_directories();

// The same for a module path, resolved inside the module's root: a link is
// left in place and the file it leads to is replaced. A device is written in
// place as before; a directory, FIFO or socket is refused.
std::optional<ReplaceFailure> replace_file(const char *module_path, std::string_view text, mode_t mode);
