// Files replaced whole or not at all: the new text goes to a temporary file
// beside the old one, reaches the disk, and is renamed over it, so a crash
// or a failed write at any point leaves the old file as it was.
// Where a rename cannot work (a file mounted over the name, one with other
// hard links) the file is written in place, its old bytes put back if that
// fails; where it must not (passwd, which other programs lock and rewrite on
// its own inode), in place after a durable copy of its old and new texts.
#pragma once

#include "platform/platform.h"

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// A temporary file in a directory, removed again unless it was renamed over
// its target, and removed too when SIGINT, SIGTERM or SIGHUP ends the
// process while it exists. One at a time per process.
class TempFile {
public:
    // ".NAME.PID.N" when `unique`; otherwise ".NAME.tmp" (leftover_name),
    // for callers that hold the settings lock: a leftover of a killed run is
    // replaced, not added to.
    TempFile(int dir, const std::string &name, bool unique);
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    static std::string leftover_name(const std::string &name) { return "." + name + ".tmp"; }

    int error() const { return error_; }  // of the creation; 0 when it exists

    // Writes `data` whole, gives the file `mode` (and the owner of `owner`
    // when given), flushes it to the disk and closes it: 0 or an errno.
    int fill(std::string_view data, mode_t mode, const struct stat *owner);
    // fill in steps: any number of appends, then seal.
    int append(std::string_view data);
    int seal(mode_t mode, const struct stat *owner);
    // Renames the file over `name` in the same directory: 0 or an errno.
    int rename_over(const std::string &name);
    // Removes the file now (its room is wanted).
    void discard();

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

// Passes the content of an open file to `take` from its start, a piece at a
// time (pread: the offset stays where it was); what cannot be read ends it.
// A file of any size costs one piece of memory.
void read_pieces(int fd, const std::function<void(std::string_view)> &take);

// Whether the regular file open at `fd` holds exactly `text`.
bool holds_text(int fd, std::string_view text);

// For a file that other writers lock and rewrite in place (/etc/passwd),
// `path` naming it in log lines. write_in_place writes `text` over `name`
// in `dir`, open at `fd`, keeping its inode: from its start, synced, cut to
// length, synced, a longer text's space reserved first. Beforehand, the
// copy ".NAME.new" is made durable beside it, holding the new text and the
// file's old one (streamed, never held whole); it stays only if the write
// over the file is cut, or fails without the old text put back. Without
// room for the copy (ENOSPC, EDQUOT) the file is written in place all the
// same, logged. 0 or an errno.
int write_in_place(int dir, const std::string &name, int fd, std::string_view text, const char *path);
// Run under the file's lock before it is read: takes up what a cut run left
// beside it. A copy that the file is a tear of (each byte its old or its new
// text's, at a length the write could leave) finishes that write; any other
// (not root's or writable by others, not whole, or the file changed by
// another writer since) is dropped. Both are logged. 0, or the errno of a
// failed finish (the copy then stays).
int settle_copy(int dir, const std::string &name, int fd, const char *path);

// The pure part of settle_copy's test, for one piece of the file at the
// same offset in each text (a text that ends before the piece is shorter).
bool tear_length(off_t size, off_t old_size, off_t new_size);
bool torn_piece(std::string_view file, std::string_view old_text, std::string_view new_text);

// Replaces regular file `name` in directory `dir` by `text` (or creates it
// with `mode` less the umask), keeping an old file's mode and owner. A file
// that cannot be renamed over (EBUSY, EXDEV) or has other hard links, or
// whose temporary file finds no room (ENOSPC, EDQUOT), is written in place
// instead, its old text put back if that fails too. A file that holds
// `text` already is left as it is: no write, no rename, the same inode and
// time; only a leftover ".NAME.tmp" of a killed run goes. The directory of
// a rename is synced by sync_changed_directories.
std::optional<ReplaceFailure> replace_in(int dir, const std::string &name, std::string_view text, mode_t mode,
                                         bool unique_temp);

// Syncs the directory `dir` (any descriptor of it, O_PATH included), so
// that its names reach the disk: 0 or an errno.
int sync_directory(int dir);

// Syncs each directory a rename changed since the last call, once: a run
// calls it before it reports success. 0 or the first errno.
int sync_changed_directories();

// The same for a module path, resolved inside the module's root: a link is
// left in place and the file it leads to is replaced. A device is written in
// place as before; a directory, FIFO or socket is refused.
std::optional<ReplaceFailure> replace_file(const char *module_path, std::string_view text, mode_t mode);
