// The settings lock: an exclusive flock on /ramdisk/.env_lock held for a
// whole run, shared with cfgpush. A null slot means the process-wide one.
#pragma once

#include <optional>
#include <string>

extern int env_lock_fd;

int env_lock_acquire(int *slot);
// The same, but a failure returns its message instead of printing it and
// ending the run: for cfgimage, which edits the module's device under it.
std::optional<std::string> env_lock_take(int *slot);
int env_lock_release(int *slot);
